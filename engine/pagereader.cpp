// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagereader.h"

#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/texts.h"
#include "engine/tiffinspect.h"
#include "engine/tiffopen.h"
#include "platform/regularfile.h"

#include <QCoreApplication>

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace vormelle::engine {

namespace {

// What one page may take decoded, and what libtiff may allocate at once: as on the PDF route.
constexpr double kMaxDecodedBytes = double(kMemoryLimitMiB) * 1024 * 1024;
// Strips up to this size are decoded whole; larger ones line by line.
constexpr tmsize_t kWholeStripBytes = 1 << 20;
// Rows decoded at a time when libtiff's RGBA reader reads strips line by line.
constexpr uint32_t kBandRows = 64;
constexpr uint32_t kFull = 65535; // samples are scaled to 16 bits

const char* const kDamaged = "the image data is damaged";

enum class Mode {
    Strips,    // whole strips, a band of one strip (of each plane)
    Lines,     // strips line by line, one libtiff handle a plane
    Tiles,     // one row of tiles at a time
    RgbaLines, // libtiff's RGBA reader (YCbCr, CIE L*a*b*, old JPEG) on strips line by line
    RgbaBands, // the same on tiles, planes or subsampled YCbCr: a band of whole strips or tiles
};

// The resolution the DjVu page gets, in dots per inch, when the page has one with a unit: the
// horizontal one as shown, since a scanner that writes two scans at the horizontal one.
int resolutionOf(TIFF* tif, bool transposed) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    float r = 0;
    TIFFGetField(tif, transposed ? TIFFTAG_YRESOLUTION : TIFFTAG_XRESOLUTION, &r);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return pageDpi(0);
    return pageDpi(unit == RESUNIT_CENTIMETER ? r * 2.54 : r);
}

// Copies `bits` bits from `from` (starting at its first bit) into `to` at bit `at`, leftmost
// bit first: tiles whose width is no multiple of 8 pixels start inside a byte.
void copyBits(const uchar* from, uchar* to, size_t at, size_t bits) {
    if (at % 8 == 0) {
        std::copy_n(from, bits / 8, to + at / 8);
        if (const size_t rest = bits % 8) {
            const uchar mask = uchar(0xff << (8 - rest));
            uchar& last = to[at / 8 + bits / 8];
            last = uchar((last & ~mask) | (from[bits / 8] & mask));
        }
        return;
    }
    for (size_t i = 0; i < bits; ++i) {
        const bool set = (from[i / 8] >> (7 - i % 8)) & 1;
        const size_t j = at + i;
        const uchar bit = uchar(0x80 >> (j % 8));
        to[j / 8] = set ? uchar(to[j / 8] | bit) : uchar(to[j / 8] & ~bit);
    }
}

bool getBit(const uchar* row, size_t x) {
    return (row[x / 8] >> (7 - x % 8)) & 1;
}

} // namespace

struct TiffPageReader::State {
    explicit State(const QString& path)
        : owned(std::make_unique<platform::RegularFile>(path)), file(owned.get()),
          source(std::make_unique<FileTiffSource>(*file)) {}
    explicit State(const platform::RegularFile& open)
        : file(&open), source(std::make_unique<FileTiffSource>(open)) {}
    explicit State(const QByteArray& data)
        : bytes(data), source(std::make_unique<MemoryTiffSource>(bytes)) {}

    std::unique_ptr<platform::RegularFile> owned; // the file opened by path
    const platform::RegularFile* file = nullptr;  // none for bytes in memory
    QByteArray bytes;
    std::unique_ptr<TiffSource> source;
    TiffMessages messages;
    std::unique_ptr<OpenTiff> opened;
    TIFF* tif = nullptr;
    bool started = false;
    bool finished = false;
    QString problem;

    int page = 0;
    PageFormat format; // the page as shown
    Mode mode = Mode::Strips;
    TIFFRGBAImage image{};
    bool imageActive = false;

    // How the samples are laid out.
    uint16_t photometric = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    bool separate = false;     // one plane a sample
    int planes = 1;            // planes decoded (1 when contiguous)
    int alphaSample = -1;      // the sample that is alpha; other extra samples are padding
    bool associated = false;   // colours already weighted by alpha
    bool invert = false;       // grey and 1-bit pages that store 0 for white
    bool cmyk = false;         // ink values, turned into RGB
    std::vector<uint16_t> map; // palette: red, green, blue at 3 * index, scaled to 16 bits
    size_t planeRowBytes = 0;  // bytes of one row of one plane
    // Later handles on the same file, one for each plane after the first, for planes read line
    // by line: libtiff decodes one strip at a time per handle.
    std::vector<std::unique_ptr<OpenTiff>> planeHandles;

    // The page as stored: its size and the orientation it is shown in.
    uint32_t storedWidth = 0;
    uint32_t storedHeight = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;

    uint32_t row = 0;        // the next stored row to convert
    uint32_t shownRow = 0;   // the next shown row to deliver
    uint32_t bandStart = 0;  // the first row in the band
    uint32_t bandRows = 0;   // rows in the band
    uint32_t bandHeight = 0; // rows a full band has
    tmsize_t lineBytes = 0;  // bytes of one decoded line (RgbaLines)
    std::vector<uchar> raw;  // one tile, or decoded lines for RgbaLines
    std::vector<uchar> band; // the band's rows of each plane
    std::vector<uint32_t> rgba;
    std::vector<uchar> out;   // one stored row, converted
    std::vector<uchar> shown; // one shown row (orientations 2 to 8)
    std::vector<uchar> whole; // the whole stored page, converted (orientations 3 to 8)
    bool wholeRead = false;

    ~State() { endImage(); }

    void endImage() {
        if (imageActive)
            TIFFRGBAImageEnd(&image);
        imageActive = false;
        planeHandles.clear();
    }

    void fail(const QString& what) {
        problem = namedPageProblem(page, page > 1 || !TIFFLastDirectory(tif), what);
    }

    bool open() {
        started = true;
        if (file && file->status() != platform::RegularFile::Status::Opened) {
            problem = regularFileProblem(int(file->status()));
            return false;
        }
        problem = tiffHeaderProblem(*source);
        if (!problem.isEmpty())
            return false;
        opened = std::make_unique<OpenTiff>(*source, messages, std::int64_t(kMaxDecodedBytes));
        tif = opened->get();
        if (!tif) {
            problem = engine::Texts::tr("the first page cannot be read");
            return false;
        }
        return true;
    }

    // Moves to the next directory that is a page.
    bool advance() {
        if (!started) {
            if (!open())
                return false;
            if (isTiffPage(tif))
                return true;
        }
        for (;;) {
            if (TIFFLastDirectory(tif)) {
                finished = true;
                return false;
            }
            if (!TIFFReadDirectory(tif)) {
                problem = engine::Texts::tr("page %1 cannot be read").arg(page + 1);
                return false;
            }
            if (isTiffPage(tif))
                return true;
        }
    }

    bool transposed() const { return orientation >= ORIENTATION_LEFTTOP; }

    bool setUpPage() {
        const QString directoryProblem = pageDirectoryProblem(tif, Route::Direct);
        if (!directoryProblem.isEmpty()) {
            fail(directoryProblem);
            return false;
        }
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &storedWidth);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &storedHeight);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
        if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT)
            orientation = ORIENTATION_TOPLEFT; // as libtiff's own reader takes it
        const bool grey =
            photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
        format.width = int(transposed() ? storedHeight : storedWidth);
        format.height = int(transposed() ? storedWidth : storedHeight);
        format.dpi = resolutionOf(tif, transposed());
        format.kind = grey && bits == 1 && samples == 1 ? PixelKind::Bitonal
                      : grey                            ? PixelKind::Grey
                                                        : PixelKind::Colour;
        row = shownRow = bandStart = bandRows = 0;
        wholeRead = false;
        out.assign(size_t(storedRowBytes()), 0);
        shown.assign(orientation == ORIENTATION_TOPLEFT ? 0 : size_t(rowBytes()), 0);
        whole.clear();
        raw.clear();
        band.clear();
        rgba.clear();
        map.clear();
        if (byLibtiffRgba()) {
            if (!setUpRgba())
                return false;
        } else if (!setUpSamples()) {
            return false;
        }
        // Only what decoding the image data says counts from here on.
        messages = TiffMessages{};
        return true;
    }

    // Colour models whose samples libtiff's RGBA reader turns into RGB: its colour conversions
    // are used as they are. Alpha and padding samples are refused for them by the inspection.
    bool byLibtiffRgba() const {
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        return compression == COMPRESSION_OJPEG ||
               !(photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK ||
                 photometric == PHOTOMETRIC_PALETTE || photometric == PHOTOMETRIC_RGB ||
                 photometric == PHOTOMETRIC_SEPARATED);
    }

    bool setUpSamples() {
        uint16_t planar = PLANARCONFIG_CONTIG;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
        planes = separate ? samples : 1;
        invert = photometric == PHOTOMETRIC_MINISBLACK
                     ? format.kind == PixelKind::Bitonal
                     : photometric == PHOTOMETRIC_MINISWHITE && format.kind != PixelKind::Bitonal;
        cmyk = photometric == PHOTOMETRIC_SEPARATED;
        const int channels = photometric == PHOTOMETRIC_RGB ? 3 : cmyk ? 4 : 1;
        // The first alpha among the extra samples counts; a sample that means nothing, or
        // a fourth RGB sample without ExtraSamples, is padding.
        alphaSample = -1;
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
        for (int i = 0; i < extraCount && channels + i < samples; ++i) {
            if (extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA) {
                alphaSample = channels + i;
                // A palette index cannot be weighted.
                associated =
                    extra[i] == EXTRASAMPLE_ASSOCALPHA && photometric != PHOTOMETRIC_PALETTE;
                break;
            }
        }
        if (photometric == PHOTOMETRIC_PALETTE && !setUpPalette())
            return false;

        planeRowBytes = (size_t(storedWidth) * (separate ? 1 : samples) * bits + 7) / 8;
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        if (TIFFIsTiled(tif)) {
            uint32_t tileWidth = 0;
            uint32_t tileHeight = 0;
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
            mode = Mode::Tiles;
            bandHeight = std::clamp<uint32_t>(tileHeight, 1, storedHeight);
            // Only the tile rows inside the page are decoded: a tile may be declared far
            // larger than its page.
            const double tileBytes = double(bandHeight) * double(TIFFTileRowSize(tif));
            if (tileWidth == 0 || tileBytes <= 0 || tileBytes > kMaxDecodedBytes) {
                fail(QString::fromLatin1(
                    tileBytes > kMaxDecodedBytes ? "the page is too large to convert" : kDamaged));
                return false;
            }
            raw.resize(size_t(tileBytes));
        } else {
            uint32_t rowsPerStrip = storedHeight;
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
            // JBIG decodes only whole strips.
            const bool whole =
                compression == COMPRESSION_JBIG || TIFFStripSize(tif) <= kWholeStripBytes;
            mode = whole ? Mode::Strips : Mode::Lines;
            bandHeight = whole ? std::clamp<uint32_t>(rowsPerStrip, 1, storedHeight) : 1;
            if (!whole && !openPlaneHandles())
                return false;
        }
        band.assign(size_t(planes) * bandHeight * planeRowBytes, 0);
        return true;
    }

    bool setUpPalette() {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
            fail(engine::Texts::tr("the colour model is not given"));
            return false;
        }
        const size_t n = size_t(1) << bits;
        // Old writers put 8-bit values into the 16-bit map, as libtiff's own reader knows.
        bool eightBit = true;
        for (size_t i = 0; i < n && eightBit; ++i)
            eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
        map.resize(3 * n);
        for (size_t i = 0; i < n; ++i) {
            const int scale = eightBit ? 257 : 1;
            map[3 * i] = uint16_t(red[i] * scale);
            map[3 * i + 1] = uint16_t(green[i] * scale);
            map[3 * i + 2] = uint16_t(blue[i] * scale);
        }
        return true;
    }

    bool openPlaneHandles() {
        const tdir_t directory = TIFFCurrentDirectory(tif);
        for (int p = 1; p < planes; ++p) {
            auto handle =
                std::make_unique<OpenTiff>(*source, messages, std::int64_t(kMaxDecodedBytes));
            if (!handle->get() || !TIFFSetDirectory(handle->get(), directory)) {
                fail(engine::Texts::tr("page %1 cannot be read").arg(page));
                return false;
            }
            planeHandles.push_back(std::move(handle));
        }
        return true;
    }

    bool setUpRgba() {
        char message[1024] = {};
        if (!TIFFRGBAImageBegin(&image, tif, 1, message)) {
            fail(engine::Texts::tr("this kind of page is not supported (%1)")
                     .arg(QString::fromLatin1(message)));
            return false;
        }
        imageActive = true;
        // Rows come as the file stores them; the orientation is applied afterwards, as on
        // every other page.
        image.req_orientation = image.orientation;
        if (!TIFFIsTiled(tif) && image.isContig && image.photometric != PHOTOMETRIC_YCBCR) {
            mode = Mode::RgbaLines;
            bandHeight = kBandRows;
            lineBytes = TIFFScanlineSize(tif);
            raw.resize(size_t(bandHeight) * size_t(std::max<tmsize_t>(lineBytes, 0)));
        } else {
            mode = Mode::RgbaBands;
            uint32_t height = 0;
            if (TIFFIsTiled(tif))
                TIFFGetField(tif, TIFFTAG_TILELENGTH, &height);
            else
                TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &height);
            bandHeight = std::clamp<uint32_t>(height, 1, storedHeight);
        }
        rgba.resize(size_t(bandHeight) * size_t(storedWidth));
        return true;
    }

    bool decoded(bool ok) {
        // A decoder warns where the data does not fit what it should be and delivers a damaged
        // page all the same.
        if (ok && messages.errors == 0 && messages.warnings == 0)
            return true;
        fail(QString::fromLatin1(kDamaged));
        return false;
    }

    uchar* bandRow(int plane, uint32_t y) {
        return band.data() + (size_t(plane) * bandHeight + y) * planeRowBytes;
    }

    bool fillBand() {
        bandStart = row;
        bandRows = std::min(bandHeight, storedHeight - row);
        switch (mode) {
        case Mode::Strips: {
            const uint32_t strip = row / bandHeight;
            const uint32_t perPlane = TIFFNumberOfStrips(tif) / uint32_t(planes);
            for (int p = 0; p < planes; ++p) {
                if (!decoded(TIFFReadEncodedStrip(tif, strip + uint32_t(p) * perPlane,
                                                  bandRow(p, 0),
                                                  tmsize_t(bandRows * planeRowBytes)) >= 0))
                    return false;
            }
            return true;
        }
        case Mode::Lines:
            for (int p = 0; p < planes; ++p) {
                TIFF* handle = p == 0 ? tif : planeHandles[size_t(p) - 1]->get();
                if (!decoded(TIFFReadScanline(handle, bandRow(p, 0), row, uint16_t(p)) >= 0))
                    return false;
            }
            return true;
        case Mode::Tiles: {
            uint32_t tileWidth = 0;
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
            const size_t tileRowBytes = size_t(TIFFTileRowSize(tif));
            const size_t pixelBits = size_t(separate ? 1 : samples) * bits;
            for (uint32_t x = 0; x < storedWidth; x += tileWidth) {
                const size_t columns = std::min(tileWidth, storedWidth - x);
                for (int p = 0; p < planes; ++p) {
                    const uint32_t tile = TIFFComputeTile(tif, x, row, 0, uint16_t(p));
                    if (!decoded(TIFFReadEncodedTile(tif, tile, raw.data(),
                                                     tmsize_t(bandRows * tileRowBytes)) >= 0))
                        return false;
                    for (uint32_t y = 0; y < bandRows; ++y)
                        copyBits(raw.data() + y * tileRowBytes, bandRow(p, y), x * pixelBits,
                                 columns * pixelBits);
                }
            }
            return true;
        }
        case Mode::RgbaLines:
            for (uint32_t y = 0; y < bandRows; ++y) {
                if (!decoded(TIFFReadScanline(tif, raw.data() + size_t(y) * size_t(lineBytes),
                                              row + y, 0) >= 0))
                    return false;
            }
            image.put.contig(&image, rgba.data(), 0, row, storedWidth, bandRows, 0, 0, raw.data());
            return true;
        case Mode::RgbaBands:
            image.row_offset = int(row);
            image.col_offset = 0;
            return decoded(TIFFRGBAImageGet(&image, rgba.data(), storedWidth, bandRows) != 0);
        }
        return false;
    }

    // Sample `s` of pixel `x` in row `y` of the band, scaled to 16 bits.
    uint32_t sample(uint32_t y, size_t x, int s) {
        const uchar* from = bandRow(separate ? s : 0, y);
        const size_t i = separate ? x : x * samples + size_t(s);
        uint32_t v = 0;
        switch (bits) {
        case 8:
            return from[i] * 257u;
        case 16: {
            uint16_t w = 0;
            std::memcpy(&w, from + 2 * i, 2);
            return w;
        }
        default:
            v = (from[i * bits / 8] >> (8 - bits - i * bits % 8)) & ((1u << bits) - 1);
            return v * kFull / ((1u << bits) - 1);
        }
    }

    // A 16-bit value over white at the pixel's alpha, as 8 bits.
    static uchar overWhite(uint32_t v, uint32_t alpha, bool weighted) {
        const uint64_t shown =
            weighted
                ? std::min<uint64_t>(kFull, uint64_t(v) + kFull - alpha)
                : (uint64_t(v) * alpha + uint64_t(kFull) * (kFull - alpha) + kFull / 2) / kFull;
        return uchar((shown * 255 + kFull / 2) / kFull);
    }

    void convertSamples(uint32_t y) {
        uchar* to = out.data();
        if (format.kind == PixelKind::Bitonal) {
            const uchar* from = bandRow(0, y);
            for (size_t i = 0; i < out.size(); ++i)
                to[i] = invert ? uchar(~from[i]) : from[i];
            // The bits past the last pixel are left clear, so equal pages give equal files.
            if (const uint32_t used = storedWidth % 8)
                to[out.size() - 1] &= uchar(0xff << (8 - used));
            return;
        }
        for (size_t x = 0; x < storedWidth; ++x) {
            const uint32_t alpha = alphaSample < 0 ? kFull : sample(y, x, alphaSample);
            if (format.kind == PixelKind::Grey) {
                const uint32_t v = sample(y, x, 0);
                to[x] = overWhite(invert ? kFull - v : v, alpha, associated);
                continue;
            }
            uint32_t rgb[3];
            if (photometric == PHOTOMETRIC_PALETTE) {
                const uint32_t index = sample(y, x, 0) * ((1u << bits) - 1) / kFull;
                std::copy_n(map.data() + 3 * index, 3, rgb);
            } else if (cmyk) {
                uint32_t ink[4];
                for (int s = 0; s < 4; ++s) {
                    ink[s] = sample(y, x, s);
                    // Weighted inks are taken back to full strength before they are mixed.
                    if (associated)
                        ink[s] = alpha == 0 ? 0 : std::min<uint32_t>(kFull, ink[s] * kFull / alpha);
                }
                for (int s = 0; s < 3; ++s)
                    rgb[s] = uint32_t(uint64_t(kFull - ink[s]) * (kFull - ink[3]) / kFull);
            } else {
                for (int s = 0; s < 3; ++s)
                    rgb[s] = sample(y, x, s);
            }
            for (int s = 0; s < 3; ++s)
                to[3 * x + size_t(s)] = overWhite(rgb[s], alpha, associated && !cmyk);
        }
    }

    void convertRgba(uint32_t y) {
        uchar* to = out.data();
        const uint32_t* from = rgba.data() + size_t(y) * storedWidth;
        // Only opaque pages come this way.
        if (format.kind == PixelKind::Grey) {
            for (size_t x = 0; x < storedWidth; ++x)
                to[x] = uchar(TIFFGetR(from[x]));
            return;
        }
        for (size_t x = 0; x < storedWidth; ++x) {
            to[3 * x] = uchar(TIFFGetR(from[x]));
            to[3 * x + 1] = uchar(TIFFGetG(from[x]));
            to[3 * x + 2] = uchar(TIFFGetB(from[x]));
        }
    }

    // The next stored row, converted; null when it cannot be decoded.
    const uchar* storedRow() {
        if (row >= bandStart + bandRows && !fillBand())
            return nullptr;
        if (mode == Mode::RgbaLines || mode == Mode::RgbaBands)
            convertRgba(row - bandStart);
        else
            convertSamples(row - bandStart);
        ++row;
        return out.data();
    }

    // The next row as shown. Mirrored pages are turned row by row; pages shown upside down or
    // sideways are first read whole, at the size they are delivered in.
    const uchar* shownRowData() {
        if (orientation == ORIENTATION_TOPLEFT)
            return storedRow();
        if (orientation == ORIENTATION_TOPRIGHT) {
            const uchar* from = storedRow();
            if (!from)
                return nullptr;
            mirror(from, shown.data(), storedWidth);
            return shown.data();
        }
        const size_t stride = size_t(storedRowBytes());
        if (!wholeRead) {
            whole.resize(stride * storedHeight);
            for (uint32_t y = 0; y < storedHeight; ++y) {
                const uchar* from = storedRow();
                if (!from)
                    return nullptr;
                std::copy_n(from, stride, whole.data() + y * stride);
            }
            wholeRead = true;
        }
        const uint32_t y = shownRow;
        if (!transposed()) {
            const uint32_t r = storedHeight - 1 - y; // 3 and 4 start at the bottom
            if (orientation == ORIENTATION_BOTRIGHT)
                mirror(whole.data() + r * stride, shown.data(), storedWidth);
            else
                std::copy_n(whole.data() + r * stride, stride, shown.data());
            return shown.data();
        }
        // The stored rows are the shown columns: from the left (5, 8) or from the right (6, 7);
        // the stored columns are the shown rows: from the top (5, 6) or from the bottom (7, 8).
        const bool fromRight =
            orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
        const bool fromBottom =
            orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
        const size_t c = fromBottom ? storedWidth - 1 - y : y;
        const size_t width = size_t(format.width);
        if (format.kind == PixelKind::Bitonal)
            std::fill(shown.begin(), shown.end(), uchar(0));
        const size_t pixel = format.kind == PixelKind::Colour ? 3 : 1;
        for (size_t x = 0; x < width; ++x) {
            const uchar* from = whole.data() + (fromRight ? width - 1 - x : x) * stride;
            if (format.kind == PixelKind::Bitonal) {
                if (getBit(from, c))
                    shown[x / 8] |= uchar(0x80 >> (x % 8));
            } else {
                std::copy_n(from + c * pixel, pixel, shown.data() + x * pixel);
            }
        }
        return shown.data();
    }

    // The whole page as shown into `to`, each stored row put where it is shown, so a turned page
    // needs no copy of its own. False when the data cannot be decoded or `stop` was set.
    bool readShownPage(uchar* to, size_t stride, const std::atomic<bool>* stop) {
        if (format.kind == PixelKind::Bitonal && transposed())
            std::fill_n(to, stride * size_t(format.height), uchar(0));
        const size_t storedStride = size_t(storedRowBytes());
        const bool fromRight =
            orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_RIGHTBOT;
        const bool fromBottom =
            orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
        const size_t pixel = format.kind == PixelKind::Colour ? 3 : 1;
        for (uint32_t r = 0; r < storedHeight; ++r) {
            const uchar* from = storedRow();
            if (!from || (r % 256 == 0 && stop && stop->load()))
                return false;
            if (!transposed()) {
                const bool up =
                    orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT;
                uchar* row = to + size_t(up ? storedHeight - 1 - r : r) * stride;
                if (orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT)
                    mirror(from, row, storedWidth);
                else
                    std::copy_n(from, storedStride, row);
                continue;
            }
            // Stored row r is shown column x; stored column c is shown row y.
            const size_t x = fromRight ? size_t(format.width) - 1 - r : r;
            for (size_t c = 0; c < storedWidth; ++c) {
                uchar* row = to + (fromBottom ? storedWidth - 1 - c : c) * stride;
                if (format.kind != PixelKind::Bitonal)
                    std::copy_n(from + c * pixel, pixel, row + x * pixel);
                else if (getBit(from, c))
                    row[x / 8] |= uchar(0x80 >> (x % 8));
            }
        }
        shownRow = uint32_t(format.height);
        return true;
    }

    void mirror(const uchar* from, uchar* to, size_t width) const {
        if (format.kind == PixelKind::Bitonal) {
            std::fill_n(to, (width + 7) / 8, uchar(0));
            for (size_t x = 0; x < width; ++x) {
                if (getBit(from, width - 1 - x))
                    to[x / 8] |= uchar(0x80 >> (x % 8));
            }
            return;
        }
        const size_t pixel = format.kind == PixelKind::Colour ? 3 : 1;
        for (size_t x = 0; x < width; ++x)
            std::copy_n(from + (width - 1 - x) * pixel, pixel, to + x * pixel);
    }

    static qsizetype bytesFor(PixelKind kind, qsizetype width) {
        switch (kind) {
        case PixelKind::Bitonal:
            return (width + 7) / 8;
        case PixelKind::Grey:
            return width;
        case PixelKind::Colour:
            return 3 * width;
        }
        return 0;
    }
    qsizetype rowBytes() const { return bytesFor(format.kind, format.width); }
    qsizetype storedRowBytes() const { return bytesFor(format.kind, qsizetype(storedWidth)); }
};

TiffPageReader::TiffPageReader(const QString& path) : m(std::make_unique<State>(path)) {}

TiffPageReader::TiffPageReader(const platform::RegularFile& file)
    : m(std::make_unique<State>(file)) {}

TiffPageReader::TiffPageReader(const QByteArray& bytes, InMemory)
    : m(std::make_unique<State>(bytes)) {}

TiffPageReader::~TiffPageReader() = default;

bool TiffPageReader::nextPage() {
    if (!m->problem.isEmpty() || m->finished)
        return false;
    m->endImage();
    if (!m->advance())
        return false;
    ++m->page;
    return m->setUpPage();
}

int TiffPageReader::pageNumber() const {
    return m->page;
}

const PageFormat& TiffPageReader::format() const {
    return m->format;
}

qsizetype TiffPageReader::rowBytes() const {
    return m->rowBytes();
}

const uchar* TiffPageReader::nextRow() {
    if (!m->problem.isEmpty() || m->page == 0 || m->shownRow >= uint32_t(m->format.height))
        return nullptr;
    const uchar* row = m->shownRowData();
    if (row)
        ++m->shownRow;
    return row;
}

bool TiffPageReader::readPage(uchar* pixels, qsizetype stride, const std::atomic<bool>* stop) {
    if (!m->problem.isEmpty() || m->page == 0 || m->shownRow != 0)
        return false;
    return m->readShownPage(pixels, size_t(stride), stop);
}

QString TiffPageReader::problem() const {
    return m->problem;
}

} // namespace vormelle::engine
