// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "app/settingsstore.h"
#include "output/encoderchoice.h"
#include "platform/apptitle.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace vormelle;

// The start-up sequence on a real window, a real settings file and a program folder of its own.
class StartupTest final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestEnv> m_env;
    test::ScriptedDialogs m_dialogs;
    test::RecordingDesktop m_desktop;
    QString m_program;

    QString desktop() const { return m_env->path(QStringLiteral("home/Schreibtisch")); }

    void storeSettings(const QByteArray& section) {
        QFile file(m_env->settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Vormelle]\n" + section);
    }

    std::unique_ptr<Form1> load(int draw = 1) {
        auto form = std::make_unique<Form1>(m_dialogs, m_desktop);
        connectHandlers(*form);
        Form_Load(*form, [draw] { return draw; });
        return form;
    }

private slots:
    void init() {
        m_env = std::make_unique<test::TestEnv>();
        m_program = m_env->path(QStringLiteral("program"));
        QDir().mkpath(m_program);
        paths::setProgramFolder(m_program);
        // The desktop folder comes from the user-folders setting.
        QFile dirs(m_env->configDir() + QStringLiteral("/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DESKTOP_DIR=\"" + QFile::encodeName(desktop()) + "\"\n");
        dirs.close();
        m_dialogs.boxes.clear();
        m_desktop.urls.clear();
    }
    void cleanup() {
        paths::setProgramFolder(QString());
        m_env.reset();
    }

    void firstStart() {
        m_env->writeFile(QStringLiteral("program/Samples/b.tif"));
        m_env->writeFile(QStringLiteral("program/Samples/a.tif"));
        auto form = std::make_unique<Form1>(m_dialogs, m_desktop);
        connectHandlers(*form);
        QSignalSpy textChanges(form->Text1, &QLineEdit::textChanged);
        Form_Load(*form, [] { return 1; });

        QVERIFY(form->Option1->isChecked());
        QVERIFY(!form->Option2->isChecked());
        QVERIFY(form->Frame4->isEnabled());
        QCOMPARE(form->Text1->text(), desktop() + QLatin1Char('/'));
        QCOMPARE(textChanges.size(), 1);
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 desktop() + QLatin1Char('/'));
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QString()),
                 m_program + QStringLiteral("/Samples/a.tif|") + m_program +
                     QStringLiteral("/Samples/b.tif"));
        // Nothing else is written at start-up.
        QVERIFY(!settings::hasSetting(QStringLiteral("Option1")));
        QVERIFY(!settings::hasSetting(QStringLiteral("Option2")));
        QCOMPARE(form->windowTitle(), QStringLiteral("Vormelle"));
        QCOMPARE(platform::applicationTitle(), QStringLiteral("Vormelle"));
        QVERIFY(!form->windowIcon().isNull());
        QCOMPARE(m_dialogs.boxes.size(), 0);
        QVERIFY(!form->hasMouseIcon()); // no pointer file in this program folder
    }

    void restart_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("option1");
        QTest::addColumn<bool>("option2");
        QTest::addColumn<bool>("frame4");
        QTest::addColumn<QString>("report"); // "" for none
        QTest::newRow("folder option")
            << QByteArray("Option1=True\nOption2=False\n") << true << false << true << "";
        QTest::newRow("beside originals")
            << QByteArray("Option1=False\nOption2=True\n") << false << true << false << "";
        QTest::newRow("both true: the later wins")
            << QByteArray("Option1=True\nOption2=True\n") << false << true << false << "";
        QTest::newRow("both false: neither")
            << QByteArray("Option1=False\nOption2=False\n") << false << false << false << "";
        QTest::newRow("numbers") << QByteArray("Option1=0\nOption2=-1\n") << false << true << false
                                 << "";
        QTest::newRow("Option1 not a boolean")
            << QByteArray("Option1=maybe\nOption2=False\n") << true << false << true << "138";
        QTest::newRow("Option2 not a boolean")
            << QByteArray("Option1=False\nOption2=yes\n") << false << false << false << "140";
    }
    void restart() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, report);
        storeSettings(stored + "Text1=/data/out/\nSnapshot=/x.tif\n");
        auto form = load();
        QFETCH(bool, option1);
        QFETCH(bool, option2);
        QFETCH(bool, frame4);
        QCOMPARE(form->Option1->isChecked(), option1);
        QCOMPARE(form->Option2->isChecked(), option2);
        QCOMPARE(form->Frame4->isEnabled(), frame4);
        QCOMPARE(form->Text1->text(), QStringLiteral("/data/out/"));
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QString()),
                 QStringLiteral("/x.tif"));
        if (report.isEmpty()) {
            QCOMPARE(m_dialogs.boxes.size(), 0);
        } else {
            QCOMPARE(m_dialogs.boxes.size(), 1);
            QCOMPARE(m_dialogs.boxes[0].title, QStringLiteral("Application Error"));
            QCOMPARE(m_dialogs.boxes[0].text,
                     errorReportText(QStringLiteral("Type mismatch"),
                                     QString::fromLatin1(trace::Form_Load), report.toInt()));
        }
        // The file keeps what it held.
        QCOMPARE(settings::GetSetting(QStringLiteral("Text1"), QString()),
                 QStringLiteral("/data/out/"));
    }

    // A settings file that holds junk: the program starts, each value it cannot use falls back
    // (reported where a boolean is expected), and the junk is still in the file afterwards.
    void encoderRestored_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<bool>("direct");
        QTest::newRow("missing") << QByteArray("Option1=True\n") << false;
        QTest::newRow("Direct") << QByteArray("Encoder=Direct\n") << true;
        QTest::newRow("PDF") << QByteArray("Encoder=PDF\n") << false;
        QTest::newRow("other letter case") << QByteArray("Encoder=direct\n") << true;
        QTest::newRow("unknown") << QByteArray("Encoder=Fast\n") << false;
        QTest::newRow("empty") << QByteArray("Encoder=\n") << false;
    }
    // A missing or unknown value means the route through a PDF; a click stores the choice, and
    // the next start finds it.
    void encoderRestored() {
        QFETCH(QByteArray, section);
        QFETCH(bool, direct);
        storeSettings("Option1=True\nOption2=False\n" + section);
        {
            auto form = load();
            QCOMPARE(form->Option3->isChecked(), direct);
            QCOMPARE(form->Option4->isChecked(), !direct);
            // The encoder's buttons leave the output options alone.
            QCOMPARE(form->Option1->isChecked(), true);
            OptionButton* other = direct ? form->Option4 : form->Option3;
            QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(8, other->height() / 2));
            QCOMPARE(settings::GetSetting(QStringLiteral("Encoder"), QString()),
                     direct ? QStringLiteral("PDF") : QStringLiteral("Direct"));
        }
        auto again = load();
        QCOMPARE(again->Option3->isChecked(), !direct);
        QCOMPARE(encoderchoice::chosenEncoder(*again),
                 direct ? encoderchoice::Encoder::Pdf : encoderchoice::Encoder::Direct);
        QVERIFY(m_dialogs.boxes.isEmpty());
    }

    void hostileSettingsFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("option1");
        QTest::addColumn<QString>("text1"); // "" for the desktop folder
        QTest::addColumn<QString>("report");
        QByteArray blob;
        for (int i = 0; i < 2048; ++i)
            blob.append(char((i * 131 + 7) % 251));
        QTest::newRow("binary blob only") << blob << true << ""
                                          << "";
        QTest::newRow("blob around the section")
            << blob + "\n[Vormelle]\nOption1=False\nText1=/data/out/\n" + blob << false
            << "/data/out/"
            << "";
        QTest::newRow("garbage lines")
            << QByteArray("}{ garbage\n[Vormelle\n=\n[Vormelle]\nno equals sign\n"
                          "Option1=maybe\nText1=/data/out/\n")
            << true << "/data/out/"
            << "138";
        QTest::newRow("a stored object")
            << QByteArray("[Vormelle]\nOption1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x6QPoint)\n")
            << true << ""
            << "138";
        QTest::newRow("bytes and no value")
            << QByteArray("[Vormelle]\nOption1=@ByteArray(0)\nText1=@Invalid()\n") << false << ""
            << "";
        QTest::newRow("a list") << QByteArray("[Vormelle]\nOption2=1, 2\n") << true << ""
                                << "140";
    }
    void hostileSettingsFile() {
        QFETCH(QByteArray, file);
        QFETCH(bool, option1);
        QFETCH(QString, text1);
        QFETCH(QString, report);
        {
            QFile f(m_env->settingsFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file);
        }
        auto form = load();
        QCOMPARE(form->Option1->isChecked(), option1);
        QCOMPARE(form->Text1->text(), text1.isEmpty() ? desktop() + QLatin1Char('/') : text1);
        if (report.isEmpty()) {
            QCOMPARE(m_dialogs.boxes.size(), 0);
        } else {
            QCOMPARE(m_dialogs.boxes.size(), 1);
            QVERIFY(m_dialogs.boxes[0].text.contains(QStringLiteral("at line ") + report));
        }
        // The program wrote "Text1" (and "Snapshot"); a click writes the options too.
        form->Option2->click();
        QVERIFY(form->Option2->isChecked());
        QFile f(m_env->settingsFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray after = f.readAll();
        QCOMPARE(settings::GetSetting(QStringLiteral("Option2"), QString()),
                 QStringLiteral("True"));
        // Every line of the old file but the rewritten ones is still there, in order.
        qsizetype at = 0;
        for (const QByteArray& line : file.split('\n')) {
            if (line.startsWith("Option1=") || line.startsWith("Option2=") ||
                line.startsWith("Text1="))
                continue;
            const qsizetype found = after.indexOf(line, at);
            QVERIFY2(found >= 0, line.toHex().constData());
            at = found + line.size();
        }
    }

    void noSamplesLeavesTheSnapshotEmpty_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("missing") << false;
        QTest::newRow("empty") << true;
    }
    void noSamplesLeavesTheSnapshotEmpty() {
        QFETCH(bool, folderExists);
        if (folderExists)
            QDir().mkpath(m_program + QStringLiteral("/Samples"));
        load();
        QVERIFY(settings::hasSetting(QStringLiteral("Snapshot")));
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QStringLiteral("unset")),
                 QString());
        // A later start with samples captures them.
        m_env->writeFile(QStringLiteral("program/Samples/a.tif"));
        load();
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QString()),
                 m_program + QStringLiteral("/Samples/a.tif"));
        QCOMPARE(m_dialogs.boxes.size(), 0);
    }

    void snapshotIsNeverRefreshed() {
        m_env->writeFile(QStringLiteral("program/Samples/a.tif"));
        load();
        m_env->writeFile(QStringLiteral("program/Samples/later.tif"));
        load();
        QCOMPARE(settings::GetSetting(QStringLiteral("Snapshot"), QString()),
                 m_program + QStringLiteral("/Samples/a.tif"));
    }

    void handPointerFromTheProgramFolder() {
        const QString source =
            test::TestEnv::sourceFolder() + QStringLiteral("/resources/pointers/HAND-M.CUR");
        QVERIFY(QFile::copy(source, m_program + QStringLiteral("/HAND-M.CUR")));
        auto form = load();
        QVERIFY(form->hasMouseIcon());
        QCOMPARE(m_dialogs.boxes.size(), 0);
    }

    void unreadablePointerIsReportedAndLoadingGoesOn() {
        m_env->writeFile(QStringLiteral("program/HAND-M.CUR"), "not a picture");
        auto form = load();
        QVERIFY(!form->hasMouseIcon());
        QCOMPARE(m_dialogs.boxes.size(), 1);
        QVERIFY(m_dialogs.boxes[0].text.contains(QStringLiteral("Form_Load at line 104")));
        QCOMPARE(form->Text1->text(), desktop() + QLatin1Char('/'));
    }

    // The start draws once for the home page; which draws open it is the rule's own test
    // (tst_startupenv). A build without a home page never opens one.
    void homePageDrawnAtStart() {
        load(7);
        QCOMPARE(m_desktop.urls.size(), kHomePage[0] != '\0' ? 1 : 0);
        m_desktop.urls.clear();
        load(6);
        QVERIFY(m_desktop.urls.isEmpty());
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
