// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/zp.h"

#include <cstdint>
#include <vector>

namespace vormelle::codec {

// A small bilevel picture: one byte a pixel, 1 for black, rows from the top.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bits;

    Bitmap() = default;
    Bitmap(int w, int h) : width(w), height(h), bits(size_t(w) * size_t(h), 0) {}
    uint8_t at(int x, int y) const { return bits[size_t(y) * size_t(width) + size_t(x)]; }
    uint8_t& at(int x, int y) { return bits[size_t(y) * size_t(width) + size_t(x)]; }
    bool operator==(const Bitmap&) const = default;
};

// Where a stream's bits go, part by part (for the benches).
struct Jb2Tally {
    enum Part { RecordType, Index, Size, SameLine, NewLine, Direct, Refinement, Other, PartCount };
    double bits[PartCount] = {};
    int records[12] = {}; // by record type
};

// Writes the records of one JB2 stream (an Sjbz page or a Djbz dictionary) in the order they are
// called. Positions are the shape's top left pixel, from the page's top left; a shape may reach
// past the page's edges, and only its part on the page is drawn. Shapes given to
// the library must have no empty edge rows or columns: the decoder aligns refinements on the
// black pixels' box.
class Jb2Writer {
public:
    // A page of `width` by `height` pixels whose library starts with `inherited`, the shapes of
    // the dictionary it includes (kept by the caller while the writer lives).
    Jb2Writer(int width, int height, const std::vector<Bitmap>* inherited = nullptr);
    // A dictionary: shapes for the library only.
    explicit Jb2Writer(const std::vector<Bitmap>* inherited = nullptr);

    // A shape coded on its own. Returns its library index, or -1 when not added to it.
    int newSymbol(const Bitmap& shape, int x, int y, bool toLibrary);
    // A shape in the library only (dictionaries).
    int librarySymbol(const Bitmap& shape);
    // A shape coded as a refinement of library shape `match`.
    int refinedSymbol(const Bitmap& shape, int match, int x, int y, bool toLibrary);
    int refinedLibrarySymbol(const Bitmap& shape, int match);
    // Library shape `match` placed again, unchanged.
    void copy(int match, int x, int y);
    // Pixels placed at an absolute position, never matched (pictures, rules).
    void nonSymbol(const Bitmap& shape, int x, int y);

    // The next shape placed begins a line of text. Once called, lines begin only where it says;
    // before, a shape begins one when it lies left of the shape before.
    void beginLine() {
        m_callerLines = true;
        m_lineNext = true;
    }

    // Bits the shape's record would take now, its place aside, coded on its own. Nothing is
    // written.
    double newSymbolCost(const Bitmap& shape, bool toLibrary);
    // The bits a refinement of library shape `match` takes before its pixels (its record type,
    // reference and size), and the contexts its pixels would be coded in now.
    double refinementHeaderCost(int match, int width, int height, bool toLibrary);
    const ZpContext* refinementContexts() const { return m_refine; }

    int librarySize() const { return int(m_library.size()) + m_inheritedCount; }
    // From now on, adds the bits of each part of the stream to `tally` (none: stops).
    void tallyInto(Jb2Tally* tally) { m_tally = tally; }
    // Ends the stream and returns the chunk's bytes.
    std::vector<uint8_t> finish();

private:
    enum Record {
        StartOfData = 0,
        NewMark = 1,
        NewMarkLibraryOnly = 2,
        NewMarkImageOnly = 3,
        MatchedRefine = 4,
        MatchedRefineLibraryOnly = 5,
        MatchedRefineImageOnly = 6,
        MatchedCopy = 7,
        NonMarkData = 8,
        RequiredDictOrReset = 9,
        EndOfData = 11,
    };
    // The numbers' binary trees grow as values are coded; each root is an index into m_nodes.
    struct Node {
        ZpContext context = 0;
        uint32_t left = 0;
        uint32_t right = 0;
    };
    enum Number {
        RecordType,
        ImageSize,
        MatchIndex,
        AbsSizeX,
        AbsSizeY,
        RelSizeX,
        RelSizeY,
        AbsLocX,
        AbsLocY,
        RelLocXCurrent,
        RelLocYCurrent,
        RelLocXLast,
        RelLocYLast,
        InheritedCount,
        NumberCount
    };

    void start(int width, int height);
    // Runs `code`, adding the bits it takes to `part` of the tally.
    template <class F> void tallied(Jb2Tally::Part part, F&& code) {
        if (!m_tally) {
            code();
            return;
        }
        const double before = m_zp.bits();
        code();
        m_tally->bits[part] += m_zp.bits() - before;
    }
    void record(Record type);
    void number(int value, int low, int high, Number which) {
        numberWith<false>(m_zp, value, low, high, which);
    }
    // With `kScratch`, the numbers' nodes and contexts stay as they are.
    template <bool kScratch, class Coder>
    void numberWith(Coder& coder, int value, int low, int high, Number which);
    void direct(const Bitmap& shape);
    void refine(const Bitmap& shape, const Bitmap& reference);
    void location(int x, int y, int w, int h);
    void absoluteSize(const Bitmap& shape);
    void relativeSize(const Bitmap& shape, const Bitmap& reference);
    bool reachable(const Bitmap& shape, int x, int y) const;
    void placeVisiblePart(const Bitmap& shape, int x, int y);
    const Bitmap& library(int index) const;
    int addToLibrary(const Bitmap& shape);
    void resetNumbersWhenFull();

    ZpEncoder m_zp;
    Jb2Tally* m_tally = nullptr;
    std::vector<Node> m_nodes;
    uint32_t m_roots[NumberCount] = {};
    ZpContext m_direct[1024] = {};
    ZpContext m_refine[2048] = {};
    ZpContext m_refinementFlag = 0;
    std::vector<uint8_t> m_aligned; // a refinement's working rows
    std::vector<uint8_t> m_padded;
    std::vector<uint8_t> m_columns;
    ZpContext m_offsetType = 0;
    // Records begun so far, and a count of a record type's bits made after the last of them.
    uint64_t m_records = 0;
    struct {
        ZpCounter counter;
        uint64_t records = ~uint64_t(0);
        int type = -1;
    } m_counted;

    int m_width = 0;
    int m_height = 0;
    const std::vector<Bitmap>* m_inherited = nullptr;
    int m_inheritedCount = 0;
    std::vector<Bitmap> m_library;

    // Where the last shapes went, in the format's coordinates (columns and rows from 1, rows
    // from the bottom).
    int m_lastLeft = 0;
    int m_lastRight = 0;
    int m_lastBottom = 0;
    int m_lineLeft = 0;
    int m_lineBottom = 0;
    int m_bottoms[3] = {};
    int m_bottomPos = 0;
    bool m_callerLines = false;
    bool m_lineNext = false;
};

} // namespace vormelle::codec
