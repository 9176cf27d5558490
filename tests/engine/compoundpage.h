// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vormelle::test {

// Pages as a scanner sees them, for the compound pages' tests and benchmark: anti-aliased text
// in real fonts and any ink, tinted paper with noise, a scanner's blur, photographs made of
// smooth fields and texture, bands of colour with light captions, bar charts and rules.

struct TextBlock {
    QRect area;
    QStringList lines;
    QColor ink = Qt::black;
    QColor band;        // valid: the block stands on a band of this colour
    int pixelSize = 38; // about 9 points at 300 dpi
    QString family = QStringLiteral("Liberation Serif");
};

struct PaintedPage {
    QImage image; // RGB888
    QList<QRect> photos;
    QList<QRect> flats; // areas of bare paper
    QStringList words;  // every word drawn, in order
};

struct PageRecipe {
    QSize size{2480, 3508};
    QColor paper{250, 246, 236};
    int noise = 4;    // plus or minus this many levels, the same for the same seed
    bool blur = true; // a 3x3 scanner blur over everything
    QList<TextBlock> text;
    QList<QRect> photos;
    QList<QRect> charts; // bar charts in four inks, with axes and rules
    QList<QRect> flats;
    int seed = 1;
    bool photoTexture = true; // off: photographs of smooth fields alone
};

PaintedPage paintPage(const PageRecipe& recipe);

// A photograph: smooth colour fields with fine texture and a few shapes, the same for the same
// seed.
void paintPhoto(QImage& image, const QRect& area, int seed, bool texture = true);

// Writes the pages into one TIFF: RGB, or grey when `grey`; JPEG-compressed at `jpegQuality`
// (0: Deflate, no loss). Fails the test (qFatal) when it cannot.
void writePageTiff(const QString& path, const QList<QImage>& pages, bool grey, int jpegQuality,
                   int dpi = 300);

// The recipes of the benchmark: a colour magazine page, a grey book page with a plate, a grey
// page of text alone, coloured inks with a bar chart, a photograph filling the page.
PageRecipe magazinePage();
PageRecipe bookPlatePage();
PageRecipe greyTextPage();
PageRecipe chartPage();
PageRecipe photoPage();

} // namespace vormelle::test
