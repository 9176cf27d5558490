// SPDX-License-Identifier: GPL-3.0-or-later
// A long run and a long list: what must hold however many files there are. How fast it goes is
// measured by bench/run, not here.
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "platform/events.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"
#include "tests/load/loadprobes.h"
#include "tests/support/widgets.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <cstdio>

using namespace vormelle;
using test::RunFixture;

namespace {

constexpr int kFiles = 1000;
constexpr int kRows = 100000;
// Rows the run in the child window goes through before the window is closed.
constexpr int kRowsBeforeClosing = 200;

QString numbered(const QString& folder, int i) {
    return folder + QStringLiteral("/page%1.tif").arg(i, 6, 10, QLatin1Char('0'));
}

// `count` copies of one tiny bitonal TIFF, numbered from 1.
QStringList tinyTiffs(const QString& folder, int count) {
    QDir().mkpath(folder);
    const QString first = numbered(folder, 1);
    test::writeTiff(first, test::TiffKind::BitonalG4, 1, 64, 64, 100);
    QStringList paths{first};
    for (int i = 2; i <= count; ++i) {
        const QString p = numbered(folder, i);
        if (!QFile::copy(first, p))
            qFatal("cannot copy to %s", qPrintable(p));
        paths.append(p);
    }
    return paths;
}

QStringList numberedRows(const QString& folder, int count) {
    QStringList rows;
    rows.reserve(count);
    for (int i = 1; i <= count; ++i)
        rows.append(numbered(folder, i));
    return rows;
}

QPoint rowCenter(const ListView& list, int row) {
    return list.visualRect(list.model()->index(row, 0)).center();
}

void moveWithButtonDown(QWidget* viewport, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QCoreApplication::processEvents();
}

// What the child window reports on its output, line by line, for the test to check.
void report(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The child: a window with 100,000 rows starts a run, works while the run goes on, and is closed
// in the middle of it, which ends the program at once.
int windowUnderLoad() {
    RunFixture f;
    qputenv("TEMP", qgetenv("VORMELLE_LOAD_TEMP"));
    f.fakeSecondConverter("exit 1");
    f.form->show();
    f.form->Option2->setChecked(true);
    const QString in = f.env.path(QStringLiteral("in"));
    tinyTiffs(in, kRowsBeforeClosing + 10);
    ListView& list = *f.form->ListView1;
    FileListModel& files = f.form->files();
    files.addRows(numberedRows(in, kRows));

    test::RunWatch watch(*f.form->ProgressBar1);
    watch.onFile = [&](int n) {
        if (n == 2) {
            // A second click shows nothing, and a row can be carried while the run goes on.
            f.form->PushButton2->click();
            report(QStringLiteral("second click: %1 boxes").arg(f.dialogs.boxes.size()));
            const int row = kRows / 2;
            list.scrollTo(list.model()->index(row, 0), QAbstractItemView::PositionAtTop);
            QCoreApplication::processEvents();
            const QString carried = files.text(row);
            QWidget* vp = list.viewport();
            QTest::mousePress(vp, Qt::LeftButton, {}, rowCenter(list, row));
            moveWithButtonDown(vp, rowCenter(list, row + 1));
            moveWithButtonDown(vp, rowCenter(list, row + 2));
            QTest::mouseRelease(vp, Qt::LeftButton, {}, rowCenter(list, row + 2));
            report(QStringLiteral("carried: %1 %2")
                       .arg(files.text(row + 2) == carried ? QStringLiteral("moved")
                                                           : QStringLiteral("stayed"))
                       .arg(files.count()));
        }
        if (n == kRowsBeforeClosing + 1) {
            report(QStringLiteral("running: %1 %2").arg(int(f.form->IsConverting)).arg(n - 1));
            f.form->unload = [] { platform::endProgramNow(); };
            f.form->close();
        }
    };
    watch.start();
    f.start();
    report(QStringLiteral("the run ended before the window was closed"));
    return 3;
}

} // namespace

class LoadTest : public QObject {
    Q_OBJECT
private slots:
    void aThousandFilesLeaveNothingBehind_data();
    void aThousandFilesLeaveNothingBehind();
    void aHundredThousandRowsClearAndCarry();
    void aRunOfAHundredThousandRowsEndsWithTheWindow();
};

void LoadTest::aThousandFilesLeaveNothingBehind_data() {
    QTest::addColumn<QByteArray>("converter"); // PAGE stands for a DjVu page the real one made
    QTest::addColumn<bool>("converts");
    QTest::newRow("quiet converter") << QByteArray("cp PAGE \"$2\"") << true;
    QTest::newRow("converter warning on every file")
        << QByteArray("cp PAGE \"$2\" && printf 'Warning: %04000d\\n' 0 >&2") << true;
    QTest::newRow("converter failing with a long message")
        << QByteArray("printf 'Error: %04000d\\n' 0 >&2; exit 1") << false;
}

// The real tiff2pdf and a pdf2djvu that copies a DjVu page the real one made, or fails: the
// program's part of each file is what is watched, and a thousand files stay quick.
void LoadTest::aThousandFilesLeaveNothingBehind() {
    QFETCH(QByteArray, converter);
    QFETCH(bool, converts);
    RunFixture f;
    // The box then points to the log that holds every reason.
    settings::SaveSetting(QStringLiteral("RunLog"), QStringLiteral("True"));
    const QStringList inputs = tinyTiffs(f.env.path(QStringLiteral("in")), kFiles);
    f.form->Option1->setChecked(true);

    const QString made = f.env.path(QStringLiteral("made"));
    QDir().mkpath(made);
    f.form->Text1->setText(made);
    f.add(inputs.front());
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString page = made + QStringLiteral("/page000001.djvu");
    QVERIFY(QFile::exists(page));
    f.fakeSecondConverter(converter.replace("PAGE", "'" + QFile::encodeName(page) + "'"));
    const auto closedAsExpected = [&](int files) {
        return converts
                   ? f.lastBox() == QStringLiteral("Done.")
                   : f.lastBox().startsWith(
                         QStringLiteral("Done.\r\n\r\n%1 of %1 file(s) could not be converted:")
                             .arg(files));
    };

    // A short run first: what the window sets up once is not growth.
    f.form->PushButton6->click();
    for (int i = 0; i < 20; ++i)
        f.add(inputs.at(i));
    f.start();
    QVERIFY2(closedAsExpected(20), qPrintable(f.lastBox()));
    f.form->PushButton6->click();

    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    f.form->Text1->setText(out);
    for (const QString& p : inputs)
        f.add(p);
    const int descriptorsBefore = test::openDescriptors();
    const test::Children childrenBefore = test::childProcesses();

    // Memory at the start of every hundredth file.
    QList<long> resident;
    QList<qint64> heap;
    test::RunWatch watch(*f.form->ProgressBar1);
    watch.onFile = [&](int n) {
        if (n % 100 == 1 || n == kFiles) {
            resident.append(test::residentKiB());
            heap.append(test::heapInUse());
        }
    };
    watch.start();
    f.start();
    watch.stop();

    QVERIFY2(closedAsExpected(kFiles), qPrintable(f.lastBox()));
    if (!converts) {
        // The rows the box names still have their reasons.
        const QStringList lines = f.lastBox().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3 + 10 + 2);
        for (int i = 3; i < 13; ++i)
            QVERIFY2(lines[i].contains(QStringLiteral(".tif: Error: 0000")), qPrintable(lines[i]));
        QCOMPARE(lines.at(13), QStringLiteral("... and %1 more.").arg(kFiles - 10));
        QVERIFY(lines.back().startsWith(QStringLiteral("All reasons: ")));
    }
    QCOMPARE(watch.files(), kFiles);
    QCOMPARE(QDir(out).entryList(QDir::Files).size(), converts ? kFiles : 0);
    QCOMPARE(test::openDescriptors(), descriptorsBefore);
    QCOMPARE(test::childProcesses(), childrenBefore);
    QCOMPARE(childrenBefore, test::Children{});
    QCOMPARE(f.leftInTemp(), QStringList());

    // From the third hundred on (allocators settle in the first ones) memory stays where it was.
    // A run keeps one small record per row for its closing box; anything that grows by a
    // kilobyte a file (a buffer, a process object, a converter's output) would exceed these.
    QCOMPARE(resident.size(), kFiles / 100 + 1);
    const qint64 heapGrowth = heap.back() - heap.at(2);
    const long residentGrowth = resident.back() - resident.at(2);
    qInfo("heap in use %lld KiB -> %lld KiB, resident %ld KiB -> %ld KiB over %d files",
          heap.at(2) / 1024, heap.back() / 1024, resident.at(2), resident.back(), kFiles - 200);
    QVERIFY2(heapGrowth < 512 * 1024, qPrintable(QString::number(heapGrowth)));
    // AddressSanitizer keeps freed blocks aside for a while, and they stay resident.
    if (!test::underAddressSanitizer())
        QVERIFY2(residentGrowth < 1536, qPrintable(QString::number(residentGrowth)));
}

// "Clear List" and the mouse-driven carrying of a row, with 100,000 rows.
void LoadTest::aHundredThousandRowsClearAndCarry() {
    RunFixture f;
    f.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    ListView& list = *f.form->ListView1;
    FileListModel& files = f.form->files();
    const QStringList rows = numberedRows(QStringLiteral("/scans"), kRows);
    files.addRows(rows);
    QCoreApplication::processEvents();
    f.form->PushButton6->click();
    QCOMPARE(files.count(), 0);
    QCOMPARE(list.selectedRow(), -1);

    files.addRows(rows);
    const int from = kRows / 2;
    list.scrollTo(list.model()->index(from, 0), QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
    QWidget* vp = list.viewport();
    const QPoint edge(rowCenter(list, from).x(), vp->height() - list.rowHeight() / 2);
    QVERIFY(list.rowAt(edge) > from + 3);

    // Carried over three rows one by one, then held at the lower edge: each move there swaps
    // the carried path with the row under the pointer and scrolls the list on, so the next move
    // meets a row further down (two further when the last row in view shows only in part).
    constexpr int kEdgeMoves = 30;
    QStringList expected = rows;
    int carried = from;
    const auto carryTo = [&](int hit) {
        expected.swapItemsAt(carried, hit);
        carried = hit;
    };
    QTest::mousePress(vp, Qt::LeftButton, {}, rowCenter(list, from));
    for (int row = from + 1; row <= from + 3; ++row) {
        moveWithButtonDown(vp, rowCenter(list, row));
        carryTo(row);
    }
    for (int i = 0; i < kEdgeMoves; ++i) {
        const int hit = list.rowAt(edge);
        QVERIFY2(hit > carried, qPrintable(QStringLiteral("move %1: row %2").arg(i).arg(hit)));
        moveWithButtonDown(vp, edge);
        carryTo(hit);
    }
    QTest::mouseRelease(vp, Qt::LeftButton, {}, edge);

    QVERIFY(test::rowsOf(files) == expected);
    QCOMPARE(list.selectedRow(), carried);
    QVERIFY(vp->rect().intersects(list.visualRect(list.model()->index(carried, 0))));
    QVERIFY(!f.form->MouseIsDown);

    // At the end of the list there is nothing further to scroll to.
    list.scrollToBottom();
    QCoreApplication::processEvents();
    QTest::mousePress(vp, Qt::LeftButton, {}, rowCenter(list, kRows - 2));
    moveWithButtonDown(vp, rowCenter(list, kRows - 1));
    moveWithButtonDown(vp, rowCenter(list, kRows - 1));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, rowCenter(list, kRows - 1));
    QCOMPARE(files.text(kRows - 1), expected.at(kRows - 2));
    QCOMPARE(files.count(), kRows);

    f.form->PushButton6->click();
    QCOMPARE(files.count(), 0);
}

// A run over 100,000 rows goes on row after row while the window keeps answering, and closing
// the window ends the program at once, with nothing asked. The window runs in a child
// process, as the program does.
void LoadTest::aRunOfAHundredThousandRowsEndsWithTheWindow() {
    RunFixture f;
    f.fakeSecondConverter("exit 1");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VORMELLE_LOAD_WINDOW"), QStringLiteral("1"));
    env.insert(QStringLiteral("VORMELLE_LOAD_TEMP"), f.temp());
    // The child's own scratch folders go with this test's.
    env.insert(QStringLiteral("TMPDIR"), f.env.dir());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(600000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(output + QString::fromUtf8(child.readAllStandardError())));
    const QStringList expected{
        QStringLiteral("second click: 0 boxes"),
        QStringLiteral("carried: moved %1").arg(kRows),
        QStringLiteral("running: 1 %1").arg(kRowsBeforeClosing),
    };
    QCOMPARE(output.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);

    // Its run folder went with the program.
    QCOMPARE(f.leftInTemp(), QStringList());
    f.form->Option2->setChecked(true);
    f.add(f.env.writeFile(QStringLiteral("x/a.tif")));
    f.start();
    QVERIFY(f.lastBox().startsWith(QStringLiteral("Done.")));
    QCOMPARE(f.leftInTemp(), QStringList());
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("VORMELLE_LOAD_WINDOW"))
        return windowUnderLoad();
    LoadTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_load.moc"
