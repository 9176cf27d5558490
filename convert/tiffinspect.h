#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

struct tiff; // libtiff's TIFF

namespace vormelle::convert {

// The way a file is converted: through a PDF (tiff2pdf, then pdf2djvu), or page by page straight
// into DjVu with DjVuLibre's encoders (convert/direct.h). The direct route also takes alpha
// channels (laid over white) and 16-bit samples, and gives every page its own resolution, so
// fewer files are refused and no tiff2pdf options are asked for.
enum class Route { Pdf, Direct };

// What libtiff finds in a TIFF before the converters see it. The converters turn some TIFFs
// into wrong pages without a word (an alpha channel, a resolution without unit, damaged image
// data) and fail on others with messages nobody can act on; those are named here instead.
struct TiffInspection {
    QString problem;             // "" when the converters can make correct pages of it;
                                 // otherwise a short plain reason for the closing box
    QStringList tiff2pdfOptions; // extra tiff2pdf options that make it right (may be empty)
    int pages = 0;               // pages found
    // tiff2pdf copies the compressed data instead of re-encoding it (no -n): the only way it
    // converts pages in YCbCr JPEG tiles.
    bool copyCompressedData = false;
};

// Reads every page's directory and decodes all its image data once. Anything that is not a
// regular file is never opened.
TiffInspection inspectTiff(const QString& path, Route route = Route::Pdf);
// The same on a thread of its own, calling `pause` every 40 ms until it is done, so a window
// can process its events.
TiffInspection inspectTiff(const QString& path, const std::function<void()>& pause,
                           Route route = Route::Pdf);
// The same checks on a file held in memory; never touches the disk.
TiffInspection inspectTiffBytes(const QByteArray& bytes, Route route = Route::Pdf);

// Why the current page cannot take the route, from its directory alone (samples, colour model,
// compression); "" when it can.
QString pageFormatProblem(tiff* tif, Route route);
// A page's problem as the closing box names it: "page 3: ..." in a file of several pages.
QString namedPageProblem(int page, bool severalPages, const QString& problem);

} // namespace vormelle::convert
