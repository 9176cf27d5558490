#include "engine/outcome.h"
#include "engine/runner.h" // kStartFailed

#include <QtTest>

using namespace vormelle;
using engine::RowOutcome;

Q_DECLARE_METATYPE(vormelle::engine::RowOutcome)

class OutcomeTest : public QObject {
    Q_OBJECT
private slots:
    void reason_data();
    void reason();
    void closingBox_data();
    void closingBox();
};

void OutcomeTest::reason_data() {
    QTest::addColumn<RowOutcome>("row");
    QTest::addColumn<QString>("expected");

    RowOutcome r;
    r.first = engine::kStartFailed + 53;
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
    r.second = engine::kStartFailed + 53;
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

void OutcomeTest::closingBox() {
    QFETCH(QList<RowOutcome>, rows);
    QFETCH(QString, expected);
    QCOMPARE(engine::closingText(rows), expected);
}

QTEST_GUILESS_MAIN(OutcomeTest)
#include "tst_outcome.moc"
