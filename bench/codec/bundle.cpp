// SPDX-License-Identifier: GPL-3.0-or-later
// Bundling N page files into one document: DocumentWriter against `djvm -c`, processor time of
// each (djvm's as a child), medians of rounds that alternate which goes first. Both results are
// checked with `djvm -l`. Then the writer alone on a document of more pages than djvm's argument
// list allows.
//   vormelle-bench-bundle [pages]    (default 1000)
#include "bench/convert/cpuclock.h"
#include "codec/document.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace vormelle;

namespace {

bool run(const QString& program, const QStringList& arguments, const QString& folder,
         QByteArray* output = nullptr) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1))
        return false;
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int listedPages(const QString& djvu) {
    QByteArray out;
    return run(QStringLiteral("djvm"), {QStringLiteral("-l"), djvu}, QFileInfo(djvu).path(), &out)
               ? int(out.count("PAGE #"))
               : -1;
}

// Ten different text-like 300 dpi pages from cjb2, copied to `pages` page files.
QStringList makePages(const QString& folder, int pages) {
    QStringList made;
    for (int k = 0; k < 10; ++k) {
        const int w = 2480, h = 600;
        QByteArray pbm = "P4\n" + QByteArray::number(w) + ' ' + QByteArray::number(h) + '\n';
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w / 8; ++x)
                pbm += char(((y / 12) % 3 == 0 && (x * 7 + k) % 11 < 6) ? (0x5a ^ (y * 3 + x)) : 0);
        const QString image = folder + QStringLiteral("/src%1.pbm").arg(k);
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(pbm) != pbm.size())
            return {};
        f.close();
        const QString page = folder + QStringLiteral("/src%1.djvu").arg(k);
        if (!run(QStringLiteral("cjb2"), {image, page}, folder))
            return {};
        made << page;
    }
    QStringList files;
    for (int i = 0; i < pages; ++i) {
        const QString name = QStringLiteral("p%1.djvu").arg(i + 1, 5, 10, QLatin1Char('0'));
        if (!QFile::copy(made[i % 10], folder + QLatin1Char('/') + name))
            return {};
        files << name;
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pages = argc > 1 ? std::max(2, atoi(argv[1])) : 1000;
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QStringList files = makePages(folder, pages);
    if (files.isEmpty()) {
        std::fprintf(stderr, "could not make the pages (cjb2 missing?)\n");
        return 1;
    }

    std::vector<double> ours, theirs;
    qint64 ourBytes = 0, theirBytes = 0;
    for (int round = 0; round < 6; ++round) {
        const bool djvm = round % 2 == (round / 2) % 2; // ABBA order
        const QString out =
            folder + (djvm ? QStringLiteral("/djvm.djvu") : QStringLiteral("/ours.djvu"));
        QFile::remove(out);
        if (djvm) {
            const double before = bench::cpuSecondsOf(RUSAGE_CHILDREN);
            if (!run(QStringLiteral("djvm"), QStringList{QStringLiteral("-c"), out} + files,
                     folder)) {
                std::fprintf(stderr, "djvm failed\n");
                return 1;
            }
            theirs.push_back(bench::cpuSecondsOf(RUSAGE_CHILDREN) - before);
            theirBytes = QFileInfo(out).size();
        } else {
            const double before = bench::ownCpuSeconds();
            codec::DocumentWriter doc;
            for (const QString& f : files) {
                if (doc.addFile(folder + QLatin1Char('/') + f) != codec::Error::None)
                    return 1;
            }
            if (doc.finishFile(out) != codec::Error::None)
                return 1;
            ours.push_back(bench::ownCpuSeconds() - before);
            ourBytes = QFileInfo(out).size();
        }
    }
    const int ourPages = listedPages(folder + QStringLiteral("/ours.djvu"));
    const int theirPages = listedPages(folder + QStringLiteral("/djvm.djvu"));
    const double a = bench::median(ours), b = bench::median(theirs);
    std::printf("bundle %d pages: processor time djvm / ours %.1f (djvm %.3f s, ours %.3f s); "
                "bytes ours / djvm %.4f (%lld / %lld); pages listed %d and %d\n",
                pages, b / a, b, a, double(ourBytes) / double(theirBytes), (long long)ourBytes,
                (long long)theirBytes, ourPages, theirPages);
    if (ourPages != pages || theirPages != pages)
        return 1;

    // Past the argument list: 36,000 pages, issue 25's figure for a short temporary path. Tiny
    // pages, so that the disk holds them: what is measured is the writer's work per page.
    const int many = 36000;
    QFile tiny(folder + QStringLiteral("/tiny.pbm"));
    const QByteArray tinyPbm = QByteArray("P4\n16 16\n") + QByteArray(32, '\x5a');
    if (!tiny.open(QIODevice::WriteOnly) || tiny.write(tinyPbm) != tinyPbm.size())
        return 1;
    tiny.close();
    if (!run(QStringLiteral("cjb2"), {tiny.fileName(), folder + QStringLiteral("/tiny.djvu")},
             folder))
        return 1;
    QStringList paths;
    for (int i = 0; i < many; ++i)
        paths << folder + QStringLiteral("/tiny.djvu");
    const double before = bench::ownCpuSeconds();
    codec::DocumentWriter doc;
    for (const QString& p : paths) {
        if (doc.addFile(p) != codec::Error::None)
            return 1;
    }
    const QString big = folder + QStringLiteral("/many.djvu");
    if (doc.finishFile(big) != codec::Error::None)
        return 1;
    const double cost = bench::ownCpuSeconds() - before;
    const int listed = listedPages(big);
    std::printf("writer alone, %d pages: %.2f s processor time, %lld bytes, pages listed %d\n",
                many, cost, (long long)QFileInfo(big).size(), listed);
    return listed == many ? 0 : 1;
}
