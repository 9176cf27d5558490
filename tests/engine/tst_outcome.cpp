// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/outcome.h"
#include "engine/runner.h" // kStartFailed

#include <QtTest>

using namespace vormelle;
using engine::RowOutcome;
using engine::Step;

Q_DECLARE_METATYPE(vormelle::engine::RowOutcome)

class OutcomeTest : public QObject {
    Q_OBJECT
private slots:
    void reason_data();
    void reason();
    void closingBox_data();
    void closingBox();
    void stoppedBox();
};

void OutcomeTest::reason_data() {
    QTest::addColumn<RowOutcome>("row");
    QTest::addColumn<QString>("expected");

    auto row = [](QList<Step> steps) {
        RowOutcome r;
        r.steps = std::move(steps);
        return r;
    };
    const QString t2p = QStringLiteral("tiff2pdf");
    const QString p2d = QStringLiteral("pdf2djvu");
    const Step pdfMade{t2p, 0};
    // A step that could not be started is named, with the system's reason when there is one.
    QTest::newRow("first not started")
        << row({{t2p, engine::kStartFailed + 53}}) << "tiff2pdf could not be started";
    QTest::newRow("first failed: its last line")
        << row({{t2p, 1, 0,
                 "TIFFReadDirectory: warning\r\ntiff2pdf: No support for x.tif with 16 bits "
                 "per sample\n\n  \n"}})
        << "tiff2pdf: No support for x.tif with 16 bits per sample";
    QTest::newRow("first failed: tiff2pdf's closing line passed over")
        << row({{t2p, 1, 0,
                 "tiff2pdf: No support for x.tif with 16 bits per sample\n"
                 "tiff2pdf: An error occurred creating output PDF file.\n"}})
        << "tiff2pdf: No support for x.tif with 16 bits per sample";
    QTest::newRow("first failed silently") << row({{t2p, 1}}) << "tiff2pdf ended with code 1";
    QTest::newRow("first crashed") << row({{t2p, 128 + 11}}) << "tiff2pdf ended with code 139";
    Step noPdf{t2p, 0};
    noPdf.wroteNothing = true;
    QTest::newRow("no PDF") << row({noPdf}) << "tiff2pdf wrote no PDF";
    QTest::newRow("second not started")
        << row({pdfMade, {p2d, engine::kStartFailed + 7, 0, "Argument list too long"}})
        << "pdf2djvu could not be started: Argument list too long";
    QTest::newRow("an encoder not started")
        << row({{QStringLiteral("cjb2"), engine::kStartFailed + 53, 0,
                 "No such file or directory\n"}})
        << "cjb2 could not be started: No such file or directory";
    QTest::newRow("second failed")
        << row({pdfMade, {p2d, 1, 0, "Unable to load document\n"}}) << "Unable to load document";
    QTest::newRow("DjVuLibre's message without where it was thrown")
        << row({pdfMade,
                {p2d, 1, 0,
                 "*** [1-17556] cannot read pnm file header\n*** (c44.cpp:700)\n"
                 "*** 'int main(int, char**)'\n"}})
        << "cannot read pnm file header";
    QTest::newRow("only where DjVuLibre threw: no reason line")
        << row({pdfMade, {p2d, 1, 0, "*** (c44.cpp:700)\n*** 'int main(int, char**)'\n"}})
        << "pdf2djvu ended with code 1";
    RowOutcome r = row({pdfMade, {p2d, 0}});
    r.problem = QStringLiteral("2 of 3 pages converted");
    QTest::newRow("check") << r << "2 of 3 pages converted";
    r.problem.clear();
    QTest::newRow("nothing known") << r << "the conversion did not finish";
    r.stopped = true;
    QTest::newRow("stopped") << r << "stopped while it was converted";
    QTest::newRow("not started") << RowOutcome{} << "not started";
    QTest::newRow("long line is cut")
        << row({{t2p, 1, 0, QByteArray(500, 'y')}}) << QString(200, QLatin1Char('y')) + "...";
    // Out of memory reads as such, with the page's size, whichever converter said it.
    r = row({pdfMade, {p2d, 1, 0, "pdf2djvu: Cannot allocate memory\n"}});
    r.pageWidth = 30000;
    r.pageHeight = 40000;
    QTest::newRow("second out of memory")
        << r << "not enough memory to convert this page (30000 x 40000 pixels)";
    r.steps[1].output = "terminate called after throwing an instance of 'std::bad_alloc'\n";
    QTest::newRow("second out of memory (bad_alloc)")
        << r << "not enough memory to convert this page (30000 x 40000 pixels)";
    QTest::newRow("first out of memory, size unknown")
        << row({{t2p, 1, 0,
                 "tiff2pdf: Can't allocate 4000000000 bytes of memory for "
                 "t2p_readwrite_pdf_image, big.tif\n"}})
        << "not enough memory to convert this page";
    // The direct route reports through the same steps: the failing page's encoder speaks.
    const QString cjb2 = QStringLiteral("cjb2");
    QTest::newRow("direct: third page's encoder crashed")
        << row({{cjb2, 0}, {cjb2, 0}, {cjb2, 128 + 11, 11}}) << "cjb2 crashed (Segmentation fault)";
    Step nothing{QStringLiteral("c44"), 0};
    nothing.wroteNothing = true;
    QTest::newRow("direct: encoder wrote nothing") << row({nothing}) << "c44 wrote no DjVu file";
    r = row({{cjb2, 0}, {QStringLiteral("djvm"), 1, 0, "djvm: cannot open p0002.djvu\n"}});
    r.noSpaceIn = QStringLiteral("/tmp");
    QTest::newRow("bundler failed on a full disk")
        << r << "no space left in the temporary folder /tmp";
    // A text layer's step that failed costs the text, not the row.
    Step text{QStringLiteral("djvused"), 1, 0, "djvused: broken\n"};
    text.needed = false;
    r = row({{cjb2, 0}, text});
    QTest::newRow("failed text step is no failure") << r << "the conversion did not finish";
    QVERIFY(!engine::failedStep(r));
}

void OutcomeTest::reason() {
    QFETCH(RowOutcome, row);
    QFETCH(QString, expected);
    QCOMPARE(engine::failureReason(row), expected);
}

void OutcomeTest::closingBox_data() {
    QTest::addColumn<QList<RowOutcome>>("rows");
    QTest::addColumn<QString>("expected");

    auto good = [](const QString& name) {
        RowOutcome r;
        r.fileName = name;
        r.steps = {{QStringLiteral("tiff2pdf"), 0}, {QStringLiteral("pdf2djvu"), 0}};
        r.converted = true;
        return r;
    };
    auto bad = [](const QString& name) {
        RowOutcome r;
        r.fileName = name;
        r.steps = {{QStringLiteral("tiff2pdf"), 1, 0, "tiff2pdf: Not a TIFF file"}};
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

void OutcomeTest::closingBox() {
    QFETCH(QList<RowOutcome>, rows);
    QFETCH(QString, expected);
    QCOMPARE(engine::closingText(rows), expected);
}

// After Stop, the row that was being converted is stopped, not "not started".
void OutcomeTest::stoppedBox() {
    RowOutcome done;
    done.fileName = QStringLiteral("a.tif");
    done.converted = true;
    RowOutcome cut;
    cut.fileName = QStringLiteral("b.tif");
    cut.started = true;
    cut.stopped = true;
    const RowOutcome waiting;
    QCOMPARE(engine::closingText({done, cut, waiting}, true),
             QStringLiteral("Stopped.\r\n\r\n1 of 3 file(s) converted; 1 stopped while "
                            "converted, 1 not started."));
    QCOMPARE(engine::closingText({done, waiting}, true),
             QStringLiteral("Stopped.\r\n\r\n1 of 2 file(s) converted; 1 not started."));
}

QTEST_GUILESS_MAIN(OutcomeTest)
#include "tst_outcome.moc"
