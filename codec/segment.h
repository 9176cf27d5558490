// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/error.h"

#include <QByteArray>
#include <QtGlobal>

#include <memory>

namespace vormelle::codec {

// What a grey or colour page holds, and so how it is coded.
enum class PageProfile {
    Text,     // text or line art on paper: a mask with small colour layers
    Compound, // text beside photographs or over colour: the same layers, photographs kept out
              // of the mask
    Photo,    // no text found: one wavelet layer
};

// "text", "compound", "photo": the words of the run log.
const char* profileName(PageProfile profile);

struct Segmentation {
    Error error = Error::None;
    PageProfile profile = PageProfile::Photo;
    // The mask as a binary PBM (P4), 1 for the pixels that belong to the text layer; empty for
    // a photograph.
    QByteArray maskPbm;
    // The photographs found, as a PBM of the page's size (1 on a photograph); empty when none.
    QByteArray photoPbm;
    qint64 maskPixels = 0;  // pixels in the mask
    qint64 photoPixels = 0; // pixels found to be photograph (kept out of the mask)
    // Found to hold no text before its letters were sought (a photograph: most of it picture,
    // and too few strokes outside the pictures even counted generously).
    bool early = false;
};

// Finds the text layer of one page with Leptonica: dark ink on light paper in any colour
// (binarised on the darkest channel, so blue ink is as dark as black), light ink on dark or
// coloured bands (the same, inverted, inside dark regions only), thin rules and table lines.
// Photographs are found as halftone-like regions and left to the background. Specks stay.
//
// The page is given row by row and held whole (the segmenter needs it whole), as one byte a
// pixel: its grey, or a colour page's darkest channel.
class Segmenter final {
public:
    // `channels` 1 (grey) or 3 (RGB). A page below kSmallestPage on a side is never segmented:
    // it is a photograph.
    Segmenter(int width, int height, int channels);
    ~Segmenter();
    Segmenter(const Segmenter&) = delete;
    Segmenter& operator=(const Segmenter&) = delete;

    // false when the page could not be held (out of memory, or no pixels).
    bool valid() const;
    // Row `y` from the top, `channels` bytes a pixel.
    void setRow(int y, const uchar* pixels);
    // Segments the page; it may be called once.
    Segmentation segment();

    static constexpr int kSmallestPage = 64;

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace vormelle::codec
