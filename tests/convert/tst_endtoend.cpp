// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/listview.h"
#include "engine/checks.h"
#include "engine/tiffinspect.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QtTest>

#include <sys/stat.h>

using namespace vormelle;
using test::RunFixture;
using test::TiffKind;

Q_DECLARE_METATYPE(vormelle::test::TiffKind)

namespace {

// The page looks like the TIFF: black top-left quarter, white elsewhere.
void verifyPage(const QString& djvu, int page) {
    const test::Quarters q = test::renderDjvuPage(djvu, page);
    const QString seen = QStringLiteral("page %1: %2 %3 %4 %5")
                             .arg(page)
                             .arg(q.topLeft)
                             .arg(q.topRight)
                             .arg(q.bottomLeft)
                             .arg(q.bottomRight);
    QVERIFY2(q.topLeft >= 0 && q.topLeft < 60, qPrintable(seen));
    QVERIFY2(q.topRight > 200 && q.bottomLeft > 200 && q.bottomRight > 200, qPrintable(seen));
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void kinds_data();
    void kinds();
    void oldStyleJpeg();
    void mixedRun();
    void inspectedRun();
    void shippedSamples();
};

void EndToEndTest::kinds_data() {
    QTest::addColumn<TiffKind>("kind");
    QTest::addColumn<int>("pages");
    QTest::newRow("bitonal G4") << TiffKind::BitonalG4 << 1;
    QTest::newRow("8-bit gray") << TiffKind::Gray8 << 1;
    QTest::newRow("gray JPEG strips") << TiffKind::GrayJpeg << 1;
    QTest::newRow("RGB JPEG strips") << TiffKind::RgbJpeg << 1;
    QTest::newRow("RGB Deflate") << TiffKind::RgbDeflate << 1;
    QTest::newRow("tiled RGB") << TiffKind::RgbTiledJpeg << 1;
    QTest::newRow("tiled YCbCr") << TiffKind::YcbcrTiledJpeg << 1;
    QTest::newRow("2-bit gray") << TiffKind::Gray2 << 1;
    QTest::newRow("4-bit gray") << TiffKind::Gray4 << 1;
    QTest::newRow("RGB planes") << TiffKind::RgbPlanar << 1;
    QTest::newRow("palette") << TiffKind::Palette8 << 1;
    QTest::newRow("CMYK") << TiffKind::Cmyk8 << 1;
    QTest::newRow("CIE Lab") << TiffKind::Lab8 << 1;
    QTest::newRow("3 pages G4") << TiffKind::BitonalG4 << 3;
    QTest::newRow("3 pages RGB JPEG") << TiffKind::RgbJpeg << 3;
}

void EndToEndTest::kinds() {
    QFETCH(TiffKind, kind);
    QFETCH(int, pages);
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("scan.tif"));
    // YCbCr JPEG tiles convert right only in whole tiles (64 pixels).
    const QSize size = kind == TiffKind::YcbcrTiledJpeg ? QSize(128, 192) : QSize(160, 240);
    test::writeTiff(input, kind, pages, size.width(), size.height());
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString output = f.env.path(QStringLiteral("scan.djvu"));
    QCOMPARE(engine::djvuPageCount(output), std::optional<int>(pages));
    for (int p = 1; p <= pages; ++p)
        verifyPage(output, p);
    QCOMPARE(f.leftInTemp(), QStringList());
}

// Old-style JPEG, which libtiff warns about on every page: converted, colours right.
void EndToEndTest::oldStyleJpeg() {
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("old.tif"));
    test::writeOldStyleJpegTiff(input);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString output = f.env.path(QStringLiteral("old.djvu"));
    const QSize size = test::djvuPageSize(output, 1);
    QVERIFY(!size.isEmpty());
    QCOMPARE(size.width() * 3, size.height() * 2); // not stretched
    const QList<QRgb> quarters = test::renderDjvuColours(output, 1);
    QCOMPARE(quarters.size(), 4);
    const QString seen = QStringLiteral("%1 %2 %3 %4")
                             .arg(quarters[0], 0, 16)
                             .arg(quarters[1], 0, 16)
                             .arg(quarters[2], 0, 16)
                             .arg(quarters[3], 0, 16);
    QVERIFY2(qRed(quarters[0]) > 170 && qGreen(quarters[0]) < 60 && qBlue(quarters[0]) < 60,
             qPrintable(seen));
    for (int i = 1; i < 4; ++i)
        QVERIFY2(qGray(quarters[i]) > 230, qPrintable(seen));
}

void EndToEndTest::mixedRun() {
    RunFixture f;
    QDir().mkpath(f.env.path(QStringLiteral("in")));
    QDir().mkpath(f.env.path(QStringLiteral("out")));
    auto in = [&](const char* name) { return f.env.path(QStringLiteral("in/") + name); };
    test::writeTiff(in("good1.tif"), TiffKind::BitonalG4);
    test::writeTiff(in("trunc.tif"), TiffKind::BitonalG4, 3);
    {
        // Cut before the last page's directory: the file announces three pages, two are there,
        // and tiff2pdf would convert those two without a word.
        QFile cut(in("trunc.tif"));
        QVERIFY(cut.resize(test::lastDirectoryOffset(in("trunc.tif"))));
    }
    const engine::TiffInspection trunc = engine::inspectTiff(in("trunc.tif"));
    QCOMPARE(trunc.pages, 3);
    QCOMPARE(trunc.problem, QStringLiteral("page 3 cannot be read"));
    f.env.writeFile(QStringLiteral("in/notes.tif"), "These are notes, not an image.\n");
    test::writeTiff(in("deep.tif"), TiffKind::Gray16);
    test::writeTiff(in("good2.tif"), TiffKind::RgbJpeg, 2);

    const QStringList inputs{in("good1.tif"), in("trunc.tif"), in("notes.tif"), in("deep.tif"),
                             in("good2.tif")};
    QList<QByteArray> before;
    for (const QString& p : inputs) {
        before.append(test::fileBytes(p));
        f.add(p);
    }
    const QString old = f.env.writeFile(QStringLiteral("out/trunc.djvu"), "older trunc result");
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(f.env.path(QStringLiteral("out")));
    f.start();

    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.dialogs.boxes[0].icon, platform::Icon::Warning);
    const QStringList lines = f.lastBox().split(QStringLiteral("\r\n"));
    QVERIFY2(lines.size() == 6, qPrintable(lines.join(QLatin1Char('|'))));
    QCOMPARE(lines.mid(0, 3), (QStringList{"Done.", "", "3 of 5 file(s) could not be converted:"}));
    QCOMPARE(lines[3], QStringLiteral("trunc.tif: page 3 cannot be read"));
    QCOMPARE(lines[4], QStringLiteral("notes.tif: not a TIFF file"));
    QCOMPARE(lines[5], QStringLiteral("deep.tif: 16-bit samples are not supported"));

    QCOMPARE(test::fileBytes(old), QByteArray("older trunc result"));
    QCOMPARE(engine::djvuPageCount(f.env.path(QStringLiteral("out/good1.djvu"))),
             std::optional<int>(1));
    QCOMPARE(engine::djvuPageCount(f.env.path(QStringLiteral("out/good2.djvu"))),
             std::optional<int>(2));
    QVERIFY(!QFile::exists(f.env.path(QStringLiteral("out/notes.djvu"))));
    QVERIFY(!QFile::exists(f.env.path(QStringLiteral("out/deep.djvu"))));
    for (int i = 0; i < inputs.size(); ++i)
        QCOMPARE(test::fileBytes(inputs[i]), before[i]);
    QCOMPARE(f.leftInTemp(), QStringList());
}

// What the converters would get wrong is named and not converted; what an option puts right
// comes out right; the rest converts as always.
void EndToEndTest::inspectedRun() {
    RunFixture f;
    QDir().mkpath(f.env.path(QStringLiteral("out")));
    auto in = [&](const char* name) { return f.env.path(QString::fromLatin1(name)); };
    auto page = [](TiffKind kind, int unit = 2, float dpi = 100) {
        test::TiffPage p;
        p.kind = kind;
        p.unit = unit;
        p.xdpi = p.ydpi = dpi;
        return p;
    };
    test::writeTiff(in("good.tif"), TiffKind::BitonalG4);
    test::writeTiffPages(in("nounit.tif"), {page(TiffKind::BitonalG4, 1, 72)});
    test::writeTiffPages(in("fine.tif"), {page(TiffKind::Gray8, 2, 1e7f)});
    test::TiffPage red = page(TiffKind::YcbcrTiledJpeg);
    red.ink = qRgb(255, 0, 0);
    red.width = 128;
    red.height = 192;
    test::writeTiffPages(in("tiles.tif"), {red, red});
    test::TiffPage alpha = page(TiffKind::RgbAlpha);
    alpha.ink = qRgb(255, 0, 0);
    test::writeTiffPages(in("alpha.tif"), {alpha});
    test::writeTiff(in("damaged.tif"), TiffKind::BitonalG4);
    test::damageImageData(in("damaged.tif"));
    test::writeTiff(in("deep.tif"), TiffKind::Gray16);
    QCOMPARE(::mkfifo(QFile::encodeName(in("fifo.tif")).constData(), 0600), 0);
    f.env.writeFile(QStringLiteral("empty.tif"), QByteArray());
    const QStringList names{"good.tif",    "nounit.tif", "fine.tif", "tiles.tif", "alpha.tif",
                            "damaged.tif", "deep.tif",   "fifo.tif", "empty.tif"};
    for (const QString& name : names)
        f.add(f.env.path(name));
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(f.env.path(QStringLiteral("out")));
    f.start();

    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.lastBox().split(QStringLiteral("\r\n")),
             (QStringList{"Done.", "", "5 of 9 file(s) could not be converted:",
                          "alpha.tif: alpha channel is not supported",
                          "damaged.tif: the image data is damaged",
                          "deep.tif: 16-bit samples are not supported",
                          "fifo.tif: not a regular file", "empty.tif: the file is empty"}));
    auto out = [&](const char* name) { return f.env.path(QStringLiteral("out/") + name); };
    for (const char* bad : {"alpha.djvu", "damaged.djvu", "deep.djvu", "fifo.djvu", "empty.djvu"})
        QVERIFY2(!QFile::exists(out(bad)), bad);

    // Every page keeps its own pixel size, whatever its resolution tag says.
    QCOMPARE(test::djvuPageSize(out("good.djvu"), 1), QSize(160, 240));
    QCOMPARE(test::djvuPageSize(out("nounit.djvu"), 1), QSize(160, 240));
    QCOMPARE(test::djvuPageSize(out("fine.djvu"), 1), QSize(160, 240));
    for (const char* name : {"good.djvu", "nounit.djvu", "fine.djvu"})
        verifyPage(out(name), 1);

    QCOMPARE(engine::djvuPageCount(out("tiles.djvu")), std::optional<int>(2));
    for (int p = 1; p <= 2; ++p) {
        QCOMPARE(test::djvuPageSize(out("tiles.djvu"), p), QSize(128, 192)); // its own pixels
        const QList<QRgb> q = test::renderDjvuColours(out("tiles.djvu"), p);
        QCOMPARE(q.size(), 4);
        QVERIFY2(qRed(q[0]) > 200 && qGreen(q[0]) < 60 && qBlue(q[0]) < 60,
                 qPrintable(QColor(q[0]).name()));
        for (int i = 1; i < 4; ++i)
            QVERIFY2(qGray(q[i]) > 200, qPrintable(QColor(q[i]).name()));
    }
    QCOMPARE(f.leftInTemp(), QStringList());
}

void EndToEndTest::shippedSamples() {
    RunFixture f;
    const QDir shipped(test::TestEnv::builtProgramFolder() + QStringLiteral("/Samples"));
    const QStringList names = shipped.entryList({QStringLiteral("*.tif")}, QDir::Files);
    QVERIFY(!names.isEmpty());
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    for (const QString& name : names)
        f.add(shipped.filePath(name));
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    for (const QString& name : names) {
        const QString djvu = out + QLatin1Char('/') + name.chopped(4) + QStringLiteral(".djvu");
        const engine::TiffInspection tiff = engine::inspectTiff(shipped.filePath(name));
        QCOMPARE(tiff.problem, QString());
        QCOMPARE(engine::djvuPageCount(djvu), std::optional<int>(tiff.pages));
    }
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
