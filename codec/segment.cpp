// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/segment.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <utility>

namespace vormelle::codec {

namespace {

// Leptonica's objects, released however a step ends.
struct PixRef {
    PIX* pix = nullptr;
    PixRef() = default;
    explicit PixRef(PIX* p) : pix(p) {}
    ~PixRef() { pixDestroy(&pix); }
    PixRef(const PixRef&) = delete;
    PixRef& operator=(const PixRef&) = delete;
    PixRef& operator=(PIX* p) {
        pixDestroy(&pix);
        pix = p;
        return *this;
    }
    explicit operator bool() const { return pix != nullptr; }
};

// Sauvola's window half-width: about a text line's height at 300 dpi, so a stroke's
// neighbourhood always holds paper.
constexpr int kSauvolaHalfWindow = 24;
constexpr float kSauvolaFactor = 0.34F;
// Tiles keep Sauvola's sums (8 bytes a pixel) to a part of the page at a time.
constexpr int kSauvolaTile = 256;
// Darker than this on the darkest channel counts as a band that may carry light text.
constexpr int kDarkBand = 110;
// A band is at least this thick; text strokes are thinner.
constexpr int kBandOpening = 17;
// A rule is at most two pixels thick (a 1-pixel pen lies across two rows), darker than its
// surroundings by kRuleContrast, and at least kRuleLength long; strokes Sauvola found are
// kStrokeSide thick or more either way.
constexpr int kStrokeSide = 3;
constexpr int kRuleContrast = 40;
constexpr int kRuleLength = 21;
// A band found at a quarter of the size is grown back by this at full size (twice the
// reduction, and one).
constexpr int kBandEdge = 9;
// Light letters inside a band leave holes up to this size.
constexpr int kBandClosing = 61;
// Paper the closing joined into a band is solid and at least a band's opening thick either way;
// a letter's stem ("l", "I") is as solid, but thinner.
constexpr int kSlabSide = kBandOpening;
// Dark ink on a band (a frame's line along a yellow bar, black text on cyan) is thinner than
// kBandInkHat and darker than the band around it by kBandInkContrast on the lightest channel;
// the band's gaps between light letters are as dark, and lie within kBandInkHat of them.
constexpr int kBandInkHat = 7;
constexpr int kBandInkContrast = 80;
// On the darkest channel: paper is lighter than kPaperLevel, ink and bands of colour darker
// than kInkLevel; a photograph is mostly in between.
constexpr int kPaperLevel = 200;
constexpr int kInkLevel = 60;
// A light letter on a band covers less of its box than this; paper left between two bands
// covers all of it.
constexpr float kMostLetterFill = 0.85F;
// Mid-tones this wide are no stroke's edge.
constexpr int kPhotoOpening = 15;
// Patches of photograph closer than this are one photograph.
constexpr int kPhotoClosing = 61;
// A photograph's region is grown by this, so its edges stay in the background too.
constexpr int kPhotoGrowth = 9;
// Below this share of the page in the mask, the page holds no text.
constexpr double kLeastText = 0.0008;
// Above this share of photograph, the page is a photograph: what the mask found are its edges.
constexpr double kMostPhoto = 0.75;
// Text covers at least this share of the paper it stands on.
constexpr double kEdgeShare = 0.02;
// Paper beside a page's pictures that may hold a caption covers at least this share of it (a
// photograph's light patches, neither photograph nor band to the segmenter, cover less).
constexpr double kLeastPaper = 0.1;
// A page is found to hold no text before its letters are sought only when its strokes so far
// and this many times an over-count of what it may hold besides are too little.
constexpr double kEarlyMargin = 4;
// Above this share of photograph or colour (bands, bars), the page is a compound page: its
// background needs the finer coding.
constexpr double kLeastPhoto = 0.01;

// Regions are found at 1 / kReduction of the page's size; sizes given at full size become
// these there (at least 1).
constexpr int kReduction = 4;
int small(int size) {
    return std::max(1, (size + kReduction / 2) / kReduction);
}

// A 1-bit page at a quarter of its size: a pixel on where all 16 it stands for are (`all`), or
// any of them.
PIX* reduced(PIX* pix, bool all) {
    const int level = all ? 4 : 1;
    return pixReduceRankBinaryCascade(pix, level, level, 0, 0);
}

// A mask found at a quarter of the page's size, at `factor` times that size, cut to `w` x `h`.
PIX* scaledUp(PIX* reducedPix, int factor, int w, int h) {
    PixRef grown(pixExpandReplicate(reducedPix, factor));
    PIX* out = grown ? pixCreate(w, h, 1) : nullptr;
    if (out)
        pixRasterop(out, 0, 0, w, h, PIX_SRC, grown.pix, 0, 0);
    return out;
}

// A reduced mask back at the page's size `w` x `h`.
PIX* fullSize(PIX* reducedPix, int w, int h) {
    return scaledUp(reducedPix, kReduction, w, h);
}

// Steps on 8-bit images of the page's size are taken a band of rows at a time: their temporary
// images are then a band's, not a page's.
constexpr int kRowBand = 256;

// Rows `top` to `top + rows` of an image, as an image of their own.
PIX* rowsOf(PIX* pix, int top, int rows) {
    BOX* box = boxCreate(0, top, int(pixGetWidth(pix)), rows);
    PIX* part = box ? pixClipRectangle(pix, box, nullptr) : nullptr;
    boxDestroy(&box);
    return part;
}

// A 1-bit pix as a binary PBM, straight from Leptonica's words (most significant bit first, as
// PBM's bytes).
QByteArray pbmOf(PIX* pix) {
    const int w = int(pixGetWidth(pix));
    const int h = int(pixGetHeight(pix));
    const QByteArray header =
        QByteArray("P4\n") + QByteArray::number(w) + ' ' + QByteArray::number(h) + '\n';
    const qsizetype rowBytes = (w + 7) / 8;
    QByteArray pbm(header.size() + rowBytes * h, Qt::Uninitialized);
    std::copy_n(header.constData(), header.size(), pbm.data());
    auto* out = reinterpret_cast<uchar*>(pbm.data() + header.size());
    const l_uint32* words = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    for (int y = 0; y < h; ++y, words += wpl, out += rowBytes) {
        for (qsizetype b = 0; b < rowBytes; ++b)
            out[b] = uchar(words[b / 4] >> (24 - 8 * (b % 4)));
    }
    return pbm;
}

qint64 countOn(PIX* pix) {
    l_int32 count = 0;
    if (!pix || pixCountPixels(pix, &count, nullptr) != 0)
        return 0;
    return count;
}

} // namespace

const char* profileName(PageProfile profile) {
    switch (profile) {
    case PageProfile::Text:
        return "text";
    case PageProfile::Compound:
        return "compound";
    case PageProfile::Photo:
        return "photo";
    }
    return "photo";
}

struct Segmenter::State {
    int width = 0;
    int height = 0;
    int channels = 1;
    // 8 bits a pixel: the grey, or a colour page's darkest channel, where ink of any colour is
    // dark and tinted paper stays light. The colour itself is the encoders'.
    PixRef page;
    // A colour page's lightest channel: a yellow or blue band is as dark as black ink on the
    // darkest channel, not on this one.
    PixRef lightest;
    bool segmented = false;
};

Segmenter::Segmenter(int width, int height, int channels) : m(std::make_unique<State>()) {
    m->width = width;
    m->height = height;
    m->channels = channels == 3 ? 3 : 1;
    if (width > 0 && height > 0) {
        m->page = pixCreate(width, height, 8);
        if (m->channels == 3 && m->page) {
            m->lightest = pixCreate(width, height, 8);
            if (!m->lightest)
                m->page = nullptr;
        }
    }
}

Segmenter::~Segmenter() = default;

bool Segmenter::valid() const {
    return static_cast<bool>(m->page);
}

void Segmenter::setRow(int y, const uchar* pixels) {
    if (!m->page || y < 0 || y >= m->height)
        return;
    l_uint32* line = pixGetData(m->page.pix) + static_cast<qsizetype>(y) * pixGetWpl(m->page.pix);
    if (m->channels == 1) {
        for (int x = 0; x < m->width; ++x)
            SET_DATA_BYTE(line, x, pixels[x]);
    } else {
        l_uint32* lightLine =
            pixGetData(m->lightest.pix) + static_cast<qsizetype>(y) * pixGetWpl(m->lightest.pix);
        for (int x = 0; x < m->width; ++x) {
            const uchar* p = pixels + 3 * x;
            SET_DATA_BYTE(line, x, std::min({p[0], p[1], p[2]}));
            SET_DATA_BYTE(lightLine, x, std::max({p[0], p[1], p[2]}));
        }
    }
}

namespace {

// Sauvola's binarisation of the page (`half`: the page at half its size). Its thresholds change
// slowly across the page: they are found at half its size, for a quarter of the work, and
// applied to every pixel of it, a band of rows at a time.
PIX* sauvolaDark(PIX* grey, PIX* half) {
    const int w = int(pixGetWidth(grey));
    const int h = int(pixGetHeight(grey));
    const int hw = int(pixGetWidth(half));
    const int hh = int(pixGetHeight(half));
    PIX* thresholdOut = nullptr;
    if (pixSauvolaBinarizeTiled(half, kSauvolaHalfWindow / 2, kSauvolaFactor,
                                std::max(1, hw / kSauvolaTile), std::max(1, hh / kSauvolaTile),
                                &thresholdOut, nullptr) != 0)
        return nullptr;
    PixRef threshold(thresholdOut);
    PixRef dark(pixCreate(w, h, 1));
    if (!dark)
        return nullptr;
    for (int top = 0; top < h; top += kRowBand) {
        const int rows = std::min(kRowBand, h - top);
        int halfTop = top / 2;
        int halfRows = std::min(hh - halfTop, (rows + 1) / 2);
        // An odd side: its last column or row takes its neighbour's thresholds (a band of
        // that one row alone, its neighbour's twice).
        if (halfRows < 1) {
            halfTop = hh - 1;
            halfRows = 1;
        }
        PixRef band(rowsOf(threshold.pix, halfTop, halfRows));
        if (band)
            band = pixExpandReplicate(band.pix, 2);
        if (band && (2 * hw < w || 2 * halfRows < rows))
            band =
                pixAddMirroredBorder(band.pix, 0, w - 2 * hw, 0, std::max(0, rows - 2 * halfRows));
        if (band && int(pixGetHeight(band.pix)) > rows)
            band = rowsOf(band.pix, 0, rows);
        PixRef pixels(band ? rowsOf(grey, top, rows) : nullptr);
        PixRef bits(pixels ? pixVarThresholdToBinary(pixels.pix, band.pix) : nullptr);
        if (!bits)
            return nullptr;
        pixRasterop(dark.pix, 0, top, w, rows, PIX_SRC, bits.pix, 0, 0);
    }
    PIX* out = dark.pix;
    dark.pix = nullptr;
    return out;
}

// Long runs darker by `contrast` than what lies on either side of them (a black top-hat by a
// 3x3 closing, which Leptonica does in a few passes), at least `length` long.
PIX* thinRuns(PIX* grey, int contrast, int length) {
    const int w = int(pixGetWidth(grey));
    const int h = int(pixGetHeight(grey));
    PixRef thin(pixCreate(w, h, 1));
    if (!thin)
        return nullptr;
    // A band's rows need two rows either side of it.
    for (int top = 0; top < h; top += kRowBand) {
        const int rows = std::min(kRowBand, h - top);
        const int y0 = std::max(0, top - 2);
        const int y1 = std::min(h, top + rows + 2);
        PixRef pixels(rowsOf(grey, y0, y1 - y0));
        PixRef hat(pixels ? pixCloseGray3(pixels.pix, 3, 3) : nullptr);
        if (hat)
            pixSubtractGray(hat.pix, hat.pix, pixels.pix);
        PixRef bits(hat ? pixThresholdToBinary(hat.pix, contrast) : nullptr);
        if (!bits)
            return nullptr;
        pixRasterop(thin.pix, 0, top, w, rows, PIX_NOT(PIX_SRC), bits.pix, 0, top - y0);
    }
    PixRef across(pixOpenBrickDwa(nullptr, thin.pix, length, 1));
    PixRef down(pixOpenBrickDwa(nullptr, thin.pix, 1, length));
    if (!across || !down)
        return nullptr;
    pixOr(across.pix, across.pix, down.pix);
    PIX* out = across.pix;
    across.pix = nullptr;
    return out;
}

// Thin ink darker by `contrast` than what lies around it (a black top-hat `hat` wide) on
// `pixels`, where `where` is on.
PIX* darkInk(PIX* pixels, int hat, int contrast, PIX* where) {
    PixRef top(pixTophat(pixels, hat, hat, L_TOPHAT_BLACK));
    PixRef ink(top ? pixThresholdToBinary(top.pix, contrast) : nullptr);
    if (!ink)
        return nullptr;
    pixInvert(ink.pix, ink.pix);
    pixAnd(ink.pix, ink.pix, where);
    PIX* out = ink.pix;
    ink.pix = nullptr;
    return out;
}

// Light ink on `pixels` (inverted in place): Sauvola with a window `halfWindow` wide.
PIX* lightInk(PIX* pixels, int halfWindow) {
    pixInvert(pixels, pixels);
    PIX* light = nullptr;
    if (pixSauvolaBinarizeTiled(pixels, halfWindow, kSauvolaFactor,
                                std::max(1, int(pixGetWidth(pixels)) / kSauvolaTile),
                                std::max(1, int(pixGetHeight(pixels)) / kSauvolaTile), nullptr,
                                &light) != 0)
        return nullptr;
    return light;
}

// How many pixels the text a page's bands, rules and photographs may still hold would add to
// its mask, over-counted: the steps that find it at full size, taken on the page at half its
// size (`half`; `lightestHalf`, a colour page's lightest channel) with windows as wide on it, their
// finds counted four times. Rules keep half their contrast there (a one-pixel rule loses half
// of it); ink on bands keeps all of its own, which the strokes of text keep at half size and a
// photograph's texture does not reach. -1 when memory runs out.
qint64 textLeftAtHalf(PIX* half, PIX* lightestHalf, PIX* bandsSmall, PIX* photoSmall) {
    const int hw = int(pixGetWidth(half));
    const int hh = int(pixGetHeight(half));
    PixRef bands(scaledUp(bandsSmall, kReduction / 2, hw, hh));
    PixRef grown(bands ? pixDilateBrick(nullptr, bands.pix, kBandEdge / 2 + 1, kBandEdge / 2 + 1)
                       : nullptr);
    PixRef ink(grown ? darkInk(lightestHalf ? lightestHalf : half, kBandInkHat / 2 + 2,
                               kBandInkContrast, grown.pix)
                     : nullptr);
    PixRef rules(ink ? thinRuns(half, kRuleContrast / 2, kRuleLength / 2 + 1) : nullptr);
    // Last: it inverts the page.
    PixRef light(rules ? lightInk(half, kSauvolaHalfWindow / 2) : nullptr);
    if (!light)
        return -1;
    pixAnd(light.pix, light.pix, bands.pix);
    pixOr(rules.pix, rules.pix, light.pix);
    pixOr(rules.pix, rules.pix, ink.pix);
    if (photoSmall) {
        PixRef photo(scaledUp(photoSmall, kReduction / 2, hw, hh));
        if (!photo)
            return -1;
        pixSubtract(rules.pix, rules.pix, photo.pix);
    }
    return 4 * countOn(rules.pix);
}

// Large dark areas (bands and bars of colour, a photograph's dark parts): their dark ink is
// the band itself, not text, and they may carry light letters.
struct Bands {
    PixRef quarter; // at a quarter of the page's size, their light letters' holes closed
    PixRef full;    // at the page's size
    PixRef grown;   // `full` grown by kBandEdge; only where there are bands
    bool any = false;
    // The box around them all.
    l_int32 x = 0, y = 0, w = 0, h = 0;
};

// Bands: large dark areas, their light letters' holes closed. Regions (bands, photographs) are
// coarse: they are found at a quarter of the page's size, where the large openings and
// closings cost a sixteenth. false when memory runs out.
bool findBands(PIX* grey, Bands& bands) {
    {
        PixRef dark110(pixThresholdToBinary(grey, kDarkBand));
        if (dark110)
            bands.quarter = reduced(dark110.pix, true);
    }
    if (bands.quarter)
        bands.quarter =
            pixOpenBrick(nullptr, bands.quarter.pix, small(kBandOpening), small(kBandOpening));
    if (bands.quarter)
        bands.quarter =
            pixCloseSafeBrick(nullptr, bands.quarter.pix, small(kBandClosing), small(kBandClosing));
    if (!bands.quarter)
        return false;
    bands.full = fullSize(bands.quarter.pix, int(pixGetWidth(grey)), int(pixGetHeight(grey)));
    if (!bands.full)
        return false;
    BOX* box = nullptr;
    bands.any = pixClipBoxToForeground(bands.full.pix, nullptr, nullptr, &box) == 0 && box;
    if (box)
        boxGetGeometry(box, &bands.x, &bands.y, &bands.w, &bands.h);
    boxDestroy(&box);
    // The quarter-size band lost up to a reduced pixel at its edges: grown back, the band's own
    // edge is no stroke either (where it joined a chart's axis, the two took one colour).
    if (bands.any) {
        bands.grown = pixDilateBrickDwa(nullptr, bands.full.pix, kBandEdge, kBandEdge);
        if (!bands.grown)
            return false;
    }
    return true;
}

// The photographs found; both images empty when there are none.
struct Photos {
    PixRef quarter; // at a quarter of the page's size
    PixRef full;    // at the page's size
    qint64 pixels = 0;
};

// Photographs: the halftone-like texture Sauvola makes of them (in `dark`, the bands already
// out of it), and areas of mid-tones (neither paper nor ink) too large to be the edges of
// strokes; grown a little so their edges stay in the background too. false when memory runs
// out.
bool findPhotos(PIX* grey, PIX* dark, PIX* bandsQuarter, Photos& photos) {
    const int w = int(pixGetWidth(grey));
    const int h = int(pixGetHeight(grey));
    PixRef quarter;
    {
        PixRef midTones(pixThresholdToBinary(grey, kPaperLevel));
        PixRef inkTones(pixThresholdToBinary(grey, kInkLevel));
        if (!midTones || !inkTones)
            return false;
        pixSubtract(midTones.pix, midTones.pix, inkTones.pix);
        inkTones = nullptr;
        quarter = reduced(midTones.pix, true);
        if (quarter)
            quarter =
                pixOpenBrick(nullptr, quarter.pix, small(kPhotoOpening), small(kPhotoOpening));
        if (!quarter)
            return false;
    }
    l_int32 found = 0;
    // Leptonica looks for halftones on pages of 100 x 100 and more; on a smaller one it only
    // prints an error on the console.
    PixRef halftone(w >= 100 && h >= 100 ? pixGenerateHalftoneMask(dark, nullptr, &found, nullptr)
                                         : nullptr);
    if (halftone && found) {
        halftone = reduced(halftone.pix, false);
        if (!halftone)
            return false;
        pixOr(quarter.pix, quarter.pix, halftone.pix);
    }
    halftone = nullptr;
    // The anti-aliased edges of light letters on a band are mid-tones too: no photograph.
    pixSubtract(quarter.pix, quarter.pix, bandsQuarter);
    if (countOn(quarter.pix) == 0)
        return true;
    // Patches of one photograph made whole.
    photos.quarter =
        pixCloseSafeBrick(nullptr, quarter.pix, small(kPhotoClosing), small(kPhotoClosing));
    if (photos.quarter)
        photos.quarter =
            pixDilateBrick(nullptr, photos.quarter.pix, small(kPhotoGrowth), small(kPhotoGrowth));
    photos.full = photos.quarter ? fullSize(photos.quarter.pix, w, h) : nullptr;
    if (!photos.full)
        return false;
    photos.pixels = countOn(photos.full.pix);
    return true;
}

// Decides from the count of a page's mask pixels whether it holds text, by what its pictures
// cover.
class Verdict {
public:
    // `pictured`: what the page's pictures cover, their dark parts (bands, to the segmenter)
    // included.
    Verdict(double area, double pictured, qint64 photoPixels)
        : area_(area), pictured_(pictured), photoPixels_(photoPixels),
          rest_(std::max(1.0, area - double(photoPixels))),
          paper_(area - std::min(pictured, area)) {}

    // So much photograph that what the mask found are its edges.
    bool photoAlone() const { return photoPixels_ > kMostPhoto * area_; }

    // A page mostly photograph whose remaining mask is as sparse as the photograph's own edges
    // make it holds no text worth a mask. Its dark parts count as picture here: they are no
    // photograph to the background (no mid-tones), yet no paper that text would stand on. A
    // strongly coloured photograph is mostly such dark parts: a caption on paper beside it is
    // text however little of the page it covers.
    bool noText(double maskPixels) const {
        const bool caption = paper_ >= kLeastPaper * area_ && maskPixels >= kEdgeShare * paper_;
        return maskPixels < kLeastText * area_ || photoAlone() ||
               (std::min(pictured_, area_) > area_ / 2 && maskPixels < kEdgeShare * rest_ &&
                !caption);
    }

    // A page with text: pictures or colour make its background need the finer coding.
    PageProfile withText() const {
        return pictured_ > kLeastPhoto * area_ ? PageProfile::Compound : PageProfile::Text;
    }

private:
    double area_;
    double pictured_;
    qint64 photoPixels_;
    double rest_;  // the page less its photographs
    double paper_; // neither photograph nor band: where a caption would stand
};

// What the page's pictures cover, at the page's size.
double picturedArea(PIX* bandsQuarter, PIX* photoQuarter) {
    PixRef regions(photoQuarter ? pixOr(nullptr, photoQuarter, bandsQuarter)
                                : pixCopy(nullptr, bandsQuarter));
    return double(countOn(regions.pix)) * kReduction * kReduction;
}

// Most of a photograph's page is band or photograph to the segmenter, and seeking letters on
// all of it costs more than the rest: when even an over-count of what that would find leaves
// too little text besides the `strokes` found so far, the page is one layer already. `half` is
// the page at half its size (changed here), `lightest` a colour page's lightest channel. When
// memory runs out, the page is not decided early.
bool noTextEarly(const Verdict& verdict, double strokes, PIX* half, PIX* lightest,
                 PIX* bandsQuarter, PIX* photoQuarter) {
    const bool photoAlone = verdict.photoAlone();
    if (!photoAlone && !verdict.noText(strokes))
        return false;
    PixRef lightestHalf(lightest && !photoAlone ? pixScaleAreaMap2(lightest) : nullptr);
    const qint64 left = photoAlone ? 0
                        : lightest && !lightestHalf
                            ? -1
                            : textLeftAtHalf(half, lightestHalf.pix, bandsQuarter, photoQuarter);
    return left >= 0 && verdict.noText(strokes + kEarlyMargin * double(left));
}

// Light ink inside the bands: Sauvola on the inverted page, around the bands only. `light`
// stays empty where the bands leave too little room for Sauvola's window. false when memory
// runs out.
bool findLightLetters(PIX* grey, const Bands& bands, PixRef& light) {
    const int w = int(pixGetWidth(grey));
    const int h = int(pixGetHeight(grey));
    // Sauvola's window needs paper around the letters, and a tile of a few windows.
    const int margin = 2 * kSauvolaHalfWindow;
    const int x0 = std::max(0, bands.x - margin);
    const int y0 = std::max(0, bands.y - margin);
    const int x1 = std::min(w, bands.x + bands.w + margin);
    const int y1 = std::min(h, bands.y + bands.h + margin);
    const int least = 2 * kSauvolaHalfWindow + 3;
    if (x1 - x0 < least || y1 - y0 < least)
        return true;
    BOX* clip = boxCreate(x0, y0, x1 - x0, y1 - y0);
    PixRef part(pixClipRectangle(grey, clip, nullptr));
    boxDestroy(&clip);
    PixRef lightPart(part ? lightInk(part.pix, kSauvolaHalfWindow) : nullptr);
    part = nullptr;
    light = lightPart ? pixCreate(w, h, 1) : nullptr;
    if (!light)
        return false;
    pixRasterop(light.pix, x0, y0, x1 - x0, y1 - y0, PIX_SRC, lightPart.pix, 0, 0);
    // Paper the closing joined into a band (between a circle and a bar) reaches the paper past
    // the band's edge; a light letter lies within the band.
    PixRef outside(pixSubtract(nullptr, light.pix, bands.full.pix));
    PixRef reached(outside ? pixSeedfillBinary(nullptr, outside.pix, light.pix, 8) : nullptr);
    if (!reached)
        return false;
    pixAnd(light.pix, light.pix, bands.full.pix);
    pixSubtract(light.pix, light.pix, reached.pix);
    // Paper between two dark areas the closing joined is no letter: a letter fills less of its
    // box than such a solid slab does, or is thinner.
    l_int32 changed = 0;
    PixRef solid(pixSelectByAreaFraction(light.pix, kMostLetterFill, 8, L_SELECT_IF_GTE, &changed));
    PixRef slabs(solid ? pixSelectBySize(solid.pix, kSlabSide, kSlabSide, 8, L_SELECT_IF_BOTH,
                                         L_SELECT_IF_GTE, &changed)
                       : nullptr);
    if (!slabs)
        return false;
    pixSubtract(light.pix, light.pix, slabs.pix);
    return true;
}

// Thin ink darker than the band it lies on, on every channel (`tones`: the lightest channel,
// or the grey), is a stroke again and joins `dark`, but for the band's gaps between its light
// letters (`light`, may be null), which are as dark, and the photographs (`photo`, may be
// null). false when memory runs out.
bool addBandInk(PIX* tones, const Bands& bands, PIX* light, PIX* photo, PIX* dark) {
    const int w = int(pixGetWidth(tones));
    const int h = int(pixGetHeight(tones));
    const int edge = kBandEdge + kBandInkHat;
    BOX* around = boxCreate(std::max(0, bands.x - edge), std::max(0, bands.y - edge),
                            std::min(w, bands.x + bands.w + edge) - std::max(0, bands.x - edge),
                            std::min(h, bands.y + bands.h + edge) - std::max(0, bands.y - edge));
    l_int32 ax = 0, ay = 0, aw = 0, ah = 0;
    boxGetGeometry(around, &ax, &ay, &aw, &ah);
    PixRef tonePart(pixClipRectangle(tones, around, nullptr));
    PixRef grownPart(pixClipRectangle(bands.grown.pix, around, nullptr));
    PixRef nearLetters(light ? pixClipRectangle(light, around, nullptr) : nullptr);
    boxDestroy(&around);
    if (nearLetters)
        nearLetters =
            pixDilateBrick(nullptr, nearLetters.pix, 2 * kBandInkHat + 1, 2 * kBandInkHat + 1);
    PixRef bandInk(tonePart && grownPart
                       ? darkInk(tonePart.pix, kBandInkHat, kBandInkContrast, grownPart.pix)
                       : nullptr);
    if (!bandInk || (light && !nearLetters))
        return false;
    if (nearLetters)
        pixSubtract(bandInk.pix, bandInk.pix, nearLetters.pix);
    PixRef inkAlone(pixCreate(w, h, 1));
    if (!inkAlone)
        return false;
    pixRasterop(inkAlone.pix, ax, ay, aw, ah, PIX_SRC, bandInk.pix, 0, 0);
    if (photo)
        pixSubtract(inkAlone.pix, inkAlone.pix, photo);
    pixOr(dark, dark, inkAlone.pix);
    return true;
}

// Joins the thin rules to `dark`, a pixel apart from its strokes, so a faint rule that meets a
// dark axis is a shape of its own and keeps its own colour; the specks Sauvola found on the
// rule itself (no thicker than the rule) are no strokes and join it. false when memory runs
// out.
bool addRules(PIX* rules, PIX* dark) {
    l_int32 changed = 0;
    PixRef strokes(pixSelectBySize(dark, kStrokeSide, kStrokeSide, 8, L_SELECT_IF_BOTH,
                                   L_SELECT_IF_GTE, &changed));
    PixRef apart(strokes ? pixDilateBrickDwa(nullptr, strokes.pix, 3, 3) : nullptr);
    if (!apart)
        return false;
    pixSubtract(rules, rules, apart.pix);
    pixOr(dark, dark, rules);
    return true;
}

Segmentation outOfMemory(Segmentation result) {
    result.error = Error::OutOfMemory;
    return result;
}

} // namespace

// The steps in order: dark ink by Sauvola, then the regions that hold no dark text (bands,
// photographs) taken out of it, then the light letters and the ink on the bands, then the
// faint rules, each image let go as soon as no later step needs it (the page's peak memory is
// what is held at once).
Segmentation Segmenter::segment() {
    Segmentation result;
    if (!m->page || m->segmented) {
        result.error = m->page ? Error::Aborted : Error::OutOfMemory;
        return result;
    }
    m->segmented = true;
    if (m->width < kSmallestPage || m->height < kSmallestPage)
        return result; // a thumbnail or a swatch: one layer

    PixRef grey(std::exchange(m->page.pix, nullptr));
    const double area = static_cast<double>(m->width) * m->height;

    PixRef half(pixScaleAreaMap2(grey.pix));
    PixRef dark(half ? sauvolaDark(grey.pix, half.pix) : nullptr);
    if (!dark)
        return outOfMemory(result);

    Bands bands;
    if (!findBands(grey.pix, bands))
        return outOfMemory(result);
    if (bands.any) // inside a band the dark ink is the band itself
        pixSubtract(dark.pix, dark.pix, bands.grown.pix);

    Photos photos;
    if (!findPhotos(grey.pix, dark.pix, bands.quarter.pix, photos))
        return outOfMemory(result);
    if (photos.full)
        pixSubtract(dark.pix, dark.pix, photos.full.pix);
    result.photoPixels = photos.pixels;

    const Verdict verdict(area, picturedArea(bands.quarter.pix, photos.quarter.pix), photos.pixels);
    const double strokes = double(countOn(dark.pix));
    if (noTextEarly(verdict, strokes, half.pix, m->lightest.pix, bands.quarter.pix,
                    photos.quarter.pix)) {
        result.early = true;
        result.maskPixels = qint64(strokes);
        return result;
    }
    half = nullptr;
    bands.quarter = nullptr;
    photos.quarter = nullptr;

    PixRef light;
    if (bands.any) {
        if (!findLightLetters(grey.pix, bands, light) ||
            !addBandInk(m->lightest ? m->lightest.pix : grey.pix, bands, light.pix, photos.full.pix,
                        dark.pix))
            return outOfMemory(result);
    }
    m->lightest = nullptr;
    bands.full = nullptr;
    bands.grown = nullptr;

    // Thin light rules (a chart's 1-pixel grid, a table's lines) are too faint for Sauvola:
    // long runs a little darker than what lies around them. They join the mask last, so the
    // photograph finder never takes a grid for a halftone.
    PixRef rules(thinRuns(grey.pix, kRuleContrast, kRuleLength));
    if (!rules)
        return outOfMemory(result);
    grey = nullptr;
    if (photos.full) {
        pixSubtract(rules.pix, rules.pix, photos.full.pix);
        if (light)
            pixSubtract(light.pix, light.pix, photos.full.pix);
        result.photoPbm = pbmOf(photos.full.pix);
        photos.full = nullptr;
    }
    if (light)
        pixOr(dark.pix, dark.pix, light.pix);
    light = nullptr;
    if (!addRules(rules.pix, dark.pix))
        return outOfMemory(result);
    rules = nullptr;

    result.maskPixels = countOn(dark.pix);
    if (verdict.noText(double(result.maskPixels))) {
        result.profile = PageProfile::Photo;
        result.photoPbm.clear();
        return result;
    }
    result.profile = verdict.withText();
    result.maskPbm = pbmOf(dark.pix);
    return result;
}

} // namespace vormelle::codec
