// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <optional>

struct tiff; // libtiff's TIFF

namespace vormelle::engine {

// Whether the current directory is a page, by the test tiff2pdf makes: reduced-resolution
// copies are not pages.
bool isTiffPage(tiff* tif);

// Sets up DjVuLibre's process-wide state once; call it before workers decode pages.
void prepareDjvuDecoder();

// The pages of a DjVu document, as DjVuLibre opens it; empty when it does not open.
std::optional<int> djvuPageCount(const QString& path);

// The pages' sizes in pixels as stored (before any turn), in page order; empty when the document
// does not open.
QList<QSize> djvuPageSizes(const QString& path);

} // namespace vormelle::engine
