// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/compoundpage.h"

#include "tests/engine/textpage.h"

#include <QFont>
#include <QPainter>
#include <QRandomGenerator>
#include <QtGlobal>

#include <tiffio.h>

#include <cmath>
#include <vector>

namespace vormelle::test {

namespace {

int clampLevel(int v) {
    return qBound(0, v, 255);
}

void addNoise(QImage& image, int noise, int seed) {
    if (noise <= 0)
        return;
    QRandomGenerator random(static_cast<quint32>(seed) * 7919U + 17U);
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < image.width() * 3; ++x)
            row[x] = static_cast<uchar>(
                clampLevel(row[x] + static_cast<int>(random.bounded(2 * noise + 1)) - noise));
    }
}

// A scanner's optics: each pixel the mean of its 3x3 neighbourhood.
void blur3(QImage& image) {
    const QImage source = image.copy();
    const int w = image.width();
    const int h = image.height();
    for (int y = 0; y < h; ++y) {
        uchar* out = image.scanLine(y);
        const uchar* rows[3] = {source.constScanLine(qMax(0, y - 1)), source.constScanLine(y),
                                source.constScanLine(qMin(h - 1, y + 1))};
        for (int x = 0; x < w; ++x) {
            const int xs[3] = {qMax(0, x - 1), x, qMin(w - 1, x + 1)};
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (const uchar* r : rows)
                    for (int xx : xs)
                        sum += r[3 * xx + c];
                out[3 * x + c] = static_cast<uchar>((sum + 4) / 9);
            }
        }
    }
}

} // namespace

void paintPhoto(QImage& image, const QRect& area, int seed, bool texture) {
    QRandomGenerator random(static_cast<quint32>(seed) * 104729U + 3U);
    const double fx = 2.0 + random.bounded(3.0);
    const double fy = 1.5 + random.bounded(3.0);
    const double phase = random.bounded(6.28);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uchar* row = image.scanLine(y);
        const double v = static_cast<double>(y - area.top()) / area.height();
        for (int x = area.left(); x <= area.right(); ++x) {
            const double u = static_cast<double>(x - area.left()) / area.width();
            // Sky, hills and light: smooth fields in three channels.
            const double s1 = std::sin(fx * u * 3.14 + phase) * std::cos(fy * v * 3.14);
            const double s2 = std::cos((u + v) * 5.0 + phase);
            // Texture of foliage or fabric: fine, irregular detail.
            const double t = !texture ? 0.0
                                      : std::sin(u * 420.0 + std::sin(v * 90.0) * 3.0) *
                                            std::sin(v * 380.0 + std::cos(u * 70.0) * 2.0);
            const int grain = texture ? static_cast<int>(random.bounded(15)) - 7 : 0;
            row[3 * x] = static_cast<uchar>(
                clampLevel(static_cast<int>(120 + 70 * s1 + 30 * v * 255 / 255 + 28 * t) + grain));
            row[3 * x + 1] =
                static_cast<uchar>(clampLevel(static_cast<int>(110 + 60 * s2 + 30 * t) + grain));
            row[3 * x + 2] = static_cast<uchar>(
                clampLevel(static_cast<int>(140 - 60 * s1 + 50 * (1 - v) + 20 * t) + grain));
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int k = 0; k < 4; ++k) {
        const int r = area.width() / 10 + static_cast<int>(random.bounded(area.width() / 8 + 1));
        const QPoint c(area.left() + static_cast<int>(random.bounded(area.width())),
                       area.top() + static_cast<int>(random.bounded(area.height())));
        QRadialGradient gradient(c, r);
        gradient.setColorAt(0, QColor(230, 200, 120, 200));
        gradient.setColorAt(1, QColor(60, 90, 40, 0));
        painter.setClipRect(area);
        painter.setBrush(gradient);
        painter.drawEllipse(c, r, r);
    }
}

PaintedPage paintPage(const PageRecipe& recipe) {
    PaintedPage page;
    page.image = QImage(recipe.size, QImage::Format_RGB888);
    page.image.fill(recipe.paper);
    for (const QRect& photo : recipe.photos) {
        paintPhoto(page.image, photo, recipe.seed + static_cast<int>(page.photos.size()),
                   recipe.photoTexture);
        page.photos << photo;
    }
    QPainter painter(&page.image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const QRect& chart : recipe.charts) {
        const QColor inks[] = {QColor(200, 40, 40), QColor(30, 80, 190), QColor(40, 150, 60),
                               QColor(230, 160, 20)};
        painter.setPen(QPen(QColor(30, 30, 30), 3));
        painter.drawLine(chart.bottomLeft(), chart.bottomRight());
        painter.drawLine(chart.bottomLeft(), chart.topLeft());
        painter.setPen(QPen(QColor(120, 120, 120), 1));
        for (int k = 1; k < 5; ++k) {
            const int y = chart.bottom() - k * chart.height() / 5;
            painter.drawLine(chart.left(), y, chart.right(), y);
        }
        const int bars = 8;
        const int step = chart.width() / bars;
        for (int k = 0; k < bars; ++k) {
            const int h = chart.height() * (3 + (k * 5 + recipe.seed) % 7) / 10;
            painter.fillRect(
                QRect(chart.left() + k * step + step / 4, chart.bottom() - h, step / 2, h),
                inks[k % 4]);
        }
    }
    for (const TextBlock& block : recipe.text) {
        if (block.band.isValid())
            painter.fillRect(block.area.adjusted(-30, -20, 30, 20), block.band);
        QFont font(block.family);
        font.setPixelSize(block.pixelSize);
        font.setStyleStrategy(QFont::PreferAntialias);
        painter.setFont(font);
        painter.setPen(block.ink);
        painter.drawText(block.area, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                         block.lines.join(QLatin1Char('\n')));
        page.words << wordsOf(block.lines);
    }
    painter.end();
    page.flats = recipe.flats;
    if (recipe.blur)
        blur3(page.image);
    addNoise(page.image, recipe.noise, recipe.seed);
    return page;
}

void writePageTiff(const QString& path, const QList<QImage>& pages, bool grey, int jpegQuality,
                   int dpi) {
    TIFF* tiff = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tiff)
        qFatal("cannot write %s", qPrintable(path));
    for (const QImage& source : pages) {
        const QImage image = grey ? source.convertToFormat(QImage::Format_Grayscale8)
                                  : source.convertToFormat(QImage::Format_RGB888);
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width());
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height());
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, grey ? 1 : 3);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
        if (jpegQuality > 0) {
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                         grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_YCBCR);
            TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, jpegQuality);
            if (!grey)
                TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        } else {
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                         grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        }
        std::vector<uchar> row(static_cast<size_t>(image.bytesPerLine()));
        for (int y = 0; y < image.height(); ++y) {
            std::copy_n(image.constScanLine(y), row.size(), row.begin());
            if (TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) < 0)
                qFatal("cannot write row %d of %s", y, qPrintable(path));
        }
        if (!TIFFWriteDirectory(tiff))
            qFatal("cannot finish a page of %s", qPrintable(path));
    }
    TIFFClose(tiff);
}

PageRecipe magazinePage() {
    PageRecipe r;
    r.paper = QColor(252, 250, 244);
    r.photos << QRect(160, 700, 2160, 1300);
    r.text << TextBlock{
        QRect(160, 160, 2160, 120),       knownLines(11, 1, 5), QColor(150, 20, 30), {}, 90,
        QStringLiteral("Liberation Sans")};
    r.text << TextBlock{
        QRect(190, 2040, 2100, 60),       knownLines(12, 1, 9), Qt::white, QColor(20, 60, 140), 40,
        QStringLiteral("Liberation Sans")};
    r.text << TextBlock{QRect(160, 380, 2160, 280), knownLines(13, 5, 12), QColor(20, 20, 20), {}};
    r.text << TextBlock{
        QRect(160, 2180, 1040, 1150), knownLines(14, 24, 6), QColor(20, 20, 20), {}};
    r.text << TextBlock{
        QRect(1280, 2180, 1040, 1150), knownLines(15, 24, 6), QColor(30, 50, 130), {}};
    r.flats << QRect(1210, 2300, 50, 900);
    return r;
}

PageRecipe bookPlatePage() {
    PageRecipe r;
    r.paper = QColor(236, 232, 222);
    r.noise = 6;
    r.photos << QRect(400, 1300, 1680, 1200);
    r.text << TextBlock{
        QRect(240, 240, 2000, 1000), knownLines(21, 20, 10), QColor(25, 25, 25), {}};
    r.text << TextBlock{
        QRect(240, 2600, 2000, 700), knownLines(22, 14, 10), QColor(25, 25, 25), {}};
    r.flats << QRect(240, 3330, 2000, 120);
    return r;
}

PageRecipe greyTextPage() {
    PageRecipe r;
    r.paper = QColor(240, 240, 240);
    r.text << TextBlock{
        QRect(240, 240, 2000, 3000), knownLines(31, 60, 10), QColor(20, 20, 20), {}};
    r.flats << QRect(240, 3280, 2000, 160);
    return r;
}

PageRecipe chartPage() {
    PageRecipe r;
    r.paper = QColor(255, 252, 235);
    r.charts << QRect(300, 1400, 1880, 1100);
    r.text << TextBlock{
        QRect(240, 240, 2000, 1000), knownLines(41, 20, 10), QColor(170, 20, 20), {}};
    r.text << TextBlock{
        QRect(240, 2650, 2000, 700), knownLines(42, 14, 10), QColor(20, 40, 160), {}};
    r.flats << QRect(240, 3380, 2000, 100);
    return r;
}

PageRecipe photoPage() {
    PageRecipe r;
    r.photos << QRect(0, 0, 2480, 3508);
    r.blur = true;
    return r;
}

} // namespace vormelle::test
