// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/segment.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <cmath>

using namespace vormelle;

namespace {

// Segments an RGB page; the mask comes back as an image (black: in the mask).
codec::Segmentation segment(const QImage& page, QImage* mask = nullptr) {
    const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
    codec::Segmenter segmenter(rgb.width(), rgb.height(), 3);
    if (!segmenter.valid())
        return {};
    for (int y = 0; y < rgb.height(); ++y)
        segmenter.setRow(y, rgb.constScanLine(y));
    codec::Segmentation s = segmenter.segment();
    if (mask && !s.maskPbm.isEmpty())
        *mask = QImage::fromData(s.maskPbm, "PBM").convertToFormat(QImage::Format_Grayscale8);
    return s;
}

void drawText(QImage& page, const QRect& area, QColor ink) {
    QPainter p(&page);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPixelSize(40);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(area, Qt::TextWordWrap,
               QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank "
                              "while seven grey owls watch from the old oak tree."));
}

// Smooth fields with fine texture, as a photograph.
void drawPhoto(QImage& page, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const double u = double(x) / 97.0, v = double(y) / 83.0;
            const int t = int(25 * std::sin(x * 0.7) * std::sin(y * 0.9));
            page.setPixel(x, y,
                          qRgb(qBound(0, int(130 + 60 * std::sin(u)) + t, 255),
                               qBound(0, int(120 + 50 * std::cos(v)) + t, 255),
                               qBound(0, int(140 - 40 * std::sin(u + v)) + t, 255)));
        }
}

} // namespace

class SegmentTest : public QObject {
    Q_OBJECT
private slots:
    void profiles_data();
    void profiles();
    void invertedTextInTheMask();
    void thinLightLettersInTheMask_data();
    void thinLightLettersInTheMask();
    void rulesInTheMask();
    void smallAndEmptyPages();
    void sameMaskEveryTime();
};

void SegmentTest::profiles_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<codec::PageProfile>("profile");
    QTest::newRow("black text on white") << "text" << codec::PageProfile::Text;
    QTest::newRow("blue text on tinted paper") << "blue" << codec::PageProfile::Text;
    QTest::newRow("yellow ink") << "yellow" << codec::PageProfile::Text;
    QTest::newRow("text beside a photograph") << "compound" << codec::PageProfile::Compound;
    QTest::newRow("text over a band of colour") << "band" << codec::PageProfile::Compound;
    QTest::newRow("photograph alone") << "photo" << codec::PageProfile::Photo;
    QTest::newRow("bare paper") << "paper" << codec::PageProfile::Photo;
}

void SegmentTest::profiles() {
    QFETCH(QString, content);
    QFETCH(codec::PageProfile, profile);
    QImage page(1200, 1000, QImage::Format_RGB888);
    page.fill(content == QLatin1String("blue") ? QColor(240, 232, 210) : QColor(Qt::white));
    const QRect text(60, 60, 1080, 300);
    if (content == QLatin1String("text") || content == QLatin1String("compound") ||
        content == QLatin1String("band"))
        drawText(page, text, Qt::black);
    const QRect band(60, 600, 1080, 160);
    if (content == QLatin1String("band")) {
        QPainter(&page).fillRect(band, QColor(190, 40, 40));
        drawText(page, band.adjusted(20, 20, -20, -20), Qt::white);
    }
    if (content == QLatin1String("blue"))
        drawText(page, text, QColor(20, 40, 170));
    if (content == QLatin1String("yellow"))
        drawText(page, text, QColor(240, 200, 0));
    if (content == QLatin1String("compound"))
        drawPhoto(page, QRect(100, 420, 900, 540));
    if (content == QLatin1String("photo"))
        drawPhoto(page, page.rect());
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QCOMPARE(s.error, codec::Error::None);
    QCOMPARE(s.profile, profile);
    QCOMPARE(s.maskPbm.isEmpty(), profile == codec::PageProfile::Photo);
    if (profile == codec::PageProfile::Photo)
        return;
    QCOMPARE(mask.size(), page.size());
    // The mask holds the ink and nothing below the text (and the caption on the band).
    qint64 inText = 0, below = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(mask.pixel(x, y)) < 128)
                (text.contains(x, y) || (content == QLatin1String("band") && band.contains(x, y))
                     ? inText
                     : below) += 1;
    QVERIFY2(inText > 5000, qPrintable(QString::number(inText)));
    QVERIFY2(below < inText / 20, qPrintable(QStringLiteral("%1 %2").arg(below).arg(inText)));
}

// White letters on a dark band: the letters are in the mask, the band is not.
void SegmentTest::invertedTextInTheMask() {
    QImage page(1200, 500, QImage::Format_RGB888);
    page.fill(Qt::white);
    const QRect band(40, 150, 1120, 200);
    QPainter(&page).fillRect(band, QColor(20, 60, 140));
    drawText(page, band.adjusted(20, 20, -20, -20), Qt::white);
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QVERIFY(!s.maskPbm.isEmpty());
    qint64 letters = 0, lettersIn = 0, bandPixels = 0, bandIn = 0;
    for (int y = band.top() + 2; y < band.bottom() - 2; ++y)
        for (int x = band.left() + 2; x < band.right() - 2; ++x) {
            const bool in = qGray(mask.pixel(x, y)) < 128;
            if (qGray(page.pixel(x, y)) > 220) {
                ++letters;
                lettersIn += in;
            } else if (qGray(page.pixel(x, y)) < 80) {
                ++bandPixels;
                bandIn += in;
            }
        }
    QVERIFY(letters > 3000);
    QVERIFY2(lettersIn > letters * 8 / 10,
             qPrintable(QStringLiteral("%1 of %2").arg(lettersIn).arg(letters)));
    QVERIFY2(bandIn < bandPixels / 10,
             qPrintable(QStringLiteral("%1 of %2").arg(bandIn).arg(bandPixels)));
}

void SegmentTest::thinLightLettersInTheMask_data() {
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("sans, 9 points") << QStringLiteral("Liberation Sans") << 38;
    QTest::newRow("sans bold, 24 points") << QStringLiteral("Liberation Sans") << 100;
    QTest::newRow("serif, 14 points") << QStringLiteral("Liberation Serif") << 60;
}

// Light letters as solid as a bar ("l", "I", the stem of "i", "|") on a band are letters, not
// paper left between two dark areas.
void SegmentTest::thinLightLettersInTheMask() {
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QImage page(1400, 500, QImage::Format_RGB888);
    page.fill(QColor(250, 246, 236));
    const QRect band(40, 150, 1320, 200);
    const QString glyphs = QStringLiteral("lIi|l!Il");
    QList<QRect> boxes;
    {
        QPainter p(&page);
        p.fillRect(band, QColor(20, 60, 140));
        p.setRenderHint(QPainter::TextAntialiasing);
        QFont font(family);
        font.setPixelSize(pixelSize);
        font.setBold(pixelSize >= 100);
        p.setFont(font);
        p.setPen(Qt::white);
        for (int i = 0; i < glyphs.size(); ++i) {
            const QRect box(band.left() + 60 + i * 150, band.top() + 20, 100, band.height() - 40);
            p.drawText(box, Qt::AlignCenter, glyphs.mid(i, 1));
            boxes << box;
        }
    }
    drawText(page, QRect(40, 370, 1320, 120), Qt::black);
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QVERIFY(!s.maskPbm.isEmpty());
    for (int i = 0; i < boxes.size(); ++i) {
        qint64 letter = 0, in = 0;
        for (int y = boxes[i].top(); y <= boxes[i].bottom(); ++y)
            for (int x = boxes[i].left(); x <= boxes[i].right(); ++x)
                if (qGray(page.pixel(x, y)) > 200) {
                    ++letter;
                    in += qGray(mask.pixel(x, y)) < 128;
                }
        QVERIFY2(letter > 30 && in > letter * 8 / 10,
                 qPrintable(QStringLiteral("\"%1\": %2 of %3").arg(glyphs[i]).arg(in).arg(letter)));
    }
}

// Thin rules and table lines, one pixel wide included, are line art for the mask.
void SegmentTest::rulesInTheMask() {
    QImage page(1000, 800, QImage::Format_RGB888);
    page.fill(QColor(250, 248, 240));
    {
        QPainter p(&page);
        for (int k = 0; k < 6; ++k) {
            p.setPen(QPen(QColor(40, 40, 40), 1 + k % 2));
            p.drawLine(50, 100 + k * 100, 950, 100 + k * 100);
            p.drawLine(50 + k * 180, 100, 50 + k * 180, 600);
        }
    }
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QVERIFY(!s.maskPbm.isEmpty());
    for (int k = 0; k < 6; ++k) {
        int found = 0;
        for (int x = 60; x < 940; ++x)
            found += qGray(mask.pixel(x, 100 + k * 100)) < 128;
        QVERIFY2(found > 800, qPrintable(QStringLiteral("rule %1: %2").arg(k).arg(found)));
    }
    // The table's columns, each row of them (the page's rows are worked on a few hundred at a
    // time; a column crosses where they meet).
    for (int k = 0; k < 6; ++k) {
        int found = 0;
        for (int y = 110; y < 590; ++y) {
            bool in = false;
            for (int x = 48 + k * 180; x <= 52 + k * 180; ++x)
                in = in || qGray(mask.pixel(x, y)) < 128;
            found += in;
        }
        QVERIFY2(found == 480, qPrintable(QStringLiteral("column %1: %2").arg(k).arg(found)));
    }
}

// Pages too small to segment are photographs; a page of no pixels cannot be held.
void SegmentTest::smallAndEmptyPages() {
    QImage small(40, 40, QImage::Format_RGB888);
    small.fill(Qt::white);
    drawText(small, small.rect(), Qt::black);
    const codec::Segmentation s = segment(small);
    QCOMPARE(s.error, codec::Error::None);
    QCOMPARE(s.profile, codec::PageProfile::Photo);
    QVERIFY(s.maskPbm.isEmpty());
    codec::Segmenter none(0, 10, 1);
    QVERIFY(!none.valid());
    QCOMPARE(none.segment().error, codec::Error::OutOfMemory);
}

void SegmentTest::sameMaskEveryTime() {
    QImage page(1000, 700, QImage::Format_RGB888);
    page.fill(Qt::white);
    drawText(page, QRect(40, 40, 900, 300), QColor(150, 20, 20));
    drawPhoto(page, QRect(40, 380, 600, 300));
    const QByteArray first = segment(page).maskPbm;
    QVERIFY(!first.isEmpty());
    QCOMPARE(segment(page).maskPbm, first);
}

QTEST_MAIN(SegmentTest)
#include "tst_segment.moc"
