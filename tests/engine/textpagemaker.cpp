// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a bitonal TIFF page of known text, for the text layer's reproductions by hand and its
// shell tests: textpagemaker OUT.tif WIDTH HEIGHT LINES WORDS_PER_LINE [TURN [PIXELS]]
// TURN (0, 90, 180, 270) turns the pixels clockwise, with no Orientation tag; PIXELS is the
// font's size (42, about 10 points at 300 dpi).
#include "tests/engine/textpage.h"

#include <QGuiApplication>
#include <QTransform>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6) {
        std::fprintf(stderr,
                     "usage: textpagemaker OUT.tif WIDTH HEIGHT LINES WORDS [TURN [PIXELS]]\n");
        return 2;
    }
    vormelle::test::TextPageLayout layout;
    layout.width = args[2].toInt();
    layout.height = args[3].toInt();
    layout.lines = vormelle::test::knownLines(7, args[4].toInt(), args[5].toInt());
    if (args.size() > 7)
        layout.pixelSize = args[7].toInt();
    vormelle::test::TextPage page = vormelle::test::paintTextPage(layout);
    if (args.size() > 6 && args[6].toInt() != 0)
        page.image = page.image.transformed(QTransform().rotate(args[6].toInt()));
    vormelle::test::writeTextTiff(args[1], {page}, true);
    return 0;
}
