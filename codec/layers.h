// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/jb2page.h" // PageShape
#include "codec/stage.h"

#include <vector>

namespace vormelle::codec {

// The colour layers of a compound page, made from the page (grey or colour) and its text mask (a
// bitonal view of the page's size, 1 where the text layer is).

// An FGbz chunk's content: a palette and one colour index per shape of the mask, in the order the
// mask's JB2 stream places them (`blits`, from Jb2Stats::blits). Each shape takes the mean of the
// page's pixels under its inside: the shape less its edge pixels, where anti-aliasing mixes in
// the paper (its core, two pixels in, where it is that thick); a shape too thin to have an
// inside takes all of its pixels. Colours are rounded to steps of kForegroundStep, so one ink's
// shapes share a few palette entries.
Bytes foregroundColours(const PageView& page, const PageView& mask,
                        const std::vector<PageShape>& blits);

inline constexpr int kForegroundStep = 8;

// The background of a compound page at 1/`reduction` of its size, the sides rounded up as DjVu's
// decoder expects them.
struct Background {
    int width = 0;
    int height = 0;
    // A PGM (grey page) or PPM: each pixel the mean of the page's pixels it stands for that the
    // mask leaves visible, those beside the mask only where there are no others.
    Bytes image;
    // A PBM of the same size, 1 where any of the pixels a background pixel stands for is in the
    // mask or beside it: the mask draws the ink, and the wavelet coder may give them whatever
    // costs least (in practice the paper or colour around them).
    Bytes dontCare;
};

// Outside the photographs (`photo`, a bitonal view of the page's size, 1 on a photograph; none:
// no photograph), a background pixel within kPaperGrain levels of the mean of the visible ones
// around it takes that mean: paper's grain and a scanner's JPEG noise cost the wavelet coder
// most of a page's bytes, while the edges of bands and bars, further from the mean, stay. It
// does so only where no edge crosses the window (see kFlatSpread), so a bar or ramp a few levels
// off the paper keeps its edge instead of fading into the paper. Empty (0 x 0) when the views do
// not match or memory runs out.
Background background(const PageView& page, const PageView& mask, int reduction,
                      const PageView* photo = nullptr);

inline constexpr int kPaperGrain = 10;
// The smoothing's window (17 background pixels a side) has four quarters, 9 a side, one in each
// corner. Where an edge crosses the window, the quarters on its one side have a mean of their
// own: the pixel keeps its level unless the quarters' means lie within kFlatSpread of each
// other. Quarters with fewer visible pixels than kLeastQuarter (beside the mask) have no say.
inline constexpr int kFlatSpread = 2;
inline constexpr unsigned kLeastQuarter = 20;

} // namespace vormelle::codec
