// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QRgb>
#include <QSize>
#include <QString>

#include <cstdint>

namespace vormelle::test {

// How a TIFF lays out its samples, for the page reader's layout tests: any photometric model,
// bit depth, extra samples, planes, strips or tiles, compression and orientation libtiff writes.
struct SampleLayout {
    uint16_t photometric = 1; // PHOTOMETRIC_MINISBLACK
    int bits = 8;
    int samples = 1;
    QList<uint16_t> extra; // the ExtraSamples tag; none written when empty
    bool separate = false; // one plane a sample
    uint16_t compression = 1;
    int rowsPerStrip = 0; // 0: one strip for the page
    QSize tile;           // empty: strips
    // A tile width to put into the directory instead of tile.width() (1-bit, 9 to 15 pixels:
    // libtiff writes no such tiles but reads them). tile.width() must then be 16.
    int declaredTileWidth = 0;
    uint16_t orientation = 1;
    QList<QRgb> palette; // the palette's colours (palette pages)
    float dpi = 150;
};

// Writes `picture` (ARGB32, not premultiplied: each pixel's colour and alpha) as the layout
// stores it: grey models take the red channel, CMYK inks are worked out from the colour,
// associated alpha weights the colours, padding samples are 0. The picture is the page as
// stored; with an orientation it is shown turned. Fails the test (qFatal) when it cannot.
void writeLayout(const QString& path, const SampleLayout& layout, const QImage& picture);

// What a viewer shows of a stored picture: turned by the TIFF orientation (1 to 8) and laid
// over white at its alpha. RGB888.
QImage shownOverWhite(const QImage& stored, uint16_t orientation);
// The stored picture that `orientation` shows as `shown`.
QImage storedFor(const QImage& shown, uint16_t orientation);

// Writes `shown` (black and white) as a 1-bit CCITT G4 page stored so that `orientation` shows
// it as it is.
void writeTurnedBitonal(const QString& path, const QImage& shown, uint16_t orientation, float dpi);

// What a test page shows: four flat quarters of grey or colour (the top left one half
// see-through, the top right one fully see-through where the layout has alpha), or 1-bit noise.
enum class Picture { GreyQuarters, ColourQuarters, Noise };
QImage layoutPicture(Picture kind, const SampleLayout& layout, QSize size);

// "" when `decoded` shows `expected`: 1-bit pages pixel for pixel (`exact`), others (lossy
// wavelets) by the mean of each quarter within 8 levels, which tells white from grey and every
// turn from every other; otherwise what differs.
QString comparePages(const QImage& decoded, const QImage& expected, bool exact);

// Layouts for the tables: Deflate strips of 16 rows, and variations of them.
SampleLayout layout(uint16_t photometric, int bits, int samples, QList<uint16_t> extra = {});
SampleLayout planes(SampleLayout l);
SampleLayout tiles(SampleLayout l, QSize tile);
SampleLayout turned(SampleLayout l, uint16_t orientation);
SampleLayout bitonal(uint16_t compression);

} // namespace vormelle::test
