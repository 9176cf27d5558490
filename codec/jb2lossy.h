// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <memory>
#include <unordered_map>
#include <vector>

namespace vormelle::codec {

// The lossy mode's judge: whether one shape of a bitonal page may be drawn as another without
// any reader telling the difference. Pixel counts alone cannot say so: a 6 and an 8 in 7-point
// type differ in fewer pixels than two scans of the same 8. What tells letters apart is a part
// of the shape that one has and the other lacks: a stroke, a loop, a gap, a serif. So two shapes
// are twins only when, once aligned, everything that differs is edge noise: no piece of the
// difference is thicker than a pixel, they have as many loops, and they fall into as many pieces.

// A shape: `width` x `height` pixels, one byte each, row by row from the top, nonzero for ink.
struct Shape {
    int width = 0;
    int height = 0;
    std::vector<uchar> ink;
    bool at(int x, int y) const { return ink[size_t(y) * size_t(width) + size_t(x)] != 0; }
};

struct Verdict {
    bool twins = false;
    // Where `a`'s top left goes, from `b`'s top left, to cover `b` best.
    int dx = 0;
    int dy = 0;
    // Pixels that differ between `b` and `a` placed there.
    int changed = 0;
};

// Whether `b` may be drawn as `a`.
Verdict judgeTwins(const Shape& a, const Shape& b);

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

    // Starts a page of `pixels` pixels; the shapes of earlier pages stay candidates.
    void startPage(qint64 pixels);

    struct Choice {
        int shape = -1; // the shape to draw: an earlier one, or this one's own new number
        bool copy = false;
        int dx = 0; // as in Verdict, when a copy
        int dy = 0;
    };
    // Adds the next shape of the page.
    Choice add(const Shape& shape);
    // A shape coded as its own, by the number add() gave it; null for a copy or no such shape.
    const Shape* own(int number) const;

    // Pixels changed on the current page so far, and the most it may change.
    qint64 changed() const;
    qint64 budget() const;

private:
    struct State;
    std::unique_ptr<State> m;
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
