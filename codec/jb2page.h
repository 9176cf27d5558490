// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/jb2.h"
#include "codec/stage.h"

#include <memory>
#include <utility>
#include <vector>

namespace vormelle::codec {

// One shape of a page (8-connected black pixels, or a letter with its marks; no empty edge
// rows or columns) and its top left corner on the page.
struct PageShape {
    Bitmap bits;
    int x = 0;
    int y = 0;
};

// A bitonal page's shapes, found with Leptonica, in reading order: lines from the top, each from
// the left. With `marks`, a mark over or under a letter (an i's dot) is one shape with it, as
// encodeJb2Page() places them. Empty for a page that is not bitonal or not valid (checkPage()).
std::vector<PageShape> pageShapes(const PageView& page, bool marks = false);

// The estimated bits (ZpEstimate's units) coding `shape` as a refinement of `b` takes more than
// of `a`, with the refinement contexts in the states `contexts` (2048 of them): counted as the
// page coder weighs its candidates, only where the two references differ (first), and by
// counting each reference's whole cost (second). The two agree; tests hold them to it.
std::pair<int64_t, int64_t> refinementDeltaBothWays(const Bitmap& shape, const Bitmap& a,
                                                    const Bitmap& b, const ZpContext* contexts);

struct Jb2Options {
    // The shapes of the shared dictionary (a Djbz from encodeJb2Dictionary()) the page includes;
    // the page refers to them by index and codes only what they do not give.
    const std::vector<Bitmap>* dictionary = nullptr;
    // Code a shape close to an earlier one as a refinement of it.
    bool refine = true;
    // Draw a shape as a copy of an earlier twin that no reader could tell from it
    // (codec/jb2lossy.h), within 1 % of the page's pixels: the page no longer decodes exactly.
    bool lossy = false;
    // Hand the page's shapes back in Jb2Stats::blits, each connected shape a blit of its own
    // (without, and exact, a mark such as an i's dot is placed with its letter, as one shape).
    bool keepBlits = false;
    // Add where the page's bits go to this (the benches).
    Jb2Tally* tally = nullptr;
};

// How a page's shapes were coded.
struct Jb2Stats {
    int shapes = 0;
    int copies = 0;      // identical to an earlier shape (or one of the dictionary)
    int refinements = 0; // coded as a refinement of a close one
    int direct = 0;      // coded on their own
    int twins = 0;       // lossy: drawn as an earlier twin (counted among the copies too)
    qint64 changed = 0;  // lossy: pixels that differ from the page
    qint64 pixels = 0;   // the page's
    // With Jb2Options::keepBlits: every shape in the order the stream places it, which is the
    // order of an FGbz foreground's colours.
    std::vector<PageShape> blits;
};

// A bitonal page as an Sjbz chunk's content: each shape identical to an earlier one copied, each
// close one coded as a refinement of it, the rest coded directly. It decodes to the page's pixels
// exactly. Empty for a page that is not bitonal or not valid (checkPage()).
Bytes encodeJb2Page(const PageView& page, const Jb2Options& options = {},
                    Jb2Stats* stats = nullptr);

// A Djbz chunk's content: `shapes` as a shared dictionary, in this order (a page's index i is
// shapes[i]), shape i coded as a refinement of shape refineFrom[i] where that is an earlier one.
// Shapes must have no empty edge rows or columns.
Bytes encodeJb2Dictionary(const std::vector<Bitmap>& shapes,
                          const std::vector<int>& refineFrom = {});

// The INFO chunk of a page of this size and resolution.
Bytes infoChunk(int width, int height, int dpi);

// The bitonal pages' stage, coding with `options` (its dictionary aside). Alone (the default),
// each page is coded at once and handed to the sink from addPage() as INFO and Sjbz. Sharing
// shapes, the stage keeps
// each page's shapes, packed (a bit a pixel of each distinct shape's box, about 0.3 MB for a page
// of 300 dpi text), in the spool file `spoolPath` (created, and removed again by the destructor; in
// memory without one), and in memory only the classes of like shapes, a few shapes each (at most
// kClassMemory; pages that come after that are coded alone when they come). finish() then hands out
// the shared dictionary (through PageSink::shared, as kDictionaryId: a Djbz of the first shapes of
// every class seen on two pages or more) and every page, in order, as INFO, INCL (naming
// kDictionaryId, for a page that uses the dictionary) and Sjbz. A document of one page, or
// whose pages share nothing, gets no dictionary. Exact, every page decodes exactly either way;
// lossy, each page is judged as its shapes draw it, and the dictionary's shapes are twins to every
// page that includes it.
class Jb2Stage final : public PageStage {
public:
    explicit Jb2Stage(const Jb2Options& options = {}, bool shareShapes = false,
                      const QString& spoolPath = {});
    ~Jb2Stage() override;
    Jb2Stage(const Jb2Stage&) = delete;
    Jb2Stage& operator=(const Jb2Stage&) = delete;

    static constexpr char kDictionaryId[] = "shapes.djvi";
    static constexpr size_t kClassMemory = size_t(8) << 20;

    Status addPage(const PageView& page, PageSink& sink, const AbortHook& abort) override;
    Status finish(PageSink& sink, const AbortHook& abort) override;
    // How the last page coded alone was coded.
    const Jb2Stats& lastStats() const { return m_last; }
    // How page `index` was coded, once it was handed to the sink (empty before).
    Jb2Stats pageStats(int index) const {
        return size_t(index) < m_stats.size() ? m_stats[size_t(index)] : Jb2Stats{};
    }

private:
    struct Document;
    Jb2Options m_options;
    Jb2Stats m_last;
    std::vector<Jb2Stats> m_stats; // by page, without blits
    std::unique_ptr<Document> m;
    int m_pages = 0;
};

} // namespace vormelle::codec
