// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/jb2.h"
#include "codec/stage.h"

#include <vector>

namespace vormelle::codec {

// One connected shape of a page (8-connected black pixels, no empty edge rows or columns) and
// its top left corner on the page.
struct PageShape {
    Bitmap bits;
    int x = 0;
    int y = 0;
};

// A bitonal page's shapes, found with Leptonica, in reading order: lines from the top, each from
// the left. Empty for a page that is not bitonal or not valid (checkPage()).
std::vector<PageShape> pageShapes(const PageView& page);

struct Jb2Options {
    // The shapes of the shared dictionary (a Djbz from encodeJb2Dictionary()) the page includes;
    // the page refers to them by index and codes only what they do not give.
    const std::vector<Bitmap>* dictionary = nullptr;
    // Code a shape close to an earlier one as a refinement of it.
    bool refine = true;
    // Draw a shape as a copy of an earlier twin that no reader could tell from it
    // (codec/jb2lossy.h), within 1 % of the page's pixels: the page no longer decodes exactly.
    bool lossy = false;
};

// How a page's shapes were coded.
struct Jb2Stats {
    int shapes = 0;
    int copies = 0;      // identical to an earlier shape (or one of the dictionary)
    int refinements = 0; // coded as a refinement of a close one
    int direct = 0;      // coded on their own
    int twins = 0;       // lossy: drawn as an earlier twin (counted among the copies too)
    qint64 changed = 0;  // lossy: pixels that differ from the page
};

// A bitonal page as an Sjbz chunk's content: each shape identical to an earlier one copied, each
// close one coded as a refinement of it, the rest coded directly. It decodes to the page's pixels
// exactly. Empty for a page that is not bitonal or not valid (checkPage()).
Bytes encodeJb2Page(const PageView& page, const Jb2Options& options = {},
                    Jb2Stats* stats = nullptr);

// A Djbz chunk's content: `shapes` as a shared dictionary, in this order (a page's index i is
// shapes[i]). Shapes must have no empty edge rows or columns.
Bytes encodeJb2Dictionary(const std::vector<Bitmap>& shapes);

// The INFO chunk of a page of this size and resolution.
Bytes infoChunk(int width, int height, int dpi);

// The bitonal pages' stage: each page coded at once, handed to the sink as INFO and Sjbz.
class Jb2Stage final : public PageStage {
public:
    Jb2Stage() = default;
    explicit Jb2Stage(const Jb2Options& options) : m_options(options) {}

    Status addPage(const PageView& page, PageSink& sink, const AbortHook& abort) override;
    Status finish(PageSink& sink, const AbortHook& abort) override;
    // How the last page was coded.
    const Jb2Stats& lastStats() const { return m_last; }

private:
    Jb2Options m_options;
    Jb2Stats m_last;
    int m_pages = 0;
};

} // namespace vormelle::codec
