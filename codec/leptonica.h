// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/stage.h"

#include <leptonica/allheaders.h>

#include <memory>

namespace vormelle::codec {

// Leptonica's image, released however a step ends.
struct PixFree {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<PIX, PixFree>;

// A 1-bit page as Leptonica holds it: rows in 32-bit words, most significant bit first, the pad
// bits past the width clear (they are no ink). Null when Leptonica cannot make the image.
PixPtr bitonalPix(const PageView& page);

} // namespace vormelle::codec
