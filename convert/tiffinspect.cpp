#include "convert/tiffinspect.h"

#include "convert/checks.h"
#include "convert/commands.h"
#include "convert/tiffopen.h"
#include "platform/regularfile.h"

#include <tiffio.h>

#include <chrono>
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

enum class Resolution {
    Usable,     // tiff2pdf uses it as it is
    Missing,    // none given: tiff2pdf takes 300 dpi by itself
    Unusable,   // absurd, one-sided or too coarse for a DjVu page
    WithoutUnit // unit "none": tiff2pdf takes the values as pixels per point
};

struct Page {
    QString problem;
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

// Decodes every strip or tile once, into one buffer of a strip's or tile's size.
QString decodeProblem(TIFF* tif, TiffMessages& sink) {
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
        sink = TiffMessages{};
        const tmsize_t n = tiled ? TIFFReadEncodedTile(tif, i, buffer.get(), size)
                                 : TIFFReadEncodedStrip(tif, i, buffer.get(), size);
        // A decoder warns where the data does not fit what it should be (a CCITT line of the
        // wrong length, a JPEG stream that ends early) and delivers a damaged page all the same.
        if (n < 0 || sink.errors > 0 || sink.warnings > 0)
            return QString::fromLatin1(kDamaged);
    }
    return {};
}

Page inspectPage(TIFF* tif, TiffMessages& sink, Route route) {
    Page page;
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) {
        page.problem = QStringLiteral("the page has no pixels");
        return page;
    }
    page.problem = pageFormatProblem(tif, route);
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
    // The direct route keeps the pixel size and picks a resolution per page.
    page.resolution = route == Route::Pdf ? resolutionOf(tif, width, height) : Resolution::Usable;
    if ((page.resolution != Resolution::Usable || route == Route::Direct) &&
        (width > kDjvuMaxSide || height > kDjvuMaxSide)) {
        page.problem = QStringLiteral("the page is too large for DjVu");
        return page;
    }
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    page.tiledYcbcrJpeg =
        TIFFIsTiled(tif) && compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR;
    page.problem = decodeProblem(tif, sink);
    return page;
}

TiffInspection inspect(const TiffSource& source, Route route) {
    TiffInspection result;
    result.problem = tiffHeaderProblem(source);
    if (!result.problem.isEmpty())
        return result;

    TiffMessages sink;
    const OpenTiff opened(source, sink, std::int64_t(kMaxDecodedBytes));
    TIFF* const tif = opened.get();
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
        if (isTiffPage(tif)) {
            ++result.pages;
            const Page page = inspectPage(tif, sink, route);
            if (!page.problem.isEmpty()) {
                result.problem = namedPageProblem(
                    result.pages, result.pages > 1 || !TIFFLastDirectory(tif), page.problem);
                return result;
            }
            allTiledYcbcrJpeg = allTiledYcbcrJpeg && page.tiledYcbcrJpeg;
            anyUsable = anyUsable || page.resolution == Resolution::Usable;
            anyUnusable = anyUnusable || page.resolution == Resolution::Unusable;
            anyMissing = anyMissing || page.resolution == Resolution::Missing;
            anyWithoutUnit = anyWithoutUnit || page.resolution == Resolution::WithoutUnit;
        }
        if (TIFFLastDirectory(tif))
            break;
        if (!TIFFReadDirectory(tif)) {
            ++result.pages;
            result.problem = QStringLiteral("page %1 cannot be read").arg(result.pages);
            return result;
        }
    }
    if (result.pages == 0) {
        result.problem = QStringLiteral("the file has no pages");
        return result;
    }

    if (route == Route::Direct)
        return result;
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

TiffInspection inspectFile(const QString& path, Route route) {
    const platform::RegularFile file(path);
    if (file.status() == platform::RegularFile::Status::Opened)
        return inspect(FileTiffSource(file), route);
    TiffInspection result;
    result.problem = regularFileProblem(int(file.status()));
    return result;
}

} // namespace

QString namedPageProblem(int page, bool severalPages, const QString& problem) {
    return severalPages ? QStringLiteral("page %1: %2").arg(page).arg(problem) : problem;
}

QString pageFormatProblem(TIFF* tif, Route route) {
    const bool direct = route == Route::Direct;
    uint16_t bits = 1;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        return QStringLiteral("floating-point samples are not supported");
    if (format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_COMPLEXINT)
        return QStringLiteral("signed samples are not supported");
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && !(direct && bits == 16))
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
    bool alpha = false;
    for (uint16_t i = 0; i < extraCount; ++i)
        alpha = alpha || extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA;
    // tiff2pdf takes a fourth RGB sample for alpha whatever the file says.
    alpha = alpha || (samples == 4 && photometric == PHOTOMETRIC_RGB);
    if (alpha && !direct)
        return QStringLiteral("alpha channel is not supported");
    // The direct route lays the page over white; an alpha channel is its one extra sample.
    if (samples > channels + (direct && alpha ? 1 : 0))
        return QStringLiteral("extra channels are not supported");
    if (samples < channels)
        return QStringLiteral("colour channels are missing");

    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFIsCODECConfigured(compression))
        return QStringLiteral("compression %1 is not supported").arg(compression);
    // Pages other than bitonal ones are decoded to RGB by libtiff on the direct route.
    const bool bitonal =
        bits == 1 && samples == 1 &&
        (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
    char message[1024] = {};
    if (direct && !bitonal && !TIFFRGBAImageOK(tif, message))
        return QStringLiteral("this kind of page is not supported (%1)")
            .arg(QString::fromLatin1(message));
    return {};
}

TiffInspection inspectTiff(const QString& path, Route route) {
    return inspectFile(path, route);
}

TiffInspection inspectTiff(const QString& path, const std::function<void()>& pause, Route route) {
    // One strip can take seconds to decode: the work goes to a thread of its own, and the
    // caller pauses while it waits.
    std::future<TiffInspection> done =
        std::async(std::launch::async, [path, route] { return inspectFile(path, route); });
    while (done.wait_for(std::chrono::milliseconds(kPauseEveryMs)) != std::future_status::ready)
        pause();
    return done.get();
}

TiffInspection inspectTiffBytes(const QByteArray& bytes, Route route) {
    return inspect(MemoryTiffSource(bytes), route);
}

} // namespace vormelle::convert
