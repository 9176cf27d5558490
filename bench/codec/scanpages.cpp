// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/codec/scanpages.h"

#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>
#include <random>
#include <tiffio.h>
#include <vector>

namespace vormelle::bench {

namespace {

// Words of ordinary prose; sentences are made of them with capitals and punctuation, so that
// commas, full stops and capitals are on the page as in a book.
const char* const kWords[] = {
    "about",    "above",   "after",   "again",   "against", "along",   "always",  "among",
    "animal",   "answer",  "around",  "because", "before",  "behind",  "below",   "better",
    "between",  "black",   "body",    "books",   "bring",   "called",  "carry",   "change",
    "children", "city",    "close",   "common",  "country", "course",  "cross",   "during",
    "early",    "earth",   "eight",   "enough",  "every",   "example", "family",  "father",
    "field",    "figure",  "follow",  "forest",  "found",   "friend",  "garden",  "given",
    "great",    "green",   "ground",  "group",   "half",    "heard",   "heavy",   "high",
    "horse",    "house",   "hundred", "idea",    "island",  "just",    "keep",    "kind",
    "known",    "land",    "large",   "later",   "learn",   "letter",  "light",   "little",
    "long",     "machine", "many",    "might",   "miles",   "minute",  "money",   "morning",
    "mother",   "music",   "near",    "never",   "night",   "north",   "nothing", "number",
    "often",    "open",    "order",   "other",   "paper",   "people",  "picture", "piece",
    "place",    "plain",   "point",   "power",   "problem", "quite",   "rather",  "ready",
    "river",    "round",   "school",  "second",  "short",   "simple",  "small",   "sound",
    "south",    "special", "stand",   "state",   "still",   "story",   "street",  "strong",
    "study",    "summer",  "table",   "their",   "three",   "through", "today",   "toward",
    "under",    "until",   "valley",  "voice",   "water",   "weather", "whole",   "window",
    "winter",   "without", "woman",   "words",   "world",   "written", "years",   "young",
};

int pixelsOf(double points, int dpi) {
    return int(std::lround(points * dpi / 72.0));
}

QImage blankGrey(int dpi) {
    // A4.
    QImage grey(int(std::lround(8.27 * dpi)), int(std::lround(11.69 * dpi)),
                QImage::Format_Grayscale8);
    grey.fill(255);
    return grey;
}

// Paints `words` as running text from the top margin down and returns those that fit.
QStringList paintWords(QImage& grey, int dpi, const QString& family, double points,
                       const QStringList& words, double skewDegrees, double wordGap = 1) {
    QFont font(family);
    font.setPixelSize(pixelsOf(points, dpi));
    font.setHintingPreference(QFont::PreferNoHinting);
    const QFontMetricsF metrics(font);
    QPainter painter(&grey);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::black);
    // A sheet never lies square on the glass.
    painter.translate(grey.width() / 2.0, grey.height() / 2.0);
    painter.rotate(skewDegrees);
    painter.translate(-grey.width() / 2.0, -grey.height() / 2.0);
    const double margin = dpi * 0.9;
    const double right = grey.width() - margin;
    const double bottom = grey.height() - margin;
    const double lineStep = metrics.lineSpacing() * 1.15;
    const double space = metrics.horizontalAdvance(QLatin1Char(' ')) * wordGap;
    double x = margin, baseline = margin + metrics.ascent();
    QStringList placed;
    for (const QString& word : words) {
        const double advance = metrics.horizontalAdvance(word);
        if (x > margin && x + advance > right) {
            x = margin;
            baseline += lineStep;
        }
        if (baseline + metrics.descent() > bottom)
            break;
        painter.drawText(QPointF(x, baseline), word);
        placed << word;
        x += advance + space;
    }
    return placed;
}

} // namespace

QImage scanned(const QImage& grey, int dpi, quint32 seed, const ScanLook& look) {
    const int w = grey.width(), h = grey.height();
    const double sigma = look.blur * dpi / 300.0;
    const int radius = std::max(1, int(std::ceil(sigma * 3)));
    std::vector<float> kernel(size_t(2 * radius + 1));
    float sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[size_t(i + radius)] = float(std::exp(-i * i / (2 * sigma * sigma)));
    for (float& k : kernel)
        k /= sum;
    // Separable blur: along the rows into `across`, then down the columns while thresholding.
    std::vector<float> across(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const uchar* row = grey.constScanLine(y);
        float* out = &across[size_t(y) * size_t(w)];
        for (int x = 0; x < w; ++x) {
            float v = 0;
            for (int i = -radius; i <= radius; ++i)
                v += kernel[size_t(i + radius)] * row[std::clamp(x + i, 0, w - 1)];
            out[x] = v;
        }
    }
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.f, float(look.noise));
    QImage mono(w, h, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.fill(0);
    mono.setDotsPerMeterX(int(std::lround(dpi / 0.0254)));
    mono.setDotsPerMeterY(int(std::lround(dpi / 0.0254)));
    std::vector<float> column(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        std::fill(column.begin(), column.end(), 0.f);
        for (int i = -radius; i <= radius; ++i) {
            const float k = kernel[size_t(i + radius)];
            const float* from = &across[size_t(std::clamp(y + i, 0, h - 1)) * size_t(w)];
            for (int x = 0; x < w; ++x)
                column[size_t(x)] += k * from[x];
        }
        uchar* out = mono.scanLine(y);
        for (int x = 0; x < w; ++x) {
            if (column[size_t(x)] + noise(random) < float(look.threshold))
                out[x / 8] |= uchar(0x80 >> (x % 8));
        }
    }
    return mono;
}

ScanPage textPage(int dpi, const QString& family, double points, int seed, const ScanLook& look) {
    std::mt19937 random(quint32(seed) * 7919u + 1u);
    const int vocabulary = int(sizeof(kWords) / sizeof(kWords[0]));
    QStringList words;
    bool sentenceStart = true;
    // More than a page holds; what does not fit is left out.
    const int wanted = int(9000 / points * (300.0 / 300.0));
    for (int i = 0; i < wanted; ++i) {
        QString word = QString::fromLatin1(kWords[random() % quint32(vocabulary)]);
        if (sentenceStart)
            word[0] = word[0].toUpper();
        sentenceStart = false;
        const quint32 r = random() % 100;
        if (r < 9) {
            word += QLatin1Char('.');
            sentenceStart = true;
        } else if (r < 16) {
            word += QLatin1Char(',');
        }
        words << word;
    }
    QImage grey = blankGrey(dpi);
    ScanPage page;
    page.text = paintWords(grey, dpi, family, points, words, look.skewDegrees).join(' ');
    page.image = scanned(grey, dpi, quint32(seed) * 31u + 7u, look);
    return page;
}

ScanPage tablePage(int dpi, const QString& family, double points, int seed, const ScanLook& look) {
    std::mt19937 random(quint32(seed) * 104729u + 3u);
    QStringList figures;
    for (int i = 0; i < 2000; ++i)
        figures << QString::number(100000 + random() % 900000);
    QImage grey = blankGrey(dpi);
    ScanPage page;
    // Columns: the gap between figures is three spaces wide.
    page.figures = paintWords(grey, dpi, family, points, figures, look.skewDegrees, 3);
    page.text = page.figures.join(' ');
    page.image = scanned(grey, dpi, quint32(seed) * 31u + 11u, look);
    return page;
}

bool writePbm(const QString& path, const QImage& mono) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray head =
        "P4\n" + QByteArray::number(mono.width()) + ' ' + QByteArray::number(mono.height()) + '\n';
    if (f.write(head) != head.size())
        return false;
    const qint64 bytes = (mono.width() + 7) / 8;
    for (int y = 0; y < mono.height(); ++y) {
        if (f.write(reinterpret_cast<const char*>(mono.constScanLine(y)), bytes) != bytes)
            return false;
    }
    return f.flush();
}

bool writeTiff(const QString& path, const QList<QImage>& pages, int dpi) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    bool ok = true;
    for (int n = 0; n < pages.size() && ok; ++n) {
        const QImage& image = pages[n];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width());
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height());
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 128);
        if (pages.size() > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_PAGENUMBER, n, int(pages.size()));
        }
        for (int y = 0; y < image.height() && ok; ++y) {
            ok = TIFFWriteScanline(tif, const_cast<uchar*>(image.constScanLine(y)), uint32_t(y),
                                   0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

} // namespace vormelle::bench
