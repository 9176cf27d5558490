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
#include <vector>

namespace vormelle::engine {

namespace {

// What one page may take decoded, and what libtiff may allocate at once: as on the PDF route.
constexpr double kMaxDecodedBytes = double(kMemoryLimitMiB) * 1024 * 1024;
// Rows decoded at a time when a page is read line by line.
constexpr uint32_t kBandRows = 64;

const char* const kDamaged = "the image data is damaged";

enum class Mode {
    BitonalLines, // 1-bit strips, line by line
    BitonalTiles, // 1-bit tiles, one row of tiles at a time
    RgbaLines,    // strips line by line, turned into RGBA by libtiff's converters
    RgbaBands,    // tiles, planes or subsampled YCbCr: libtiff decodes a band of whole strips or
                  // tile rows into RGBA
};

// The horizontal resolution in dots per inch, when the page has one with a unit; a scanner
// that writes two resolutions scans at the horizontal one.
int resolutionOf(TIFF* tif) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    float x = 0;
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return pageDpi(0);
    return pageDpi(unit == RESUNIT_CENTIMETER ? x * 2.54 : x);
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
    PageFormat format;
    Mode mode = Mode::BitonalLines;
    bool invert = false;           // a 1-bit page that stores 1 for white
    bool unassociatedGrey = false; // libtiff leaves grey under unassociated alpha unweighted
    TIFFRGBAImage image{};
    bool imageActive = false;

    uint32_t row = 0;        // the next row to deliver
    uint32_t bandStart = 0;  // the first row in the band
    uint32_t bandRows = 0;   // rows in the band
    uint32_t bandHeight = 0; // rows a full band has
    tmsize_t lineBytes = 0;  // bytes of one decoded line (RgbaLines, BitonalLines)
    tmsize_t tileRowBytes = 0;
    std::vector<uchar> raw;  // decoded lines or one tile
    std::vector<uchar> band; // BitonalTiles: the band's rows
    std::vector<uint32_t> rgba;
    std::vector<uchar> out; // the row handed out

    ~State() { endImage(); }

    void endImage() {
        if (imageActive)
            TIFFRGBAImageEnd(&image);
        imageActive = false;
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

    bool setUpPage() {
        const QString directoryProblem = pageDirectoryProblem(tif, Route::Direct);
        if (!directoryProblem.isEmpty()) {
            fail(directoryProblem);
            return false;
        }
        uint32_t width = 0;
        uint32_t height = 0;
        uint16_t bits = 1;
        uint16_t samples = 1;
        uint16_t photometric = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        const bool grey =
            photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
        format.width = int(width);
        format.height = int(height);
        format.dpi = resolutionOf(tif);
        format.kind = grey && bits == 1 && samples == 1 ? PixelKind::Bitonal
                      : grey                            ? PixelKind::Grey
                                                        : PixelKind::Colour;
        row = bandStart = bandRows = 0;
        out.assign(size_t(rowBytes()), 0);
        raw.clear();
        band.clear();
        rgba.clear();
        if (format.kind == PixelKind::Bitonal)
            setUpBitonal(photometric);
        else if (!setUpRgba(bits, samples))
            return false;
        // Only what decoding the image data says counts from here on.
        messages = TiffMessages{};
        return true;
    }

    void setUpBitonal(uint16_t photometric) {
        invert = photometric == PHOTOMETRIC_MINISBLACK;
        if (TIFFIsTiled(tif)) {
            uint32_t tileHeight = 0;
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
            mode = Mode::BitonalTiles;
            bandHeight = std::max<uint32_t>(tileHeight, 1);
            tileRowBytes = TIFFTileRowSize(tif);
            raw.resize(size_t(std::max<tmsize_t>(TIFFTileSize(tif), 0)));
            band.resize(size_t(bandHeight) * size_t(rowBytes()));
        } else {
            mode = Mode::BitonalLines;
            bandHeight = 1;
            lineBytes = TIFFScanlineSize(tif);
            raw.resize(size_t(std::max(lineBytes, tmsize_t(rowBytes()))));
        }
    }

    bool setUpRgba(uint16_t bits, uint16_t samples) {
        char message[1024] = {};
        if (!TIFFRGBAImageBegin(&image, tif, 1, message)) {
            fail(engine::Texts::tr("this kind of page is not supported (%1)")
                     .arg(QString::fromLatin1(message)));
            return false;
        }
        imageActive = true;
        // Rows come as the file stores them, as on the bitonal pages.
        image.req_orientation = image.orientation;
        unassociatedGrey = format.kind == PixelKind::Grey && bits == 8 && samples == 2 &&
                           image.alpha == EXTRASAMPLE_UNASSALPHA;
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
            bandHeight = std::clamp<uint32_t>(height, 1, uint32_t(format.height));
        }
        rgba.resize(size_t(bandHeight) * size_t(format.width));
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

    bool fillBand() {
        bandStart = row;
        bandRows = std::min(bandHeight, uint32_t(format.height) - row);
        switch (mode) {
        case Mode::BitonalLines:
            return decoded(TIFFReadScanline(tif, raw.data(), row, 0) >= 0);
        case Mode::BitonalTiles: {
            uint32_t tileWidth = 0;
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
            const size_t stride = size_t(rowBytes());
            for (uint32_t x = 0; x < uint32_t(format.width); x += tileWidth) {
                if (!decoded(TIFFReadTile(tif, raw.data(), x, row, 0, 0) >= 0))
                    return false;
                // Tiles are a multiple of 16 pixels wide: each starts on a byte.
                const size_t at = x / 8;
                const size_t n = std::min(size_t(tileRowBytes), stride - at);
                for (uint32_t y = 0; y < bandRows; ++y)
                    std::copy_n(raw.data() + size_t(y) * size_t(tileRowBytes), n,
                                band.data() + size_t(y) * stride + at);
            }
            return true;
        }
        case Mode::RgbaLines:
            for (uint32_t y = 0; y < bandRows; ++y) {
                if (!decoded(TIFFReadScanline(tif, raw.data() + size_t(y) * size_t(lineBytes),
                                              row + y, 0) >= 0))
                    return false;
            }
            image.put.contig(&image, rgba.data(), 0, row, uint32_t(format.width), bandRows, 0, 0,
                             raw.data());
            return true;
        case Mode::RgbaBands:
            image.row_offset = int(row);
            image.col_offset = 0;
            return decoded(
                TIFFRGBAImageGet(&image, rgba.data(), uint32_t(format.width), bandRows) != 0);
        }
        return false;
    }

    void convertRow(uint32_t inBand) {
        uchar* to = out.data();
        switch (mode) {
        case Mode::BitonalLines:
        case Mode::BitonalTiles: {
            const uchar* from =
                mode == Mode::BitonalLines ? raw.data() : band.data() + inBand * out.size();
            for (size_t i = 0; i < out.size(); ++i)
                to[i] = invert ? uchar(~from[i]) : from[i];
            // The bits past the last pixel are left clear, so equal pages give equal files.
            if (const int used = format.width % 8)
                to[out.size() - 1] &= uchar(0xff << (8 - used));
            return;
        }
        case Mode::RgbaLines:
        case Mode::RgbaBands:
            break;
        }
        const uint32_t* from = rgba.data() + size_t(inBand) * size_t(format.width);
        // libtiff weights colours by their alpha; over white, what is left shows white.
        auto overWhite = [](uint32_t c, uint32_t a) { return uchar(std::min(255u, c + 255 - a)); };
        if (format.kind == PixelKind::Grey) {
            for (int x = 0; x < format.width; ++x) {
                const uint32_t v = TIFFGetR(from[x]);
                const uint32_t a = TIFFGetA(from[x]);
                to[x] = unassociatedGrey ? uchar((v * a + 255 * (255 - a) + 127) / 255)
                                         : overWhite(v, a);
            }
            return;
        }
        for (int x = 0; x < format.width; ++x) {
            const uint32_t a = TIFFGetA(from[x]);
            to[3 * x] = overWhite(TIFFGetR(from[x]), a);
            to[3 * x + 1] = overWhite(TIFFGetG(from[x]), a);
            to[3 * x + 2] = overWhite(TIFFGetB(from[x]), a);
        }
    }

    qsizetype rowBytes() const {
        switch (format.kind) {
        case PixelKind::Bitonal:
            return (qsizetype(format.width) + 7) / 8;
        case PixelKind::Grey:
            return format.width;
        case PixelKind::Colour:
            return 3 * qsizetype(format.width);
        }
        return 0;
    }
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
    if (!m->problem.isEmpty() || m->page == 0 || m->row >= uint32_t(m->format.height))
        return nullptr;
    if (m->row >= m->bandStart + m->bandRows && !m->fillBand())
        return nullptr;
    m->convertRow(m->row - m->bandStart);
    ++m->row;
    return m->out.data();
}

QString TiffPageReader::problem() const {
    return m->problem;
}

} // namespace vormelle::engine
