// SPDX-License-Identifier: GPL-3.0-or-later
// Started under LANG=de_DE.UTF-8 (see CMakeLists.txt), as a German user starts the program; the
// de_DE locale need not be generated on the machine.
#include "app/accessibility.h"
#include "app/controls.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "app/translations.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "platform/qtdialogs.h"
#include "tests/convert/runfixture.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace vormelle;

class GermanTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(qgetenv("LANG"), QByteArray("de_DE.UTF-8"));
        QCOMPARE(translations::install(), QStringLiteral("de"));
    }

    void windowSpeaksGerman() {
        test::TestEnv env;
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        form.unload = [] {};
        Form_Load(form, [] { return 1; });
        const QList<std::pair<QString, QString>> shown = {
            {form.PushButton1->text(), "TIFF-Datei(en) hinzufügen"},
            {form.PushButton4->text(), "Alle TIFF-Dateien im Ordner hinzufügen"},
            {form.PushButton6->text(), "Liste leeren"},
            {form.PushButton7->text(), "Beispieldateien laden"},
            {form.Frame1->title(), "Speicherort"},
            {form.Option1->text(), "Ergebnisse in diesem Ordner speichern:"},
            {form.Option2->text(), "Ergebnisse im Ordner der Originaldatei speichern"},
            {form.PushButton2->text(), "Umwandlung starten"},
            {form.Option3->text(), "Direkt: 1-Bit-Seiten exakt, Farbe kompakt"},
            {form.Option4->text(), "Über PDF (tiff2pdf + pdf2djvu)"},
            {form.Check3->text(), "Kleinere Schwarz-Weiß-Seiten (verlustbehaftet)"},
            {form.ProgressBar1->text(), "Fortschrittsbalken"},
            {form.ListView1->model()->headerData(0, Qt::Horizontal).toString(), "TIFF-Datei(en)"},
            {form.ListView1->accessibleName(), "Umzuwandelnde TIFF-Dateien"},
            {form.Text1->accessibleName(), "Zielordner"},
            {form.PushButton9->accessibleName(), "Zielordner wählen"},
            {form.ProgressBar1->accessibleName(), "Fortschritt"},
        };
        for (const auto& [text, german] : shown)
            QCOMPARE(text, german);
        QVERIFY(form.ListView1->toolTip().startsWith(u"Dateien hierher ziehen"));
    }

    // A box through the scripted dialogs, and the closing box of a real run in German.
    void messagesSpeakGerman() {
        test::RunFixture run;
        run.start();
        QCOMPARE(run.lastBox(), QStringLiteral("Keine Dateien hinzugefügt."));

        run.form->Option1->setChecked(false); // beside the originals
        run.form->Option2->setChecked(true);
        const QString good = run.env.path(QStringLiteral("scan.tif"));
        QVERIFY(QFile::copy(test::TestEnv::builtProgramFolder() +
                                QStringLiteral("/Samples/letter-bitonal-g4.tif"),
                            good));
        run.add(good);
        run.add(run.env.writeFile(QStringLiteral("notes.tif"), "no TIFF at all"));
        run.start();
        QCOMPARE(run.lastBox(),
                 QStringLiteral("Fertig.\r\n\r\n1 von 2 Dateien konnten nicht umgewandelt "
                                "werden:\r\nnotes.tif: keine TIFF-Datei"));
        QVERIFY(QFile::exists(run.env.path(QStringLiteral("scan.djvu"))));
    }

    // The engine's refusals and failures, which the closing box and the command line pass on
    // as they are.
    void engineMessagesSpeakGerman_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("german");
        QTest::newRow("language without data") << engine::ocrLanguageProblem(QStringLiteral("xx"))
                                               << "Nichts wurde umgewandelt: Tesseract hat in ";
        QTest::newRow("no language name")
            << engine::ocrLanguageProblem(QStringLiteral("../eng"))
            << "Nichts wurde umgewandelt: „../eng“ ist keine Sprache für die Textebene";
        QTest::newRow("Tesseract refuses the name")
            << engine::Recognizer(QStringLiteral("../eng")).problem()
            << "„../eng“ ist kein Sprachname";
        QTest::newRow("converter failure")
            << engine::converterReason("pdf2djvu", 3, 0, {}) << "pdf2djvu endete mit Code 3";
    }
    void engineMessagesSpeakGerman() {
        QFETCH(QString, message);
        QFETCH(QString, german);
        QVERIFY2(message.startsWith(german), qPrintable(message));
    }

    // Qt's own buttons come from qtbase_de, ours from our translation.
    void realMessageBoxSpeaksGerman_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QStringList>("texts");
        QTest::addRow("yes, no") << int(platform::Buttons::YesNo)
                                 << QStringList{QStringLiteral("&Ja"), QStringLiteral("&Nein")};
        QTest::addRow("OK, open folder")
            << int(platform::Buttons::OkOpenFolder)
            << QStringList{QStringLiteral("OK"), QStringLiteral("Ordner öffnen")};
    }
    void realMessageBoxSpeaksGerman() {
        QFETCH(int, buttons);
        QFETCH(QStringList, texts);
        QStringList seen;
        test::whenOpen<QMessageBox>([&seen](QMessageBox& box) {
            for (QAbstractButton* b : box.buttons())
                seen.append(b->text());
            box.reject();
        });
        platform::QtDialogs dialogs;
        dialogs.messageBox(nullptr, QStringLiteral("?"), QStringLiteral("Vormelle"),
                           platform::Buttons(buttons), platform::Icon::Question);
        seen.sort();
        texts.sort();
        QCOMPARE(seen, texts);
    }

    // The program itself picks its language from the environment, with no window.
    void commandLineLanguage_data() {
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const QStringList help{QStringLiteral("--help")};
        const QStringList unknown{QStringLiteral("--bogus")};
        QTest::addRow("German help") << QByteArray("de_DE.UTF-8") << QByteArray() << help << 0
                                     << "Aufruf: vormelle [DATEI|ORDNER]...";
        QTest::addRow("German mistake")
            << QByteArray("de_DE.UTF-8") << QByteArray() << unknown << 2
            << "vormelle: unbekannte Option --bogus\n„vormelle --help“ gibt weitere "
               "Informationen.\n";
        QTest::addRow("Austrian") << QByteArray("de_AT.UTF-8") << QByteArray() << help << 0
                                  << "Aufruf:";
        QTest::addRow("English before German")
            << QByteArray("en_GB.UTF-8") << QByteArray("en_GB:de") << help << 0 << "Usage:";
        QTest::addRow("French, then German")
            << QByteArray("fr_FR.UTF-8") << QByteArray("fr:de") << help << 0 << "Aufruf:";
        QTest::addRow("C") << QByteArray("C.UTF-8") << QByteArray() << unknown << 2
                           << "vormelle: unknown option --bogus\nTry 'vormelle --help' for more "
                              "information.\n";
        QTest::addRow("German batch")
            << QByteArray("de_DE.UTF-8") << QByteArray()
            << QStringList{QStringLiteral("--convert"), QStringLiteral("--beside"),
                           QStringLiteral("/nonexistent/a.tif")}
            << 1
            << "vormelle: /nonexistent/a.tif: der Zielordner /nonexistent existiert nicht mehr";
    }
    void commandLineLanguage() {
        QFETCH(QByteArray, lang);
        QFETCH(QByteArray, language);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        test::TestEnv env;
        QProcess program;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
            e.remove(QString::fromLatin1(name));
        e.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
        if (!language.isEmpty())
            e.insert(QStringLiteral("LANGUAGE"), QString::fromLatin1(language));
        program.setProcessEnvironment(e);
        program.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"), arguments);
        QVERIFY(program.waitForFinished(60000));
        const QString out =
            QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError());
        QVERIFY2(out.contains(said), qPrintable(out));
        QCOMPARE(program.exitCode(), status);
    }
};

QTEST_MAIN(GermanTest)
#include "tst_german.moc"
