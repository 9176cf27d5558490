// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using vormelle::test::TestEnv;

namespace {

// Runs a tool to its end; fails the test when it cannot start or ends with an error.
QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning("%s %s failed:\n%s", qPrintable(program), qPrintable(arguments.join(' ')),
                 process.readAll().constData());
        return QByteArray("FAILED");
    }
    return process.readAll();
}

// The darkest and lightest gray of a binary PGM (P5, 8 bits) picture.
std::pair<int, int> grayRange(const QByteArray& pgm) {
    QImage picture;
    if (!picture.loadFromData(pgm, "PGM"))
        return {-1, -1};
    int darkest = 255, lightest = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const int g = qGray(picture.pixel(x, y));
            darkest = std::min(darkest, g);
            lightest = std::max(lightest, g);
        }
    }
    return {darkest, lightest};
}

} // namespace

// The files the build lays beside the program, as a user gets them.
class ShippedTest : public QObject {
    Q_OBJECT

private slots:
    void handPointer();
    void dragPointer();
    void samplesFolder();
    void sampleConverts_data();
    void sampleConverts();

private:
    QString programFile(const QString& name) const {
        return TestEnv::builtProgramFolder() + QLatin1Char('/') + name;
    }
};

void ShippedTest::handPointer() {
    // The hand is a cursor file: the picture loader reads it, and its hot spot is the
    // fingertip, the topmost drawn pixel, with nothing drawn above it.
    const QString path = programFile(QStringLiteral("HAND-M.CUR"));
    const QImage hand(path);
    QVERIFY2(!hand.isNull(), qPrintable(path));
    QCOMPARE(hand.size(), QSize(32, 32));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(14);
    QCOMPARE(head.left(4), QByteArray::fromHex("00000200"));
    const QPoint hotSpot(uchar(head[10]) | uchar(head[11]) << 8, uchar(head[12]) | uchar(head[13])
                                                                                       << 8);
    QCOMPARE(qAlpha(hand.pixel(hotSpot)), 255);
    for (int y = 0; y < hotSpot.y(); ++y)
        for (int x = 0; x < hand.width(); ++x)
            QCOMPARE(qAlpha(hand.pixel(x, y)), 0);
    // Outlined: black and white pixels both.
    QVERIFY(hand.pixelColor(hotSpot) == Qt::black);
    QVERIFY(hand.pixelColor(hotSpot + QPoint(0, 2)) == Qt::white);
}

void ShippedTest::dragPointer() {
    // The list shows the drag pointer held at its centre, so the centre must be drawn.
    const QPixmap drag(programFile(QStringLiteral("drag.ico")));
    QVERIFY(!drag.isNull());
    QCOMPARE(drag.size(), QSize(32, 32));
    const QImage picture = drag.toImage();
    QCOMPARE(qAlpha(picture.pixel(16, 16)), 255);
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
}

void ShippedTest::samplesFolder() {
    const QDir samples(programFile(QStringLiteral("Samples")));
    const QFileInfoList files = samples.entryInfoList(QDir::Files);
    QVERIFY2(files.size() >= 4, qPrintable(samples.path()));
    qint64 total = 0;
    for (const QFileInfo& f : files) {
        QVERIFY2(f.suffix() == QLatin1String("tif"), qPrintable(f.fileName()));
        total += f.size();
    }
    QVERIFY2(total < 300 * 1024, qPrintable(QString::number(total)));
}

void ShippedTest::sampleConverts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QStringList>("kind"); // lines that tiffinfo prints for it
    const QString g4 = QStringLiteral("Compression Scheme: CCITT Group 4");
    const QString bitonal = QStringLiteral("Bits/Sample: 1");
    QTest::newRow("bitonal letter") << "letter-bitonal-g4.tif" << 1 << QStringList{g4, bitonal};
    QTest::newRow("grayscale page")
        << "page-gray-8bit.tif" << 1
        << QStringList{QStringLiteral("Bits/Sample: 8"),
                       QStringLiteral("Photometric Interpretation: min-is-black"),
                       QStringLiteral("Samples/Pixel: 1")};
    QTest::newRow("colour page") << "page-colour.tif" << 1
                                 << QStringList{
                                        QStringLiteral("Photometric Interpretation: RGB color"),
                                        QStringLiteral("Samples/Pixel: 3")};
    QTest::newRow("three-page document") << "document-3-pages.tif" << 3 << QStringList{g4};
}

void ShippedTest::sampleConverts() {
    QFETCH(QString, name);
    QFETCH(int, pages);
    QFETCH(QStringList, kind);
    const QString sample = programFile(QStringLiteral("Samples/") + name);
    QVERIFY2(QFileInfo(sample).isFile(), qPrintable(sample));

    const QString info = QString::fromUtf8(run(QStringLiteral("tiffinfo"), {sample}));
    QCOMPARE(info.count(QStringLiteral("TIFF Directory")), pages);
    for (const QString& line : kind)
        QVERIFY2(info.contains(line), qPrintable(line));

    QTemporaryDir work;
    const QString pdf = work.filePath(QStringLiteral("x.pdf"));
    const QString djvu = work.filePath(QStringLiteral("x.djvu"));
    QCOMPARE(run(QStringLiteral("tiff2pdf"), {"-n", "-z", "-o", pdf, sample}), QByteArray());
    QVERIFY(run(QStringLiteral("pdf2djvu"), {"-q", "-o", djvu, pdf}) != "FAILED");
    QCOMPARE(run(QStringLiteral("djvused"), {"-e", "n", djvu}).trimmed(),
             QByteArray::number(pages));
    // Every page shows its drawing: dark marks on a light page.
    for (int page = 1; page <= pages; ++page) {
        const auto [darkest, lightest] =
            grayRange(run(QStringLiteral("ddjvu"),
                          {"-format=pgm", "-size=170x220", QStringLiteral("-page=%1").arg(page),
                           djvu, QStringLiteral("-")}));
        QVERIFY2(
            darkest < 80 && lightest > 200,
            qPrintable(QStringLiteral("page %1: %2..%3").arg(page).arg(darkest).arg(lightest)));
    }
}

QTEST_MAIN(ShippedTest)
#include "tst_shipped.moc"
