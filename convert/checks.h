#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <optional>

struct tiff; // libtiff's TIFF

namespace vormelle::convert {

// Whether the current directory is a page, by the test tiff2pdf makes: reduced-resolution
// copies are not pages.
bool isTiffPage(tiff* tif);

// The pages a TIFF file holds, counted as tiff2pdf counts them (reduced-resolution copies are
// not pages). A directory that the file announces but that cannot be read still counts: a
// truncated file holds more pages than can be read from it. Empty when the file cannot be
// opened as a TIFF.
std::optional<int> tiffPageCount(const QString& path);

// The pages of a DjVu document, as DjVuLibre opens it; empty when it does not open.
std::optional<int> djvuPageCount(const QString& path);

// The pages' sizes in pixels as stored (before any turn), in page order; empty when the document
// does not open.
QList<QSize> djvuPageSizes(const QString& path);

} // namespace vormelle::convert
