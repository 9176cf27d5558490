// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QtGlobal>

#include <optional>

struct tiff; // libtiff's TIFF

namespace vormelle::engine {

// Whether the current directory is a page, by the test tiff2pdf makes: reduced-resolution
// copies are not pages.
bool isTiffPage(tiff* tif);

// Sets up DjVuLibre's process-wide state once; call it before workers decode pages.
void prepareDjvuDecoder();

// The most bytes a DjVu result of `pages` pages, none larger than `largestPixels`, can sensibly
// take: four bytes a pixel and a mebibyte a page, far above what an encoder writes (noise in
// colour takes a fifth of a byte a pixel). Never more than the format allows.
qint64 djvuResultBound(int pages, qint64 largestPixels);

// The pages of a DjVu document, as DjVuLibre opens it; empty when it does not open, and for a file
// larger than the format allows, which is never read. DjVuLibre holds the bytes it decodes from;
// nothing else holds a copy.
std::optional<int> djvuPageCount(const QString& path);

// The pages' sizes in pixels as stored (before any turn), in page order; empty when the document
// does not open.
QList<QSize> djvuPageSizes(const QString& path);

} // namespace vormelle::engine
