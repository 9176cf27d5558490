#include "convert/commands.h"
#include "convert/outcome.h"

#include <QtTest>

using namespace vormelle;
using convert::RowOutcome;

Q_DECLARE_METATYPE(vormelle::convert::RowOutcome)

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void outputPath_data();
    void outputPath();
    void firstArguments_data();
    void firstArguments();
    void environment();
    void reason_data();
    void reason();
    void closingBox_data();
    void closingBox();
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
    QCOMPARE(convert::outputPathFor(input, option1, text1,
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
    QCOMPARE(convert::firstConverterArguments(input, pdf),
             (QStringList{"-n", "-z", "-m", "1024", passedInput, "-o", pdf}));
}

void CommandsTest::environment() {
    const QString folder = QStringLiteral("/tmp/vormelle-run-7-abcdef");
    const convert::Command first = convert::firstConverter(folder);
    QCOMPARE(first.program, folder + QStringLiteral("/tiff2pdf"));
    auto value = [](const convert::Command& c, const QByteArray& name) {
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
    QVERIFY(convert::firstConverter(QString()).program.isEmpty());

    const convert::Command second = convert::secondConverter(QStringLiteral("/opt/v"), folder);
    QCOMPARE(second.program, QStringLiteral("/opt/v/pdf2djvu/pdf2djvu"));
    QCOMPARE(value(second, "TMPDIR"), folder.toUtf8());
    QCOMPARE(value(second, "LD_LIBRARY_PATH"), QByteArray("(unset)"));

    QCOMPARE(convert::converterEnvironment(folder, false),
             (platform::EnvironmentChanges{{"TMPDIR", folder.toUtf8()}, {"LC_ALL", "C.UTF-8"}}));
    QCOMPARE(convert::converterEnvironment(folder, true),
             (platform::EnvironmentChanges{{"TMPDIR", folder.toUtf8()}}));
}

void CommandsTest::reason_data() {
    QTest::addColumn<RowOutcome>("row");
    QTest::addColumn<QString>("expected");

    RowOutcome r;
    r.first = convert::kStartFailed + 53;
    QTest::newRow("first not started") << r << "the converter could not be started";
    r = {};
    r.first = 1;
    r.firstOutput = "TIFFReadDirectory: warning\r\ntiff2pdf: No support for x.tif with 16 bits "
                    "per sample\n\n  \n";
    QTest::newRow("first failed: its last line")
        << r << "tiff2pdf: No support for x.tif with 16 bits per sample";
    r.firstOutput = "tiff2pdf: No support for x.tif with 16 bits per sample\n"
                    "tiff2pdf: An error occurred creating output PDF file.\n";
    QTest::newRow("first failed: tiff2pdf's closing line passed over")
        << r << "tiff2pdf: No support for x.tif with 16 bits per sample";
    r.firstOutput.clear();
    QTest::newRow("first failed silently") << r << "tiff2pdf ended with code 1";
    r.first = 128 + 11;
    QTest::newRow("first crashed") << r << "tiff2pdf ended with code 139";
    r = {};
    r.first = 0;
    QTest::newRow("no PDF") << r << "tiff2pdf wrote no PDF";
    r.pdfMade = true;
    r.second = convert::kStartFailed + 53;
    QTest::newRow("second not started") << r << "the converter could not be started";
    r.second = 1;
    r.secondOutput = "Unable to load document\n";
    QTest::newRow("second failed") << r << "Unable to load document";
    r.second = 0;
    r.problem = QStringLiteral("2 of 3 pages converted");
    QTest::newRow("check") << r << "2 of 3 pages converted";
    r.problem.clear();
    QTest::newRow("nothing known") << r << "the conversion did not finish";
    r.stopped = true;
    QTest::newRow("stopped") << r << "stopped while it was converted";
    r = {};
    QTest::newRow("not started") << r << "not started";
    r.first = 1;
    r.firstOutput = QByteArray(500, 'y');
    QTest::newRow("long line is cut") << r << QString(200, QLatin1Char('y')) + "...";
    // Out of memory reads as such, with the page's size, whichever converter said it.
    r = {};
    r.pageWidth = 30000;
    r.pageHeight = 40000;
    r.first = 0;
    r.pdfMade = true;
    r.second = 1;
    r.secondOutput = "pdf2djvu: Cannot allocate memory\n";
    QTest::newRow("second out of memory")
        << r << "not enough memory to convert this page (30000 x 40000 pixels)";
    r.second = 1;
    r.secondOutput = "terminate called after throwing an instance of 'std::bad_alloc'\n";
    QTest::newRow("second out of memory (bad_alloc)")
        << r << "not enough memory to convert this page (30000 x 40000 pixels)";
    r = {};
    r.first = 1;
    r.firstOutput = "tiff2pdf: Can't allocate 4000000000 bytes of memory for "
                    "t2p_readwrite_pdf_image, big.tif\n";
    QTest::newRow("first out of memory, size unknown")
        << r << "not enough memory to convert this page";
}

void CommandsTest::reason() {
    QFETCH(RowOutcome, row);
    QFETCH(QString, expected);
    QCOMPARE(convert::failureReason(row), expected);
}

void CommandsTest::closingBox_data() {
    QTest::addColumn<QList<RowOutcome>>("rows");
    QTest::addColumn<QString>("expected");

    auto good = [](const QString& name) {
        RowOutcome r;
        r.fileName = name;
        r.first = 0;
        r.pdfMade = true;
        r.second = 0;
        r.converted = true;
        return r;
    };
    auto bad = [](const QString& name) {
        RowOutcome r;
        r.fileName = name;
        r.first = 1;
        r.firstOutput = "tiff2pdf: Not a TIFF file";
        return r;
    };
    QTest::newRow("all converted") << QList<RowOutcome>{good("a.tif"), good("b.tif")} << "Done.";
    QTest::newRow("one of three failed")
        << QList<RowOutcome>{good("a.tif"), bad("b.tif"), good("c.tif")}
        << "Done.\r\n\r\n1 of 3 file(s) could not be converted:\r\nb.tif: tiff2pdf: Not a TIFF "
           "file";
    QList<RowOutcome> many;
    QString expected = QStringLiteral("Done.\r\n\r\n12 of 13 file(s) could not be converted:");
    many.append(good(QStringLiteral("ok.tif")));
    for (int i = 1; i <= 12; ++i) {
        many.append(bad(QStringLiteral("f%1.tif").arg(i)));
        if (i <= 10)
            expected += QStringLiteral("\r\nf%1.tif: tiff2pdf: Not a TIFF file").arg(i);
    }
    expected += QStringLiteral("\r\n... and 2 more.");
    QTest::newRow("more than ten") << many << expected;

    // A name with line breaks cannot forge lines of the box.
    RowOutcome forged = bad(QStringLiteral("x.tif\nAll files were converted.\r\n\x1b[2Jy.tif"));
    QTest::newRow("control characters in a name")
        << QList<RowOutcome>{forged}
        << "Done.\r\n\r\n1 of 1 file(s) could not be converted:\r\nx.tif\\nAll files were "
           "converted.\\r\\n\\x1b[2Jy.tif: tiff2pdf: Not a TIFF file";
    // Two failures of one name say which is which; a third name alone keeps its short form.
    auto badAt = [&](const QString& path) {
        RowOutcome r = bad(path.section(QLatin1Char('/'), -1));
        r.input = path;
        return r;
    };
    QTest::newRow("two failures of one name")
        << QList<RowOutcome>{badAt("/scans/2019/page.tif"), badAt("/scans/2020/page.tif"),
                             badAt("/scans/2020/other.tif"), good("page.tif")}
        << "Done.\r\n\r\n3 of 4 file(s) could not be converted:\r\n"
           "page.tif (in /scans/2019): tiff2pdf: Not a TIFF file\r\n"
           "page.tif (in /scans/2020): tiff2pdf: Not a TIFF file\r\n"
           "other.tif: tiff2pdf: Not a TIFF file";
}

void CommandsTest::closingBox() {
    QFETCH(QList<RowOutcome>, rows);
    QFETCH(QString, expected);
    QCOMPARE(convert::closingText(rows), expected);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
