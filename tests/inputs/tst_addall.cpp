// SPDX-License-Identifier: GPL-3.0-or-later
// "Add All TIFF File(s) In Folder": the prompt, the picker, the remembered answers, the rows.
#include "app/form1.h"
#include "app/settingsstore.h"
#include "inputs/addall.h"
#include "platform/faultpoint.h"
#include "tests/inputs/foldertree.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <memory>

using namespace vormelle;
using test::Window;

namespace {

const QString kPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc "
    "files, etc.)");

std::unique_ptr<Window> window() {
    auto w = std::make_unique<Window>();
    addall::connect(w->form);
    return w;
}

// Clicks the button with the answers queued: the extension, then the folder.
void addAll(Window& w, const QString& extension, const QString& folder) {
    w.dialogs.inputAnswers.push_back(extension);
    w.dialogs.folderAnswers.push_back(folder);
    w.form.PushButton4->click();
}

} // namespace

class AddAllTest : public QObject {
    Q_OBJECT
private slots:
    void extensions_data();
    void extensions();
    void emptyAnswerKeepsExtension();
    void firstClickOffersDefaults();
    void answersRememberedAcrossRestart();
    void pickerCancelled();
    void rowsFollowLevelOrder();
    void skippingRules();
    void hourglassDuringScan();
    void failedFolderGoesOnWithTheNext();
};

// A failure while a folder's files become rows (statement 122) is reported, and the scan goes on
// with the next folder and ends as usual, the pointer back to the default.
void AddAllTest::failedFolderGoesOnWithTheNext() {
    auto w = window();
    w->make({"d/a.tif", "d/sub/b.tif"});
    int failures = 0;
    platform::setFault([&failures](std::string_view where, int line) {
        if (where == "in Tessary2021/08/31.Form1.PushButton4_Click " && line == 122 &&
            failures++ == 0)
            throw std::runtime_error("injected");
    });
    addAll(*w, QStringLiteral("tif*"), w->path("d"));
    platform::setFault({});
    QCOMPARE(w->rows(), QStringList{w->path("d/sub/b.tif")});
    QCOMPARE(w->dialogs.boxes.size(), 1);
    QCOMPARE(w->dialogs.boxes[0].title, QStringLiteral("Application Error"));
    QVERIFY2(w->dialogs.boxes[0].text.startsWith(
                 QStringLiteral("injected\r\nin Tessary2021/08/31.Form1.PushButton4_Click at "
                                "line 122")),
             qPrintable(w->dialogs.boxes[0].text));
    QCOMPARE(w->form.MousePointer(), int(Form1::Default));
}

void AddAllTest::extensions_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("tif*") << "tif*" << QStringList{"a.tif", "b.TIFF"};
    QTest::newRow("*") << "*" << QStringList{"a.tif", "b.TIFF", "c.jpg", "notes.txt", "README"};
    QTest::newRow("txt") << "txt" << QStringList{"notes.txt"};
    QTest::newRow("upper case") << "TIF" << QStringList{"a.tif"};
}

void AddAllTest::extensions() {
    QFETCH(QString, answer);
    QFETCH(QStringList, expected);
    auto w = window();
    w->make({"d/a.tif", "d/b.TIFF", "d/c.jpg", "d/notes.txt", "d/README"});
    addAll(*w, answer, w->path("d"));
    for (QString& e : expected)
        e = w->path("d/" + e);
    QCOMPARE(w->rows(), expected);
    QCOMPARE(settings::GetSetting("Extension", "none"), answer);

    // The answer is offered the next time.
    w->form.PushButton4->click();
    QCOMPARE(w->dialogs.inputDefaults.last(), answer);
}

void AddAllTest::emptyAnswerKeepsExtension() {
    auto w = window();
    w->make({"d/a.tif"});
    settings::SaveSetting("Extension", "txt");
    // An emptied answer and Cancel both come back as "".
    addAll(*w, QString(), w->path("d"));
    QCOMPARE(settings::GetSetting("Extension", "none"), QStringLiteral("txt"));
    QCOMPARE(w->dialogs.inputDefaults, QStringList{"txt"});
    QVERIFY(w->dialogs.folderStarts.isEmpty()); // the picker never showed
    QCOMPARE(w->rows(), QStringList());
}

void AddAllTest::firstClickOffersDefaults() {
    auto w = window();
    w->form.PushButton4->click(); // cancels the prompt
    QCOMPARE(w->dialogs.inputPrompts, QStringList{kPrompt});
    QCOMPARE(w->dialogs.inputTitles, QStringList{QString()}); // the application title
    QCOMPARE(w->dialogs.inputDefaults, QStringList{"tif*"});
    QVERIFY(!settings::hasSetting("Extension"));

    w->dialogs.inputAnswers.push_back("tif*");
    w->form.PushButton4->click(); // cancels the picker
    QCOMPARE(w->dialogs.folderTitles, QStringList{"Please select folder:"});
    QCOMPARE(w->dialogs.folderStarts, QStringList{QString()});
}

void AddAllTest::answersRememberedAcrossRestart() {
    test::TestEnv env; // one settings folder for both runs of the program
    const QString folder = env.path("scans");
    QVERIFY(QDir().mkpath(folder));
    {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        addall::connect(form);
        dialogs.inputAnswers.push_back("djvu");
        dialogs.folderAnswers.push_back(folder);
        form.PushButton4->click();
    }
    QCOMPARE(settings::GetSetting("LastFolder", "none"), folder);
    QCOMPARE(settings::GetSetting("Extension", "none"), QStringLiteral("djvu"));

    test::ScriptedDialogs dialogs;
    test::RecordingDesktop desktop;
    Form1 form(dialogs, desktop);
    addall::connect(form);
    dialogs.inputAnswers.push_back("tif*");
    form.PushButton4->click();
    QCOMPARE(dialogs.inputDefaults, QStringList{"djvu"});
    QCOMPARE(dialogs.folderStarts, QStringList{folder});
}

void AddAllTest::pickerCancelled() {
    auto w = window();
    w->make({"d/a.tif"});
    settings::SaveSetting("LastFolder", w->path("d"));
    addAll(*w, "jpg", QString());
    QCOMPARE(settings::GetSetting("Extension", "none"), QStringLiteral("jpg"));
    QCOMPARE(settings::GetSetting("LastFolder", "none"), w->path("d"));
    QCOMPARE(w->rows(), QStringList());
    QCOMPARE(w->form.MousePointer(), int(Form1::Default));
}

void AddAllTest::rowsFollowLevelOrder() {
    auto w = window();
    w->make({"A/c/e/f.tif", "A/b/d/f.tif", "A/c/f.tif", "A/b/f.tif", "A/f.tif", "A/g.tif"});
    addAll(*w, "tif*", w->path("A"));
    const QStringList expected =
        w->paths({"A/f.tif", "A/g.tif", "A/b/f.tif", "A/c/f.tif", "A/b/d/f.tif", "A/c/e/f.tif"});
    QCOMPARE(w->rows(), expected);
    // Nothing is looked for in the list: the same files come again.
    addAll(*w, "tif*", w->path("A"));
    QCOMPARE(w->rows(), expected + expected);
    QVERIFY(w->dialogs.boxes.isEmpty());
}

void AddAllTest::skippingRules() {
    auto w = window();
    w->make({"d/~scan.tif", "d/scan~.tif", "d/.DS_Store.tif", "d/.ro.tif", "d/.cache/x.tif",
             "d/sub/y.tif"});
    QVERIFY(test::setMode(w->path("d/.ro.tif"), 0444)); // hidden + read-only + archive: 35
    QVERIFY(test::makeFifo(w->path("d/pipe.tif")));
    QVERIFY(QFile::link(w->path("d"), w->path("d/sub/loop"))); // a loop back to the top
    QVERIFY(QFile::link(w->path("d/scan~.tif"), w->path("d/link.tif")));
    addAll(*w, "tif*", w->path("d"));
    QCOMPARE(w->rows(),
             w->paths({"d/.ro.tif", "d/link.tif", "d/scan~.tif", "d/.cache/x.tif", "d/sub/y.tif"}));
}

void AddAllTest::hourglassDuringScan() {
    auto w = window();
    w->make({"A/b/c/x.tif"});
    int pointer = -1;
    Qt::CursorShape shape = Qt::ArrowCursor;
    // Runs at the scan's first look at the window's events.
    QTimer::singleShot(0, &w->form, [&] {
        pointer = w->form.MousePointer();
        if (QApplication::overrideCursor())
            shape = QApplication::overrideCursor()->shape();
    });
    addAll(*w, "tif*", w->path("A"));
    QCOMPARE(pointer, int(Form1::Hourglass));
    QCOMPARE(shape, Qt::WaitCursor);
    QCOMPARE(w->form.MousePointer(), int(Form1::Default));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(w->rows(), w->paths({"A/b/c/x.tif"}));
}

QTEST_MAIN(AddAllTest)
#include "tst_addall.moc"
