// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/stage.h"

namespace vormelle::codec {

namespace {

// DjVu's INFO chunk holds each side in 16 bits, and DjVuLibre reads them as signed.
constexpr int kLongestSide = 32767;

} // namespace

std::ptrdiff_t rowBytes(PixelKind kind, int width) {
    if (width <= 0)
        return 0;
    switch (kind) {
    case PixelKind::Bitonal:
        return (std::ptrdiff_t(width) + 7) / 8;
    case PixelKind::Grey:
        return width;
    case PixelKind::Colour:
        return 3 * std::ptrdiff_t(width);
    }
    return 0;
}

Error checkPage(const PageView& page) {
    if (page.width <= 0 || page.height <= 0 || page.width > kLongestSide ||
        page.height > kLongestSide || !page.pixels || page.stride < rowBytes(page.kind, page.width))
        return Error::BadDimension;
    return Error::None;
}

} // namespace vormelle::codec
