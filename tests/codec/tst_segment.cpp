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

// Strongly coloured smooth fields with fine texture, as a saturated photograph: where one
// channel is near 0 the page is as dark as ink on its darkest channel.
void drawSaturatedPhoto(QImage& page, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const double u = double(x) / 211.0, v = double(y) / 173.0;
            const int t = int(30 * std::sin(x * 0.7 + y * 0.2) * std::sin(y * 0.9 - x * 0.3));
            page.setPixel(x, y,
                          qRgb(qBound(0, int(128 + 127 * std::sin(u + 0.5 * v)) + t, 255),
                               qBound(0, int(110 + 110 * std::cos(v - 0.3 * u)) + t, 255),
                               qBound(0, int(150 + 105 * std::sin(u * 0.7 - v)) + t, 255)));
        }
}

// Lines of text filling `area`.
void fillWithText(QImage& page, const QRect& area, QColor ink) {
    for (int y = area.top(); y + 150 <= area.bottom(); y += 160)
        drawText(page, QRect(area.left(), y, area.width(), 150), ink);
}

} // namespace

class SegmentTest : public QObject {
    Q_OBJECT
private slots:
    void profiles_data();
    void profiles();
    void noTextFoundEarlyOnlyOnPhotographs_data();
    void noTextFoundEarlyOnlyOnPhotographs();
    void picturesAtThePageEdgeStayOutOfTheMask_data();
    void picturesAtThePageEdgeStayOutOfTheMask();
    void invertedTextInTheMask();
    void paperBetweenColouredShapesOutOfTheMask_data();
    void paperBetweenColouredShapesOutOfTheMask();
    void thinLightLettersInTheMask_data();
    void thinLightLettersInTheMask();
    void rulesInTheMask();
    void oddSizesKeepEveryRow_data();
    void oddSizesKeepEveryRow();
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

void SegmentTest::noTextFoundEarlyOnlyOnPhotographs_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<bool>("early");
    QTest::addColumn<codec::PageProfile>("profile");
    QTest::newRow("photograph, soft colours") << "soft" << true << codec::PageProfile::Photo;
    QTest::newRow("photograph, strong colours") << "strong" << true << codec::PageProfile::Photo;
    QTest::newRow("photograph with a caption")
        << "caption" << false << codec::PageProfile::Compound;
    QTest::newRow("strongly coloured photograph with a short caption")
        << "short caption" << false << codec::PageProfile::Compound;
    QTest::newRow("white text on a dark page") << "dark" << false << codec::PageProfile::Compound;
    QTest::newRow("black text on a cyan page") << "cyan" << false << codec::PageProfile::Compound;
    QTest::newRow("coloured bars with a grid and labels")
        << "bars" << false << codec::PageProfile::Compound;
    QTest::newRow("text on white") << "text" << false << codec::PageProfile::Text;
}

// A page is taken for a photograph before its letters are sought only when it holds none.
void SegmentTest::noTextFoundEarlyOnlyOnPhotographs() {
    QFETCH(QString, content);
    QFETCH(bool, early);
    QFETCH(codec::PageProfile, profile);
    QImage page(1200, 1600, QImage::Format_RGB888);
    page.fill(Qt::white);
    if (content == QLatin1String("soft"))
        drawPhoto(page, page.rect());
    const bool shortCaption = content == QLatin1String("short caption");
    if (content == QLatin1String("strong") || content == QLatin1String("caption") || shortCaption)
        drawSaturatedPhoto(page, page.rect());
    if (content == QLatin1String("caption") || shortCaption) {
        const QRect paper(0, shortCaption ? 1100 : 800, 1200, shortCaption ? 500 : 800);
        QPainter(&page).fillRect(paper, QColor(250, 248, 240));
        fillWithText(page, paper.adjusted(40, 20, -40, -20), Qt::black);
    }
    if (content == QLatin1String("dark")) {
        page.fill(QColor(20, 30, 90));
        fillWithText(page, page.rect().adjusted(60, 60, -60, -60), Qt::white);
    }
    if (content == QLatin1String("cyan")) {
        page.fill(QColor(0, 200, 230));
        fillWithText(page, page.rect().adjusted(60, 60, -60, -60), Qt::black);
    }
    if (content == QLatin1String("bars")) {
        QPainter p(&page);
        const QColor colours[] = {QColor(200, 30, 30), QColor(30, 120, 200), QColor(240, 200, 0)};
        for (int k = 0; k < 9; ++k)
            p.fillRect(QRect(40 + k * 125, 100 + (k % 3) * 60, 110, 1300 - (k % 3) * 60),
                       colours[k % 3]);
        p.setPen(QPen(QColor(120, 120, 120), 1));
        for (int y = 100; y < 1400; y += 50)
            p.drawLine(30, y, 1170, y);
        p.end();
        fillWithText(page, QRect(40, 1420, 1120, 170), Qt::black);
    }
    if (content == QLatin1String("text"))
        fillWithText(page, page.rect().adjusted(60, 60, -60, -60), Qt::black);
    const codec::Segmentation s = segment(page);
    QCOMPARE(s.error, codec::Error::None);
    QVERIFY2(s.early == early, qPrintable(QStringLiteral("early %1, text %2 %, photograph %3 %")
                                              .arg(s.early)
                                              .arg(100.0 * double(s.maskPixels) / 1920000.0)
                                              .arg(100.0 * double(s.photoPixels) / 1920000.0)));
    QVERIFY2(s.profile == profile,
             qPrintable(QStringLiteral("profile %1, text %2 %, photograph %3 %")
                            .arg(QLatin1String(codec::profileName(s.profile)))
                            .arg(100.0 * double(s.maskPixels) / 1920000.0)
                            .arg(100.0 * double(s.photoPixels) / 1920000.0)));
}

void SegmentTest::picturesAtThePageEdgeStayOutOfTheMask_data() {
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QRect>("area");
    QTest::newRow("a title band across the page's top")
        << QStringLiteral("band") << QRect(0, 0, 1000, 170);
    QTest::newRow("a band at the left edge") << QStringLiteral("band") << QRect(0, 300, 500, 200);
    QTest::newRow("a band at the right edge")
        << QStringLiteral("band") << QRect(500, 300, 500, 200);
    QTest::newRow("a photograph at the left edge")
        << QStringLiteral("photo") << QRect(0, 250, 600, 350);
}

// A band or photograph that reaches the page's edge is a picture up to that edge: none of it
// (a band's corner over the paper, a photograph's texture) comes out as strokes of the mask.
void SegmentTest::picturesAtThePageEdgeStayOutOfTheMask() {
    QFETCH(QString, picture);
    QFETCH(QRect, area);
    QImage page(1000, 900, QImage::Format_RGB888);
    page.fill(QColor(250, 248, 240));
    if (picture == QLatin1String("band"))
        QPainter(&page).fillRect(area, QColor(31, 95, 168));
    else
        drawPhoto(page, area);
    drawText(page, QRect(40, 640, 920, 240), Qt::black);
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QVERIFY(!s.maskPbm.isEmpty());
    int inPicture = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            inPicture += qGray(mask.pixel(x, y)) < 128;
    QVERIFY2(inPicture == 0, qPrintable(QString::number(inPicture)));
}

void SegmentTest::paperBetweenColouredShapesOutOfTheMask_data() {
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("gap");
    QTest::newRow("a circle under a bar, 30 px apart") << QStringLiteral("circle") << 30;
    QTest::newRow("a circle under a bar, 12 px apart") << QStringLiteral("circle") << 12;
    QTest::newRow("a bar under a bar, 20 px apart") << QStringLiteral("bar") << 20;
}

// Paper that lies between two shapes of strong colour near enough to be joined into one band is
// no light letter on that band: it stays in the background, with the paper's own colour.
void SegmentTest::paperBetweenColouredShapesOutOfTheMask() {
    QFETCH(QString, shape);
    QFETCH(int, gap);
    const QColor paper(250, 248, 240);
    QImage page(1000, 1000, QImage::Format_RGB888);
    page.fill(paper);
    const QRect bar(40, 100, 600, 40);
    const QRect below(bar.left() + 40, bar.bottom() + 1 + gap, 330, 330);
    {
        QPainter painter(&page);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(128, 10, 10));
        painter.drawRect(bar);
        painter.setBrush(QColor(230, 64, 50));
        if (shape == QLatin1String("circle"))
            painter.drawEllipse(below);
        else
            painter.drawRect(below.adjusted(0, 0, 0, -250));
    }
    drawText(page, QRect(40, 640, 920, 240), Qt::black);
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QVERIFY(!s.maskPbm.isEmpty());
    int paperIn = 0;
    for (int y = bar.top(); y < 600; ++y)
        for (int x = 0; x < page.width(); ++x)
            paperIn += page.pixelColor(x, y) == paper && qGray(mask.pixel(x, y)) < 128;
    QVERIFY2(paperIn == 0, qPrintable(QString::number(paperIn)));
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

void SegmentTest::oddSizesKeepEveryRow_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("the smallest page segmented") << QSize(64, 64);
    QTest::newRow("odd width, one band of rows") << QSize(301, 255);
    QTest::newRow("one row past a band") << QSize(420, 257);
    QTest::newRow("odd both ways, several bands") << QSize(333, 771);
}

// The page's rows are worked on a band at a time, at half and at full size: however its sides
// fall, a rule down the whole page is in the mask on every row and a rule across it on every
// column.
void SegmentTest::oddSizesKeepEveryRow() {
    QFETCH(QSize, size);
    QImage page(size, QImage::Format_RGB888);
    page.fill(QColor(250, 248, 240));
    const int column = size.width() / 2 + 1;
    const int row = size.height() / 3 + 1;
    {
        QPainter p(&page);
        p.fillRect(QRect(column, 0, 3, size.height()), QColor(30, 30, 30));
        p.fillRect(QRect(0, row, size.width(), 3), QColor(30, 30, 30));
    }
    QImage mask;
    const codec::Segmentation s = segment(page, &mask);
    QCOMPARE(s.error, codec::Error::None);
    QVERIFY(!s.maskPbm.isEmpty());
    QCOMPARE(mask.size(), size);
    int rows = 0, columns = 0;
    for (int y = 0; y < size.height(); ++y)
        rows += qGray(mask.pixel(column + 1, y)) < 128;
    for (int x = 0; x < size.width(); ++x)
        columns += qGray(mask.pixel(x, row + 1)) < 128;
    QCOMPARE(rows, size.height());
    QCOMPARE(columns, size.width());
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
