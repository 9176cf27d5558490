// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "app/startupenv.h"
#include "convert/conversion.h"
#include "platform/basicerror.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/textpage.h"
#include "tests/engine/tiffmaker.h"

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace vormelle;
using platform::Icon;
using test::RunFixture;

namespace {

const QString kNoFiles = QStringLiteral("No files added.");
const QString kNoFolder = QStringLiteral("Folder does not exist. Please select another folder.");

// Runs `action` once the run is under way (the run processes events while it works).
void duringRun(std::function<void()> action) {
    QTimer::singleShot(0, std::move(action));
}

// Runs `action` once, as soon as `when` holds while events are processed.
void once(QObject* owner, std::function<bool()> when, std::function<void()> action) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout,
                     [timer, when = std::move(when), action = std::move(action)] {
                         if (!when())
                             return;
                         timer->stop();
                         action();
                     });
    timer->start(0);
}

} // namespace

class ConversionTest : public QObject {
    Q_OBJECT
private slots:
    void noFilesComesBeforeTheFolderTest();
    void folderMustExist_data();
    void folderMustExist();
    void secondClickDuringRunDoesNothing();
    void runCount_data();
    void runCount();
    void everyRowIsLogged_data();
    void everyRowIsLogged();
    void oneConverterAtATime_data();
    void oneConverterAtATime();
    void doneHasOkOnly();
    void writeProtectedResultIsKept();
    void colourPagesSetting_data();
    void colourPagesSetting();
    void stopInTheMiddle_data();
    void stopInTheMiddle();
    void stopAgreedToAfterTheLastRow();
    void hourglassBlocksRemoval();
    void outputOptions_data();
    void outputOptions();
    void failedRowsLeaveTheOutputAlone_data();
    void failedRowsLeaveTheOutputAlone();
    void outputNeverReplacesTheInput();
    void rowsVanishingDuringTheRun();
    void controlsStayUsableDuringARun();
    void failingClosingBoxStillEndsTheRun_data();
    void failingClosingBoxStillEndsTheRun();
    void relativeOutputFolderLiesInTheHomeFolder();
};

// "out" typed as the output folder means <home>/out, whatever folder the program was started in.
void ConversionTest::relativeOutputFolderLiesInTheHomeFolder() {
    RunFixture f;
    const QString home = f.env.path(QStringLiteral("home"));
    const QString startedIn = f.env.path(QStringLiteral("elsewhere"));
    QDir().mkpath(home + QStringLiteral("/out"));
    QDir().mkpath(startedIn + QStringLiteral("/out"));
    const QByteArray oldHome = qgetenv("HOME");
    const QString oldFolder = QDir::currentPath();
    qputenv("HOME", QFile::encodeName(home));
    QDir::setCurrent(startedIn);
    const bool moved = startup::workInHomeFolder();
    const QString input = f.env.path(QStringLiteral("a.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    f.add(input);
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(QStringLiteral("out"));
    f.start();
    QDir::setCurrent(oldFolder);
    qputenv("HOME", oldHome);
    QVERIFY(moved);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    QVERIFY(QFileInfo::exists(home + QStringLiteral("/out/a.djvu")));
    QVERIFY(!QFileInfo::exists(startedIn + QStringLiteral("/out/a.djvu")));
}

void ConversionTest::noFilesComesBeforeTheFolderTest() {
    RunFixture f;
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(f.env.path(QStringLiteral("missing")));
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.dialogs.boxes[0].text, kNoFiles);
    QCOMPARE(f.dialogs.boxes[0].title, QString());
    QCOMPARE(f.dialogs.boxes[0].icon, Icon::None);
    QVERIFY(!f.form->IsConverting);
    QCOMPARE(f.form->MousePointer(), int(Form1::Default));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void ConversionTest::folderMustExist_data() {
    QTest::addColumn<QString>("text1");
    QTest::newRow("empty") << QString();
    QTest::newRow("missing") << "missing";
    QTest::newRow("a file") << "file.txt";
}

void ConversionTest::folderMustExist() {
    QFETCH(QString, text1);
    RunFixture f;
    f.env.writeFile(QStringLiteral("file.txt"));
    f.add(f.env.writeFile(QStringLiteral("a.tif")));
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(text1.isEmpty() ? text1 : f.env.path(text1));
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.dialogs.boxes[0].text, kNoFolder);
    QCOMPARE(f.dialogs.boxes[0].icon, Icon::None);
    QVERIFY(!f.form->IsConverting);
    // Nothing was written: the run never began.
    QCOMPARE(f.leftInTemp(), QStringList());
    QCOMPARE(f.form->files().count(), 1);
}

// A click on "Start Converting" during a run changes nothing and shows nothing; "Stop" is usable
// only while the run goes on, and the caption stays.
void ConversionTest::secondClickDuringRunDoesNothing() {
    RunFixture f;
    const QString log = f.env.path(QStringLiteral("calls.log"));
    f.fakeSecondConverter("echo called >> '" + log.toUtf8() + "'; exit 1");
    for (const char* name : {"a.tif", "b.tif"}) {
        const QString path = f.env.path(QString::fromLatin1(name));
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
    }
    f.form->Option2->setChecked(true);
    f.form->setWindowTitle(QStringLiteral("Vormelle"));
    QVERIFY(!f.form->PushButton3->isEnabled());
    QString buttonText;
    QString title;
    bool stopEnabled = false;
    qsizetype boxesDuring = -1;
    once(
        f.form.get(),
        [&] { return f.form->ProgressBar1->text().startsWith(QStringLiteral("Processing: ")); },
        [&] {
            buttonText = f.form->PushButton2->text();
            title = f.form->windowTitle();
            stopEnabled = f.form->PushButton3->isEnabled();
            f.form->PushButton2->click();
            boxesDuring = f.dialogs.boxes.size();
        });
    f.start();
    QCOMPARE(buttonText, QStringLiteral("Start Converting"));
    QCOMPARE(title, QStringLiteral("Vormelle"));
    QVERIFY(stopEnabled);
    QCOMPARE(boxesDuring, 0);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(test::fileBytes(log), QByteArray("called\ncalled\n"));
    QVERIFY(f.lastBox().startsWith(QStringLiteral("Done.")));
    QVERIFY(!f.form->IsConverting);
    QVERIFY(!f.form->PushButton3->isEnabled());
    QCOMPARE(f.form->Label2->text(), QString());
    // And a click after the run starts a new one.
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 2);
}

// Stop in the middle of a run with the real converters: what was converted stays, nothing
// partial is left, the counts add up, and each row shows what became of it.
void ConversionTest::stopInTheMiddle_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Stop") << false;
    QTest::newRow("Esc") << true;
}

void ConversionTest::stopInTheMiddle() {
    QFETCH(bool, escape);
    RunFixture f;
    f.form->show();
    f.form->setWindowTitle(QStringLiteral("Vormelle"));
    for (int i = 0; i < 6; ++i) {
        const QString path = f.env.path(QStringLiteral("p%1.tif").arg(i));
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
    }
    f.form->Option2->setChecked(true);
    f.dialogs.boxAnswers = {platform::Answer::Yes};
    QString title;
    QString count;
    once(
        f.form.get(), [&] { return f.form->Label2->text().startsWith(QStringLiteral("2 of 6")); },
        [&] {
            title = f.form->windowTitle();
            count = f.form->Label2->text();
            if (escape)
                QTest::keyClick(f.form.get(), Qt::Key_Escape);
            else
                f.form->PushButton3->click();
        });
    f.start();
    QCOMPARE(title, QStringLiteral("Vormelle"));
    QCOMPARE(count, QStringLiteral("2 of 6"));
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.dialogs.boxes[0].text,
             QStringLiteral("Stop converting? Files already converted are kept."));
    QCOMPARE(f.dialogs.boxes[0].buttons, platform::Buttons::YesNo);
    QCOMPARE(f.dialogs.boxes[1].buttons, platform::Buttons::OkOpenFolder);
    const QStringList lines = f.lastBox().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), QStringLiteral("Stopped."));
    int converted = 0;
    for (int i = 0; i < 6; ++i) {
        const bool made = QFile::exists(f.env.path(QStringLiteral("p%1.djvu").arg(i)));
        converted += made;
        const RowState state = f.form->files().outcome(i);
        QCOMPARE(state == RowState::Converted, made);
        QVERIFY(state != RowState::Failed && state != RowState::None);
        const QString tip = f.form->ListView1->model()
                                ->data(f.form->ListView1->model()->index(i, 0), Qt::ToolTipRole)
                                .toString();
        QCOMPARE(tip.endsWith(QStringLiteral(".djvu")), made);
    }
    QVERIFY(converted >= 2 && converted < 6);
    // A row may have been cut short by the stop: it is counted as stopped.
    QVERIFY2(lines.value(2) == QStringLiteral("%1 of 6 file(s) converted; %2 not started.")
                                   .arg(converted)
                                   .arg(6 - converted) ||
                 lines.value(2) == QStringLiteral("%1 of 6 file(s) converted; 1 stopped while "
                                                  "converted, %2 not started.")
                                       .arg(converted)
                                       .arg(5 - converted),
             qPrintable(lines.value(2)));
    QCOMPARE(f.leftInTemp(), QStringList());
    QCOMPARE(f.form->windowTitle(), QStringLiteral("Vormelle"));
    // Rows that change lose their outcomes; the next run works as usual.
    f.form->files().remove(5);
    QCOMPARE(f.form->files().outcome(0), RowState::None);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
}

// The rows may all end while "Stop converting?" is open: a Yes then stops nothing, and the box
// says the run is done rather than "Stopped." over three converted files.
void ConversionTest::stopAgreedToAfterTheLastRow() {
    RunFixture f;
    QStringList outputs;
    for (int i = 0; i < 3; ++i) {
        const QString path = f.env.path(QStringLiteral("q%1.tif").arg(i));
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
        outputs.append(f.env.path(QStringLiteral("q%1.djvu").arg(i)));
    }
    f.form->Option2->setChecked(true);
    f.dialogs.boxAnswers = {platform::Answer::Yes};
    bool allMadeWhileAsked = false;
    f.dialogs.onBox = [&](const test::ShownBox& box) {
        if (!box.text.startsWith(QStringLiteral("Stop converting?")))
            return;
        // The workers go on while the question is open.
        allMadeWhileAsked = QTest::qWaitFor(
            [&] {
                return std::all_of(outputs.cbegin(), outputs.cend(),
                                   [](const QString& out) { return QFile::exists(out); });
            },
            60000);
    };
    once(
        f.form.get(), [&] { return f.form->PushButton3->isEnabled(); },
        [&] { f.form->PushButton3->click(); });
    f.start();
    QVERIFY(allMadeWhileAsked);
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f.form->files().outcome(i), RowState::Converted);
}

void ConversionTest::hourglassBlocksRemoval() {
    RunFixture f;
    f.fakeSecondConverter("exit 1");
    for (const char* name : {"a.tif", "b.tif", "c.tif"})
        f.add(f.env.writeFile(QString::fromLatin1(name)));
    f.form->Option2->setChecked(true);
    int pointer = -1;
    duringRun([&] {
        pointer = f.form->MousePointer();
        f.form->ListView1->selectRow(1);
        QTest::keyClick(f.form->ListView1, Qt::Key_Delete);
        f.form->PushButton6->click();
    });
    f.start();
    QCOMPARE(pointer, int(Form1::Hourglass));
    QCOMPARE(f.form->files().count(), 3);
    QCOMPARE(f.form->MousePointer(), int(Form1::Default));
    QCOMPARE(f.form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
    QCOMPARE(f.form->ProgressBar1->value(), 0);
}

void ConversionTest::outputOptions_data() {
    QTest::addColumn<int>("option"); // 1, 2, or 0 for neither
    QTest::addColumn<QString>("expected");
    QTest::newRow("option 1: the typed folder") << 1 << "out/scan.djvu";
    QTest::newRow("option 2: beside the input") << 2 << "in/scan.djvu";
    QTest::newRow("neither: beside the input") << 0 << "in/scan.djvu";
}

void ConversionTest::outputOptions() {
    QFETCH(int, option);
    QFETCH(QString, expected);
    RunFixture f;
    QDir().mkpath(f.env.path(QStringLiteral("in")));
    QDir().mkpath(f.env.path(QStringLiteral("out")));
    const QString input = f.env.path(QStringLiteral("in/scan.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    f.add(input);
    f.form->Option1->setChecked(option == 1);
    f.form->Option2->setChecked(option == 2);
    f.form->Text1->setText(f.env.path(QStringLiteral("out/")));
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    QCOMPARE(f.dialogs.boxes.back().icon, Icon::None);
    QVERIFY(QFile::exists(f.env.path(expected)));
    QCOMPARE(QDir(f.env.path(QStringLiteral("in"))).count() +
                 QDir(f.env.path(QStringLiteral("out"))).count(),
             uint(2 + 2 + 2)); // the input, the output, and "." and ".." in each
    QCOMPARE(f.leftInTemp(), QStringList());
}

void ConversionTest::failedRowsLeaveTheOutputAlone_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("reason");
    QTest::newRow("fails with a message")
        << QByteArray(": > \"$2\"; echo 'pdf2djvu: something went wrong' >&2; exit 3")
        << "pdf2djvu: something went wrong";
    QTest::newRow("succeeds with garbage")
        << QByteArray("echo garbage > \"$2\"; exit 0") << "the DjVu result could not be opened";
    QTest::newRow("succeeds with nothing") << QByteArray("exit 0") << "pdf2djvu wrote no DjVu file";
    QTest::newRow("killed") << QByteArray(": > \"$2\"; kill -KILL $$")
                            << "pdf2djvu was stopped by a signal (Killed)";
}

void ConversionTest::failedRowsLeaveTheOutputAlone() {
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    RunFixture f;
    f.fakeSecondConverter(script);
    const QString input = f.env.path(QStringLiteral("scan.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    const QString old = f.env.writeFile(QStringLiteral("scan.djvu"), "the older result");
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done.\r\n\r\n1 of 1 file(s) could not be converted:\r\n"
                                         "scan.tif: ") +
                              reason);
    QCOMPARE(f.dialogs.boxes.back().icon, Icon::Warning);
    QCOMPARE(test::fileBytes(old), QByteArray("the older result"));
    QCOMPARE(f.leftInTemp(), QStringList());
}

void ConversionTest::outputNeverReplacesTheInput() {
    RunFixture f;
    // A TIFF that carries the output's own name.
    const QString input = f.env.path(QStringLiteral("scan.djvu"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    const QByteArray before = test::fileBytes(input);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QVERIFY2(
        f.lastBox().endsWith(QStringLiteral("scan.djvu: the result would replace the input file")),
        qPrintable(f.lastBox()));
    QCOMPARE(test::fileBytes(input), before);
}

// The run converts the rows it started with: rows taken from the list while it runs (by a
// handler that ignores the locked list) change nothing of it.
void ConversionTest::rowsVanishingDuringTheRun() {
    RunFixture f;
    f.fakeSecondConverter("exit 1");
    for (const char* name : {"a.tif", "b.tif", "c.tif"})
        f.add(f.env.writeFile(QString::fromLatin1(name)));
    f.form->Option2->setChecked(true);
    once(
        f.form.get(),
        [&] { return f.form->ProgressBar1->text() == QStringLiteral("Processing: a.tif"); },
        [&] { f.form->files().clear(); });
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.lastBox().split(QStringLiteral("\r\n")),
             (QStringList{"Done.", "",
                          "3 of 3 file(s) could not be converted:", "a.tif: not a TIFF file",
                          "b.tif: not a TIFF file", "c.tif: not a TIFF file"}));
    QVERIFY(!f.form->IsConverting);
}

// While a run goes on only removing rows is blocked (by the hourglass). Rows can be added and
// carried, the options changed and the folder typed; the run converts the rows, options and folder
// it started with, and afterwards each row shows the outcome of its own path.
void ConversionTest::controlsStayUsableDuringARun() {
    RunFixture f;
    f.form->show();
    const QString out = f.env.path(QStringLiteral("out"));
    QDir().mkpath(out);
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) {
        const QString path = f.env.path(QString::fromLatin1(name));
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
    }
    f.form->Option1->setChecked(true);
    f.form->Text1->setText(out);
    const QList<QWidget*> usable{f.form->PushButton1, f.form->PushButton4, f.form->PushButton6,
                                 f.form->PushButton7, f.form->Option1,     f.form->Option2,
                                 f.form->Text1,       f.form->PushButton9, f.form->Option3,
                                 f.form->Option4,     f.form->Check1,      f.form->PushButton2,
                                 f.form->PushButton3, f.form->ListView1};
    QList<bool> during;
    bool dropTaken = false;
    const QString late = f.env.writeFile(QStringLiteral("late.tif"));
    once(
        f.form.get(),
        [&] { return f.form->ProgressBar1->text().startsWith(QStringLiteral("Processing: ")); },
        [&] {
            for (QWidget* w : usable)
                during.append(w->isEnabled());
            ListView& list = *f.form->ListView1;
            QTest::keyClicks(f.form->Text1, QStringLiteral("/elsewhere"));
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(late)});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(list.viewport(), &enter);
            QDropEvent dropped(QPointF(12, 12), Qt::CopyAction, &data, Qt::LeftButton,
                               Qt::NoModifier);
            QCoreApplication::sendEvent(list.viewport(), &dropped);
            dropTaken = enter.isAccepted();
            // Carry the first row onto the third, and press Delete on the second.
            const QPoint first = list.visualRect(list.model()->index(0, 0)).center();
            const QPoint third = list.visualRect(list.model()->index(2, 0)).center();
            QTest::mousePress(list.viewport(), Qt::LeftButton, {}, first);
            QMouseEvent move(QEvent::MouseMove, third, list.viewport()->mapToGlobal(third),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list.viewport(), &move);
            QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, third);
            list.selectRow(1);
            QTest::keyClick(&list, Qt::Key_Delete);
        });
    f.start();
    QCOMPARE(during, QList<bool>(usable.size(), true));
    QVERIFY(dropTaken);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    // Typing was stored as usual, and changed nothing of the run.
    QCOMPARE(f.form->Text1->text(), out + QStringLiteral("/elsewhere"));
    QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), {}), out + QStringLiteral("/elsewhere"));
    QCOMPARE(f.form->files().files(),
             (QStringList{f.env.path(QStringLiteral("c.tif")), f.env.path(QStringLiteral("b.tif")),
                          f.env.path(QStringLiteral("a.tif")), late}));
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name),
             (QStringList{"a.djvu", "b.djvu", "c.djvu"}));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.form->files().outcome(i), RowState::Converted);
        const QString tip = f.form->ListView1->model()
                                ->data(f.form->ListView1->model()->index(i, 0), Qt::ToolTipRole)
                                .toString();
        QCOMPARE(paths::FileNameOf(tip).chopped(5),
                 paths::FileNameOf(f.form->files().text(i)).chopped(4));
    }
    QCOMPARE(f.form->files().outcome(3), RowState::None);
    QVERIFY(!f.form->PushButton3->isEnabled());
}

void ConversionTest::runCount_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("title");
    QTest::newRow("start") << 0 << 9 << 0.0 << "0 of 9";
    QTest::newRow("two rows: no estimate yet") << 2 << 9 << 100.0 << "2 of 9";
    QTest::newRow("three rows") << 3 << 9 << 120.0 << "3 of 9, about 4 min left";
    QTest::newRow("seconds left") << 8 << 9 << 80.0 << "8 of 9, less than a minute left";
    QTest::newRow("hours left") << 3 << 1000 << 60.0 << "3 of 1000, about 6 h left";
    QTest::newRow("all done") << 9 << 9 << 300.0 << "9 of 9";
}

void ConversionTest::runCount() {
    QFETCH(int, done);
    QFETCH(int, count);
    QFETCH(double, seconds);
    QFETCH(QString, title);
    QCOMPARE(conversion::runCount(done, count, seconds), title);
}

// A mixed run with more than ten failures: where there is a log, the box points to it, and it has
// every row. The route through a PDF keeps one only when "RunLog" asks; the direct route always.
void ConversionTest::everyRowIsLogged_data() {
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QString>("runLog"); // "" for not stored
    QTest::addColumn<bool>("logged");
    QTest::newRow("through PDF") << false << "" << false;
    QTest::newRow("through PDF, RunLog False") << false << "False" << false;
    QTest::newRow("through PDF, RunLog True") << false << "True" << true;
    QTest::newRow("direct") << true << "" << true;
    QTest::newRow("direct, RunLog False") << true << "False" << true;
}

void ConversionTest::everyRowIsLogged() {
    QFETCH(bool, direct);
    QFETCH(QString, runLog);
    QFETCH(bool, logged);
    RunFixture f;
    if (!runLog.isEmpty())
        settings::SaveSetting(QStringLiteral("RunLog"), runLog);
    const QString good = f.env.path(QStringLiteral("good.tif"));
    test::writeTiff(good, test::TiffKind::BitonalG4);
    f.add(good);
    for (int i = 0; i < 11; ++i)
        f.add(f.env.writeFile(QStringLiteral("bad%1\n.tif").arg(i), "not a tiff"));
    f.form->Option2->setChecked(true);
    (direct ? f.form->Option3 : f.form->Option4)->setChecked(true);
    f.start();
    const QStringList lines = f.lastBox().split(QStringLiteral("\r\n"));
    const QString logFolder = f.env.stateDir() + QStringLiteral("/vormelle");
    if (!logged) {
        QCOMPARE(lines.last(), QStringLiteral("... and 1 more."));
        QCOMPARE(QDir(logFolder).entryList(QDir::Files), QStringList());
        return;
    }
    QVERIFY(lines.last().startsWith(QStringLiteral("All reasons: ")));
    const QString logPath = lines.last().mid(13);
    QVERIFY2(logPath.startsWith(logFolder + QStringLiteral("/run-")), qPrintable(logPath));
    QStringList rows = QString::fromUtf8(test::fileBytes(logPath)).split(QLatin1Char('\n'));
    // Indented lines tell more of the row above: its pages, a failed converter's last words.
    rows.removeIf([](const QString& l) {
        return l.isEmpty() || l.startsWith(QLatin1Char('#')) || l.startsWith(QLatin1Char(' '));
    });
    QCOMPARE(rows.size(), 12);
    rows.sort();
    QVERIFY2(rows.contains(QStringLiteral("1\tconverted\t")) || rows[0].startsWith("1\tconverted"),
             qPrintable(rows[0]));
    const QStringList bad = rows.filter(QStringLiteral("\tfailed\t"));
    QCOMPARE(bad.size(), 11);
    for (const QString& row : bad) {
        // One line each: the line break in the name is escaped.
        QVERIFY2(row.contains(QStringLiteral("\\n.tif\t")), qPrintable(row));
        QVERIFY2(row.endsWith(QStringLiteral("\tnot a TIFF file")), qPrintable(row));
    }
}

// Through a PDF one converter runs at a time unless "Jobs" says otherwise.
void ConversionTest::oneConverterAtATime_data() {
    QTest::addColumn<QString>("jobs"); // "" for not stored
    QTest::addColumn<bool>("overlap");
    QTest::newRow("Jobs not stored") << "" << false;
    QTest::newRow("Jobs not a number") << "many" << false;
    QTest::newRow("Jobs 2") << "2" << true;
}

void ConversionTest::oneConverterAtATime() {
    QFETCH(QString, jobs);
    QFETCH(bool, overlap);
    RunFixture f(false);
    if (!jobs.isEmpty())
        settings::SaveSetting(QStringLiteral("Jobs"), jobs);
    const QString lock = f.env.path(QStringLiteral("running"));
    const QString log = f.env.path(QStringLiteral("calls.log"));
    // Each pdf2djvu takes a second and notes whether another was running meanwhile.
    f.fakeSecondConverter("mkdir '" + lock.toUtf8() + "' 2>/dev/null || echo overlap >> '" +
                          log.toUtf8() + "'; sleep 1; rmdir '" + lock.toUtf8() +
                          "' 2>/dev/null; echo called >> '" + log.toUtf8() + "'; exit 1");
    for (int i = 0; i < 4; ++i) {
        const QString path = f.env.path(QStringLiteral("p%1.tif").arg(i));
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
    }
    f.form->Option2->setChecked(true);
    f.start();
    const QByteArray calls = test::fileBytes(log);
    QCOMPARE(calls.count("called"), 4);
    QCOMPARE(calls.contains("overlap"), overlap);
}

// When every row converted the box is "Done." with OK only and no icon; otherwise it names the
// failures and offers the folder.
void ConversionTest::doneHasOkOnly() {
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("a.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(f.dialogs.boxes[0].text, QStringLiteral("Done."));
    QCOMPARE(f.dialogs.boxes[0].buttons, platform::Buttons::Ok);
    QCOMPARE(f.dialogs.boxes[0].icon, Icon::None);
    QCOMPARE(f.dialogs.boxes[0].title, QString());
    f.add(f.env.writeFile(QStringLiteral("b.tif"), "not a tiff"));
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.dialogs.boxes[1].buttons, platform::Buttons::OkOpenFolder);
    QCOMPARE(f.dialogs.boxes[1].icon, Icon::Warning);
}

// An existing result its owner write-protected is not replaced.
void ConversionTest::writeProtectedResultIsKept() {
    RunFixture f;
    const QString input = f.env.path(QStringLiteral("a.tif"));
    test::writeTiff(input, test::TiffKind::BitonalG4);
    const QString old = f.env.writeFile(QStringLiteral("a.djvu"), "kept");
    QFile::setPermissions(old, QFile::ReadOwner | QFile::ReadGroup);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox().split(QStringLiteral("\r\n")).last(),
             QStringLiteral("a.tif: the existing a.djvu is write-protected"));
    QCOMPARE(test::fileBytes(old), QByteArray("kept"));
}

void ConversionTest::colourPagesSetting_data() {
    QTest::addColumn<QString>("stored"); // "" for not stored
    QTest::addColumn<bool>("layer");
    QTest::newRow("not stored") << "" << false;
    QTest::newRow("Compound") << "Compound" << false;
    QTest::newRow("Layer") << "Layer" << true;
    QTest::newRow("unknown") << "Photo" << false;
}

// The window's direct route codes a grey text page as "ColourPages" says: a mask over small
// layers, or one picture layer; the run log names the page's profile and its layers.
void ConversionTest::colourPagesSetting() {
    QFETCH(QString, stored);
    QFETCH(bool, layer);
    RunFixture f;
    if (!stored.isEmpty())
        settings::SaveSetting(QStringLiteral("ColourPages"), stored);
    test::TextPageLayout layout;
    layout.lines = test::knownLines(5, 10, 7);
    layout.antialiased = true;
    const QString input = f.env.path(QStringLiteral("grey.tif"));
    test::writeTextTiff(input, {test::paintTextPage(layout)}, false);
    f.add(input);
    f.form->Option2->setChecked(true);
    f.form->Option3->setChecked(true);
    f.start();
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString djvu = f.env.path(QStringLiteral("grey.djvu"));
    QProcess dump;
    dump.start(QStringLiteral("djvudump"), {djvu});
    QVERIFY(dump.waitForFinished(-1));
    const QByteArray chunks = dump.readAllStandardOutput();
    QCOMPARE(chunks.contains("Sjbz"), !layer);
    QVERIFY(chunks.contains("BG44"));
    const QStringList logs = QDir(f.env.stateDir() + QStringLiteral("/vormelle"))
                                 .entryList({QStringLiteral("run-*.log")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    const QString log = QString::fromUtf8(
        test::fileBytes(f.env.stateDir() + QStringLiteral("/vormelle/") + logs[0]));
    const QString profile = layer ? QStringLiteral("\n    page 1: layer, background ")
                                  : QStringLiteral("\n    page 1: text (text ");
    QVERIFY2(log.contains(profile), qPrintable(log));
}

QTEST_MAIN(ConversionTest)
#include "tst_conversion.moc"

void ConversionTest::failingClosingBoxStillEndsTheRun_data() {
    QTest::addColumn<bool>("withRows");
    QTest::addColumn<QString>("closing");
    QTest::newRow("Done.") << true << "Done.";
    QTest::newRow("No files added.") << false << kNoFiles;
}

// A closing box that fails is reported, and the run returns to idle without another box.
void ConversionTest::failingClosingBoxStillEndsTheRun() {
    QFETCH(bool, withRows);
    QFETCH(QString, closing);
    RunFixture f;
    f.fakeSecondConverter("exit 1");
    if (withRows)
        f.add(f.env.writeFile(QStringLiteral("a.tif")));
    f.form->Option2->setChecked(true);
    bool failed = false;
    f.dialogs.onBox = [&](const test::ShownBox& box) {
        if (!failed && box.text.startsWith(closing)) {
            failed = true;
            throw BasicError(BasicError::OutOfMemory);
        }
    };
    f.start();
    QVERIFY(failed);
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.dialogs.boxes[1].title, QStringLiteral("Application Error"));
    QVERIFY(f.dialogs.boxes[1].text.contains(
        QRegularExpression(QStringLiteral("at line %1(\\r\\r|$)").arg(withRows ? 180 : 184))));
    QVERIFY(!f.form->IsConverting);
}
