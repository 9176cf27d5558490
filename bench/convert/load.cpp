// SPDX-License-Identifier: GPL-3.0-or-later
// Load figures, each against a baseline measured in the same run:
//   files [N]   N tiny TIFFs (default 1,000) converted by the program (the real window, headless,
//               the real converters) against the same two converter commands run back to back by
//               a shell loop: the ratio and the program's own time per file, the time per file of
//               the first and the last hundred files, the longest time the window went without
//               looking at its events, the peak memory and the growth of memory per file.
//   rows [N]    N rows (default 100,000) against 1,000 rows: adding them, "Clear List", carrying a
//               row with the mouse, and the start of a run. The run is ended by closing the
//               window, which ends the program at once, as it does for a user.
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "bench/convert/cpuclock.h"
#include "platform/events.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"
#include "tests/load/loadprobes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <cstdio>

using namespace vormelle;

using bench::cpuSeconds;
using bench::ownCpuSeconds;

namespace {

double seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

QStringList writeTinyTiffs(const QString& folder, int count) {
    QDir().mkpath(folder);
    const QString first = folder + QStringLiteral("/page00001.tif");
    test::writeTiff(first, test::TiffKind::BitonalG4, 1, 64, 64, 100);
    QStringList paths{first};
    for (int i = 2; i <= count; ++i) {
        const QString p = folder + QStringLiteral("/page%1.tif").arg(i, 5, 10, QLatin1Char('0'));
        QFile::copy(first, p);
        paths.append(p);
    }
    return paths;
}

struct Cost {
    double wall = 0;
    double cpu = 0;
    QList<double> hundreds; // the clock before every hundredth file and at the end
};

// The two commands as the program gives them, in a loop of the shell, which notes the time
// before every hundredth file and at the end.
Cost shellLoop(const QString& in, const QString& out, const QString& scratch) {
    const QString script = QStringLiteral(
        "i=0\n"
        "for f in \"$1\"/*.tif; do\n"
        "  [ $((i % 100)) -eq 0 ] && date +%s.%N\n"
        "  i=$((i + 1))\n"
        "  b=${f##*/}; b=${b%.*}\n"
        "  tiff2pdf -n -z -m 1024 \"$f\" -o \"$3/pdf_temp.pdf\" >/dev/null 2>&1 &&\n"
        "  pdf2djvu -o \"$2/$b.djvu\" \"$3/pdf_temp.pdf\" >/dev/null 2>&1 || exit 1\n"
        "done\n"
        "date +%s.%N\n");
    QProcess sh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), scratch);
    sh.setProcessEnvironment(env);
    const double cpu = cpuSeconds();
    QElapsedTimer t;
    t.start();
    sh.start(QStringLiteral("/bin/sh"),
             {QStringLiteral("-c"), script, QStringLiteral("sh"), in, out, scratch});
    if (!sh.waitForFinished(-1) || sh.exitCode() != 0) {
        std::fprintf(stderr, "the shell loop failed\n");
        std::exit(1);
    }
    Cost cost{seconds(t), cpuSeconds() - cpu, {}};
    for (const QByteArray& line : sh.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            cost.hundreds.append(line.toDouble());
    }
    return cost;
}

int files(int count) {
    test::TestEnv env;
    const QString in = env.path(QStringLiteral("in"));
    const QStringList inputs = writeTinyTiffs(in, count);
    test::RunFixture f;
    paths::setProgramFolder(QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
    f.form->Option1->setChecked(true);

    // One short run first, so that what the window sets up once is not counted as growth.
    const QString warm = env.path(QStringLiteral("warm"));
    QDir().mkpath(warm);
    f.form->Text1->setText(warm);
    for (int i = 0; i < 10; ++i)
        f.add(inputs.at(i));
    f.start();
    f.form->PushButton6->click();

    const QString loopOut = env.path(QStringLiteral("loop"));
    const QString scratch = env.path(QStringLiteral("scratch"));
    QDir().mkpath(loopOut);
    QDir().mkpath(scratch);
    // The shell loop runs before and after the program; the baseline is the mean of the two,
    // so a change of load on a shared machine falls on both sides alike.
    const Cost before = shellLoop(in, loopOut, scratch);

    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    f.form->Text1->setText(out);
    for (const QString& p : inputs)
        f.add(p);
    const int fdsBefore = test::openDescriptors();
    const test::Children childrenBefore = test::childProcesses();

    test::RunWatch watch(*f.form->ProgressBar1);
    QList<qint64> fileStarts;
    QList<double> ownCpu; // the program's own processor time, its converters' left out
    long rssAt100 = 0;
    long rssAtLast = 0;
    watch.onFile = [&](int n) {
        fileStarts.append(watch.elapsedNs());
        ownCpu.append(ownCpuSeconds());
        if (n == 101)
            rssAt100 = test::residentKiB();
        if (n == count)
            rssAtLast = test::residentKiB();
    };
    const double cpu = cpuSeconds();
    watch.start();
    f.start();
    watch.stop();
    const double wall = double(watch.elapsedNs()) / 1e9;
    const double programCpu = cpuSeconds() - cpu;
    fileStarts.append(watch.elapsedNs());
    ownCpu.append(ownCpuSeconds());
    if (f.lastBox() != QStringLiteral("Done.") || fileStarts.size() != count + 1) {
        std::fprintf(stderr, "the run did not convert everything (%lld files seen):\n%s\n",
                     qlonglong(fileStarts.size() - 1), qPrintable(f.lastBox()));
        return 1;
    }
    const Cost after = shellLoop(in, loopOut, scratch);
    Cost loop{(before.wall + after.wall) / 2, (before.cpu + after.cpu) / 2, {}};
    for (qsizetype i = 0; i < before.hundreds.size() && i < after.hundreds.size(); ++i)
        loop.hundreds.append((before.hundreds.at(i) - before.hundreds.front() +
                              after.hundreds.at(i) - after.hundreds.front()) /
                             2);
    std::printf("files: shell loop before %.2f s, after %.2f s\n", before.wall, after.wall);
    const double first100 = double(fileStarts.at(100) - fileStarts.at(0)) / 1e9;
    const double last100 = double(fileStarts.at(count) - fileStarts.at(count - 100)) / 1e9;
    const double perFileMs = (wall - loop.wall) / count * 1000;

    std::printf("files: %d tiny TIFFs: program %.2f s, shell loop %.2f s, ratio %.3f (target <= "
                "1.05), processor time ratio %.3f (shell loop: the mean of one run before the "
                "program and one after)\n",
                count, wall, loop.wall, wall / loop.wall, programCpu / loop.cpu);
    std::printf("files: the program's own time per file %.2f ms (processor %.2f ms), the "
                "converters' %.1f ms\n",
                perFileMs, (programCpu - loop.cpu) / count * 1000, loop.wall / count * 1000);
    std::printf("files: first 100 files %.2f s, last 100 %.2f s, ratio last / first %.3f "
                "(target about 1)\n",
                first100, last100, last100 / first100);
    const QList<double>& h = loop.hundreds;
    if (h.size() >= 3) {
        const double loopFirst = h.at(1) - h.at(0);
        const double loopLast = h.back() - h.at(h.size() - 2);
        std::printf("files: the shell loop: first 100 files %.2f s, last 100 %.2f s, ratio %.3f; "
                    "the program's ratio against it %.3f\n",
                    loopFirst, loopLast, loopLast / loopFirst,
                    (last100 / first100) / (loopLast / loopFirst));
    }
    std::printf("files: the program's own processor time: first 100 files %.3f s, last 100 "
                "%.3f s, ratio %.3f\n",
                ownCpu.at(100) - ownCpu.at(0), ownCpu.at(count) - ownCpu.at(count - 100),
                (ownCpu.at(count) - ownCpu.at(count - 100)) / (ownCpu.at(100) - ownCpu.at(0)));
    std::printf("files: longest time without looking at events %.1f ms (target <= 250)\n",
                double(watch.longestGapNs()) / 1e6);
    std::printf("files: peak memory %.1f MB; resident at file 101 %.1f MB, at file %d %.1f MB: "
                "%.0f bytes per file\n",
                double(test::peakResidentKiB()) / 1024, double(rssAt100) / 1024, count,
                double(rssAtLast) / 1024, double(rssAtLast - rssAt100) * 1024 / (count - 101));
    const test::Children childrenAfter = test::childProcesses();
    std::printf("files: open descriptors %d before, %d after; child processes %d before, %d "
                "after, zombies %d\n",
                fdsBefore, test::openDescriptors(), childrenBefore.running, childrenAfter.running,
                childrenAfter.zombies);
    return 0;
}

// A press on `row`, `moves` moves at the list's lower edge (each carries the row one further
// down and scrolls the list by one row), a release: the real mouse path of drag-to-reorder.
double carryDown(Form1& form, int row, int moves) {
    ListView& list = *form.ListView1;
    QWidget* vp = list.viewport();
    list.scrollTo(list.model()->index(row, 0), QAbstractItemView::PositionAtTop);
    QApplication::processEvents();
    const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
    const QPoint edge(at.x(), vp->height() - list.rowHeight() / 2);
    QElapsedTimer t;
    t.start();
    QTest::mousePress(vp, Qt::LeftButton, {}, at);
    for (int i = 0; i < moves; ++i) {
        QMouseEvent move(QEvent::MouseMove, edge, vp->mapToGlobal(edge), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
        QApplication::processEvents(); // the scroll and repaint belong to the move
    }
    QTest::mouseRelease(vp, Qt::LeftButton, {}, edge);
    return seconds(t) / moves;
}

struct RowFigures {
    double add = 0;
    double addOneByOne = 0;
    double clear = 0;
    double perMove = 0;
    double toFirstFile = 0;
    double perRow = 0;
    double gap = 0;
};

constexpr int kMoves = 200; // two rows a move at most: within the smaller list
constexpr int kRunRows = 300;

RowFigures rowFigures(test::RunFixture& f, const QStringList& rows, bool endByClosing) {
    RowFigures r;
    FileListModel& files = f.form->files();
    QElapsedTimer t;
    t.start();
    files.addRows(rows);
    QApplication::processEvents();
    r.add = seconds(t);
    t.restart();
    f.form->PushButton6->click();
    QApplication::processEvents();
    r.clear = seconds(t);
    // One by one, as the file dialog's answer and the samples come in.
    t.restart();
    for (const QString& row : rows)
        files.add(row);
    QApplication::processEvents();
    r.addOneByOne = seconds(t);
    r.perMove = carryDown(*f.form, int(rows.size()) / 4, kMoves);

    test::RunWatch watch(*f.form->ProgressBar1);
    qint64 firstFile = 0;
    watch.onFile = [&](int n) {
        if (n == 1)
            firstFile = watch.elapsedNs();
        if (n == kRunRows + 1) {
            r.toFirstFile = double(firstFile) / 1e9;
            r.perRow = double(watch.elapsedNs() - firstFile) / 1e9 / kRunRows;
            r.gap = double(watch.longestGapNs()) / 1e6;
            if (endByClosing) {
                std::printf(
                    "rows: %lld rows: add %.3f s (one by one %.3f s), clear %.3f s, %.2f ms "
                    "per carrying move, run: first file after %.3f s, %.2f ms per row, "
                    "longest time without looking at events %.1f ms; peak memory %.1f MB\n",
                    qlonglong(rows.size()), r.add, r.addOneByOne, r.clear, r.perMove * 1000,
                    r.toFirstFile, r.perRow * 1000, r.gap, double(test::peakResidentKiB()) / 1024);
                std::fflush(stdout);
                f.form->unload = [] { platform::endProgramNow(); };
                f.form->close();
            }
            // Without closing, the run stops at once: every row left is a missing file.
        }
    };
    watch.start();
    f.start();
    watch.stop();
    return r;
}

int rows(int count) {
    test::TestEnv env;
    test::RunFixture f;
    f.fakeSecondConverter("exit 1");
    f.form->show();
    f.form->Option2->setChecked(true);
    const QString folder = env.path(QStringLiteral("in"));
    QDir().mkpath(folder);
    const auto names = [&](int n) {
        QStringList list;
        list.reserve(n);
        for (int i = 0; i < n; ++i)
            list.append(folder +
                        QStringLiteral("/missing page %1.tif").arg(i, 6, 10, QLatin1Char('0')));
        return list;
    };
    // The small list's run goes through its 1,000 rows to the end: each is a missing file.
    const RowFigures small = rowFigures(f, names(1000), false);
    f.form->PushButton6->click();
    std::printf("rows: 1000 rows: add %.4f s (one by one %.4f s), clear %.4f s, %.2f ms per "
                "carrying move, run: first file after %.3f s, %.2f ms per row, longest time "
                "without looking at events %.1f ms\n",
                small.add, small.addOneByOne, small.clear, small.perMove * 1000, small.toFirstFile,
                small.perRow * 1000, small.gap);
    std::fflush(stdout);
    rowFigures(f, names(count), true);
    std::fprintf(stderr, "the window was not closed\n");
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == QLatin1String("files"))
        return files(args.value(1, QStringLiteral("1000")).toInt());
    if (mode == QLatin1String("rows"))
        return rows(args.value(1, QStringLiteral("100000")).toInt());
    std::fprintf(stderr, "usage: %s files [N] | rows [N]\n", argv[0]);
    return 2;
}
