// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle::engine {

// The way a file is converted: through a PDF (tiff2pdf, then pdf2djvu), or page by page straight
// into DjVu (engine/direct.h).
enum class Route { Pdf, Direct };

} // namespace vormelle::engine
