// SPDX-License-Identifier: GPL-3.0-or-later
// The output options: the two option buttons with Frame4, the folder text and its "..." picker.
#include "app/controls.h"
#include "app/form1.h"
#include "app/settingsstore.h"
#include "output/outputoptions.h"
#include "tests/support/permissionbits.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using namespace vormelle;

namespace {

struct Window {
    test::ScriptedDialogs dialogs;
    test::RecordingDesktop desktop;
    Form1 form{dialogs, desktop};
    Window() { outputoptions::connect(form); }
};

QString stored(const QString& key) {
    return settings::GetSetting(key, QStringLiteral("<none>"));
}

} // namespace

class OutputOptionsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env = std::make_unique<test::TestEnv>(); }
    void cleanup() { m_env.reset(); }

    void optionClicks_data();
    void optionClicks();
    void typingStoresEveryText();
    void textSetByProgramIsStored();
    void pickFolder_data();
    void pickFolder();
    void pickerCancelled();
    void pickerStartsAtLastPickAfterRestart();
    void unwritableSettingsReported_data();
    void unwritableSettingsReported();

private:
    std::unique_ptr<test::TestEnv> m_env;
};

void OutputOptionsTest::optionClicks_data() {
    QTest::addColumn<bool>("option1Before");
    QTest::addColumn<bool>("option2Before");
    QTest::addColumn<int>("clicked");
    QTest::addColumn<QString>("option1Stored");
    QTest::addColumn<QString>("option2Stored");
    QTest::addColumn<bool>("frame4Enabled");
    // The states a start-up can restore: Option1 alone, Option2 alone, or neither.
    QTest::newRow("first start, Option2") << true << false << 2 << "False"
                                          << "True" << false;
    QTest::newRow("first start, Option1 again") << true << false << 1 << "True"
                                                << "False" << true;
    QTest::newRow("Option2 restored, Option1") << false << true << 1 << "True"
                                               << "False" << true;
    QTest::newRow("neither restored, Option1") << false << false << 1 << "True"
                                               << "False" << true;
    QTest::newRow("neither restored, Option2") << false << false << 2 << "False"
                                               << "True" << false;
}

void OutputOptionsTest::optionClicks() {
    QFETCH(bool, option1Before);
    QFETCH(bool, option2Before);
    QFETCH(int, clicked);
    QFETCH(QString, option1Stored);
    QFETCH(QString, option2Stored);
    QFETCH(bool, frame4Enabled);
    Window w;
    w.form.Option1->setChecked(option1Before);
    w.form.Option2->setChecked(option2Before);
    w.form.Frame4->setEnabled(option1Before);
    QVERIFY(!settings::hasSetting("Option1")); // setting states by program stores nothing

    w.form.show(); // a disabled Frame4 must also keep its controls from taking input
    OptionButton* option = clicked == 1 ? w.form.Option1 : w.form.Option2;
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
    QCOMPARE(stored("Option1"), option1Stored);
    QCOMPARE(stored("Option2"), option2Stored);
    QCOMPARE(w.form.Option1->isChecked(), clicked == 1);
    QCOMPARE(w.form.Option2->isChecked(), clicked == 2);
    QCOMPARE(w.form.Frame4->isEnabled(), frame4Enabled);
    QCOMPARE(w.form.Text1->isEnabled(), frame4Enabled);
    QCOMPARE(w.form.PushButton9->isEnabled(), frame4Enabled);
}

void OutputOptionsTest::typingStoresEveryText() {
    Window w;
    QStringList seen;
    QObject::connect(w.form.Text1, &QLineEdit::textChanged, &w.form,
                     [&seen] { seen.append(stored("Text1")); });
    w.form.show();
    w.form.Text1->setFocus();
    QTest::keyClicks(w.form.Text1, QStringLiteral(" /o "));
    // Every keystroke is on disk before the next; nothing is trimmed.
    QCOMPARE(seen, (QStringList{" ", " /", " /o", " /o "}));
    QTest::keyClick(w.form.Text1, Qt::Key_Backspace);
    QCOMPARE(stored("Text1"), QStringLiteral(" /o"));

    // And it is there for the next start.
    Window next;
    QCOMPARE(stored("Text1"), QStringLiteral(" /o"));
}

void OutputOptionsTest::textSetByProgramIsStored() {
    Window w;
    w.form.Text1->setText(QStringLiteral("/home/user/Desktop/"));
    QCOMPARE(stored("Text1"), QStringLiteral("/home/user/Desktop/"));
    w.form.Text1->setText(QString());
    QCOMPARE(stored("Text1"), QString());
}

void OutputOptionsTest::pickFolder_data() {
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("text1");
    QTest::newRow("folder") << "/data/out"
                            << "/data/out/";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("spaces") << "/data/my scans"
                            << "/data/my scans/";
}

void OutputOptionsTest::pickFolder() {
    QFETCH(QString, picked);
    QFETCH(QString, text1);
    Window w;
    w.dialogs.folderAnswers.push_back(picked);
    w.form.PushButton9->click();
    QCOMPARE(w.dialogs.folderTitles, QStringList{"Please select folder:"});
    QCOMPARE(w.dialogs.folderStarts, QStringList{QString()});
    QCOMPARE(w.form.Text1->text(), text1);
    QCOMPARE(stored("Text1"), text1);
    QCOMPARE(stored("LastFolderDot"), picked);
    QCOMPARE(outputoptions::LastOutputFolder(), picked);
    QVERIFY(w.dialogs.boxes.isEmpty());
}

void OutputOptionsTest::pickerCancelled() {
    Window w;
    settings::SaveSetting("LastFolderDot", "/data/old");
    w.form.Text1->setText(QStringLiteral("typed"));
    w.form.PushButton9->click();
    QCOMPARE(w.dialogs.folderStarts, QStringList{"/data/old"});
    QCOMPARE(w.form.Text1->text(), QStringLiteral("typed"));
    QCOMPARE(stored("Text1"), QStringLiteral("typed"));
    QCOMPARE(stored("LastFolderDot"), QStringLiteral("/data/old"));
}

void OutputOptionsTest::pickerStartsAtLastPickAfterRestart() {
    {
        Window w;
        w.dialogs.folderAnswers.push_back(QStringLiteral("/data/out"));
        w.form.PushButton9->click();
    }
    // Changed behind the program's back between runs: the store, not memory, decides.
    settings::SaveSetting("LastFolderDot", "/data/elsewhere");
    Window next;
    next.form.PushButton9->click();
    QCOMPARE(next.dialogs.folderStarts, QStringList{"/data/elsewhere"});
}

void OutputOptionsTest::unwritableSettingsReported_data() {
    QTest::addColumn<bool>("folder");
    QTest::newRow("a configuration folder without write permission") << true;
    QTest::newRow("a settings file that may not be read") << false;
}

// A store that cannot be written is reported once, by the first handler that fails to save,
// with the path and the reason; every later save is kept in memory without a word, and reads
// give the saved values back.
void OutputOptionsTest::unwritableSettingsReported() {
    QFETCH(bool, folder);
    Window w;
    settings::SaveSetting("Option1", "True");
    const QString path = folder ? m_env->configDir() : m_env->settingsFile();
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(::chmod(name.constData(), folder ? 0500 : 0) == 0);
    {
        test::PermissionBitsApply bits;
        if (!bits.active())
            QSKIP("permission bits cannot be made to apply here");
        w.dialogs.folderAnswers.push_back(QStringLiteral("/data/out"));
        w.form.show();
        w.form.PushButton9->click();
        w.form.Text1->setFocus();
        QTest::keyClicks(w.form.Text1, QStringLiteral("abc"));
        w.form.Option2->click();
        QCOMPARE(stored("Option1"), QStringLiteral("False"));
        QCOMPARE(stored("Option2"), QStringLiteral("True"));
        QCOMPARE(stored("Text1"), QStringLiteral("/data/out/abc"));
        QCOMPARE(stored("LastFolderDot"), QStringLiteral("/data/out"));
    }
    QVERIFY(::chmod(name.constData(), folder ? 0700 : 0600) == 0);
    // The handlers went on: Frame4 follows the option and the picked folder reached the text.
    QVERIFY(!w.form.Frame4->isEnabled());
    QCOMPARE(w.dialogs.boxes.size(), 1);
    const QString text = w.dialogs.boxes[0].text;
    QCOMPARE(w.dialogs.boxes[0].title, QStringLiteral("Application Error"));
    QVERIFY2(text.startsWith(QStringLiteral(
                 "Permission denied\r\nin Tessary2021/08/31.Form1.PushButton9_Click at line 104")),
             qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("\r\n\r\n") + path +
                           QStringLiteral(": Permission denied\r\nSettings cannot be saved now. "
                                          "Vormelle goes on with them in memory; changes made "
                                          "until it closes are not kept.")),
             qPrintable(text));
    // The file on disk is as it was before.
    QFile file(m_env->settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ini = file.readAll();
    QVERIFY(ini.contains("Option1=True"));
    QVERIFY(!ini.contains("Option2"));
}

QTEST_MAIN(OutputOptionsTest)
#include "tst_outputoptions.moc"
