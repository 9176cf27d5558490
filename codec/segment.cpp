// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/segment.h"

#include <leptonica/allheaders.h>

#include <algorithm>

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
constexpr int kSauvolaTile = 640;
// Darker than this on the darkest channel counts as a band that may carry light text.
constexpr int kDarkBand = 110;
// A band is at least this thick; text strokes are thinner.
constexpr int kBandOpening = 17;
// Light letters inside a band leave holes up to this size.
constexpr int kBandClosing = 61;
// On the darkest channel: paper is lighter than kPaperLevel, ink and bands of colour darker
// than kInkLevel; a photograph is mostly in between.
constexpr int kPaperLevel = 200;
constexpr int kInkLevel = 60;
// Mid-tones this wide are no stroke's edge.
constexpr int kPhotoOpening = 15;
// Patches of photograph closer than this are one photograph.
constexpr int kPhotoClosing = 61;
// Below this share of the page in the mask, the page holds no text.
constexpr double kLeastText = 0.0008;
// Above this share of photograph, the page is a photograph: what the mask found are its edges.
constexpr double kMostPhoto = 0.75;
// Text covers at least this share of the paper it stands on.
constexpr double kEdgeShare = 0.02;
// Above this share of photograph, the page is a compound page.
constexpr double kLeastPhoto = 0.01;

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
    bool segmented = false;
};

Segmenter::Segmenter(int width, int height, int channels) : m(std::make_unique<State>()) {
    m->width = width;
    m->height = height;
    m->channels = channels == 3 ? 3 : 1;
    if (width > 0 && height > 0)
        m->page = pixCreate(width, height, 8);
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
        for (int x = 0; x < m->width; ++x) {
            const uchar* p = pixels + 3 * x;
            SET_DATA_BYTE(line, x, std::min({p[0], p[1], p[2]}));
        }
    }
}

Segmentation Segmenter::segment() {
    Segmentation result;
    if (!m->page || m->segmented) {
        result.error = m->page ? Error::Aborted : Error::OutOfMemory;
        return result;
    }
    m->segmented = true;
    if (m->width < kSmallestPage || m->height < kSmallestPage)
        return result; // a thumbnail or a swatch: one layer

    PixRef grey;
    grey.pix = m->page.pix;
    m->page.pix = nullptr;

    const int nx = std::max(1, m->width / kSauvolaTile);
    const int ny = std::max(1, m->height / kSauvolaTile);
    PIX* sauvolaOut = nullptr;
    if (pixSauvolaBinarizeTiled(grey.pix, kSauvolaHalfWindow, kSauvolaFactor, nx, ny, nullptr,
                                &sauvolaOut) != 0)
        return result.error = Error::OutOfMemory, result;
    PixRef dark(sauvolaOut);

    // Bands: large dark areas, their light letters' holes closed.
    PixRef bands(pixThresholdToBinary(grey.pix, kDarkBand));
    if (!bands)
        return result.error = Error::OutOfMemory, result;
    bands = pixOpenBrick(nullptr, bands.pix, kBandOpening, kBandOpening);
    if (bands)
        bands = pixCloseBrick(nullptr, bands.pix, kBandClosing, kBandClosing);
    if (!bands)
        return result.error = Error::OutOfMemory, result;

    // Light ink inside the bands: Sauvola on the inverted page.
    PixRef light;
    if (countOn(bands.pix) > 0) {
        PixRef inverted(pixInvert(nullptr, grey.pix));
        PIX* lightOut = nullptr;
        if (!inverted || pixSauvolaBinarizeTiled(inverted.pix, kSauvolaHalfWindow, kSauvolaFactor,
                                                 nx, ny, nullptr, &lightOut) != 0)
            return result.error = Error::OutOfMemory, result;
        light = lightOut;
        pixAnd(light.pix, light.pix, bands.pix);
        // Inside a band the dark ink is the band itself, not text.
        pixSubtract(dark.pix, dark.pix, bands.pix);
    }

    // Photographs: the halftone-like texture Sauvola makes of them, and areas of mid-tones
    // (neither paper nor ink) too large to be the edges of strokes; grown a little so their
    // edges stay in the background too.
    PixRef photo(pixCreate(m->width, m->height, 1));
    if (!photo)
        return result.error = Error::OutOfMemory, result;
    {
        PixRef midTones(pixThresholdToBinary(grey.pix, kPaperLevel));
        PixRef inkTones(pixThresholdToBinary(grey.pix, kInkLevel));
        if (!midTones || !inkTones)
            return result.error = Error::OutOfMemory, result;
        pixSubtract(midTones.pix, midTones.pix, inkTones.pix);
        inkTones = nullptr;
        midTones = pixOpenBrick(nullptr, midTones.pix, kPhotoOpening, kPhotoOpening);
        if (!midTones)
            return result.error = Error::OutOfMemory, result;
        pixOr(photo.pix, photo.pix, midTones.pix);
    }
    grey = nullptr;
    l_int32 found = 0;
    PixRef halftone(pixGenerateHalftoneMask(dark.pix, nullptr, &found, nullptr));
    if (halftone && found)
        pixOr(photo.pix, photo.pix, halftone.pix);
    halftone = nullptr;
    // The anti-aliased edges of light letters on a band are mid-tones too: no photograph.
    pixSubtract(photo.pix, photo.pix, bands.pix);
    bands = nullptr;
    if (countOn(photo.pix) > 0) {
        // Patches of one photograph made whole.
        photo = pixCloseBrick(nullptr, photo.pix, kPhotoClosing, kPhotoClosing);
        if (photo)
            photo = pixDilateBrick(nullptr, photo.pix, 9, 9);
        if (!photo)
            return result.error = Error::OutOfMemory, result;
        pixSubtract(dark.pix, dark.pix, photo.pix);
        if (light)
            pixSubtract(light.pix, light.pix, photo.pix);
        result.photoPixels = countOn(photo.pix);
    }
    if (light)
        pixOr(dark.pix, dark.pix, light.pix);
    light = nullptr;
    photo = nullptr;

    result.maskPixels = countOn(dark.pix);
    const double area = static_cast<double>(m->width) * m->height;
    // A page mostly photograph whose remaining mask is as sparse as the photograph's own edges
    // make it holds no text worth a mask.
    const double rest = std::max(1.0, area - double(result.photoPixels));
    const bool mostlyPhoto =
        result.photoPixels > kMostPhoto * area ||
        (result.photoPixels > area / 2 && result.maskPixels < kEdgeShare * rest);
    if (result.maskPixels < kLeastText * area || mostlyPhoto) {
        result.profile = PageProfile::Photo;
        return result;
    }
    result.profile =
        result.photoPixels > kLeastPhoto * area ? PageProfile::Compound : PageProfile::Text;

    l_uint8* data = nullptr;
    size_t size = 0;
    if (pixWriteMem(&data, &size, dark.pix, IFF_PNM) != 0 || !data) {
        result.error = Error::OutOfMemory;
        result.profile = PageProfile::Photo;
        return result;
    }
    result.maskPbm = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    lept_free(data);
    return result;
}

} // namespace vormelle::codec
