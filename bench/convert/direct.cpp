// SPDX-License-Identifier: GPL-3.0-or-later
// The direct encoder (engine/direct.h) against the route through a PDF (tiff2pdf -n -z, then
// pdf2djvu, called directly) and against a bare shell loop of the same DjVuLibre encoders on
// the same pages already written as PBM/PGM/PPM. Pages are made here: A4 with rows of glyph-like
// strokes and specks, as a scanner makes them; the grey and colour pages have a photo-like
// gradient in their bottom third. Per kind: size, wall-clock and processor time, and how far
// the pages are from the TIFF's pixels (pixels changed; for grey and colour the PSNR of the text
// area). `convert IN.tif OUT.djvu` converts one file with the module. The 100 files go through the
// module on two threads, two files at a time, and through the PDF route two at a time.
#include "engine/direct.h"
#include "bench/convert/cpuclock.h"
#include "engine/pagereader.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace vormelle;
using bench::Cost;
using bench::cpuSeconds;
using bench::measure;
using bench::median;

namespace {

qint64 sizeOf(const QStringList& files) {
    qint64 n = 0;
    for (const QString& f : files)
        n += QFileInfo(f).size();
    return n;
}

void shell(const QString& script, const QStringList& arguments) {
    QProcess sh;
    sh.start(QStringLiteral("/bin/sh"),
             QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments);
    if (!sh.waitForFinished(-1) || sh.exitCode() != 0) {
        std::fprintf(stderr, "shell failed: %s\n%s\n", qPrintable(script),
                     sh.readAllStandardError().constData());
        std::exit(1);
    }
}

// The route through a PDF for each TIFF, `jobs` at a time; results beside the inputs' names in
// `out`.
QStringList pdfRoute(const QStringList& tiffs, const QString& out, int jobs) {
    QStringList results;
    for (const QString& t : tiffs)
        results << out + QLatin1Char('/') + QFileInfo(t).completeBaseName() +
                       QStringLiteral(".djvu");
    shell(QStringLiteral("o=$1; j=$2; shift 2; printf '%s\\n' \"$@\" | xargs -P \"$j\" -I{} "
                         "sh -c 'b=$(basename \"$1\" .tif); tiff2pdf -n -z -m 1024 \"$1\" -o "
                         "\"$2/$b.pdf\" >/dev/null 2>&1 && pdf2djvu -o \"$2/$b.djvu\" "
                         "\"$2/$b.pdf\" >/dev/null 2>&1 && rm \"$2/$b.pdf\"' sh {} \"$o\""),
          QStringList{out, QString::number(jobs)} + tiffs);
    return results;
}

// The module on `jobs` threads, each taking the next file.
QStringList direct(const QStringList& tiffs, const QString& out, int jobs) {
    QStringList results;
    for (const QString& t : tiffs)
        results << out + QLatin1Char('/') + QFileInfo(t).completeBaseName() +
                       QStringLiteral(".djvu");
    std::atomic<int> next = 0;
    auto worker = [&](int id) {
        const QString work = out + QStringLiteral("/work%1").arg(id);
        QDir().mkpath(work);
        for (int i = next++; i < tiffs.size(); i = next++) {
            const QString result = work + QStringLiteral("/result.djvu");
            const engine::DirectResult r = engine::encodeDirect(tiffs[i], work, result);
            if (!r.problem.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(tiffs[i]), qPrintable(r.problem));
                std::exit(1);
            }
            QFile::rename(result, results[i]);
        }
    };
    std::vector<std::thread> threads;
    for (int id = 1; id < jobs; ++id)
        threads.emplace_back(worker, id);
    worker(0);
    for (std::thread& t : threads)
        t.join();
    return results;
}

// Writes every page of every TIFF as PBM/PGM/PPM for the bare encoders (not timed); returns
// one line per page: "<encoder> <dpi> <image>", files in order.
QStringList writeImages(const QStringList& tiffs, const QString& folder) {
    QStringList lines;
    int n = 0;
    for (const QString& t : tiffs) {
        engine::TiffPageReader reader(t);
        QStringList pages;
        while (reader.nextPage()) {
            const engine::PageFormat& f = reader.format();
            const bool bitonal = f.kind == engine::PixelKind::Bitonal;
            const QString image = folder + QStringLiteral("/f%1p%2.%3")
                                               .arg(n)
                                               .arg(reader.pageNumber())
                                               .arg(bitonal                             ? "pbm"
                                                    : f.kind == engine::PixelKind::Grey ? "pgm"
                                                                                        : "ppm");
            QFile file(image);
            if (!file.open(QIODevice::WriteOnly))
                std::exit(1);
            file.write(QByteArray(bitonal                             ? "P4"
                                  : f.kind == engine::PixelKind::Grey ? "P5"
                                                                      : "P6") +
                       "\n" + QByteArray::number(f.width) + " " + QByteArray::number(f.height) +
                       (bitonal ? "\n" : "\n255\n"));
            for (int y = 0; y < f.height; ++y)
                file.write(reinterpret_cast<const char*>(reader.nextRow()), reader.rowBytes());
            // Colour pages get the program's full-size colour planes.
            pages << QStringLiteral("%1 %2 %3%4")
                         .arg(bitonal ? "cjb2" : "c44")
                         .arg(f.dpi)
                         .arg(image, f.kind == engine::PixelKind::Colour
                                         ? QStringLiteral(" -crcbfull")
                                         : QString());
        }
        lines << pages.join(QLatin1Char(','));
        ++n;
    }
    return lines;
}

// The bare encoders in a shell loop: each page encoded, a file of several pages bundled.
QStringList bareLoop(const QStringList& lines, const QString& out) {
    QStringList results;
    QString script = QStringLiteral("set -e\ncd \"$1\"\n");
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList pages = lines[i].split(QLatin1Char(','));
        QStringList made;
        for (int p = 0; p < pages.size(); ++p) {
            const QStringList w = pages[p].split(QLatin1Char(' '));
            const QString page = QStringLiteral("b%1p%2.djvu").arg(i).arg(p + 1);
            script += QStringLiteral("%1 -dpi %2 %3 %4 %5\n")
                          .arg(w[0], w[1], w.mid(3).join(QLatin1Char(' ')), w[2], page);
            made << page;
        }
        const QString result = QStringLiteral("b%1.djvu").arg(i);
        if (made.size() > 1)
            script += QStringLiteral("djvm -c %1 %2\n").arg(result, made.join(QLatin1Char(' ')));
        else
            script += QStringLiteral("mv %1 %2\n").arg(made[0], result);
        results << out + QLatin1Char('/') + result;
    }
    shell(script, {out});
    return results;
}

struct Accuracy {
    qint64 changed = 0;  // pixels changed (sizes equal)
    double textPsnr = 0; // dB, the text area (top two thirds)
    QString sizeNote;    // when the pages' sizes differ
};

Accuracy accuracy(const QStringList& tiffs, const QStringList& djvus) {
    Accuracy a;
    for (int i = 0; i < tiffs.size(); ++i) {
        const QList<QImage> ref = test::readTiffPixels(tiffs[i]);
        const QList<test::DjvuPage> got = test::decodeDjvu(djvus[i]);
        for (int p = 0; p < ref.size() && p < got.size(); ++p) {
            if (ref[p].size() != got[p].image.size()) {
                a.sizeNote = QStringLiteral("%1x%2 instead of %3x%4")
                                 .arg(got[p].image.width())
                                 .arg(got[p].image.height())
                                 .arg(ref[p].width())
                                 .arg(ref[p].height());
                continue;
            }
            a.changed += test::differentPixels(ref[p], got[p].image);
            a.textPsnr = test::psnr(ref[p], got[p].image,
                                    QRect(0, 0, ref[p].width(), ref[p].height() * 2 / 3));
        }
    }
    return a;
}

// `pdfFiles` limits the route through a PDF to the first files: it takes many times longer.
void report(const char* kind, qint64 pixels, int jobs, const QStringList& tiffs, const QString& out,
            int pdfFiles = -1) {
    const QString d = out + QStringLiteral("/direct");
    const QString p = out + QStringLiteral("/pdf");
    const QString b = out + QStringLiteral("/bare");
    const QString img = out + QStringLiteral("/images");
    for (const QString& f : {d, p, b, img})
        QDir().mkpath(f);
    QStringList dr, pr, br;
    const Cost dc = measure([&] { dr = direct(tiffs, d, jobs); });
    const QStringList pdfTiffs = pdfFiles < 0 ? tiffs : tiffs.mid(0, pdfFiles);
    Cost pc = measure([&] { pr = pdfRoute(pdfTiffs, p, jobs); });
    const QStringList lines = writeImages(tiffs, img);
    const Cost bc = measure([&] { br = bareLoop(lines, b); });
    qsizetype pages = 0;
    for (const QString& l : lines)
        pages += l.split(QLatin1Char(',')).size();
    const Accuracy da = accuracy(tiffs, dr);
    const Accuracy pa = accuracy(pdfTiffs, pr);
    const qint64 ds = sizeOf(dr);
    // The PDF route's figures scaled to all files when it converted only some.
    const double share = double(tiffs.size()) / double(pdfTiffs.size());
    pc.wall *= share;
    pc.cpu *= share;
    const qint64 ps = qint64(double(sizeOf(pr)) * share);
    const qint64 bs = sizeOf(br);
    std::printf("%s (%d file(s), %d thread(s); via PDF: %d file(s), scaled to all):\n", kind,
                int(tiffs.size()), jobs, int(pdfTiffs.size()));
    std::printf("  direct   %10lld bytes  %7.2f s  cpu %7.2f s  changed %lld of %lld  text %.1f "
                "dB%s\n",
                (long long)ds, dc.wall, dc.cpu, (long long)da.changed, (long long)pixels,
                da.textPsnr, qPrintable(da.sizeNote.isEmpty() ? QString() : " " + da.sizeNote));
    std::printf("  via PDF  %10lld bytes  %7.2f s  cpu %7.2f s  changed %lld  text %.1f dB%s\n",
                (long long)ps, pc.wall, pc.cpu, (long long)pa.changed, pa.textPsnr,
                qPrintable(pa.sizeNote.isEmpty() ? QString() : " page " + pa.sizeNote));
    std::printf("  bare     %10lld bytes  %7.2f s  cpu %7.2f s (encoders only, 1 at a time)\n",
                (long long)bs, bc.wall, bc.cpu);
    std::printf("  ratios: size direct/PDF %.4f, direct/bare %.4f; time PDF/direct %.1f (cpu "
                "%.1f), direct/bare %.3f (cpu %.3f); pages/s direct %.1f, via PDF %.1f\n",
                double(ds) / ps, double(ds) / bs, pc.wall / dc.wall, pc.cpu / dc.cpu,
                dc.wall / bc.wall, dc.cpu / bc.cpu, double(pages) / dc.wall,
                double(pages) / pc.wall);
    std::fflush(stdout);
}

QStringList make(const QString& folder, const QString& name, const QList<test::TiffPage>& pages,
                 int files) {
    QDir().mkpath(folder);
    QStringList tiffs;
    const QString first = folder + QStringLiteral("/%1-001.tif").arg(name);
    test::writeTiffPages(first, pages);
    tiffs << first;
    for (int i = 2; i <= files; ++i) {
        const QString p =
            folder + QStringLiteral("/%1-%2.tif").arg(name).arg(i, 3, 10, QLatin1Char('0'));
        QFile::copy(first, p);
        tiffs << p;
    }
    return tiffs;
}

test::TiffPage a4(test::TiffKind kind, int dpi) {
    test::TiffPage p;
    p.kind = kind;
    p.content = test::TiffContent::Text;
    p.width = 2480 * dpi / 300;
    p.height = 3508 * dpi / 300;
    p.xdpi = p.ydpi = float(dpi);
    p.ink = qRgb(30, 20, 90);
    return p;
}

long peakKiB(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    test::TestEnv env;
    // "convert IN.tif OUT.djvu": one file through the module, to look at its pages.
    if (app.arguments().value(1) == QLatin1String("convert") && argc == 4) {
        const QString work = env.path(QStringLiteral("work"));
        QDir().mkpath(work);
        const engine::DirectResult r =
            engine::encodeDirect(app.arguments()[2], work, work + QStringLiteral("/result.djvu"));
        std::printf("%d page(s) %s\n", r.pages, qPrintable(r.problem));
        return r.problem.isEmpty() &&
                       QFile::rename(work + QStringLiteral("/result.djvu"), app.arguments()[3])
                   ? 0
                   : 1;
    }
    const QString root = env.dir();
    using test::TiffKind;
    // "memory bitonal|grey|colour": one 600 dpi A4 page through the module; the peak memory of
    // this process (the worker) and of the encoder.
    if (app.arguments().value(1) == QLatin1String("memory") && argc == 3) {
        const QString kind = app.arguments()[2];
        const TiffKind k = kind == QLatin1String("colour") ? TiffKind::RgbDeflate
                           : kind == QLatin1String("grey") ? TiffKind::Gray8
                                                           : TiffKind::BitonalG4;
        const QString tiff = root + QStringLiteral("/page.tif");
        test::writeTiffPages(tiff, {a4(k, 600)});
        const long before = peakKiB(RUSAGE_SELF);
        const QString work = root + QStringLiteral("/work");
        QDir().mkpath(work);
        const engine::DirectResult r =
            engine::encodeDirect(tiff, work, work + QStringLiteral("/result.djvu"));
        std::printf("600 dpi A4 %s: %s; peak memory: this process %ld KiB (%ld KiB before "
                    "converting), the encoder %ld KiB\n",
                    qPrintable(kind), r.problem.isEmpty() ? "converted" : qPrintable(r.problem),
                    peakKiB(RUSAGE_SELF), before, peakKiB(RUSAGE_CHILDREN));
        return 0;
    }
    const QStringList only = app.arguments().mid(1);
    auto wanted = [&](const char* k) { return only.isEmpty() || only.contains(QLatin1String(k)); };
    if (wanted("bitonal600")) {
        const auto t = make(root + "/in600", "b600", {a4(TiffKind::BitonalG4, 600)}, 1);
        report("bitonal A4 600 dpi", qint64(4960) * 7016, 1, t, root + "/out600");
        std::printf("  peak memory: this process %ld KiB, largest encoder %ld KiB\n",
                    peakKiB(RUSAGE_SELF), peakKiB(RUSAGE_CHILDREN));
    }
    if (wanted("bitonal300")) {
        const auto t = make(root + "/in300", "b300", {a4(TiffKind::BitonalG4, 300)}, 1);
        report("bitonal A4 300 dpi", qint64(2480) * 3508, 1, t, root + "/out300");
    }
    if (wanted("grey")) {
        const auto t = make(root + "/ingrey", "grey", {a4(TiffKind::Gray8, 300)}, 1);
        report("grey A4 300 dpi", qint64(2480) * 3508, 1, t, root + "/outgrey");
    }
    if (wanted("colour")) {
        const auto t = make(root + "/incolour", "colour", {a4(TiffKind::RgbDeflate, 300)}, 1);
        report("colour A4 300 dpi", qint64(2480) * 3508, 1, t, root + "/outcolour");
    }
    if (wanted("document")) {
        const auto t = make(root + "/indoc", "doc",
                            QList<test::TiffPage>(10, a4(TiffKind::BitonalG4, 300)), 1);
        report("10-page bitonal document, 300 dpi", qint64(2480) * 3508 * 10, 1, t,
               root + "/outdoc");
    }
    if (wanted("files")) {
        const auto t = make(root + "/infiles", "file", {a4(TiffKind::BitonalG4, 300)}, 100);
        report("100 single-page bitonal files, 300 dpi", qint64(2480) * 3508 * 100, 2, t,
               root + "/outfiles", 10);
    }
    std::printf("peak memory: this process %ld KiB, largest child %ld KiB\n", peakKiB(RUSAGE_SELF),
                peakKiB(RUSAGE_CHILDREN));
    return 0;
}
