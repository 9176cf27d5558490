// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/commands.h"

#include <QtTest>

using namespace vormelle;
class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void outputPath_data();
    void outputPath();
    void firstArguments_data();
    void firstArguments();
    void environment();
};

void CommandsTest::outputPath_data() {
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("option1");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("expected");

    QTest::newRow("folder ending in a separator")
        << true << "D:\\scans\\page1.tif" << true << "C:\\out\\"
        << "C:\\out\\page1.djvu";
    QTest::newRow("network path, two extensions")
        << true << "\\\\srv\\share\\a.b.tif" << false << ""
        << "\\\\srv\\share\\a.b.djvu";
    QTest::newRow("windows: no dot") << true << "D:\\x\\scan" << false << ""
                                     << "D:\\x\\scan.djvu";
    QTest::newRow("windows: only .tif") << true << "D:\\x\\.tif" << false << ""
                                        << "D:\\x\\.tif.djvu";
    QTest::newRow("option 1 folder") << false << "/scans/page1.tif" << true << "/out"
                                     << "/out/page1.djvu";
    QTest::newRow("option 1 folder with separator")
        << false << "/scans/page1.tif" << true << "/out/"
        << "/out/page1.djvu";
    QTest::newRow("option 2 beside the input")
        << false << "/scans/in here/p 1.tiff" << false << "/ignored"
        << "/scans/in here/p 1.djvu";
    QTest::newRow("option 2 with empty text1") << false << "/a/b.tif" << false << ""
                                               << "/a/b.djvu";
    QTest::newRow("file in the root") << false << "/a.tif" << false << ""
                                      << "/a.djvu";
    QTest::newRow("root folder typed") << false << "/x/a.tif" << true << "/"
                                       << "/a.djvu";
    QTest::newRow("no dot") << false << "/x/scan" << false << ""
                            << "/x/scan.djvu";
    QTest::newRow("only .tif") << false << "/x/.tif" << false << ""
                               << "/x/.tif.djvu";
    QTest::newRow("dot in a folder name only") << false << "/x.y/scan" << false << ""
                                               << "/x.y/scan.djvu";
    QTest::newRow("quote and dollar") << false << "/x/a\"$b.tif" << true << "/o"
                                      << "/o/a\"$b.djvu";
}

void CommandsTest::outputPath() {
    QFETCH(bool, windows);
    QFETCH(QString, input);
    QFETCH(bool, option1);
    QFETCH(QString, text1);
    QFETCH(QString, expected);
    QCOMPARE(engine::outputPathFor(input, option1, text1,
                                   windows ? paths::Style::Windows : paths::Style::Posix),
             expected);
}

void CommandsTest::firstArguments_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("passedInput");
    QTest::newRow("spaces") << "/my scans/page 1.tif"
                            << "/my scans/page 1.tif";
    QTest::newRow("quote") << "/x/say \"hi\".tif"
                           << "/x/say \"hi\".tif";
    QTest::newRow("file in the root") << "/a.tif"
                                      << "/a.tif";
    QTest::newRow("no dot") << "/x/scan"
                            << "/x/scan";
    QTest::newRow("only .tif") << "/x/.tif"
                               << "/x/.tif";
    QTest::newRow("starts with a dash") << "-o.tif"
                                        << "./-o.tif";
}

void CommandsTest::firstArguments() {
    QFETCH(QString, input);
    QFETCH(QString, passedInput);
    const QString pdf = QStringLiteral("/tmp/vormelle-run-1-abcdef/pdf_temp.pdf");
    QCOMPARE(engine::firstConverterArguments(input, pdf),
             (QStringList{"-n", "-z", "-m", "1024", passedInput, "-o", pdf}));
}

void CommandsTest::environment() {
    const QString folder = QStringLiteral("/tmp/vormelle-run-7-abcdef");
    const engine::Command first = engine::firstConverter(folder);
    QCOMPARE(first.program, folder + QStringLiteral("/tiff2pdf"));
    auto value = [](const engine::Command& c, const QByteArray& name) {
        for (const auto& [n, v] : c.environment) {
            if (n == name)
                return v;
        }
        return QByteArray("(unset)");
    };
    QCOMPARE(value(first, "TMPDIR"), folder.toUtf8());
    // No library search path: a temporary path holding ":" would split into others.
    QCOMPARE(value(first, "LD_LIBRARY_PATH"), QByteArray("(unset)"));
    // Without a run folder nothing is run from anywhere else.
    QVERIFY(engine::firstConverter(QString()).program.isEmpty());

    const engine::Command second = engine::secondConverter(QStringLiteral("/opt/v"), folder);
    QCOMPARE(second.program, QStringLiteral("/opt/v/pdf2djvu/pdf2djvu"));
    QCOMPARE(value(second, "TMPDIR"), folder.toUtf8());
    QCOMPARE(value(second, "LD_LIBRARY_PATH"), QByteArray("(unset)"));

    QCOMPARE(engine::converterEnvironment(folder, false),
             (platform::EnvironmentChanges{{"TMPDIR", folder.toUtf8()}, {"LC_ALL", "C.UTF-8"}}));
    QCOMPARE(engine::converterEnvironment(folder, true),
             (platform::EnvironmentChanges{{"TMPDIR", folder.toUtf8()}}));
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
