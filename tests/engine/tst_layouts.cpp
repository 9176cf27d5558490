// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/direct.h"
#include "engine/tiffinspect.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/layoutmaker.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <tiffio.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vormelle;
using test::SampleLayout;

Q_DECLARE_METATYPE(vormelle::test::SampleLayout)

namespace {

// What a page shows: four flat quarters (grey or colour, some see-through), or 1-bit noise.
enum class Picture { GreyQuarters, ColourQuarters, Noise };

// The quarters: half see-through, fully see-through (must come out white), and two opaque.
const QList<QRgb> kGreys{qRgba(102, 102, 102, 128), qRgba(0, 0, 0, 0), qRgb(40, 40, 40),
                         qRgb(200, 200, 200)};
const QList<QRgb> kColours{qRgba(200, 30, 30, 128), qRgba(0, 0, 0, 0), qRgb(20, 30, 110),
                           qRgb(30, 160, 60)};

bool hasAlpha(const SampleLayout& l) {
    return l.extra.contains(EXTRASAMPLE_ASSOCALPHA) || l.extra.contains(EXTRASAMPLE_UNASSALPHA);
}

QImage picture(Picture kind, const SampleLayout& l, QSize size) {
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
        const qint64 wrong = test::differentPixels(decoded, expected);
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

SampleLayout layout(uint16_t photometric, int bits, int samples, QList<uint16_t> extra = {}) {
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

// Runs a program and waits for it; its peak resident memory in KiB, -1 when it failed.
long peakKibOf(const QStringList& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<QByteArray> bytes;
        for (const QString& a : command)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

} // namespace

class LayoutsTest : public QObject {
    Q_OBJECT
private slots:
    void directPicture_data();
    void directPicture();
    void refusedWithAReason_data();
    void refusedWithAReason();
    void throughTheProgram_data();
    void throughTheProgram();
    void memoryBoundedByWhatIsRead_data();
    void memoryBoundedByWhatIsRead();
};

void LayoutsTest::directPicture_data() {
    QTest::addColumn<SampleLayout>("written");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QSize>("size");
    const QSize size(192, 128);
    const int grey = int(Picture::GreyQuarters);
    const int colour = int(Picture::ColourQuarters);
    const int noise = int(Picture::Noise);
    const uint16_t unassoc = EXTRASAMPLE_UNASSALPHA;
    const uint16_t assoc = EXTRASAMPLE_ASSOCALPHA;
    const uint16_t grey1 = PHOTOMETRIC_MINISBLACK;
    const uint16_t rgb = PHOTOMETRIC_RGB;
    const uint16_t cmyk = PHOTOMETRIC_SEPARATED;
    const uint16_t palette = PHOTOMETRIC_PALETTE;

    // Alpha over white, for every model that has it.
    QTest::newRow("grey 8, alpha") << layout(grey1, 8, 2, {unassoc}) << grey << size;
    QTest::newRow("grey 8, alpha, planes")
        << planes(layout(grey1, 8, 2, {unassoc})) << grey << size;
    QTest::newRow("grey 8, associated alpha, planes")
        << planes(layout(grey1, 8, 2, {assoc})) << grey << size;
    QTest::newRow("grey 8, 0 is white, alpha")
        << layout(PHOTOMETRIC_MINISWHITE, 8, 2, {unassoc}) << grey << size;
    QTest::newRow("grey 16, alpha") << layout(grey1, 16, 2, {unassoc}) << grey << size;
    QTest::newRow("grey 16, associated alpha") << layout(grey1, 16, 2, {assoc}) << grey << size;
    QTest::newRow("grey 16, alpha, planes")
        << planes(layout(grey1, 16, 2, {unassoc})) << grey << size;
    QTest::newRow("RGB 8, alpha") << layout(rgb, 8, 4, {unassoc}) << colour << size;
    QTest::newRow("RGB 16, associated alpha") << layout(rgb, 16, 4, {assoc}) << colour << size;
    QTest::newRow("RGB 8, alpha, tiled planes")
        << tiles(planes(layout(rgb, 8, 4, {unassoc})), QSize(32, 16)) << colour << size;
    QTest::newRow("CMYK 8") << layout(cmyk, 8, 4) << colour << size;
    QTest::newRow("CMYK 16, planes") << planes(layout(cmyk, 16, 4)) << colour << size;
    QTest::newRow("CMYK 8, alpha") << layout(cmyk, 8, 5, {unassoc}) << colour << size;
    QTest::newRow("CMYK 8, associated alpha") << layout(cmyk, 8, 5, {assoc}) << colour << size;
    QTest::newRow("palette 8, alpha") << layout(palette, 8, 2, {unassoc}) << colour << size;
    QTest::newRow("palette 4") << layout(palette, 4, 1) << colour << size;
    // Samples that mean nothing are padding.
    QTest::newRow("RGB 8, padding")
        << layout(rgb, 8, 4, {EXTRASAMPLE_UNSPECIFIED}) << colour << size;
    QTest::newRow("RGB 8, fourth sample, no ExtraSamples") << layout(rgb, 8, 4) << colour << size;
    QTest::newRow("RGB 8, padding then alpha")
        << layout(rgb, 8, 5, {EXTRASAMPLE_UNSPECIFIED, unassoc}) << colour << size;
    QTest::newRow("grey 8, padding")
        << layout(grey1, 8, 2, {EXTRASAMPLE_UNSPECIFIED}) << grey << size;
    // 1-bit tiles of any width, JBIG strips.
    SampleLayout narrow = tiles(bitonal(COMPRESSION_ADOBE_DEFLATE), QSize(16, 16));
    narrow.declaredTileWidth = 12;
    QTest::newRow("1 bit, tiles 12 wide") << narrow << noise << QSize(100, 40);
    SampleLayout narrowBlack0 = narrow;
    narrowBlack0.photometric = PHOTOMETRIC_MINISBLACK;
    QTest::newRow("1 bit, 0 is black, tiles 12 wide") << narrowBlack0 << noise << QSize(77, 33);
    QTest::newRow("1 bit, tiles 48 wide")
        << tiles(bitonal(COMPRESSION_CCITTFAX4), QSize(48, 32)) << noise << QSize(101, 70);
    SampleLayout jbig = bitonal(COMPRESSION_JBIG);
    jbig.rowsPerStrip = 0;
    QTest::newRow("1 bit, JBIG") << jbig << noise << QSize(203, 97);
    // Tiles far larger than the page, and planes in one large strip read by bands.
    QTest::newRow("RGB, tile far larger than the page")
        << tiles(layout(rgb, 8, 3), QSize(1024, 1024)) << colour << QSize(100, 80);
    QTest::newRow("1 bit, tile far larger than the page")
        << tiles(bitonal(COMPRESSION_CCITTFAX4), QSize(2048, 512)) << noise << QSize(100, 80);
    SampleLayout oneStrip = planes(layout(rgb, 8, 3));
    oneStrip.rowsPerStrip = 0;
    QTest::newRow("RGB planes, one large strip") << oneStrip << colour << QSize(1100, 1000);
    oneStrip = planes(layout(grey1, 8, 2, {unassoc}));
    oneStrip.rowsPerStrip = 0;
    QTest::newRow("grey and alpha planes, one large strip")
        << oneStrip << grey << QSize(1100, 1000);
    // Every orientation, on every kind of page.
    for (uint16_t o = 1; o <= 8; ++o) {
        QTest::addRow("1 bit, orientation %d", o)
            << turned(bitonal(COMPRESSION_CCITTFAX4), o) << noise << QSize(90, 61);
        QTest::addRow("grey, orientation %d", o) << turned(layout(grey1, 8, 1), o) << grey << size;
        QTest::addRow("RGB, orientation %d", o) << turned(layout(rgb, 8, 3), o) << colour << size;
    }
    QTest::newRow("grey tiles, orientation 6")
        << turned(tiles(layout(grey1, 8, 1), QSize(32, 32)), 6) << grey << size;
    QTest::newRow("1 bit, JBIG, orientation 7") << turned(jbig, 7) << noise << QSize(203, 97);
    QTest::newRow("CMYK, alpha, orientation 5")
        << turned(layout(cmyk, 8, 5, {unassoc}), 5) << colour << size;
}

// The direct route makes the picture the file holds, as a viewer shows it.
void LayoutsTest::directPicture() {
    QFETCH(SampleLayout, written);
    QFETCH(int, picture);
    QFETCH(QSize, size);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    const QImage stored = ::picture(Picture(picture), written, size);
    test::writeLayout(tiff, written, stored);
    QCOMPARE(engine::inspectTiff(tiff, engine::Route::Direct).problem, QString());
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const QString djvu = work + QStringLiteral("/result.djvu");
    const engine::DirectResult result = engine::encodeDirect(tiff, work, djvu);
    QCOMPARE(result.problem, QString());
    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    QCOMPARE(pages.size(), 1);
    const QImage expected = test::shownOverWhite(stored, written.orientation);
    const QString difference =
        comparePages(pages[0].image, expected, Picture(picture) == Picture::Noise);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void LayoutsTest::refusedWithAReason_data() {
    QTest::addColumn<SampleLayout>("written");
    QTest::addColumn<QString>("problem");
    // libtiff's RGBA reader, which converts these models, drops their alpha.
    QTest::newRow("CIE Lab, alpha") << layout(PHOTOMETRIC_CIELAB, 8, 4, {EXTRASAMPLE_UNASSALPHA})
                                    << "alpha channel is not supported";
    QTest::newRow("CIE Lab, padding") << layout(PHOTOMETRIC_CIELAB, 8, 4, {EXTRASAMPLE_UNSPECIFIED})
                                      << "extra channels are not supported";
}

// What the direct route cannot show right is refused before a page is made.
void LayoutsTest::refusedWithAReason() {
    QFETCH(SampleLayout, written);
    QFETCH(QString, problem);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    test::writeLayout(tiff, written, picture(Picture::ColourQuarters, written, QSize(64, 48)));
    QCOMPARE(engine::inspectTiff(tiff, engine::Route::Direct).problem, problem);
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const engine::DirectResult result =
        engine::encodeDirect(tiff, work, work + QStringLiteral("/result.djvu"));
    QCOMPARE(result.problem, problem);
    QCOMPARE(result.pages, 0);
}

void LayoutsTest::throughTheProgram_data() {
    QTest::addColumn<SampleLayout>("written");
    QTest::addColumn<int>("picture");
    const int grey = int(Picture::GreyQuarters);
    const int colour = int(Picture::ColourQuarters);
    const int noise = int(Picture::Noise);
    const uint16_t unassoc = EXTRASAMPLE_UNASSALPHA;
    QTest::newRow("grey 16, alpha") << layout(PHOTOMETRIC_MINISBLACK, 16, 2, {unassoc}) << grey;
    QTest::newRow("CMYK, alpha") << layout(PHOTOMETRIC_SEPARATED, 8, 5, {unassoc}) << colour;
    QTest::newRow("palette, alpha") << layout(PHOTOMETRIC_PALETTE, 8, 2, {unassoc}) << colour;
    QTest::newRow("grey, alpha, planes")
        << planes(layout(PHOTOMETRIC_MINISBLACK, 8, 2, {unassoc})) << grey;
    QTest::newRow("RGB, padding") << layout(PHOTOMETRIC_RGB, 8, 4) << colour;
    SampleLayout narrow = tiles(bitonal(COMPRESSION_ADOBE_DEFLATE), QSize(16, 16));
    narrow.declaredTileWidth = 12;
    QTest::newRow("1 bit, tiles 12 wide") << narrow << noise;
    QTest::newRow("1 bit, orientation 6") << turned(bitonal(COMPRESSION_CCITTFAX4), 6) << noise;
    QTest::newRow("RGB, orientation 3") << turned(layout(PHOTOMETRIC_RGB, 8, 3), 3) << colour;
    QTest::newRow("grey, orientation 8") << turned(layout(PHOTOMETRIC_MINISBLACK, 8, 1), 8) << grey;
}

// `vormelle --convert --encoder direct` writes the picture the file holds.
void LayoutsTest::throughTheProgram() {
    QFETCH(SampleLayout, written);
    QFETCH(int, picture);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("scan.tif"));
    const QImage stored = ::picture(Picture(picture), written, QSize(192, 128));
    test::writeLayout(tiff, written, stored);
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    QProcess vormelle;
    vormelle.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                   {QStringLiteral("--convert"), QStringLiteral("--encoder"),
                    QStringLiteral("direct"), QStringLiteral("--output"), out, tiff});
    QVERIFY(vormelle.waitForFinished(120000));
    QVERIFY2(vormelle.exitCode() == 0, vormelle.readAllStandardError().constData());
    const QList<test::DjvuPage> pages = test::decodeDjvu(out + QStringLiteral("/scan.djvu"));
    QCOMPARE(pages.size(), 1);
    const QString difference =
        comparePages(pages[0].image, test::shownOverWhite(stored, written.orientation),
                     Picture(picture) == Picture::Noise);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void LayoutsTest::memoryBoundedByWhatIsRead_data() {
    QTest::addColumn<SampleLayout>("written");
    QTest::addColumn<QSize>("size");
    // A 100 x 100 page in one 8192 x 8192 tile: 192 MiB declared, 30 KiB of it on the page.
    QTest::newRow("tile far larger than the page")
        << tiles(layout(PHOTOMETRIC_RGB, 8, 3), QSize(8192, 8192)) << QSize(100, 100);
    // Three planes of 3000 x 3000 in one strip each: 26 MiB decoded whole, 36 MiB more as RGBA.
    SampleLayout oneStrip = planes(layout(PHOTOMETRIC_RGB, 8, 3));
    oneStrip.rowsPerStrip = 0;
    QTest::newRow("planes in one strip") << oneStrip << QSize(3000, 3000);
}

// Inspecting and reading a page costs about what the page holds, not what its directory
// declares: measured against the same reader on a small page of the same kind.
void LayoutsTest::memoryBoundedByWhatIsRead() {
    QFETCH(SampleLayout, written);
    QFETCH(QSize, size);
    test::TestEnv env;
    const QString small = env.path(QStringLiteral("small.tif"));
    test::writeLayout(small, layout(PHOTOMETRIC_RGB, 8, 3),
                      picture(Picture::ColourQuarters, written, QSize(100, 100)));
    const QString large = env.path(QStringLiteral("large.tif"));
    test::writeLayout(large, written, picture(Picture::ColourQuarters, written, size));
    const QString probe = QStringLiteral(VORMELLE_READPROBE);
    const long baseline = peakKibOf({probe, small});
    const long peak = peakKibOf({probe, large});
    QVERIFY(baseline > 0);
    QVERIFY2(peak > 0 && peak < baseline + 12 * 1024,
             qPrintable(QStringLiteral("%1 KiB, %2 KiB for a small page").arg(peak).arg(baseline)));
}

QTEST_MAIN(LayoutsTest)
#include "tst_layouts.moc"
