// SPDX-License-Identifier: GPL-3.0-or-later
// Chunks as values: their bytes, their padding, their limits, and the parser against damage.
// DjVuLibre's own files go through parse and write unchanged.
#include "codec/blocksort.h"
#include "codec/iff.h"
#include "tests/codec/djvulibre.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <random>

using namespace vormelle::codec;

namespace {

Bytes bytesOf(const QByteArray& a) {
    return Bytes(a.begin(), a.end());
}

QByteArray arrayOf(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

// A PBM of stripes, encoded by cjb2: a real DjVuLibre page file.
QByteArray cjb2Page(const QString& folder, const QString& name, int width, int height) {
    QByteArray pbm = "P4\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + '\n';
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < (width + 7) / 8; ++x)
            pbm += char((y / 3) % 2 ? (x * 37 + y) & 0xff : 0);
    QFile f(folder + QLatin1Char('/') + name + QStringLiteral(".pbm"));
    if (!f.open(QIODevice::WriteOnly) || f.write(pbm) != pbm.size())
        return {};
    f.close();
    const QString djvu = folder + QLatin1Char('/') + name + QStringLiteral(".djvu");
    if (!vormelle::test::runTool(QStringLiteral("cjb2"), {f.fileName(), djvu}))
        return {};
    QFile out(djvu);
    return out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
}

} // namespace

class IffTest : public QObject {
    Q_OBJECT
private slots:
    void writesHeadersAndPadsBeforeChunksAtOddOffsets();
    void refusesWhatCannotBeWritten();
    void stopsAtTheWritersRefusal();
    void parsesAndRewritesDjvuLibreFilesUnchanged();
    void refusesDamagedFiles_data();
    void refusesDamagedFiles();
    void blockSortMatchesSortedRotations_data();
    void blockSortMatchesSortedRotations();
};

void IffTest::writesHeadersAndPadsBeforeChunksAtOddOffsets() {
    const Chunk page =
        Chunk::form("DJVU", {Chunk::data("INFO", Bytes(10, 7)),
                             Chunk::data("ANTa", {'x', 'y', 'z'}), Chunk::data("TXTa", {'a'})});
    const QByteArray expected = QByteArray("AT&TFORM\0\0\0\x2b"
                                           "DJVU"
                                           "INFO\0\0\0\x0a",
                                           24) +
                                QByteArray(10, 7) + QByteArray("ANTa\0\0\0\x03xyz\0", 12) +
                                QByteArray("TXTa\0\0\0\x01"
                                           "a",
                                           9);
    const std::optional<Bytes> file = fileBytes(page);
    QVERIFY(file);
    QCOMPARE(arrayOf(*file), expected);
    // The pad sits between children; none follows the last one, so the FORM's length is odd.
    QCOMPARE(page.size(), quint64(8 + 0x2b));
    QCOMPARE(page.contentSize(), quint64(0x2b));
    QVERIFY(page.find("ANTa"));
    QVERIFY(!page.find("Sjbz"));
    QCOMPARE(page.name(), std::string("FORM:DJVU"));

    // And it reads back as it was written.
    const std::optional<Chunk> parsed = parseFile(*file);
    QVERIFY(parsed);
    QCOMPARE(parsed->children().size(), size_t(3));
    QCOMPARE(parsed->children()[1].payload(), (Bytes{'x', 'y', 'z'}));
    QCOMPARE(arrayOf(*fileBytes(*parsed)), expected);
}

void IffTest::refusesWhatCannotBeWritten() {
    int calls = 0;
    const Writer counting = [&calls](const std::uint8_t*, std::size_t) {
        ++calls;
        return true;
    };
    QCOMPARE(Chunk::data("AB", {}).write(counting), Error::BadData);
    QCOMPARE(Chunk::data("FORM", {}).write(counting), Error::BadData);
    QCOMPARE(Chunk::form("DJ\nU").write(counting), Error::BadData);
    // A bad chunk deep inside spoils the whole, before anything is written.
    const Chunk nested = Chunk::form("DJVM", {Chunk::form("DJVU", {Chunk::data("IN\x01O", {})})});
    QCOMPARE(writeFile(nested, counting), Error::BadData);
    QVERIFY(!nested.bytes());
    // A data chunk is no file.
    QCOMPARE(writeFile(Chunk::data("INFO", {}), counting), Error::BadData);
    QCOMPARE(calls, 0);
}

void IffTest::stopsAtTheWritersRefusal() {
    const Chunk page =
        Chunk::form("DJVU", {Chunk::data("INFO", Bytes(10)), Chunk::data("Sjbz", Bytes(5))});
    for (int allowed = 0; allowed < 6; ++allowed) {
        int calls = 0;
        const Error e =
            writeFile(page, [&](const std::uint8_t*, std::size_t) { return calls++ < allowed; });
        QCOMPARE(calls, allowed + 1);
        QCOMPARE(e, Error::WriteFailed);
    }
}

void IffTest::parsesAndRewritesDjvuLibreFilesUnchanged() {
    QTemporaryDir dir;
    // Odd and even chunk sizes both occur among these.
    const QByteArray a = cjb2Page(dir.path(), QStringLiteral("a"), 100, 50);
    const QByteArray b = cjb2Page(dir.path(), QStringLiteral("b"), 61, 33);
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    const QString bundle = dir.filePath(QStringLiteral("ab.djvu"));
    QVERIFY(vormelle::test::runTool(
        QStringLiteral("djvm"),
        {QStringLiteral("-c"), bundle, dir.filePath(QStringLiteral("a.djvu")),
         dir.filePath(QStringLiteral("b.djvu")), dir.filePath(QStringLiteral("a.djvu"))}));
    QFile f(bundle);
    QVERIFY(f.open(QIODevice::ReadOnly));
    for (const QByteArray& file : {a, b, f.readAll()}) {
        const std::optional<Chunk> parsed = parseFile(bytesOf(file));
        QVERIFY(parsed);
        QCOMPARE(arrayOf(*fileBytes(*parsed)), file);
    }
}

void IffTest::refusesDamagedFiles_data() {
    QTest::addColumn<QByteArray>("file");
    const QByteArray good("AT&TFORM\0\0\0\x0e"
                          "DJVUINFO\0\0\0\x02xy",
                          26);
    QVERIFY(parseFile(bytesOf(good)));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no magic") << good.mid(4);
    QTest::newRow("cut short") << good.chopped(1);
    QTest::newRow("form longer than the file") << QByteArray(good).replace(11, 1, "\x20");
    QTest::newRow("child longer than its form") << QByteArray(good).replace(23, 1, "\x05");
    QTest::newRow("form too short for its type") << QByteArray("AT&TFORM\0\0\0\x02DJ", 14);
    QTest::newRow("control character in an id") << QByteArray(good).replace(16, 1, "\x01");
    QTest::newRow("data chunk at the top") << QByteArray("AT&TINFO\0\0\0\x02xy", 14);
    QTest::newRow("length beyond 2 GiB") << QByteArray(good).replace(8, 1, "\x90");
    QByteArray deep;
    for (int i = 0; i < 12; ++i)
        deep += QByteArray("FORM\0\0\0\x00", 8) + "DJVU";
    for (int i = 0; i < 12; ++i) {
        const int length = int(deep.size()) - 12 * i - 8;
        deep[12 * i + 6] = char(length >> 8);
        deep[12 * i + 7] = char(length);
    }
    QTest::newRow("nested too deep") << QByteArray("AT&T") + deep;
}

void IffTest::refusesDamagedFiles() {
    QFETCH(QByteArray, file);
    QVERIFY(!parseFile(bytesOf(file)));
}

void IffTest::blockSortMatchesSortedRotations_data() {
    QTest::addColumn<QByteArray>("block");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("\0", 1);
    QTest::newRow("one run") << QByteArray(300, 'a');
    QTest::newRow("period two") << QByteArray("ab").repeated(100);
    QTest::newRow("period three with a break")
        << QByteArray("abc").repeated(50) + "abd" + QByteArray("abc").repeated(50);
    QTest::newRow("zeros and 255s") << QByteArray("\0\xff\xff\0\0\xff", 6).repeated(20);
    std::mt19937 random(7);
    for (int alphabet : {2, 4, 256}) {
        for (int n = 0; n < 40; ++n) {
            QByteArray block(int(random() % 200), 0);
            for (char& c : block)
                c = char(random() % unsigned(alphabet));
            QTest::addRow("random over %d symbols #%d", alphabet, n) << block;
        }
    }
}

void IffTest::blockSortMatchesSortedRotations() {
    QFETCH(QByteArray, block);
    // The block with its marker as 0 and the bytes above it, every rotation sorted.
    const int n = int(block.size()) + 1;
    std::vector<int> s;
    for (const char c : block)
        s.push_back(int(static_cast<unsigned char>(c)) + 1);
    s.push_back(0);
    std::vector<int> rows(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        rows[std::size_t(i)] = i;
    std::sort(rows.begin(), rows.end(), [&](int a, int b) {
        for (int j = 0; j < n; ++j) {
            const int x = s[std::size_t((a + j) % n)];
            const int y = s[std::size_t((b + j) % n)];
            if (x != y)
                return x < y;
        }
        return false;
    });
    Bytes out(static_cast<std::size_t>(n));
    const std::size_t marker = blockSort(reinterpret_cast<const std::uint8_t*>(block.constData()),
                                         block.size(), out.data());
    for (int row = 0; row < n; ++row) {
        const int last = s[std::size_t((rows[std::size_t(row)] + n - 1) % n)];
        QCOMPARE(int(out[std::size_t(row)]), last == 0 ? 0 : last - 1);
        if (last == 0)
            QCOMPARE(marker, std::size_t(row));
    }
}

QTEST_GUILESS_MAIN(IffTest)
#include "tst_iff.moc"
