// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/jb2lossy.h"
#include "codec/leptonica.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace vormelle::codec {

namespace {

// `shape` at (x, y) on a clear 1-bit canvas of w x h.
PixPtr canvas(const Bitmap& shape, int w, int h, int x, int y) {
    PixPtr pix(pixCreate(w, h, 1));
    if (!pix)
        return pix;
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    for (int sy = 0; sy < shape.height; ++sy) {
        l_uint32* line = data + (sy + y) * wpl;
        for (int sx = 0; sx < shape.width; ++sx) {
            if (shape.at(sx, sy))
                SET_DATA_BIT(line, sx + x);
        }
    }
    return pix;
}

bool empty(PIX* pix) {
    l_int32 isEmpty = 1;
    return pix && pixZero(pix, &isEmpty) == 0 && isEmpty;
}

// Pieces of ink (8-connected) and loops: the background regions a shape closes.
struct Topology {
    int pieces = 0;
    int loops = 0;
    bool operator==(const Topology&) const = default;
};

// A pin-hole in a stroke smaller than a pixel of 300 dpi (at 600 dpi a few pixels of noise) is
// no loop a reader sees: loops count from reach x reach pixels.
Topology topologyOf(PIX* pix, int reach) {
    Topology t;
    l_int32 n = 0;
    if (pixCountConnComp(pix, 8, &n) == 0)
        t.pieces = n;
    // Loops of 8-connected ink are 4-connected background not reached from the border.
    PixPtr holes(pixHolesByFilling(pix, 4));
    l_int32 changed = 0;
    if (holes && reach > 1)
        holes.reset(
            pixSelectByArea(holes.get(), float(reach * reach), 4, L_SELECT_IF_GTE, &changed));
    if (holes && pixCountConnComp(holes.get(), 4, &n) == 0)
        t.loops = n;
    return t;
}

struct Measure {
    qint64 mass = 0;
    double cx = 0; // centroid, from the top left
    double cy = 0;
    // Each row's pixels, bit x for column x, for counting differences a row at a time; empty
    // for shapes wider than kPackedWidth.
    std::vector<quint64> rows;
};

constexpr int kPackedWidth = 64;

Measure measureOf(const Bitmap& s) {
    Measure m;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            if (s.at(x, y)) {
                ++m.mass;
                m.cx += x;
                m.cy += y;
            }
        }
    }
    if (s.width <= kPackedWidth) {
        m.rows.assign(size_t(s.height), 0);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                if (s.at(x, y))
                    m.rows[size_t(y)] |= quint64(1) << x;
    }
    if (m.mass) {
        m.cx /= double(m.mass);
        m.cy /= double(m.mass);
    }
    return m;
}

// The judge's pixel work where a pair fits in 64 columns: a row in one word, bit x for column x,
// the same tests as on Leptonica's images below, without an image made for each pair.
namespace packed {

using Rows = std::vector<quint64>;

// With the processor's own popcount where it has one.
__attribute__((target_clones("popcnt", "default"))) int count(const Rows& r) {
    int n = 0;
    for (const quint64 v : r)
        n += std::popcount(v);
    return n;
}

// Each set pixel grown to a square of 2 reach + 1.
Rows dilated(const Rows& r, int reach) {
    const std::ptrdiff_t n = std::ptrdiff_t(r.size());
    Rows across(r.size()), out(r.size(), 0);
    for (std::ptrdiff_t y = 0; y < n; ++y) {
        quint64 v = r[size_t(y)];
        for (int i = 1; i <= reach; ++i)
            v |= (r[size_t(y)] << i) | (r[size_t(y)] >> i);
        across[size_t(y)] = v;
    }
    for (std::ptrdiff_t y = 0; y < n; ++y)
        for (std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, y - reach);
             from <= std::min(n - 1, y + reach); ++from)
            out[size_t(y)] |= across[size_t(from)];
    return out;
}

// The pixels whose square of 2 reach + 1 is all set (none outside the rows).
Rows eroded(const Rows& r, int reach) {
    const std::ptrdiff_t n = std::ptrdiff_t(r.size());
    Rows across(r.size()), out(r.size(), 0);
    for (std::ptrdiff_t y = 0; y < n; ++y) {
        quint64 v = r[size_t(y)];
        for (int i = 1; i <= reach; ++i)
            v &= (r[size_t(y)] << i) & (r[size_t(y)] >> i);
        across[size_t(y)] = v;
    }
    for (std::ptrdiff_t y = reach; y < n - reach; ++y) {
        quint64 v = across[size_t(y)];
        for (std::ptrdiff_t j = 1; j <= reach && v; ++j)
            v &= across[size_t(y - j)] & across[size_t(y + j)];
        out[size_t(y)] = v;
    }
    return out;
}

// Whether some block of size x size pixels is all set.
bool hasBlock(const Rows& r, int size) {
    Rows across(r.size());
    for (size_t y = 0; y < r.size(); ++y) {
        quint64 v = r[y];
        for (int i = 1; i < size; ++i)
            v &= r[y] >> i;
        across[y] = v;
    }
    for (size_t y = 0; y + size_t(size) <= r.size(); ++y) {
        quint64 v = across[y];
        for (int j = 1; j < size && v; ++j)
            v &= across[y + size_t(j)];
        if (v)
            return true;
    }
    return false;
}

// What `seed` reaches within `set` (8- or 4-connected); the seed lies in the set.
Rows filled(Rows piece, const Rows& set, bool eight) {
    const size_t n = set.size();
    // Rows to look at again: a row's fill changes only when a row next to it did. Each row is
    // queued once at a time, so n places hold them (on the stack for the shapes of text).
    constexpr size_t kOnStack = 128;
    size_t todoOnStack[kOnStack];
    char queuedOnStack[kOnStack];
    std::vector<size_t> todoOnHeap;
    std::vector<char> queuedOnHeap;
    if (n > kOnStack) {
        todoOnHeap.resize(n);
        queuedOnHeap.resize(n);
    }
    size_t* const todo = n > kOnStack ? todoOnHeap.data() : todoOnStack;
    char* const queued = n > kOnStack ? queuedOnHeap.data() : queuedOnStack;
    std::fill_n(queued, n, char(0));
    size_t waiting = 0;
    auto again = [&](size_t y) {
        if (y < n && !queued[y]) {
            queued[y] = 1;
            todo[waiting++] = y;
        }
    };
    for (size_t y = 0; y < n; ++y) {
        if (piece[y]) {
            again(y - 1);
            again(y);
            again(y + 1);
        }
    }
    while (waiting > 0) {
        const size_t y = todo[--waiting];
        queued[y] = 0;
        quint64 near = (y > 0 ? piece[y - 1] : 0) | (y + 1 < n ? piece[y + 1] : 0);
        if (eight)
            near |= (near << 1) | (near >> 1);
        quint64 v = piece[y] | (near & set[y]);
        for (quint64 before = 0; before != v;) {
            before = v;
            v = (v | (v << 1) | (v >> 1)) & set[y];
        }
        if (v != piece[y]) {
            piece[y] = v;
            again(y - 1);
            again(y + 1);
        }
    }
    return piece;
}

// Takes the piece that holds the first pixel of `set` out of it; false when it is empty.
bool takePiece(Rows& set, Rows& piece, bool eight) {
    size_t first = 0;
    while (first < set.size() && !set[first])
        ++first;
    if (first == set.size())
        return false;
    Rows seed(set.size(), 0);
    seed[first] = set[first] & (~set[first] + 1);
    piece = filled(std::move(seed), set, eight);
    for (size_t y = 0; y < set.size(); ++y)
        set[y] &= ~piece[y];
    return true;
}

// Pieces of at least `least` pixels.
int pieces(Rows set, bool eight, int least = 1) {
    Rows piece;
    int n = 0;
    while (takePiece(set, piece, eight))
        n += least <= 1 || count(piece) >= least;
    return n;
}

// Whether no 8-connected piece of `set` has more than `most` pixels.
bool piecesAtMost(Rows set, int most) {
    if (most == 2) {
        // A piece of three pixels or more has a pixel with two of its eight neighbours in the
        // set (a tree spanning the piece has a node of two branches), and such a pixel makes one:
        // counted for every pixel at once, to two.
        for (size_t y = 0; y < set.size(); ++y) {
            if (!set[y])
                continue;
            const quint64 up = y > 0 ? set[y - 1] : 0, down = y + 1 < set.size() ? set[y + 1] : 0;
            const quint64 planes[8] = {up << 1,     up,        up >> 1, set[y] << 1,
                                       set[y] >> 1, down << 1, down,    down >> 1};
            quint64 one = 0, two = 0;
            for (const quint64 p : planes) {
                two |= one & p;
                one |= p;
            }
            if (two & set[y])
                return false;
        }
        return true;
    }
    Rows piece;
    while (takePiece(set, piece, true))
        if (count(piece) > most)
            return false;
    return true;
}

// A shape's rows (bit x for column x, `width` <= 62) with a pixel of margin all round.
Rows framed(const Rows& rows) {
    Rows out(rows.size() + 2, 0);
    for (size_t y = 0; y < rows.size(); ++y)
        out[y + 1] = rows[y] << 1;
    return out;
}

// As topologyOf() below, of framed rows `width` columns wide (with the margin).
Topology topologyOf(const Rows& ink, int width, int reach) {
    const quint64 full = width >= 64 ? ~quint64(0) : (quint64(1) << width) - 1;
    const size_t n = ink.size();
    Rows background(n), border(n, 0);
    for (size_t y = 0; y < n; ++y) {
        background[y] = ~ink[y] & full;
        border[y] = (y == 0 || y + 1 == n ? full : (quint64(1) | (quint64(1) << (width - 1)))) &
                    background[y];
    }
    const Rows outside = filled(border, background, false);
    for (size_t y = 0; y < n; ++y)
        background[y] &= ~outside[y];
    return {pieces(ink, true), pieces(background, false, reach * reach)};
}

bool thin(const Rows& r, int reach) {
    const int mass = count(r);
    const int edge = mass - count(eroded(r, reach));
    return edge > 0 && double(mass) / double(edge) < 1.3;
}

} // namespace packed

// Pixels that differ between `b` and `a` placed at (dx, dy) from b's top left.
// Counting stops once past `enough`: the count is then some number past it.
int differing(const Bitmap& a, const Bitmap& b, int dx, int dy,
              int enough = std::numeric_limits<int>::max()) {
    const int left = std::min(0, dx), top = std::min(0, dy);
    const int right = std::max(b.width, dx + a.width), bottom = std::max(b.height, dy + a.height);
    int changed = 0;
    for (int y = top; y < bottom && changed <= enough; ++y) {
        for (int x = left; x < right; ++x) {
            const bool inB = x >= 0 && y >= 0 && x < b.width && y < b.height && b.at(x, y);
            const int ax = x - dx, ay = y - dy;
            const bool inA = ax >= 0 && ay >= 0 && ax < a.width && ay < a.height && a.at(ax, ay);
            changed += inA != inB;
        }
    }
    return changed;
}

qint64 count(PIX* pix) {
    l_int32 n = 0;
    return pix && pixCountPixels(pix, &n, nullptr) == 0 ? n : 0;
}

// differing(), a row at a time where both shapes are packed and their union fits in 64 columns;
// with the processor's own popcount where it has one.
__attribute__((target_clones("popcnt", "default"))) int
differingRows(const Bitmap& a, const Measure& ma, const Bitmap& b, const Measure& mb, int dx,
              int dy, int enough) {
    const int left = std::min(0, dx), right = std::max(b.width, dx + a.width);
    if (ma.rows.empty() || mb.rows.empty() || right - left > 64)
        return differing(a, b, dx, dy, enough);
    const int top = std::min(0, dy), bottom = std::max(b.height, dy + a.height);
    int changed = 0;
    for (int y = top; y < bottom && changed <= enough; ++y) {
        const quint64 rb = y >= 0 && y < b.height ? mb.rows[size_t(y)] << -left : 0;
        const int ay = y - dy;
        const quint64 ra = ay >= 0 && ay < a.height ? ma.rows[size_t(ay)] << (dx - left) : 0;
        changed += std::popcount(ra ^ rb);
    }
    return changed;
}

// Whether the strokes are about a pixel or two wide (small type): then a serif, a flag or the
// tail of a comma is a line one pixel thick, and a thin difference can be a part of its own.
bool thinStrokes(PIX* pix, int reach) {
    const qint64 mass = count(pix);
    const PixPtr inner(pixErodeBrick(nullptr, pix, 2 * reach + 1, 2 * reach + 1));
    const qint64 edge = mass - count(inner.get());
    // A stroke w wide has about 2 edge pixels for every w of ink along it.
    return edge > 0 && double(mass) / double(edge) < 1.3;
}

// Twins' boxes differ by edge noise only: a pixel on each side, and one in all on a small side.
bool closeInSize(int a, int b, int reach) {
    return std::abs(a - b) <= (std::min(a, b) < 12 * reach ? reach : 2 * reach);
}

// A stem (l, I, 1, !): what tells them apart is their length (an ascender is a little taller
// than a capital) and a serif or flag at an end, a pixel or two in small type, no more than edge
// noise elsewhere. So stems are twins only when as long as each other and alike at both ends.
bool stem(const Bitmap& s) {
    return s.height >= 3 * std::max(s.width, 1);
}

// A stem whose serifs or foot make it wider (a 1 or an I in 7-point serif type: 7 pixels wide, 19
// tall): its middle third is a narrow upright bar.
bool serifedStem(const Bitmap& s) {
    int left = s.width, right = -1;
    for (int y = s.height / 3; y < s.height - s.height / 3; ++y) {
        for (int x = 0; x < s.width; ++x) {
            if (s.at(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return s.height >= 3 * std::max(right - left + 1, 1);
}

// Stems only: the pixels either has and the other lacks beside the stem (left or right of the
// columns both fill in their middle third) within the end rows, top and bottom, and in the
// stem's own columns at its tips; `beside` counts the ink beside the stem in the end rows.
int serifDifference(const Bitmap& a, const Bitmap& b, int dx, int dy, int reach,
                    int* beside = nullptr) {
    const int left = std::min(0, dx), top = std::min(0, dy);
    const int right = std::max(b.width, dx + a.width), bottom = std::max(b.height, dy + a.height);
    auto inA = [&](int x, int y) {
        const int ax = x - dx, ay = y - dy;
        return ax >= 0 && ay >= 0 && ax < a.width && ay < a.height && a.at(ax, ay);
    };
    auto inB = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < b.width && y < b.height && b.at(x, y);
    };
    const int h = bottom - top;
    int stemLeft = right, stemRight = left - 1;
    for (int x = left; x < right; ++x) {
        int both = 0, rows = 0;
        for (int y = top + h / 3; y < top + 2 * h / 3; ++y, ++rows)
            both += inA(x, y) && inB(x, y);
        if (rows && both * 2 > rows) {
            stemLeft = std::min(stemLeft, x);
            stemRight = std::max(stemRight, x);
        }
    }
    if (stemLeft > stemRight)
        return std::numeric_limits<int>::max();
    const int ends = 3 * reach;
    int differ = 0;
    for (int y = top; y < bottom; ++y) {
        if (y >= top + ends && y < bottom - ends)
            continue;
        for (int x = left; x < right; ++x) {
            if (x >= stemLeft && x <= stemRight)
                continue;
            differ += inA(x, y) != inB(x, y);
            if (beside)
                *beside += inA(x, y) || inB(x, y);
        }
    }
    // The stem's own columns at its very tips: an I's serif spans its top where a 1's flag comes
    // to a point. There a difference counts where it is a pixel of 300 dpi across and down (a
    // block of reach x reach), so a corner's edge noise at 600 dpi does not.
    for (const int tip : {top, bottom - reach}) {
        int run = 0; // columns, from the stem's left, whose tip rows all differ
        for (int x = stemLeft; x <= stemRight + 1; ++x) {
            bool differs = x <= stemRight;
            for (int y = tip; differs && y < tip + reach; ++y)
                differs = inA(x, y) != inB(x, y);
            if (differs) {
                ++run;
                continue;
            }
            if (run >= reach)
                differ += run * reach;
            run = 0;
        }
    }
    return differ;
}

// The boxes' sizes, and for stems their length and ends.
bool sizesAgree(const Bitmap& a, const Bitmap& b, int dx, int dy, int reach) {
    // The boxes first: the ends' pixels take longer to count.
    if (!closeInSize(a.width, b.width, reach) || !closeInSize(a.height, b.height, reach))
        return false;
    // Stems: as long as each other, and no serif or flag of their own (three pixels of 300 dpi
    // beside the stem at an end: I and l, 1 and I).
    if ((stem(a) || stem(b)) &&
        (a.height != b.height || serifDifference(a, b, dx, dy, reach) >= 3 * reach * reach))
        return false;
    // Wide serifs: their noise grows with them, a flag for a serif (1 and I) stays a large share.
    if (!stem(a) && !stem(b) && (serifedStem(a) || serifedStem(b))) {
        int beside = 0;
        const int differ = serifDifference(a, b, dx, dy, reach, &beside);
        if (differ >= 3 * reach * reach && 4 * std::int64_t(differ) > beside)
            return false;
    }
    return true;
}

// Every pixel of each next to ink of the other, with `a` at (dx, dy) from b's top left: what the
// structural test asks first, without building images for it.
bool withinAPixel(const Bitmap& a, const Bitmap& b, int dx, int dy, int reach) {
    auto covered = [reach](const Bitmap& self, const Bitmap& other, int ox, int oy) {
        // `other` at (ox, oy) in self's coordinates.
        for (int y = 0; y < self.height; ++y) {
            for (int x = 0; x < self.width; ++x) {
                if (!self.at(x, y))
                    continue;
                bool near = false;
                for (int ny = y - reach; ny <= y + reach && !near; ++ny) {
                    for (int nx = x - reach; nx <= x + reach && !near; ++nx) {
                        const int px = nx - ox, py = ny - oy;
                        near = px >= 0 && py >= 0 && px < other.width && py < other.height &&
                               other.at(px, py);
                    }
                }
                if (!near)
                    return false;
            }
        }
        return true;
    };
    return sizesAgree(a, b, dx, dy, reach) && covered(b, a, dx, dy) && covered(a, b, -dx, -dy);
}

// The structural test on the aligned pair; the pixel work is Leptonica's.
bool sameToReader(const Bitmap& a, const Bitmap& b, int dx, int dy, const Topology* knownA,
                  int reach) {
    // Within a pixel of each other: every pixel of each lies next to ink of the other. A
    // tail, a serif or a stroke of its own reaches further.
    if (!withinAPixel(a, b, dx, dy, reach))
        return false;
    // A pixel of margin all round, so that dilation and hole filling see the outside.
    const int left = std::min(0, dx) - 1, top = std::min(0, dy) - 1;
    const int w = std::max(b.width, dx + a.width) - left + 1;
    const int h = std::max(b.height, dy + a.height) - top + 1;
    const PixPtr pa = canvas(a, w, h, dx - left, dy - top);
    const PixPtr pb = canvas(b, w, h, -left, -top);
    if (!pa || !pb)
        return false;
    const bool thin = thinStrokes(pa.get(), reach) || thinStrokes(pb.get(), reach);
    for (int side = 0; side < 2; ++side) {
        PIX* self = side ? pb.get() : pa.get();
        PIX* other = side ? pa.get() : pb.get();
        // What one has and the other lacks is at most a pixel thick: a 2 x 2 block of it is a
        // part of its own (a filled corner, a bump, the start of a stroke).
        const PixPtr only(pixSubtract(nullptr, self, other));
        const PixPtr core(only ? pixErodeBrick(nullptr, only.get(), reach + 1, reach + 1)
                               : nullptr);
        if (!core || !empty(core.get()))
            return false;
        // In small type a one-pixel line of its own is a part too: only specks of noise of
        // at most two pixels may differ.
        if (thin) {
            l_int32 changedPieces = 0;
            const PixPtr large(pixSelectByArea(only.get(), float(2 * reach * reach), 8,
                                               L_SELECT_IF_GT, &changedPieces));
            if (!large || !empty(large.get()))
                return false;
        }
    }
    // As many loops (6 and 8, c and e) and as many pieces (a broken stroke, i and a dotless i).
    const Topology ta = knownA ? *knownA : topologyOf(pa.get(), reach);
    return ta == topologyOf(pb.get(), reach);
}

// Whether a shape's strokes are as thin as a pixel of 300 dpi (small type), from its packed rows
// where it has them.
bool thinShape(const Bitmap& s, const Measure& m, int reach) {
    if (!m.rows.empty())
        return packed::thin(m.rows, reach);
    const PixPtr pix = canvas(s, s.width + 2, s.height + 2, 1, 1);
    return pix && thinStrokes(pix.get(), reach);
}

// A shape's topology, from its packed rows where it has them.
Topology topologyOfShape(const Bitmap& s, const Measure& m, int reach) {
    if (!m.rows.empty() && s.width + 2 <= 64)
        return packed::topologyOf(packed::framed(m.rows), s.width + 2, reach);
    const PixPtr pix = canvas(s, s.width + 2, s.height + 2, 1, 1);
    return pix ? topologyOf(pix.get(), reach) : Topology{};
}

// sameToReader() on packed rows; nothing when the pair does not fit in 64 columns. `topologyB`
// is b's topology once it was needed.
std::optional<bool> sameToReaderPacked(const Bitmap& a, const Measure& ma, const Bitmap& b,
                                       const Measure& mb, int dx, int dy, const Topology* knownA,
                                       std::optional<Topology>& topologyB, int reach) {
    if (ma.rows.empty() || mb.rows.empty())
        return std::nullopt;
    // A margin the dilations and erosions do not reach past.
    const int m = reach + 1;
    const int left = std::min(0, dx), top = std::min(0, dy);
    const int w = std::max(b.width, dx + a.width) - left + 2 * m;
    const int h = std::max(b.height, dy + a.height) - top + 2 * m;
    if (w > 64)
        return std::nullopt;
    if (!sizesAgree(a, b, dx, dy, reach))
        return false;
    packed::Rows pa(size_t(h), 0), pb(size_t(h), 0);
    for (int y = 0; y < a.height; ++y)
        pa[size_t(y + dy - top + m)] = ma.rows[size_t(y)] << (dx - left + m);
    for (int y = 0; y < b.height; ++y)
        pb[size_t(y - top + m)] = mb.rows[size_t(y)] << (m - left);
    const packed::Rows nearA = packed::dilated(pa, reach), nearB = packed::dilated(pb, reach);
    for (size_t y = 0; y < size_t(h); ++y)
        if ((pa[y] & ~nearB[y]) || (pb[y] & ~nearA[y]))
            return false;
    const bool thin = packed::thin(pa, reach) || packed::thin(pb, reach);
    packed::Rows only(size_t(h), 0);
    for (int side = 0; side < 2; ++side) {
        const packed::Rows& self = side ? pb : pa;
        const packed::Rows& other = side ? pa : pb;
        for (size_t y = 0; y < size_t(h); ++y)
            only[y] = self[y] & ~other[y];
        if (packed::hasBlock(only, reach + 1) ||
            (thin && !packed::piecesAtMost(only, 2 * reach * reach)))
            return false;
    }
    const Topology ta = knownA ? *knownA : topologyOfShape(a, ma, reach);
    if (!topologyB)
        topologyB = topologyOfShape(b, mb, reach);
    return ta == *topologyB;
}

// Where `a` covers `b` best, and how many pixels then differ; not yet a verdict.
Verdict aligned(const Bitmap& a, const Measure& ma, const Bitmap& b, const Measure& mb, int reach) {
    Verdict v;
    v.changed = -1;
    if (a.width <= 0 || a.height <= 0 || b.width <= 0 || b.height <= 0 || !ma.mass || !mb.mass)
        return v;
    // Centroids on each other, then the best of the pixel positions around.
    const int cx = int(std::lround(mb.cx - ma.cx)), cy = int(std::lround(mb.cy - ma.cy));
    int best = -1;
    auto look = [&](int dx, int dy) {
        // A position no better than the best so far need not be counted to its end.
        const int d =
            differingRows(a, ma, b, mb, dx, dy, best < 0 ? std::numeric_limits<int>::max() : best);
        if (best < 0 || d < best) {
            best = d;
            v.dx = dx;
            v.dy = dy;
        }
    };
    if (reach == 1) {
        for (int dy = cy - 1; dy <= cy + 1; ++dy)
            for (int dx = cx - 1; dx <= cx + 1; ++dx)
                look(dx, dy);
        v.changed = best;
        return v;
    }
    // Wider (600 dpi and up): from the centroids a pixel at a time towards fewer differences,
    // as far as the reach; the difference falls steadily towards the best place.
    const int side = 2 * reach + 1;
    std::vector<bool> seen(size_t(side * side), false);
    auto once = [&](int dx, int dy) {
        if (std::abs(dx - cx) > reach || std::abs(dy - cy) > reach)
            return;
        const size_t at = size_t((dy - cy + reach) * side + (dx - cx + reach));
        if (seen[at])
            return;
        seen[at] = true;
        look(dx, dy);
    };
    once(cx, cy);
    for (int x = cx, y = cy;;) {
        for (int dy = y - 1; dy <= y + 1; ++dy)
            for (int dx = x - 1; dx <= x + 1; ++dx)
                once(dx, dy);
        if (v.dx == x && v.dy == y)
            break;
        x = v.dx;
        y = v.dy;
    }
    v.changed = best;
    return v;
}

Verdict judge(const Bitmap& a, const Measure& ma, const Bitmap& b, const Measure& mb,
              const Topology* knownA, int reach) {
    Verdict v = aligned(a, ma, b, mb, reach);
    if (v.changed < 0)
        return {};
    std::optional<Topology> topologyB;
    const std::optional<bool> same =
        sameToReaderPacked(a, ma, b, mb, v.dx, v.dy, knownA, topologyB, reach);
    v.twins = same ? *same : sameToReader(a, b, v.dx, v.dy, knownA, reach);
    return v;
}

} // namespace

int reachAt(int dpi) {
    return std::max(1, int(std::lround(dpi / 300.0)));
}

Verdict judgeTwins(const Bitmap& a, const Bitmap& b, int dpi) {
    return judge(a, measureOf(a), b, measureOf(b), nullptr, reachAt(dpi));
}

struct TwinFinder::State {
    struct Known {
        Bitmap shape;
        Measure measure;
        Topology topology;
        int uses = 0; // shapes drawn as it
    };
    std::vector<Known> known;              // every shape that was coded as itself
    std::vector<int> numbers;              // the number of each, as add() gave it
    std::unordered_map<int, int> byNumber; // known shapes by that number
    // Known shapes by size, for a look at their near sizes only.
    std::unordered_map<quint64, std::vector<int>> bySize;
    int added = 0;
    int reach = 1;
    qint64 changed = 0;
    qint64 budget = 0;

    static quint64 key(int w, int h) { return (quint64(quint32(w)) << 32) | quint32(h); }

    void keep(int number, const Bitmap& shape, const Measure& measure, const Topology& topology) {
        bySize[key(shape.width, shape.height)].push_back(int(known.size()));
        known.push_back({shape, measure, topology});
        numbers.push_back(number);
        byNumber[number] = int(known.size()) - 1;
    }
};

TwinFinder::TwinFinder() : m(std::make_unique<State>()) {}
TwinFinder::~TwinFinder() = default;

void TwinFinder::startPage(qint64 pixels, int dpi) {
    m->reach = reachAt(dpi);
    m->changed = 0;
    m->budget = pixels / 100;
}

qint64 TwinFinder::changed() const {
    return m->changed;
}

qint64 TwinFinder::budget() const {
    return m->budget;
}

TwinFinder::Choice TwinFinder::add(const Bitmap& shape, const Allowed& allowed) {
    const int number = m->added++;
    const Measure measure = measureOf(shape);
    // Twins differ by a pixel at each edge at most, so in size by two.
    struct Candidate {
        int index;
        qint64 massGap;
        int centred = 0;
        double rank = 0;
    };
    std::vector<Candidate> candidates;
    const int reach = m->reach;
    for (int h = shape.height - 2 * reach; h <= shape.height + 2 * reach; ++h) {
        for (int w = shape.width - 2 * reach; w <= shape.width + 2 * reach; ++w) {
            const auto it = m->bySize.find(State::key(w, h));
            if (it == m->bySize.end())
                continue;
            for (const int i : it->second) {
                const qint64 gap = std::llabs(m->known[size_t(i)].measure.mass - measure.mass);
                // Twins' ink differs by an edge's worth at most.
                if (gap * 4 <= std::max(measure.mass, m->known[size_t(i)].measure.mass))
                    candidates.push_back({i, gap, 0});
            }
        }
    }
    // At 600 dpi and up a pixel of edge noise is half a pixel of 300 dpi and twins pass the
    // judge less often at the first look: more are looked at (the 600 dpi page 25.4 to 23.7 KB
    // for 15 % more time; at 300 dpi 0.3 % smaller for as much).
    const size_t kNearest = reach > 1 ? 64 : 32;
    const size_t kLooks = reach > 1 ? 64 : 8;
    const size_t nearest = std::min(kNearest, candidates.size());
    // Which are the nearest is all that matters here (their order is made below).
    std::nth_element(candidates.begin(), candidates.begin() + std::ptrdiff_t(nearest),
                     candidates.end(), [](const Candidate& x, const Candidate& y) {
                         return x.massGap != y.massGap ? x.massGap < y.massGap : x.index < y.index;
                     });
    candidates.resize(nearest);
    // The nearest few in ink (a line of figures has hundreds of shapes of one size), in the
    // order of what they differ with their centroids on each other; the first few of them are
    // aligned and judged in that order, the first twin taken (as a rule the one that changes
    // least, for a fraction of the aligning and judging).
    for (Candidate& c : candidates) {
        const State::Known& k = m->known[size_t(c.index)];
        const int cx = int(std::lround(measure.cx - k.measure.cx));
        const int cy = int(std::lround(measure.cy - k.measure.cy));
        c.centred = differingRows(k.shape, k.measure, shape, measure, cx, cy,
                                  std::numeric_limits<int>::max());
    }
    const size_t looks = std::min(kLooks, candidates.size());
    auto centredFirst = [](const Candidate& x, const Candidate& y) {
        return x.centred != y.centred ? x.centred < y.centred : x.index < y.index;
    };
    std::nth_element(candidates.begin(), candidates.begin() + std::ptrdiff_t(looks),
                     candidates.end(), centredFirst);
    // Of those, a shape already drawn for many is worth a few pixels more: the page then uses
    // fewer shapes, and each copy's index costs less (a shape drawn for twice as many others is
    // worth 4 pixels: the book with its dictionary 136.8 to 130.3 KB, the table 9.9 to 9.0 KB).
    for (size_t c = 0; c < looks; ++c)
        candidates[c].rank =
            double(candidates[c].centred) -
            4.0 * std::log2(1.0 + double(m->known[size_t(candidates[c].index)].uses));
    std::sort(candidates.begin(), candidates.begin() + std::ptrdiff_t(looks),
              [&](const Candidate& x, const Candidate& y) {
                  return x.rank != y.rank ? x.rank < y.rank : centredFirst(x, y);
              });
    std::optional<Topology> topology; // the shape's, once a judgement needs it
    for (size_t c = 0; c < looks; ++c) {
        const State::Known& k = m->known[size_t(candidates[c].index)];
        const Verdict v = aligned(k.shape, k.measure, shape, measure, reach);
        if (v.changed < 0 || m->changed + v.changed > m->budget)
            continue;
        const int twin = m->numbers[size_t(candidates[c].index)];
        // 0: no twin; 1: a twin the caller refuses there; 2: a twin.
        auto verdictAt = [&](int dx, int dy) {
            const std::optional<bool> same = sameToReaderPacked(
                k.shape, k.measure, shape, measure, dx, dy, &k.topology, topology, reach);
            if ((same && !*same) || (!same && !withinAPixel(k.shape, shape, dx, dy, reach)) ||
                (!same && !sameToReader(k.shape, shape, dx, dy, &k.topology, reach)))
                return 0;
            return allowed && !allowed(twin, k.shape, dx, dy) ? 1 : 2;
        };
        const int first = verdictAt(v.dx, v.dy);
        if (first == 2) {
            m->changed += v.changed;
            ++m->known[size_t(candidates[c].index)].uses;
            return {twin, true, v.dx, v.dy};
        }
        if (first == 0)
            continue;
        // Refused where it covers best (its added ink near another shape, at 600 dpi most often,
        // or a piece that is no twin there): other places up to the reach from there, fewest
        // pixels changed first, each judged again (the 600 dpi page 18,203 to 16,527 B).
        struct Place {
            int changed, dx, dy;
        };
        std::vector<Place> around;
        for (int j = -reach; j <= reach; ++j) {
            for (int i = -reach; i <= reach; ++i) {
                const int d = i || j ? differingRows(k.shape, k.measure, shape, measure, v.dx + i,
                                                     v.dy + j, int(m->budget - m->changed))
                                     : -1;
                if (d >= 0 && m->changed + d <= m->budget)
                    around.push_back({d, v.dx + i, v.dy + j});
            }
        }
        std::sort(around.begin(), around.end(), [](const Place& a, const Place& b) {
            return a.changed != b.changed ? a.changed < b.changed
                                          : (a.dy != b.dy ? a.dy < b.dy : a.dx < b.dx);
        });
        for (const Place& p : around) {
            if (verdictAt(p.dx, p.dy) == 2) {
                m->changed += p.changed;
                ++m->known[size_t(candidates[c].index)].uses;
                return {twin, true, p.dx, p.dy};
            }
        }
    }
    // A shape of its own, and a candidate for the shapes to come.
    if (!topology)
        topology = topologyOfShape(shape, measure, reach);
    m->keep(number, shape, measure, *topology);
    return {number, false, 0, 0};
}

int TwinFinder::remember(const Bitmap& shape) {
    const int number = m->added++;
    const Measure measure = measureOf(shape);
    m->keep(number, shape, measure, topologyOfShape(shape, measure, m->reach));
    return number;
}

void TwinFinder::redraw(int number, const Bitmap& drawn, qint64 changed) {
    const auto it = m->byNumber.find(number);
    if (it == m->byNumber.end())
        return;
    State::Known& k = m->known[size_t(it->second)];
    std::vector<int>& was = m->bySize[State::key(k.shape.width, k.shape.height)];
    was.erase(std::find(was.begin(), was.end(), it->second));
    std::vector<int>& now = m->bySize[State::key(drawn.width, drawn.height)];
    now.insert(std::upper_bound(now.begin(), now.end(), it->second), it->second);
    k.shape = drawn;
    k.measure = measureOf(drawn);
    k.topology = topologyOfShape(drawn, k.measure, m->reach);
    m->changed += changed;
}

const Bitmap* TwinFinder::own(int number) const {
    const auto it = m->byNumber.find(number);
    return it == m->byNumber.end() ? nullptr : &m->known[size_t(it->second)].shape;
}

namespace {

// A small picture a byte a pixel, for the work on one shape and its reference.
struct Grid {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> set;
    Grid(int width, int height) : w(width), h(height), set(size_t(w) * size_t(h), 0) {}

    // Whether some pixel lies within `r` of each (a square of 2 r + 1), across then down.
    Grid grown(int r) const {
        Grid across(w, h), out(w, h);
        std::vector<int> sum(size_t(std::max(w, h)) + 1, 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                sum[size_t(x) + 1] = sum[size_t(x)] + set[size_t(y) * size_t(w) + size_t(x)];
            for (int x = 0; x < w; ++x)
                across.set[size_t(y) * size_t(w) + size_t(x)] =
                    sum[size_t(std::min(w, x + r + 1))] > sum[size_t(std::max(0, x - r))];
        }
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y)
                sum[size_t(y) + 1] = sum[size_t(y)] + across.set[size_t(y) * size_t(w) + size_t(x)];
            for (int y = 0; y < h; ++y)
                out.set[size_t(y) * size_t(w) + size_t(x)] =
                    sum[size_t(std::min(h, y + r + 1))] > sum[size_t(std::max(0, y - r))];
        }
        return out;
    }

    // The pixels of every block of `size` x `size` that is all set.
    Grid blockStarts(int size) const {
        Grid across(w, h), out(w, h);
        for (int y = 0; y < h; ++y) {
            int run = 0; // set pixels from x to the right
            for (int x = w; x-- > 0;) {
                run = set[size_t(y) * size_t(w) + size_t(x)] ? run + 1 : 0;
                across.set[size_t(y) * size_t(w) + size_t(x)] = run >= size;
            }
        }
        for (int x = 0; x < w; ++x) {
            int run = 0;
            for (int y = h; y-- > 0;) {
                run = across.set[size_t(y) * size_t(w) + size_t(x)] ? run + 1 : 0;
                if (run >= size)
                    for (int j = 0; j < size; ++j)
                        for (int i = 0; i < size; ++i)
                            out.set[size_t(y + j) * size_t(w) + size_t(x + i)] = 1;
            }
        }
        return out;
    }
};

// Ink of other shapes than `shape` (at (x, y) on `page`) on a grid of `w` x `h` whose top left
// lies at (x + left, y + top) on the page.
Grid otherInk(const PageView& page, const Bitmap& shape, int x, int y, int left, int top, int w,
              int h) {
    Grid others(w, h);
    for (int gy = 0; gy < h; ++gy) {
        const int py = y + top + gy;
        if (py < 0 || py >= page.height)
            continue;
        const std::uint8_t* row = page.pixels + std::ptrdiff_t(py) * page.stride;
        for (int gx = 0; gx < w; ++gx) {
            const int px = x + left + gx;
            const int sx = px - x, sy = py - y;
            others.set[size_t(gy) * size_t(w) + size_t(gx)] =
                px >= 0 && px < page.width && (row[px / 8] & (0x80 >> (px % 8))) &&
                !(sx >= 0 && sy >= 0 && sx < shape.width && sy < shape.height && shape.at(sx, sy));
        }
    }
    return others;
}

// Pixels of `own` taken off an edge row or column of the box (bx0, by0)-(bx1, by1) of `drawn`,
// a grid `w` wide, go back where that edge is left empty. Returns how many went back.
int restoreEmptyEdges(std::vector<uint8_t>& drawn, const Grid& own, int bx0, int by0, int bx1,
                      int by1) {
    auto at = [w = own.w](int gx, int gy) { return size_t(gy) * size_t(w) + size_t(gx); };
    auto edgeEmpty = [&](bool row, int k) {
        for (int i = row ? bx0 : by0; i <= (row ? bx1 : by1); ++i)
            if (drawn[row ? at(i, k) : at(k, i)])
                return false;
        return true;
    };
    int restored = 0;
    for (const bool row : {true, false}) {
        for (const int k : row ? std::array{by0, by1} : std::array{bx0, bx1}) {
            if (!edgeEmpty(row, k))
                continue;
            for (int i = row ? bx0 : by0; i <= (row ? bx1 : by1); ++i) {
                const size_t p = row ? at(i, k) : at(k, i);
                if (own.set[p] && !drawn[p]) {
                    drawn[p] = 1;
                    ++restored;
                }
            }
        }
    }
    return restored;
}

// Ink of row `y` of a bitonal page, eight bytes at a time.
__attribute__((target_clones("popcnt", "default"))) qint64 inkOfRow(const PageView& page, int y) {
    const std::uint8_t* row = page.pixels + std::ptrdiff_t(y) * page.stride;
    const int whole = page.width / 8; // bytes all of whose pixels lie on the page
    qint64 ink = 0;
    int b = 0;
    for (; b + 8 <= whole; b += 8) {
        quint64 v;
        std::memcpy(&v, row + b, 8);
        ink += std::popcount(v);
    }
    for (; b < whole; ++b)
        ink += std::popcount(unsigned(row[b]));
    if (page.width % 8)
        ink += std::popcount(unsigned(row[whole] & (0xff00 >> (page.width % 8))));
    return ink;
}

} // namespace

// The other shape's pixels move by the reach at most (each pixel of a twin lies within it of its
// shape's), so a pixel added further than a pixel past the reach from it cannot meet it: at
// 600 dpi three pixels, not twice the reach (the 600 dpi page 22,137 to 21,627 B).
Jb2Twins::Jb2Twins(const PageView& page) : m_page(page), m_reach(reachAt(page.dpi) + 1) {
    m_finder.startPage(qint64(page.width) * page.height, page.dpi);
    // Only cleaned() asks, and only at 600 dpi and up.
    if (reachAt(page.dpi) < 2)
        return;
    m_inkAbove.assign(size_t(std::max(page.height, 0)) + 1, 0);
    for (int y = 0; y < page.height; ++y)
        m_inkAbove[size_t(y) + 1] = m_inkAbove[size_t(y)] + inkOfRow(page, y);
}

namespace {

// A byte's bits in the other order: PBM's leftmost pixel in the high bit to bit x for column x.
const std::array<quint8, 256> kReversed = [] {
    std::array<quint8, 256> r{};
    for (int v = 0; v < 256; ++v)
        for (int b = 0; b < 8; ++b)
            if (v & (1 << b))
                r[size_t(v)] |= quint8(0x80 >> b);
    return r;
}();

// Columns x of a shape's row `sy` at `sx0` on, bit x - sx0 (none outside the shape).
quint64 shapeBits(const Bitmap& s, int sx0, int sy, int n) {
    quint64 out = 0;
    if (sy < 0 || sy >= s.height)
        return out;
    for (int i = std::max(0, -sx0); i < n && sx0 + i < s.width; ++i)
        out |= quint64(s.at(sx0 + i, sy) != 0) << i;
    return out;
}

} // namespace

bool Jb2Twins::touchesOthers(const Bitmap& shape, int x, int y, const Bitmap& twin, int tx,
                             int ty) const {
    // In words a row where the twin's box with its margin fits in 64 columns.
    const int r = m_reach;
    const int wx = tx - r, wy = ty - r, ww = twin.width + 2 * r, wh = twin.height + 2 * r;
    if (ww > 64)
        return touchesOthersAnyWidth(shape, x, y, twin, tx, ty);
    // Page ink beside the shape's own, and the twin's pixels the shape lacks, by row.
    const size_t rows = static_cast<size_t>(wh);
    // On the stack for the shapes of text.
    constexpr size_t kOnStack = 128;
    quint64 onStack[3 * kOnStack];
    std::vector<quint64> onHeap(rows > kOnStack ? 3 * rows : 0);
    quint64* const others = rows > kOnStack ? onHeap.data() : onStack;
    quint64* const added = others + rows;
    quint64* const across = added + rows;
    std::fill_n(others, 3 * rows, quint64(0));
    const int rowBytes = (m_page.width + 7) / 8;
    // The page's columns that exist, as bits of the window.
    const int firstValid = std::max(0, -wx), lastValid = std::min(ww, m_page.width - wx);
    const quint64 valid = firstValid >= lastValid
                              ? 0
                              : (~quint64(0) >> (64 - (lastValid - firstValid))) << firstValid;
    for (int j = 0; j < wh; ++j) {
        const int py = wy + j;
        quint64 page = 0;
        if (py >= 0 && py < m_page.height && valid) {
            const std::uint8_t* row = m_page.pixels + std::ptrdiff_t(py) * m_page.stride;
            for (int b = std::max(0, wx >> 3); b <= (wx + ww - 1) >> 3 && b < rowBytes; ++b) {
                const int at = 8 * b - wx;
                const quint64 v = kReversed[row[b]];
                page |= at >= 0 ? v << at : v >> -at;
            }
            page &= valid;
        }
        const quint64 own = shapeBits(shape, wx - x, py - y, ww);
        others[size_t(j)] = page & ~own;
        added[size_t(j)] = shapeBits(twin, wx - tx, py - ty, ww) & ~own;
    }
    // An added pixel with other ink within r of it, across and down.
    for (int j = 0; j < wh; ++j) {
        quint64 v = added[size_t(j)];
        for (int i = 1; i <= r; ++i)
            v |= (added[size_t(j)] << i) | (added[size_t(j)] >> i);
        across[size_t(j)] = v;
    }
    for (int j = 0; j < wh; ++j) {
        if (!others[size_t(j)])
            continue;
        quint64 near = 0;
        for (int k = std::max(0, j - r); k <= std::min(wh - 1, j + r); ++k)
            near |= across[size_t(k)];
        if (near & others[size_t(j)])
            return true;
    }
    return false;
}

bool Jb2Twins::touchesOthersAnyWidth(const Bitmap& shape, int x, int y, const Bitmap& twin, int tx,
                                     int ty) const {
    auto ownAt = [&](int px, int py) {
        const int sx = px - x, sy = py - y;
        return sx >= 0 && sy >= 0 && sx < shape.width && sy < shape.height && shape.at(sx, sy);
    };
    auto pageAt = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < m_page.width && py < m_page.height &&
               (m_page.pixels[std::ptrdiff_t(py) * m_page.stride + px / 8] & (0x80 >> (px % 8)));
    };
    for (int sy = 0; sy < twin.height; ++sy) {
        for (int sx = 0; sx < twin.width; ++sx) {
            const int px = tx + sx, py = ty + sy;
            if (!twin.at(sx, sy) || ownAt(px, py))
                continue;
            // A pixel the twin adds: no ink of another shape within m_reach of it. (Each
            // shape's pixels lie within the reach of its twin's, so two twins drawn side by side
            // cannot meet either.)
            for (int ny = py - m_reach; ny <= py + m_reach; ++ny)
                for (int nx = px - m_reach; nx <= px + m_reach; ++nx)
                    if (pageAt(nx, ny) && !ownAt(nx, ny))
                        return true;
        }
    }
    return false;
}

std::optional<Jb2Twins::Copy> Jb2Twins::twin(const Bitmap& shape, int x, int y,
                                             const TwinFinder::Allowed& also) {
    const TwinFinder::Choice choice =
        m_finder.add(shape, [&](int number, const Bitmap& twin, int dx, int dy) {
            // A twin kept out of the library cannot be copied.
            return m_indexOf[size_t(number)] >= 0 &&
                   !touchesOthers(shape, x, y, twin, x + dx, y + dy) &&
                   (!also || also(number, twin, dx, dy));
        });
    m_indexOf.push_back(-1);
    m_pending = -1;
    if (choice.copy)
        return Copy{m_indexOf[size_t(choice.shape)], x + choice.dx, y + choice.dy};
    // Coded as its own: it stands for its twins to come.
    m_pending = int(m_indexOf.size()) - 1;
    return std::nullopt;
}

void Jb2Twins::offer(const Bitmap& shape, int index) {
    const int number = m_finder.remember(shape);
    m_indexOf.resize(size_t(number) + 1, -1);
    m_indexOf[size_t(number)] = index;
}

void Jb2Twins::coded(int index) {
    if (m_pending >= 0)
        m_indexOf[size_t(m_pending)] = index;
    m_pending = -1;
}

void Jb2Twins::coded(int index, const Cleaned& drawn) {
    if (m_pending >= 0) {
        m_finder.redraw(m_pending, drawn.shape, drawn.changed);
        m_cleanedPixels += drawn.changed;
    }
    coded(index);
}

std::optional<Jb2Twins::Cleaned> Jb2Twins::cleaned(const Bitmap& shape, int x, int y,
                                                   const Bitmap& reference, int rx, int ry) const {
    const int reach = reachAt(m_page.dpi);
    // At 300 dpi a print's noise is a pixel or two a letter and costs a few bits; later shapes
    // judged against the cleaned print found fewer twins than it saved (the table 8,969 to
    // 9,120 B, 7,264 to 7,229 twins).
    if (reach < 2)
        return std::nullopt;
    // Twins save more bytes for each pixel they change: the rest of the page keeps what its
    // twins are likely to need, as many for its ink as those above took for theirs.
    const qint64 inkAbove = m_inkAbove[size_t(std::clamp(y, 0, m_page.height))];
    const qint64 inkBelow = m_inkAbove.back() - inkAbove;
    const qint64 twinPixels = m_finder.changed() - m_cleanedPixels;
    const qint64 reserve = inkAbove > 0
                               ? qint64(double(twinPixels) * double(inkBelow) / double(inkAbove))
                               : m_finder.budget();
    const qint64 room = m_finder.budget() - m_finder.changed() - reserve;
    if (room <= 0 || shape.width <= 0 || shape.height <= 0)
        return std::nullopt;
    // Both on one grid: the shape at (-left, -top), the reference at (rx - left, ry - top).
    const int left = std::min(0, rx), top = std::min(0, ry);
    const int w = std::max(shape.width, rx + reference.width) - left;
    const int h = std::max(shape.height, ry + reference.height) - top;
    const size_t n = size_t(w) * size_t(h);
    auto at = [w](int gx, int gy) { return size_t(gy) * size_t(w) + size_t(gx); };
    Grid own(w, h), ref(w, h);
    for (int sy = 0; sy < shape.height; ++sy)
        for (int sx = 0; sx < shape.width; ++sx)
            own.set[at(sx - left, sy - top)] = shape.at(sx, sy) != 0;
    for (int j = 0; j < reference.height; ++j)
        for (int i = 0; i < reference.width; ++i)
            ref.set[at(i + rx - left, j + ry - top)] = reference.at(i, j) != 0;
    const Grid nearOwn = own.grown(reach), nearRef = ref.grown(reach);
    // Ink of other shapes within a twin's distance (m_reach) of each pixel of the grid.
    const Grid nearOthers = otherInk(m_page, shape, x, y, left - m_reach, top - m_reach,
                                     w + 2 * m_reach, h + 2 * m_reach)
                                .grown(m_reach);
    // In small type a line of noise a pixel thick is a part of its own (as the judge says).
    const Measure ms = measureOf(shape);
    const bool thin =
        thinShape(shape, ms, reach) || thinShape(reference, measureOf(reference), reach);
    // The shape's box on the grid: the cleaned shape keeps it (a stem keeps its length, and the
    // coder lays it over the reference as it lays the shape).
    const int bx0 = -left, by0 = -top, bx1 = shape.width - left - 1, by1 = shape.height - top - 1;
    // The pieces of the difference, each side's apart; a piece is noise when it lies within
    // reach of the other's ink, holds no block thicker than a pixel of 300 dpi and, in small
    // type, is a speck. Ink added comes no nearer another shape than a twin's may.
    std::vector<uint8_t> drawn = own.set;
    std::vector<int> piece;
    std::vector<uint8_t> seen(n, 0);
    int changed = 0;
    for (int side = 0; side < 2; ++side) {
        const Grid& self = side ? ref : own;
        const Grid& other = side ? own : ref;
        const Grid& nearOther = side ? nearOwn : nearRef;
        Grid only(w, h);
        for (size_t k = 0; k < n; ++k)
            only.set[k] = self.set[k] && !other.set[k];
        const Grid blocks = only.blockStarts(reach + 1);
        for (int sy = 0; sy < h; ++sy) {
            for (int sx = 0; sx < w; ++sx) {
                if (seen[at(sx, sy)] || !only.set[at(sx, sy)])
                    continue;
                piece.assign(1, int(at(sx, sy)));
                seen[at(sx, sy)] = 1;
                bool noise = true;
                for (size_t k = 0; k < piece.size(); ++k) {
                    const int gx = piece[k] % w, gy = piece[k] / w;
                    noise =
                        noise && nearOther.set[size_t(piece[k])] && !blocks.set[size_t(piece[k])];
                    if (side == 1)
                        noise = noise && gx >= bx0 && gx <= bx1 && gy >= by0 && gy <= by1 &&
                                !nearOthers.set[size_t(gy + m_reach) * size_t(nearOthers.w) +
                                                size_t(gx + m_reach)];
                    for (int j = std::max(0, gy - 1); j <= std::min(h - 1, gy + 1); ++j) {
                        for (int i = std::max(0, gx - 1); i <= std::min(w - 1, gx + 1); ++i) {
                            if (only.set[at(i, j)] && !seen[at(i, j)]) {
                                seen[at(i, j)] = 1;
                                piece.push_back(int(at(i, j)));
                            }
                        }
                    }
                }
                if (!noise || (thin && int(piece.size()) > 2 * reach * reach))
                    continue;
                for (const int p : piece)
                    drawn[size_t(p)] = uint8_t(side);
                changed += int(piece.size());
            }
        }
    }
    // Pixels taken off an edge row or column of the box go back where that edge is left empty.
    changed -= restoreEmptyEdges(drawn, own, bx0, by0, bx1, by1);
    if (changed <= 0 || changed > room)
        return std::nullopt;
    Cleaned c;
    c.shape = Bitmap(shape.width, shape.height);
    for (int sy = 0; sy < shape.height; ++sy)
        for (int sx = 0; sx < shape.width; ++sx)
            c.shape.at(sx, sy) = drawn[at(sx - left, sy - top)];
    c.x = x;
    c.y = y;
    c.changed = changed;
    // The cleaned shape is the shape to a reader, as the judge aligns them and where it stands.
    const Measure mc = measureOf(c.shape);
    const Verdict v = judge(c.shape, mc, shape, ms, nullptr, reach);
    if (!v.twins)
        return std::nullopt;
    if (v.dx != 0 || v.dy != 0) {
        std::optional<Topology> topology;
        const std::optional<bool> same =
            sameToReaderPacked(c.shape, mc, shape, ms, 0, 0, nullptr, topology, reach);
        if (!(same ? *same : sameToReader(c.shape, shape, 0, 0, nullptr, reach)))
            return std::nullopt;
    }
    return c;
}

namespace {

struct PixaFree {
    void operator()(PIXA* p) const { pixaDestroy(&p); }
};
struct BoxaFree {
    void operator()(BOXA* p) const { boxaDestroy(&p); }
};

// Shapes larger than this are rules, frames or pictures, not letters: they keep their pixels.
constexpr int kLargestLetter = 400;

Bitmap shapeOf(PIX* pix) {
    Bitmap s(int(pixGetWidth(pix)), int(pixGetHeight(pix)));
    const l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    for (int y = 0; y < s.height; ++y) {
        const l_uint32* line = data + y * wpl;
        for (int x = 0; x < s.width; ++x)
            s.at(x, y) = uint8_t(GET_DATA_BIT(line, x));
    }
    return s;
}

} // namespace

Substitution substituteTwins(uchar* rows, int width, int height, qsizetype stride) {
    Substitution result;
    if (!rows || width <= 0 || height <= 0 || stride < (width + 7) / 8)
        return result;
    const PixPtr page = bitonalPix(PageView{PixelKind::Bitonal, width, height, 0, rows, stride});
    if (!page)
        return result;

    PIXA* found = nullptr;
    const std::unique_ptr<BOXA, BoxaFree> boxes(pixConnComp(page.get(), &found, 8));
    const std::unique_ptr<PIXA, PixaFree> pieces(found);
    if (!boxes || !pieces)
        return result;
    const int n = pixaGetCount(pieces.get());
    result.shapes = n;

    TwinFinder finder;
    finder.startPage(qint64(width) * height);
    struct Copy {
        int piece;
        int twin; // the piece drawn in its place
        int dx, dy;
    };
    std::vector<Copy> copies;
    std::vector<int> pieceOf; // by the finder's numbers
    for (int i = 0; i < n; ++i) {
        const PixPtr pix(pixaGetPix(pieces.get(), i, L_CLONE));
        if (!pix || pixGetWidth(pix.get()) > kLargestLetter ||
            pixGetHeight(pix.get()) > kLargestLetter)
            continue;
        const TwinFinder::Choice choice = finder.add(shapeOf(pix.get()));
        pieceOf.push_back(i);
        if (choice.copy)
            copies.push_back({i, pieceOf[size_t(choice.shape)], choice.dx, choice.dy});
    }
    if (copies.empty())
        return result;

    // Each copied shape's own pixels go first, then every twin is drawn where it stood.
    const PixPtr drawn(pixCopy(nullptr, page.get()));
    if (!drawn)
        return result;
    l_int32 x = 0, y = 0, w = 0, h = 0;
    for (const Copy& c : copies) {
        const PixPtr pix(pixaGetPix(pieces.get(), c.piece, L_CLONE));
        boxaGetBoxGeometry(boxes.get(), c.piece, &x, &y, &w, &h);
        pixRasterop(drawn.get(), x, y, w, h, PIX_DST & PIX_NOT(PIX_SRC), pix.get(), 0, 0);
    }
    for (const Copy& c : copies) {
        const PixPtr twin(pixaGetPix(pieces.get(), c.twin, L_CLONE));
        boxaGetBoxGeometry(boxes.get(), c.piece, &x, &y, &w, &h);
        pixRasterop(drawn.get(), x + c.dx, y + c.dy, int(pixGetWidth(twin.get())),
                    int(pixGetHeight(twin.get())), PIX_PAINT, twin.get(), 0, 0);
    }
    // The bound holds for the page as drawn, not only shape by shape.
    const PixPtr difference(pixXor(nullptr, drawn.get(), page.get()));
    const qint64 changed = count(difference.get());
    if (changed > qint64(width) * height / 100)
        return result;
    const l_uint32* out = pixGetData(drawn.get());
    const int wpl = pixGetWpl(drawn.get());
    const qsizetype bytes = (width + 7) / 8;
    for (int row = 0; row < height; ++row) {
        uchar* to = rows + row * stride;
        const l_uint32* line = out + row * wpl;
        for (qsizetype i = 0; i < bytes; ++i)
            to[i] = uchar(GET_DATA_BYTE(line, i));
    }
    result.changed = changed;
    result.copies = int(copies.size());
    return result;
}

} // namespace vormelle::codec
