#pragma once

#include <QString>

namespace vormelle::test {

// The kinds of TIFF the conversion tests feed to the real converters.
enum class TiffKind {
    BitonalG4,    // 1 bit, CCITT group 4
    Gray8,        // 8-bit gray, LZW
    GrayJpeg,     // 8-bit gray in JPEG strips
    RgbJpeg,      // RGB as YCbCr in JPEG strips
    RgbDeflate,   // RGB, Deflate strips
    RgbTiledJpeg, // RGB in JPEG tiles that do not divide the image
    Gray16,       // 16 bits per sample: tiff2pdf refuses it
};

// Writes a TIFF whose every page is white with a black top-left quarter. Fails the test (qFatal)
// when it cannot.
void writeTiff(const QString& path, TiffKind kind, int pages = 1, int width = 160, int height = 240,
               double dpi = 100);

// Where the last directory of a TIFF starts: cutting the file there leaves a file that announces
// that page and cannot deliver it.
qint64 lastDirectoryOffset(const QString& path);

// A TIFF whose header claims a page far too large to decode, with no image data behind it.
void writeAbsurdTiff(const QString& path);

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

} // namespace vormelle::test
