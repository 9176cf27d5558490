// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/leptonica.h"

#include <cstring>

namespace vormelle::codec {

PixPtr bitonalPix(const PageView& page) {
    PixPtr pix(pixCreate(page.width, page.height, 1));
    if (!pix)
        return pix;
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    const std::ptrdiff_t bytes = rowBytes(PixelKind::Bitonal, page.width);
    for (int y = 0; y < page.height; ++y) {
        const std::uint8_t* src = page.pixels + std::ptrdiff_t(y) * page.stride;
        l_uint32* line = data + std::ptrdiff_t(y) * wpl;
        // Four bytes a word, the first the most significant.
        const std::ptrdiff_t whole = bytes / 4;
        for (std::ptrdiff_t i = 0; i < whole; ++i) {
            std::uint32_t v;
            std::memcpy(&v, src + 4 * i, 4);
            line[i] = __builtin_bswap32(v);
        }
        if (const std::ptrdiff_t rest = bytes % 4; rest != 0) {
            std::uint32_t v = 0;
            for (std::ptrdiff_t b = 0; b < rest; ++b)
                v |= std::uint32_t(src[4 * whole + b]) << (24 - 8 * b);
            line[whole] = v;
        }
    }
    if (page.width % 8 != 0)
        pixSetPadBits(pix.get(), 0);
    return pix;
}

} // namespace vormelle::codec
