// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/leptonica.h"

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
        for (std::ptrdiff_t i = 0; i < bytes; ++i)
            SET_DATA_BYTE(line, int(i), src[i]);
    }
    if (page.width % 8 != 0)
        pixSetPadBits(pix.get(), 0);
    return pix;
}

} // namespace vormelle::codec
