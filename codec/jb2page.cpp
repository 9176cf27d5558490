// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/jb2page.h"

#include "codec/jb2lossy.h"
#include "codec/leptonica.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>

namespace vormelle::codec {

namespace {

// A shape's rows as bits, pixel x of a row in bit x % 64 of its word x / 64: comparing two
// shapes takes a word at a time, and a page's shapes are kept in an eighth of a byte a pixel.
struct Rows {
    int width = 0;
    int height = 0;
    int words = 0; // a row's
    std::vector<uint64_t> bits;
    std::vector<int> inkBelow; // ink of rows y and below, for each y and the height
    int mass() const { return inkBelow.empty() ? 0 : inkBelow.front(); }
    const uint64_t* row(int y) const { return &bits[size_t(y) * size_t(words)]; }
    bool operator==(const Rows& o) const {
        return width == o.width && height == o.height && bits == o.bits;
    }
    __attribute__((target_clones("popcnt", "default"))) void countInk() {
        inkBelow.assign(size_t(height) + 1, 0);
        for (int y = height; y-- > 0;) {
            int ink = 0;
            for (int k = 0; k < words; ++k)
                ink += std::popcount(row(y)[k]);
            inkBelow[size_t(y)] = inkBelow[size_t(y) + 1] + ink;
        }
    }
};

Rows rowsOf(const Bitmap& b) {
    Rows r{b.width, b.height, (b.width + 63) / 64, {}, {}};
    r.bits.assign(size_t(r.words) * size_t(r.height), 0);
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* src = &b.bits[size_t(y) * size_t(b.width)];
        uint64_t* dst = &r.bits[size_t(y) * size_t(r.words)];
        for (int x = 0; x < b.width; ++x)
            dst[x >> 6] |= uint64_t(src[x] != 0) << (x & 63);
    }
    r.countInk();
    return r;
}

// Eight pixels of a byte, a byte each, in memory order.
const std::array<uint64_t, 256> kSpread = [] {
    std::array<uint64_t, 256> spread{};
    for (int v = 0; v < 256; ++v) {
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = uint8_t((v >> i) & 1);
        std::memcpy(&spread[size_t(v)], bytes, 8);
    }
    return spread;
}();

Bitmap bitmapOf(const Rows& r) {
    Bitmap b(r.width, r.height);
    for (int y = 0; y < r.height; ++y) {
        const uint64_t* src = r.row(y);
        uint8_t* dst = &b.bits[size_t(y) * size_t(r.width)];
        int x = 0;
        for (; x + 8 <= r.width; x += 8) {
            const uint64_t eight = kSpread[(src[x >> 6] >> (x & 63)) & 0xff];
            std::memcpy(dst + x, &eight, 8);
        }
        for (; x < r.width; ++x)
            dst[x] = uint8_t((src[x >> 6] >> (x & 63)) & 1);
    }
    return b;
}

uint32_t reversed(uint32_t v) {
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0f0f0f0fu) | ((v & 0x0f0f0f0fu) << 4);
    return __builtin_bswap32(v);
}

uint64_t hashOf(const Rows& r) {
    uint64_t h = 1469598103934665603ull ^ (uint64_t(r.width) << 32) ^ uint64_t(r.height);
    for (uint64_t v : r.bits)
        h = (h ^ v) * 1099511628211ull;
    return h;
}

struct Shape {
    Rows rows;
    int x = 0;
    int y = 0;
    uint64_t hash = 0;
    bool lineStart = false;
};

struct StackDeleter {
    void operator()(L_STACK* s) const { lstackDestroy(&s, 1); }
};

// The page's 8-connected shapes in the order Leptonica's search finds them (pixConnCompPixa's).
// Its fill erases each shape from the page in turn; what the fill took, within the shape's box,
// against a copy of the page as it was before, is the shape. That copy is all the extra memory:
// no image a shape.
std::vector<Shape> components(const PageView& page) {
    std::vector<Shape> shapes;
    auto pix = bitonalPix(page);
    if (!pix)
        return shapes;
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    std::vector<l_uint32> before(data, data + std::ptrdiff_t(wpl) * page.height);
    std::unique_ptr<L_STACK, StackDeleter> stack(lstackCreate(page.height));
    if (!stack)
        return shapes;
    stack->auxstack = lstackCreate(0);
    std::vector<uint32_t> taken(size_t(wpl) + 1);
    l_int32 sx = 0, sy = 0;
    while (nextOnPixelInRaster(pix.get(), sx, sy, &sx, &sy)) {
        BOX* box = pixSeedfillBB(pix.get(), stack.get(), sx, sy, 8);
        if (!box)
            break;
        l_int32 x, y, w, h;
        boxGetGeometry(box, &x, &y, &w, &h);
        boxDestroy(&box);
        Shape s;
        s.x = x;
        s.y = y;
        Rows& r = s.rows;
        r.width = w;
        r.height = h;
        r.words = (w + 63) / 64;
        r.bits.assign(size_t(r.words) * size_t(h), 0);
        const int first = x / 32, last = (x + w - 1) / 32, shift = x % 32;
        const int halves = (w + 31) / 32;
        // Bits past the width are cleared: the words hold the shape's pixels only.
        const uint32_t lastMask = w % 32 ? ~0u >> (32 - w % 32) : ~0u;
        for (int row = 0; row < h; ++row) {
            const std::ptrdiff_t at = std::ptrdiff_t(y + row) * wpl;
            for (int k = first; k <= last; ++k) {
                taken[size_t(k - first)] = before[size_t(at + k)] ^ data[at + k];
                before[size_t(at + k)] = data[at + k];
            }
            taken[size_t(last - first + 1)] = 0;
            uint64_t* dst = &r.bits[size_t(row) * size_t(r.words)];
            for (int k = 0; k < halves; ++k) {
                uint32_t v = taken[size_t(k)] << shift;
                if (shift != 0)
                    v |= taken[size_t(k) + 1] >> (32 - shift);
                v = reversed(v);
                if (k == halves - 1)
                    v &= lastMask;
                dst[k / 2] |= uint64_t(v) << (32 * (k % 2));
            }
        }
        r.countInk();
        s.hash = hashOf(r);
        shapes.push_back(std::move(s));
    }
    return shapes;
}

// Reading order: lines from the top, each from the left, so that most places are coded as a
// small step from the shape before. A line takes the shapes that overlap its rows by half the
// height of the smaller, so that an i's dot or an accent does not cut it short.
void readingOrder(std::vector<Shape>& shapes) {
    std::sort(shapes.begin(), shapes.end(),
              [](const Shape& a, const Shape& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    size_t begin = 0;
    while (begin < shapes.size()) {
        int top = shapes[begin].y;
        int bottom = top + shapes[begin].rows.height;
        size_t end = begin + 1;
        for (; end < shapes.size(); ++end) {
            const Shape& s = shapes[end];
            const int sBottom = s.y + s.rows.height;
            const int overlap = std::min(bottom, sBottom) - std::max(top, s.y);
            if (2 * overlap < std::min(s.rows.height, bottom - top))
                break;
            top = std::min(top, s.y);
            bottom = std::max(bottom, sBottom);
        }
        std::sort(shapes.begin() + std::ptrdiff_t(begin), shapes.begin() + std::ptrdiff_t(end),
                  [](const Shape& a, const Shape& b) { return a.x < b.x; });
        shapes[begin].lineStart = true;
        begin = end;
    }
}

// Where a shape's pixel (x, y) lies over its reference's when the refinement coder aligns the
// two on their centres: (x + dx, y + dy).
void alignment(int w, int h, int refWidth, int refHeight, int& dx, int& dy) {
    dx = (w / 2 - w + 1) - (refWidth / 2 - refWidth + 1);
    dy = refHeight - h - ((h / 2 - h + 1) - (refHeight / 2 - refHeight + 1));
}

// The 64 pixels of a row from `at` on (white outside the row).
[[gnu::always_inline]] inline uint64_t wordAt(const uint64_t* row, int words, int at) {
    const int w = at >> 6;
    const int b = at & 63;
    const uint64_t lo = w >= 0 && w < words ? row[w] : 0;
    if (b == 0)
        return lo;
    const uint64_t hi = w + 1 >= 0 && w + 1 < words ? row[w + 1] : 0;
    return (lo >> b) | (hi << (64 - b));
}

// The shortest letter that takes a mark: the stem of an i in 5-point type is about 11 pixels of
// 300 dpi. Specks of a dithered picture or of noise, shorter, are left as they are (joined,
// they would make ever new shapes for the matcher to compare).
int shortestLetter(int dpi) {
    return std::max(4, (dpi > 0 ? dpi : 300) / 30);
}

// Two shapes as one: both in the box that holds them.
Shape joined(const Shape& a, const Shape& b) {
    Shape j;
    j.x = std::min(a.x, b.x);
    j.y = std::min(a.y, b.y);
    Rows& r = j.rows;
    r.width = std::max(a.x + a.rows.width, b.x + b.rows.width) - j.x;
    r.height = std::max(a.y + a.rows.height, b.y + b.rows.height) - j.y;
    r.words = (r.width + 63) / 64;
    r.bits.assign(size_t(r.words) * size_t(r.height), 0);
    for (const Shape* s : {&a, &b}) {
        const int ox = s->x - j.x, oy = s->y - j.y;
        for (int y = 0; y < s->rows.height; ++y) {
            uint64_t* dst = &r.bits[size_t(y + oy) * size_t(r.words)];
            for (int k = 0; k < r.words; ++k)
                dst[k] |= wordAt(s->rows.row(y), s->rows.words, 64 * k - ox);
        }
    }
    r.countInk();
    j.hash = hashOf(r);
    j.lineStart = a.lineStart || b.lineStart;
    return j;
}

// A mark above or below a letter (the dot of an i or a j, an accent, the dot of an exclamation
// mark) joins that letter: one shape, one place and one library index instead of two, and a
// dot's place is the dearest on its line (far from the baseline, back over the letter before).
// A mark is at most half the letter's height, lies within its columns (two pixels aside at
// most) and no further from it than half its height, with a blank row between. Letters are
// found by the column of the mark's centre (strips of kStrip pixels), the few nearest in rows
// above and below only, so that a page of specks costs no more than one of text; shapes taller
// than `tallest` are pictures and shapes under `shortest` specks: neither takes marks.
void joinMarks(std::vector<Shape>& shapes, int tallest, int shortest) {
    constexpr int kStrip = 16;
    constexpr int kAside = 2;
    constexpr int kLook = 6; // letters looked at on each side of a mark
    // Each strip's shapes that reach over it (with kAside), by their top row and by the row
    // under their last.
    struct Strip {
        std::vector<std::pair<int, int>> byTop, byBottom;
    };
    std::unordered_map<int, Strip> strips;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Shape& l = shapes[i];
        if (l.rows.height > tallest || l.rows.width > tallest || l.rows.height < shortest)
            continue;
        for (int c = (l.x - kAside) / kStrip; c <= (l.x + l.rows.width + kAside) / kStrip; ++c) {
            Strip& strip = strips[c];
            strip.byTop.push_back({l.y, int(i)});
            strip.byBottom.push_back({l.y + l.rows.height, int(i)});
        }
    }
    for (auto& [c, strip] : strips) {
        std::sort(strip.byTop.begin(), strip.byTop.end());
        std::sort(strip.byBottom.begin(), strip.byBottom.end());
    }
    std::vector<int> partner(shapes.size(), -1);
    std::vector<char> taken(shapes.size(), 0); // holds a mark
    for (size_t m = 0; m < shapes.size(); ++m) {
        const Shape& mark = shapes[m];
        const int mTop = mark.y, mBottom = mark.y + mark.rows.height; // rows [top, bottom)
        const auto it = strips.find((mark.x + mark.rows.width / 2) / kStrip);
        if (it == strips.end() || 2 * mark.rows.height > tallest)
            continue;
        int best = -1, bestGap = 1 << 30;
        auto consider = [&](int l, int gap) {
            const Shape& letter = shapes[size_t(l)];
            if (size_t(l) == m || 2 * mark.rows.height > letter.rows.height ||
                mark.x < letter.x - kAside ||
                mark.x + mark.rows.width > letter.x + letter.rows.width + kAside ||
                2 * gap > letter.rows.height || gap >= bestGap ||
                std::max(letter.y + letter.rows.height, mBottom) - std::min(letter.y, mTop) >
                    tallest)
                return;
            best = l;
            bestGap = gap;
        };
        // Letters below, from the nearest: a blank row at least between.
        const auto& byTop = it->second.byTop;
        auto below = std::lower_bound(byTop.begin(), byTop.end(), std::pair{mBottom + 1, -1});
        for (int k = 0; k < kLook && below != byTop.end() && below->first - mBottom <= tallest / 2;
             ++k, ++below)
            consider(below->second, below->first - mBottom);
        // Letters above, from the nearest.
        const auto& byBottom = it->second.byBottom;
        auto above = std::lower_bound(byBottom.begin(), byBottom.end(), std::pair{mTop, -1});
        for (int k = 0; k < kLook && above != byBottom.begin(); ++k) {
            --above;
            if (mTop - above->first > tallest / 2)
                break;
            consider(above->second, mTop - above->first);
        }
        if (best >= 0 && partner[size_t(best)] < 0 && !taken[m]) {
            partner[m] = best;
            taken[size_t(best)] = 1;
        }
    }
    std::vector<Shape> out;
    out.reserve(shapes.size());
    std::vector<int> at(shapes.size(), -1);
    for (size_t i = 0; i < shapes.size(); ++i) {
        if (partner[i] >= 0)
            continue;
        at[i] = int(out.size());
        out.push_back(std::move(shapes[i]));
    }
    for (size_t i = 0; i < shapes.size(); ++i)
        if (partner[i] >= 0) {
            Shape& letter = out[size_t(at[size_t(partner[i])])];
            letter = joined(letter, shapes[i]);
        }
    shapes = std::move(out);
}

// Pixels that differ between a shape and a reference laid over each other as the refinement
// coder aligns them: the ink of both less twice what they share. Gives up, returning `bound`,
// once the difference cannot stay below it. With the processor's own popcount where it has one.
__attribute__((target_clones("popcnt", "default"))) int difference(const Rows& p, const Rows& r,
                                                                   int bound) {
    int dx, dy;
    alignment(p.width, p.height, r.width, r.height, dx, dy);
    // The difference stays below the bound only if more than this is shared.
    const int need = (p.mass() + r.mass() - bound) / 2;
    const int y0 = std::max(0, -dy);
    const int y1 = std::min(p.height, r.height - dy);
    if (y0 >= y1 || p.inkBelow[size_t(y0)] - p.inkBelow[size_t(y1)] <= need ||
        r.inkBelow[size_t(y0 + dy)] - r.inkBelow[size_t(y1 + dy)] <= need)
        return std::min(bound, p.mass() + r.mass());
    int shared = 0;
    if (p.words == 1 && r.words == 1) {
        // Gives up once what is shared, with what either has left in the rows to come, cannot
        // pass `need`.
        const uint64_t* pb = p.bits.data();
        const uint64_t* rb = r.bits.data();
        const int* pBelow = p.inkBelow.data();
        const int* rBelow = r.inkBelow.data();
        const int pLimit = need + p.inkBelow[size_t(y1)];
        const int rLimit = need + r.inkBelow[size_t(y1 + dy)];
        // Two loops, so that the shift's direction is not tested a row (lambdas would lose the
        // function's popcount target).
        // Two rows between the checks.
        bool whole = true;
        int y = y0;
        if (dx >= 0) {
            for (; y + 1 < y1 && whole; y += 2) {
                shared += std::popcount(pb[y] & (rb[y + dy] >> dx)) +
                          std::popcount(pb[y + 1] & (rb[y + 1 + dy] >> dx));
                whole = shared + pBelow[y + 2] > pLimit && shared + rBelow[y + 2 + dy] > rLimit;
            }
            if (y < y1 && whole)
                shared += std::popcount(pb[y] & (rb[y + dy] >> dx));
        } else {
            for (; y + 1 < y1 && whole; y += 2) {
                shared += std::popcount(pb[y] & (rb[y + dy] << -dx)) +
                          std::popcount(pb[y + 1] & (rb[y + 1 + dy] << -dx));
                whole = shared + pBelow[y + 2] > pLimit && shared + rBelow[y + 2 + dy] > rLimit;
            }
            if (y < y1 && whole)
                shared += std::popcount(pb[y] & (rb[y + dy] << -dx));
        }
        whole = whole && shared > need;
        if (!whole)
            return bound;
    } else {
        for (int y = y0; y < y1; ++y) {
            const uint64_t* pr = p.row(y);
            const uint64_t* rr = r.row(y + dy);
            for (int k = 0; k < p.words; ++k)
                shared += std::popcount(pr[k] & wordAt(rr, r.words, k * 64 + dx));
            if (shared + p.inkBelow[size_t(y + 1)] - p.inkBelow[size_t(y1)] <= need)
                return bound;
        }
    }
    return p.mass() + r.mass() - 2 * shared;
}

// A refinement context's bits gathered as refinementUnits() finds them (the shape's row above
// at x - 1, x, x + 1; the reference's row at x - 1, x, x + 1, and the row below; the reference's
// row above at x; the shape's pixel to the left), to the context the coder makes of them.
const std::array<uint16_t, 2048> kGathered = [] {
    std::array<uint16_t, 2048> to{};
    for (int g = 0; g < 2048; ++g) {
        auto bit = [&](int b) { return (g >> b) & 1; };
        to[size_t(g)] =
            uint16_t(bit(0) << 10 | bit(1) << 9 | bit(2) << 8 | bit(10) << 7 | bit(9) << 6 |
                     bit(3) << 5 | bit(4) << 4 | bit(5) << 3 | bit(6) << 2 | bit(7) << 1 | bit(8));
    }
    return to;
}();

// The units (ZpEstimate's) that coding `p` as a refinement of `r` takes in the refinement
// contexts `contexts` as they stand, or a little more than `limit` once it is past that. Where
// a pixel and the twelve of its context are all white or all black, as most are, a word's
// pixels are counted together.
__attribute__((target_clones("popcnt", "default"))) uint64_t
refinementUnits(const Rows& p, const Rows& r, const ZpContext* contexts, uint64_t limit) {
    int dx, dy;
    alignment(p.width, p.height, r.width, r.height, dx, dy);
    auto unitsOf = [&](int context, int bit) -> uint64_t {
        const ZpContext c = contexts[context];
        return ZpEstimate::kCosts[c][bit != (c & 1)];
    };
    const uint64_t white = unitsOf(0, 0), black = unitsOf(0x7ff, 1);
    // 64 pixels of a row of the shape, or of the reference laid over it, from pixel `at` on.
    auto shapeWord = [&](int y, int at) -> uint64_t {
        return y < 0 || y >= p.height ? 0 : wordAt(p.row(y), p.words, at);
    };
    auto referenceWord = [&](int y, int at) -> uint64_t {
        return y + dy < 0 || y + dy >= r.height ? 0 : wordAt(r.row(y + dy), r.words, at + dx);
    };
    // Three pixels from bit i of `lo`, continued in `hi`.
    auto three = [](uint64_t lo, uint64_t hi, int i) -> int {
        return int((i < 62 ? lo >> i : (lo >> i) | (hi << (64 - i))) & 7);
    };
    const uint64_t lastValid = p.width % 64 ? (uint64_t(1) << (p.width % 64)) - 1 : ~uint64_t(0);
    uint64_t units = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int k = 0; k < p.words; ++k) {
            const int x = 64 * k;
            const uint64_t above = shapeWord(y - 1, x - 1), aboveNext = shapeWord(y - 1, x + 63);
            const uint64_t here = referenceWord(y, x - 1), hereNext = referenceWord(y, x + 63);
            const uint64_t below = referenceWord(y + 1, x - 1),
                           belowNext = referenceWord(y + 1, x + 63);
            const uint64_t referenceAbove = referenceWord(y - 1, x);
            const uint64_t left = shapeWord(y, x - 1);
            const uint64_t own = p.row(y)[k];
            // The same pixels as planes, one for each place around the pixel.
            const uint64_t planes[11] = {above,
                                         (above >> 1) | (aboveNext << 63),
                                         (above >> 2) | (aboveNext << 62),
                                         here,
                                         (here >> 1) | (hereNext << 63),
                                         (here >> 2) | (hereNext << 62),
                                         below,
                                         (below >> 1) | (belowNext << 63),
                                         (below >> 2) | (belowNext << 62),
                                         referenceAbove,
                                         left};
            uint64_t any = own, all = own;
            for (const uint64_t plane : planes) {
                any |= plane;
                all &= plane;
            }
            const uint64_t valid = k == p.words - 1 ? lastValid : ~uint64_t(0);
            units += uint64_t(std::popcount(valid & ~any)) * white +
                     uint64_t(std::popcount(valid & all)) * black;
            for (uint64_t rest = valid & any & ~all; rest != 0; rest &= rest - 1) {
                const int i = std::countr_zero(rest);
                const int gathered = three(above, aboveNext, i) | three(here, hereNext, i) << 3 |
                                     three(below, belowNext, i) << 6 |
                                     int((referenceAbove >> i) & 1) << 9 |
                                     int((left >> i) & 1) << 10;
                units += unitsOf(kGathered[size_t(gathered)], int((own >> i) & 1));
            }
        }
        if (units > limit)
            return units;
    }
    return units;
}

__extension__ typedef unsigned __int128 Wide;

int lowestSet(uint64_t v) {
    return std::countr_zero(v);
}
int lowestSet(Wide v) {
    const uint64_t low = uint64_t(v);
    return low != 0 ? std::countr_zero(low) : 64 + std::countr_zero(uint64_t(v >> 64));
}

// refinementDelta() for a shape at least two pixels narrower than W and references no wider
// than W: a reference's row laid over the shape's row from pixel -1 on, with the two pixels
// after the shape's last, fits in one W.
template <class W>
int64_t narrowDelta(const Rows& p, const Rows& a, const Rows& b, const ZpContext* contexts) {
    constexpr int kBits = int(sizeof(W) * 8);
    auto rowOf = [](const Rows& r, int y) -> W {
        const uint64_t* row = r.row(y);
        W v = row[0];
        if constexpr (kBits > 64) {
            if (r.words > 1)
                v |= W(row[1]) << 64;
        }
        return v;
    };
    auto laid = [&](const Rows& r, int dx, int ry) -> W {
        if (ry < 0 || ry >= r.height)
            return 0;
        const W v = rowOf(r, ry);
        return dx >= 1 ? W(v >> (dx - 1)) : W(v << (1 - dx));
    };
    auto unitsOf = [&](int gathered, int bit) -> int64_t {
        const ZpContext c = contexts[kGathered[size_t(gathered)]];
        return ZpEstimate::kCosts[c][bit != (c & 1)];
    };
    const W valid = W(~W(0)) >> (kBits - p.width);
    int dxa, dya, dxb, dyb;
    alignment(p.width, p.height, a.width, a.height, dxa, dya);
    alignment(p.width, p.height, b.width, b.height, dxb, dyb);
    W aUp = laid(a, dxa, dya - 1), bUp = laid(b, dxb, dyb - 1);
    W aHere = laid(a, dxa, dya), bHere = laid(b, dxb, dyb);
    W above = 0; // the shape's row above, from pixel -1 on
    int64_t delta = 0;
    for (int y = 0; y < p.height; ++y) {
        const W aBelow = laid(a, dxa, y + 1 + dya), bBelow = laid(b, dxb, y + 1 + dyb);
        const W h = aHere ^ bHere, d = aBelow ^ bBelow;
        W differ = (h | h >> 1 | h >> 2 | d | d >> 1 | d >> 2 | (aUp ^ bUp) >> 1) & valid;
        const W own = rowOf(p, y);
        const W left = W(own << 1);
        for (; differ != 0; differ &= differ - 1) {
            const int i = lowestSet(differ);
            const int shape = int((above >> i) & 7) | int((left >> i) & 1) << 10;
            const int bit = int((own >> i) & 1);
            const int ga = shape | int((aHere >> i) & 7) << 3 | int((aBelow >> i) & 7) << 6 |
                           int((aUp >> (i + 1)) & 1) << 9;
            const int gb = shape | int((bHere >> i) & 7) << 3 | int((bBelow >> i) & 7) << 6 |
                           int((bUp >> (i + 1)) & 1) << 9;
            delta += unitsOf(gb, bit) - unitsOf(ga, bit);
        }
        above = left;
        aUp = aHere;
        bUp = bHere;
        aHere = aBelow;
        bHere = bBelow;
    }
    return delta;
}

// How many units (ZpEstimate's) more coding `p` as a refinement of `b` takes than of `a`, in
// the refinement contexts `contexts` as they stand. Only pixels near which the two references
// differ, laid over the shape as the coder lays them, have contexts that differ: the rest take
// the same either way and are not looked at.
__attribute__((target_clones("popcnt", "default"))) int64_t
refinementDelta(const Rows& p, const Rows& a, const Rows& b, const ZpContext* contexts) {
    if (p.width <= 62 && a.words == 1 && b.words == 1)
        return narrowDelta<uint64_t>(p, a, b, contexts);
    if (p.width <= 126 && a.words <= 2 && b.words <= 2)
        return narrowDelta<Wide>(p, a, b, contexts);
    // A reference laid over the shape: for the shape's row y, the words of its rows y and y + 1
    // from pixel x - 1 on with the two pixels after them, moved down a row at a time.
    struct Laid {
        const Rows& r;
        int dx = 0, dy = 0;
        uint64_t here = 0, hereNext = 0, below = 0, belowNext = 0;
        Laid(const Rows& reference, const Rows& shape) : r(reference) {
            alignment(shape.width, shape.height, r.width, r.height, dx, dy);
        }
        uint64_t word(int y, int at) const {
            return y + dy < 0 || y + dy >= r.height ? 0 : wordAt(r.row(y + dy), r.words, at + dx);
        }
        // At row -1, the row above the shape's first.
        void start(int x) {
            here = word(-1, x - 1);
            hereNext = word(-1, x + 63);
            below = word(0, x - 1);
            belowNext = word(0, x + 63);
        }
        // To row y; returns the row above's pixels from x on.
        uint64_t down(int y, int x) {
            const uint64_t above = (here >> 1) | (hereNext << 63);
            here = below;
            hereNext = belowNext;
            below = word(y + 1, x - 1);
            belowNext = word(y + 1, x + 63);
            return above;
        }
    };
    auto three = [](uint64_t lo, uint64_t hi, int i) -> int {
        return int((i < 62 ? lo >> i : (lo >> i) | (hi << (64 - i))) & 7);
    };
    auto planesDiffer = [](const Laid& l, const Laid& m) {
        const uint64_t h = l.here ^ m.here, hn = l.hereNext ^ m.hereNext;
        const uint64_t d = l.below ^ m.below, dn = l.belowNext ^ m.belowNext;
        return h | ((h >> 1) | (hn << 63)) | ((h >> 2) | (hn << 62)) | d | ((d >> 1) | (dn << 63)) |
               ((d >> 2) | (dn << 62));
    };
    auto unitsOf = [&](int gathered, int bit) -> int64_t {
        const ZpContext c = contexts[kGathered[size_t(gathered)]];
        return ZpEstimate::kCosts[c][bit != (c & 1)];
    };
    const uint64_t lastValid = p.width % 64 ? (uint64_t(1) << (p.width % 64)) - 1 : ~uint64_t(0);
    int64_t delta = 0;
    auto shapeWord = [&](int y, int at) -> uint64_t {
        return y < 0 || y >= p.height ? 0 : wordAt(p.row(y), p.words, at);
    };
    for (int k = 0; k < p.words; ++k) {
        const int x = 64 * k;
        const uint64_t valid = k == p.words - 1 ? lastValid : ~uint64_t(0);
        Laid la(a, p), lb(b, p);
        la.start(x);
        lb.start(x);
        uint64_t above = 0, aboveNext = 0; // the shape's row above, from x - 1
        for (int y = 0; y < p.height; ++y) {
            const uint64_t aboveA = la.down(y, x), aboveB = lb.down(y, x);
            const uint64_t left = shapeWord(y, x - 1), leftNext = shapeWord(y, x + 63);
            uint64_t differ = (planesDiffer(la, lb) | (aboveA ^ aboveB)) & valid;
            const uint64_t own = p.row(y)[k];
            for (; differ != 0; differ &= differ - 1) {
                const int i = std::countr_zero(differ);
                const int shape = three(above, aboveNext, i) | int((left >> i) & 1) << 10;
                auto gathered = [&](const Laid& l, uint64_t referenceAbove) {
                    return shape | three(l.here, l.hereNext, i) << 3 |
                           three(l.below, l.belowNext, i) << 6 |
                           int((referenceAbove >> i) & 1) << 9;
                };
                const int bit = int((own >> i) & 1);
                delta += unitsOf(gathered(lb, aboveB), bit) - unitsOf(gathered(la, aboveA), bit);
            }
            above = left;
            aboveNext = leftNext;
        }
    }
    return delta;
}

// Shapes alike enough to be coded from each other, found by their first member: a shape joins
// the nearest class whose first member differs from it in at most a third of its ink.
struct ShapeClass {
    Rows first;
    int members = 0;         // distinct shapes
    int lastPage = -1;       // the last page with a member
    int pages = 0;           // pages with a member
    int dictionary = -1;     // its first member's index in the shared dictionary
    int dictionaryCount = 0; // its members there, from that index on
    std::vector<Rows> more;  // for the dictionary: the first member of later pages (Classer::kMore)
};

// Classes by the size of their first member, so that a shape is compared with the few of a
// like size and mass, never with all earlier shapes.
class Classer {
public:
    explicit Classer(bool refine) : m_refine(refine) {}

    // A class of its own for each shape of a shared dictionary, in its order.
    void seed(const std::vector<Bitmap>& dictionary) {
        for (const Bitmap& b : dictionary) {
            const int c = create(rowsOf(b));
            m_classes[size_t(c)].dictionary = c;
            m_classes[size_t(c)].dictionaryCount = 1;
        }
    }

    // The class of a distinct shape of page `page`: the nearest close enough, or a new one.
    int classify(const Rows& rows, int page) {
        const int m = rows.mass();
        int best = -1;
        // A refinement pays while the difference stays a small part of the shape.
        int bestDiff = m_refine ? std::max(3, m / 3) + 1 : 1;
        // Close enough to stop looking.
        const int good = m / 16;
        for (int slack = 0; slack <= 2 * kSizeSlack && bestDiff > good; ++slack) {
            for (int dw = -kSizeSlack; dw <= kSizeSlack; ++dw) {
                const int dh = slack - std::abs(dw);
                if (dh > kSizeSlack || dh < 0)
                    continue;
                for (const int sh : {dh, -dh}) {
                    consider(rows, rows.width + dw, rows.height + sh, best, bestDiff);
                    if (sh == 0)
                        break;
                }
            }
        }
        if (best < 0)
            best = create(rows);
        ShapeClass& c = m_classes[size_t(best)];
        ++c.members;
        if (c.lastPage != page) {
            if (c.lastPage >= 0 && int(c.more.size()) < kMore) {
                m_memory += rows.bits.size() * 8 + rows.inkBelow.size() * 4;
                c.more.push_back(rows);
            }
            c.lastPage = page;
            ++c.pages;
        }
        return best;
    }

    ShapeClass& at(int c) { return m_classes[size_t(c)]; }
    const ShapeClass& at(int c) const { return m_classes[size_t(c)]; }
    int size() const { return int(m_classes.size()); }
    // Bytes the classes take, roughly.
    size_t memory() const { return m_memory; }

private:
    static constexpr int kSizeSlack = 2;
    // A class's members for the shared dictionary beyond its first: each page's first, from the
    // second page on, up to this many (the 20-page book: 687,131 B with none, 673,712 with 3,
    // 668,450 with 10, 666,710 with one from every later page).
    static constexpr int kMore = 19;
    static uint64_t key(int w, int h) { return (uint64_t(uint32_t(w)) << 32) | uint32_t(h); }

    int create(Rows rows) {
        m_memory += sizeof(ShapeClass) + 16 + rows.bits.size() * 8 + rows.inkBelow.size() * 4;
        const uint64_t k = key(rows.width, rows.height);
        ShapeClass c;
        c.first = std::move(rows);
        m_classes.push_back(std::move(c));
        const int index = int(m_classes.size() - 1);
        m_bySize[k].push_back(index);
        return index;
    }

    void consider(const Rows& rows, int w, int h, int& best, int& bestDiff) const {
        auto it = m_bySize.find(key(w, h));
        if (it == m_bySize.end())
            return;
        for (const int index : it->second) {
            const ShapeClass& c = m_classes[size_t(index)];
            if (std::abs(c.first.mass() - rows.mass()) >= bestDiff)
                continue;
            const int d = difference(rows, c.first, bestDiff);
            if (d < bestDiff) {
                bestDiff = d;
                best = index;
            }
        }
    }

    bool m_refine = true;
    std::vector<ShapeClass> m_classes;
    std::unordered_map<uint64_t, std::vector<int>> m_bySize;
    size_t m_memory = 0;
};

// What a page keeps until it is coded: its distinct shapes, each with its class, and where each
// shape goes, in reading order.
struct PageParts {
    int width = 0;
    int height = 0;
    int dpi = 0;
    std::vector<Rows> shapes; // distinct shapes, in the order they first appear
    std::vector<int> classOf; // each distinct shape's class; -1 for pictures and rules
    struct Place {
        int shape = 0;
        int x = 0;
        int y = 0;
        bool lineStart = false;
    };
    std::vector<Place> places;
};

// Whether marks join their letters (joinMarks()): not where the blits of a compound page's mask
// must be its shapes one by one, each with its colour.
bool joinsMarks(const Jb2Options& options) {
    return !options.keepBlits;
}

// A shape's bands: its runs of rows with ink, blank rows between (a letter and its marks), each
// cut to its ink's columns, and where it lies in the shape.
struct Band {
    Bitmap bits;
    int x = 0;
    int y = 0;
};
std::vector<Band> bandsOf(const Bitmap& b) {
    std::vector<Band> bands;
    auto inkIn = [&](int y) {
        const uint8_t* row = &b.bits[size_t(y) * size_t(b.width)];
        return std::any_of(row, row + b.width, [](uint8_t v) { return v != 0; });
    };
    for (int y = 0; y < b.height;) {
        if (!inkIn(y)) {
            ++y;
            continue;
        }
        int end = y;
        while (end < b.height && inkIn(end))
            ++end;
        int x0 = b.width, x1 = 0;
        for (int r = y; r < end; ++r)
            for (int x = 0; x < b.width; ++x)
                if (b.at(x, r)) {
                    x0 = std::min(x0, x);
                    x1 = std::max(x1, x + 1);
                }
        Band band{Bitmap(x1 - x0, end - y), x0, y};
        for (int r = y; r < end; ++r)
            std::copy_n(&b.bits[size_t(r) * size_t(b.width) + size_t(x0)], x1 - x0,
                        &band.bits.bits[size_t(r - y) * size_t(x1 - x0)]);
        bands.push_back(std::move(band));
        y = end;
    }
    return bands;
}

// Lossy: a shape of several pieces (a letter with its marks) is drawn as `twin` placed (dx, dy)
// from it only when each of its pieces is a twin of the twin's piece there, in its own place
// within a pixel (of 300 dpi): the judge weighs shapes whole, where an i's dot set apart from
// its stem, or a stem's serif, counts for little against the rest.
// `own` is bandsOf() the shape, found once for all its candidates.
bool piecesAgree(const std::vector<Band>& own, const Bitmap& twin, int dx, int dy, int dpi) {
    const std::vector<Band> drawn = bandsOf(twin);
    if (own.size() != drawn.size())
        return false;
    if (own.size() == 1)
        return true;
    const int reach = reachAt(dpi);
    for (size_t i = 0; i < own.size(); ++i) {
        if (std::abs(dx + drawn[i].x - own[i].x) > reach ||
            std::abs(dy + drawn[i].y - own[i].y) > reach)
            return false;
        if (drawn[i].bits != own[i].bits && !judgeTwins(drawn[i].bits, own[i].bits, dpi).twins)
            return false;
    }
    return true;
}

// A page's parts; with `marks`, a mark joins its letter (joinMarks()).
PageParts collect(const PageView& page, Classer& classer, int pageIndex, bool marks) {
    PageParts parts;
    parts.width = page.width;
    parts.height = page.height;
    parts.dpi = page.dpi;
    std::vector<Shape> shapes = components(page);
    // Shapes this large are pictures or rules: coded once, never matched.
    const int largest = std::max(256, page.dpi);
    if (marks)
        joinMarks(shapes, largest, shortestLetter(page.dpi));
    readingOrder(shapes);
    std::unordered_multimap<uint64_t, int> byHash;
    parts.places.reserve(shapes.size());
    for (Shape& s : shapes) {
        if (s.rows.width > largest || s.rows.height > largest) {
            parts.places.push_back({int(parts.shapes.size()), s.x, s.y, s.lineStart});
            parts.shapes.push_back(std::move(s.rows));
            parts.classOf.push_back(-1);
            continue;
        }
        int same = -1;
        auto range = byHash.equal_range(s.hash);
        for (auto it = range.first; it != range.second && same < 0; ++it)
            if (parts.shapes[size_t(it->second)] == s.rows)
                same = it->second;
        if (same < 0) {
            same = int(parts.shapes.size());
            byHash.emplace(s.hash, same);
            parts.classOf.push_back(classer.classify(s.rows, pageIndex));
            parts.shapes.push_back(std::move(s.rows));
        }
        parts.places.push_back({same, s.x, s.y, s.lineStart});
    }
    return parts;
}

// Lossy: `bits` (`rows`) at `p` cleaned toward `reference`, laid over it as the refinement
// lays them.
std::optional<Jb2Twins::Cleaned> cleanedFor(const Jb2Twins& twins, const Rows& rows,
                                            const Bitmap& bits, const PageParts::Place& p,
                                            const Rows& reference) {
    int dx, dy;
    alignment(rows.width, rows.height, reference.width, reference.height, dx, dy);
    return twins.cleaned(bits, p.x, p.y, bitmapOf(reference), -dx, -dy);
}

// Of a class's earlier members, how many are compared with a new one, nearest in mass first.
constexpr int kCandidates = 128;
// Of those, how many of the nearest are weighed by the bits they would take: the nearest by
// pixels is not always the cheapest (about 2 % smaller pages with three).
constexpr int kChoices = 3;

// Codes a page's parts. Each shape of a class is coded as a refinement of the nearest (fewest
// pixels differ) of the class's shape in the dictionary and its members coded before it; a
// class with no shape in the dictionary starts with its first member coded on its own.
// With `twins` (the lossy mode), a shape with an earlier twin is drawn as that twin instead.
// Each place is coded in these steps, the first that codes it ending them: a copy of a shape
// coded before (copyOfCoded), one of the dictionary's (nearDictionary, which also offers the
// dictionary's others as references), a twin (drawnAsTwin, lossy); else the nearest of the
// class's members (nearMembers), the cheapest reference of those (cheapestReference), and the
// shape coded from it or on its own (codeShape).
class PageCoder {
public:
    PageCoder(const PageParts& parts, const Classer& classer, const std::vector<Bitmap>* dictionary,
              const std::vector<Rows>* dictionaryRows, Jb2Stats& counts, Jb2Twins* twins,
              Jb2Tally* tally)
        : m_parts(parts), m_classer(classer), m_dictionary(dictionary),
          m_dictionaryRows(dictionaryRows), m_counts(counts), m_twins(twins),
          m_writer(parts.width, parts.height, dictionary), m_libraryIndex(parts.shapes.size(), -1) {
        m_writer.tallyInto(tally);
        // Lossy: a shape placed once may be drawn cleaned (the copies of one placed again would
        // not be judged).
        if (twins) {
            m_places.assign(parts.shapes.size(), 0);
            for (const PageParts::Place& p : parts.places)
                ++m_places[size_t(p.shape)];
        }
    }

    Bytes code() {
        m_counts.pixels = qint64(m_parts.width) * m_parts.height;
        for (const PageParts::Place& p : m_parts.places)
            place(p);
        if (m_twins)
            m_counts.changed = m_twins->changed();
        return m_writer.finish();
    }

private:
    static constexpr int kDictionaryShape = -2; // shape numbers at and below: the dictionary's
    // The nearest few by pixels that differ (kDictionaryShape - index for the dictionary's).
    struct Near {
        std::pair<int, int> shapes[kChoices]; // difference, shape
        int count = 0;
        void offer(int d, int j) {
            if (count == kChoices && d >= shapes[kChoices - 1].first)
                return;
            int k = count < kChoices ? count++ : kChoices - 1;
            for (; k > 0 && shapes[k - 1].first > d; --k)
                shapes[k] = shapes[k - 1];
            shapes[k] = {d, j};
        }
        // Only those near the nearest are worth weighing.
        int bound() const {
            const int last = count < kChoices ? 1 << 30 : shapes[kChoices - 1].first;
            return count == 0 ? last : std::min(last, shapes[0].first * 3 / 2 + 4);
        }
    };

    void place(const PageParts::Place& p) {
        const size_t i = size_t(p.shape);
        const Rows& rows = m_parts.shapes[i];
        ++m_counts.shapes;
        if (p.lineStart)
            m_writer.beginLine();
        if (copyOfCoded(i, p))
            return;
        const int c = m_parts.classOf[i];
        if (c < 0) {
            // Pictures and rules are placed once and never copied.
            m_writer.newSymbol(bitmapOf(rows), p.x, p.y, false);
            ++m_counts.direct;
            return;
        }
        const Bitmap bits = bitmapOf(rows);
        Near near;
        if (nearDictionary(i, c, p, near) || drawnAsTwin(bits, p))
            return;
        nearMembers(i, c, near);
        const Rows* reference = nullptr;
        const int match = near.count > 0 ? cheapestReference(rows, bits, near, reference) : -1;
        codeShape(i, bits, p, match, reference);
    }

    bool copyOfCoded(size_t i, const PageParts::Place& p) {
        if (m_libraryIndex[i] < 0)
            return false;
        m_writer.copy(m_libraryIndex[i], p.x, p.y);
        ++m_counts.copies;
        return true;
    }

    // A copy of one of the class's shapes in the dictionary, or those as references.
    bool nearDictionary(size_t i, int c, const PageParts::Place& p, Near& near) {
        const ShapeClass& k = m_classer.at(c);
        if (!m_dictionary || k.dictionary < 0)
            return false;
        const Rows& rows = m_parts.shapes[i];
        for (int e = 0; e < k.dictionaryCount; ++e) {
            const int index = k.dictionary + e;
            const Rows& d = (*m_dictionaryRows)[size_t(index)];
            if (d == rows) {
                m_libraryIndex[i] = index;
                m_writer.copy(index, p.x, p.y);
                ++m_counts.copies;
                return true;
            }
            if (const int most = near.bound(), dd = difference(rows, d, most); dd < most)
                near.offer(dd, kDictionaryShape - index);
        }
        return false;
    }

    // Lossy: a shape with no copy of its own in the dictionary may be drawn as a twin.
    bool drawnAsTwin(const Bitmap& bits, const PageParts::Place& p) {
        if (!m_twins)
            return false;
        const std::vector<Band> own = bandsOf(bits);
        const auto twin = m_twins->twin(bits, p.x, p.y, [&](int, const Bitmap& t, int dx, int dy) {
            return piecesAgree(own, t, dx, dy, m_parts.dpi);
        });
        if (!twin)
            return false;
        m_writer.copy(twin->index, twin->x, twin->y);
        ++m_counts.copies;
        ++m_counts.twins;
        return true;
    }

    // The class's members coded before, by their mass, searched outwards from this shape's: the
    // difference is at least the difference of the masses, so the search stops once that is
    // too much. The shape then joins them.
    void nearMembers(size_t i, int c, Near& near) {
        const Rows& rows = m_parts.shapes[i];
        const int m = rows.mass();
        std::vector<std::pair<int, int>>& byMass = m_members[c]; // mass, shape
        const auto at = std::lower_bound(byMass.begin(), byMass.end(), std::pair{m, -1});
        auto up = at;
        auto down = at;
        for (int budget = kCandidates; near.bound() > 0 && budget > 0; --budget) {
            const int most = near.bound();
            const bool canUp = up != byMass.end() && up->first - m < most;
            const bool canDown = down != byMass.begin() && m - std::prev(down)->first < most;
            if (!canUp && !canDown)
                break;
            const bool goUp = canUp && (!canDown || up->first - m <= m - std::prev(down)->first);
            const int j = goUp ? (up++)->second : (--down)->second;
            const int d = difference(rows, m_parts.shapes[size_t(j)], most);
            if (d < most)
                near.offer(d, j);
        }
        byMass.insert(std::upper_bound(byMass.begin(), byMass.end(), std::pair{m, int(i)}),
                      std::pair{m, int(i)});
    }

    int indexOf(int j) const {
        return j <= kDictionaryShape ? kDictionaryShape - j : m_libraryIndex[size_t(j)];
    }
    const Rows& referenceOf(int j) const {
        return j <= kDictionaryShape ? (*m_dictionaryRows)[size_t(kDictionaryShape - j)]
                                     : m_parts.shapes[size_t(j)];
    }

    // Of the nearest few, and of the shape on its own where even the nearest is far, the one
    // that takes the fewest bits: its library index and shape (in `reference`), or -1 for the
    // shape on its own. The refinements' bits are counted from the nearest's.
    int cheapestReference(const Rows& rows, const Bitmap& bits, const Near& near,
                          const Rows*& reference) {
        const ZpContext* contexts = m_writer.refinementContexts();
        const Rows& nearest = referenceOf(near.shapes[0].second);
        int chosen = 0;
        double cheapest = 0;
        for (int q = 0; q < near.count; ++q) {
            const int j = near.shapes[q].second;
            double cost = m_writer.refinementHeaderCost(indexOf(j), rows.width, rows.height, true);
            if (q > 0)
                cost += double(refinementDelta(rows, nearest, referenceOf(j), contexts)) /
                        ZpEstimate::kUnit;
            if (q == 0 || cost < cheapest) {
                cheapest = cost;
                chosen = q;
            }
        }
        reference = &referenceOf(near.shapes[chosen].second);
        if (4 * near.shapes[0].first > rows.mass()) {
            const double pixels =
                double(refinementUnits(rows, nearest, contexts, ~uint64_t(0))) / ZpEstimate::kUnit;
            if (m_writer.newSymbolCost(bits, true) < cheapest + pixels)
                return -1;
        }
        return indexOf(near.shapes[chosen].second);
    }

    // The shape coded on its own (`match` -1) or refined from library shape `match`
    // (`reference`). Everything goes into the library: any later shape may refer to it.
    void codeShape(size_t i, const Bitmap& bits, const PageParts::Place& p, int match,
                   const Rows* reference) {
        if (match < 0) {
            m_libraryIndex[i] = m_writer.newSymbol(bits, p.x, p.y, true);
            ++m_counts.direct;
        } else if (const auto clean =
                       m_twins && m_places[i] == 1
                           ? cleanedFor(*m_twins, m_parts.shapes[i], bits, p, *reference)
                           : std::nullopt) {
            // Lossy: its edge noise drawn as the reference has it.
            m_libraryIndex[i] =
                m_writer.refinedSymbol(clean->shape, match, clean->x, clean->y, true);
            ++m_counts.refinements;
            m_twins->coded(m_libraryIndex[i], *clean);
            return;
        } else {
            m_libraryIndex[i] = m_writer.refinedSymbol(bits, match, p.x, p.y, true);
            ++m_counts.refinements;
        }
        if (m_twins)
            m_twins->coded(m_libraryIndex[i]);
    }

    const PageParts& m_parts;
    const Classer& m_classer;
    const std::vector<Bitmap>* m_dictionary;
    const std::vector<Rows>* m_dictionaryRows;
    Jb2Stats& m_counts;
    Jb2Twins* m_twins;
    Jb2Writer m_writer;
    std::vector<int> m_libraryIndex; // each distinct shape's, once coded; -1 before
    std::vector<int> m_places;       // lossy: how often each distinct shape is placed
    // Per class: its members coded so far, by mass.
    std::unordered_map<int, std::vector<std::pair<int, int>>> m_members;
};

Bytes codePage(const PageParts& parts, const Classer& classer,
               const std::vector<Bitmap>* dictionary, const std::vector<Rows>* dictionaryRows,
               Jb2Stats& counts, Jb2Twins* twins = nullptr, Jb2Tally* tally = nullptr) {
    return PageCoder(parts, classer, dictionary, dictionaryRows, counts, twins, tally).code();
}

// The page as its parts draw it (every shape at its place), 1 bit a pixel as PBM, in `pixels`:
// the lossy mode looks at what lies near a twin.
PageView drawnPage(const PageParts& parts, Bytes& pixels) {
    const std::ptrdiff_t stride = (std::ptrdiff_t(parts.width) + 7) / 8;
    pixels.assign(size_t(stride) * size_t(std::max(parts.height, 0)), 0);
    for (const PageParts::Place& place : parts.places) {
        const Rows& r = parts.shapes[size_t(place.shape)];
        for (int y = 0; y < r.height; ++y) {
            uint8_t* line = &pixels[size_t(std::ptrdiff_t(place.y + y) * stride)];
            for (int k = 0; k < r.words; ++k) {
                for (uint64_t v = r.row(y)[k]; v != 0; v &= v - 1) {
                    const int x = place.x + 64 * k + std::countr_zero(v);
                    line[x / 8] |= uint8_t(0x80 >> (x % 8));
                }
            }
        }
    }
    return {PixelKind::Bitonal, parts.width, parts.height, parts.dpi, pixels.data(), stride};
}

void putBig16(Bytes& out, int v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

// A page's parts as bytes, for the spool, and back.
void put32(Bytes& out, uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(uint8_t(v >> s));
}

Bytes serialised(const PageParts& parts) {
    Bytes out;
    put32(out, uint32_t(parts.width));
    put32(out, uint32_t(parts.height));
    put32(out, uint32_t(parts.dpi));
    put32(out, uint32_t(parts.shapes.size()));
    for (size_t i = 0; i < parts.shapes.size(); ++i) {
        const Rows& r = parts.shapes[i];
        put32(out, uint32_t(r.width));
        put32(out, uint32_t(r.height));
        put32(out, uint32_t(parts.classOf[i]));
        const size_t at = out.size();
        out.resize(at + r.bits.size() * 8);
        std::memcpy(out.data() + at, r.bits.data(), r.bits.size() * 8);
    }
    put32(out, uint32_t(parts.places.size()));
    for (const PageParts::Place& p : parts.places) {
        put32(out, uint32_t(p.shape));
        put32(out, uint32_t(p.x));
        put32(out, uint32_t(p.y) | (p.lineStart ? 0x80000000u : 0));
    }
    return out;
}

// Reads what serialised() wrote; false when the bytes end early.
bool deserialise(const Bytes& in, PageParts& parts) {
    size_t at = 0;
    auto get = [&](uint32_t& v) {
        if (at + 4 > in.size())
            return false;
        v = uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 |
            uint32_t(in[at + 3]) << 24;
        at += 4;
        return true;
    };
    uint32_t w, h, dpi, n;
    if (!get(w) || !get(h) || !get(dpi) || !get(n))
        return false;
    parts.width = int(w);
    parts.height = int(h);
    parts.dpi = int(dpi);
    parts.shapes.resize(n);
    parts.classOf.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t sw, sh, c;
        if (!get(sw) || !get(sh) || !get(c))
            return false;
        Rows& r = parts.shapes[i];
        r.width = int(sw);
        r.height = int(sh);
        r.words = (r.width + 63) / 64;
        const size_t words = size_t(r.words) * size_t(r.height);
        if (at + words * 8 > in.size())
            return false;
        r.bits.resize(words);
        std::memcpy(r.bits.data(), in.data() + at, words * 8);
        at += words * 8;
        r.countInk();
        parts.classOf[i] = int(c);
    }
    uint32_t places;
    if (!get(places))
        return false;
    parts.places.resize(places);
    for (PageParts::Place& p : parts.places) {
        uint32_t s, x, y;
        if (!get(s) || !get(x) || !get(y) || s >= n)
            return false;
        p.shape = int(s);
        p.x = int(x);
        p.lineStart = (y & 0x80000000u) != 0;
        p.y = int(y & 0x7fffffffu);
    }
    return true;
}

} // namespace

std::vector<PageShape> pageShapes(const PageView& page, bool marks) {
    std::vector<PageShape> out;
    if (page.kind != PixelKind::Bitonal || checkPage(page) != Error::None)
        return out;
    std::vector<Shape> shapes = components(page);
    if (marks)
        joinMarks(shapes, std::max(256, page.dpi), shortestLetter(page.dpi));
    readingOrder(shapes);
    out.reserve(shapes.size());
    for (const Shape& s : shapes)
        out.push_back({bitmapOf(s.rows), s.x, s.y});
    return out;
}

Bytes encodeJb2Page(const PageView& page, const Jb2Options& options, Jb2Stats* stats) {
    if (page.kind != PixelKind::Bitonal || checkPage(page) != Error::None)
        return {};
    Classer classer(options.refine);
    std::vector<Rows> dictionaryRows;
    if (options.dictionary) {
        classer.seed(*options.dictionary);
        for (const Bitmap& b : *options.dictionary)
            dictionaryRows.push_back(rowsOf(b));
    }
    const PageParts parts = collect(page, classer, 0, joinsMarks(options));
    Jb2Stats counts;
    std::optional<Jb2Twins> twins;
    if (options.lossy)
        twins.emplace(page);
    Bytes sjbz = codePage(parts, classer, options.dictionary, &dictionaryRows, counts,
                          twins ? &*twins : nullptr, options.tally);
    // Each place is one blit of the stream, in order.
    if (stats && options.keepBlits) {
        counts.blits.reserve(parts.places.size());
        for (const PageParts::Place& place : parts.places)
            counts.blits.push_back({bitmapOf(parts.shapes[size_t(place.shape)]), place.x, place.y});
    }
    if (stats)
        *stats = std::move(counts);
    return sjbz;
}

std::pair<int64_t, int64_t> refinementDeltaBothWays(const Bitmap& shape, const Bitmap& a,
                                                    const Bitmap& b, const ZpContext* contexts) {
    const Rows p = rowsOf(shape), ra = rowsOf(a), rb = rowsOf(b);
    const uint64_t all = ~uint64_t(0);
    return {refinementDelta(p, ra, rb, contexts),
            int64_t(refinementUnits(p, rb, contexts, all)) -
                int64_t(refinementUnits(p, ra, contexts, all))};
}

Bytes encodeJb2Dictionary(const std::vector<Bitmap>& shapes, const std::vector<int>& refineFrom) {
    Jb2Writer writer;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const int from = i < refineFrom.size() ? refineFrom[i] : -1;
        if (from >= 0 && size_t(from) < i)
            writer.refinedLibrarySymbol(shapes[i], from);
        else
            writer.librarySymbol(shapes[i]);
    }
    return writer.finish();
}

Bytes infoChunk(int width, int height, int dpi) {
    Bytes info;
    putBig16(info, width);
    putBig16(info, height);
    info.push_back(24); // minor version
    info.push_back(0);  // major version
    const int d = dpi > 0 ? dpi : 300;
    info.push_back(uint8_t(d & 0xff)); // the resolution alone is little-endian
    info.push_back(uint8_t(d >> 8));
    info.push_back(22); // gamma 2.2
    info.push_back(1);  // upright
    return info;
}

// The pages of a document that shares its shapes, held until its end.
struct Jb2Stage::Document {
    explicit Document(const QString& spoolPath)
        : spool(spoolPath), spooling(!spoolPath.isEmpty()) {}
    ~Document() {
        if (spool.isOpen()) {
            spool.close();
            spool.remove();
        }
    }

    struct Page {
        bool alone = false; // coded already (an Sjbz), not parts
        qint64 offset = 0;
        qint64 size = 0;
        Bytes held; // without a spool
        int width = 0;
        int height = 0;
        int dpi = 0;
    };

    bool put(Page& page, Bytes bytes) {
        if (!spooling) {
            page.held = std::move(bytes);
            return true;
        }
        if (!spool.isOpen() && !spool.open(QIODevice::ReadWrite | QIODevice::Truncate))
            return false;
        page.offset = spool.size();
        page.size = qint64(bytes.size());
        return spool.seek(page.offset) &&
               spool.write(reinterpret_cast<const char*>(bytes.data()), page.size) == page.size;
    }

    bool get(const Page& page, Bytes& bytes) {
        if (!spooling) {
            bytes = page.held;
            return true;
        }
        bytes.resize(size_t(page.size));
        return spool.seek(page.offset) &&
               spool.read(reinterpret_cast<char*>(bytes.data()), page.size) == page.size;
    }

    Classer classer{true};
    std::vector<Page> pages;
    QFile spool;
    bool spooling = false;
    // The classes reached kClassMemory: later pages are coded alone.
    bool full = false;
};

Jb2Stage::Jb2Stage(const Jb2Options& options, bool shareShapes, const QString& spoolPath)
    : m_options(options), m(shareShapes ? std::make_unique<Document>(spoolPath) : nullptr) {
    m_options.dictionary = nullptr;
}

Jb2Stage::~Jb2Stage() = default;

Status Jb2Stage::addPage(const PageView& page, PageSink& sink, const AbortHook& abort) {
    const int index = m_pages++;
    if (const Error e = checkPage(page); e != Error::None)
        return {e, {}};
    if (page.kind != PixelKind::Bitonal)
        return {Error::BadDimension, QStringLiteral("not a bitonal page")};
    if (abort && abort())
        return {Error::Aborted, {}};
    if (size_t(index) >= m_stats.size())
        m_stats.resize(size_t(index) + 1);
    if (!m) {
        const Bytes sjbz = encodeJb2Page(page, m_options, &m_last);
        m_stats[size_t(index)] = m_last;
        m_stats[size_t(index)].blits.clear();
        if (!sink.chunk(index, "INFO", infoChunk(page.width, page.height, page.dpi)) ||
            !sink.chunk(index, "Sjbz", sjbz) || !sink.pageDone(index))
            return {Error::WriteFailed, {}};
        return {};
    }
    Document::Page held;
    held.width = page.width;
    held.height = page.height;
    held.dpi = page.dpi;
    held.alone = m->full;
    bool ok = false;
    if (held.alone) {
        ok = m->put(held, encodeJb2Page(page, m_options, &m_last));
        m_stats[size_t(index)] = m_last;
        m_stats[size_t(index)].blits.clear();
    } else {
        ok = m->put(held, serialised(collect(page, m->classer, index, joinsMarks(m_options))));
    }
    if (!ok)
        return {Error::NoSpace, {}};
    m->full = m->full || m->classer.memory() > kClassMemory;
    m->pages.push_back(std::move(held));
    return {};
}

Status Jb2Stage::finish(PageSink& sink, const AbortHook& abort) {
    if (!m || m->pages.empty())
        return {};
    // The dictionary: of each class with members on two pages or more its first member, coded on
    // its own, and the first member of each later page, up to Classer::kMore, refined from it.
    std::vector<Bitmap> dictionary;
    std::vector<Rows> dictionaryRows;
    std::vector<int> refineFrom;
    // Lossy pages draw a class's shapes as one of its members: more members only make each copy's
    // index dearer (the 20-page book: 172 KB with them, 136 KB without).
    const bool more = !m_options.lossy;
    if (m->pages.size() > 1) {
        for (int c = 0; c < m->classer.size(); ++c) {
            ShapeClass& k = m->classer.at(c);
            if (k.pages < 2)
                continue;
            k.dictionary = int(dictionary.size());
            k.dictionaryCount = 1 + (more ? int(k.more.size()) : 0);
            dictionary.push_back(bitmapOf(k.first));
            dictionaryRows.push_back(k.first);
            refineFrom.push_back(-1);
            if (!more)
                continue;
            for (const Rows& r : k.more) {
                dictionary.push_back(bitmapOf(r));
                dictionaryRows.push_back(r);
                refineFrom.push_back(k.dictionary);
            }
        }
    }
    if (!dictionary.empty() &&
        !sink.shared(kDictionaryId, encodeJb2Dictionary(dictionary, refineFrom)))
        return {Error::WriteFailed, {}};
    const std::string include = kDictionaryId;
    for (size_t i = 0; i < m->pages.size(); ++i) {
        if (abort && abort())
            return {Error::Aborted, {}};
        const Document::Page& page = m->pages[i];
        Bytes bytes;
        if (!m->get(page, bytes))
            return {Error::ReadFailed, {}};
        bool includes = false;
        Bytes sjbz;
        if (page.alone) {
            sjbz = std::move(bytes);
        } else {
            PageParts parts;
            if (!deserialise(bytes, parts))
                return {Error::ReadFailed, {}};
            bytes = {};
            for (const int c : parts.classOf)
                includes = includes || (c >= 0 && m->classer.at(c).dictionary >= 0);
            // Lossy: twins are judged on the page as its parts draw it, and the dictionary's
            // shapes are twins to the page's too.
            std::optional<Jb2Twins> twins;
            Bytes pixels;
            if (m_options.lossy) {
                twins.emplace(drawnPage(parts, pixels));
                for (size_t d = 0; includes && d < dictionary.size(); ++d)
                    twins->offer(dictionary[d], int(d));
            }
            sjbz = codePage(parts, m->classer, includes ? &dictionary : nullptr, &dictionaryRows,
                            m_stats[i], twins ? &*twins : nullptr, m_options.tally);
        }
        const int index = int(i);
        if (!sink.chunk(index, "INFO", infoChunk(page.width, page.height, page.dpi)) ||
            (includes && !sink.chunk(index, "INCL", Bytes(include.begin(), include.end()))) ||
            !sink.chunk(index, "Sjbz", sjbz) || !sink.pageDone(index))
            return {Error::WriteFailed, {}};
    }
    m->pages.clear();
    return {};
}

} // namespace vormelle::codec
