// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/iff.h"
#include "engine/direct.h"
#include "engine/pagereader.h"
#include "engine/tiffinspect.h"
#include "platform/regularfile.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <thread>

using namespace vormelle;
using test::TiffContent;
using test::TiffKind;
using test::TiffPage;

Q_DECLARE_METATYPE(vormelle::test::TiffPage)

namespace {

TiffPage page(TiffKind kind, TiffContent content, int width, int height, float dpi = 300) {
    TiffPage p;
    p.kind = kind;
    p.content = content;
    p.width = width;
    p.height = height;
    p.xdpi = p.ydpi = dpi;
    p.ink = qRgb(20, 30, 110);
    return p;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The page as the maker drew it, over white.
QImage drawn(const TiffPage& p) {
    QImage image(p.width, p.height, QImage::Format_RGB888);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const QRgb c = test::pagePixel(p, x, y);
            const int a = qAlpha(c);
            auto over = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
            image.setPixel(x, y, qRgb(over(qRed(c)), over(qGreen(c)), over(qBlue(c))));
        }
    }
    return image;
}

struct Converted {
    engine::DirectResult result;
    QString djvu;
    QStringList leftInWork; // what the encoder left in its work folder besides the result
};

Converted convertFile(const test::TestEnv& env, const QString& tiff, const QString& name) {
    const QString work = env.path(name);
    QDir().mkpath(work);
    Converted c;
    c.djvu = work + QStringLiteral("/result.djvu");
    // One picture layer: these pages check what the reader delivers, pixel for pixel;
    // compound pages are tst_engine_compound's.
    c.result =
        engine::encodeDirect(tiff, work, c.djvu, nullptr, nullptr, engine::ColourPages::Layer);
    c.leftInWork = QDir(work).entryList(QDir::Files);
    c.leftInWork.removeAll(QStringLiteral("result.djvu"));
    return c;
}

} // namespace

class DirectTest : public QObject {
    Q_OBJECT
private slots:
    void bitonalExact_data();
    void bitonalExact();
    void greyAndColour_data();
    void greyAndColour();
    void mixedPagesInOrder();
    void bitonalPagesShareShapes();
    void inspectionByRoute_data();
    void inspectionByRoute();
    void problemsNamedAsOnThePdfRoute_data();
    void problemsNamedAsOnThePdfRoute();
    void missingEncoderSaidUpFront();
    void stopKillsTheEncoder();
    void threadsShareNothing();
    void readsTheFileItHolds();
};

void DirectTest::bitonalExact_data() {
    QTest::addColumn<TiffPage>("written");
    const int a4w300 = 2480 / 2; // half an A4 page keeps the suite quick
    const int a4h300 = 3508 / 4;
    for (const auto& [name, kind] :
         {std::pair{"G4", TiffKind::BitonalG4}, std::pair{"G3", TiffKind::BitonalG3},
          std::pair{"LZW", TiffKind::BitonalLzw}, std::pair{"uncompressed", TiffKind::BitonalRaw},
          std::pair{"G4 tiles", TiffKind::BitonalTiled},
          std::pair{"0 is black", TiffKind::BitonalBlack0},
          std::pair{"low bit first", TiffKind::BitonalLsb}}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, noise, 300 dpi").arg(QLatin1String(name))))
            << page(kind, TiffContent::Noise, 333, 250, 300);
        QTest::newRow(qPrintable(QStringLiteral("%1, text, 600 dpi").arg(QLatin1String(name))))
            << page(kind, TiffContent::Text, 2 * a4w300 + 3, 2 * a4h300 / 3, 600);
    }
    QTest::newRow("text, 300 dpi A4 part")
        << page(TiffKind::BitonalG4, TiffContent::Text, a4w300, a4h300, 300);
    QTest::newRow("odd resolution kept")
        << page(TiffKind::BitonalG4, TiffContent::Noise, 97, 61, 203);
    QTest::newRow("no sane resolution")
        << page(TiffKind::BitonalG4, TiffContent::Noise, 97, 61, 10000);
}

// Every pixel of a 1-bit page comes back as it was, at its own size and resolution.
void DirectTest::bitonalExact() {
    QFETCH(TiffPage, written);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    test::writeTiffPages(tiff, {written});
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, QString());
    QCOMPARE(c.result.pages, 1);
    QCOMPARE(c.leftInWork, QStringList());
    const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
    QCOMPARE(pages.size(), 1);
    const QList<QImage> tiffPixels = test::readTiffPixels(tiff);
    QCOMPARE(pages[0].image.size(), QSize(written.width, written.height));
    QCOMPARE(pages[0].dpi, written.xdpi > 2400 ? 300 : int(written.xdpi));
    QCOMPARE(test::differentPixels(pages[0].image, tiffPixels.value(0)), 0);
    // The reference is no blank page either.
    QVERIFY(test::differentPixels(tiffPixels.value(0), drawn(TiffPage{})) != 0);
}

void DirectTest::greyAndColour_data() {
    QTest::addColumn<TiffPage>("written");
    QTest::addColumn<double>("minimum"); // dB, the whole page against libtiff's own pixels
    const double bound = 30;
    for (const auto& [name, kind] :
         {std::pair{"8-bit gray", TiffKind::Gray8}, std::pair{"4-bit gray", TiffKind::Gray4},
          std::pair{"2-bit gray", TiffKind::Gray2}, std::pair{"16-bit gray", TiffKind::Gray16},
          std::pair{"gray JPEG", TiffKind::GrayJpeg},
          std::pair{"gray, one JPEG strip", TiffKind::Gray8Jpeg1Strip},
          std::pair{"RGB Deflate", TiffKind::RgbDeflate},
          std::pair{"YCbCr JPEG strips", TiffKind::RgbJpeg},
          std::pair{"RGB JPEG tiles", TiffKind::RgbTiledJpeg},
          std::pair{"YCbCr JPEG tiles", TiffKind::YcbcrTiledJpeg},
          std::pair{"RGB planes", TiffKind::RgbPlanar}, std::pair{"palette", TiffKind::Palette8},
          std::pair{"CMYK", TiffKind::Cmyk8}, std::pair{"CIE Lab", TiffKind::Lab8}})
        QTest::newRow(name) << page(kind, TiffContent::Text, 420, 300) << bound;
}

// Grey and colour pages keep their size and come close to the TIFF's pixels.
void DirectTest::greyAndColour() {
    QFETCH(TiffPage, written);
    QFETCH(double, minimum);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    test::writeTiffPages(tiff, {written});
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, QString());
    QCOMPARE(c.leftInWork, QStringList());
    const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
    QCOMPARE(pages.size(), 1);
    const QImage reference = test::readTiffPixels(tiff).value(0);
    QCOMPARE(pages[0].image.size(), reference.size());
    const double db = test::psnr(pages[0].image, reference);
    QVERIFY2(db >= minimum, qPrintable(QString::number(db)));
}

// Bitonal, grey and colour pages of one file keep their order, sizes and resolutions; a
// thumbnail is no page.
void DirectTest::mixedPagesInOrder() {
    test::TestEnv env;
    TiffPage thumbnail = page(TiffKind::Gray8, TiffContent::Text, 40, 30, 100);
    thumbnail.reduced = true;
    const QList<TiffPage> written{page(TiffKind::BitonalG4, TiffContent::Text, 301, 211, 300),
                                  page(TiffKind::Gray8, TiffContent::Text, 150, 107, 150),
                                  thumbnail,
                                  page(TiffKind::RgbDeflate, TiffContent::Text, 402, 223, 600),
                                  page(TiffKind::BitonalG3, TiffContent::Noise, 199, 121, 200)};
    const QString tiff = env.path(QStringLiteral("mixed.tif"));
    test::writeTiffPages(tiff, written);
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, QString());
    QCOMPARE(c.result.pages, 4);
    QCOMPARE(c.leftInWork, QStringList());
    const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
    const QList<QImage> reference = test::readTiffPixels(tiff);
    QCOMPARE(pages.size(), 4);
    QCOMPARE(reference.size(), 4);
    const QList<int> dpis{300, 150, 600, 200};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(pages[i].image.size(), reference[i].size());
        QCOMPARE(pages[i].dpi, dpis[i]);
    }
    QCOMPARE(test::differentPixels(pages[0].image, reference[0]), 0);
    QCOMPARE(test::differentPixels(pages[3].image, reference[3]), 0);
    QVERIFY(test::psnr(pages[1].image, reference[1]) > 30);
    QVERIFY(test::psnr(pages[2].image, reference[2]) > 30);

    // The same file again gives the same bytes.
    const Converted again = convertFile(env, tiff, QStringLiteral("again"));
    QCOMPARE(again.result.problem, QString());
    QVERIFY(bytesOf(c.djvu) == bytesOf(again.djvu));
    const QString single = env.path(QStringLiteral("single.tif"));
    test::writeTiffPages(single, {written[3]});
    const Converted one = convertFile(env, single, QStringLiteral("one"));
    const Converted oneAgain = convertFile(env, single, QStringLiteral("one-again"));
    QCOMPARE(one.result.pages, 1);
    QVERIFY(bytesOf(one.djvu) == bytesOf(oneAgain.djvu));
}

// The bitonal pages of a document, among a grey one, share one dictionary of shapes: a
// FORM:DJVI with a Djbz that the bitonal pages include. Every page decodes as it was, in order.
void DirectTest::bitonalPagesShareShapes() {
    test::TestEnv env;
    const QList<TiffPage> written{page(TiffKind::BitonalG4, TiffContent::Text, 620, 420, 300),
                                  page(TiffKind::Gray8, TiffContent::Text, 150, 107, 150),
                                  page(TiffKind::BitonalLzw, TiffContent::Text, 620, 420, 300),
                                  page(TiffKind::BitonalG4, TiffContent::Text, 500, 380, 300)};
    const QString tiff = env.path(QStringLiteral("book.tif"));
    test::writeTiffPages(tiff, written);
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, QString());
    QCOMPARE(c.result.pages, 4);
    QCOMPARE(c.leftInWork, QStringList());
    QCOMPARE(c.result.profiles.size(), 4);
    QVERIFY(c.result.profiles[2].startsWith(QStringLiteral("page 3: bitonal, mask ")));

    const QByteArray file = bytesOf(c.djvu);
    const std::optional<codec::Chunk> form = codec::parseFile(
        reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()));
    QVERIFY(form && form->formType() == "DJVM");
    QStringList components;
    for (const codec::Chunk& child : form->children()) {
        if (!child.isForm())
            continue;
        QString kind = QString::fromStdString(child.formType());
        if (child.find("Djbz"))
            kind += QStringLiteral("+Djbz");
        if (child.find("INCL"))
            kind += QStringLiteral("+INCL");
        components << kind;
    }
    QCOMPARE(components, (QStringList{"DJVI+Djbz", "DJVU+INCL", "DJVU", "DJVU+INCL", "DJVU+INCL"}));

    const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
    const QList<QImage> reference = test::readTiffPixels(tiff);
    QCOMPARE(pages.size(), 4);
    for (const int i : {0, 2, 3})
        QCOMPARE(test::differentPixels(pages[i].image, reference[i]), 0);
    QVERIFY(test::psnr(pages[1].image, reference[1]) > 30);
    const Converted again = convertFile(env, tiff, QStringLiteral("again"));
    QVERIFY(bytesOf(c.djvu) == bytesOf(again.djvu));
}

void DirectTest::inspectionByRoute_data() {
    QTest::addColumn<TiffPage>("written");
    QTest::addColumn<QString>("pdfProblem");
    auto alpha = [](TiffKind kind, int inkAlpha) {
        TiffPage p = page(kind, TiffContent::Text, 160, 120);
        p.inkAlpha = inkAlpha;
        return p;
    };
    const QString noAlpha = QStringLiteral("alpha channel is not supported");
    QTest::newRow("RGB, half transparent ink") << alpha(TiffKind::RgbAlpha, 128) << noAlpha;
    QTest::newRow("RGB, invisible ink") << alpha(TiffKind::RgbAlpha, 0) << noAlpha;
    QTest::newRow("RGB, associated alpha") << alpha(TiffKind::RgbAssocAlpha, 100) << noAlpha;
    QTest::newRow("gray, half transparent ink") << alpha(TiffKind::GrayAlpha, 128) << noAlpha;
    QTest::newRow("16-bit gray") << page(TiffKind::Gray16, TiffContent::Text, 160, 120)
                                 << QStringLiteral("16-bit samples are not supported");
}

// What the PDF route refuses, the direct route converts; alpha is laid over white.
void DirectTest::inspectionByRoute() {
    QFETCH(TiffPage, written);
    QFETCH(QString, pdfProblem);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    test::writeTiffPages(tiff, {written});
    QCOMPARE(engine::inspectTiff(tiff).problem, pdfProblem);
    const engine::TiffInspection direct = engine::inspectTiff(tiff, engine::Route::Direct);
    QCOMPARE(direct.problem, QString());
    QCOMPARE(direct.pages, 1);
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, QString());
    const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
    QCOMPARE(pages.size(), 1);
    QImage expected = drawn(written);
    if (written.kind == TiffKind::GrayAlpha || written.kind == TiffKind::Gray16)
        expected = expected.convertToFormat(QImage::Format_Grayscale8);
    const double db = test::psnr(pages[0].image, expected);
    QVERIFY2(db >= 30, qPrintable(QString::number(db)));
}

void DirectTest::problemsNamedAsOnThePdfRoute_data() {
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("problem");
    QTest::newRow("damaged single page") << 1 << "data"
                                         << "the image data is damaged";
    QTest::newRow("damaged first of three") << 3 << "data"
                                            << "page 1: the image data is damaged";
    QTest::newRow("third page cut off") << 3 << "cut"
                                        << "page 3 cannot be read";
    QTest::newRow("not a TIFF") << 1 << "text"
                                << "not a TIFF file";
    QTest::newRow("empty") << 1 << "empty"
                           << "the file is empty";
}

// A page that cannot be read is named as the inspection names it, and nothing is left behind.
void DirectTest::problemsNamedAsOnThePdfRoute() {
    QFETCH(int, pages);
    QFETCH(QString, damage);
    QFETCH(QString, problem);
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("in.tif"));
    test::writeTiffPages(
        tiff, QList<TiffPage>(pages, page(TiffKind::BitonalG4, TiffContent::Noise, 300, 200)));
    if (damage == QLatin1String("data")) {
        test::damageImageData(tiff);
    } else if (damage == QLatin1String("cut")) {
        QVERIFY(QFile::resize(tiff, test::lastDirectoryOffset(tiff)));
    } else {
        QFile f(tiff);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (damage == QLatin1String("text"))
            f.write("plain text\n");
    }
    QCOMPARE(engine::inspectTiff(tiff).problem, problem);
    QCOMPARE(engine::inspectTiff(tiff, engine::Route::Direct).problem, problem);
    const Converted c = convertFile(env, tiff, QStringLiteral("work"));
    QCOMPARE(c.result.problem, problem);
    QCOMPARE(c.result.pages, 0);
    QVERIFY(!QFile::exists(c.djvu));
    QCOMPARE(c.leftInWork, QStringList());
}

// Bitonal pages need no program: with cjb2 missing they are still coded, exactly, by the codec.
// Without c44 or djvumake the route is refused before anything is converted.
void DirectTest::missingEncoderSaidUpFront() {
    QCOMPARE(engine::directEncoderProblem(), QString());
    for (const char* missing : {"cjb2", "c44", "djvumake"}) {
        test::TestEnv env;
        const QString bin = env.path(QStringLiteral("bin"));
        QDir().mkpath(bin);
        for (const char* tool : {"cjb2", "c44", "djvumake"}) {
            if (qstrcmp(tool, missing) != 0)
                QVERIFY(QFile::link(QStandardPaths::findExecutable(QLatin1String(tool)),
                                    bin + QLatin1Char('/') + QLatin1String(tool)));
        }
        const QByteArray path = qgetenv("PATH");
        const QString tiff = env.path(QStringLiteral("in.tif"));
        test::writeTiffPages(tiff, {page(TiffKind::BitonalG4, TiffContent::Text, 600, 400, 300),
                                    page(TiffKind::BitonalLzw, TiffContent::Noise, 123, 77, 300)});
        qputenv("PATH", bin.toUtf8());
        const QString problem = engine::directEncoderProblem();
        const Converted c = convertFile(env, tiff, QStringLiteral("work"));
        qputenv("PATH", path);
        if (qstrcmp(missing, "cjb2") != 0) {
            QCOMPARE(problem, QStringLiteral("Nothing was converted: %1 was not found. DjVuLibre's "
                                             "encoders c44 and djvumake must be on the PATH for "
                                             "grey and colour pages (Debian's package "
                                             "djvulibre-bin).")
                                  .arg(QLatin1String(missing)));
            continue;
        }
        QCOMPARE(problem, QString());
        QCOMPARE(c.result.problem, QString());
        QCOMPARE(c.result.pages, 2);
        const QList<test::DjvuPage> pages = test::decodeDjvu(c.djvu);
        const QList<QImage> tiffPixels = test::readTiffPixels(tiff);
        QCOMPARE(pages.size(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(test::differentPixels(pages[i].image, tiffPixels.value(i)), 0);
        QStringList tools;
        for (const engine::Step& step : c.result.steps)
            tools << step.tool;
        QVERIFY2(tools.count(QStringLiteral("JB2 coder")) == 2, qPrintable(tools.join(", ")));
        QVERIFY(!tools.contains(QStringLiteral("cjb2")));
    }
}

// A stop raised while c44 works on a large page ends it; nothing is left.
void DirectTest::stopKillsTheEncoder() {
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("big.tif"));
    test::writeTiffPages(tiff, {page(TiffKind::RgbDeflate, TiffContent::Noise, 4000, 5000)});
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    std::atomic<bool> stop = false;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const engine::DirectResult r =
        engine::encodeDirect(tiff, work, work + QStringLiteral("/result.djvu"), &stop);
    stopper.join();
    QVERIFY(r.stopped);
    QCOMPARE(r.problem, QStringLiteral("the conversion was stopped"));
    QCOMPARE(QDir(work).entryList(QDir::Files), QStringList());
}

// Two conversions at once, each in its own folder, give what one at a time gives.
void DirectTest::threadsShareNothing() {
    test::TestEnv env;
    const QString a = env.path(QStringLiteral("a.tif"));
    const QString b = env.path(QStringLiteral("b.tif"));
    test::writeTiffPages(a, {page(TiffKind::BitonalG4, TiffContent::Text, 600, 400),
                             page(TiffKind::RgbJpeg, TiffContent::Text, 300, 200)});
    test::writeTiffPages(b, {page(TiffKind::Gray8, TiffContent::Text, 500, 300)});
    Converted together[2];
    std::thread other([&] { together[1] = convertFile(env, b, QStringLiteral("b1")); });
    together[0] = convertFile(env, a, QStringLiteral("a1"));
    other.join();
    const Converted alone[2] = {convertFile(env, a, QStringLiteral("a2")),
                                convertFile(env, b, QStringLiteral("b2"))};
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(together[i].result.problem, QString());
        QVERIFY(bytesOf(together[i].djvu) == bytesOf(alone[i].djvu));
    }
    QCOMPARE(together[0].result.pages, 2);
}

// A FIFO put in the file's place after it was opened is never read: the pages come from the
// open file.
void DirectTest::readsTheFileItHolds() {
    test::TestEnv env;
    const QString tiff = env.path(QStringLiteral("a.tif"));
    test::writeTiff(tiff, TiffKind::BitonalG4, 2, 160, 240);
    const platform::RegularFile held(tiff);
    QCOMPARE(engine::inspectTiff(held, engine::Route::Direct).pages, 2);
    const QString fifo = env.path(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(::rename(QFile::encodeName(fifo).constData(), QFile::encodeName(tiff).constData()), 0);
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const engine::DirectResult r =
        engine::encodeDirect(held, work, work + QStringLiteral("/result.djvu"));
    QCOMPARE(r.problem, QString());
    QCOMPARE(r.pages, 2);
    QCOMPARE(test::djvuPageSize(work + QStringLiteral("/result.djvu"), 2), QSize(160, 240));
}

QTEST_GUILESS_MAIN(DirectTest)
#include "tst_direct.moc"
