#pragma once

#include <QString>

#include <optional>

namespace vormelle::convert {

// The pages a TIFF file holds, counted as tiff2pdf counts them (reduced-resolution copies are
// not pages). A directory that the file announces but that cannot be read still counts: a
// truncated file holds more pages than can be read from it. Empty when the file cannot be
// opened as a TIFF.
std::optional<int> tiffPageCount(const QString& path);

// The pages of a DjVu document, as DjVuLibre opens it; empty when it does not open.
std::optional<int> djvuPageCount(const QString& path);

} // namespace vormelle::convert
