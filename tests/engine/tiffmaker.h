// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QRgb>
#include <QSize>
#include <QString>

namespace vormelle::test {

// The kinds of TIFF the conversion tests feed to the real converters and to the inspection.
enum class TiffKind {
    BitonalG4,       // 1 bit, CCITT group 4
    Gray8,           // 8-bit gray, LZW
    GrayJpeg,        // 8-bit gray in JPEG strips
    RgbJpeg,         // RGB as YCbCr in JPEG strips
    RgbDeflate,      // RGB, Deflate strips
    RgbTiledJpeg,    // RGB in JPEG tiles that do not divide the image
    Gray16,          // 16 bits per sample: tiff2pdf refuses it
    Gray2,           // 2-bit gray
    Gray4,           // 4-bit gray
    Gray12,          // 12-bit gray
    GrayFloat,       // 32-bit floating-point gray
    GraySigned,      // 8-bit signed gray
    GrayAlpha,       // 8-bit gray with unassociated alpha
    RgbAlpha,        // 8-bit RGB with unassociated alpha, opaque everywhere
    RgbAssocAlpha,   // 8-bit RGB with associated alpha, opaque everywhere
    RgbPlanar,       // 8-bit RGB, one plane per colour
    Palette8,        // 8-bit palette
    Cmyk8,           // 8-bit CMYK
    Lab8,            // 8-bit CIE L*a*b*
    YcbcrTiledJpeg,  // RGB as YCbCr in JPEG tiles: tiff2pdf decodes these only when copying
    BitonalG3,       // 1 bit, CCITT group 3 (2-D)
    BitonalLzw,      // 1 bit, LZW
    BitonalRaw,      // 1 bit, uncompressed
    BitonalTiled,    // 1 bit, G4 in 64 x 64 tiles that do not divide the image
    BitonalBlack0,   // 1 bit, 0 for black (min-is-black), PackBits
    BitonalLsb,      // 1 bit, uncompressed, the leftmost pixel in the low bit (fill order 2)
    Gray8Jpeg1Strip, // 8-bit gray in one JPEG strip for the whole page
};

// What a page shows.
enum class TiffContent {
    Quarter, // white with the top-left quarter in the ink
    Noise,   // every pixel ink or white at random (fixed seed): nothing survives a shifted bit
    Text,    // rows of glyph-like strokes with a little noise; on pages with colour or grey
             // levels the bottom third is a smooth photo-like gradient instead
};

// One page: white with a top-left quarter in `ink` (black unless the kind has colour).
// Resolution unit 0 writes no resolution at all.
struct TiffPage {
    TiffKind kind = TiffKind::BitonalG4;
    int width = 160;
    int height = 240;
    float xdpi = 100;
    float ydpi = 100;
    int unit = 2; // RESUNIT_INCH; 1 is "none", 3 centimetre
    QRgb ink = qRgb(0, 0, 0);
    bool reduced = false; // a reduced-resolution copy, not a page
    TiffContent content = TiffContent::Quarter;
    int inkAlpha = 255; // the ink's alpha on kinds with an alpha channel
};

// The colour the page has at (x, y), before the kind's own limits (gray, palette, bits); the
// alpha is the ink's on ink pixels.
QRgb pagePixel(const TiffPage& page, int x, int y);

// Writes the pages into one TIFF. Fails the test (qFatal) when it cannot.
void writeTiffPages(const QString& path, const QList<TiffPage>& pages);

// Writes a TIFF whose every page is white with a black top-left quarter.
void writeTiff(const QString& path, TiffKind kind, int pages = 1, int width = 160, int height = 240,
               double dpi = 100);

// Where the last directory of a TIFF starts: cutting the file there leaves a file that announces
// that page and cannot deliver it.
qint64 lastDirectoryOffset(const QString& path);

// Garbles the middle third of the first strip or tile: libtiff warns while decoding it, and
// for CCITT data tiff2pdf and pdf2djvu make a damaged page of it and end with 0.
void damageImageData(const QString& path);

// A TIFF whose header claims a page far too large to decode, with no image data behind it.
void writeAbsurdTiff(const QString& path);

// An old-style JPEG TIFF (compression 6, the whole JPEG stream behind JPEGInterchangeFormat),
// as scanners of the 1990s wrote them; libtiff cannot write these. White with a red top-left
// quarter, 160 x 240 pixels at 100 dpi.
void writeOldStyleJpegTiff(const QString& path);

// How a rendered page looks, as the mean gray (0 black .. 255 white) of its four quarters.
struct Quarters {
    int topLeft = -1;
    int topRight = -1;
    int bottomLeft = -1;
    int bottomRight = -1;
};

// Renders `page` (from 1) of a DjVu file with DjVuLibre's ddjvu and measures it; all -1 when it
// cannot be rendered.
Quarters renderDjvuPage(const QString& djvu, int page);

// A DjVu page's size in pixels (DjVuLibre's djvused); empty when it cannot be read.
QSize djvuPageSize(const QString& djvu, int page);

// The mean colour of each quarter (top left, top right, bottom left, bottom right); empty when
// the page cannot be rendered.
QList<QRgb> renderDjvuColours(const QString& djvu, int page);

} // namespace vormelle::test
