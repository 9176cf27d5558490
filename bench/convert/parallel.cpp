// SPDX-License-Identifier: GPL-3.0-or-later
// Every core at work. Three figures, each against a baseline measured in the same run:
//  - 40 bitonal 300 dpi A4 pages, one file each: the program (the real window, headless, the
//    real converters) with the default "Jobs", and with "Jobs" = 1, against the two converter
//    commands run back to back by a shell loop. Targets: at least 1.8 times as fast with the
//    default on a 2-core machine; at most 1.03 times the loop with one job.
//  - One file of 30 pages: the default "Jobs" (two page ranges side by side) against "Jobs" = 1.
//    Target: at least 1.6 times as fast.
//  - Peak memory of the program and its converters together, sampled from /proc, against one
//    bare pdf2djvu run of the same page. Target: at most N times that, plus 100 MB.
// Wall-clock medians over rounds that alternate which side goes first.

#include "app/controls.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "bench/convert/cpuclock.h"
#include "engine/engine.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vormelle;
using bench::measure;
using bench::median;

namespace {

constexpr int kFiles = 40;
constexpr int kPagesInOneFile = 30;
constexpr int kRounds = 3;

// The resident memory of this process and all its descendants, in bytes.
qint64 treeResidentBytes() {
    QHash<int, int> parent;
    QHash<int, qint64> resident;
    const long page = ::sysconf(_SC_PAGESIZE);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const int pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 22)
            continue;
        parent.insert(pid, fields[1].toInt());
        resident.insert(pid, fields[21].toLongLong() * page);
    }
    const int self = int(::getpid());
    qint64 total = 0;
    for (auto it = resident.cbegin(); it != resident.cend(); ++it) {
        for (int p = it.key(); p > 1; p = parent.value(p, 0)) {
            if (p == self) {
                total += it.value();
                break;
            }
        }
    }
    return total;
}

// Samples treeResidentBytes every 10 ms while it lives; peak() is the largest.
class PeakSampler final {
public:
    PeakSampler()
        : m_thread([this] {
              while (!m_done.load()) {
                  m_peak = std::max<qint64>(m_peak.load(), treeResidentBytes());
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    ~PeakSampler() { stop(); }
    PeakSampler(const PeakSampler&) = delete;
    PeakSampler& operator=(const PeakSampler&) = delete;
    qint64 peak() {
        stop();
        return m_peak.load();
    }

private:
    void stop() {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<bool> m_done{false};
    std::atomic<qint64> m_peak{0};
    std::thread m_thread;
};

void fail(const QString& what) {
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

double shellLoop(const QString& in, const QString& out, const QString& scratch) {
    const QString script = QStringLiteral(
        "for f in \"$1\"/*.tif; do\n"
        "  b=${f##*/}; b=${b%.*}\n"
        "  tiff2pdf -n -z -m 1024 \"$f\" -o \"$3/pdf_temp.pdf\" >/dev/null 2>&1 &&\n"
        "  pdf2djvu -o \"$2/$b.djvu\" -d 300 \"$3/pdf_temp.pdf\" >/dev/null 2>&1 || exit 1\n"
        "done\n");
    QProcess sh;
    return measure([&] {
               sh.start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"), script, QStringLiteral("sh"), in, out, scratch});
               if (!sh.waitForFinished(-1) || sh.exitCode() != 0)
                   fail(QStringLiteral("the shell loop failed"));
           })
        .wall;
}

struct ProgramRun {
    double seconds = 0;
    qint64 peak = 0;
};

// The real window converts `inputs` into `out` with "Jobs" = `jobs` ("" for the default). Peak
// memory is sampled only when asked: walking /proc every 10 ms costs time of its own.
ProgramRun program(const QStringList& inputs, const QString& out, const QString& jobs,
                   bool samplePeak = false, bool direct = false) {
    test::RunFixture f;
    paths::setProgramFolder(QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
    settings::SaveSetting(QStringLiteral("Jobs"), jobs);
    for (const QString& p : inputs)
        f.add(p);
    f.form->Option1->setChecked(true);
    (direct ? f.form->Option3 : f.form->Option4)->setChecked(true);
    f.form->Text1->setText(out);
    ProgramRun run;
    std::optional<PeakSampler> sampler;
    if (samplePeak)
        sampler.emplace();
    run.seconds = measure([&] { f.start(); }).wall;
    run.peak = sampler ? sampler->peak() : 0;
    if (f.lastBox() != QStringLiteral("Done."))
        fail(QStringLiteral("the run did not convert everything:\n") + f.lastBox());
    return run;
}

// The peak resident memory of one bare pdf2djvu run on the PDF of `tiff`.
qint64 barePdf2djvuPeak(const QString& tiff, const QString& scratch) {
    const QString pdf = scratch + QStringLiteral("/one.pdf");
    QProcess::execute(QStringLiteral("tiff2pdf"), {QStringLiteral("-n"), QStringLiteral("-z"), tiff,
                                                   QStringLiteral("-o"), pdf});
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    QProcess::execute(QStringLiteral("pdf2djvu"),
                      {QStringLiteral("-q"), QStringLiteral("-d"), QStringLiteral("300"),
                       QStringLiteral("-o"), scratch + QStringLiteral("/one.djvu"), pdf});
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    return qint64(after.ru_maxrss) * 1024;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    test::TestEnv env;
    // `vormelle-bench-parallel files`: 100 single-page text-like bitonal files through the window
    // with two jobs, on the direct route and through the PDF (its first 10, scaled to 100).
    if (argc > 1 && qstrcmp(argv[1], "files") == 0) {
        test::TiffPage page;
        page.kind = test::TiffKind::BitonalG4;
        page.content = test::TiffContent::Text;
        page.width = 2480;
        page.height = 3508;
        page.xdpi = page.ydpi = 300;
        QStringList files;
        QDir().mkpath(env.path(QStringLiteral("files")));
        for (int i = 1; i <= 100; ++i) {
            files << env.path(QStringLiteral("files/f%1.tif").arg(i, 3, 10, QLatin1Char('0')));
            test::writeTiffPages(files.last(), {page});
        }
        QDir().mkpath(env.path(QStringLiteral("direct")));
        QDir().mkpath(env.path(QStringLiteral("pdf")));
        const double direct =
            program(files, env.path(QStringLiteral("direct")), QStringLiteral("2"), false, true)
                .seconds;
        const double pdf =
            program(files.mid(0, 10), env.path(QStringLiteral("pdf")), QStringLiteral("2"))
                .seconds *
            10;
        std::printf("direct_100_files_window: %.1f pages/s (target >= 15), %.1f times the route "
                    "through a PDF (target >= 10): direct %.2f s, PDF %.2f s (10 files, scaled)\n",
                    100 / direct, pdf / direct, direct, pdf);
        return 0;
    }
    const QString in = env.path(QStringLiteral("in"));
    QDir().mkpath(in);
    QStringList inputs;
    for (int i = 1; i <= kFiles; ++i) {
        const QString path = in + QStringLiteral("/page%1.tif").arg(i, 3, 10, QLatin1Char('0'));
        test::writeTiff(path, test::TiffKind::BitonalG4, 1, 2480, 3508, 300);
        inputs.append(path);
    }
    const QString book = env.path(QStringLiteral("book.tif"));
    test::writeTiff(book, test::TiffKind::BitonalG4, kPagesInOneFile, 2480, 3508, 300);
    const int jobs = engine::jobsFromSetting({});
    // `vormelle-bench-parallel book` measures only the 30-page file.
    const bool onlyBook = argc > 1 && qstrcmp(argv[1], "book") == 0;

    std::vector<double> loop, parallel, single, bookParallel, bookSingle;
    qint64 peak = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto folder = [&](const char* name) {
            const QString path = env.path(QStringLiteral("r%1/").arg(round) + name);
            QDir().mkpath(path);
            return path;
        };
        auto runLoop = [&] { loop.push_back(shellLoop(in, folder("loop"), folder("scratch"))); };
        auto runPrograms = [&] {
            parallel.push_back(program(inputs, folder("parallel"), QString()).seconds);
            single.push_back(program(inputs, folder("single"), QStringLiteral("1")).seconds);
        };
        if (!onlyBook && round % 2 == 0) {
            runLoop();
            runPrograms();
        } else if (!onlyBook) {
            runPrograms();
            runLoop();
        }
        bookParallel.push_back(program({book}, folder("book2"), QString()).seconds);
        bookSingle.push_back(program({book}, folder("book1"), QStringLiteral("1")).seconds);
    }
    const double b1 = median(bookSingle);
    const double b2 = median(bookParallel);
    std::printf("parallel_one_30_page_file: speed-up %.2f (target >= 1.6): %d jobs %.2f s, 1 job "
                "%.2f s\n",
                b1 / b2, jobs, b2, b1);
    if (onlyBook)
        return 0;
    QDir().mkpath(env.path(QStringLiteral("peak")));
    peak = program(inputs, env.path(QStringLiteral("peak")), QString(), true).peak;
    const double l = median(loop);
    const double p = median(parallel);
    const double s = median(single);
    std::printf("parallel_40_pages: speed-up %.2f (target >= 1.8 on 2 cores): program with %d "
                "jobs %.2f s, shell loop %.2f s, medians of %d\n",
                l / p, jobs, p, l, kRounds);
    std::printf("parallel_40_pages_one_job: ratio %.3f (target <= 1.03): program with 1 job "
                "%.2f s, shell loop %.2f s\n",
                s / l, s, l);
    const qint64 bare = barePdf2djvuPeak(inputs.front(), env.dir());
    const double limit = double(jobs) * double(bare) + 100e6;
    std::printf("parallel_peak_memory: %.1f MB for program and converters (limit %.1f MB = %d x "
                "%.1f MB of one bare pdf2djvu + 100 MB)\n",
                double(peak) / 1e6, limit / 1e6, jobs, double(bare) / 1e6);
    return 0;
}
