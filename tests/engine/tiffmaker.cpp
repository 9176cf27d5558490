// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/tiffmaker.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace vormelle::test {

namespace {

struct Format {
    int samples = 1;
    int bits = 8;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t extra = 0; // an ExtraSamples value when the last sample is alpha
    bool planar = false;
    bool tiled = false;
    bool jpegRgb = false; // YCbCr JPEG fed with RGB
    bool lsbFirst = false;
    bool oneStrip = false;
};

Format formatOf(TiffKind kind) {
    Format f;
    switch (kind) {
    case TiffKind::BitonalG4:
        f.bits = 1;
        f.photometric = PHOTOMETRIC_MINISWHITE;
        f.compression = COMPRESSION_CCITTFAX4;
        break;
    case TiffKind::Gray8:
        f.compression = COMPRESSION_LZW;
        break;
    case TiffKind::GrayJpeg:
        f.compression = COMPRESSION_JPEG;
        break;
    case TiffKind::RgbJpeg:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_YCBCR;
        f.compression = COMPRESSION_JPEG;
        f.jpegRgb = true;
        break;
    case TiffKind::RgbDeflate:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_RGB;
        f.compression = COMPRESSION_ADOBE_DEFLATE;
        break;
    case TiffKind::RgbTiledJpeg:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_RGB;
        f.compression = COMPRESSION_JPEG;
        f.tiled = true;
        break;
    case TiffKind::YcbcrTiledJpeg:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_YCBCR;
        f.compression = COMPRESSION_JPEG;
        f.tiled = true;
        f.jpegRgb = true;
        break;
    case TiffKind::Gray16:
        f.bits = 16;
        break;
    case TiffKind::BitonalG3:
    case TiffKind::BitonalLzw:
    case TiffKind::BitonalRaw:
    case TiffKind::BitonalTiled:
    case TiffKind::BitonalBlack0:
    case TiffKind::BitonalLsb:
        f.bits = 1;
        f.photometric = PHOTOMETRIC_MINISWHITE;
        f.compression = kind == TiffKind::BitonalG3       ? COMPRESSION_CCITTFAX3
                        : kind == TiffKind::BitonalLzw    ? COMPRESSION_LZW
                        : kind == TiffKind::BitonalTiled  ? COMPRESSION_CCITTFAX4
                        : kind == TiffKind::BitonalBlack0 ? COMPRESSION_PACKBITS
                                                          : COMPRESSION_NONE;
        if (kind == TiffKind::BitonalBlack0)
            f.photometric = PHOTOMETRIC_MINISBLACK;
        f.tiled = kind == TiffKind::BitonalTiled;
        f.lsbFirst = kind == TiffKind::BitonalLsb;
        break;
    case TiffKind::Gray8Jpeg1Strip:
        f.compression = COMPRESSION_JPEG;
        f.oneStrip = true;
        break;
    case TiffKind::Gray2:
        f.bits = 2;
        break;
    case TiffKind::Gray4:
        f.bits = 4;
        f.compression = COMPRESSION_PACKBITS;
        break;
    case TiffKind::Gray12:
        f.bits = 12;
        break;
    case TiffKind::GrayFloat:
        f.bits = 32;
        f.sampleFormat = SAMPLEFORMAT_IEEEFP;
        break;
    case TiffKind::GraySigned:
        f.sampleFormat = SAMPLEFORMAT_INT;
        break;
    case TiffKind::GrayAlpha:
        f.samples = 2;
        f.extra = EXTRASAMPLE_UNASSALPHA;
        break;
    case TiffKind::RgbAlpha:
    case TiffKind::RgbAssocAlpha:
        f.samples = 4;
        f.photometric = PHOTOMETRIC_RGB;
        f.extra = kind == TiffKind::RgbAlpha ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_ASSOCALPHA;
        break;
    case TiffKind::RgbPlanar:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_RGB;
        f.planar = true;
        break;
    case TiffKind::Palette8:
        f.photometric = PHOTOMETRIC_PALETTE;
        break;
    case TiffKind::Cmyk8:
        f.samples = 4;
        f.photometric = PHOTOMETRIC_SEPARATED;
        break;
    case TiffKind::Lab8:
        f.samples = 3;
        f.photometric = PHOTOMETRIC_CIELAB;
        break;
    }
    return f;
}

// The samples of one pixel, each from 0 to 1 (the signed kind stores them shifted).
std::vector<double> samplesOf(TiffKind kind, const Format& f, QRgb c) {
    const double alpha = qAlpha(c) / 255.0;
    const double r = qRed(c) / 255.0;
    const double g = qGreen(c) / 255.0;
    const double b = qBlue(c) / 255.0;
    const double gray = qGray(c) / 255.0;
    switch (f.photometric) {
    case PHOTOMETRIC_MINISWHITE:
        return {1 - gray};
    case PHOTOMETRIC_PALETTE:
        return {c == qRgb(255, 255, 255) ? 1 / 255.0 : 0};
    case PHOTOMETRIC_SEPARATED:
        return {1 - r, 1 - g, 1 - b, 0};
    case PHOTOMETRIC_CIELAB:
        return {gray, 0, 0}; // neutral: a* and b* zero
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
        if (f.samples == 4) {
            // Associated alpha stores the colour weighted by it.
            const double w = kind == TiffKind::RgbAssocAlpha ? alpha : 1;
            return {r * w, g * w, b * w, alpha};
        }
        return {r, g, b};
    default:
        if (kind == TiffKind::GrayAlpha)
            return {gray, alpha};
        return {gray};
    }
}

// Appends one pixel's samples (or one plane's sample) to `bytes` from bit `bit` on.
void packPixel(const Format& f, const std::vector<double>& s, int plane,
               std::vector<unsigned char>& bytes, size_t& bit) {
    for (int i = 0; i < f.samples; ++i) {
        if (f.planar && i != plane)
            continue;
        if (f.sampleFormat == SAMPLEFORMAT_IEEEFP) {
            const float v = float(s[size_t(i)]);
            std::memcpy(&bytes[bit / 8], &v, sizeof v);
        } else if (f.bits == 16) {
            const uint16_t v = uint16_t(std::lround(s[size_t(i)] * 65535));
            std::memcpy(&bytes[bit / 8], &v, sizeof v);
        } else {
            uint32_t v = uint32_t(std::lround(s[size_t(i)] * ((1u << f.bits) - 1)));
            if (f.sampleFormat == SAMPLEFORMAT_INT)
                v = uint32_t(int(v) - 128) & 0xff;
            for (int k = f.bits - 1; k >= 0; --k, ++bit) {
                if (v & (1u << k))
                    bytes[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
            }
            continue;
        }
        bit += size_t(f.bits);
    }
}

// Row y of one plane (or of all samples, interleaved) in the file's layout.
std::vector<unsigned char> packRow(TiffKind kind, const Format& f, const TiffPage& p, int plane,
                                   int y) {
    const int perPixel = f.planar ? 1 : f.samples;
    const size_t size = size_t((p.width * perPixel * f.bits + 7) / 8);
    std::vector<unsigned char> row(size, 0);
    size_t bit = 0;
    for (int x = 0; x < p.width; ++x)
        packPixel(f, samplesOf(kind, f, pagePixel(p, x, y)), plane, row, bit);
    return row;
}

void writePage(TIFF* tif, const TiffPage& p, int page, int pages) {
    const Format f = formatOf(p.kind);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, f.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (p.unit != 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, p.xdpi);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, p.ydpi);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, p.unit);
    }
    if (p.reduced) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    } else if (pages > 1) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, pages);
    }
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.sampleFormat);
    if (f.jpegRgb)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (f.compression == COMPRESSION_JPEG)
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
    if (f.lsbFirst)
        TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    if (f.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    if (f.extra != 0) {
        uint16_t extra[] = {f.extra};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (f.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    std::vector<uint16_t> map(256, 0xffff);
    if (f.photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> red = map;
        std::vector<uint16_t> green = map;
        std::vector<uint16_t> blue = map;
        red[0] = uint16_t(qRed(p.ink) * 257);
        green[0] = uint16_t(qGreen(p.ink) * 257);
        blue[0] = uint16_t(qBlue(p.ink) * 257);
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }

    if (f.tiled) {
        const int tile = 64;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        // Bytes of `tile` pixels, and where pixel x starts in a row (bitonal tiles start on a
        // byte, since they are a multiple of 8 pixels wide).
        const size_t tileBytes = size_t((tile * f.samples * f.bits + 7) / 8);
        const auto at = [&f](int x) { return size_t(x * f.samples * f.bits / 8); };
        std::vector<unsigned char> buffer(tileBytes * size_t(tile));
        for (int ty = 0; ty < p.height; ty += tile) {
            for (int tx = 0; tx < p.width; tx += tile) {
                std::fill(buffer.begin(), buffer.end(), 255);
                for (int y = 0; y < tile && ty + y < p.height; ++y) {
                    const std::vector<unsigned char> row = packRow(p.kind, f, p, 0, ty + y);
                    const size_t n = std::min(tileBytes, row.size() - at(tx));
                    std::memcpy(&buffer[size_t(y) * tileBytes], &row[at(tx)], n);
                }
                if (TIFFWriteTile(tif, buffer.data(), uint32_t(tx), uint32_t(ty), 0, 0) < 0)
                    qFatal("cannot write a tile");
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, f.oneStrip ? p.height : 16);
        for (int plane = 0; plane < (f.planar ? f.samples : 1); ++plane) {
            for (int y = 0; y < p.height; ++y) {
                // libtiff may encode in place: each row is a fresh copy.
                std::vector<unsigned char> bytes = packRow(p.kind, f, p, plane, y);
                if (TIFFWriteScanline(tif, bytes.data(), uint32_t(y), uint16_t(plane)) < 0)
                    qFatal("cannot write a row");
            }
        }
    }
    if (!TIFFWriteDirectory(tif))
        qFatal("cannot write a directory");
}

uint32_t mix(uint32_t x, uint32_t y) {
    uint32_t h = x * 73856093u ^ y * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

} // namespace

QRgb pagePixel(const TiffPage& p, int x, int y) {
    const QRgb ink = qRgba(qRed(p.ink), qGreen(p.ink), qBlue(p.ink), p.inkAlpha);
    const QRgb white = qRgb(255, 255, 255);
    switch (p.content) {
    case TiffContent::Quarter:
        return x < p.width / 2 && y < p.height / 2 ? ink : white;
    case TiffContent::Noise:
        return mix(uint32_t(x), uint32_t(y)) % 8 < 3 ? ink : white;
    case TiffContent::Text: {
        const bool levels =
            formatOf(p.kind).bits > 1 && formatOf(p.kind).photometric != PHOTOMETRIC_PALETTE;
        if (levels && y >= p.height * 2 / 3) {
            const int r = 255 * x / std::max(p.width - 1, 1);
            const int g = 255 * (y - p.height * 2 / 3) / std::max(p.height / 3, 1);
            return qRgb(r, g, 255 - (r + g) / 2);
        }
        // Glyph cells of 18 x 28 pixels (about 11 point at 300 dpi), each a few strokes 3
        // pixels wide picked by its place, every fourth line of cells left blank.
        const int cx = x / 18;
        const int cy = y / 28;
        const int gx = x % 18;
        const int gy = y % 28;
        const uint32_t glyph = mix(uint32_t(cx), uint32_t(cy) + 7919u);
        if (cy % 4 == 3 || (glyph & 15) == 0 || gx >= 15 || gy < 5 || gy >= 25)
            return mix(uint32_t(x), uint32_t(y)) % 211 == 0 ? ink : white; // specks
        const bool stem = (glyph & 16) && gx >= 1 && gx <= 3;
        const bool bar = (glyph & 32) && gy >= 14 && gy <= 16;
        const bool top = (glyph & 64) && gy >= 5 && gy <= 7;
        const bool right = (glyph & 128) && gx >= 11 && gx <= 13;
        const bool dot = (glyph & 256) && gx >= 6 && gx <= 8 && gy >= 19;
        return stem || bar || top || right || dot ? ink : white;
    }
    }
    return white;
}

void writeTiffPages(const QString& path, const QList<TiffPage>& pages) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        qFatal("cannot create %s", qPrintable(path));
    for (int i = 0; i < pages.size(); ++i)
        writePage(tif, pages[i], i, int(pages.size()));
    TIFFClose(tif);
}

void writeTiff(const QString& path, TiffKind kind, int pages, int width, int height, double dpi) {
    TiffPage page;
    page.kind = kind;
    page.width = width;
    page.height = height;
    page.xdpi = page.ydpi = float(dpi);
    writeTiffPages(path, QList<TiffPage>(pages, page));
}

void writeAbsurdTiff(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        qFatal("cannot create %s", qPrintable(path));
    const uint32_t side = 40000;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, side);
    // One tiny strip stands for the whole page.
    const unsigned char nothing[8] = {};
    TIFFWriteRawStrip(tif, 0, const_cast<unsigned char*>(nothing), sizeof nothing);
    TIFFClose(tif);
}

qint64 lastDirectoryOffset(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        qFatal("cannot open %s", qPrintable(path));
    if (!TIFFSetDirectory(tif, tdir_t(TIFFNumberOfDirectories(tif) - 1)))
        qFatal("cannot read %s", qPrintable(path));
    const qint64 offset = qint64(TIFFCurrentDirOffset(tif));
    TIFFClose(tif);
    return offset;
}

void damageImageData(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        qFatal("cannot open %s", qPrintable(path));
    const qint64 offset = qint64(TIFFGetStrileOffset(tif, 0));
    const qint64 length = qint64(TIFFGetStrileByteCount(tif, 0));
    TIFFClose(tif);
    QFile file(path);
    if (length < 3 || !file.open(QIODevice::ReadWrite) || !file.seek(offset + length / 3))
        qFatal("cannot damage %s", qPrintable(path));
    QByteArray middle = file.read(length / 3);
    for (char& c : middle)
        c = char(c ^ 0x5a);
    if (!file.seek(offset + length / 3) || file.write(middle) != middle.size())
        qFatal("cannot damage %s", qPrintable(path));
}

QSize djvuPageSize(const QString& djvu, int page) {
    QProcess djvused;
    djvused.start(QStringLiteral("djvused"),
                  {QStringLiteral("-e"), QStringLiteral("select %1; size").arg(page), djvu});
    if (!djvused.waitForFinished(60000) || djvused.exitCode() != 0)
        return {};
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("width=(\\d+) height=(\\d+)"))
            .match(QString::fromUtf8(djvused.readAllStandardOutput()));
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

namespace {

// Renders with ddjvu into `format` ("pgm" or "ppm") at 80x120; a null image when it cannot.
QImage render(const QString& djvu, int page, const char* format) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("page.") + QLatin1String(format));
    QProcess ddjvu;
    ddjvu.start(QStringLiteral("ddjvu"),
                {QStringLiteral("-format=") + QLatin1String(format),
                 QStringLiteral("-page=%1").arg(page), QStringLiteral("-size=80x120"), djvu, file});
    if (!ddjvu.waitForFinished(60000) || ddjvu.exitCode() != 0)
        return {};
    return QImage(file);
}

QList<QRgb> quarterMeans(const QImage& image) {
    if (image.isNull())
        return {};
    const int w = image.width() / 2;
    const int h = image.height() / 2;
    auto mean = [&](int x0, int y0) {
        qint64 r = 0;
        qint64 g = 0;
        qint64 b = 0;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                const QRgb c = image.pixel(x, y);
                r += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
            }
        }
        const qint64 n = qint64(w) * h;
        return qRgb(int(r / n), int(g / n), int(b / n));
    };
    return {mean(0, 0), mean(w, 0), mean(0, h), mean(w, h)};
}

} // namespace

Quarters renderDjvuPage(const QString& djvu, int page) {
    const QList<QRgb> q = quarterMeans(render(djvu, page, "pgm"));
    if (q.isEmpty())
        return {};
    return {qGray(q[0]), qGray(q[1]), qGray(q[2]), qGray(q[3])};
}

QList<QRgb> renderDjvuColours(const QString& djvu, int page) {
    return quarterMeans(render(djvu, page, "ppm"));
}

void writeOldStyleJpegTiff(const QString& path) {
    QImage image(160, 240, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 80; ++x)
            image.setPixel(x, y, qRgb(220, 0, 0));
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 95))
        qFatal("no JPEG writer");
    // Little-endian: header, the JPEG stream, then the directory and its out-of-line values.
    QByteArray file("II*\0", 4);
    auto u16 = [](QByteArray& b, quint16 v) { b.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&](QByteArray& b, quint32 v) {
        u16(b, quint16(v & 0xffff));
        u16(b, quint16(v >> 16));
    };
    const quint32 jpegAt = 8;
    const quint32 jpegEnd = jpegAt + quint32(jpeg.size()) + (jpeg.size() & 1);
    const quint32 bitsAt = jpegEnd;   // 3 shorts
    const quint32 resAt = bitsAt + 6; // one rational
    const quint32 ifdAt = resAt + 8;
    u32(file, ifdAt);
    file += jpeg;
    if (jpeg.size() & 1)
        file.append('\0');
    u16(file, 8);
    u16(file, 8);
    u16(file, 8);
    u32(file, 100);
    u32(file, 1);
    struct Entry {
        quint16 tag;
        quint16 type; // 3 SHORT, 4 LONG, 5 RATIONAL
        quint32 count;
        quint32 value;
    };
    const QList<Entry> entries = {
        {256, 4, 1, 160},
        {257, 4, 1, 240},
        {258, 3, 3, bitsAt},
        {259, 3, 1, 6},
        {262, 3, 1, 6},
        {273, 4, 1, jpegAt},
        {277, 3, 1, 3},
        {278, 4, 1, 240},
        {279, 4, 1, quint32(jpeg.size())},
        {282, 5, 1, resAt},
        {283, 5, 1, resAt},
        {296, 3, 1, 2},
        {512, 3, 1, 1},
        {513, 4, 1, jpegAt},
        {514, 4, 1, quint32(jpeg.size())},
        {530, 3, 2, 2 | (2u << 16)},
    };
    u16(file, quint16(entries.size()));
    for (const Entry& e : entries) {
        u16(file, e.tag);
        u16(file, e.type);
        u32(file, e.count);
        if (e.type == 3 && e.count == 1) {
            u16(file, quint16(e.value));
            u16(file, 0);
        } else {
            u32(file, e.value);
        }
    }
    u32(file, 0);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace vormelle::test
