// SPDX-License-Identifier: GPL-3.0-or-later
// Compound pages: the direct route's grey and colour pages as the program codes them now,
// beside one c44 layer of the same page, beside c44 squeezed to the compound page's bytes
// (c44 -size), and beside the program itself with --colour-pages layer. Per page: bytes per layer,
// Tesseract's word recall on the decoded page against the same on the TIFF, PSNR of photographs,
// charts and bare paper, processor time and peak memory of the child that coded it (GNU time:
// the child and everything it ran).

#include "engine/ocr.h"
#include "tests/engine/compoundpage.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/textpage.h"
#include "tests/engine/tiffmaker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vormelle;

namespace {

struct ChildCost {
    double cpu = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs a program to its end; its processor time and peak memory, its descendants' included.
// GNU time measures them: a child spawned by this process would start with this process's
// memory counted as its own peak (the bench holds decoded pages).
ChildCost runChild(const QStringList& command) {
    QTemporaryFile report;
    report.open();
    QStringList timed{QStringLiteral("/usr/bin/time"), QStringLiteral("-f"),
                      QStringLiteral("%U %S %M"), QStringLiteral("-o"), report.fileName()};
    timed += command;
    std::vector<QByteArray> bytes;
    for (const QString& a : timed)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    ChildCost cost;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        // The last line: a failing child's status line comes first.
        const QStringList lines =
            QString::fromLatin1(report.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList f = lines.value(lines.size() - 1).split(QLatin1Char(' '));
        if (f.size() == 3) {
            cost.cpu = f[0].toDouble() + f[1].toDouble();
            cost.peakKiB = f[2].toLong();
        }
    }
    return cost;
}

QString chunks(const QString& djvu) {
    QProcess p;
    p.start(QStringLiteral("djvudump"), {djvu});
    p.waitForFinished(-1);
    QStringList out;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        const QString t = line.trimmed();
        for (const char* id : {"Sjbz", "FG44", "FGbz", "BG44"}) {
            if (t.startsWith(QLatin1String(id))) {
                const QString size = t.section(QLatin1Char('['), 1).section(QLatin1Char(']'), 0, 0);
                out << QStringLiteral("%1 %2").arg(QLatin1String(id), size);
            }
        }
    }
    return out.join(QStringLiteral(", "));
}

double recall(engine::Recognizer& ocr, const QImage& page, const QStringList& words) {
    if (words.isEmpty())
        return -1;
    const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    const engine::PageText text =
        ocr.recognize(grey.constBits(), grey.width(), grey.height(), 1, grey.bytesPerLine(), 300);
    QStringList found;
    for (const engine::OcrWord& w : text.words())
        found << w.text;
    return 100 * test::wordRecall(words, found);
}

double worstPsnr(const QImage& a, const QImage& b, const QList<QRect>& areas) {
    double worst = -1;
    for (const QRect& r : areas) {
        const double p = test::psnr(a, b, r.adjusted(4, 4, -4, -4));
        if (worst < 0 || p < worst)
            worst = p;
    }
    return worst;
}

QString figure(double v) {
    return v < 0 ? QStringLiteral("-") : QString::number(v, 'f', 1);
}

struct Bench {
    QString folder;
    QString program;
    engine::Recognizer ocr{QStringLiteral("eng"), QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR)};

    QString only;

    void page(const char* name, const test::PageRecipe& recipe, bool grey, int jpeg) {
        if (!only.isEmpty() && only != QLatin1String(name))
            return;
        const test::PaintedPage painted = test::paintPage(recipe);
        const QString base = folder + QLatin1Char('/') + QLatin1String(name);
        const QString tiff = base + QStringLiteral(".tif");
        test::writePageTiff(tiff, {painted.image}, grey, jpeg);
        const QImage source = test::readTiffPixels(tiff).value(0);
        const QString image = base + (grey ? QStringLiteral(".pgm") : QStringLiteral(".ppm"));
        source.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888)
            .save(image);

        const QString out = folder + QStringLiteral("/out");
        QDir().mkpath(out);
        const ChildCost compound = runChild(
            {program, QStringLiteral("--convert"), QStringLiteral("--encoder"),
             QStringLiteral("direct"), QStringLiteral("--colour-pages"), QStringLiteral("compound"),
             QStringLiteral("--jobs"), QStringLiteral("1"), QStringLiteral("--output"), out, tiff});
        const QString layerOut = folder + QStringLiteral("/out-layer");
        QDir().mkpath(layerOut);
        const ChildCost programLayer =
            runChild({program, QStringLiteral("--convert"), QStringLiteral("--encoder"),
                      QStringLiteral("direct"), QStringLiteral("--colour-pages"),
                      QStringLiteral("layer"), QStringLiteral("--jobs"), QStringLiteral("1"),
                      QStringLiteral("--output"), layerOut, tiff});
        const QString compoundDjvu =
            out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".djvu");
        const QString layer = base + QStringLiteral("-layer.djvu");
        QStringList c44{QStringLiteral("c44"), QStringLiteral("-dpi"), QStringLiteral("300")};
        if (!grey)
            c44 << QStringLiteral("-crcbfull");
        const ChildCost one = runChild(c44 + QStringList{image, layer});
        const qint64 compoundBytes = QFileInfo(compoundDjvu).size();
        const QString squeezed = base + QStringLiteral("-squeezed.djvu");
        runChild(c44 + QStringList{QStringLiteral("-size"), QString::number(compoundBytes), image,
                                   squeezed});

        const QImage dCompound = test::decodeDjvu(compoundDjvu).value(0).image;
        const QImage dLayer = test::decodeDjvu(layer).value(0).image;
        const QImage dSqueezed = test::decodeDjvu(squeezed).value(0).image;
        const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
        const qint64 layerBytes = QFileInfo(layer).size();
        std::printf("%s (%s%s): compound %lld B [%s], %.3f of one layer (%lld B); squeezed c44 "
                    "%lld B\n",
                    name, grey ? "grey" : "colour", jpeg ? ", JPEG TIFF" : "",
                    static_cast<long long>(compoundBytes), qPrintable(chunks(compoundDjvu)),
                    double(compoundBytes) / double(qMax<qint64>(1, layerBytes)),
                    static_cast<long long>(layerBytes),
                    static_cast<long long>(QFileInfo(squeezed).size()));
        std::printf("  OCR recall %%: TIFF %s, compound %s, one layer %s, squeezed %s\n",
                    qPrintable(figure(recall(ocr, rgb, painted.words))),
                    qPrintable(figure(recall(ocr, dCompound, painted.words))),
                    qPrintable(figure(recall(ocr, dLayer, painted.words))),
                    qPrintable(figure(recall(ocr, dSqueezed, painted.words))));
        std::printf("  PSNR dB charts: compound %s, one layer %s, squeezed %s\n",
                    qPrintable(figure(worstPsnr(rgb, dCompound, recipe.charts))),
                    qPrintable(figure(worstPsnr(rgb, dLayer, recipe.charts))),
                    qPrintable(figure(worstPsnr(rgb, dSqueezed, recipe.charts))));
        std::printf("  PSNR dB photos: compound %s, one layer %s, squeezed %s; paper: compound %s, "
                    "one layer %s, squeezed %s\n",
                    qPrintable(figure(worstPsnr(rgb, dCompound, painted.photos))),
                    qPrintable(figure(worstPsnr(rgb, dLayer, painted.photos))),
                    qPrintable(figure(worstPsnr(rgb, dSqueezed, painted.photos))),
                    qPrintable(figure(worstPsnr(rgb, dCompound, painted.flats))),
                    qPrintable(figure(worstPsnr(rgb, dLayer, painted.flats))),
                    qPrintable(figure(worstPsnr(rgb, dSqueezed, painted.flats))));
        std::printf("  processor s: program %.2f, c44 %.2f (%.2fx), program with one layer %.2f "
                    "(%.2fx); peak MiB: program %.0f, c44 %.0f, program with one layer %.0f "
                    "(exit %d)\n",
                    compound.cpu, one.cpu, compound.cpu / qMax(0.001, one.cpu), programLayer.cpu,
                    compound.cpu / qMax(0.001, programLayer.cpu), double(compound.peakKiB) / 1024,
                    double(one.peakKiB) / 1024, double(programLayer.peakKiB) / 1024,
                    compound.status);
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QTemporaryDir work;
    Bench bench;
    bench.folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : work.path();
    QDir().mkpath(bench.folder);
    bench.only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    bench.program = QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR "/vormelle");
    bench.page("magazine", test::magazinePage(), false, 90);
    bench.page("bookplate", test::bookPlatePage(), true, 0);
    bench.page("greytext", test::greyTextPage(), true, 85);
    bench.page("chart", test::chartPage(), false, 0);
    bench.page("photo", test::photoPage(), false, 90);

    if (!bench.only.isEmpty())
        return 0;
    // Two pages in one file: a colour plate, then a bitonal page.
    const QString mixed = bench.folder + QStringLiteral("/mixed.tif");
    test::TextPageLayout layout;
    layout.lines = test::knownLines(51, 30, 10);
    layout.width = 2480;
    layout.height = 3508;
    const test::TextPage bitonal = test::paintTextPage(layout);
    const test::PaintedPage plate = test::paintPage(test::magazinePage());
    test::writePageTiff(mixed, {plate.image}, false, 0);
    const QString bitonalTiff = bench.folder + QStringLiteral("/mixed-2.tif");
    test::writeTextTiff(bitonalTiff, {bitonal}, true);
    const QString joined = bench.folder + QStringLiteral("/mixed2.tif");
    runChild({QStringLiteral("tiffcp"), mixed, bitonalTiff, joined});
    const QString out = bench.folder + QStringLiteral("/out");
    const ChildCost cost =
        runChild({bench.program, QStringLiteral("--convert"), QStringLiteral("--encoder"),
                  QStringLiteral("direct"), QStringLiteral("--output"), out, joined});
    const QList<test::DjvuPage> pages = test::decodeDjvu(out + QStringLiteral("/mixed2.djvu"));
    std::printf("mixed (colour plate, bitonal page): %lld B, %lld pages, processor %.2f s, peak "
                "%.0f MiB, bitonal page pixels changed %lld\n",
                static_cast<long long>(QFileInfo(out + QStringLiteral("/mixed2.djvu")).size()),
                static_cast<long long>(pages.size()), cost.cpu, double(cost.peakKiB) / 1024,
                static_cast<long long>(
                    pages.size() == 2
                        ? test::differentPixels(
                              pages[1].image, bitonal.image.convertToFormat(QImage::Format_RGB888))
                        : -1));
    return 0;
}
