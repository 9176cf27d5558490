// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::engine {

// The way a file is converted: through a PDF (tiff2pdf, then pdf2djvu), or page by page straight
// into DjVu (engine/direct.h).
enum class Route { Pdf, Direct };

// How the direct route codes grey and colour pages: as a compound page (a JB2 mask of the text
// over small colour layers, photographs left to the background), or as one wavelet layer.
enum class ColourPages { Compound, Layer };

inline constexpr char kColourPagesSetting[] = "ColourPages";

// "Layer" (any letter case, surrounding spaces ignored) is the one layer; anything else, missing
// included, is Compound.
inline ColourPages colourPagesFromSetting(const QString& value) {
    return value.trimmed().compare(QLatin1String("Layer"), Qt::CaseInsensitive) == 0
               ? ColourPages::Layer
               : ColourPages::Compound;
}

} // namespace vormelle::engine
