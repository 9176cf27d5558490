// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/paths/paths.h"
#include "engine/checks.h"
#include "engine/engine.h"
#include "tests/engine/tiffmaker.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace vormelle;
using engine::Engine;
using engine::RowOutcome;
using engine::RunRequest;

namespace {

QString quoted(const QString& path) {
    return QStringLiteral("'") + path + QStringLiteral("'");
}

// A program folder whose pdf2djvu runs `before` (a shell snippet) and then the real one.
QString wrappedSecondConverter(const test::TestEnv& env, const QString& before) {
    const QString real = test::TestEnv::builtProgramFolder() + QStringLiteral("/pdf2djvu/pdf2djvu");
    const QString script =
        env.writeFile(QStringLiteral("program/pdf2djvu/pdf2djvu"),
                      ("#!/bin/sh\n" + before + "\nexec " + quoted(real) + " \"$@\"\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return env.path(QStringLiteral("program"));
}

struct Run {
    QList<RowOutcome> rows;
    QList<int> started;  // rows in the order they were said to start
    QList<int> finished; // and to finish
    QString refusal;
};

Run convertAll(const QString& programFolder, const RunRequest& request,
               const std::function<void(Engine&, int)>& onStart = {}) {
    Run run;
    Engine engine(programFolder);
    run.refusal = engine.prepare(request.route);
    if (run.refusal.isEmpty())
        run.refusal = engine.deploy();
    if (!run.refusal.isEmpty())
        return run;
    engine::RunCallbacks callbacks;
    callbacks.rowStarted = [&](int row) {
        run.started.append(row);
        if (onStart)
            onStart(engine, row);
    };
    callbacks.rowFinished = [&](int row, const RowOutcome&) { run.finished.append(row); };
    run.rows = engine.convert(request, callbacks);
    engine.finish();
    return run;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void jobsFromSetting_data();
    void jobsFromSetting();
    void parallelRowsInListOrder_data();
    void parallelRowsInListOrder();
    void crashingConverterCostsOnlyItsRow();
    void oneOutputPerRun();
    void pagesKeepTheirPixels_data();
    void pagesKeepTheirPixels();
    void freeThreadsSplitTheFile();
    void failingPartFailsTheRow();
    void stopEndsTheRowsInFlight();
    void directRoute();
    void manyPagesUnderALongTemporaryFolder_data();
    void manyPagesUnderALongTemporaryFolder();
    void hugeResultRefusedUnread_data();
    void hugeResultRefusedUnread();

private:
    std::unique_ptr<test::TestEnv> m_env;
    QByteArray m_oldTemp;
};

void EngineTest::init() {
    m_env = std::make_unique<test::TestEnv>();
    QDir().mkpath(m_env->path(QStringLiteral("temp")));
    qputenv("TEMP", QFile::encodeName(m_env->path(QStringLiteral("temp"))));
}

void EngineTest::jobsFromSetting_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("jobs");
    const int cores = std::clamp(QThread::idealThreadCount(), 1, 8);
    QTest::newRow("missing") << "" << cores;
    QTest::newRow("not a number") << "many" << cores;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("sixteen") << " 16 " << 16;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("too many") << "40" << 16;
    QTest::newRow("negative") << "-3" << 1;
}

void EngineTest::jobsFromSetting() {
    QFETCH(QString, value);
    QFETCH(int, jobs);
    QCOMPARE(engine::jobsFromSetting(value), jobs);
}

void EngineTest::parallelRowsInListOrder_data() {
    QTest::addColumn<int>("jobs");
    QTest::newRow("one at a time") << 1;
    QTest::newRow("two at once") << 2;
    QTest::newRow("three at once") << 3;
}

// The real converters on five files; a wrapper counts how many pdf2djvu run at once.
void EngineTest::parallelRowsInListOrder() {
    QFETCH(int, jobs);
    const QString busy = m_env->path(QStringLiteral("busy"));
    QDir().mkpath(busy);
    const QString seen = m_env->path(QStringLiteral("seen"));
    const QString program = wrappedSecondConverter(
        *m_env, "touch " + quoted(busy) + "/$$; sleep 0.3; ls " + quoted(busy) + " | wc -l >> " +
                    quoted(seen) + "; rm " + quoted(busy) + "/$$");
    RunRequest request;
    request.jobs = jobs;
    request.output = {true, m_env->path(QStringLiteral("out"))};
    QDir().mkpath(request.output.folder);
    for (int i = 0; i < 5; ++i) {
        request.inputs.append(m_env->path(QStringLiteral("in/p%1.tif").arg(i)));
        QDir().mkpath(QFileInfo(request.inputs.back()).path());
        test::writeTiff(request.inputs.back(), test::TiffKind::BitonalG4, 1, 160 + i, 240);
    }
    const Run run = convertAll(program, request);
    QCOMPARE(run.refusal, QString());
    QCOMPARE(run.rows.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QVERIFY2(run.rows[i].converted, qPrintable(engine::failureReason(run.rows[i])));
        QCOMPARE(run.rows[i].input, request.inputs[i]);
        // Each result is its own row's: the page widths differ.
        QCOMPARE(test::djvuPageSize(run.rows[i].output, 1), QSize(160 + i, 240));
    }
    QCOMPARE(run.started.size(), 5);
    QCOMPARE(run.finished.size(), 5);
    int most = 0;
    for (const QByteArray& line : fileBytes(seen).split('\n'))
        most = std::max(most, line.trimmed().toInt());
    QCOMPARE(most, jobs);
    QCOMPARE(entries(m_env->path(QStringLiteral("temp"))), QStringList());
}

void EngineTest::crashingConverterCostsOnlyItsRow() {
    // The third row's pdf2djvu dies of a segmentation fault; its scratch folder names the row.
    const QString program =
        wrappedSecondConverter(*m_env, "case \"$TMPDIR\" in */row-3) kill -SEGV $$;; esac");
    RunRequest request;
    request.jobs = 2;
    for (int i = 0; i < 4; ++i) {
        request.inputs.append(m_env->path(QStringLiteral("p%1.tif").arg(i)));
        test::writeTiff(request.inputs.back(), test::TiffKind::BitonalG4);
    }
    const Run run = convertAll(program, request);
    QCOMPARE(run.rows.size(), 4);
    for (int i : {0, 1, 3})
        QVERIFY2(run.rows[i].converted, qPrintable(engine::failureReason(run.rows[i])));
    QVERIFY(!run.rows[2].converted);
    QCOMPARE(engine::failureReason(run.rows[2]),
             QStringLiteral("pdf2djvu crashed (Segmentation fault)"));
    QVERIFY(!QFile::exists(m_env->path(QStringLiteral("p2.djvu"))));
    QCOMPARE(engine::closingText(run.rows).split(QStringLiteral("\r\n")).last(),
             QStringLiteral("p2.tif: pdf2djvu crashed (Segmentation fault)"));
}

// a.tif, a.tiff and sub/a.tif into one folder would all make a.djvu: only the first does, and an
// older a.djvu there is replaced as usual.
void EngineTest::oneOutputPerRun() {
    const QString out = m_env->path(QStringLiteral("out"));
    m_env->writeFile(QStringLiteral("out/a.djvu"), "older");
    RunRequest request;
    request.jobs = 3;
    request.output = {true, out + QStringLiteral("/")};
    for (const char* name : {"a.tif", "a.tiff", "sub/a.tif", "b.tif"}) {
        request.inputs.append(m_env->path(QString::fromLatin1(name)));
        QDir().mkpath(QFileInfo(request.inputs.back()).path());
        test::writeTiff(request.inputs.back(), test::TiffKind::BitonalG4);
    }
    const Run run = convertAll(test::TestEnv::builtProgramFolder(), request);
    QCOMPARE(engine::closingText(run.rows).split(QStringLiteral("\r\n")),
             (QStringList{"Done.", "", "2 of 4 file(s) could not be converted:",
                          "a.tiff: its result a.djvu would replace the one made from a.tif; save "
                          "beside the originals or rename one",
                          "a.tif: its result a.djvu would replace the one made from a.tif; save "
                          "beside the originals or rename one"}));
    QCOMPARE(entries(out), (QStringList{"a.djvu", "b.djvu"}));
    QCOMPARE(engine::djvuPageCount(out + QStringLiteral("/a.djvu")), std::optional(1));

    // Beside the originals, only files of one folder can meet.
    request.output = {};
    const QStringList clashes = engine::planOutputs(request.inputs, request.output).clashes;
    QCOMPARE(clashes, (QStringList{"",
                                   "its result a.djvu would replace the one made from a.tif; "
                                   "rename one",
                                   "", ""}));
}

void EngineTest::pagesKeepTheirPixels_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<float>("dpi");
    QTest::addColumn<int>("djvuDpi");
    QTest::newRow("600 dpi") << 2 << 600.0f << 600;
    QTest::newRow("150 dpi") << 2 << 150.0f << 150;
    QTest::newRow("236.22 per cm") << 3 << 236.22f << 600;
    QTest::newRow("10000 dpi") << 2 << 10000.0f << 300;
    QTest::newRow("1 dpi") << 2 << 1.0f << 300;
    QTest::newRow("no unit") << 1 << 600.0f << 300;
}

void EngineTest::pagesKeepTheirPixels() {
    QFETCH(int, unit);
    QFETCH(float, dpi);
    QFETCH(int, djvuDpi);
    test::TiffPage page;
    page.width = 1240;
    page.height = 1754;
    page.unit = unit;
    page.xdpi = page.ydpi = dpi;
    RunRequest request;
    request.inputs = {m_env->path(QStringLiteral("page.tif"))};
    test::writeTiffPages(request.inputs[0], {page, page});
    const Run run = convertAll(test::TestEnv::builtProgramFolder(), request);
    QVERIFY2(run.rows.value(0).converted, qPrintable(engine::failureReason(run.rows.value(0))));
    const QString djvu = m_env->path(QStringLiteral("page.djvu"));
    for (int p : {1, 2})
        QCOMPARE(test::djvuPageSize(djvu, p), QSize(1240, 1754));
    QCOMPARE(run.rows[0].dpi, djvuDpi);
    QProcess dump;
    dump.start(QStringLiteral("djvudump"), {djvu});
    QVERIFY(dump.waitForFinished());
    QVERIFY(dump.readAllStandardOutput().contains(QByteArray::number(djvuDpi) + " dpi"));
}

// One file of three pages in a run of two jobs: the free thread converts a second page range
// beside the first, and the joined document keeps the pages in order. With one job, one pdf2djvu
// converts them all.
void EngineTest::freeThreadsSplitTheFile() {
    const QString args = m_env->path(QStringLiteral("args"));
    const QString program = wrappedSecondConverter(*m_env, "echo \"$@\" >> " + quoted(args));
    RunRequest request;
    request.jobs = 2;
    request.inputs = {m_env->path(QStringLiteral("three.tif"))};
    QList<test::TiffPage> pages(3);
    for (int i = 0; i < 3; ++i) {
        pages[i].width = 600 + 100 * i;
        pages[i].height = 900;
    }
    test::writeTiffPages(request.inputs[0], pages);
    QVERIFY(convertAll(program, request).rows.value(0).converted);
    const QString djvu = m_env->path(QStringLiteral("three.djvu"));
    for (int p = 1; p <= 3; ++p)
        QCOMPARE(test::djvuPageSize(djvu, p), QSize(500 + 100 * p, 900));
    request.jobs = 1;
    QVERIFY(convertAll(program, request).rows.value(0).converted);
    QList<QByteArray> calls = fileBytes(args).trimmed().split('\n');
    QCOMPARE(calls.size(), 3);
    std::sort(calls.begin(), calls.begin() + 2); // the two parts start in either order
    QVERIFY2(calls[0].contains(" -j 1 -p 1-1 "), calls[0].constData());
    QVERIFY2(calls[1].contains(" -j 1 -p 2-3 "), calls[1].constData());
    QVERIFY2(calls[2].contains(" -j 1 ") && !calls[2].contains(" -p "), calls[2].constData());
}

// A failing page range fails its row with pdf2djvu's own reason, and leaves no output.
void EngineTest::failingPartFailsTheRow() {
    const QString program = wrappedSecondConverter(
        *m_env, "case \"$*\" in *'-p 2-3'*) echo 'page 3 is broken' >&2; exit 1;; esac");
    RunRequest request;
    request.jobs = 2;
    request.inputs = {m_env->path(QStringLiteral("three.tif"))};
    test::writeTiff(request.inputs[0], test::TiffKind::BitonalG4, 3);
    const Run run = convertAll(program, request);
    QVERIFY(!run.rows.value(0).converted);
    QCOMPARE(engine::failureReason(run.rows[0]), QStringLiteral("page 3 is broken"));
    QVERIFY(!QFile::exists(m_env->path(QStringLiteral("three.djvu"))));
}

// A stop while two converters hang: both are killed at once, nothing partial is left, and the
// rows not begun are not started.
void EngineTest::stopEndsTheRowsInFlight() {
    const QString ready = m_env->path(QStringLiteral("ready"));
    const QString program = wrappedSecondConverter(*m_env, "echo partial > \"$2\"; echo x >> " +
                                                               quoted(ready) + "; exec sleep 300");
    RunRequest request;
    request.jobs = 2;
    for (int i = 0; i < 5; ++i) {
        request.inputs.append(m_env->path(QStringLiteral("p%1.tif").arg(i)));
        test::writeTiff(request.inputs.back(), test::TiffKind::BitonalG4);
    }
    QElapsedTimer clock;
    clock.start();
    bool asked = false;
    Run run;
    {
        Engine engine(program);
        QCOMPARE(engine.prepare(engine::Route::Pdf), QString());
        QCOMPARE(engine.deploy(), QString());
        engine::RunCallbacks callbacks;
        callbacks.pause = [&] {
            if (!asked && fileBytes(ready).count('\n') == 2) {
                asked = true;
                engine.stop();
            }
        };
        run.rows = engine.convert(request, callbacks);
        QVERIFY(engine.stopped());
        engine.finish();
    }
    QVERIFY(asked);
    QVERIFY(clock.elapsed() < 60000); // far below the hang
    QCOMPARE(run.rows.size(), 5);
    QCOMPARE(run.rows[0].stopped && run.rows[1].stopped, true);
    for (int i = 2; i < 5; ++i) {
        QVERIFY(!run.rows[i].started);
        QCOMPARE(engine::failureReason(run.rows[i]), QStringLiteral("not started"));
    }
    for (int i = 0; i < 5; ++i)
        QVERIFY(!QFile::exists(m_env->path(QStringLiteral("p%1.djvu").arg(i))));
    QCOMPARE(entries(m_env->path(QStringLiteral("temp"))), QStringList());
}

// The direct route in the engine: files the route through a PDF refuses convert, several rows
// at once, and a missing encoder is said before anything is converted.
void EngineTest::directRoute() {
    RunRequest request;
    request.route = engine::Route::Direct;
    request.jobs = 2;
    const QList<std::pair<const char*, test::TiffKind>> files{
        {"alpha.tif", test::TiffKind::RgbAlpha},
        {"deep.tif", test::TiffKind::Gray16},
        {"two.tif", test::TiffKind::BitonalG4}};
    for (const auto& [name, kind] : files) {
        request.inputs.append(m_env->path(QString::fromLatin1(name)));
        test::writeTiff(request.inputs.back(), kind, kind == test::TiffKind::BitonalG4 ? 2 : 1);
    }
    const Run run = convertAll(test::TestEnv::builtProgramFolder(), request);
    QCOMPARE(run.refusal, QString());
    QCOMPARE(run.rows.size(), 3);
    for (const RowOutcome& row : run.rows) {
        QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
        QCOMPARE(row.route, engine::Route::Direct);
        QCOMPARE(engine::djvuPageCount(row.output), std::optional(row.pages));
    }
    QCOMPARE(run.rows[2].pages, 2);

    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_env->dir()));
    const Run refused = convertAll(test::TestEnv::builtProgramFolder(), request);
    qputenv("PATH", path);
    QVERIFY2(refused.refusal.startsWith(QStringLiteral("Nothing was converted: c44")),
             qPrintable(refused.refusal));
    QVERIFY(refused.rows.isEmpty());
}

void EngineTest::manyPagesUnderALongTemporaryFolder_data() {
    QTest::addColumn<bool>("direct");
    QTest::newRow("direct") << true;
    QTest::newRow("through PDF") << false;
}

// A document of 1,000 pages in a temporary folder with a 3,000-character name: a bundler given
// every page's name would pass 3 MB of arguments, beyond what the system starts a program with.
void EngineTest::manyPagesUnderALongTemporaryFolder() {
    QFETCH(bool, direct);
    QString temp = m_env->path(QStringLiteral("temp"));
    while (temp.size() < 3000)
        temp += QLatin1Char('/') + QString(200, QLatin1Char('t'));
    QVERIFY(QDir().mkpath(temp));
    qputenv("TEMP", QFile::encodeName(temp));
    RunRequest request;
    request.route = direct ? engine::Route::Direct : engine::Route::Pdf;
    request.jobs = 2;
    request.inputs.append(m_env->path(QStringLiteral("book.tif")));
    test::writeTiff(request.inputs.back(), test::TiffKind::BitonalG4, 1000);
    const Run run = convertAll(test::TestEnv::builtProgramFolder(), request);
    QCOMPARE(run.refusal, QString());
    QCOMPARE(run.rows.size(), 1);
    QVERIFY2(run.rows[0].converted, qPrintable(engine::failureReason(run.rows[0])));
    QCOMPARE(run.rows[0].pages, 1000);
    QCOMPARE(engine::djvuPageCount(run.rows[0].output), std::optional(1000));
    QCOMPARE(entries(temp), QStringList());
}

void EngineTest::hugeResultRefusedUnread_data() {
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QString>("reason");
    QTest::newRow("the direct route's encoder")
        << true << "c44 wrote 256 MB, far more than pages of this size take";
    QTest::newRow("pdf2djvu") << false
                              << "pdf2djvu wrote 256 MB, far more than pages of this size take";
}

// An encoder that writes a huge result (a sparse file here) costs the row, not the memory: the
// result is refused by its size before anything reads it.
void EngineTest::hugeResultRefusedUnread() {
    QFETCH(bool, direct);
    QFETCH(QString, reason);
    const QString grow = QStringLiteral("truncate -s 256M \"$out\"\n");
    QString programFolder = test::TestEnv::builtProgramFolder();
    const QByteArray path = qgetenv("PATH");
    if (direct) {
        const QString script =
            m_env->writeFile(QStringLiteral("tools/c44"),
                             ("#!/bin/sh\neval out=\\${$#}\n" +
                              quoted(QStandardPaths::findExecutable(QStringLiteral("c44"))) +
                              " \"$@\" || exit\n" + grow)
                                 .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_env->path(QStringLiteral("tools"))) + ':' + path);
    } else {
        const QString real =
            test::TestEnv::builtProgramFolder() + QStringLiteral("/pdf2djvu/pdf2djvu");
        const QString script = m_env->writeFile(
            QStringLiteral("program/pdf2djvu/pdf2djvu"),
            ("#!/bin/sh\nout=$2\n" + quoted(real) + " \"$@\" || exit\n" + grow).toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        programFolder = m_env->path(QStringLiteral("program"));
    }
    RunRequest request;
    request.route = direct ? engine::Route::Direct : engine::Route::Pdf;
    // Bitonal pages are coded in the program itself; a grey page in one layer goes to c44.
    request.colourPages = engine::ColourPages::Layer;
    request.inputs.append(m_env->path(QStringLiteral("page.tif")));
    test::writeTiff(request.inputs.back(), test::TiffKind::Gray8);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const Run run = convertAll(programFolder, request);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    qputenv("PATH", path);
    QCOMPARE(run.refusal, QString());
    QCOMPARE(run.rows.size(), 1);
    QVERIFY(!run.rows[0].converted);
    QCOMPARE(engine::failureReason(run.rows[0]), reason);
    QVERIFY(!QFile::exists(run.rows[0].output));
    // Reading it would take 256 MB at least (KiB here).
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024,
             qPrintable(QString::number(after.ru_maxrss - before.ru_maxrss)));
    QCOMPARE(entries(m_env->path(QStringLiteral("temp"))), QStringList());
}

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
