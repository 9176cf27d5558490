// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: parsing, the program's answers that need no window, and the rows that names
// given at start add.
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/batch.h"
#include "app/program/commandline.h"
#include "app/program/handlers.h"
#include "app/program/startup.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using namespace vormelle;
using CL = commandline::CommandLine;

Q_DECLARE_METATYPE(CL::Action)
Q_DECLARE_METATYPE(CL::Destination)
Q_DECLARE_METATYPE(CL::Encoder)
Q_DECLARE_METATYPE(vormelle::engine::ColourPages)

namespace {

const QString kCwd = QStringLiteral("/home/ana/scans");

QList<QByteArray> split(const QString& line) {
    QList<QByteArray> args;
    for (const QString& a : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        args.append(a.toUtf8());
    return args;
}

} // namespace

class CommandLineTest final : public QObject {
    Q_OBJECT

    // Runs the built program with no display at all.
    static QProcess* runProgram(const QStringList& args) {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        p->setProcessEnvironment(env);
        p->start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"), args);
        return p;
    }

private slots:
    void parses_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<CL::Action>("action");
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<CL::Destination>("destination");
        QTest::addColumn<QString>("output");
        QTest::addColumn<CL::Encoder>("encoder");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("ocr"); // "-" off, "" default languages

        using A = CL::Action;
        using D = CL::Destination;
        using E = CL::Encoder;
        const QString s = kCwd + QLatin1Char('/');
        auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
        row("nothing") << "" << A::Window << QStringList{} << D::None << "" << E::Direct << 0 << ""
                       << "-";
        row("names kept in order, relative made full")
            << "b.tif /abs/a.tif ./c.tif sub/ ." << A::Window
            << QStringList{s + "b.tif", "/abs/a.tif", s + "c.tif", s + "sub/", s} << D::None << ""
            << E::Direct << 0 << ""
            << "-";
        row("help wins over what follows") << "a.tif --help --bogus" << A::Help << QStringList{}
                                           << D::None << "" << E::Direct << 0 << ""
                                           << "-";
        row("short help") << "-h" << A::Help << QStringList{} << D::None << "" << E::Direct << 0
                          << ""
                          << "-";
        row("version") << "--version" << A::Version << QStringList{} << D::None << "" << E::Direct
                       << 0 << ""
                       << "-";
        row("after --, options are names")
            << "-- --help -x" << A::Window << QStringList{s + "--help", s + "-x"} << D::None << ""
            << E::Direct << 0 << ""
            << "-";
        row("a lone dash is a name")
            << "-" << A::Window << QStringList{s + "-"} << D::None << "" << E::Direct << 0 << ""
            << "-";
        row("join") << "--convert --join book.djvu a.tif" << A::Convert << QStringList{s + "a.tif"}
                    << D::Join << "" << E::Direct << 0 << ""
                    << "-";
        row("convert, every option spaced")
            << "--convert --output out --encoder pdf --jobs 16 --log run.log --ocr a.tif"
            << A::Convert << QStringList{s + "a.tif"} << D::Folder << s + "out" << E::Pdf << 16
            << s + "run.log"
            << "";
        row("convert, every option with =")
            << "a.tif --output=/o --encoder=direct --jobs=1 --log=/l --ocr=deu+eng --convert"
            << A::Convert << QStringList{s + "a.tif"} << D::Folder << "/o" << E::Direct << 1 << "/l"
            << "deu+eng";
        // The settings accept a script's data ("script/Latin"); so does the command line.
        row("a script's data") << "--convert --beside --ocr=script/Latin+eng a.tif" << A::Convert
                               << QStringList{s + "a.tif"} << D::Beside << "" << E::Direct << 0
                               << ""
                               << "script/Latin+eng";
        row("join partial, skip existing, lossy")
            << "--convert --join-partial --skip-existing --lossy --join=book.djvu a.tif"
            << A::Convert << QStringList{s + "a.tif"} << D::Join << "" << E::Direct << 0 << ""
            << "-";
        row("beside") << "--convert --beside f" << A::Convert << QStringList{s + "f"} << D::Beside
                      << "" << E::Direct << 0 << ""
                      << "-";
    }

    void parses() {
        QFETCH(QString, line);
        const CL c = commandline::parse(split(line), kCwd);
        QCOMPARE(c.error, QString());
        QTEST(c.action, "action");
        QTEST(c.inputs, "inputs");
        QTEST(c.destination, "destination");
        QTEST(c.outputFolder, "output");
        QTEST(c.encoder, "encoder");
        QTEST(c.jobs, "jobs");
        QTEST(c.logFile, "log");
        QCOMPARE(c.joinFile, c.destination == CL::Destination::Join
                                 ? kCwd + QStringLiteral("/book.djvu")
                                 : QString());
        QCOMPARE(c.skipExisting, line.contains(QLatin1String("--skip-existing")));
        QCOMPARE(c.lossy, line.contains(QLatin1String("--lossy")));
        QCOMPARE(c.joinPartial, line.contains(QLatin1String("--join-partial")));
        QFETCH(QString, ocr);
        QCOMPARE(c.ocr, ocr != QLatin1String("-"));
        if (c.ocr)
            QCOMPARE(c.ocrLanguages, ocr);
    }

    void refuses_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("error");
        const char* const rows[][2] = {
            {"--bogus", "unknown option --bogus"},
            {"-x a.tif", "unknown option -x"},
            {"--convert=yes a.tif", "unknown option --convert=yes"},
            {"--convert", "--convert needs at least one FILE or FOLDER"},
            {"--output o a.tif", "--output needs --convert"},
            {"--jobs 2 a.tif", "--jobs needs --convert"},
            {"--ocr a.tif", "--ocr needs --convert"},
            {"--convert a.tif", "--convert needs --output DIR, --beside or --join FILE"},
            {"--convert --ocr --encoder pdf a.tif",
             "--convert needs --output DIR, --beside or --join FILE"},
            {"--convert --output o --beside a", "--output, --beside and --join exclude each other"},
            {"--convert --join b.djvu --output o a",
             "--output, --beside and --join exclude each other"},
            {"--convert --join b.djvu --beside a",
             "--output, --beside and --join exclude each other"},
            {"--convert --join", "--join needs a value"},
            {"--convert --join out/ a", "--join takes the document's file name, not a folder"},
            {"--convert --beside --join-partial a", "--join-partial needs --join FILE"},
            {"--skip-existing a.tif", "--skip-existing needs --convert"},
            {"--join b.djvu a.tif", "--join needs --convert"},
            {"--convert --beside --skip-existing --skip-existing a",
             "--skip-existing is given twice"},
            {"--convert --output", "--output needs a value"},
            {"--convert --output= a", "--output needs a value"},
            {"--convert --jobs 0 a", "--jobs takes a number from 1 to 16, not 0"},
            {"--convert --jobs 17 a", "--jobs takes a number from 1 to 16, not 17"},
            {"--convert --jobs -3 a", "--jobs takes a number from 1 to 16, not -3"},
            {"--convert --jobs 4x a", "--jobs takes a number from 1 to 16, not 4x"},
            {"--convert --jobs 99999999999 a",
             "--jobs takes a number from 1 to 16, not 99999999999"},
            {"--convert --encoder djvu a", "--encoder takes direct or pdf, not djvu"},
            {"--convert --encoder PDF a", "--encoder takes direct or pdf, not PDF"},
            {"--convert --colour-pages Layer a",
             "--colour-pages takes compound or layer, not Layer"},
            {"--convert --colour-pages a", "--colour-pages takes compound or layer, not a"},
            {"--convert --colour-pages=layer --colour-pages layer a",
             "--colour-pages is given twice"},
            {"--colour-pages layer a", "--colour-pages needs --convert"},
            {"--convert --ocr= a", "--ocr= takes languages like eng or deu+eng, not \"\""},
            {"--convert --ocr=eng;rm a",
             "--ocr= takes languages like eng or deu+eng, not \"eng;rm\""},
            {"--convert --ocr=eng++deu a",
             "--ocr= takes languages like eng or deu+eng, not \"eng++deu\""},
            {"--convert --ocr=osd a", "--ocr=osd: \"osd\" is Tesseract's model for a page's "
                                      "orientation and script, not a language"},
            {"--convert --ocr=eng+equ a",
             "--ocr=eng+equ: \"equ\" is Tesseract's model for finding equations, not a language"},
            {"--convert --jobs 2 --jobs=3 a", "--jobs is given twice"},
            {"--convert --beside --beside a", "--beside is given twice"},
            {"--lossy a.tif", "--lossy needs --convert"},
            {"--convert --beside --lossy --lossy a", "--lossy is given twice"},
            {"--convert --beside --lossy --encoder pdf a", "--lossy needs --encoder direct"},
            {"--convert --lossy a", "--convert needs --output DIR, --beside or --join FILE"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
    }

    void refuses() {
        QFETCH(QString, line);
        const CL c = commandline::parse(split(line), kCwd);
        QCOMPARE(c.action, CL::Action::UsageError);
        QTEST(c.error, "error");
    }

    void colourPages_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<engine::ColourPages>("colourPages");
        // Not the window's "ColourPages": a script gets the same pages on every machine.
        QTest::newRow("not given") << "--convert --beside a" << engine::ColourPages::Compound;
        QTest::newRow("layer") << "--convert --beside --colour-pages layer a"
                               << engine::ColourPages::Layer;
        QTest::newRow("compound") << "--convert --beside --colour-pages=compound a"
                                  << engine::ColourPages::Compound;
    }

    void colourPages() {
        QFETCH(QString, line);
        const CL c = commandline::parse(split(line), kCwd);
        QCOMPARE(c.action, CL::Action::Convert);
        QTEST(c.colourPages, "colourPages");
        QCOMPARE(c.inputs, QStringList{kCwd + QStringLiteral("/a")});
    }

    // A row converted without the text it was to get is no clean run: a script must see it.
    void finishedStatus_data() {
        QTest::addColumn<bool>("converted");
        QTest::addColumn<QString>("textProblem");
        QTest::addColumn<QList<int>>("cutShort");
        QTest::addColumn<bool>("clean");
        QTest::addColumn<int>("status");
        QTest::newRow("converted with text") << true << "" << QList<int>{} << true << 0;
        QTest::newRow("text layer lost")
            << true << "Tesseract cannot load the languages eng" << QList<int>{} << true << 1;
        QTest::newRow("text cut short") << true << "" << QList<int>{2} << true << 1;
        QTest::newRow("not converted") << false << "" << QList<int>{} << true << 1;
        QTest::newRow("a name not read") << true << "" << QList<int>{} << false << 1;
    }

    void finishedStatus() {
        QFETCH(bool, converted);
        QFETCH(QString, textProblem);
        QFETCH(QList<int>, cutShort);
        QFETCH(bool, clean);
        engine::RowOutcome good;
        good.converted = true;
        good.textWanted = true;
        engine::RowOutcome row = good;
        row.converted = converted;
        row.textProblem = textProblem;
        row.pagesCutShort = cutShort;
        QTEST(batch::finishedStatus({good, row}, clean), "status");
    }

    void emptyAndUndecodableNames() {
        QCOMPARE(commandline::parse({QByteArray()}, kCwd).action, CL::Action::UsageError);
        // A name that is not UTF-8 keeps its bytes, to be found again on the disk.
        const CL c = commandline::parse({QByteArray("caf\xe9.tif")}, kCwd);
        QCOMPARE(c.inputs.size(), 1);
        QVERIFY(c.inputs.first().startsWith(kCwd + QLatin1Char('/')));
        QVERIFY(!c.inputs.first().contains(QChar::ReplacementCharacter));
    }

    // The program answers these before Qt starts: no display is needed, no window opens.
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString usage = commandline::usage();
        QTest::newRow("help") << QStringList{"--help"} << 0 << usage << "";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QStringLiteral("vormelle " VORMELLE_VERSION "\n") << "";
        QTest::newRow("unknown option")
            << QStringList{"a.tif", "--frobnicate"} << 2 << ""
            << QStringLiteral("vormelle: unknown option --frobnicate\n"
                              "Try 'vormelle --help' for more information.\n");
        QTest::newRow("convert without a destination")
            << QStringList{"--convert", "a.tif"} << 2 << ""
            << QStringLiteral("vormelle: --convert needs --output DIR, --beside or --join FILE\n"
                              "Try 'vormelle --help' for more information.\n");
        // A folder without TIFF files: nothing to run, said before any converter is looked for.
        QTest::newRow("convert, no TIFF in the folder")
            << QStringList{"--convert", "--beside",
                           qEnvironmentVariable("VORMELLE_SOURCE_DIR") + QStringLiteral("/docs")}
            << 3 << "" << QStringLiteral("vormelle: no TIFF files to convert\n");
    }

    void answersWithoutDisplay() {
        QFETCH(QStringList, args);
        std::unique_ptr<QProcess> p(runProgram(args));
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QTEST(p->exitCode(), "status");
        QTEST(QString::fromUtf8(p->readAllStandardOutput()), "out");
        QTEST(QString::fromUtf8(p->readAllStandardError()), "err");
    }

    // Names given at start become rows; a folder gives the TIFF files of its tree, walked as a
    // drop walks it, and missing names are told.
    void startInputsAddTiffRows() {
        test::TestEnv env;
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        const QString a = env.writeFile(QStringLiteral("a.tif"));
        const QString p1 = env.writeFile(QStringLiteral("scans/p1.tif"));
        env.writeFile(QStringLiteral("scans/~lock.tif"));
        env.writeFile(QStringLiteral("scans/notes.txt"));
        const QString p0 = env.writeFile(QStringLiteral("scans/old/p0.tif"));
        const QString missing = env.path(QStringLiteral("gone.tif"));
        Form1 form(dialogs, desktop);
        connectHandlers(form);
        Form_Load(form, [] { return 1; });
        form.files().add(QStringLiteral("/already/there.tif"));

        const QStringList notFound =
            addStartInputs(form, {a, missing, env.path(QStringLiteral("scans")), a});
        QCOMPARE(notFound, QStringList{missing});
        QCOMPARE(test::rowsOf(form.files()),
                 (QStringList{QStringLiteral("/already/there.tif"), a, p1, p0, a}));
        QVERIFY(dialogs.boxes.isEmpty());
    }

    // The program started with names stays up with them (a missing one only told on stderr).
    void programStartsWithNames() {
        test::TestEnv env;
        const QString a = env.writeFile(QStringLiteral("a.tif"));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("HOME"), env.dir());
        p.setProcessEnvironment(e);
        p.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                {a, env.path(QStringLiteral("gone.tif"))});
        QVERIFY(p.waitForStarted());
        QVERIFY(!p.waitForFinished(1500));
        p.kill();
        p.waitForFinished();
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("vormelle: %1: no such file or folder\n")
                                  .arg(env.path(QStringLiteral("gone.tif")))),
                 qPrintable(err));
        QVERIFY2(!err.contains(a), qPrintable(err));
    }
};

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
