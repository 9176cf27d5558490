#include "tests/convert/tiffmaker.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <tiffio.h>

#include <vector>

namespace vormelle::test {

namespace {

bool dark(int x, int y, int width, int height) {
    return x < width / 2 && y < height / 2;
}

void writePage(TIFF* tif, TiffKind kind, int width, int height, double dpi, int page, int pages) {
    int samples = 1;
    int bits = 8;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (pages > 1) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, pages);
    }
    switch (kind) {
    case TiffKind::BitonalG4:
        bits = 1;
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        break;
    case TiffKind::Gray8:
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        break;
    case TiffKind::Gray16:
        bits = 16;
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        break;
    case TiffKind::GrayJpeg:
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        break;
    case TiffKind::RgbJpeg:
        samples = 3;
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        break;
    case TiffKind::RgbDeflate:
        samples = 3;
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        break;
    case TiffKind::RgbTiledJpeg:
        samples = 3;
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        break;
    }
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);

    // One row of pixels in the file's layout.
    auto row = [&](int y) {
        std::vector<unsigned char> bytes(size_t((width * samples * bits + 7) / 8), 0);
        for (int x = 0; x < width; ++x) {
            const bool black = dark(x, y, width, height);
            if (bits == 1) {
                if (black) // min-is-white: a set bit is black
                    bytes[size_t(x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
            } else {
                for (int s = 0; s < samples * bits / 8; ++s)
                    bytes[size_t(x * samples * bits / 8 + s)] = black ? 0 : 255;
            }
        }
        return bytes;
    };

    if (kind == TiffKind::RgbTiledJpeg) {
        const int tile = 64;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        std::vector<unsigned char> buffer(size_t(tile * tile * 3));
        for (int ty = 0; ty < height; ty += tile) {
            for (int tx = 0; tx < width; tx += tile) {
                for (int y = 0; y < tile; ++y) {
                    for (int x = 0; x < tile; ++x) {
                        const bool inside = tx + x < width && ty + y < height;
                        const unsigned char v =
                            inside && dark(tx + x, ty + y, width, height) ? 0 : 255;
                        for (int s = 0; s < 3; ++s)
                            buffer[size_t((y * tile + x) * 3 + s)] = v;
                    }
                }
                if (TIFFWriteTile(tif, buffer.data(), uint32_t(tx), uint32_t(ty), 0, 0) < 0)
                    qFatal("cannot write a tile");
            }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < height; ++y) {
            std::vector<unsigned char> bytes = row(y);
            if (TIFFWriteScanline(tif, bytes.data(), uint32_t(y), 0) < 0)
                qFatal("cannot write a row");
        }
    }
    if (!TIFFWriteDirectory(tif))
        qFatal("cannot write a directory");
}

} // namespace

void writeTiff(const QString& path, TiffKind kind, int pages, int width, int height, double dpi) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        qFatal("cannot create %s", qPrintable(path));
    for (int p = 0; p < pages; ++p)
        writePage(tif, kind, width, height, dpi, p, pages);
    TIFFClose(tif);
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

Quarters renderDjvuPage(const QString& djvu, int page) {
    QTemporaryDir dir;
    const QString pgm = dir.filePath(QStringLiteral("page.pgm"));
    QProcess ddjvu;
    ddjvu.start(QStringLiteral("ddjvu"),
                {QStringLiteral("-format=pgm"), QStringLiteral("-page=%1").arg(page),
                 QStringLiteral("-size=80x120"), djvu, pgm});
    if (!ddjvu.waitForFinished(60000) || ddjvu.exitCode() != 0)
        return {};
    const QImage image(pgm);
    if (image.isNull())
        return {};
    auto mean = [&](int x0, int y0) {
        const int w = image.width() / 2;
        const int h = image.height() / 2;
        qint64 sum = 0;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x)
                sum += qGray(image.pixel(x, y));
        }
        return int(sum / (qint64(w) * h));
    };
    const int w = image.width() / 2;
    const int h = image.height() / 2;
    return {mean(0, 0), mean(w, 0), mean(0, h), mean(w, h)};
}

} // namespace vormelle::test
