// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/jb2.h"
#include "codec/stage.h"

#include <QtGlobal>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vormelle::codec {

// The lossy mode's judge: whether one shape of a bitonal page may be drawn as another without
// any reader telling the difference. Pixel counts alone cannot say so: a 6 and an 8 in 7-point
// type differ in fewer pixels than two scans of the same 8. What tells letters apart is a part
// of the shape that one has and the other lacks: a stroke, a loop, a gap, a serif. So two shapes
// are twins only when, once aligned, everything that differs is edge noise: no piece of the
// difference is thicker than a pixel, they have as many loops, and they fall into as many pieces.

// Shapes are Bitmaps (codec/jb2.h): `width` x `height` pixels, one byte each, row by row from
// the top, nonzero for ink, no empty edge rows or columns.

struct Verdict {
    bool twins = false;
    // Where `a`'s top left goes, from `b`'s top left, to cover `b` best.
    int dx = 0;
    int dy = 0;
    // Pixels that differ between `b` and `a` placed there.
    int changed = 0;
};

// Whether `b` may be drawn as `a`, on a page of `dpi`: what a reader cannot see is a size on
// paper, so edge noise, the parts of a shape and the distances between shapes are measured in
// pixels of 300 dpi (two pixels at 600 dpi).
Verdict judgeTwins(const Bitmap& a, const Bitmap& b, int dpi = 300);

// Pixels at `dpi` that make one pixel at 300 dpi: at least one.
int reachAt(int dpi);

// The shapes of one document, each either new or drawn as an earlier twin of its own. Twins are
// looked for among earlier shapes of about the same size and ink only, never among all.
// Each page may change at most 1 % of its pixels; a twin that would exceed that is coded as a
// shape of its own.
class TwinFinder final {
public:
    TwinFinder();
    ~TwinFinder();
    TwinFinder(const TwinFinder&) = delete;
    TwinFinder& operator=(const TwinFinder&) = delete;

    // Starts a page of `pixels` pixels at `dpi`; the shapes of earlier pages stay candidates.
    void startPage(qint64 pixels, int dpi = 300);

    struct Choice {
        int shape = -1; // the shape to draw: an earlier one, or this one's own new number
        bool copy = false;
        int dx = 0; // as in Verdict, when a copy
        int dy = 0;
    };
    // Whether the shape may be drawn as `twin` (number `number`) at (dx, dy) from its place.
    using Allowed = std::function<bool(int number, const Bitmap& twin, int dx, int dy)>;
    // Adds the next shape of the page; with `allowed`, only twins it allows are drawn.
    Choice add(const Bitmap& shape, const Allowed& allowed = {});
    // Adds a shape that later ones may be drawn as, without asking about twins of its own (a
    // shape the page can copy from a shared dictionary); returns its number.
    int remember(const Bitmap& shape);
    // A shape coded as its own, by the number add() gave it; null for a copy or no such shape.
    const Bitmap* own(int number) const;
    // The shape of that number is drawn as `drawn` instead (cleaned of its noise), which changes
    // `changed` more pixels of the page; later shapes are judged against what is drawn.
    void redraw(int number, const Bitmap& drawn, qint64 changed);

    // Pixels changed on the current page so far, and the most it may change.
    qint64 changed() const;
    qint64 budget() const;

private:
    struct State;
    std::unique_ptr<State> m;
};

// The lossy mode inside the JB2 page coder (codec/jb2page.cpp): a shape that is no exact copy
// of an earlier one is asked about before it is coded, and drawn as a copy of its twin when it
// has one. Twins are looked for among the page's shapes coded on their own. A twin whose extra
// pixels would come within a pixel more than the judge's reach of another shape (two pixels at
// 300 dpi, three at 600) is not drawn: two shapes that did not touch never touch after (a gap
// closed between a stem and its dot, or a broken stroke), whatever the other is drawn as.
class Jb2Twins final {
public:
    // `page`: the page being coded (bitonal), read during the calls.
    explicit Jb2Twins(const PageView& page);

    struct Copy {
        int index = -1; // the twin's index in the page's library
        int x = 0;      // where the twin's top left goes on the page
        int y = 0;
    };
    // The twin to copy for `shape` at (x, y); none when it is to be coded, and coded() then
    // gives its library index (-1 when it is kept out of the library).
    // With `also`, only twins it allows too (the caller's own test).
    std::optional<Copy> twin(const Bitmap& shape, int x, int y,
                             const TwinFinder::Allowed& also = {});
    void coded(int index);

    // `shape` at (x, y), to be coded as a refinement of `reference`, drawn instead with the
    // reference's pixels where the two differ by edge noise only: what a reader could see in the
    // difference (a part thicker than a pixel of 300 dpi, a stroke of its own, a loop, a gap, a
    // piece) stays as the shape has it, so the cleaned shape is a twin of the shape, never of
    // another letter, and its refinement pays for the features only. None when nothing is noise,
    // when the cleaned shape would come near another shape or is no twin of the shape, or when
    // the page's 1 % has no room for it.
    struct Cleaned {
        Bitmap shape;
        int x = 0; // its top left on the page: the shape's, as its box is the shape's
        int y = 0;
        int changed = 0; // pixels that differ from the shape
    };
    // (rx, ry): where the reference's top left lies from the shape's, as the refinement lays it.
    std::optional<Cleaned> cleaned(const Bitmap& shape, int x, int y, const Bitmap& reference,
                                   int rx, int ry) const;
    // The shape to be coded is coded as `drawn` (from cleaned()).
    void coded(int index, const Cleaned& drawn);
    // A shape of the shared dictionary, library index `index`, that later shapes may be drawn
    // as: a document's pages share their twins.
    void offer(const Bitmap& shape, int index);

    qint64 changed() const { return m_finder.changed(); }

private:
    bool touchesOthers(const Bitmap& shape, int x, int y, const Bitmap& twin, int tx, int ty) const;
    bool touchesOthersAnyWidth(const Bitmap& shape, int x, int y, const Bitmap& twin, int tx,
                               int ty) const;

    PageView m_page;
    // The page's ink in its rows from the top up to each row: how much of the page is still to
    // come at a row, and so the twins' share of the 1 % still to come.
    std::vector<qint64> m_inkAbove;
    qint64 m_cleanedPixels = 0; // changed by cleaning so far
    int m_reach = 2;            // how near another shape a twin's extra pixels may come, in pixels
    TwinFinder m_finder;
    std::vector<int> m_indexOf; // library index by the finder's number, -1 for copies
    int m_pending = -1;         // the finder's number of the shape to be coded
};

// The lossy mode on one bitonal page: every shape that has a twin earlier on the page is drawn
// as that twin, within the page's 1 %. A lossless JB2 coder then codes the twins as copies of
// one shape. `rows` from the top, `stride` bytes apart, 1 bit a pixel, 1 for ink, the leftmost
// pixel in the high bit (as PBM). The page is left as it was when it cannot be worked on.
struct Substitution {
    qint64 changed = 0; // pixels that differ from the page as it was
    int shapes = 0;     // connected shapes on the page
    int copies = 0;     // shapes drawn as an earlier twin
};
Substitution substituteTwins(uchar* rows, int width, int height, qsizetype stride);

} // namespace vormelle::codec
