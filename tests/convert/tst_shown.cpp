// SPDX-License-Identifier: GPL-3.0-or-later
// Pages as the file holds them and as a viewer shows them, through the real program.
#include "tests/engine/djvudecode.h"
#include "tests/engine/layoutmaker.h"
#include "tests/engine/textpage.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <tiffio.h>

using namespace vormelle;
using test::bitonal;
using test::layout;
using test::Picture;
using test::planes;
using test::SampleLayout;
using test::tiles;
using test::turned;

Q_DECLARE_METATYPE(vormelle::test::SampleLayout)

class ShownPagesTest : public QObject {
    Q_OBJECT
private slots:
    void throughTheProgram_data();
    void throughTheProgram();
    void textOfATurnedPage();
};

void ShownPagesTest::throughTheProgram_data() {
    QTest::addColumn<SampleLayout>("written");
    QTest::addColumn<int>("picture");
    const int grey = int(Picture::GreyQuarters);
    const int colour = int(Picture::ColourQuarters);
    const int noise = int(Picture::Noise);
    const uint16_t unassoc = EXTRASAMPLE_UNASSALPHA;
    QTest::newRow("grey 16, alpha") << layout(PHOTOMETRIC_MINISBLACK, 16, 2, {unassoc}) << grey;
    QTest::newRow("CMYK, alpha") << layout(PHOTOMETRIC_SEPARATED, 8, 5, {unassoc}) << colour;
    QTest::newRow("palette, alpha") << layout(PHOTOMETRIC_PALETTE, 8, 2, {unassoc}) << colour;
    QTest::newRow("grey, alpha, planes")
        << planes(layout(PHOTOMETRIC_MINISBLACK, 8, 2, {unassoc})) << grey;
    QTest::newRow("RGB, padding") << layout(PHOTOMETRIC_RGB, 8, 4) << colour;
    SampleLayout narrow = tiles(bitonal(COMPRESSION_ADOBE_DEFLATE), QSize(16, 16));
    narrow.declaredTileWidth = 12;
    QTest::newRow("1 bit, tiles 12 wide") << narrow << noise;
    QTest::newRow("1 bit, orientation 6") << turned(bitonal(COMPRESSION_CCITTFAX4), 6) << noise;
    QTest::newRow("RGB, orientation 3") << turned(layout(PHOTOMETRIC_RGB, 8, 3), 3) << colour;
    QTest::newRow("grey, orientation 8") << turned(layout(PHOTOMETRIC_MINISBLACK, 8, 1), 8) << grey;
}

// `vormelle --convert --encoder direct` writes the picture the file holds (as one picture layer,
// so that what is compared is what the reader delivers).
void ShownPagesTest::throughTheProgram() {
    QFETCH(SampleLayout, written);
    QFETCH(int, picture);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("scan.tif"));
    const QImage stored = test::layoutPicture(Picture(picture), written, QSize(192, 128));
    test::writeLayout(tiff, written, stored);
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    QProcess vormelle;
    vormelle.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                   {QStringLiteral("--convert"), QStringLiteral("--encoder"),
                    QStringLiteral("direct"), QStringLiteral("--colour-pages"),
                    QStringLiteral("layer"), QStringLiteral("--output"), out, tiff});
    QVERIFY(vormelle.waitForFinished(120000));
    QVERIFY2(vormelle.exitCode() == 0, vormelle.readAllStandardError().constData());
    const QList<test::DjvuPage> pages = test::decodeDjvu(out + QStringLiteral("/scan.djvu"));
    QCOMPARE(pages.size(), 1);
    const QString difference =
        test::comparePages(pages[0].image, test::shownOverWhite(stored, written.orientation),
                           Picture(picture) == Picture::Noise);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// `vormelle --convert --encoder pdf --ocr=eng` reads a page turned by its tag the way it is
// shown.
void ShownPagesTest::textOfATurnedPage() {
    test::TestEnv env;
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    test::TextPageLayout text;
    text.lines = {QStringLiteral("remember the mountain river"),
                  QStringLiteral("listen to the ocean")};
    const QString tiff = env.path(QStringLiteral("turned.tif"));
    test::writeTurnedBitonal(tiff, test::paintTextPage(text).image, 6, 300);
    QProcess vormelle;
    vormelle.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                   {QStringLiteral("--convert"), QStringLiteral("--ocr=eng"),
                    QStringLiteral("--encoder"), QStringLiteral("pdf"), QStringLiteral("--output"),
                    out, tiff});
    QVERIFY(vormelle.waitForFinished(120000));
    QCOMPARE(vormelle.exitCode(), 0);
    QProcess djvutxt;
    djvutxt.start(QStringLiteral("djvutxt"), {out + QStringLiteral("/turned.djvu")});
    QVERIFY(djvutxt.waitForFinished(60000));
    const QString found = QString::fromUtf8(djvutxt.readAllStandardOutput());
    QVERIFY2(found.contains(QStringLiteral("mountain river")) &&
                 found.contains(QStringLiteral("ocean")),
             qPrintable(found));
}

QTEST_MAIN(ShownPagesTest)
#include "tst_shown.moc"
