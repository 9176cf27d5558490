// SPDX-License-Identifier: GPL-3.0-or-later
// 50 small bitonal pages converted by the program (the real window, headless, the real
// converters) against the same two converter commands run back to back by a shell loop on the
// same files. Prints the ratio program / shell loop (wall-clock time, medians over rounds that
// alternate which side goes first); the target is at most 1.05. The ratio of processor time
// (the process and its children) is printed beside it: it is steadier when other work shares
// the machine.

#include "app/controls.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "bench/convert/cpuclock.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vormelle;

using bench::Cost;
using bench::cpuSeconds;
using bench::measure;
using bench::median;

namespace {

constexpr int kPages = 50;
constexpr int kRounds = 5;

// The two commands as the program gives them, in a loop of the shell.
Cost shellLoop(const QString& in, const QString& out, const QString& scratch) {
    const QString script = QStringLiteral(
        "for f in \"$1\"/*.tif; do\n"
        "  b=${f##*/}; b=${b%.*}\n"
        "  tiff2pdf -n -z -m 1024 \"$f\" -o \"$3/pdf_temp.pdf\" >/dev/null 2>&1 &&\n"
        "  pdf2djvu -o \"$2/$b.djvu\" \"$3/pdf_temp.pdf\" >/dev/null 2>&1 || exit 1\n"
        "done\n");
    QProcess sh;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), scratch);
    sh.setProcessEnvironment(env);
    return measure([&] {
        sh.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), script, QStringLiteral("sh"), in, out, scratch});
        if (!sh.waitForFinished(-1) || sh.exitCode() != 0) {
            std::fprintf(stderr, "the shell loop failed\n");
            std::exit(1);
        }
    });
}

Cost program(const QStringList& inputs, const QString& out) {
    test::RunFixture f;
    paths::setProgramFolder(QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
    for (const QString& p : inputs)
        f.add(p);
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    const Cost cost = measure([&] { f.start(); });
    if (f.lastBox() != QStringLiteral("Done.")) {
        std::fprintf(stderr, "the run did not convert everything:\n%s\n", qPrintable(f.lastBox()));
        std::exit(1);
    }
    return cost;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    test::TestEnv env;
    const QString in = env.path(QStringLiteral("in"));
    QDir().mkpath(in);
    QStringList inputs;
    for (int i = 1; i <= kPages; ++i) {
        const QString path = in + QStringLiteral("/page%1.tif").arg(i, 3, 10, QLatin1Char('0'));
        test::writeTiff(path, test::TiffKind::BitonalG4, 1, 850, 1100, 100);
        inputs.append(path);
    }
    std::vector<double> loopWall, loopCpu, progWall, progCpu;
    for (int round = 0; round < kRounds; ++round) {
        const QString out = env.path(QStringLiteral("out%1").arg(round));
        const QString scratch = env.path(QStringLiteral("scratch%1").arg(round));
        QDir().mkpath(out + QStringLiteral("/loop"));
        QDir().mkpath(out + QStringLiteral("/program"));
        QDir().mkpath(scratch);
        auto runLoop = [&] {
            const Cost c = shellLoop(in, out + QStringLiteral("/loop"), scratch);
            loopWall.push_back(c.wall);
            loopCpu.push_back(c.cpu);
        };
        auto runProgram = [&] {
            const Cost c = program(inputs, out + QStringLiteral("/program"));
            progWall.push_back(c.wall);
            progCpu.push_back(c.cpu);
        };
        if (round % 2 == 0) {
            runLoop();
            runProgram();
        } else {
            runProgram();
            runLoop();
        }
    }
    const double lw = median(loopWall);
    const double pw = median(progWall);
    std::printf("convert_bitonal_50: ratio %.3f (target <= 1.05): program %.2f s, shell loop "
                "%.2f s, medians of %d; processor time ratio %.3f\n",
                pw / lw, pw, lw, kRounds, median(progCpu) / median(loopCpu));
    return 0;
}
