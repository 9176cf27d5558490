// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/jb2page.h"

#include "codec/jb2lossy.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>

namespace vormelle::codec {

namespace {

struct PixDeleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
struct PixaDeleter {
    void operator()(PIXA* p) const { pixaDestroy(&p); }
};
struct BoxaDeleter {
    void operator()(BOXA* p) const { boxaDestroy(&p); }
};

struct Shape {
    Bitmap bits;
    int x = 0;
    int y = 0;
    int mass = 0;
    uint64_t hash = 0;
};

uint64_t hashOf(const Bitmap& b) {
    uint64_t h = 1469598103934665603ull ^ (uint64_t(b.width) << 32) ^ uint64_t(b.height);
    for (uint8_t v : b.bits)
        h = (h ^ v) * 1099511628211ull;
    return h;
}

// Leptonica holds 1-bit rows in 32-bit words, most significant bit first.
std::unique_ptr<PIX, PixDeleter> toPix(const PageView& page) {
    std::unique_ptr<PIX, PixDeleter> pix(pixCreate(page.width, page.height, 1));
    if (!pix)
        return pix;
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    const std::ptrdiff_t bytes = rowBytes(PixelKind::Bitonal, page.width);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* src = page.pixels + std::ptrdiff_t(y) * page.stride;
        l_uint32* line = data + std::ptrdiff_t(y) * wpl;
        for (std::ptrdiff_t i = 0; i < bytes; ++i)
            SET_DATA_BYTE(line, int(i), src[i]);
    }
    // The last byte's pad bits past the width are not pixels.
    if (page.width % 8 != 0)
        pixSetPadBits(pix.get(), 0);
    return pix;
}

std::vector<Shape> components(const PageView& page) {
    std::vector<Shape> shapes;
    auto pix = toPix(page);
    if (!pix)
        return shapes;
    PIXA* pixaRaw = nullptr;
    std::unique_ptr<BOXA, BoxaDeleter> boxa(pixConnCompPixa(pix.get(), &pixaRaw, 8));
    std::unique_ptr<PIXA, PixaDeleter> pixa(pixaRaw);
    pix.reset();
    if (!boxa || !pixa)
        return shapes;
    const int n = pixaGetCount(pixa.get());
    shapes.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        l_int32 x, y, w, h;
        if (pixaGetBoxGeometry(pixa.get(), i, &x, &y, &w, &h) != 0)
            continue;
        std::unique_ptr<PIX, PixDeleter> c(pixaGetPix(pixa.get(), i, L_CLONE));
        Shape s;
        s.bits = Bitmap(w, h);
        s.x = x;
        s.y = y;
        const l_uint32* data = pixGetData(c.get());
        const int wpl = pixGetWpl(c.get());
        for (int r = 0; r < h; ++r) {
            const l_uint32* line = data + std::ptrdiff_t(r) * wpl;
            for (int col = 0; col < w; ++col) {
                const uint8_t v = uint8_t(GET_DATA_BIT(line, col));
                s.bits.at(col, r) = v;
                s.mass += v;
            }
        }
        s.hash = hashOf(s.bits);
        shapes.push_back(std::move(s));
    }
    return shapes;
}

// Reading order: lines from the top, each from the left, so that most places are coded as a
// small step from the shape before.
void readingOrder(std::vector<Shape>& shapes) {
    std::sort(shapes.begin(), shapes.end(),
              [](const Shape& a, const Shape& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    size_t begin = 0;
    while (begin < shapes.size()) {
        const int lineBottom = shapes[begin].y + shapes[begin].bits.height;
        size_t end = begin + 1;
        while (end < shapes.size() && shapes[end].y < lineBottom &&
               shapes[end].y + shapes[end].bits.height / 2 < lineBottom)
            ++end;
        std::sort(shapes.begin() + std::ptrdiff_t(begin), shapes.begin() + std::ptrdiff_t(end),
                  [](const Shape& a, const Shape& b) { return a.x < b.x; });
        begin = end;
    }
}

// Pixels that differ between two shapes laid over each other on their centres, as the
// refinement coder aligns them: the ink of both less twice what they share.
int difference(const Shape& a, const Shape& ref) {
    const Bitmap& p = a.bits;
    const Bitmap& r = ref.bits;
    const int dx = (p.width / 2 - p.width + 1) - (r.width / 2 - r.width + 1);
    const int dy =
        r.height - p.height - ((p.height / 2 - p.height + 1) - (r.height / 2 - r.height + 1));
    const int x0 = std::max(0, -dx), x1 = std::min(p.width, r.width - dx);
    const int y0 = std::max(0, -dy), y1 = std::min(p.height, r.height - dy);
    int shared = 0;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* pr = &p.bits[size_t(y) * size_t(p.width)];
        const uint8_t* rr = &r.bits[size_t(y + dy) * size_t(r.width)];
        for (int x = x0; x < x1; ++x)
            shared += pr[x] & rr[x + dx];
    }
    return a.mass + ref.mass - 2 * shared;
}

// Earlier shapes by their exact pixels and by their size, so that a shape is compared with a
// few of a like size and mass, never with all of them.
class Matcher {
public:
    int exact(const Shape& s, const std::vector<Shape*>& library) const {
        auto range = m_byHash.equal_range(s.hash);
        for (auto it = range.first; it != range.second; ++it)
            if (library[size_t(it->second)]->bits == s.bits)
                return it->second;
        return -1;
    }
    int similar(const Shape& s, const std::vector<Shape*>& library) const {
        // A refinement pays while the difference stays a small part of the shape.
        const int limit = std::max(3, s.mass / 3);
        // Close enough to stop looking.
        const int good = s.mass / 16;
        int best = -1;
        int bestDiff = limit + 1;
        // Sizes nearest first: the same size, then one pixel off, then two.
        for (int slack = 0; slack <= 2 * kSizeSlack && bestDiff > good; ++slack) {
            for (int dw = -kSizeSlack; dw <= kSizeSlack; ++dw) {
                const int dh = slack - std::abs(dw);
                if (dh > kSizeSlack || dh < 0)
                    continue;
                for (const int sh : {dh, -dh}) {
                    consider(s, library, s.bits.width + dw, s.bits.height + sh, best, bestDiff);
                    if (sh == 0)
                        break;
                }
            }
        }
        return best;
    }
    // The latest few shapes of this size: the page's recent type is the likeliest match.
    void consider(const Shape& s, const std::vector<Shape*>& library, int w, int h, int& best,
                  int& bestDiff) const {
        auto it = m_bySize.find(key(w, h));
        if (it == m_bySize.end())
            return;
        const std::vector<int>& list = it->second;
        const size_t from = list.size() > kPerSize ? list.size() - kPerSize : 0;
        for (size_t i = list.size(); i-- > from;) {
            const Shape& c = *library[size_t(list[i])];
            if (std::abs(c.mass - s.mass) >= bestDiff)
                continue;
            const int d = difference(s, c);
            if (d < bestDiff) {
                bestDiff = d;
                best = list[i];
            }
        }
    }
    void add(const Shape& s, int index) {
        m_byHash.emplace(s.hash, index);
        m_bySize[key(s.bits.width, s.bits.height)].push_back(index);
    }

private:
    static constexpr size_t kPerSize = 8;
    static constexpr int kSizeSlack = 2;
    static uint64_t key(int w, int h) { return (uint64_t(uint32_t(w)) << 32) | uint32_t(h); }
    std::unordered_multimap<uint64_t, int> m_byHash;
    std::unordered_map<uint64_t, std::vector<int>> m_bySize;
};

void putBig16(Bytes& out, int v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

} // namespace

std::vector<PageShape> pageShapes(const PageView& page) {
    std::vector<PageShape> out;
    if (page.kind != PixelKind::Bitonal || checkPage(page) != Error::None)
        return out;
    std::vector<Shape> shapes = components(page);
    readingOrder(shapes);
    out.reserve(shapes.size());
    for (Shape& s : shapes)
        out.push_back({std::move(s.bits), s.x, s.y});
    return out;
}

Bytes encodeJb2Page(const PageView& page, const Jb2Options& options, Jb2Stats* stats) {
    if (page.kind != PixelKind::Bitonal || checkPage(page) != Error::None)
        return {};
    std::vector<Shape> shapes = components(page);
    readingOrder(shapes);
    Jb2Stats counts;
    Jb2Writer writer(page.width, page.height, options.dictionary);
    Matcher matcher;
    std::vector<Shape*> library; // by library index, the dictionary's shapes first
    std::vector<Shape> inherited;
    if (options.dictionary) {
        inherited.reserve(options.dictionary->size());
        for (const Bitmap& b : *options.dictionary) {
            Shape s;
            s.bits = b;
            s.mass = int(std::count(b.bits.begin(), b.bits.end(), uint8_t(1)));
            s.hash = hashOf(b);
            inherited.push_back(std::move(s));
        }
        for (size_t i = 0; i < inherited.size(); ++i) {
            library.push_back(&inherited[i]);
            matcher.add(inherited[i], int(i));
        }
    }
    // Shapes this large are pictures or rules: coded once, kept out of the library.
    const int largest = std::max(256, page.dpi);
    std::optional<Jb2Twins> twins;
    if (options.lossy)
        twins.emplace(page);
    for (Shape& s : shapes) {
        ++counts.shapes;
        if (s.bits.width > largest || s.bits.height > largest) {
            writer.newSymbol(s.bits, s.x, s.y, false);
            ++counts.direct;
            continue;
        }
        const int same = matcher.exact(s, library);
        if (same >= 0) {
            writer.copy(same, s.x, s.y);
            ++counts.copies;
            continue;
        }
        const auto twin = twins ? twins->twin(s.bits, s.x, s.y) : std::nullopt;
        if (twin) {
            writer.copy(twin->index, twin->x, twin->y);
            ++counts.copies;
            ++counts.twins;
            continue;
        }
        const int near = options.refine ? matcher.similar(s, library) : -1;
        const int index = near >= 0 ? writer.refinedSymbol(s.bits, near, s.x, s.y, true)
                                    : writer.newSymbol(s.bits, s.x, s.y, true);
        if (twins)
            twins->coded(index);
        ++(near >= 0 ? counts.refinements : counts.direct);
        library.push_back(&s);
        matcher.add(s, index);
    }
    if (twins)
        counts.changed = twins->changed();
    if (stats)
        *stats = counts;
    return writer.finish();
}

Bytes encodeJb2Dictionary(const std::vector<Bitmap>& shapes) {
    Jb2Writer writer;
    for (const Bitmap& b : shapes)
        writer.librarySymbol(b);
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

Status Jb2Stage::addPage(const PageView& page, PageSink& sink, const AbortHook& abort) {
    const int index = m_pages++;
    if (const Error e = checkPage(page); e != Error::None)
        return {e, {}};
    if (page.kind != PixelKind::Bitonal)
        return {Error::BadDimension, QStringLiteral("not a bitonal page")};
    if (abort && abort())
        return {Error::Aborted, {}};
    const Bytes sjbz = encodeJb2Page(page, m_options, &m_last);
    if (!sink.chunk(index, "INFO", infoChunk(page.width, page.height, page.dpi)) ||
        !sink.chunk(index, "Sjbz", sjbz) || !sink.pageDone(index))
        return {Error::WriteFailed, {}};
    return {};
}

Status Jb2Stage::finish(PageSink&, const AbortHook&) {
    return {};
}

} // namespace vormelle::codec
