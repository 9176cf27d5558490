// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/layoutmaker.h"

#include "tests/engine/djvudecode.h"

#include <QColor>
#include <QFile>
#include <QPoint>
#include <QtEndian>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vormelle::test {

namespace {

// The shown place of stored pixel (c, r) in a stored page of w x h, as the TIFF tag defines it.
QPoint shownPlace(uint16_t orientation, int c, int r, int w, int h) {
    switch (orientation) {
    case 2:
        return {w - 1 - c, r};
    case 3:
        return {w - 1 - c, h - 1 - r};
    case 4:
        return {c, h - 1 - r};
    case 5:
        return {r, c};
    case 6:
        return {h - 1 - r, c};
    case 7:
        return {h - 1 - r, w - 1 - c};
    case 8:
        return {r, w - 1 - c};
    default:
        return {c, r};
    }
}

QSize shownSize(uint16_t orientation, QSize stored) {
    return orientation >= 5 ? stored.transposed() : stored;
}

int channelsOf(const SampleLayout& l) {
    switch (l.photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_CIELAB:
        return 3;
    case PHOTOMETRIC_SEPARATED:
        return 4;
    default:
        return 1;
    }
}

// The samples of one pixel, each scaled to 0..1.
std::vector<double> samplesOf(const SampleLayout& l, QRgb c) {
    const double a = qAlpha(c) / 255.0;
    std::vector<double> s;
    switch (l.photometric) {
    case PHOTOMETRIC_MINISWHITE:
        s = {1 - qRed(c) / 255.0};
        break;
    case PHOTOMETRIC_PALETTE: {
        const qsizetype i = l.palette.indexOf(qRgb(qRed(c), qGreen(c), qBlue(c)));
        if (i < 0)
            qFatal("a colour of the picture is not in the palette");
        s = {double(i) / ((1 << l.bits) - 1)};
        break;
    }
    case PHOTOMETRIC_RGB:
        s = {qRed(c) / 255.0, qGreen(c) / 255.0, qBlue(c) / 255.0};
        break;
    case PHOTOMETRIC_SEPARATED: {
        const double r = qRed(c) / 255.0;
        const double g = qGreen(c) / 255.0;
        const double b = qBlue(c) / 255.0;
        const double top = std::max({r, g, b});
        const double k = 1 - top;
        auto ink = [top](double v) { return top > 0 ? (top - v) / top : 0; };
        s = {ink(r), ink(g), ink(b), k};
        break;
    }
    case PHOTOMETRIC_CIELAB:
        s = {qRed(c) / 255.0, 0, 0}; // neutral: a* and b* zero
        break;
    default:
        s = {qRed(c) / 255.0};
        break;
    }
    const int channels = channelsOf(l);
    for (int i = channels; i < l.samples; ++i) {
        const uint16_t kind = i - channels < l.extra.size() ? l.extra[i - channels] : 0;
        const bool alpha = kind == EXTRASAMPLE_ASSOCALPHA || kind == EXTRASAMPLE_UNASSALPHA;
        if (alpha && kind == EXTRASAMPLE_ASSOCALPHA && l.photometric != PHOTOMETRIC_PALETTE) {
            for (int k = 0; k < channels; ++k)
                s[size_t(k)] *= a;
        }
        s.push_back(alpha ? a : 0);
    }
    return s;
}

void putBits(std::vector<unsigned char>& to, size_t at, uint32_t v, int bits) {
    if (bits == 16) {
        const uint16_t w = uint16_t(v);
        std::memcpy(&to[at / 8], &w, 2);
        return;
    }
    for (int k = bits - 1; k >= 0; --k, ++at) {
        if (v & (1u << k))
            to[at / 8] |= static_cast<unsigned char>(0x80 >> (at % 8));
    }
}

// Row y of one plane (or of every sample, interleaved), columns [x0, x0 + n), packed from the
// first bit.
std::vector<unsigned char> packRow(const SampleLayout& l, const QImage& p, int plane, int y, int x0,
                                   int n) {
    const int perPixel = l.separate ? 1 : l.samples;
    std::vector<unsigned char> row(size_t((n * perPixel * l.bits + 7) / 8), 0);
    size_t bit = 0;
    const uint32_t top = l.bits == 16 ? 65535u : (1u << l.bits) - 1;
    for (int x = x0; x < x0 + n; ++x) {
        const std::vector<double> s =
            x < p.width() ? samplesOf(l, p.pixel(x, y)) : std::vector<double>(size_t(l.samples));
        for (int i = 0; i < l.samples; ++i) {
            if (l.separate && i != plane)
                continue;
            putBits(row, bit, uint32_t(std::lround(s[size_t(i)] * top)), l.bits);
            bit += size_t(l.bits);
        }
    }
    return row;
}

// Sets a SHORT or LONG tag of the first directory of a little-endian classic TIFF.
void patchTag(const QString& path, uint16_t tag, uint32_t value) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        qFatal("cannot patch the TIFF");
    QByteArray bytes = f.readAll();
    const uchar* d = reinterpret_cast<const uchar*>(bytes.constData());
    const uint32_t ifd = qFromLittleEndian<uint32_t>(d + 4);
    const uint16_t entries = qFromLittleEndian<uint16_t>(d + ifd);
    for (uint16_t i = 0; i < entries; ++i) {
        const qsizetype at = qsizetype(ifd) + 2 + 12 * i;
        if (qFromLittleEndian<uint16_t>(d + at) != tag)
            continue;
        uchar* v = reinterpret_cast<uchar*>(bytes.data()) + at + 8;
        if (qFromLittleEndian<uint16_t>(d + at + 2) == TIFF_SHORT)
            qToLittleEndian<uint16_t>(uint16_t(value), v);
        else
            qToLittleEndian<uint32_t>(value, v);
        f.seek(0);
        f.write(bytes);
        return;
    }
    qFatal("no such tag to patch");
}

// The quarters: half see-through, fully see-through (must come out white), and two opaque.
const QList<QRgb> kGreys{qRgba(102, 102, 102, 128), qRgba(0, 0, 0, 0), qRgb(40, 40, 40),
                         qRgb(200, 200, 200)};
const QList<QRgb> kColours{qRgba(200, 30, 30, 128), qRgba(0, 0, 0, 0), qRgb(20, 30, 110),
                           qRgb(30, 160, 60)};

bool hasAlpha(const SampleLayout& l) {
    return l.extra.contains(EXTRASAMPLE_ASSOCALPHA) || l.extra.contains(EXTRASAMPLE_UNASSALPHA);
}

// The mean colour inside each quarter, a few pixels away from its edges (where c44 rings).
QList<QRgb> quarterMeans(const QImage& image) {
    QList<QRgb> means;
    const int w = image.width() / 2;
    const int h = image.height() / 2;
    for (const QPoint corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) {
        qint64 sum[3] = {};
        qint64 n = 0;
        for (int y = corner.y() + 4; y < corner.y() + h - 4; ++y) {
            for (int x = corner.x() + 4; x < corner.x() + w - 4; ++x) {
                const QRgb c = image.pixel(x, y);
                sum[0] += qRed(c);
                sum[1] += qGreen(c);
                sum[2] += qBlue(c);
                ++n;
            }
        }
        means.append(n == 0 ? 0 : qRgb(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n)));
    }
    return means;
}

} // namespace

void writeLayout(const QString& path, const SampleLayout& l, const QImage& picture) {
    const QImage p = picture.convertToFormat(QImage::Format_ARGB32);
    const int width = p.width();
    const int height = p.height();
    const bool odd = l.declaredTileWidth > 0;
    const int tileWidth = odd ? l.declaredTileWidth : l.tile.width();
    const int tilesAcross = l.tile.isEmpty() ? 1 : (width + tileWidth - 1) / tileWidth;
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "wl");
    if (!tif)
        qFatal("cannot write a TIFF");
    // A tile width libtiff refuses to write: the file is written as tiles of 16, as wide as
    // their count needs, and its two widths are set afterwards (1 bit: the same bytes a row).
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, odd ? tilesAcross * 16 : width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, l.dpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, l.dpi);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (!l.extra.isEmpty()) {
        std::vector<uint16_t> extra(l.extra.begin(), l.extra.end());
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data());
    }
    if (l.photometric == PHOTOMETRIC_SEPARATED)
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        const size_t n = size_t(1) << l.bits;
        std::vector<uint16_t> r(n, 0xffff), g(n, 0xffff), b(n, 0xffff);
        for (qsizetype i = 0; i < l.palette.size() && size_t(i) < n; ++i) {
            r[size_t(i)] = uint16_t(qRed(l.palette[i]) * 257);
            g[size_t(i)] = uint16_t(qGreen(l.palette[i]) * 257);
            b[size_t(i)] = uint16_t(qBlue(l.palette[i]) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    const int planes = l.separate ? l.samples : 1;
    if (!l.tile.isEmpty()) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile.width());
        TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile.height());
        const tmsize_t tileBytes = TIFFTileSize(tif);
        const size_t tileRowBytes = size_t(TIFFTileRowSize(tif));
        std::vector<unsigned char> buffer(static_cast<size_t>(tileBytes));
        for (int plane = 0; plane < planes; ++plane) {
            for (int ty = 0; ty < height; ty += l.tile.height()) {
                for (int t = 0; t < tilesAcross; ++t) {
                    std::fill(buffer.begin(), buffer.end(), 0);
                    for (int y = 0; y < l.tile.height() && ty + y < height; ++y) {
                        const std::vector<unsigned char> row =
                            packRow(l, p, plane, ty + y, t * tileWidth, tileWidth);
                        std::memcpy(&buffer[size_t(y) * tileRowBytes], row.data(),
                                    std::min(row.size(), tileRowBytes));
                    }
                    const uint32_t tile = TIFFComputeTile(tif, uint32_t(t * l.tile.width()),
                                                          uint32_t(ty), 0, uint16_t(plane));
                    if (TIFFWriteEncodedTile(tif, tile, buffer.data(), tileBytes) < 0)
                        qFatal("cannot write a tile");
                }
            }
        }
    } else {
        const int rows = l.rowsPerStrip > 0 ? l.rowsPerStrip : height;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
        const uint32_t perPlane = TIFFNumberOfStrips(tif) / uint32_t(planes);
        for (int plane = 0; plane < planes; ++plane) {
            for (uint32_t s = 0; s < perPlane; ++s) {
                std::vector<unsigned char> strip;
                for (int y = int(s) * rows; y < std::min(height, int(s + 1) * rows); ++y) {
                    const std::vector<unsigned char> row = packRow(l, p, plane, y, 0, width);
                    strip.insert(strip.end(), row.begin(), row.end());
                }
                if (TIFFWriteEncodedStrip(tif, s + uint32_t(plane) * perPlane, strip.data(),
                                          tmsize_t(strip.size())) < 0)
                    qFatal("cannot write a strip");
            }
        }
    }
    if (!TIFFWriteDirectory(tif))
        qFatal("cannot write a directory");
    TIFFClose(tif);
    if (odd) {
        patchTag(path, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        patchTag(path, TIFFTAG_TILEWIDTH, uint32_t(tileWidth));
    }
}

QImage shownOverWhite(const QImage& stored, uint16_t orientation) {
    const QImage p = stored.convertToFormat(QImage::Format_ARGB32);
    QImage shown(shownSize(orientation, p.size()), QImage::Format_RGB888);
    for (int r = 0; r < p.height(); ++r) {
        for (int c = 0; c < p.width(); ++c) {
            const QRgb v = p.pixel(c, r);
            const int a = qAlpha(v);
            auto over = [a](int s) { return (s * a + 255 * (255 - a) + 127) / 255; };
            shown.setPixel(shownPlace(orientation, c, r, p.width(), p.height()),
                           qRgb(over(qRed(v)), over(qGreen(v)), over(qBlue(v))));
        }
    }
    return shown;
}

QImage storedFor(const QImage& shown, uint16_t orientation) {
    const QImage s = shown.convertToFormat(QImage::Format_ARGB32);
    const QSize size = shownSize(orientation, s.size()); // the transposition is its own inverse
    QImage stored(size, QImage::Format_ARGB32);
    for (int r = 0; r < size.height(); ++r) {
        for (int c = 0; c < size.width(); ++c)
            stored.setPixel(c, r,
                            s.pixel(shownPlace(orientation, c, r, size.width(), size.height())));
    }
    return stored;
}

void writeTurnedBitonal(const QString& path, const QImage& shown, uint16_t orientation, float dpi) {
    SampleLayout l = bitonal(COMPRESSION_CCITTFAX4);
    l.orientation = orientation;
    l.dpi = dpi;
    writeLayout(path, l, storedFor(shown, orientation));
}

QImage layoutPicture(Picture kind, const SampleLayout& l, QSize size) {
    QImage p(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            QRgb c = 0;
            if (kind == Picture::Noise) {
                uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
                h ^= h >> 13;
                h *= 0x5bd1e995u;
                c = (h >> 15) % 8 < 3 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            } else {
                const int q = (x < size.width() / 2 ? 0 : 1) + (y < size.height() / 2 ? 0 : 2);
                c = (kind == Picture::GreyQuarters ? kGreys : kColours)[q];
                if (!hasAlpha(l))
                    c = qRgb(qRed(c), qGreen(c), qBlue(c));
            }
            p.setPixel(x, y, c);
        }
    }
    return p;
}

// Every 1-bit page exactly; grey and colour pages (lossy wavelets) by their quarters, each
// within a few levels, which tells white from grey and every turn from every other.
QString comparePages(const QImage& decoded, const QImage& expected, bool exact) {
    if (decoded.size() != expected.size())
        return QStringLiteral("size %1 x %2, expected %3 x %4")
            .arg(decoded.width())
            .arg(decoded.height())
            .arg(expected.width())
            .arg(expected.height());
    if (exact) {
        const qint64 wrong = differentPixels(decoded, expected);
        return wrong == 0 ? QString() : QStringLiteral("%1 pixels differ").arg(wrong);
    }
    const QList<QRgb> got = quarterMeans(decoded);
    const QList<QRgb> want = quarterMeans(expected);
    for (int q = 0; q < 4; ++q) {
        const int d = std::max({std::abs(qRed(got[q]) - qRed(want[q])),
                                std::abs(qGreen(got[q]) - qGreen(want[q])),
                                std::abs(qBlue(got[q]) - qBlue(want[q]))});
        if (d > 8)
            return QStringLiteral("quarter %1 is %2, expected %3")
                .arg(q)
                .arg(QColor(got[q]).name(), QColor(want[q]).name());
    }
    return {};
}

SampleLayout layout(uint16_t photometric, int bits, int samples, QList<uint16_t> extra) {
    SampleLayout l;
    l.photometric = photometric;
    l.bits = bits;
    l.samples = samples;
    l.extra = std::move(extra);
    l.compression = COMPRESSION_ADOBE_DEFLATE;
    l.rowsPerStrip = 16;
    if (photometric == PHOTOMETRIC_PALETTE)
        l.palette = {qRgb(200, 30, 30), qRgb(0, 0, 0), qRgb(20, 30, 110), qRgb(30, 160, 60)};
    return l;
}

SampleLayout planes(SampleLayout l) {
    l.separate = true;
    return l;
}

SampleLayout tiles(SampleLayout l, QSize tile) {
    l.tile = tile;
    return l;
}

SampleLayout turned(SampleLayout l, uint16_t orientation) {
    l.orientation = orientation;
    return l;
}

SampleLayout bitonal(uint16_t compression) {
    SampleLayout l = layout(PHOTOMETRIC_MINISWHITE, 1, 1);
    l.compression = compression;
    return l;
}

} // namespace vormelle::test
