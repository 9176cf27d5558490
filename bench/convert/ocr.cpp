// SPDX-License-Identifier: GPL-3.0-or-later
// The text layer (engine/ocr.h): A4 pages of known English words painted at 300 dpi with the
// machine's fonts, as a scanner would deliver a printed page. Per page kind: word recall of the
// DjVu's hidden text against the painted words, processor time of the recognition alone, and
// the text layer's compressed size (the DjVu with the layer minus the one without). Then 20
// single-page files through the engine (direct route, text layer on) with two workers against
// one; the baseline is the one-worker run, measured in the same run, the two sides taking turns.
//   vormelle-bench-ocr [pages|workers]...   (default: both)
#include "engine/ocr.h"
#include "bench/convert/cpuclock.h"
#include "engine/direct.h"
#include "engine/engine.h"
#include "engine/pagereader.h"
#include "tests/engine/textpage.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace vormelle;
using bench::Cost;
using bench::measure;
using bench::median;

namespace {

constexpr int kA4Width = 2480;
constexpr int kA4Height = 3508;

test::TextPageLayout a4(const QString& family, bool antialiased, int seed) {
    test::TextPageLayout layout;
    layout.family = family;
    layout.antialiased = antialiased;
    layout.width = kA4Width;
    layout.height = kA4Height;
    layout.lines = test::knownLines(seed, 48, 9);
    return layout;
}

// Processor seconds of this process's live recognition helpers (vormelle-ocr, one per
// Recognizer): a helper's time reaches RUSAGE_CHILDREN only once it is reaped, when its
// Recognizer goes, so a Recognizer kept over several measurements hides it.
double helperCpuSeconds() {
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    double ticks = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ... utime stime ...": the name may hold spaces and ')'.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open || line.mid(open + 1, close - open - 1) != "vormelle-ocr")
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12 && fields[1] == self)
            ticks += fields[11].toDouble() + fields[12].toDouble();
    }
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// measure() with the live helpers' processor time counted too.
template <typename Work> Cost measureWithHelpers(Work work) {
    const double helpers = helperCpuSeconds();
    Cost c = measure(work);
    c.cpu += helperCpuSeconds() - helpers;
    return c;
}

// One page read as the engine reads it, for the recognizer alone.
struct Pixels {
    std::vector<uchar> bytes;
    engine::PageFormat format;
    qsizetype stride = 0;
};
Pixels readPage(const QString& tiff) {
    Pixels p;
    engine::TiffPageReader reader(tiff);
    if (!reader.nextPage())
        qFatal("cannot read %s", qPrintable(tiff));
    p.format = reader.format();
    p.stride = reader.rowBytes();
    for (int y = 0; y < p.format.height; ++y) {
        const uchar* row = reader.nextRow();
        p.bytes.insert(p.bytes.end(), row, row + p.stride);
    }
    return p;
}

void pageFigures(const QString& root, const char* name, const QString& family, bool bitonal,
                 int seed) {
    const test::TextPageLayout layout = a4(family, !bitonal, seed);
    const test::TextPage page = test::paintTextPage(layout);
    const QString tiff = root + QStringLiteral("/%1.tif").arg(QLatin1String(name));
    test::writeTextTiff(tiff, {page}, bitonal);
    const QString work = root + QStringLiteral("/work-%1").arg(QLatin1String(name));
    QDir().mkpath(work);
    const QString plain = work + QStringLiteral("/plain.djvu");
    const engine::DirectResult encoded = engine::encodeDirect(tiff, work, plain);
    if (!encoded.problem.isEmpty())
        qFatal("%s", qPrintable(encoded.problem));
    const QString searchable = work + QStringLiteral("/searchable.djvu");
    QFile::copy(plain, searchable);

    engine::Recognizer recognizer(QStringLiteral("eng"),
                                  QStringLiteral(VORMELLE_BUILT_PROGRAM_DIR));
    // Recognition alone, three times: the median processor time, the helper's included (it has
    // loaded its languages before the Recognizer is made).
    const Pixels pixels = readPage(tiff);
    std::vector<double> cpu;
    for (int round = 0; round < 3; ++round) {
        cpu.push_back(measureWithHelpers([&] {
                          recognizer.recognize(pixels.bytes.data(), pixels.format.width,
                                               pixels.format.height, bitonal ? 0 : 1, pixels.stride,
                                               pixels.format.dpi);
                      }).cpu);
    }
    const Cost whole = measureWithHelpers([&] {
        const engine::TextLayerResult r = engine::addTextLayer(recognizer, tiff, searchable, work);
        if (!r.problem.isEmpty())
            qFatal("%s", qPrintable(r.problem));
    });
    QStringList found;
    for (const test::HiddenWord& w : test::hiddenWords(searchable, 1))
        found.append(w.text);
    const QStringList known = page.text();
    const double recall = test::wordRecall(known, found);
    const qint64 layer = QFileInfo(searchable).size() - QFileInfo(plain).size();
    std::printf("%-32s recall %6.2f %% (%lld of %lld words)  ocr cpu %.2f s  whole step %.2f s "
                "(cpu %.2f s)  text layer %lld bytes\n",
                name, recall * 100, (long long)qRound64(recall * known.size()),
                (long long)known.size(), median(cpu), whole.wall, whole.cpu, (long long)layer);
    // What was missed, and what was read instead, to see why.
    QStringList missed;
    QStringList left = found;
    for (const QString& k : known) {
        if (!left.removeOne(k))
            missed.append(k);
    }
    if (!missed.isEmpty())
        std::printf("  missed: %s\n  read but not painted: %s\n", qPrintable(missed.join(u' ')),
                    qPrintable(left.join(u' ')));
    std::fflush(stdout);
}

void workerFigures(const QString& root) {
    const QString in = root + QStringLiteral("/twenty");
    QDir().mkpath(in);
    QStringList inputs;
    for (int i = 0; i < 20; ++i) {
        const QString tiff = in + QStringLiteral("/page-%1.tif").arg(i + 1, 2, 10, QChar(u'0'));
        test::writeTextTiff(tiff,
                            {test::paintTextPage(a4(i % 2 ? QStringLiteral("DejaVu Sans")
                                                          : QStringLiteral("Liberation Serif"),
                                                    false, 1000 + i))},
                            true);
        inputs.append(tiff);
    }
    auto run = [&](int jobs) {
        const QString out = root + QStringLiteral("/out-%1").arg(jobs);
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        engine::RunRequest request;
        request.inputs = inputs;
        request.output = {true, out};
        request.jobs = jobs;
        request.route = engine::Route::Direct;
        request.text = {true, QStringLiteral("eng")};
        engine::Engine engine(QString::fromUtf8(VORMELLE_BUILT_PROGRAM_DIR));
        QString refusal = engine.prepare(request.route, request.text);
        if (refusal.isEmpty())
            refusal = engine.deploy();
        if (!refusal.isEmpty())
            qFatal("%s", qPrintable(refusal));
        const Cost cost = measure([&] {
            for (const engine::RowOutcome& row : engine.convert(request, {})) {
                if (!row.converted || !row.textProblem.isEmpty())
                    qFatal("%s: %s", qPrintable(row.fileName), qPrintable(row.textProblem));
            }
        });
        engine.finish();
        return cost;
    };
    std::vector<double> one, two, oneCpu, twoCpu;
    for (int round = 0; round < 3; ++round) {
        // The two sides take turns at going first.
        for (const int jobs : round % 2 ? std::vector<int>{2, 1} : std::vector<int>{1, 2}) {
            const Cost c = run(jobs);
            (jobs == 1 ? one : two).push_back(c.wall);
            (jobs == 1 ? oneCpu : twoCpu).push_back(c.cpu);
            std::printf("  round %d, %d worker(s): %.2f s (cpu %.2f s)\n", round + 1, jobs, c.wall,
                        c.cpu);
            std::fflush(stdout);
        }
    }
    std::printf("20 A4 pages with text layer: two workers %.2f s, one %.2f s: one/two %.2f "
                "(cpu %.2f s against %.2f s)\n",
                median(two), median(one), median(one) / median(two), median(twoCpu),
                median(oneCpu));
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    test::TestEnv env;
    const QStringList only = app.arguments().mid(1);
    auto wanted = [&](const char* k) { return only.isEmpty() || only.contains(QLatin1String(k)); };
    if (wanted("pages")) {
        pageFigures(env.dir(), "bitonal, Liberation Serif", QStringLiteral("Liberation Serif"),
                    true, 1);
        pageFigures(env.dir(), "bitonal, DejaVu Sans", QStringLiteral("DejaVu Sans"), true, 2);
        pageFigures(env.dir(), "grey (anti-aliased), Liberation Sans",
                    QStringLiteral("Liberation Sans"), false, 3);
    }
    if (wanted("workers"))
        workerFigures(env.dir());
    return 0;
}
