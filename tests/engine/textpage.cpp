// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/textpage.h"

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>

#include <tiffio.h>

#include <vector>

namespace vormelle::test {

namespace {

// Common English words; a dictionary word is what a scanned book is made of.
const char* const kVocabulary[] = {
    "about",    "above",      "across",    "after",    "again",   "against", "almost",    "along",
    "already",  "always",     "among",     "animal",   "answer",  "around",  "because",   "become",
    "before",   "began",      "behind",    "below",    "better",  "between", "black",     "body",
    "books",    "bring",      "brought",   "build",    "called",  "carry",   "cause",     "change",
    "children", "church",     "city",      "close",    "color",   "common",  "country",   "course",
    "cover",    "cross",      "during",    "early",    "earth",   "eight",   "enough",    "even",
    "every",    "example",    "family",    "father",   "field",   "figure",  "finally",   "follow",
    "food",     "force",      "forest",    "found",    "friend",  "front",   "garden",    "given",
    "going",    "government", "great",     "green",    "ground",  "group",   "grow",      "half",
    "happened", "heard",      "heavy",     "help",     "high",    "horse",   "hours",     "house",
    "hundred",  "idea",       "important", "inside",   "island",  "just",    "keep",      "kind",
    "known",    "land",       "language",  "large",    "later",   "learn",   "leave",     "letter",
    "light",    "listen",     "little",    "living",   "long",    "machine", "made",      "many",
    "measure",  "might",      "miles",     "minute",   "money",   "months",  "morning",   "mother",
    "mountain", "music",      "near",      "never",    "night",   "north",   "nothing",   "notice",
    "number",   "ocean",      "office",    "often",    "open",    "order",   "other",     "paper",
    "people",   "perhaps",    "picture",   "piece",    "place",   "plain",   "plants",    "point",
    "power",    "present",    "problem",   "question", "quickly", "quite",   "rather",    "reached",
    "ready",    "really",     "record",    "remember", "river",   "round",   "school",    "science",
    "second",   "short",      "should",    "simple",   "since",   "small",   "something", "sound",
    "south",    "special",    "spring",    "stand",    "start",   "state",   "still",     "stood",
    "story",    "street",     "strong",    "study",    "summer",  "surface", "table",     "taken",
    "their",    "themselves", "thought",   "three",    "through", "today",   "together",  "toward",
    "travel",   "under",      "until",     "usually",  "valley",  "voice",   "walked",    "water",
    "weather",  "whole",      "window",    "winter",   "without", "woman",   "words",     "world",
    "written",  "years",      "young",
};

// The ink of the pixels in `area`: the smallest rectangle around its dark pixels.
QRect inkIn(const QImage& image, const QRect& area) {
    const QRect a = area.intersected(image.rect());
    int left = a.right() + 1, right = a.left() - 1, top = a.bottom() + 1, bottom = a.top() - 1;
    for (int y = a.top(); y <= a.bottom(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = a.left(); x <= a.right(); ++x) {
            if (row[x] < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return left > right ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QString unescaped(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

QString bare(const QString& word) {
    QString out;
    for (const QChar c : word) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

} // namespace

QStringList TextPage::text() const {
    QStringList out;
    for (const InkWord& w : words)
        out.append(w.text);
    return out;
}

TextPage paintTextPage(const TextPageLayout& layout) {
    TextPage page;
    page.image = QImage(layout.width, layout.height, QImage::Format_Grayscale8);
    page.image.fill(255);
    QFont font(layout.family);
    font.setPixelSize(layout.pixelSize);
    if (!layout.antialiased)
        font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(font);
    const int margin = layout.pixelSize * 2;
    const int lineStep = metrics.lineSpacing() * 3 / 2;
    QPainter painter(&page.image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setRenderHint(QPainter::TextAntialiasing, layout.antialiased);
    int baseline = margin + metrics.ascent();
    const int space = metrics.horizontalAdvance(QLatin1Char(' '));
    struct Placed {
        QString text;
        QRect cell;
    };
    QList<Placed> placed;
    for (const QString& line : layout.lines) {
        int x = margin;
        for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const int advance = metrics.horizontalAdvance(word);
            // A word that would run off the paper goes onto the next line, as in a book.
            if (x > margin && x + advance > layout.width - margin) {
                x = margin;
                baseline += lineStep;
            }
            if (baseline + metrics.descent() > layout.height - margin)
                break;
            painter.drawText(x, baseline, word);
            // The word's cell: its advance, from the ascent to the descent, a little wider for
            // glyphs that reach past their advance.
            placed.append({word, QRect(x - 2, baseline - metrics.ascent(), advance + 4,
                                       metrics.ascent() + metrics.descent())});
            x += advance + space;
        }
        baseline += lineStep;
    }
    painter.end();
    for (const Placed& p : std::as_const(placed)) {
        const QRect ink = inkIn(page.image, p.cell);
        if (!ink.isNull())
            page.words.append({p.text, ink});
    }
    return page;
}

void writeTextTiff(const QString& path, const QList<TextPage>& pages, bool bitonal, int dpi) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        qFatal("cannot write %s", qPrintable(path));
    for (int n = 0; n < pages.size(); ++n) {
        const QImage& image = pages[n].image;
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width());
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height());
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (pages.size() > 1) {
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_PAGENUMBER, n, int(pages.size()));
        }
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitonal ? 1 : 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     bitonal ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, bitonal ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
        std::vector<uchar> row(size_t(bitonal ? (image.width() + 7) / 8 : image.width()));
        for (int y = 0; y < image.height(); ++y) {
            const uchar* from = image.constScanLine(y);
            if (bitonal) {
                std::fill(row.begin(), row.end(), 0);
                for (int x = 0; x < image.width(); ++x) {
                    if (from[x] < 128)
                        row[size_t(x / 8)] |= uchar(0x80 >> (x % 8));
                }
            } else {
                std::copy_n(from, image.width(), row.begin());
            }
            if (TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) < 0)
                qFatal("cannot write a row");
        }
        if (!TIFFWriteDirectory(tif))
            qFatal("cannot write a directory");
    }
    TIFFClose(tif);
}

QStringList knownLines(int seed, int count, int wordsPerLine) {
    const int vocabulary = int(sizeof(kVocabulary) / sizeof(kVocabulary[0]));
    quint32 state = quint32(seed) * 2654435761u + 12345u;
    QStringList lines;
    for (int l = 0; l < count; ++l) {
        QStringList words;
        for (int w = 0; w < wordsPerLine; ++w) {
            state = state * 1664525u + 1013904223u;
            words.append(QString::fromLatin1(kVocabulary[(state >> 8) % quint32(vocabulary)]));
        }
        lines.append(words.join(QLatin1Char(' ')));
    }
    return lines;
}

QStringList wordsOf(const QStringList& lines) {
    QStringList words;
    for (const QString& line : lines)
        words += line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words;
}

QList<HiddenWord> hiddenWords(const QString& djvu, int page) {
    QProcess djvused;
    djvused.start(QStringLiteral("djvused"),
                  {QStringLiteral("-u"), djvu, QStringLiteral("-e"),
                   QStringLiteral("select %1; size; print-txt").arg(page)});
    if (!djvused.waitForFinished(60000) || djvused.exitCode() != 0)
        return {};
    const QString out = QString::fromUtf8(djvused.readAllStandardOutput());
    static const QRegularExpression size(QStringLiteral("height=(\\d+)"));
    const int height = size.match(out).captured(1).toInt();
    static const QRegularExpression word(
        QStringLiteral("\\(word (\\d+) (\\d+) (\\d+) (\\d+) \"((?:[^\"\\\\]|\\\\.)*)\"\\)"));
    QList<HiddenWord> words;
    for (auto it = word.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        const int x0 = m.captured(1).toInt(), y0 = m.captured(2).toInt();
        const int x1 = m.captured(3).toInt(), y1 = m.captured(4).toInt();
        words.append({unescaped(m.captured(5)),
                      QRect(QPoint(x0, height - y1), QPoint(x1 - 1, height - y0 - 1))});
    }
    return words;
}

double wordRecall(const QStringList& known, const QStringList& found) {
    if (known.isEmpty())
        return 1;
    QHash<QString, int> left;
    for (const QString& f : found)
        ++left[bare(f)];
    int hits = 0;
    for (const QString& k : known) {
        int& n = left[bare(k)];
        if (n > 0) {
            --n;
            ++hits;
        }
    }
    return double(hits) / double(known.size());
}

} // namespace vormelle::test
