#include "app/controls.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/startupenv.h"
#include "platform/basicerror.h"
#include "tests/convert/runfixture.h"
#include "tests/convert/tiffmaker.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

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
    void hourglassBlocksRemoval();
    void outputOptions_data();
    void outputOptions();
    void failedRowsLeaveTheOutputAlone_data();
    void failedRowsLeaveTheOutputAlone();
    void outputNeverReplacesTheInput();
    void rowsVanishingDuringTheRun();
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
    const bool moved = startup::WorkInHomeFolder();
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
    QCOMPARE(f.form->ListView1->count(), 1);
}

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
    bool sawRun = false;
    duringRun([&] {
        sawRun = f.form->IsConverting;
        f.form->PushButton2->click();
    });
    f.start();
    QVERIFY(sawRun);
    QCOMPARE(f.dialogs.boxes.size(), 1);
    QCOMPARE(test::fileBytes(log), QByteArray("called\ncalled\n"));
    QVERIFY(!f.form->IsConverting);
    // And a click after the run starts a new one.
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 2);
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
    QCOMPARE(f.form->ListView1->count(), 3);
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

void ConversionTest::rowsVanishingDuringTheRun() {
    RunFixture f;
    f.fakeSecondConverter("exit 1");
    for (const char* name : {"a.tif", "b.tif", "c.tif"})
        f.add(f.env.writeFile(QString::fromLatin1(name)));
    f.form->Option2->setChecked(true);
    // Another handler that does not respect the hourglass empties the list in the first row.
    once(
        f.form.get(),
        [&] { return f.form->ProgressBar1->text() == QStringLiteral("Processing: a.tif"); },
        [&] { f.form->ListView1->clear(); });
    f.start();
    int reports = 0;
    for (const test::ShownBox& box : std::as_const(f.dialogs.boxes)) {
        if (box.title == QStringLiteral("Application Error")) {
            ++reports;
            QVERIFY(box.text.startsWith(QStringLiteral("Index out of bounds\r\n")));
            QVERIFY(box.text.contains(QStringLiteral("at line 128")));
        }
    }
    QVERIFY(reports >= 2);
    QVERIFY(f.lastBox().startsWith(QStringLiteral("Done.\r\n\r\n3 of 3 file(s)")));
    QVERIFY(!f.form->IsConverting);
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
