// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/layers.h"

#include "codec/bzz.h"
#include "codec/iff.h"
#include "codec/leptonica.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

namespace vormelle::codec {

namespace {

struct PixRef {
    PIX* pix = nullptr;
    explicit PixRef(PIX* p) : pix(p) {}
    PixRef(PixRef&& other) noexcept : pix(std::exchange(other.pix, nullptr)) {}
    ~PixRef() { pixDestroy(&pix); }
    PixRef(const PixRef&) = delete;
    PixRef& operator=(const PixRef&) = delete;
    explicit operator bool() const { return pix != nullptr; }
};

bool matches(const PageView& page, const PageView& mask) {
    return page.kind != PixelKind::Bitonal && mask.kind == PixelKind::Bitonal &&
           checkPage(page) == Error::None && checkPage(mask) == Error::None &&
           page.width == mask.width && page.height == mask.height;
}

int channelsOf(const PageView& page) {
    return page.kind == PixelKind::Colour ? 3 : 1;
}

// A core of fewer pixels is a stroke's widest spots alone, not its colour.
constexpr std::uint64_t kLeastCore = 8;

std::uint8_t rounded(std::uint64_t sum, std::uint64_t count) {
    return std::uint8_t(std::min<std::uint64_t>(255, (sum + count / 2) / count));
}

std::uint8_t quantised(std::uint8_t v) {
    const int q = (v + kForegroundStep / 2) / kForegroundStep * kForegroundStep;
    return std::uint8_t(std::min(255, q));
}

Bytes pnmHeader(const char* magic, int width, int height, bool maxValue) {
    std::string header = std::string(magic) + '\n' + std::to_string(width) + ' ' +
                         std::to_string(height) + '\n' + (maxValue ? "255\n" : "");
    return Bytes(header.begin(), header.end());
}

} // namespace

Bytes foregroundColours(const PageView& page, const PageView& mask,
                        const std::vector<PageShape>& blits) {
    if (!matches(page, mask))
        return {};
    PixRef bits(bitonalPix(mask).release());
    // A stroke's inside, and where it is thick enough, its core: anti-aliasing and a scanner's
    // blur (JPEG's colour planes too) mix the paper into two pixels of its edge.
    PixRef inside(bits ? pixErodeBrickDwa(nullptr, bits.pix, 3, 3) : nullptr);
    PixRef core(inside ? pixErodeBrickDwa(nullptr, inside.pix, 3, 3) : nullptr);
    if (!core)
        return {};
    const int channels = channelsOf(page);
    const l_uint32* insideData = pixGetData(inside.pix);
    const l_uint32* coreData = pixGetData(core.pix);
    const int wpl = pixGetWpl(inside.pix);

    // Palette entries in the order their colour first appears: the same page, the same bytes.
    std::map<std::uint32_t, int> entries;
    std::vector<std::uint32_t> palette;
    std::vector<int> indices;
    indices.reserve(blits.size());
    for (const PageShape& shape : blits) {
        // Sums over the core, the inside and all of the shape.
        std::uint64_t sums[3][3] = {};
        std::uint64_t counts[3] = {};
        for (int r = 0; r < shape.bits.height; ++r) {
            const int y = shape.y + r;
            if (y < 0 || y >= page.height)
                continue;
            const std::uint8_t* row = page.pixels + std::ptrdiff_t(y) * page.stride;
            const l_uint32* insideLine = insideData + std::ptrdiff_t(y) * wpl;
            const l_uint32* coreLine = coreData + std::ptrdiff_t(y) * wpl;
            for (int c = 0; c < shape.bits.width; ++c) {
                const int x = shape.x + c;
                if (!shape.bits.at(c, r) || x < 0 || x >= page.width)
                    continue;
                const std::uint8_t* p = row + std::ptrdiff_t(x) * channels;
                const int depth = GET_DATA_BIT(coreLine, x)     ? 0
                                  : GET_DATA_BIT(insideLine, x) ? 1
                                                                : 2;
                for (int level = depth; level < 3; ++level) {
                    for (int k = 0; k < channels; ++k)
                        sums[level][k] += p[k];
                    ++counts[level];
                }
            }
        }
        const int level = counts[0] >= kLeastCore ? 0 : counts[1] ? 1 : 2;
        const std::uint64_t* sum = sums[level];
        const std::uint64_t count = counts[level];
        std::uint8_t rgb[3] = {0, 0, 0};
        for (int k = 0; k < 3 && count; ++k)
            rgb[k] = quantised(rounded(sum[channels == 3 ? k : 0], count));
        const std::uint32_t key = (std::uint32_t(rgb[0]) << 16) | (rgb[1] << 8) | rgb[2];
        const auto [it, added] = entries.emplace(key, int(palette.size()));
        if (added)
            palette.push_back(key);
        indices.push_back(it->second);
    }
    if (palette.empty())
        palette.push_back(0); // no shapes: one colour, no indices

    ByteWriter out;
    out.u8(indices.empty() ? 0 : 0x80); // version 0, with the shapes' indices
    out.u16(unsigned(palette.size()));
    for (const std::uint32_t colour : palette) { // blue, green, red
        out.u8(colour & 0xff);
        out.u8((colour >> 8) & 0xff);
        out.u8(colour >> 16);
    }
    if (!indices.empty()) {
        out.u24(std::uint32_t(indices.size()));
        Bytes raw;
        raw.reserve(2 * indices.size());
        for (const int i : indices) {
            raw.push_back(std::uint8_t(i >> 8));
            raw.push_back(std::uint8_t(i));
        }
        const Bytes packed = bzzEncode(raw);
        out.append(packed.data(), packed.size());
    }
    return out.take();
}

namespace {

// The mean of the visible background pixels around each pixel reaches this far, in background
// pixels.
constexpr int kGrainReach = 8;

// Rows of background pixels whose sums are held at a time: 32 bits a pixel and channel for the
// band and its reach above and below, not for the whole image.
constexpr int kGrainBand = 64;

// Whether the means of the four quarters of the smoothing's window around column `x` (their
// counts and sums on the lines above and below the pixel's row, kGrainReach / 2 from it) lie
// within kFlatSpread of each other on every channel; compared exactly, as fractions.
template <int Channels>
bool quartersAgree(int x, int w, const l_uint32* const counts[2],
                   const l_uint32* const sums[2][3]) {
    constexpr int half = kGrainReach / 2;
    const int left = std::max(0, x - half);
    const int right = std::min(w - 1, x + half);
    const std::uint32_t full = counts[0][left];
    if (full >= kLeastQuarter && counts[0][right] == full && counts[1][left] == full &&
        counts[1][right] == full) { // the most common case: bare paper, no mask near
        for (int k = 0; k < Channels; ++k) {
            const l_uint32 a = sums[0][k][left], b = sums[0][k][right];
            const l_uint32 c = sums[1][k][left], d = sums[1][k][right];
            if (std::max(std::max(a, b), std::max(c, d)) -
                    std::min(std::min(a, b), std::min(c, d)) >
                l_uint32(kFlatSpread) * full)
                return false;
        }
        return true;
    }
    std::int64_t n[4] = {};
    std::int64_t sum[4][Channels] = {};
    int quarters = 0;
    for (int side = 0; side < 2; ++side)
        for (const int qx : {left, right}) {
            const std::uint32_t count = counts[side][qx];
            if (count < kLeastQuarter)
                continue;
            n[quarters] = count;
            for (int k = 0; k < Channels; ++k)
                sum[quarters][k] = sums[side][k][qx];
            ++quarters;
        }
    // Mean i above mean j by more than kFlatSpread: sum i * n j - sum j * n i > kFlatSpread * n i
    // * n j.
    for (int k = 0; k < Channels; ++k)
        for (int i = 0; i < quarters; ++i)
            for (int j = 0; j < quarters; ++j)
                if (sum[i][k] * n[j] - sum[j][k] * n[i] > kFlatSpread * n[i] * n[j])
                    return false;
    return true;
}

// Pixels of the paper (not under `photo`) near the mean of their visible neighbours take it. The
// means are taken from the pixels as they were: a band's rows above it, already smoothed, are
// read from `carry`, which keeps them as they came.
bool smoothPaper(Background& out, int channels, std::size_t imageStart, std::size_t maskStart,
                 const PageView* photo, int reduction) {
    const int w = out.width;
    const int h = out.height;
    const int reach = kGrainReach;
    if (w < 2 * reach + 1 || h < 2 * reach + 1)
        return true;
    const std::size_t maskRow = std::size_t(w + 7) / 8;
    const std::size_t imageRow = std::size_t(w) * std::size_t(channels);
    const std::uint8_t* hidden = out.dontCare.data() + maskStart;
    std::uint8_t* image = out.image.data() + imageStart;
    std::vector<std::uint8_t> carry;
    int carryTop = 0;
    // The photograph's column under the middle of each pixel.
    std::vector<int> photoColumn(photo ? std::size_t(w) : 0);
    for (std::size_t x = 0; x < photoColumn.size(); ++x)
        photoColumn[x] = std::min(int(x) * reduction + reduction / 2, photo->width - 1);
    const int pad = h * reduction - (photo ? photo->height : 0);
    for (int top = 0; top < h; top += kGrainBand) {
        const int bottom = std::min(h, top + kGrainBand);
        // Leptonica's sums mirror the band at its edges: the band reaches `reach` rows past the
        // rows it smooths (the page's own edges mirror as for the whole image), and holds at
        // least a window's height.
        const int y1 = std::min(h, bottom + reach);
        const int y0 = std::max(0, std::min(top - reach, y1 - (2 * reach + 1)));
        const int rows = y1 - y0;
        const auto original = [&](int y) {
            return y >= carryTop && y < top ? carry.data() + std::size_t(y - carryTop) * imageRow
                                            : image + std::size_t(y) * imageRow;
        };
        PixRef seen(pixCreate(w, rows, 8));
        if (!seen)
            return false;
        for (int y = y0; y < y1; ++y) {
            l_uint32* line = pixGetData(seen.pix) + std::ptrdiff_t(y - y0) * pixGetWpl(seen.pix);
            const std::uint8_t* hiddenRow = hidden + std::size_t(y) * maskRow;
            for (int x = 0; x < w; ++x)
                if (!(hiddenRow[x / 8] & (0x80 >> (x % 8))))
                    SET_DATA_BYTE(line, x, 1);
        }
        const int quarterReach = reach / 2;
        PixRef counts(pixBlockconvGrayUnnormalized(seen.pix, reach, reach));
        PixRef quarterCounts(pixBlockconvGrayUnnormalized(seen.pix, quarterReach, quarterReach));
        if (!counts || !quarterCounts)
            return false;
        std::vector<PixRef> sums;
        std::vector<PixRef> quarterSums;
        sums.reserve(3);
        quarterSums.reserve(3);
        for (int k = 0; k < channels; ++k) {
            PixRef plane(pixCreate(w, rows, 8));
            if (!plane)
                return false;
            for (int y = y0; y < y1; ++y) {
                l_uint32* line =
                    pixGetData(plane.pix) + std::ptrdiff_t(y - y0) * pixGetWpl(plane.pix);
                const l_uint32* seenLine =
                    pixGetData(seen.pix) + std::ptrdiff_t(y - y0) * pixGetWpl(seen.pix);
                const std::uint8_t* from = original(y) + k;
                for (int x = 0; x < w; ++x, from += channels)
                    if (GET_DATA_BYTE(seenLine, x))
                        SET_DATA_BYTE(line, x, *from);
            }
            sums.emplace_back(pixBlockconvGrayUnnormalized(plane.pix, reach, reach));
            quarterSums.emplace_back(
                pixBlockconvGrayUnnormalized(plane.pix, quarterReach, quarterReach));
            if (!sums.back() || !quarterSums.back())
                return false;
        }
        // The next band reads this one's last rows as they were.
        carryTop = std::max(top, bottom - reach);
        carry.assign(image + std::size_t(carryTop) * imageRow,
                     image + std::size_t(bottom) * imageRow);
        // Lines of the quarters' sums above and below a pixel's row (quarterCountLines, and
        // quarterSumLines for each channel), set for each row.
        const l_uint32* quarterCountLines[2] = {};
        const l_uint32* quarterSumLines[2][3] = {};
        const auto flat = channels == 3 ? quartersAgree<3> : quartersAgree<1>;
        const l_uint32* sumLines[3] = {};
        for (int y = top; y < bottom; ++y) {
            const int r = y - y0;
            const l_uint32* countLine =
                pixGetData(counts.pix) + std::ptrdiff_t(r) * pixGetWpl(counts.pix);
            const l_uint32* seenLine =
                pixGetData(seen.pix) + std::ptrdiff_t(r) * pixGetWpl(seen.pix);
            for (int k = 0; k < channels; ++k)
                sumLines[k] = pixGetData(sums[std::size_t(k)].pix) +
                              std::ptrdiff_t(r) * pixGetWpl(sums[std::size_t(k)].pix);
            for (int side = 0; side < 2; ++side) {
                const std::ptrdiff_t qr =
                    std::clamp(side ? r + quarterReach : r - quarterReach, 0, rows - 1);
                quarterCountLines[side] =
                    pixGetData(quarterCounts.pix) + qr * pixGetWpl(quarterCounts.pix);
                for (int k = 0; k < channels; ++k)
                    quarterSumLines[side][k] = pixGetData(quarterSums[std::size_t(k)].pix) +
                                               qr * pixGetWpl(quarterSums[std::size_t(k)].pix);
            }
            // The photograph under the middle of the pixel (the grid laid from the page's
            // bottom).
            const int py =
                std::clamp(y * reduction - pad + reduction / 2, 0, photo ? photo->height - 1 : 0);
            const std::uint8_t* photoRow =
                photo ? photo->pixels + std::ptrdiff_t(py) * photo->stride : nullptr;
            std::uint8_t* p = image + std::size_t(y) * imageRow;
            for (int x = 0; x < w; ++x, p += channels) {
                const std::uint32_t n = countLine[x];
                if (!n || !GET_DATA_BYTE(seenLine, x))
                    continue;
                if (photoRow && (photoRow[photoColumn[std::size_t(x)] / 8] &
                                 (0x80 >> (photoColumn[std::size_t(x)] % 8))))
                    continue;
                std::uint8_t mean[3] = {0, 0, 0};
                bool near = true;
                for (int k = 0; k < channels; ++k) {
                    mean[k] = rounded(sumLines[k][x], n);
                    near = near && std::abs(int(mean[k]) - int(p[k])) <= kPaperGrain;
                }
                if (near && flat(x, w, quarterCountLines, quarterSumLines))
                    std::copy_n(mean, channels, p);
            }
        }
    }
    return true;
}

// Adds one page row to the sums of its background pixels (per pixel: clean, beside the mask,
// under it; `C` channels each) and their counts. Most words of a page are far from the mask.
template <int C>
void addRow(const std::uint8_t* row, const l_uint32* maskLine, const l_uint32* besideLine,
            int width, int reduction, std::uint32_t* sums, std::uint32_t* counts) {
    for (int x = 0, cell = 0; x < width; ++cell) {
        const int end = std::min(width, x + reduction);
        std::uint32_t* s = sums + std::ptrdiff_t(cell) * 9;
        std::uint32_t* n = counts + std::ptrdiff_t(cell) * 3;
        for (; x < end; ++x) {
            const l_uint32 word = besideLine[x >> 5];
            int kind = 0;
            if (word && ((word >> (31 - (x & 31))) & 1))
                kind = GET_DATA_BIT(maskLine, x) ? 2 : 1;
            const std::uint8_t* p = row + std::ptrdiff_t(x) * C;
            for (int k = 0; k < C; ++k)
                s[kind * 3 + k] += p[k];
            ++n[kind];
        }
    }
}

} // namespace

Background background(const PageView& page, const PageView& mask, int reduction,
                      const PageView* photo) {
    if (!matches(page, mask) || reduction < 1)
        return {};
    if (photo && (photo->kind != PixelKind::Bitonal || photo->width != page.width ||
                  photo->height != page.height || checkPage(*photo) != Error::None))
        return {};
    PixRef bits(bitonalPix(mask).release());
    // Beside the mask, pixels are mixed with the ink by anti-aliasing and a scanner's blur.
    PixRef beside(bits ? pixDilateBrickDwa(nullptr, bits.pix, 3, 3) : nullptr);
    if (!beside)
        return {};
    const int channels = channelsOf(page);
    const int w = page.width;
    const int h = page.height;
    Background out;
    out.width = (w + reduction - 1) / reduction;
    out.height = (h + reduction - 1) / reduction;
    out.image = pnmHeader(channels == 3 ? "P6" : "P5", out.width, out.height, true);
    const std::size_t imageStart = out.image.size();
    out.image.resize(imageStart + std::size_t(out.width) * out.height * channels);
    out.dontCare = pnmHeader("P4", out.width, out.height, false);
    const std::size_t maskStart = out.dontCare.size();
    const std::size_t maskRow = std::size_t(out.width + 7) / 8;
    out.dontCare.resize(maskStart + maskRow * out.height, 0);

    // Per background pixel of the current row: sums of the clean pixels (away from the mask),
    // of those beside it, and of all (for a pixel nobody sees).
    const std::size_t cells = std::size_t(out.width);
    std::vector<std::uint32_t> sums(cells * 3 * 3);
    std::vector<std::uint32_t> counts(cells * 3);
    const l_uint32* maskData = pixGetData(bits.pix);
    const l_uint32* besideData = pixGetData(beside.pix);
    const int wpl = pixGetWpl(bits.pix);
    for (int by = 0; by < out.height; ++by) {
        std::fill(sums.begin(), sums.end(), 0);
        std::fill(counts.begin(), counts.end(), 0);
        // DjVu lays the reduced grid from the page's bottom row up: a short row of cells is
        // at the top.
        const int pad = out.height * reduction - h;
        const int yEnd = std::min(h, (by + 1) * reduction - pad);
        for (int y = std::max(0, by * reduction - pad); y < yEnd; ++y) {
            const std::uint8_t* row = page.pixels + std::ptrdiff_t(y) * page.stride;
            const l_uint32* maskLine = maskData + std::ptrdiff_t(y) * wpl;
            const l_uint32* besideLine = besideData + std::ptrdiff_t(y) * wpl;
            if (channels == 3)
                addRow<3>(row, maskLine, besideLine, w, reduction, sums.data(), counts.data());
            else
                addRow<1>(row, maskLine, besideLine, w, reduction, sums.data(), counts.data());
        }
        std::uint8_t* target = out.image.data() + imageStart + std::size_t(by) * cells * channels;
        std::uint8_t* hidden = out.dontCare.data() + maskStart + std::size_t(by) * maskRow;
        for (std::size_t bx = 0; bx < cells; ++bx) {
            const std::size_t clean = bx * 3;
            std::size_t from = clean;
            if (!counts[from])
                from = clean + 1;
            if (!counts[from])
                from = clean + 2; // wholly under the mask: the mean of what it hides
            // The mask draws the ink; what anti-aliasing and blur mixed of it into the pixels
            // beside it would, coded, be a ghost of every letter (the bench's magazine page:
            // 46.9 KB of background with it, 26.6 KB without).
            if (counts[clean + 1] || counts[clean + 2])
                hidden[bx / 8] |= std::uint8_t(0x80 >> (bx % 8));
            for (int k = 0; k < channels; ++k)
                target[bx * std::size_t(channels) + std::size_t(k)] =
                    rounded(sums[from * 3 + std::size_t(k)], counts[from]);
        }
    }
    if (!smoothPaper(out, channels, imageStart, maskStart, photo, reduction))
        return {};
    return out;
}

} // namespace vormelle::codec
