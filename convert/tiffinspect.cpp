#include "convert/tiffinspect.h"

#include "convert/checks.h"
#include "convert/commands.h"
#include "platform/regularfile.h"

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <memory>
#include <new>

namespace vormelle::convert {

namespace {

// pdf2djvu renders every page at 300 dpi; a page without a usable resolution gets that too, so
// its DjVu page has the TIFF's own pixel size.
constexpr double kPageDpi = 300;
// The largest side of a DjVu page, in pixels.
constexpr double kDjvuMaxSide = 32767;
// Resolutions outside this range are taken for mistakes: they make thumbnails or posters.
constexpr double kLowestDpi = 1;
constexpr double kHighestDpi = 10000;
// What tiff2pdf may allocate for one page (-m), and what the inspection allows itself.
constexpr double kMaxDecodedBytes = double(kMemoryLimitMiB) * 1024 * 1024;

// How often the caller pauses while an inspection runs.
constexpr qint64 kPauseEveryMs = 40;

const char* const kDamaged = "the image data is damaged";
const char* const kTooLarge = "the page is too large to convert";

// Where the file's bytes come from: a regular file on disk or a buffer in memory.
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    virtual std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const = 0;
};

class FileSource final : public Source {
public:
    explicit FileSource(const platform::RegularFile& file) : m_file(file) {}
    std::uint64_t size() const override { return m_file.size(); }
    std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        return m_file.readAt(offset, buffer, count);
    }

private:
    const platform::RegularFile& m_file;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(const QByteArray& bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return std::uint64_t(m_bytes.size()); }
    std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const override {
        if (offset >= size())
            return 0;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(count, size() - offset));
        std::memcpy(buffer, m_bytes.constData() + offset, n);
        return std::int64_t(n);
    }

private:
    const QByteArray& m_bytes;
};

// libtiff's view of a Source: a read position over it, nothing written, nothing mapped.
struct Stream {
    const Source* source = nullptr;
    std::uint64_t position = 0;
};

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t count) {
    auto* s = static_cast<Stream*>(handle);
    if (count < 0)
        return -1;
    const std::int64_t n = s->source->readAt(s->position, buffer, std::size_t(count));
    if (n > 0)
        s->position += std::uint64_t(n);
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* s = static_cast<Stream*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = s->position;
    else if (whence == SEEK_END)
        base = s->source->size();
    // libtiff passes a negative offset as its two's complement.
    s->position = base + offset;
    return s->position;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    return static_cast<Stream*>(handle)->source->size();
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// What libtiff reported for this one file; each file has its own, so inspections on several
// threads do not mix their messages.
struct Sink {
    int errors = 0;
    int warnings = 0;
};

int onError(TIFF*, void* user, const char*, const char*, va_list) {
    ++static_cast<Sink*>(user)->errors;
    return 1;
}

int onWarning(TIFF*, void* user, const char*, const char* format, va_list) {
    // Data written by LZW coders from before 1990 decodes correctly; libtiff only says so. The
    // same for old-style JPEG, of which it warns on every page it decodes.
    for (const char* harmless :
         {"Old-style LZW codes", "Deprecated and troublesome old-style JPEG"}) {
        if (format && std::strncmp(format, harmless, std::strlen(harmless)) == 0)
            return 1;
    }
    ++static_cast<Sink*>(user)->warnings;
    return 1;
}

struct CloseTiff {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

enum class Resolution {
    Usable,     // tiff2pdf uses it as it is
    Missing,    // none given: tiff2pdf takes 300 dpi by itself
    Unusable,   // absurd, one-sided or too coarse for a DjVu page
    WithoutUnit // unit "none": tiff2pdf takes the values as pixels per point
};

struct Page {
    QString problem;
    uint32_t width = 0;
    uint32_t height = 0;
    Resolution resolution = Resolution::Usable;
    bool tiledYcbcrJpeg = false;
};

Resolution resolutionOf(TIFF* tif, uint32_t width, uint32_t height) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return Resolution::WithoutUnit;
    float x = 0;
    float y = 0;
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    if (x == 0 && y == 0)
        return Resolution::Missing;
    const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1;
    auto usable = [](double dpi, uint32_t pixels) {
        return std::isfinite(dpi) && dpi >= kLowestDpi && dpi <= kHighestDpi &&
               pixels / dpi * kPageDpi <= kDjvuMaxSide;
    };
    return usable(x * perInch, width) && usable(y * perInch, height) ? Resolution::Usable
                                                                     : Resolution::Unusable;
}

// The colour channels a photometric interpretation has; 0 for those tiff2pdf cannot convert.
int colourChannels(TIFF* tif, uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE:
        return 1;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return 3;
    case PHOTOMETRIC_SEPARATED: {
        uint16_t inkSet = INKSET_CMYK;
        TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
        return inkSet == INKSET_CMYK ? 4 : 0;
    }
    default:
        return 0;
    }
}

QString formatProblem(TIFF* tif) {
    uint16_t bits = 1;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        return QStringLiteral("floating-point samples are not supported");
    if (format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_COMPLEXINT)
        return QStringLiteral("signed samples are not supported");
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
        return QStringLiteral("%1-bit samples are not supported").arg(bits);

    uint16_t photometric = 0;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return QStringLiteral("the colour model is not given");
    const int channels = colourChannels(tif, photometric);
    if (channels == 0)
        return QStringLiteral("colour model %1 is not supported").arg(photometric);
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    for (uint16_t i = 0; i < extraCount; ++i) {
        if (extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA)
            return QStringLiteral("alpha channel is not supported");
    }
    // tiff2pdf takes a fourth RGB sample for alpha whatever the file says.
    if (samples == 4 && photometric == PHOTOMETRIC_RGB)
        return QStringLiteral("alpha channel is not supported");
    if (samples > channels)
        return QStringLiteral("extra channels are not supported");
    if (samples < channels)
        return QStringLiteral("colour channels are missing");

    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFIsCODECConfigured(compression))
        return QStringLiteral("compression %1 is not supported").arg(compression);
    return {};
}

// Decodes every strip or tile once, into one buffer of a strip's or tile's size.
QString decodeProblem(TIFF* tif, Sink& sink) {
    const bool tiled = TIFFIsTiled(tif);
    const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const tmsize_t size = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (count == 0 || size <= 0)
        return QString::fromLatin1(kDamaged);
    if (double(size) > kMaxDecodedBytes)
        return QString::fromLatin1(kTooLarge);
    // Left uninitialised: memory a decoder never reaches is never touched.
    const std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer)
        return QString::fromLatin1(kTooLarge);
    for (uint32_t i = 0; i < count; ++i) {
        sink = Sink{};
        const tmsize_t n = tiled ? TIFFReadEncodedTile(tif, i, buffer.get(), size)
                                 : TIFFReadEncodedStrip(tif, i, buffer.get(), size);
        // A decoder warns where the data does not fit what it should be (a CCITT line of the
        // wrong length, a JPEG stream that ends early) and delivers a damaged page all the same.
        if (n < 0 || sink.errors > 0 || sink.warnings > 0)
            return QString::fromLatin1(kDamaged);
    }
    return {};
}

Page inspectPage(TIFF* tif, Sink& sink) {
    Page page;
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    page.width = width;
    page.height = height;
    if (width == 0 || height == 0) {
        page.problem = QStringLiteral("the page has no pixels");
        return page;
    }
    page.problem = formatProblem(tif);
    if (!page.problem.isEmpty())
        return page;

    uint16_t bits = 1;
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const double decoded = std::ceil(double(width) * samples * bits / 8) * double(height);
    if (decoded > kMaxDecodedBytes) {
        page.problem = QString::fromLatin1(kTooLarge);
        return page;
    }
    page.resolution = resolutionOf(tif, width, height);
    if (page.resolution != Resolution::Usable && (width > kDjvuMaxSide || height > kDjvuMaxSide)) {
        page.problem = QStringLiteral("the page is too large for DjVu");
        return page;
    }
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    page.tiledYcbcrJpeg =
        TIFFIsTiled(tif) && compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR;
    if (page.tiledYcbcrJpeg) {
        // tiff2pdf copies such tiles whole, and those that reach past the page's right or
        // bottom edge come out in wrong colours, reported as converted.
        uint32_t tileWidth = 0;
        uint32_t tileLength = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        if (tileWidth == 0 || tileLength == 0 || width % tileWidth != 0 ||
            height % tileLength != 0) {
            page.problem =
                QStringLiteral("YCbCr JPEG tiles past the page's edge are not supported");
            return page;
        }
    }
    page.problem = decodeProblem(tif, sink);
    return page;
}

QString headerProblem(const Source& source) {
    if (source.size() == 0)
        return QStringLiteral("the file is empty");
    unsigned char head[16] = {};
    const std::int64_t n = source.readAt(0, head, sizeof head);
    if (n < 0)
        return QStringLiteral("the file could not be read");
    const bool little = head[0] == 'I' && head[1] == 'I';
    const bool big = head[0] == 'M' && head[1] == 'M';
    const unsigned version = little ? head[2] | unsigned(head[3]) << 8 : head[2] << 8 | head[3];
    if (n < 2 || (!little && !big))
        return QStringLiteral("not a TIFF file");
    if (n < 4)
        return QStringLiteral("the TIFF header is incomplete");
    if (version != 42 && version != 43)
        return QStringLiteral("not a TIFF file");
    if (n < (version == 42 ? 8 : 16))
        return QStringLiteral("the TIFF header is incomplete");
    return {};
}

TiffInspection inspect(const Source& source) {
    TiffInspection result;
    result.problem = headerProblem(source);
    if (!result.problem.isEmpty())
        return result;

    Sink sink;
    Stream stream{&source, 0};
    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                             &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &sink);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &sink);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(kMaxDecodedBytes));
    std::unique_ptr<TIFF, CloseTiff> tif(TIFFClientOpenExt("input", "rm", &stream, readProc,
                                                           writeProc, seekProc, closeProc, sizeProc,
                                                           mapProc, unmapProc, options.get()));
    if (!tif) {
        result.problem = QStringLiteral("the first page cannot be read");
        return result;
    }

    bool allTiledYcbcrJpeg = true;
    bool anyUsable = false;
    bool anyUnusable = false;
    bool anyMissing = false;
    bool anyWithoutUnit = false;
    for (;;) {
        if (isTiffPage(tif.get())) {
            ++result.pages;
            const Page page = inspectPage(tif.get(), sink);
            if (double(page.width) * page.height >
                double(result.largestWidth) * result.largestHeight) {
                result.largestWidth = int(std::min<uint32_t>(page.width, INT_MAX));
                result.largestHeight = int(std::min<uint32_t>(page.height, INT_MAX));
            }
            if (!page.problem.isEmpty()) {
                result.problem =
                    result.pages > 1 || !TIFFLastDirectory(tif.get())
                        ? QStringLiteral("page %1: %2").arg(result.pages).arg(page.problem)
                        : page.problem;
                return result;
            }
            allTiledYcbcrJpeg = allTiledYcbcrJpeg && page.tiledYcbcrJpeg;
            anyUsable = anyUsable || page.resolution == Resolution::Usable;
            anyUnusable = anyUnusable || page.resolution == Resolution::Unusable;
            anyMissing = anyMissing || page.resolution == Resolution::Missing;
            anyWithoutUnit = anyWithoutUnit || page.resolution == Resolution::WithoutUnit;
        }
        if (TIFFLastDirectory(tif.get()))
            break;
        if (!TIFFReadDirectory(tif.get())) {
            ++result.pages;
            result.problem = QStringLiteral("page %1 cannot be read").arg(result.pages);
            return result;
        }
    }
    if (result.pages == 0) {
        result.problem = QStringLiteral("the file has no pages");
        return result;
    }

    // tiff2pdf takes one resolution override for the whole file: pages that need different
    // ones cannot all come out right.
    if ((anyWithoutUnit && (anyUsable || anyUnusable || anyMissing)) ||
        (anyUnusable && anyUsable)) {
        result.problem = QStringLiteral("some pages have no usable resolution");
        return result;
    }
    if (anyWithoutUnit || anyUnusable) {
        // Without a unit tiff2pdf divides the pixels by the resolution to get points; 300/72
        // pixels per point is 300 dpi.
        const QString dpi = anyWithoutUnit ? QString::number(kPageDpi / 72, 'f', 8)
                                           : QString::number(kPageDpi, 'f', 0);
        result.tiff2pdfOptions = {QStringLiteral("-r"), QStringLiteral("o"),
                                  QStringLiteral("-x"), dpi,
                                  QStringLiteral("-y"), dpi};
    }
    result.copyCompressedData = allTiledYcbcrJpeg;
    return result;
}

TiffInspection inspectFile(const QString& path) {
    const platform::RegularFile file(path);
    TiffInspection result;
    switch (file.status()) {
    case platform::RegularFile::Status::Opened:
        return inspect(FileSource(file));
    case platform::RegularFile::Status::Missing:
        result.problem = QStringLiteral("the file is not there");
        break;
    case platform::RegularFile::Status::NotRegular:
        result.problem = QStringLiteral("not a regular file");
        break;
    case platform::RegularFile::Status::Unreadable:
        result.problem = QStringLiteral("the file may not be read");
        break;
    }
    return result;
}

} // namespace

TiffInspection inspectTiff(const QString& path) {
    return inspectFile(path);
}

TiffInspection inspectTiff(const QString& path, const std::function<void()>& pause) {
    // One strip can take seconds to decode: the work goes to a thread of its own, and the
    // caller pauses while it waits.
    std::future<TiffInspection> done =
        std::async(std::launch::async, [path] { return inspectFile(path); });
    while (done.wait_for(std::chrono::milliseconds(kPauseEveryMs)) != std::future_status::ready)
        pause();
    return done.get();
}

TiffInspection inspectTiffBytes(const QByteArray& bytes) {
    return inspect(MemorySource(bytes));
}

} // namespace vormelle::convert
