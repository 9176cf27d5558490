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
using test::bitonal;
using test::layout;
using test::Picture;
using test::planes;
using test::SampleLayout;
using test::tiles;
using test::turned;

Q_DECLARE_METATYPE(vormelle::test::SampleLayout)

namespace {

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
    const QImage stored = test::layoutPicture(Picture(picture), written, size);
    test::writeLayout(tiff, written, stored);
    QCOMPARE(engine::inspectTiff(tiff, engine::Route::Direct).problem, QString());
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const QString djvu = work + QStringLiteral("/result.djvu");
    // One picture layer, so that what is compared is what the reader delivers.
    const engine::DirectResult result =
        engine::encodeDirect(tiff, work, djvu, nullptr, nullptr, engine::ColourPages::Layer);
    QCOMPARE(result.problem, QString());
    const QList<test::DjvuPage> pages = test::decodeDjvu(djvu);
    QCOMPARE(pages.size(), 1);
    const QImage expected = test::shownOverWhite(stored, written.orientation);
    const QString difference =
        test::comparePages(pages[0].image, expected, Picture(picture) == Picture::Noise);
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
    test::writeLayout(tiff, written,
                      test::layoutPicture(Picture::ColourQuarters, written, QSize(64, 48)));
    QCOMPARE(engine::inspectTiff(tiff, engine::Route::Direct).problem, problem);
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const engine::DirectResult result =
        engine::encodeDirect(tiff, work, work + QStringLiteral("/result.djvu"), nullptr, nullptr,
                             engine::ColourPages::Layer);
    QCOMPARE(result.problem, problem);
    QCOMPARE(result.pages, 0);
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
                      test::layoutPicture(Picture::ColourQuarters, written, QSize(100, 100)));
    const QString large = env.path(QStringLiteral("large.tif"));
    test::writeLayout(large, written, test::layoutPicture(Picture::ColourQuarters, written, size));
    const QString probe = QStringLiteral(VORMELLE_READPROBE);
    const long baseline = peakKibOf({probe, small});
    const long peak = peakKibOf({probe, large});
    QVERIFY(baseline > 0);
    qInfo("peak %ld KiB, %ld KiB for a small page", peak, baseline);
    QVERIFY2(peak > 0 && peak < baseline + 12 * 1024,
             qPrintable(QStringLiteral("%1 KiB, %2 KiB for a small page").arg(peak).arg(baseline)));
}

QTEST_MAIN(LayoutsTest)
#include "tst_layouts.moc"
