// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/bzz.h"
#include "codec/iff.h"
#include "codec/jb2page.h"
#include "codec/layers.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

using namespace vormelle;

namespace {

// A colour page and its mask, drawn together: each shape a rectangle of ink whose outer ring of
// pixels is mixed half with the paper, as anti-aliasing leaves it, and in the mask all the same.
struct Drawn {
    int width = 0;
    int height = 0;
    codec::Bytes rgb;  // 3 bytes a pixel
    codec::Bytes mask; // PBM's bits, 1 for the mask
    int channels = 3;
    codec::PageView page() const {
        return {channels == 3 ? codec::PixelKind::Colour : codec::PixelKind::Grey,
                width,
                height,
                300,
                rgb.data(),
                std::ptrdiff_t(width) * channels};
    }
    codec::PageView maskView() const {
        return {codec::PixelKind::Bitonal,
                width,
                height,
                300,
                mask.data(),
                codec::rowBytes(codec::PixelKind::Bitonal, width)};
    }
    void set(int x, int y, QColor c) {
        std::uint8_t* p = rgb.data() + (std::size_t(y) * width + x) * channels;
        if (channels == 1) {
            p[0] = std::uint8_t(c.red());
            return;
        }
        p[0] = std::uint8_t(c.red());
        p[1] = std::uint8_t(c.green());
        p[2] = std::uint8_t(c.blue());
    }
    void setMask(int x, int y) {
        mask[std::size_t(y) * std::size_t((width + 7) / 8) + std::size_t(x / 8)] |=
            std::uint8_t(0x80 >> (x % 8));
    }
};

Drawn blank(int width, int height, QColor paper, int channels = 3) {
    Drawn d;
    d.width = width;
    d.height = height;
    d.channels = channels;
    d.rgb.resize(std::size_t(width) * height * channels);
    d.mask.assign(std::size_t((width + 7) / 8) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            d.set(x, y, paper);
    return d;
}

QColor mix(QColor a, QColor b) {
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

void shape(Drawn& d, QRect r, QColor ink, QColor paper) {
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const bool edge = x == r.left() || x == r.right() || y == r.top() || y == r.bottom();
            d.set(x, y, edge ? mix(ink, paper) : ink);
            d.setMask(x, y);
        }
}

struct Fgbz {
    QList<QColor> palette;
    QList<int> indices;
};

// The chunk read back as its layout says: version, palette (blue, green, red), indices in BZZ.
std::optional<Fgbz> parseFgbz(const codec::Bytes& b) {
    if (b.size() < 3)
        return {};
    Fgbz f;
    const int entries = (b[1] << 8) | b[2];
    std::size_t at = 3;
    for (int i = 0; i < entries; ++i, at += 3) {
        if (at + 3 > b.size())
            return {};
        f.palette << QColor(b[at + 2], b[at + 1], b[at]);
    }
    if (!(b[0] & 0x80))
        return f;
    if (at + 3 > b.size())
        return {};
    const std::size_t count = (std::size_t(b[at]) << 16) | (b[at + 1] << 8) | b[at + 2];
    at += 3;
    const auto raw = codec::bzzDecode(b.data() + at, b.size() - at, 2 * count);
    if (!raw || raw->size() != 2 * count)
        return {};
    for (std::size_t i = 0; i < count; ++i)
        f.indices << (((*raw)[2 * i] << 8) | (*raw)[2 * i + 1]);
    return f;
}

bool near(QColor a, QColor b, int levels) {
    return qAbs(a.red() - b.red()) <= levels && qAbs(a.green() - b.green()) <= levels &&
           qAbs(a.blue() - b.blue()) <= levels;
}

// The page DjVuLibre renders from a mask and its colours over a white background (c44's, at a
// third of the size: DjVuLibre paints the colours only over a background).
QImage decodeMaskAndColours(const Drawn& d, const codec::Bytes& sjbz, const codec::Bytes& fgbz) {
    QTemporaryDir dir;
    QImage white((d.width + 2) / 3, (d.height + 2) / 3, QImage::Format_RGB888);
    white.fill(Qt::white);
    const QString whitePpm = dir.filePath(QStringLiteral("white.ppm"));
    const QString whiteDjvu = dir.filePath(QStringLiteral("white.djvu"));
    if (!white.save(whitePpm) ||
        QProcess::execute(QStringLiteral("c44"), {whitePpm, whiteDjvu}) != 0)
        return {};
    QFile in(whiteDjvu);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QByteArray coded = in.readAll();
    const auto back = codec::parseFile(reinterpret_cast<const std::uint8_t*>(coded.constData()),
                                       std::size_t(coded.size()));
    if (!back || !back->find("BG44"))
        return {};
    const codec::Chunk form = codec::Chunk::form(
        "DJVU",
        {codec::Chunk::data("INFO", codec::infoChunk(d.width, d.height, 300)),
         codec::Chunk::data("Sjbz", sjbz), codec::Chunk::data("FGbz", fgbz), *back->find("BG44")});
    const auto bytes = codec::fileBytes(form);
    if (!bytes)
        return {};
    QFile out(dir.filePath(QStringLiteral("page.djvu")));
    if (!out.open(QIODevice::WriteOnly))
        return {};
    out.write(reinterpret_cast<const char*>(bytes->data()), qint64(bytes->size()));
    out.close();
    const QString ppm = dir.filePath(QStringLiteral("page.ppm"));
    if (QProcess::execute(QStringLiteral("ddjvu"),
                          {QStringLiteral("-format=ppm"), out.fileName(), ppm}) != 0)
        return {};
    return QImage(ppm).convertToFormat(QImage::Format_RGB888);
}

} // namespace

class LayersTest : public QObject {
    Q_OBJECT
private slots:
    void blitsFollowTheStream();
    void eachShapeTakesItsInsideColour_data();
    void eachShapeTakesItsInsideColour();
    void backgroundLeavesTheMaskOut();
    void backgroundSmoothsBarePaperOnly();
    void paperTakesTheMeanOfThePixelsAsTheyCame_data();
    void paperTakesTheMeanOfThePixelsAsTheyCame();
    void faintEdgesStayWhereTheyAre_data();
    void faintEdgesStayWhereTheyAre();
    void mismatchedViewsGiveNothing();
};

// The shapes handed back are the stream's, in its order: DjVuLibre colours each as the chunk says.
void LayersTest::blitsFollowTheStream() {
    const QColor paper(240, 235, 220);
    Drawn d = blank(300, 120, paper);
    const QList<QPair<QRect, QColor>> inks{
        {QRect(10, 10, 40, 30), QColor(20, 40, 160)},  {QRect(70, 12, 30, 30), QColor(170, 20, 30)},
        {QRect(120, 8, 50, 40), QColor(20, 40, 160)},  {QRect(10, 70, 60, 30), QColor(30, 30, 30)},
        {QRect(200, 60, 80, 40), QColor(40, 150, 60)},
    };
    for (const auto& [r, ink] : inks)
        shape(d, r, ink, paper);
    codec::Jb2Options options;
    options.keepBlits = true;
    codec::Jb2Stats stats;
    const codec::Bytes sjbz = codec::encodeJb2Page(d.maskView(), options, &stats);
    QCOMPARE(int(stats.blits.size()), inks.size());
    const codec::Bytes fgbz = codec::foregroundColours(d.page(), d.maskView(), stats.blits);
    const auto parsed = parseFgbz(fgbz);
    QVERIFY(parsed);
    QCOMPARE(parsed->indices.size(), inks.size());
    // Two shapes of one ink share their entry.
    QCOMPARE(parsed->palette.size(), 4);

    const QImage decoded = decodeMaskAndColours(d, sjbz, fgbz);
    QCOMPARE(decoded.size(), QSize(d.width, d.height));
    for (const auto& [r, ink] : inks) {
        const QColor got = decoded.pixelColor(r.center());
        QVERIFY2(near(got, ink, codec::kForegroundStep / 2),
                 qPrintable(got.name() + QStringLiteral(" for ") + ink.name()));
        // The mixed edge takes the ink's colour too.
        QVERIFY(near(decoded.pixelColor(r.topLeft()), ink, codec::kForegroundStep / 2));
    }
    QVERIFY(near(decoded.pixelColor(5, 5), Qt::white, 2));
}

void LayersTest::eachShapeTakesItsInsideColour_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QColor>("ink");
    QTest::addColumn<QColor>("want");
    QTest::newRow("thick blue") << 3 << QRect(20, 20, 30, 30) << QColor(20, 40, 160)
                                << QColor(20, 40, 160);
    // A 3-pixel line's inside is its middle row: its own colour, not its edges' mix.
    QTest::newRow("3-px dark grey line")
        << 3 << QRect(10, 60, 200, 3) << QColor(30, 30, 30) << QColor(30, 30, 30);
    // Too thin for an inside: all its pixels, here all of them mixed with the paper.
    QTest::newRow("2-px line") << 3 << QRect(10, 80, 200, 2) << QColor(30, 30, 30)
                               << QColor(135, 133, 125);
    QTest::newRow("white letter") << 3 << QRect(100, 20, 20, 30) << QColor(Qt::white)
                                  << QColor(Qt::white);
    QTest::newRow("grey page") << 1 << QRect(20, 20, 30, 30) << QColor(60, 60, 60)
                               << QColor(60, 60, 60);
}

void LayersTest::eachShapeTakesItsInsideColour() {
    QFETCH(int, channels);
    QFETCH(QRect, area);
    QFETCH(QColor, ink);
    QFETCH(QColor, want);
    const QColor paper(240, 236, 220);
    Drawn d = blank(240, 100, paper, channels);
    shape(d, area, ink, paper);
    codec::Jb2Options options;
    options.keepBlits = true;
    codec::Jb2Stats stats;
    QVERIFY(!codec::encodeJb2Page(d.maskView(), options, &stats).empty());
    QCOMPARE(stats.blits.size(), std::size_t(1));
    const auto parsed = parseFgbz(codec::foregroundColours(d.page(), d.maskView(), stats.blits));
    QVERIFY(parsed);
    QCOMPARE(parsed->indices.size(), 1);
    QColor got = parsed->palette.value(parsed->indices[0]);
    if (channels == 1) // a grey page's palette is grey: its one level on each channel
        QVERIFY(got.red() == got.green() && got.green() == got.blue());
    QVERIFY2(near(got, channels == 1 ? QColor(want.red(), want.red(), want.red()) : want,
                  codec::kForegroundStep / 2),
             qPrintable(got.name() + QStringLiteral(" for ") + want.name()));
}

// Each background pixel is the mean of what the mask leaves visible; under a wholly masked one
// the coder is free.
void LayersTest::backgroundLeavesTheMaskOut() {
    const QColor paper(200, 180, 160);
    Drawn d = blank(40, 20, paper);
    // A 12x12 block of ink (the mask) with a ring of darker pixels beside it, not in the mask.
    for (int y = 4; y < 16; ++y)
        for (int x = 4; x < 16; ++x) {
            d.set(x, y, QColor(10, 10, 10));
            d.setMask(x, y);
        }
    for (int x = 3; x <= 16; ++x) {
        d.set(x, 3, QColor(100, 90, 80));
        d.set(x, 16, QColor(100, 90, 80));
    }
    // The top two rows only, at the right: DjVu's cells start at the bottom, so the top row of
    // cells is two rows high (20 = 3 * 7 - 1).
    for (int x = 36; x < 39; ++x)
        for (int y = 0; y < 2; ++y)
            d.set(x, y, QColor(0, 90, 200));
    const codec::Background back = codec::background(d.page(), d.maskView(), 3);
    QCOMPARE(back.width, 14);
    QCOMPARE(back.height, 7);
    const QImage image = QImage::fromData(back.image.data(), int(back.image.size()));
    const QImage hidden = QImage::fromData(back.dontCare.data(), int(back.dontCare.size()));
    QCOMPARE(image.size(), QSize(14, 7));
    QCOMPARE(hidden.size(), QSize(14, 7));
    QCOMPARE(image.pixelColor(12, 0), QColor(0, 90, 200));
    // Cells of rows 3y - 1 to 3y + 1; inside the block (page 5..13): hidden, no one sees them.
    for (int by = 2; by <= 4; ++by)
        for (int bx = 2; bx <= 4; ++bx)
            QVERIFY2(qGray(hidden.pixel(bx, by)) == 0,
                     qPrintable(QStringLiteral("%1,%2").arg(bx).arg(by)));
    // A cell that holds ink or the pixels beside it is hidden too: coded, what anti-aliasing
    // and blur mixed of the ink into it would be a ghost of every letter.
    // Page columns 6..8, rows 14..16: ink and the ring beside it.
    QCOMPARE(qGray(hidden.pixel(2, 5)), 0);
    // Page columns 15..17, rows 2..4: ink, the darker ring beside it, and clean paper, whose
    // mean it takes.
    QCOMPARE(image.pixelColor(5, 1), paper);
    QCOMPARE(qGray(hidden.pixel(5, 1)), 0);
    // Columns 3..5, rows 14..16: ink and pixels beside it only, three of the ring and two of
    // paper.
    QCOMPARE(image.pixelColor(1, 5), QColor(140, 126, 112));
    QCOMPARE(qGray(hidden.pixel(1, 5)), 0);
    // Columns 18..20, past the ring: seen.
    QCOMPARE(image.pixelColor(6, 1), paper);
    QCOMPARE(qGray(hidden.pixel(6, 1)), 255);
    // Far from the block: the paper.
    QCOMPARE(image.pixelColor(12, 5), paper);
    QCOMPARE(qGray(hidden.pixel(12, 5)), 255);
}

// Paper's grain is smoothed away; a band's edge and a photograph keep every level.
void LayersTest::backgroundSmoothsBarePaperOnly() {
    const QColor paper(200, 190, 170);
    const QColor band(40, 60, 140);
    Drawn d = blank(240, 160, paper);
    Drawn photo = blank(240, 160, Qt::white);
    std::uint32_t seed = 7;
    auto grain = [&seed] {
        seed = seed * 1103515245U + 12345U;
        return int((seed >> 16) % 13) - 6;
    };
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 240; ++x) {
            const QColor c = x >= 160 ? band : paper;
            const int g = grain();
            d.set(x, y, QColor(c.red() + g, c.green() + g, c.blue() + g));
            if (x < 60 && y < 60) {
                d.set(x, y, QColor(120 + 3 * g, 100, 80 - 3 * g));
                photo.setMask(x, y);
            }
        }
    const codec::PageView photoView = photo.maskView();
    const codec::Background back = codec::background(d.page(), d.maskView(), 2, &photoView);
    QCOMPARE(back.width, 120);
    const QImage image = QImage::fromData(back.image.data(), int(back.image.size()));
    QCOMPARE(image.size(), QSize(120, 80));
    // Bare paper: two-by-two means of the grain spread by up to 6 levels; smoothed, by 1.
    int least = 255, most = 0;
    for (int by = 40; by < 80; ++by)
        for (int bx = 10; bx < 70; ++bx) {
            least = std::min(least, image.pixelColor(bx, by).red());
            most = std::max(most, image.pixelColor(bx, by).red());
        }
    QVERIFY2(most - least <= 2, qPrintable(QStringLiteral("%1 to %2").arg(least).arg(most)));
    // The band's edge stays where it is, each side its own colour (within the grain).
    for (int by = 0; by < 80; ++by) {
        QVERIFY(qAbs(image.pixelColor(79, by).blue() - paper.blue()) <= 6);
        QVERIFY(qAbs(image.pixelColor(80, by).blue() - band.blue()) <= 6);
    }
    // The photograph: each pixel the mean of the four it stands for, as before.
    for (int by = 0; by < 30; ++by)
        for (int bx = 0; bx < 30; ++bx) {
            int sum = 0;
            for (int y = 2 * by; y < 2 * by + 2; ++y)
                for (int x = 2 * bx; x < 2 * bx + 2; ++x)
                    sum += d.rgb[(std::size_t(y) * 240 + std::size_t(x)) * 3];
            QCOMPARE(image.pixelColor(bx, by).red(), (sum + 2) / 4);
        }
}

// At full size, a visible pixel of the paper within the grain of the mean of the visible pixels
// around it takes that mean, when the means of its window's four corner quarters agree with
// each other, all taken over the pixels as they came (not over neighbours already smoothed),
// whichever rows of the page are worked on together.
void LayersTest::paperTakesTheMeanOfThePixelsAsTheyCame_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("height");
    QTest::newRow("grey, a few rows") << 1 << 40;
    QTest::newRow("grey, many rows") << 1 << 200;
    QTest::newRow("colour, one row past many") << 3 << 257;
}

void LayersTest::paperTakesTheMeanOfThePixelsAsTheyCame() {
    QFETCH(int, channels);
    QFETCH(int, height);
    const int width = 90;
    Drawn d = blank(width, height, Qt::white, channels);
    std::uint32_t seed = 11;
    auto next = [&seed](int n) {
        seed = seed * 1103515245U + 12345U;
        return int((seed >> 16) % std::uint32_t(n));
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Grain, and now and then a spot far darker than it, which stays.
            const int g = next(9) - 4;
            const int spot = next(23) == 0 ? 60 : 0;
            d.set(x, y, QColor(180 + g - spot, 170 - g - spot, 150 + 2 * g - spot));
        }
    // Blocks of ink: hidden with the pixels beside them, and out of every mean.
    for (int y = 0; y < height; ++y)
        for (int x = 30; x < 37; ++x)
            if (y % 50 < 20)
                d.setMask(x, y);
    const codec::Background back = codec::background(d.page(), d.maskView(), 1);
    QCOMPARE(back.width, width);
    QCOMPARE(back.height, height);
    const std::uint8_t* out = back.image.data() + (back.image.size() - d.rgb.size());
    const auto inMask = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < height &&
               (d.mask[std::size_t(y) * std::size_t((width + 7) / 8) + std::size_t(x / 8)] &
                (0x80 >> (x % 8))) != 0;
    };
    // Hidden: in the mask or beside it.
    const auto masked = [&](int x, int y) {
        for (int v = y - 1; v <= y + 1; ++v)
            for (int u = x - 1; u <= x + 1; ++u)
                if (inMask(u, v))
                    return true;
        return false;
    };
    const int reach = 8; // the window's half side
    int smoothed = 0, kept = 0, edged = 0;
    for (int y = reach; y < height - reach; ++y)
        for (int x = reach; x < width - reach; ++x) {
            if (masked(x, y))
                continue;
            int sums[3] = {0, 0, 0}, n = 0;
            for (int v = y - reach; v <= y + reach; ++v)
                for (int u = x - reach; u <= x + reach; ++u) {
                    if (masked(u, v))
                        continue;
                    ++n;
                    for (int k = 0; k < channels; ++k)
                        sums[k] += d.rgb[(std::size_t(v) * width + std::size_t(u)) * channels +
                                         std::size_t(k)];
                }
            const std::size_t at = (std::size_t(y) * width + std::size_t(x)) * channels;
            bool near = true;
            int mean[3] = {0, 0, 0};
            for (int k = 0; k < channels; ++k) {
                mean[k] = (sums[k] + n / 2) / n;
                near = near && std::abs(mean[k] - int(d.rgb[at + std::size_t(k)])) <= 10;
            }
            // The quarters' sums and counts; means compared exactly, as fractions.
            QList<std::array<std::int64_t, 4>> quarters; // count, then the channels' sums
            for (const int qy : {y - reach, y})
                for (const int qx : {x - reach, x}) {
                    std::array<std::int64_t, 4> q{};
                    for (int v = qy; v <= qy + reach; ++v)
                        for (int u = qx; u <= qx + reach; ++u) {
                            if (masked(u, v))
                                continue;
                            ++q[0];
                            for (int k = 0; k < channels; ++k)
                                q[std::size_t(k) + 1] +=
                                    d.rgb[(std::size_t(v) * width + std::size_t(u)) * channels +
                                          std::size_t(k)];
                        }
                    if (q[0] >= codec::kLeastQuarter)
                        quarters.append(q);
                }
            bool flat = true;
            for (const auto& a : quarters)
                for (const auto& b : quarters)
                    for (std::size_t k = 1; k <= std::size_t(channels); ++k)
                        flat =
                            flat && a[k] * b[0] - b[k] * a[0] <= codec::kFlatSpread * a[0] * b[0];
            if (near && !flat) {
                near = false;
                ++edged;
            }
            for (int k = 0; k < channels; ++k) {
                const int expected = near ? mean[k] : int(d.rgb[at + std::size_t(k)]);
                if (int(out[at + std::size_t(k)]) != expected)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2) channel %3: %4, not %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(k)
                                         .arg(int(out[at + std::size_t(k)]))
                                         .arg(expected)));
            }
            ++(near ? smoothed : kept);
        }
    // Both kinds of pixel were looked at, and some kept by a quarter alone.
    QVERIFY(smoothed > 100);
    QVERIFY(kept > 20);
    QVERIFY(edged > 0);
}

// A bar or a ramp's end only a little lighter or darker than the paper keeps its level up to
// its edge, and the paper beside it its own, while the grain on both is smoothed (the grey
// sample's ramp faded into the paper at its light end).
void LayersTest::faintEdgesStayWhereTheyAre_data() {
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("paper");
    QTest::addColumn<int>("bar");
    QTest::newRow("grey, bar 14 lighter") << 1 << 235 << 249;
    QTest::newRow("grey, bar 14 darker") << 1 << 235 << 221;
    QTest::newRow("grey, bar 8 lighter") << 1 << 200 << 208;
    QTest::newRow("colour, bar 12 darker") << 3 << 230 << 218;
}

void LayersTest::faintEdgesStayWhereTheyAre() {
    QFETCH(int, channels);
    QFETCH(int, paper);
    QFETCH(int, bar);
    const int width = 120, height = 120, top = 40, bottom = 80;
    Drawn d = blank(width, height, Qt::white, channels);
    std::uint32_t seed = 5;
    auto grain = [&seed] {
        seed = seed * 1103515245U + 12345U;
        return int((seed >> 16) % 7) - 3;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int level = (y >= top && y < bottom && x < 90 ? bar : paper) + grain();
            d.set(x, y, QColor(level, level, level));
        }
    const codec::Background back = codec::background(d.page(), d.maskView(), 1);
    QCOMPARE(back.width, width);
    const std::uint8_t* out = back.image.data() + (back.image.size() - d.rgb.size());
    // Each row's (or column's) mean level, along the bar's long edges and its end.
    const auto rowMean = [&](int y) {
        int sum = 0;
        for (int x = 20; x < 70; ++x)
            sum += out[(std::size_t(y) * width + std::size_t(x)) * channels];
        return double(sum) / 50;
    };
    const auto columnMean = [&](int x) {
        int sum = 0;
        for (int y = top + 10; y < bottom - 10; ++y)
            sum += out[(std::size_t(y) * width + std::size_t(x)) * channels];
        return double(sum) / (bottom - top - 20);
    };
    for (int step = 0; step < 8; ++step) {
        const QList<QPair<double, int>> sides{
            {rowMean(top + step), bar},       {rowMean(bottom - 1 - step), bar},
            {rowMean(top - 1 - step), paper}, {rowMean(bottom + step), paper},
            {columnMean(89 - step), bar},     {columnMean(90 + step), paper}};
        for (const auto& [got, drawn] : sides)
            QVERIFY2(std::abs(got - drawn) <= 1.5,
                     qPrintable(QStringLiteral("%1 px from the edge: %2 for %3")
                                    .arg(step)
                                    .arg(got)
                                    .arg(drawn)));
    }
    // The grain in the middle of the paper and of the bar is gone.
    for (const int y : {15, 60, 105}) {
        int least = 255, most = 0;
        for (int x = 20; x < 70; ++x) {
            least = std::min(least, int(out[(std::size_t(y) * width + std::size_t(x)) * channels]));
            most = std::max(most, int(out[(std::size_t(y) * width + std::size_t(x)) * channels]));
        }
        QVERIFY2(most - least <= 1,
                 qPrintable(QStringLiteral("row %1: %2 to %3").arg(y).arg(least).arg(most)));
    }
}

void LayersTest::mismatchedViewsGiveNothing() {
    Drawn d = blank(40, 20, Qt::white);
    Drawn other = blank(41, 20, Qt::white);
    QVERIFY(codec::foregroundColours(d.page(), other.maskView(), {}).empty());
    QCOMPARE(codec::background(d.page(), other.maskView(), 3).width, 0);
    QCOMPARE(codec::background(d.page(), d.maskView(), 0).width, 0);
    // A page used as its own mask is no mask.
    QVERIFY(codec::foregroundColours(d.page(), d.page(), {}).empty());
}

QTEST_MAIN(LayersTest)
#include "tst_layers.moc"
