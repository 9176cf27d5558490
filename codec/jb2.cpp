// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/jb2.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vormelle::codec {

namespace {

constexpr int kBigPositive = 262142;
constexpr int kBigNegative = -262143;
// Past this many number nodes the writer asks the decoder to start them afresh, as the format
// suggests, so that a decoder's memory stays bounded on huge pages.
constexpr size_t kMaxNodes = 20000;

// Each pixel in the context of the ten before it: two rows above and two to its left.
template <class Coder>
void codeDirect(Coder& coder, ZpContext (&contexts)[1024], const Bitmap& shape) {
    // Three rows with white margins, reused (the rows above the first are white): a large shape
    // is not copied whole. Two on the left, three on the right: the context made after a row's
    // last pixel looks three ahead in the row above.
    const int w = shape.width;
    const size_t stride = size_t(w) + 5;
    std::vector<uint8_t> rows(3 * stride, 0);
    for (int y = 0; y < shape.height; ++y) {
        uint8_t* up0 = &rows[size_t(y % 3) * stride + 2];
        const uint8_t* up1 = &rows[size_t((y + 2) % 3) * stride + 2];
        const uint8_t* up2 = &rows[size_t((y + 1) % 3) * stride + 2];
        std::copy_n(&shape.bits[size_t(y) * size_t(w)], w, up0);
        int context = (up2[-1] << 9) | (up2[0] << 8) | (up2[1] << 7) | (up1[-2] << 6) |
                      (up1[-1] << 5) | (up1[0] << 4) | (up1[1] << 3) | (up1[2] << 2) |
                      (up0[-2] << 1) | up0[-1];
        for (int x = 0; x < w;) {
            const int bit = up0[x++];
            coder.encode(bit != 0, contexts[context]);
            context = ((context << 1) & 0x37a) | (up1[x + 2] << 2) | (up2[x + 1] << 7) | bit;
        }
    }
}

// Where the five pixels that enter a refinement context after a pixel is coded go in it, from
// the column code codeRefine() makes of them.
const std::array<uint16_t, 32> kEntering = [] {
    std::array<uint16_t, 32> to{};
    for (int c = 0; c < 32; ++c)
        to[size_t(c)] = uint16_t(((c >> 4) & 1) << 7 | ((c >> 3) & 1) << 8 | ((c >> 2) & 1) << 6 |
                                 ((c >> 1) & 1) << 3 | (c & 1));
    return to;
}();

uint64_t eightAt(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Each pixel in the context of four coded neighbours and nine pixels of the reference around
// the same place, the two aligned on their centres.
template <class Coder>
void codeRefine(Coder& coder, ZpContext (&contexts)[2048], const Bitmap& shape,
                const Bitmap& reference, std::vector<uint8_t>& aligned,
                std::vector<uint8_t>& padded, std::vector<uint8_t>& columns) {
    const int dw = shape.width;
    const int dh = shape.height;
    const int cw = reference.width;
    const int ch = reference.height;
    const int dx = (dw / 2 - dw + 1) - (cw / 2 - cw + 1);
    // The format counts rows from the bottom; in rows from the top the offset is this.
    const int dy = ch - dh - ((dh / 2 - dh + 1) - (ch / 2 - ch + 1));
    // The reference laid over the shape, and the shape, each with a white margin of two, so that
    // the templates never test their bounds, and room to read eight bytes past a row's end.
    const int aw = dw + 4;
    const size_t size = size_t(aw) * size_t(dh + 4) + 16;
    aligned.assign(size, 0);
    padded.assign(size, 0);
    columns.resize(size_t(dw) + 8);
    for (int y = -2; y < dh + 2; ++y) {
        const int ry = y + dy;
        const int x0 = std::max(-2, -dx), x1 = std::min(dw + 2, cw - dx);
        if (ry < 0 || ry >= ch || x0 >= x1)
            continue;
        std::copy_n(&reference.bits[size_t(ry) * size_t(cw) + size_t(x0 + dx)], x1 - x0,
                    &aligned[size_t(y + 2) * size_t(aw) + size_t(x0 + 2)]);
    }
    for (int y = 0; y < dh; ++y)
        std::copy_n(&shape.bits[size_t(y) * size_t(dw)], dw,
                    &padded[size_t(y + 2) * size_t(aw) + 2]);
    for (int y = 0; y < dh; ++y) {
        const uint8_t* up1 = &padded[size_t(y + 1) * size_t(aw) + 2];
        const uint8_t* up0 = &padded[size_t(y + 2) * size_t(aw) + 2];
        const uint8_t* xup1 = &aligned[size_t(y + 1) * size_t(aw) + 2];
        const uint8_t* xup0 = &aligned[size_t(y + 2) * size_t(aw) + 2];
        const uint8_t* xdn1 = &aligned[size_t(y + 3) * size_t(aw) + 2];
        // What enters the context after pixel x, as five bits a byte, eight pixels at a time
        // (each pixel is 0 or 1, so no byte carries into the next).
        for (int x = 0; x < dw; x += 8) {
            const uint64_t c = eightAt(up0 + x) << 4 | eightAt(up1 + x + 2) << 3 |
                               eightAt(xup1 + x + 1) << 2 | eightAt(xup0 + x + 2) << 1 |
                               eightAt(xdn1 + x + 2);
            std::memcpy(&columns[size_t(x)], &c, 8);
        }
        int context = (up1[-1] << 10) | (up1[0] << 9) | (up1[1] << 8) | (up0[-1] << 7) |
                      (xup1[0] << 6) | (xup0[-1] << 5) | (xup0[0] << 4) | (xup0[1] << 3) |
                      (xdn1[-1] << 2) | (xdn1[0] << 1) | xdn1[1];
        for (int x = 0; x < dw; ++x) {
            coder.encode(up0[x] != 0, contexts[context]);
            context = ((context << 1) & 0x636) | kEntering[columns[size_t(x)]];
        }
    }
}

} // namespace

Jb2Writer::Jb2Writer(int width, int height, const std::vector<Bitmap>* inherited)
    : m_inherited(inherited), m_inheritedCount(inherited ? int(inherited->size()) : 0) {
    m_nodes.resize(1);
    if (m_inheritedCount > 0) {
        record(RequiredDictOrReset);
        number(m_inheritedCount, 0, kBigPositive, InheritedCount);
    }
    start(width, height);
}

Jb2Writer::Jb2Writer(const std::vector<Bitmap>* inherited) : Jb2Writer(0, 0, inherited) {}

void Jb2Writer::start(int width, int height) {
    m_width = width;
    m_height = height;
    record(StartOfData);
    number(width, 0, kBigPositive, ImageSize);
    number(height, 0, kBigPositive, ImageSize);
    m_zp.encode(false, m_refinementFlag); // no refinement data will follow
    // The first shape is placed as if a line began at the top left corner.
    m_lastLeft = width + 1;
    m_lineLeft = 0;
    m_lineBottom = height;
    m_lastRight = 0;
    std::fill(std::begin(m_bottoms), std::end(m_bottoms), height);
    m_bottomPos = 0;
}

int Jb2Writer::newSymbol(const Bitmap& shape, int x, int y, bool toLibrary) {
    if (!reachable(shape, x, y)) {
        const int index = toLibrary ? librarySymbol(shape) : -1;
        placeVisiblePart(shape, x, y);
        return index;
    }
    record(toLibrary ? NewMark : NewMarkImageOnly);
    absoluteSize(shape);
    direct(shape);
    location(x, y, shape.width, shape.height);
    const int index = toLibrary ? addToLibrary(shape) : -1;
    resetNumbersWhenFull();
    return index;
}

int Jb2Writer::librarySymbol(const Bitmap& shape) {
    record(NewMarkLibraryOnly);
    absoluteSize(shape);
    direct(shape);
    const int index = addToLibrary(shape);
    resetNumbersWhenFull();
    return index;
}

int Jb2Writer::refinedSymbol(const Bitmap& shape, int match, int x, int y, bool toLibrary) {
    if (!reachable(shape, x, y)) {
        // A refinement for the library alone is not cross-coded by DjVuLibre's page decoder,
        // so the library gets the shape coded directly.
        const int index = toLibrary ? librarySymbol(shape) : -1;
        placeVisiblePart(shape, x, y);
        return index;
    }
    record(toLibrary ? MatchedRefine : MatchedRefineImageOnly);
    tallied(Jb2Tally::Index, [&] { number(match, 0, librarySize() - 1, MatchIndex); });
    const Bitmap& reference = library(match);
    relativeSize(shape, reference);
    refine(shape, reference);
    location(x, y, shape.width, shape.height);
    const int index = toLibrary ? addToLibrary(shape) : -1;
    resetNumbersWhenFull();
    return index;
}

int Jb2Writer::refinedLibrarySymbol(const Bitmap& shape, int match) {
    record(MatchedRefineLibraryOnly);
    tallied(Jb2Tally::Index, [&] { number(match, 0, librarySize() - 1, MatchIndex); });
    const Bitmap& reference = library(match);
    relativeSize(shape, reference);
    refine(shape, reference);
    const int index = addToLibrary(shape);
    resetNumbersWhenFull();
    return index;
}

void Jb2Writer::copy(int match, int x, int y) {
    const Bitmap& shape = library(match);
    if (!reachable(shape, x, y)) {
        placeVisiblePart(shape, x, y);
        return;
    }
    record(MatchedCopy);
    tallied(Jb2Tally::Index, [&] { number(match, 0, librarySize() - 1, MatchIndex); });
    location(x, y, shape.width, shape.height);
    resetNumbersWhenFull();
}

void Jb2Writer::nonSymbol(const Bitmap& shape, int x, int y) {
    record(NonMarkData);
    absoluteSize(shape);
    direct(shape);
    tallied(Jb2Tally::Other, [&] {
        number(x + 1, 1, m_width, AbsLocX);
        number(m_height - y, 1, m_height, AbsLocY);
    });
    resetNumbersWhenFull();
}

std::vector<uint8_t> Jb2Writer::finish() {
    record(EndOfData);
    return m_zp.finish();
}

// DjVuLibre keeps a placed shape's left and bottom edges as unsigned 16-bit numbers, so a shape
// reaching past the page's left or bottom edge would vanish from the page.
bool Jb2Writer::reachable(const Bitmap& shape, int x, int y) const {
    return x >= 0 && y + shape.height <= m_height;
}

void Jb2Writer::placeVisiblePart(const Bitmap& shape, int x, int y) {
    const int x0 = std::max(0, -x), y0 = std::max(0, -y);
    const int x1 = std::min(shape.width, m_width - x), y1 = std::min(shape.height, m_height - y);
    if (x0 >= x1 || y0 >= y1)
        return;
    Bitmap part(x1 - x0, y1 - y0);
    for (int r = y0; r < y1; ++r)
        std::copy_n(&shape.bits[size_t(r) * size_t(shape.width) + size_t(x0)], part.width,
                    &part.bits[size_t(r - y0) * size_t(part.width)]);
    newSymbol(part, x + x0, y + y0, false);
}

const Bitmap& Jb2Writer::library(int index) const {
    return index < m_inheritedCount ? (*m_inherited)[size_t(index)]
                                    : m_library[size_t(index - m_inheritedCount)];
}

int Jb2Writer::addToLibrary(const Bitmap& shape) {
    m_library.push_back(shape);
    return librarySize() - 1;
}

void Jb2Writer::resetNumbersWhenFull() {
    if (m_nodes.size() <= kMaxNodes)
        return;
    record(RequiredDictOrReset);
    m_nodes.assign(1, Node{});
    std::fill(std::begin(m_roots), std::end(m_roots), 0u);
}

void Jb2Writer::record(Record type) {
    ++m_records;
    if (m_tally)
        ++m_tally->records[type];
    tallied(Jb2Tally::RecordType, [&] { number(type, StartOfData, EndOfData, RecordType); });
}

// A number in [low, high]: its sign, then which of the ranges 0, 1-2, 3-6, 7-14... holds it,
// then its place in that range, each decision in a node of its own. Decisions the range already
// settles are not coded.
template <bool kScratch, class Coder>
void Jb2Writer::numberWith(Coder& coder, int value, int low, int high, Number which) {
    int node = -1; // the parent of the slot in use; -1 for the root
    bool rightSlot = false;
    uint32_t none = 0; // a scratch pass's slot past the nodes that exist
    auto slot = [&]() -> uint32_t& {
        if (node < 0)
            return m_roots[which];
        if (kScratch && node == 0)
            return none = 0;
        return rightSlot ? m_nodes[size_t(node)].right : m_nodes[size_t(node)].left;
    };
    int cutoff = 0;
    int phase = 1;
    unsigned range = 0xffffffffu;
    while (range != 1) {
        if (!kScratch && slot() == 0) {
            m_nodes.push_back(Node{});
            slot() = uint32_t(m_nodes.size() - 1);
        }
        const int current = int(slot());
        const bool decision = value >= cutoff;
        if (low < cutoff && high >= cutoff) {
            if constexpr (kScratch) {
                ZpContext context = current != 0 ? m_nodes[size_t(current)].context : 0;
                coder.encode(decision, context);
            } else {
                coder.encode(decision, m_nodes[size_t(current)].context);
            }
        }
        node = current;
        rightSlot = decision;
        switch (phase) {
        case 1:
            if (!decision) {
                value = -value - 1;
                const int lowWas = low;
                low = -high - 1;
                high = -lowWas - 1;
            }
            phase = 2;
            cutoff = 1;
            break;
        case 2:
            if (!decision) {
                phase = 3;
                range = unsigned(cutoff + 1) / 2;
                if (range == 1)
                    cutoff = 0;
                else
                    cutoff -= int(range / 2);
            } else {
                cutoff += cutoff + 1;
            }
            break;
        default:
            range /= 2;
            if (range != 1)
                cutoff += decision ? int(range / 2) : -int(range / 2);
            else if (!decision)
                --cutoff;
            break;
        }
    }
}

void Jb2Writer::absoluteSize(const Bitmap& shape) {
    tallied(Jb2Tally::Size, [&] {
        number(shape.width, 0, kBigPositive, AbsSizeX);
        number(shape.height, 0, kBigPositive, AbsSizeY);
    });
}

void Jb2Writer::relativeSize(const Bitmap& shape, const Bitmap& reference) {
    tallied(Jb2Tally::Size, [&] {
        number(shape.width - reference.width, kBigNegative, kBigPositive, RelSizeX);
        number(shape.height - reference.height, kBigNegative, kBigPositive, RelSizeY);
    });
}

void Jb2Writer::direct(const Bitmap& shape) {
    tallied(Jb2Tally::Direct, [&] { codeDirect(m_zp, m_direct, shape); });
}

void Jb2Writer::refine(const Bitmap& shape, const Bitmap& reference) {
    tallied(Jb2Tally::Refinement,
            [&] { codeRefine(m_zp, m_refine, shape, reference, m_aligned, m_padded, m_columns); });
}

double Jb2Writer::newSymbolCost(const Bitmap& shape, bool toLibrary) {
    ZpCounter counter(m_zp.interval());
    numberWith<true>(counter, toLibrary ? NewMark : NewMarkImageOnly, StartOfData, EndOfData,
                     RecordType);
    numberWith<true>(counter, shape.width, 0, kBigPositive, AbsSizeX);
    numberWith<true>(counter, shape.height, 0, kBigPositive, AbsSizeY);
    ZpContext contexts[1024];
    std::copy(std::begin(m_direct), std::end(m_direct), contexts);
    codeDirect(counter, contexts, shape);
    return counter.bits();
}

double Jb2Writer::refinementHeaderCost(int match, int width, int height, bool toLibrary) {
    // The record type is the same for every reference weighed for one shape: counted once.
    const Record type = toLibrary ? MatchedRefine : MatchedRefineImageOnly;
    if (m_counted.records != m_records || m_counted.type != type) {
        m_counted.counter = ZpCounter(m_zp.interval());
        numberWith<true>(m_counted.counter, type, StartOfData, EndOfData, RecordType);
        m_counted.records = m_records;
        m_counted.type = type;
    }
    ZpCounter counter = m_counted.counter;
    numberWith<true>(counter, match, 0, librarySize() - 1, MatchIndex);
    const Bitmap& reference = library(match);
    numberWith<true>(counter, width - reference.width, kBigNegative, kBigPositive, RelSizeX);
    numberWith<true>(counter, height - reference.height, kBigNegative, kBigPositive, RelSizeY);
    return counter.bits();
}

// A shape's place, from the last shape on its line or from the first one of the line before.
void Jb2Writer::location(int x, int y, int w, int h) {
    const int left = x + 1;
    const int bottom = m_height - y - h + 1;
    const int right = left + w - 1;
    const int top = bottom + h - 1;
    const bool newLine = m_callerLines ? m_lineNext : left < m_lastLeft;
    m_lineNext = false;
    const double before = m_tally ? m_zp.bits() : 0;
    m_zp.encode(newLine, m_offsetType);
    if (newLine) {
        number(left - m_lineLeft, kBigNegative, kBigPositive, RelLocXLast);
        number(top - m_lineBottom, kBigNegative, kBigPositive, RelLocYLast);
        m_lastLeft = m_lineLeft = left;
        m_lastRight = right;
        m_lastBottom = m_lineBottom = bottom;
        std::fill(std::begin(m_bottoms), std::end(m_bottoms), bottom);
        m_bottomPos = 0;
    } else {
        number(left - m_lastRight, kBigNegative, kBigPositive, RelLocXCurrent);
        number(bottom - m_lastBottom, kBigNegative, kBigPositive, RelLocYCurrent);
        m_lastLeft = left;
        m_lastRight = right;
        m_bottomPos = (m_bottomPos + 1) % 3;
        m_bottoms[m_bottomPos] = bottom;
        // The line's baseline: the median of its last three bottoms.
        const int a = m_bottoms[0], b = m_bottoms[1], c = m_bottoms[2];
        m_lastBottom = std::max(std::min(a, b), std::min(std::max(a, b), c));
    }
    if (m_tally)
        m_tally->bits[newLine ? Jb2Tally::NewLine : Jb2Tally::SameLine] += m_zp.bits() - before;
}

} // namespace vormelle::codec
