// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/tiffinspect.h"

#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/texts.h"
#include "engine/tiffopen.h"
#include "platform/regularfile.h"

#include <QCoreApplication>

#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <optional>

namespace vormelle::engine {

namespace {

// The largest side of a DjVu page, in pixels.
constexpr double kDjvuMaxSide = 32767;
// What tiff2pdf may allocate for one page (-m), and what the inspection allows itself.
constexpr double kMaxDecodedBytes = double(kMemoryLimitMiB) * 1024 * 1024;

// How often the caller pauses while an inspection runs.
constexpr qint64 kPauseEveryMs = 40;

// Strips up to this size are decoded whole; larger ones line by line (as TiffPageReader does).
constexpr tmsize_t kWholeStripBytes = 1 << 20;

const char* const kDamaged = "the image data is damaged";
const char* const kTooLarge = "the page is too large to convert";

// A page's resolution as its tags give it, in dots per inch.
struct Resolution {
    bool hasUnit = true; // unit "none": tiff2pdf takes the values as pixels per point
    double x = 0;        // 0 when not given
    double y = 0;
};

struct Page {
    QString problem;
    uint32_t width = 0;
    uint32_t height = 0;
    Resolution resolution;
    bool tiledYcbcrJpeg = false;
};

Resolution resolutionOf(TIFF* tif) {
    Resolution r;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    r.hasUnit = unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER;
    float x = 0;
    float y = 0;
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1;
    r.x = std::isfinite(x) ? x * perInch : 0;
    r.y = std::isfinite(y) ? y * perInch : 0;
    return r;
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

// Decodes every strip or tile once. What is decoded at a time is bounded by the page, not by
// what the directory declares: of a tile only the rows inside the page, and strips larger than
// kWholeStripBytes line by line.
QString decodeProblem(TIFF* tif, TiffMessages& sink) {
    const bool tiled = TIFFIsTiled(tif);
    const uint32_t count = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    uint32_t bandRows = 0; // rows of a tile inside the page
    tmsize_t size = 0;
    bool byLines = false;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
        bandRows = std::min(bandRows, height);
        size = tmsize_t(double(bandRows) * double(TIFFTileRowSize(tif)));
    } else {
        size = TIFFStripSize(tif);
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        // JBIG decodes only whole strips.
        byLines = size > kWholeStripBytes && compression != COMPRESSION_JBIG;
        if (byLines)
            size = TIFFScanlineSize(tif);
    }
    if (count == 0 || size <= 0)
        return QString::fromLatin1(kDamaged);
    if (double(size) > kMaxDecodedBytes)
        return QString::fromLatin1(kTooLarge);
    // Left uninitialised: memory a decoder never reaches is never touched.
    const std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer)
        return QString::fromLatin1(kTooLarge);
    if (byLines) {
        uint16_t planar = PLANARCONFIG_CONTIG;
        uint16_t samples = 1;
        TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        const uint16_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
        // Plane after plane, so each strip is decoded once from its start.
        for (uint16_t p = 0; p < planes; ++p) {
            for (uint32_t y = 0; y < height; ++y) {
                sink = TiffMessages{};
                if (TIFFReadScanline(tif, buffer.get(), y, p) < 0 || sink.errors > 0 ||
                    sink.warnings > 0)
                    return QString::fromLatin1(kDamaged);
            }
        }
        return {};
    }
    uint32_t tileHeight = 0;
    uint32_t tilesDown = 1;
    uint32_t tilesAcross = 1;
    if (tiled) {
        uint32_t width = 0;
        uint32_t tileWidth = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
        if (tileWidth == 0 || tileHeight == 0)
            return QString::fromLatin1(kDamaged);
        tilesAcross = (width + tileWidth - 1) / tileWidth;
        tilesDown = (height + tileHeight - 1) / tileHeight;
    }
    const tmsize_t tileRowBytes = tiled ? TIFFTileRowSize(tif) : 0;
    for (uint32_t i = 0; i < count; ++i) {
        sink = TiffMessages{};
        tmsize_t wanted = size;
        if (tiled) {
            // The last row of tiles may reach past the page's bottom.
            const uint32_t down = i / tilesAcross % tilesDown;
            wanted = tileRowBytes * tmsize_t(std::min(tileHeight, height - down * tileHeight));
        }
        const tmsize_t n = tiled ? TIFFReadEncodedTile(tif, i, buffer.get(), wanted)
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
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
    page.problem = pageDirectoryProblem(tif, route);
    if (!page.problem.isEmpty())
        return page;
    page.resolution = resolutionOf(tif);
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    page.tiledYcbcrJpeg =
        TIFFIsTiled(tif) && compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR;
    if (page.tiledYcbcrJpeg && route == Route::Pdf) {
        // tiff2pdf copies such tiles whole, and those that reach past the page's right or
        // bottom edge come out in wrong colours, reported as converted.
        uint32_t tileWidth = 0;
        uint32_t tileLength = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
        if (tileWidth == 0 || tileLength == 0 || page.width % tileWidth != 0 ||
            page.height % tileLength != 0) {
            page.problem =
                engine::Texts::tr("YCbCr JPEG tiles past the page's edge are not supported");
            return page;
        }
    }
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
        result.problem = engine::Texts::tr("the first page cannot be read");
        return result;
    }

    bool allTiledYcbcrJpeg = true;
    std::optional<Resolution> first;
    bool unitsDiffer = false;
    bool allAsRendered = true; // every page already has the resolution the result gets
    for (;;) {
        if (isTiffPage(tif)) {
            ++result.pages;
            const Page page = inspectPage(tif, sink, route);
            if (double(page.width) * page.height >
                double(result.largestWidth) * result.largestHeight) {
                result.largestWidth = int(std::min<uint32_t>(page.width, INT_MAX));
                result.largestHeight = int(std::min<uint32_t>(page.height, INT_MAX));
            }
            if (!page.problem.isEmpty()) {
                result.problem = namedPageProblem(
                    result.pages, result.pages > 1 || !TIFFLastDirectory(tif), page.problem);
                return result;
            }
            allTiledYcbcrJpeg = allTiledYcbcrJpeg && page.tiledYcbcrJpeg;
            if (!first)
                first = page.resolution;
            unitsDiffer = unitsDiffer || page.resolution.hasUnit != first->hasUnit;
            const int dpi = pageDpi(first->hasUnit ? first->x : 0);
            allAsRendered = allAsRendered && page.resolution.hasUnit && page.resolution.x == dpi &&
                            page.resolution.y == dpi;
        }
        if (TIFFLastDirectory(tif))
            break;
        if (!TIFFReadDirectory(tif)) {
            ++result.pages;
            result.problem = engine::Texts::tr("page %1 cannot be read").arg(result.pages);
            return result;
        }
    }
    if (result.pages == 0) {
        result.problem = engine::Texts::tr("the file has no pages");
        return result;
    }

    // The direct route gives each page its own resolution and needs no tiff2pdf options.
    if (route == Route::Direct)
        return result;
    // tiff2pdf takes one resolution override for the whole file, and reads it per inch or per
    // point by each page's unit: pages with and without one cannot all come out right.
    if (unitsDiffer) {
        result.problem = engine::Texts::tr("some pages have no usable resolution");
        return result;
    }
    // Every page is given the file's resolution, and pdf2djvu renders at that same
    // resolution: so each DjVu page has its TIFF page's pixel size, whatever the tags say.
    result.dpi = pageDpi(first->hasUnit ? first->x : 0);
    if (!allAsRendered) {
        const QString dpi = first->hasUnit ? QString::number(result.dpi)
                                           : QString::number(result.dpi / 72.0, 'f', 8);
        result.tiff2pdfOptions = {QStringLiteral("-r"), QStringLiteral("o"),
                                  QStringLiteral("-x"), dpi,
                                  QStringLiteral("-y"), dpi};
    }
    result.copyCompressedData = allTiledYcbcrJpeg;
    return result;
}

TiffInspection inspectFile(const QString& path, Route route) {
    const platform::RegularFile file(path);
    return inspectTiff(file, route);
}

} // namespace

int pageDpi(double tagged) {
    if (!std::isfinite(tagged) || tagged < kLowestDpi || tagged > kHighestDpi)
        return kDefaultDpi;
    return int(std::lround(tagged));
}

QString namedPageProblem(int page, bool severalPages, const QString& problem) {
    return severalPages ? engine::Texts::tr("page %1: %2").arg(page).arg(problem) : problem;
}

QString pageDirectoryProblem(TIFF* tif, Route route) {
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0)
        return engine::Texts::tr("the page has no pixels");
    const QString format = pageFormatProblem(tif, route);
    if (!format.isEmpty())
        return format;

    uint16_t bits = 1;
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const double decoded = std::ceil(double(width) * samples * bits / 8) * double(height);
    if (decoded > kMaxDecodedBytes)
        return QString::fromLatin1(kTooLarge);
    // Every page keeps its pixel size, so its size decides what the converters need.
    if (width > kDjvuMaxSide || height > kDjvuMaxSide)
        return engine::Texts::tr("the page is too large for DjVu (%1 x %2 pixels)")
            .arg(width)
            .arg(height);
    if (double(width) * height > kMaxPagePixels)
        return engine::Texts::tr("the page is too large to convert (%1 x %2 pixels)")
            .arg(width)
            .arg(height);
    return {};
}

QString pageFormatProblem(TIFF* tif, Route route) {
    const bool direct = route == Route::Direct;
    uint16_t bits = 1;
    uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        return engine::Texts::tr("floating-point samples are not supported");
    if (format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_COMPLEXINT)
        return engine::Texts::tr("signed samples are not supported");
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && !(direct && bits == 16))
        return engine::Texts::tr("%1-bit samples are not supported").arg(bits);

    uint16_t photometric = 0;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        return engine::Texts::tr("the colour model is not given");
    const int channels = colourChannels(tif, photometric);
    if (channels == 0)
        return engine::Texts::tr("colour model %1 is not supported").arg(photometric);
    uint16_t samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    bool alpha = false;
    for (uint16_t i = 0; i < extraCount; ++i)
        alpha = alpha || extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    // On the direct route libtiff's RGBA reader turns these into RGB; it drops their alpha.
    const bool byRgbaReader =
        compression == COMPRESSION_OJPEG ||
        !(channels == 1 || photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_SEPARATED);
    // The direct route lays the rest of its pages over their first alpha, and takes samples
    // that mean nothing for padding.
    if (!direct || byRgbaReader) {
        // tiff2pdf takes a fourth RGB sample for alpha whatever the file says.
        alpha = alpha || (!direct && samples == 4 && photometric == PHOTOMETRIC_RGB);
        if (alpha)
            return engine::Texts::tr("alpha channel is not supported");
        if (samples > channels)
            return engine::Texts::tr("extra channels are not supported");
    }
    if (samples < channels)
        return engine::Texts::tr("colour channels are missing");
    uint16_t* map[3] = {};
    if (direct && photometric == PHOTOMETRIC_PALETTE &&
        !TIFFGetField(tif, TIFFTAG_COLORMAP, &map[0], &map[1], &map[2]))
        return engine::Texts::tr("the colour model is not given");

    if (!TIFFIsCODECConfigured(compression))
        return engine::Texts::tr("compression %1 is not supported").arg(compression);
    char message[1024] = {};
    if (direct && byRgbaReader && !TIFFRGBAImageOK(tif, message))
        return engine::Texts::tr("this kind of page is not supported (%1)")
            .arg(QString::fromLatin1(message));
    return {};
}

TiffInspection inspectTiff(const QString& path, Route route) {
    return inspectFile(path, route);
}

TiffInspection inspectTiff(const platform::RegularFile& file, Route route) {
    if (file.status() == platform::RegularFile::Status::Opened)
        return inspect(FileTiffSource(file), route);
    TiffInspection result;
    result.problem = regularFileProblem(int(file.status()));
    return result;
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

} // namespace vormelle::engine
