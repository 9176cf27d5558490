// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/direct.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "engine/tiffinspect.h"
#include "tests/engine/compoundpage.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/textpage.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using namespace vormelle;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The chunk names of a single-page document, as djvudump lists them.
QStringList chunksOf(const QString& djvu) {
    QProcess p;
    p.start(QStringLiteral("djvudump"), {djvu});
    p.waitForFinished(-1);
    QStringList ids;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        const QString id = line.trimmed().left(4);
        if (id == QLatin1String("Sjbz") || id == QLatin1String("FG44") ||
            id == QLatin1String("FGbz") || id == QLatin1String("BG44"))
            if (!ids.contains(id))
                ids << id;
    }
    return ids;
}

// The page's mask as DjVuLibre renders it (black where the mask has ink).
QImage maskOf(const QString& djvu, const test::TestEnv& env) {
    const QString pbm = env.path(QStringLiteral("mask.pbm"));
    QProcess::execute(QStringLiteral("ddjvu"),
                      {QStringLiteral("-format=pbm"), QStringLiteral("-mode=mask"), djvu, pbm});
    return QImage(pbm).convertToFormat(QImage::Format_Grayscale8);
}

engine::DirectResult encode(const QString& tiff, const QString& djvu,
                            engine::ColourPages mode = engine::ColourPages::Compound) {
    const QString work = QFileInfo(djvu).path();
    QDir().mkpath(work);
    return engine::encodeDirect(tiff, work, djvu, nullptr, nullptr, mode);
}

// A page of about A5 at 300 dpi: known text in two inks on flat tinted paper, a photograph, and a
// white caption on a dark band.
test::PageRecipe twoInkPage() {
    test::PageRecipe r;
    r.size = QSize(1240, 1400);
    r.paper = QColor(238, 228, 200);
    r.noise = 0;
    r.blur = false;
    // A smooth photograph; the benchmark measures textured ones.
    r.photoTexture = false;
    r.text << test::TextBlock{
        QRect(80, 60, 1080, 330), test::knownLines(3, 6, 7), QColor(170, 20, 30), {}};
    r.text << test::TextBlock{
        QRect(80, 420, 1080, 330), test::knownLines(4, 6, 7), QColor(20, 40, 160), {}};
    r.photos << QRect(120, 800, 600, 420);
    r.flats << QRect(800, 800, 300, 400);
    return r;
}

// Pixels of `image` in `area` within `near` levels of `ink` on every channel: the cores of the
// ink's strokes, where anti-aliasing has not mixed in the paper.
QList<QPoint> inkCores(const QImage& image, const QRect& area, QColor ink, int near) {
    QList<QPoint> points;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - ink.red()) <= near && qAbs(c.green() - ink.green()) <= near &&
                qAbs(c.blue() - ink.blue()) <= near)
                points << QPoint(x, y);
        }
    return points;
}

} // namespace

class CompoundTest : public QObject {
    Q_OBJECT
private slots:
    void textInTwoInksOverPaperAndPhoto();
    void inksBesideBarsKeepTheirColours_data();
    void inksBesideBarsKeepTheirColours();
    void photographStaysOneLayer_data();
    void photographStaysOneLayer();
    void invertedTextIsInTheMask();
    void frameAroundColourBarsStaysBlack_data();
    void textPageBackgroundCostsLittle_data();
    void textPageBackgroundCostsLittle();
    void backgroundHoldsNoGhostOfTheLetters_data();
    void backgroundHoldsNoGhostOfTheLetters();
    void frameAroundColourBarsStaysBlack();
    void greyWedgeKeepsItsSteps_data();
    void greyWedgeKeepsItsSteps();
    void mixedFileKeepsOrderAndProfiles();
    void layerGivesTodaysPage_data();
    void layerGivesTodaysPage();
    void tinyPagesConvert_data();
    void tinyPagesConvert();
    void damagedPageNamed();
    void settingWords_data();
    void settingWords();
};

// The page of the issue: legible, inks kept, photograph kept, three layers, same bytes twice.
void CompoundTest::textInTwoInksOverPaperAndPhoto() {
    test::TestEnv env;
    const test::PageRecipe recipe = twoInkPage();
    const test::PaintedPage painted = test::paintPage(recipe);
    const QString tiff = env.path(QStringLiteral("page.tif"));
    test::writePageTiff(tiff, {painted.image}, false, 0);
    const QString djvu = env.path(QStringLiteral("a/page.djvu"));
    const engine::DirectResult result = encode(tiff, djvu);
    QCOMPARE(result.problem, QString());
    QCOMPARE(result.profiles.size(), 1);
    QVERIFY2(result.profiles[0].startsWith(QLatin1String("page 1: compound")),
             qPrintable(result.profiles[0]));
    QCOMPARE(chunksOf(djvu),
             (QStringList{QStringLiteral("Sjbz"), QStringLiteral("FGbz"), QStringLiteral("BG44")}));

    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    QCOMPARE(pages.size(), 1);
    const QImage decoded = pages[0].image;
    QCOMPARE(decoded.size(), painted.image.size());

    // Legible: Tesseract reads the decoded page as well as the drawn one.
    engine::Recognizer ocr(QStringLiteral("eng"), test::TestEnv::builtProgramFolder());
    QCOMPARE(ocr.problem(), QString());
    const QImage grey = decoded.convertToFormat(QImage::Format_Grayscale8);
    QStringList found;
    for (const engine::OcrWord& w :
         ocr.recognize(grey.constBits(), grey.width(), grey.height(), 1, grey.bytesPerLine(), 300)
             .words())
        found << w.text;
    const double recall = test::wordRecall(painted.words, found);
    QVERIFY2(recall >= 0.97, qPrintable(QString::number(recall)));

    // Each ink keeps its colour.
    for (const test::TextBlock& block : recipe.text) {
        const QList<QPoint> cores = inkCores(painted.image, block.area, block.ink, 10);
        QVERIFY(cores.size() > 1000);
        double r = 0, g = 0, b = 0;
        for (const QPoint& p : cores) {
            const QColor c = decoded.pixelColor(p);
            r += c.red();
            g += c.green();
            b += c.blue();
        }
        const double n = double(cores.size());
        QVERIFY2(qAbs(r / n - block.ink.red()) <= 12 && qAbs(g / n - block.ink.green()) <= 12 &&
                     qAbs(b / n - block.ink.blue()) <= 12,
                 qPrintable(QStringLiteral("%1 %2 %3 for %4")
                                .arg(r / n)
                                .arg(g / n)
                                .arg(b / n)
                                .arg(block.ink.name())));
    }

    // The photograph and the bare paper.
    const double photo =
        test::psnr(decoded, painted.image, recipe.photos[0].adjusted(4, 4, -4, -4));
    QVERIFY2(photo > 32, qPrintable(QString::number(photo)));
    const double paper = test::psnr(decoded, painted.image, recipe.flats[0]);
    QVERIFY2(paper > 35, qPrintable(QString::number(paper)));

    // The same bytes every time.
    const QString again = env.path(QStringLiteral("b/page.djvu"));
    QCOMPARE(encode(tiff, again).problem, QString());
    QCOMPARE(bytesOf(again), bytesOf(djvu));
}

// A bar chart and a caption on a band: its dark grey axis beside the blue bars, its grey rules,
// the bars and the white caption.
test::PageRecipe chartAndCaption() {
    test::PageRecipe r;
    r.size = QSize(1240, 1000);
    r.noise = 2;
    r.blur = false;
    r.charts << QRect(100, 100, 1000, 500);
    r.text << test::TextBlock{QRect(100, 760, 1000, 60), test::knownLines(12, 1, 6), Qt::white,
                              QColor(30, 80, 190)};
    r.text << test::TextBlock{
        QRect(100, 880, 1000, 60), test::knownLines(13, 1, 6), QColor(20, 20, 20), {}};
    return r;
}

void CompoundTest::inksBesideBarsKeepTheirColours_data() {
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QColor>("ink");
    QTest::addColumn<bool>("grey");
    for (const bool grey : {false, true}) {
        const char* g = grey ? "grey" : "colour";
        // The chart's left edge: the 3-pixel axis, a bar's width from the first (blue-free)
        // bar; the second bar is blue.
        QTest::addRow("%s: dark grey axis", g)
            << QRect(95, 100, 11, 495) << QColor(30, 30, 30) << grey;
        // A 1-pixel pen of grey 120 lies across two rows, each half of it.
        QTest::addRow("%s: 1-pixel rule", g)
            << QRect(104, 150, 24, 400) << QColor(184, 183, 177) << grey;
        QTest::addRow("%s: blue bar", g) << QRect(256, 100, 62, 500) << QColor(30, 80, 190) << grey;
        QTest::addRow("%s: white caption on blue", g)
            << QRect(100, 760, 1000, 60) << QColor(Qt::white) << grey;
        QTest::addRow("%s: black text", g)
            << QRect(100, 880, 1000, 60) << QColor(20, 20, 20) << grey;
    }
}

// Each ink's cores (pixels within 10 levels of it on the page) come back within 12 levels on
// average: the mask's shapes take the colour of their own inside, not of the bars nearby.
void CompoundTest::inksBesideBarsKeepTheirColours() {
    QFETCH(QRect, area);
    QFETCH(QColor, ink);
    QFETCH(bool, grey);
    test::TestEnv env;
    test::PaintedPage painted = test::paintPage(chartAndCaption());
    if (grey)
        painted.image = painted.image.convertToFormat(QImage::Format_Grayscale8)
                            .convertToFormat(QImage::Format_RGB888);
    const QString tiff = env.path(QStringLiteral("chart.tif"));
    test::writePageTiff(tiff, {painted.image}, grey, 0);
    const QString djvu = env.path(QStringLiteral("a/chart.djvu"));
    const engine::DirectResult result = encode(tiff, djvu);
    QCOMPARE(result.problem, QString());
    QCOMPARE(chunksOf(djvu),
             (QStringList{QStringLiteral("Sjbz"), QStringLiteral("FGbz"), QStringLiteral("BG44")}));
    const QImage decoded = test::decodeDjvu(djvu).value(0).image;
    QCOMPARE(decoded.size(), painted.image.size());
    const QColor want = grey ? QColor(qGray(ink.rgb()), qGray(ink.rgb()), qGray(ink.rgb())) : ink;
    const QList<QPoint> cores = inkCores(painted.image, area, want, 10);
    QVERIFY2(cores.size() > 150, qPrintable(QString::number(cores.size())));
    double r = 0, g = 0, b = 0;
    for (const QPoint& p : cores) {
        const QColor c = decoded.pixelColor(p);
        r += c.red();
        g += c.green();
        b += c.blue();
    }
    const double n = double(cores.size());
    QVERIFY2(qAbs(r / n - want.red()) <= 12 && qAbs(g / n - want.green()) <= 12 &&
                 qAbs(b / n - want.blue()) <= 12,
             qPrintable(QStringLiteral("%1 %2 %3 for %4 (%5 cores)")
                            .arg(r / n)
                            .arg(g / n)
                            .arg(b / n)
                            .arg(want.name())
                            .arg(cores.size())));
}

void CompoundTest::photographStaysOneLayer_data() {
    QTest::addColumn<bool>("wholePage");
    QTest::newRow("small, smooth and textured") << false;
    // Its dark parts are no photograph's mid-tones, and no paper either.
    QTest::newRow("A4, dark parts, JPEG") << true;
}

// A page without text is one wavelet layer, byte for byte what ColourPages=Layer makes.
void CompoundTest::photographStaysOneLayer() {
    QFETCH(bool, wholePage);
    test::TestEnv env;
    test::PageRecipe recipe = test::photoPage();
    if (!wholePage) {
        recipe = test::PageRecipe{};
        recipe.size = QSize(900, 700);
        recipe.photos << QRect(0, 0, 900, 700);
    }
    const test::PaintedPage painted = test::paintPage(recipe);
    const QString tiff = env.path(QStringLiteral("photo.tif"));
    test::writePageTiff(tiff, {painted.image}, false, wholePage ? 90 : 0);
    const QString compound = env.path(QStringLiteral("a/photo.djvu"));
    const engine::DirectResult result = encode(tiff, compound);
    QCOMPARE(result.problem, QString());
    QVERIFY2(result.profiles.value(0).startsWith(QLatin1String("page 1: photo")),
             qPrintable(result.profiles.value(0)));
    QCOMPARE(chunksOf(compound), QStringList{QStringLiteral("BG44")});
    const QString layer = env.path(QStringLiteral("b/photo.djvu"));
    QCOMPARE(encode(tiff, layer, engine::ColourPages::Layer).problem, QString());
    QCOMPARE(bytesOf(compound), bytesOf(layer));
}

// White letters on a dark band are in the mask, and the band around them is not.
void CompoundTest::invertedTextIsInTheMask() {
    test::TestEnv env;
    test::PageRecipe recipe;
    recipe.size = QSize(1200, 600);
    recipe.noise = 0;
    recipe.blur = false;
    const QRect band(100, 200, 1000, 70);
    recipe.text << test::TextBlock{band, test::knownLines(7, 1, 6), Qt::white, QColor(20, 60, 140)};
    recipe.text << test::TextBlock{
        QRect(100, 400, 1000, 60), test::knownLines(8, 1, 6), QColor(20, 20, 20), {}};
    const test::PaintedPage painted = test::paintPage(recipe);
    const QString tiff = env.path(QStringLiteral("band.tif"));
    test::writePageTiff(tiff, {painted.image}, false, 0);
    const QString djvu = env.path(QStringLiteral("a/band.djvu"));
    QCOMPARE(encode(tiff, djvu).problem, QString());
    const QImage mask = maskOf(djvu, env);
    QCOMPARE(mask.size(), painted.image.size());
    qint64 letters = 0, lettersInMask = 0, bandPixels = 0, bandInMask = 0;
    for (int y = band.top(); y < band.bottom(); ++y)
        for (int x = band.left(); x < band.right(); ++x) {
            const bool inMask = qGray(mask.pixel(x, y)) < 128;
            if (qGray(painted.image.pixel(x, y)) > 200) {
                ++letters;
                lettersInMask += inMask;
            } else if (qGray(painted.image.pixel(x, y)) < 90) {
                ++bandPixels;
                bandInMask += inMask;
            }
        }
    QVERIFY(letters > 2000);
    QVERIFY2(lettersInMask > letters * 8 / 10,
             qPrintable(QStringLiteral("%1 of %2").arg(lettersInMask).arg(letters)));
    QVERIFY2(bandInMask < bandPixels / 10,
             qPrintable(QStringLiteral("%1 of %2").arg(bandInMask).arg(bandPixels)));
}

void CompoundTest::frameAroundColourBarsStaysBlack_data() {
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("line");
    QTest::newRow("150 dpi, 1 pixel") << 150 << 1;
    QTest::newRow("300 dpi, 2 pixels") << 300 << 2;
}

// The eight corners of the RGB cube as bars in a thin black frame, over text: the frame stays
// black along every bar, yellow and cyan ones too (as dark as black on the darkest channel).
void CompoundTest::frameAroundColourBarsStaysBlack() {
    QFETCH(int, dpi);
    QFETCH(int, line);
    test::TestEnv env;
    test::PageRecipe recipe;
    recipe.size = QSize(1100, 700);
    recipe.noise = 0;
    recipe.blur = false;
    recipe.text << test::TextBlock{
        QRect(80, 450, 940, 200), test::knownLines(9, 3, 6), QColor(20, 20, 20), {}};
    test::PaintedPage painted = test::paintPage(recipe);
    const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red,    Qt::blue, Qt::black};
    const QRect frame(70, 80, 8 * 120 + 2 * line, 200 + 2 * line);
    {
        QPainter p(&painted.image);
        p.fillRect(frame, Qt::black);
        for (int i = 0; i < 8; ++i)
            p.fillRect(QRect(frame.left() + line + i * 120, frame.top() + line, 120, 200), bars[i]);
    }
    const QString tiff = env.path(QStringLiteral("bars.tif"));
    test::writePageTiff(tiff, {painted.image}, false, 0, dpi);
    const QString djvu = env.path(QStringLiteral("a/bars.djvu"));
    QCOMPARE(encode(tiff, djvu).problem, QString());
    const QImage decoded = test::decodeDjvu(djvu).value(0).image;
    QCOMPARE(decoded.size(), painted.image.size());
    // The white bar's frame is black on both channels; the black bar's is the bar itself.
    for (int i = 1; i < 7; ++i) {
        for (const int y : {frame.top(), frame.bottom()}) {
            double sum = 0;
            const int x0 = frame.left() + line + i * 120 + 8;
            for (int x = x0; x < x0 + 104; ++x)
                sum += qGray(decoded.pixel(x, y));
            QVERIFY2(sum / 104 <= 60, qPrintable(QStringLiteral("bar %1, row %2: grey %3")
                                                     .arg(bars[i].name())
                                                     .arg(y)
                                                     .arg(sum / 104)));
        }
    }
}

void CompoundTest::greyWedgeKeepsItsSteps_data() {
    QTest::addColumn<int>("dpi");
    QTest::newRow("150 dpi") << 150;
    QTest::newRow("300 dpi") << 300;
}

// A wedge of eleven grey steps in a frame, over text, on a grey page: each step keeps its own
// level up to near its edges, however coarse the scan (its background is no coarser on paper).
void CompoundTest::greyWedgeKeepsItsSteps() {
    QFETCH(int, dpi);
    test::TestEnv env;
    const int cell = dpi / 2; // a third of an inch
    test::PageRecipe recipe;
    recipe.size = QSize(13 * cell, 8 * cell);
    recipe.noise = 0;
    recipe.blur = false;
    recipe.text << test::TextBlock{QRect(cell, 4 * cell, 11 * cell, 3 * cell),
                                   test::knownLines(9, 3, 6),
                                   QColor(20, 20, 20),
                                   {}};
    test::PaintedPage painted = test::paintPage(recipe);
    const QRect wedge(cell, cell, 11 * cell, 2 * cell);
    {
        QPainter p(&painted.image);
        p.fillRect(wedge.adjusted(-2, -2, 2, 2), Qt::black);
        for (int i = 0; i < 11; ++i)
            p.fillRect(QRect(wedge.left() + i * cell, wedge.top(), cell, wedge.height()),
                       QColor::fromRgb(qRgb(255 * i / 10, 255 * i / 10, 255 * i / 10)));
    }
    const QString tiff = env.path(QStringLiteral("wedge.tif"));
    test::writePageTiff(tiff, {painted.image}, true, 0, dpi);
    const QString djvu = env.path(QStringLiteral("a/wedge.djvu"));
    QCOMPARE(encode(tiff, djvu).problem, QString());
    const QImage decoded = test::decodeDjvu(djvu).value(0).image;
    QCOMPARE(decoded.size(), painted.image.size());
    // Within each step but a sixth of it along its edges.
    const int margin = cell / 6;
    for (int i = 0; i < 11; ++i) {
        const int level = 255 * i / 10;
        int worst = 0;
        for (int y = wedge.top() + margin; y < wedge.bottom() - margin; ++y)
            for (int x = wedge.left() + i * cell + margin;
                 x < wedge.left() + (i + 1) * cell - margin; ++x)
                worst = std::max(worst, std::abs(qGray(decoded.pixel(x, y)) - level));
        QVERIFY2(worst <= 6,
                 qPrintable(QStringLiteral("step %1: %2 levels off").arg(level).arg(worst)));
    }
}

void CompoundTest::textPageBackgroundCostsLittle_data() {
    QTest::addColumn<bool>("grey");
    QTest::newRow("grey, JPEG") << true;
    QTest::newRow("colour, JPEG") << false;
}

// A scanned page of text alone on tinted, noisy paper, written as JPEG: its background is the
// paper's colour and no more (its grain and JPEG's noise are not worth the bytes), a small part
// of what the mask costs.
void CompoundTest::textPageBackgroundCostsLittle() {
    QFETCH(bool, grey);
    test::TestEnv env;
    test::PageRecipe recipe;
    recipe.size = QSize(1240, 1754);
    recipe.paper = QColor(240, 232, 214);
    recipe.text << test::TextBlock{
        QRect(120, 120, 1000, 1400), test::knownLines(16, 28, 8), QColor(20, 20, 20), {}};
    const QRect flat(120, 1560, 1000, 140);
    recipe.flats << flat;
    const test::PaintedPage painted = test::paintPage(recipe);
    const QString tiff = env.path(QStringLiteral("text.tif"));
    test::writePageTiff(tiff, {painted.image}, grey, 85);
    const QString djvu = env.path(QStringLiteral("a/text.djvu"));
    const engine::DirectResult result = encode(tiff, djvu);
    QCOMPARE(result.problem, QString());
    const QString profile = result.profiles.value(0);
    QVERIFY2(profile.startsWith(QLatin1String("page 1: text")), qPrintable(profile));
    const QRegularExpression bytes(QStringLiteral("mask (\\d+) B.*background (\\d+) B"));
    const QRegularExpressionMatch m = bytes.match(profile);
    QVERIFY2(m.hasMatch(), qPrintable(profile));
    const int mask = m.captured(1).toInt();
    const int background = m.captured(2).toInt();
    QVERIFY2(background * 20 < mask, qPrintable(profile));
    // The paper keeps its colour.
    const QImage decoded = test::decodeDjvu(djvu).value(0).image;
    const QImage source =
        test::readTiffPixels(tiff).value(0).convertToFormat(QImage::Format_RGB888);
    double want[3] = {0, 0, 0}, got[3] = {0, 0, 0};
    for (int y = flat.top(); y <= flat.bottom(); ++y)
        for (int x = flat.left(); x <= flat.right(); ++x) {
            const QColor a = source.pixelColor(x, y);
            const QColor b = decoded.pixelColor(x, y);
            want[0] += a.red();
            want[1] += a.green();
            want[2] += a.blue();
            got[0] += b.red();
            got[1] += b.green();
            got[2] += b.blue();
        }
    for (int k = 0; k < 3; ++k)
        QVERIFY2(qAbs(want[k] - got[k]) / (flat.width() * flat.height()) <= 3,
                 qPrintable(QStringLiteral("channel %1: %2 for %3")
                                .arg(k)
                                .arg(got[k] / (flat.width() * flat.height()))
                                .arg(want[k] / (flat.width() * flat.height()))));
}

void CompoundTest::backgroundHoldsNoGhostOfTheLetters_data() {
    QTest::addColumn<bool>("grey");
    QTest::newRow("grey, JPEG") << true;
    QTest::newRow("colour, JPEG") << false;
}

// The mask draws the letters: the background under them and beside them (where anti-aliasing
// and a scanner's blur mixed the ink into the paper) is the paper, with no ghost of them to
// cost its bytes.
void CompoundTest::backgroundHoldsNoGhostOfTheLetters() {
    QFETCH(bool, grey);
    test::TestEnv env;
    test::PageRecipe recipe = twoInkPage();
    recipe.blur = true;
    recipe.noise = 3;
    const test::PaintedPage painted = test::paintPage(recipe);
    const QString tiff = env.path(QStringLiteral("page.tif"));
    test::writePageTiff(tiff, {painted.image}, grey, 90);
    const QString djvu = env.path(QStringLiteral("a/page.djvu"));
    const engine::DirectResult result = encode(tiff, djvu);
    QCOMPARE(result.problem, QString());
    QVERIFY2(result.profiles.value(0).startsWith(QLatin1String("page 1: compound")),
             qPrintable(result.profiles.value(0)));
    const QString ppm = env.path(QStringLiteral("background.ppm"));
    QCOMPARE(
        QProcess::execute(QStringLiteral("ddjvu"), {QStringLiteral("-format=ppm"),
                                                    QStringLiteral("-mode=background"), djvu, ppm}),
        0);
    const QImage back = QImage(ppm).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(back.size(), recipe.size);
    const QImage source =
        test::readTiffPixels(tiff).value(0).convertToFormat(QImage::Format_RGB888);
    // The paper as the scan has it, in the bare area.
    double paper[3] = {0, 0, 0};
    const QRect flat = recipe.flats.value(0);
    for (int y = flat.top(); y <= flat.bottom(); ++y)
        for (int x = flat.left(); x <= flat.right(); ++x) {
            const QColor c = source.pixelColor(x, y);
            paper[0] += c.red();
            paper[1] += c.green();
            paper[2] += c.blue();
        }
    for (double& v : paper)
        v /= double(flat.width()) * flat.height();
    for (const test::TextBlock& block : recipe.text) {
        qint64 ghost = 0, all = 0;
        for (int y = block.area.top(); y <= block.area.bottom(); ++y)
            for (int x = block.area.left(); x <= block.area.right(); ++x) {
                const QColor c = back.pixelColor(x, y);
                ++all;
                ghost += std::abs(c.red() - paper[0]) > 40 || std::abs(c.green() - paper[1]) > 40 ||
                         std::abs(c.blue() - paper[2]) > 40;
            }
        QVERIFY2(ghost * 200 < all, qPrintable(QStringLiteral("%1 of %2").arg(ghost).arg(all)));
    }
}

// Colour, bitonal and photograph pages in one file: their order and each page's own profile.
void CompoundTest::mixedFileKeepsOrderAndProfiles() {
    test::TestEnv env;
    const test::PaintedPage text = test::paintPage(twoInkPage());
    test::PageRecipe photoRecipe;
    photoRecipe.size = QSize(800, 600);
    photoRecipe.photos << QRect(0, 0, 800, 600);
    const test::PaintedPage photo = test::paintPage(photoRecipe);
    const QString colour = env.path(QStringLiteral("colour.tif"));
    test::writePageTiff(colour, {text.image, photo.image}, false, 0);
    test::TextPageLayout layout;
    layout.lines = test::knownLines(9, 4, 6);
    const test::TextPage bitonal = test::paintTextPage(layout);
    const QString bitonalTiff = env.path(QStringLiteral("bitonal.tif"));
    test::writeTextTiff(bitonalTiff, {bitonal}, true);
    const QString mixed = env.path(QStringLiteral("mixed.tif"));
    QCOMPARE(QProcess::execute(QStringLiteral("tiffcp"), {colour, bitonalTiff, mixed}), 0);

    const QString djvu = env.path(QStringLiteral("a/mixed.djvu"));
    const engine::DirectResult result = encode(mixed, djvu);
    QCOMPARE(result.problem, QString());
    QCOMPARE(result.pages, 3);
    QCOMPARE(result.profiles.size(), 3);
    QVERIFY(result.profiles[0].startsWith(QLatin1String("page 1: compound")));
    QVERIFY(result.profiles[1].startsWith(QLatin1String("page 2: photo")));
    QVERIFY(result.profiles[2].startsWith(QLatin1String("page 3: bitonal")));
    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages[0].image.size(), text.image.size());
    QCOMPARE(pages[1].image.size(), photo.image.size());
    QCOMPARE(
        test::differentPixels(pages[2].image, bitonal.image.convertToFormat(QImage::Format_RGB888)),
        0);
}

void CompoundTest::layerGivesTodaysPage_data() {
    QTest::addColumn<bool>("grey");
    QTest::newRow("colour") << false;
    QTest::newRow("grey") << true;
}

// ColourPages=Layer codes a text page as c44 alone does, as the direct route did before.
void CompoundTest::layerGivesTodaysPage() {
    QFETCH(bool, grey);
    test::TestEnv env;
    const test::PaintedPage painted = test::paintPage(twoInkPage());
    const QString tiff = env.path(QStringLiteral("page.tif"));
    test::writePageTiff(tiff, {painted.image}, grey, 0);
    const QString djvu = env.path(QStringLiteral("a/page.djvu"));
    const engine::DirectResult result = encode(tiff, djvu, engine::ColourPages::Layer);
    QCOMPARE(result.problem, QString());
    QVERIFY(result.profiles.value(0).startsWith(QLatin1String("page 1: layer")));

    const QString image = env.path(grey ? QStringLiteral("page.pgm") : QStringLiteral("page.ppm"));
    QVERIFY(painted.image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888)
                .save(image));
    QStringList arguments{QStringLiteral("-dpi"), QStringLiteral("300")};
    if (!grey)
        arguments << QStringLiteral("-crcbfull");
    const QString bare = env.path(QStringLiteral("bare.djvu"));
    QCOMPARE(QProcess::execute(QStringLiteral("c44"), arguments << image << bare), 0);
    QCOMPARE(bytesOf(djvu), bytesOf(bare));
}

void CompoundTest::tinyPagesConvert_data() {
    QTest::addColumn<bool>("grey");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("mode");
    for (int mode : {0, 1}) {
        const char* m = mode ? "layer" : "compound";
        QTest::addRow("grey 1x1 %s", m) << true << QSize(1, 1) << mode;
        QTest::addRow("colour 1x1 %s", m) << false << QSize(1, 1) << mode;
        QTest::addRow("colour 3x1 %s", m) << false << QSize(3, 1) << mode;
        QTest::addRow("grey 2x2 %s", m) << true << QSize(2, 2) << mode;
        QTest::addRow("colour 50x4 %s", m) << false << QSize(50, 4) << mode;
    }
}

// c44 refuses pages under 4 pixels on a side; they convert all the same, their colour kept.
void CompoundTest::tinyPagesConvert() {
    QFETCH(bool, grey);
    QFETCH(QSize, size);
    QFETCH(int, mode);
    test::TestEnv env;
    QImage image(size, QImage::Format_RGB888);
    image.fill(grey ? QColor(90, 90, 90) : QColor(30, 120, 200));
    const QString tiff = env.path(QStringLiteral("tiny.tif"));
    test::writePageTiff(tiff, {image}, grey, 0);
    const QString djvu = env.path(QStringLiteral("a/tiny.djvu"));
    const engine::DirectResult result =
        encode(tiff, djvu, mode ? engine::ColourPages::Layer : engine::ColourPages::Compound);
    QCOMPARE(result.problem, QString());
    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].image.size(), size);
    const QColor c = pages[0].image.pixelColor(0, 0);
    const QColor want = image.pixelColor(0, 0);
    QVERIFY2(qAbs(c.red() - want.red()) <= 12 && qAbs(c.green() - want.green()) <= 12 &&
                 qAbs(c.blue() - want.blue()) <= 12,
             qPrintable(c.name()));
}

// A damaged colour page is named as the inspection names it, as on the other routes.
void CompoundTest::damagedPageNamed() {
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("damaged.tif"));
    test::writeTiff(tiff, test::TiffKind::RgbDeflate, 1, 300, 300);
    test::damageImageData(tiff);
    const QString problem = engine::inspectTiff(tiff, engine::Route::Direct).problem;
    QVERIFY(!problem.isEmpty());
    const QString djvu = env.path(QStringLiteral("a/damaged.djvu"));
    const engine::DirectResult result = encode(tiff, djvu);
    QCOMPARE(result.problem, problem);
    QVERIFY(result.profiles.isEmpty());
    QVERIFY(!QFile::exists(djvu));
    QCOMPARE(QDir(env.path(QStringLiteral("a"))).entryList(QDir::Files), QStringList());
}

void CompoundTest::settingWords_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("layer");
    QTest::newRow("missing") << QString() << false;
    QTest::newRow("Compound") << "Compound" << false;
    QTest::newRow("Layer") << "Layer" << true;
    QTest::newRow("layer") << "layer" << true;
    QTest::newRow("unknown") << "Layers" << false;
}

void CompoundTest::settingWords() {
    QFETCH(QString, value);
    QFETCH(bool, layer);
    QCOMPARE(engine::colourPagesFromSetting(value) == engine::ColourPages::Layer, layer);
}

QTEST_MAIN(CompoundTest)
#include "tst_compound.moc"
