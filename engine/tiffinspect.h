// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/route.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

struct tiff; // libtiff's TIFF

namespace vormelle::platform {
class RegularFile;
}

namespace vormelle::engine {

// The resolutions a scan plausibly has. 72 dpi is also the coarsest pdf2djvu writes; finer
// than 2400 dpi, or coarser than 72, a tag is taken for a mistake: it would make a thumbnail or
// a poster if the page's size were kept instead of its pixels.
inline constexpr double kLowestDpi = 72;
inline constexpr double kHighestDpi = 2400;
inline constexpr int kDefaultDpi = 300;
// The most pixels a page may have: pdf2djvu needs about ten bytes a pixel to render a page, so
// this keeps one converter under about 1.5 GB. A 1200 dpi A4 page (139 million) still passes.
inline constexpr double kMaxPagePixels = 150e6;

// The DjVu resolution of a page tagged `tagged` dots per inch (0 for none): the tag when it is
// plausible, otherwise kDefaultDpi.
int pageDpi(double tagged);

// The direct route (engine/route.h) also takes alpha channels (laid over white) and 16-bit
// samples, and gives every page its own resolution, so the inspection refuses fewer files there
// and asks for no tiff2pdf options.

// What libtiff finds in a TIFF before the converters see it. The converters turn some TIFFs
// into wrong pages without a word (an alpha channel, a resolution without unit, damaged image
// data) and fail on others with messages nobody can act on; those are named here instead.
struct TiffInspection {
    QString problem;             // "" when the converters can make correct pages of it;
                                 // otherwise a short plain reason for the closing box
    QStringList tiff2pdfOptions; // extra tiff2pdf options that make it right (may be empty)
    int pages = 0;               // pages found
    // The resolution every page of the result gets (pdf2djvu's -d): the first page's when it is
    // plausible. With tiff2pdfOptions it makes each DjVu page as large as its TIFF page in
    // pixels. The direct route gives each page its own (TiffPageReader).
    int dpi = kDefaultDpi;
    // tiff2pdf copies the compressed data instead of re-encoding it (no -n): the only way it
    // converts pages in YCbCr JPEG tiles.
    bool copyCompressedData = false;
    // The page with the most pixels, for messages about the size (0 x 0 when none was read).
    int largestWidth = 0;
    int largestHeight = 0;
};

// Reads every page's directory and decodes all its image data once. Anything that is not a
// regular file is never opened.
TiffInspection inspectTiff(const QString& path, Route route = Route::Pdf);
// The same on a file already open: what is inspected is what the caller goes on to convert.
TiffInspection inspectTiff(const platform::RegularFile& file, Route route = Route::Pdf);
// The same on a thread of its own, calling `pause` every 40 ms until it is done, so a window
// can process its events.
TiffInspection inspectTiff(const QString& path, const std::function<void()>& pause,
                           Route route = Route::Pdf);
// The same checks on a file held in memory; never touches the disk.
TiffInspection inspectTiffBytes(const QByteArray& bytes, Route route = Route::Pdf);

// Why the current page cannot take the route, from its directory alone: no pixels, samples,
// colour model, compression, size. "" when it can.
QString pageDirectoryProblem(tiff* tif, Route route);
// The same for the samples, colour model and compression only.
QString pageFormatProblem(tiff* tif, Route route);
// A page's problem as the closing box names it: "page 3: ..." in a file of several pages.
QString namedPageProblem(int page, bool severalPages, const QString& problem);

} // namespace vormelle::engine
