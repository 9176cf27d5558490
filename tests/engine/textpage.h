// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vormelle::test {

// Pages of known text, painted by Qt with the machine's fonts, for the text layer's tests and
// benchmark.

struct InkWord {
    QString text;
    QRect ink; // the word's black pixels, origin at the top left
};

struct TextPage {
    QImage image;         // Grayscale8, white paper, black text
    QList<InkWord> words; // in reading order: what a reader finds on the page
    QStringList text() const;
};

struct TextPageLayout {
    QStringList lines;
    QString family = QStringLiteral("Liberation Serif");
    int pixelSize = 42; // about 10 points at 300 dpi
    int width = 1275;
    int height = 800;
    bool antialiased = false; // off: every pixel black or white, as a bitonal scan
};

// Paints the lines from the top left, one under the other, and finds each word's ink. A line
// too long for the paper wraps; what does not fit on the page is left out.
TextPage paintTextPage(const TextPageLayout& layout);

// Writes the pages into one TIFF at `dpi`: 1 bit (CCITT G4) when `bitonal`, else 8-bit grey.
// Fails the test (qFatal) when it cannot.
void writeTextTiff(const QString& path, const QList<TextPage>& pages, bool bitonal, int dpi = 300);

// `count` lines of `wordsPerLine` common English words, the same for the same seed.
QStringList knownLines(int seed, int count, int wordsPerLine);

// Every word of the lines, in order.
QStringList wordsOf(const QStringList& lines);

// A word of a DjVu page's hidden text, its box turned to an origin at the top left.
struct HiddenWord {
    QString text;
    QRect box;
};

// The words of `page` (from 1) as `djvused -u ... print-txt` gives them back; empty when the page
// has no text or the document cannot be read.
QList<HiddenWord> hiddenWords(const QString& djvu, int page);

// The share of `known` words found in `found`, each found word counted once (punctuation and
// letter case ignored).
double wordRecall(const QStringList& known, const QStringList& found);

} // namespace vormelle::test
