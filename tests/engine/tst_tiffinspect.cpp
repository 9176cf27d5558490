// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/tiffinspect.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/permissionbits.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace vormelle;
using test::TiffKind;
using test::TiffPage;

Q_DECLARE_METATYPE(vormelle::test::TiffPage)

namespace {

TiffPage page(TiffKind kind, int unit = 2, float dpi = 100) {
    TiffPage p;
    p.kind = kind;
    if (kind == TiffKind::YcbcrTiledJpeg) {
        // Whole 64-pixel tiles: those past the page's edge are a case of their own.
        p.width = 128;
        p.height = 192;
    }
    p.unit = unit;
    p.xdpi = p.ydpi = dpi;
    return p;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A little-endian TIFF made by hand: one 8-bit strip, white, uncompressed unless it says
// otherwise.
QByteArray handMadeTiff(quint32 width, quint32 height, quint32 compression = 1,
                        quint32 photometric = 1) {
    struct Entry {
        quint16 tag;
        quint16 type;
        quint32 value;
    };
    const quint32 entries = 8;
    const quint32 dataOffset = 8 + 2 + entries * 12 + 4;
    const quint32 dataSize = width * height;
    const QList<Entry> ifd{{256, 4, width},
                           {257, 4, height},
                           {258, 3, 8},
                           {259, 3, compression},
                           {262, 3, photometric},
                           {273, 4, dataOffset},
                           {278, 4, height ? height : 1},
                           {279, 4, dataSize}};
    QByteArray out("II*\0\x08\0\0\0", 8);
    auto put16 = [&](quint16 v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    auto put32 = [&](quint32 v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    put16(quint16(ifd.size()));
    for (const Entry& e : ifd) {
        put16(qToLittleEndian(e.tag));
        put16(qToLittleEndian(e.type));
        put32(qToLittleEndian(quint32(1)));
        put32(qToLittleEndian(e.value));
    }
    put32(0);
    out.append(QByteArray(qsizetype(dataSize), '\xff'));
    return out;
}

} // namespace

class TiffInspectTest : public QObject {
    Q_OBJECT
private slots:
    void pages_data();
    void pages();
    void files_data();
    void files();
    void notRegularFiles_data();
    void notRegularFiles();
    void concurrentInspections();
};

void TiffInspectTest::pages_data() {
    QTest::addColumn<QList<TiffPage>>("written");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("copy");
    QTest::addColumn<int>("pages");

    const QStringList none;
    const QStringList perPoint{"-r", "o", "-x", "4.16666667", "-y", "4.16666667"};
    const QStringList override300{"-r", "o", "-x", "300", "-y", "300"};
    auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };

    // What the converters turn into correct pages.
    row("bitonal G4") << QList{page(TiffKind::BitonalG4)} << "" << none << false << 1;
    row("2-bit gray") << QList{page(TiffKind::Gray2)} << "" << none << false << 1;
    row("4-bit gray") << QList{page(TiffKind::Gray4)} << "" << none << false << 1;
    row("8-bit gray LZW") << QList{page(TiffKind::Gray8)} << "" << none << false << 1;
    row("gray JPEG") << QList{page(TiffKind::GrayJpeg)} << "" << none << false << 1;
    row("YCbCr JPEG strips") << QList{page(TiffKind::RgbJpeg)} << "" << none << false << 1;
    row("RGB Deflate") << QList{page(TiffKind::RgbDeflate)} << "" << none << false << 1;
    row("RGB JPEG tiles") << QList{page(TiffKind::RgbTiledJpeg)} << "" << none << false << 1;
    row("RGB planes") << QList{page(TiffKind::RgbPlanar)} << "" << none << false << 1;
    row("palette") << QList{page(TiffKind::Palette8)} << "" << none << false << 1;
    row("CMYK") << QList{page(TiffKind::Cmyk8)} << "" << none << false << 1;
    row("CIE Lab") << QList{page(TiffKind::Lab8)} << "" << none << false << 1;
    row("three pages") << QList<TiffPage>(3, page(TiffKind::BitonalG4)) << "" << none << false << 3;
    TiffPage reduced = page(TiffKind::Gray8);
    reduced.reduced = true;
    row("page and its thumbnail") << QList{page(TiffKind::BitonalG4), reduced} << "" << none
                                  << false << 1;

    // YCbCr JPEG tiles convert only when tiff2pdf copies their data.
    row("YCbCr JPEG tiles") << QList{page(TiffKind::YcbcrTiledJpeg)} << "" << none << true << 1;
    row("YCbCr JPEG tiles, two pages")
        << QList<TiffPage>(2, page(TiffKind::YcbcrTiledJpeg)) << "" << none << true << 2;
    row("YCbCr JPEG tiles with a G4 page")
        << QList{page(TiffKind::YcbcrTiledJpeg), page(TiffKind::BitonalG4)} << "" << none << false
        << 2;
    // tiff2pdf gives tiles that reach past the right or bottom edge wrong colours.
    for (const QSize size : {QSize(160, 192), QSize(128, 240)}) {
        TiffPage overrun = page(TiffKind::YcbcrTiledJpeg);
        overrun.width = size.width();
        overrun.height = size.height();
        row(qPrintable(QStringLiteral("YCbCr JPEG tiles past the edge, %1 x %2")
                           .arg(size.width())
                           .arg(size.height())))
            << QList{overrun} << "YCbCr JPEG tiles past the page's edge are not supported" << none
            << false << 1;
    }

    // Samples tiff2pdf refuses or misreads.
    row("12-bit") << QList{page(TiffKind::Gray12)} << "12-bit samples are not supported" << none
                  << false << 1;
    row("16-bit") << QList{page(TiffKind::Gray16)} << "16-bit samples are not supported" << none
                  << false << 1;
    row("floating point") << QList{page(TiffKind::GrayFloat)}
                          << "floating-point samples are not supported" << none << false << 1;
    row("signed") << QList{page(TiffKind::GraySigned)} << "signed samples are not supported" << none
                  << false << 1;
    row("gray and alpha") << QList{page(TiffKind::GrayAlpha)} << "alpha channel is not supported"
                          << none << false << 1;
    row("RGB and alpha") << QList{page(TiffKind::RgbAlpha)} << "alpha channel is not supported"
                         << none << false << 1;
    row("RGB and associated alpha") << QList{page(TiffKind::RgbAssocAlpha)}
                                    << "alpha channel is not supported" << none << false << 1;
    row("16-bit second page") << QList{page(TiffKind::BitonalG4), page(TiffKind::Gray16),
                                       page(TiffKind::BitonalG4)}
                              << "page 2: 16-bit samples are not supported" << none << false << 2;
    row("16-bit first of two") << QList{page(TiffKind::Gray16), page(TiffKind::BitonalG4)}
                               << "page 1: 16-bit samples are not supported" << none << false << 1;
    row("only a thumbnail") << QList{reduced} << "the file has no pages" << none << false << 0;

    // Resolutions: the page gets the TIFF's own pixel size at 300 dpi when its own is unusable.
    row("no resolution") << QList{page(TiffKind::BitonalG4, 0)} << "" << override300 << false << 1;
    row("centimetres") << QList{page(TiffKind::BitonalG4, 3, 40)} << ""
                       << QStringList{"-r", "o", "-x", "102", "-y", "102"} << false << 1;
    row("unit none") << QList{page(TiffKind::BitonalG4, 1, 72)} << "" << perPoint << false << 1;
    row("unit none, two pages") << QList<TiffPage>(2, page(TiffKind::BitonalG4, 1, 300)) << ""
                                << perPoint << false << 2;
    row("absurdly fine") << QList{page(TiffKind::BitonalG4, 2, 1e7f)} << "" << override300 << false
                         << 1;
    row("absurdly coarse") << QList{page(TiffKind::BitonalG4, 2, 0.01f)} << "" << override300
                           << false << 1;
    row("too coarse for DjVu") << QList{page(TiffKind::BitonalG4, 2, 1)} << "" << override300
                               << false << 1;
    row("absurd and missing") << QList{page(TiffKind::BitonalG4, 2, 1e7f),
                                       page(TiffKind::BitonalG4, 0)}
                              << "" << override300 << false << 2;
    row("absurd beside usable") << QList{page(TiffKind::BitonalG4),
                                         page(TiffKind::BitonalG4, 2, 1e7f)}
                                << "" << QStringList{"-r", "o", "-x", "100", "-y", "100"} << false
                                << 2;
    row("unit none beside missing")
        << QList{page(TiffKind::BitonalG4, 1, 72), page(TiffKind::BitonalG4, 0)}
        << "some pages have no usable resolution" << none << false << 2;
    TiffPage wide = page(TiffKind::BitonalG4, 0);
    wide.width = 40000;
    wide.height = 16;
    row("wider than DjVu allows") << QList{wide}
                                  << "the page is too large for DjVu (40000 x 16 pixels)" << none
                                  << false << 1;
    // Pages keep their pixels, so a fine resolution no longer shrinks them below the limit.
    wide.unit = 2;
    wide.xdpi = wide.ydpi = 600;
    row("wide at 600 dpi") << QList{wide} << "the page is too large for DjVu (40000 x 16 pixels)"
                           << none << false << 1;
}

// The same answers from the file and from its bytes in memory.
void TiffInspectTest::pages() {
    QFETCH(QList<TiffPage>, written);
    QFETCH(QString, problem);
    QFETCH(QStringList, options);
    QFETCH(bool, copy);
    QFETCH(int, pages);
    test::TestEnv env;
    const QString path = env.path(QStringLiteral("page.tif"));
    test::writeTiffPages(path, written);
    const engine::TiffInspection onDisk = engine::inspectTiff(path);
    QCOMPARE(onDisk.problem, problem);
    QCOMPARE(onDisk.tiff2pdfOptions, options);
    QCOMPARE(onDisk.copyCompressedData, copy);
    QCOMPARE(onDisk.pages, pages);
    if (problem.isEmpty()) {
        // The largest page's size, for the out-of-memory message.
        QSize largest;
        for (const TiffPage& p : written) {
            if (!p.reduced &&
                qint64(p.width) * p.height > qint64(largest.width()) * largest.height())
                largest = QSize(p.width, p.height);
        }
        QCOMPARE(QSize(onDisk.largestWidth, onDisk.largestHeight), largest);
    }
    const engine::TiffInspection inMemory = engine::inspectTiffBytes(bytesOf(path));
    QCOMPARE(inMemory.problem, problem);
    QCOMPARE(inMemory.tiff2pdfOptions, options);
    QCOMPARE(inMemory.copyCompressedData, copy);
    QCOMPARE(inMemory.pages, pages);
}

void TiffInspectTest::files_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");

    test::TestEnv env;
    const QString g4 = env.path(QStringLiteral("g4.tif"));
    test::writeTiff(g4, TiffKind::BitonalG4);
    const QByteArray good = bytesOf(g4);

    QTest::newRow("empty") << QByteArray() << "the file is empty";
    QTest::newRow("text") << QByteArray("These are notes, not an image.\n") << "not a TIFF file";
    QTest::newRow("one byte") << QByteArray("I") << "not a TIFF file";
    QTest::newRow("magic only") << QByteArray("II*\0", 4) << "the TIFF header is incomplete";
    QTest::newRow("BigTIFF magic only")
        << QByteArray("MM\0+\0\x08\0\0", 8) << "the TIFF header is incomplete";
    QTest::newRow("wrong version") << QByteArray("II\x2b\x01\x08\0\0\0", 8) << "not a TIFF file";
    QTest::newRow("header only") << good.left(8) << "the first page cannot be read";
    QTest::newRow("hand-made 10x10") << handMadeTiff(10, 10) << "";
    QTest::newRow("JPEG 2000") << handMadeTiff(10, 10, 34712)
                               << "compression 34712 is not supported";
    QTest::newRow("LogL") << handMadeTiff(10, 10, 1, 32844)
                          << "colour model 32844 is not supported";
    QTest::newRow("zero width") << handMadeTiff(0, 10) << "the first page cannot be read";
    QTest::newRow("zero height") << handMadeTiff(10, 0) << "the first page cannot be read";

    // Damaged CCITT data: the converters make a damaged page of it and end with 0.
    const QString damaged = env.path(QStringLiteral("damaged.tif"));
    test::writeTiff(damaged, TiffKind::BitonalG4);
    test::damageImageData(damaged);
    QTest::newRow("damaged CCITT data") << bytesOf(damaged) << "the image data is damaged";
    // The hand-made file has its directory before the data, so cutting it leaves the directory.
    QTest::newRow("image data cut short")
        << handMadeTiff(10, 10).chopped(50) << "the image data is damaged";

    const QString three = env.path(QStringLiteral("three.tif"));
    test::writeTiff(three, TiffKind::BitonalG4, 3);
    QTest::newRow("last page cut off")
        << bytesOf(three).left(qsizetype(test::lastDirectoryOffset(three)))
        << "page 3 cannot be read";

    const QString absurd = env.path(QStringLiteral("absurd.tif"));
    test::writeAbsurdTiff(absurd);
    QTest::newRow("40000 x 40000 RGB") << bytesOf(absurd) << "the page is too large to convert";
}

void TiffInspectTest::files() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);
    test::TestEnv env;
    const QString path = env.writeFile(QStringLiteral("file.tif"), bytes);
    QCOMPARE(engine::inspectTiff(path).problem, problem);
    QCOMPARE(engine::inspectTiffBytes(bytes).problem, problem);
}

void TiffInspectTest::notRegularFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("problem");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("device") << "device"
                            << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("missing") << "missing"
                             << "the file is not there";
    QTest::newRow("link to a TIFF") << "link"
                                    << "";
    QTest::newRow("unreadable") << "unreadable"
                                << "the file may not be read";
    QTest::newRow("link that loops") << "loop"
                                     << "the name is a symbolic link that loops";
}

// Nothing but a regular file is opened: a FIFO with no writer would block an open for reading,
// a device would be read for ever.
void TiffInspectTest::notRegularFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, problem);
    test::TestEnv env;
    QString path = env.path(QStringLiteral("x.tif"));
    if (kind == QStringLiteral("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QStringLiteral("device")) {
        path = QStringLiteral("/dev/zero");
    } else if (kind == QStringLiteral("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QStringLiteral("link")) {
        const QString target = env.path(QStringLiteral("target.tif"));
        test::writeTiff(target, TiffKind::BitonalG4);
        QVERIFY(QFile::link(target, path));
    } else if (kind == QStringLiteral("loop")) {
        QVERIFY(QFile::link(env.path(QStringLiteral("y.tif")), path));
        QVERIFY(QFile::link(path, env.path(QStringLiteral("y.tif"))));
    } else if (kind == QStringLiteral("unreadable")) {
        test::writeTiff(path, TiffKind::BitonalG4);
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    }
    const test::PermissionBitsApply bits;
    QVERIFY(bits.active());
    // A FIFO opened for reading would wait for a writer: the test's time limit catches that.
    QCOMPARE(engine::inspectTiff(path).problem, problem);
}

// Each inspection has its own error and warning sink: a damaged file inspected beside good ones
// on other threads taints none of them.
void TiffInspectTest::concurrentInspections() {
    test::TestEnv env;
    const QString good = env.path(QStringLiteral("good.tif"));
    const QString damaged = env.path(QStringLiteral("damaged.tif"));
    test::writeTiff(good, TiffKind::BitonalG4, 1, 800, 1200);
    test::writeTiff(damaged, TiffKind::BitonalG4, 1, 800, 1200);
    test::damageImageData(damaged);
    const QByteArray goodBytes = bytesOf(good);
    const QByteArray damagedBytes = bytesOf(damaged);
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const bool bad = (i + t) % 2 == 0;
                const QString problem =
                    t % 2 == 0 ? engine::inspectTiff(bad ? damaged : good).problem
                               : engine::inspectTiffBytes(bad ? damagedBytes : goodBytes).problem;
                if (problem != (bad ? QStringLiteral("the image data is damaged") : QString()))
                    ++wrong[size_t(t)];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(wrong, std::vector<int>(4, 0));
}

QTEST_MAIN(TiffInspectTest)
#include "tst_tiffinspect.moc"
