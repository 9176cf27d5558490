#include "app/controls.h"
#include "app/listview.h"
#include "convert/checks.h"
#include "tests/convert/runfixture.h"
#include "tests/convert/tiffmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QtTest>

#include <clocale>

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

QStringList filesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void kinds_data();
    void kinds();
    void mixedRun();
    void hostileNames_data();
    void hostileNames();
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
    QTest::newRow("3 pages G4") << TiffKind::BitonalG4 << 3;
    QTest::newRow("3 pages RGB JPEG") << TiffKind::RgbJpeg << 3;
}

void EndToEndTest::kinds() {
    QFETCH(TiffKind, kind);
    QFETCH(int, pages);
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("scan.tif"));
    test::writeTiff(input, kind, pages);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString output = f.env.path(QStringLiteral("scan.djvu"));
    QCOMPARE(convert::djvuPageCount(output), std::optional<int>(pages));
    for (int p = 1; p <= pages; ++p)
        verifyPage(output, p);
    QCOMPARE(f.leftInTemp(), QStringList());
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
        // and tiff2pdf converts those two without a word.
        QFile cut(in("trunc.tif"));
        QVERIFY(cut.resize(test::lastDirectoryOffset(in("trunc.tif"))));
    }
    QCOMPARE(convert::tiffPageCount(in("trunc.tif")), std::optional<int>(3));
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
    QCOMPARE(lines[3], QStringLiteral("trunc.tif: 2 of 3 pages converted"));
    QVERIFY2(lines[4].startsWith(QStringLiteral("notes.tif: tiff2pdf: ")), qPrintable(lines[4]));
    QVERIFY2(lines[5].startsWith(QStringLiteral("deep.tif: ")) &&
                 lines[5].contains(QStringLiteral("16 bits")),
             qPrintable(lines[5]));

    QCOMPARE(test::fileBytes(old), QByteArray("older trunc result"));
    QCOMPARE(convert::djvuPageCount(f.env.path(QStringLiteral("out/good1.djvu"))),
             std::optional<int>(1));
    QCOMPARE(convert::djvuPageCount(f.env.path(QStringLiteral("out/good2.djvu"))),
             std::optional<int>(2));
    QVERIFY(!QFile::exists(f.env.path(QStringLiteral("out/notes.djvu"))));
    QVERIFY(!QFile::exists(f.env.path(QStringLiteral("out/deep.djvu"))));
    for (int i = 0; i < inputs.size(); ++i)
        QCOMPARE(test::fileBytes(inputs[i]), before[i]);
    QCOMPARE(f.leftInTemp(), QStringList());
}

void EndToEndTest::hostileNames_data() {
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("C locale") << QByteArray("C");
    QTest::newRow("UTF-8 locale") << QByteArray("C.UTF-8");
}

void EndToEndTest::hostileNames() {
    QFETCH(QByteArray, locale);
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    QVERIFY(std::setlocale(LC_ALL, locale.constData()));
    RunFixture f;
    const QString folder = f.env.path(QStringLiteral("in $HOME \"dir\""));
    QDir().mkpath(folder);
    const QStringList names{QStringLiteral("say \"hi\".tif"),
                            QStringLiteral("$(touch pwned).tif"),
                            QStringLiteral("`touch pwned`.tif"),
                            QStringLiteral("back\\slash\\.tif"),
                            QStringLiteral("new\nline.tif"),
                            QStringLiteral("ünïcödé 文字.tif"),
                            QStringLiteral("semi; touch pwned & x.tif"),
                            QStringLiteral("-o.tif"),
                            QStringLiteral("'single'.tif")};
    for (const QString& name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        test::writeTiff(path, TiffKind::BitonalG4);
        f.add(path);
    }
    f.form->Option2->setChecked(true);
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(f.env.dir());
    f.start();
    QDir::setCurrent(cwd);
    std::setlocale(LC_ALL, previous.c_str());

    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    for (const QString& name : names) {
        const QString output =
            folder + QLatin1Char('/') + name.chopped(4) + QStringLiteral(".djvu");
        QCOMPARE(convert::djvuPageCount(output), std::optional<int>(1));
    }
    for (const QString& file : filesUnder(f.env.dir()))
        QVERIFY2(!file.endsWith(QStringLiteral("/pwned")), qPrintable(file));
    QVERIFY(!QFile::exists(cwd + QStringLiteral("/pwned")));
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
        QCOMPARE(convert::djvuPageCount(djvu), convert::tiffPageCount(shipped.filePath(name)));
    }
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
