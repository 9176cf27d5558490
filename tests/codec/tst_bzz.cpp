// SPDX-License-Identifier: GPL-3.0-or-later
// BZZ: DjVuLibre's decoder (`bzz -d`) reads back every input we code, in one block or many; our
// decoder reads what DjVuLibre's encoder writes; the same input gives the same bytes.
#include "codec/bzz.h"
#include "tests/codec/djvulibre.h"

#include <QtTest>

#include <random>

using namespace vormelle::codec;

namespace {

QByteArray arrayOf(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

Bytes encode(const QByteArray& input, std::size_t block = kBzzBlockBytes) {
    return bzzEncode(reinterpret_cast<const std::uint8_t*>(input.constData()),
                     std::size_t(input.size()), block);
}

QByteArray randomBytes(int size, unsigned seed, int alphabet = 256) {
    std::mt19937 random(seed);
    QByteArray out(size, 0);
    for (char& c : out)
        c = char(random() % unsigned(alphabet));
    return out;
}

// Words in a varied order: what a text layer or a directory looks like.
QByteArray text(int size) {
    static const char* words[] = {"page",       "p0001.djvu",        "the", "shared",
                                  "dictionary", "\xc3\xa9t\xc3\xa9", "of",  "\n"};
    std::mt19937 random(3);
    QByteArray out;
    while (out.size() < size)
        out += QByteArray(words[random() % 8]) + ' ';
    return out.left(size);
}

} // namespace

class BzzTest : public QObject {
    Q_OBJECT
private slots:
    void djvuLibreDecodesWhatWeCode_data();
    void djvuLibreDecodesWhatWeCode();
    void sameBytesEveryTime();
    void codesAsSmallAsDjvuLibre();
    void decodesWhatDjvuLibreCodes();
    void decoderSurvivesDamage();
};

void BzzTest::djvuLibreDecodesWhatWeCode_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("block");
    const int whole = int(kBzzBlockBytes);
    QTest::newRow("empty") << QByteArray() << whole;
    QTest::newRow("one byte") << QByteArray("\0", 1) << whole;
    QTest::newRow("tiny") << QByteArray("p0001.djvu") << whole;
    QTest::newRow("every byte value") << [] {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        return all;
    }() << whole;
    QTest::newRow("one run") << QByteArray(300000, 'a') << whole;
    QTest::newRow("period three") << QByteArray("abc").repeated(50000) << whole;
    QTest::newRow("text") << text(50000) << whole;
    QTest::newRow("random two symbols") << randomBytes(120000, 1, 2) << whole;
    QTest::newRow("random bytes") << randomBytes(200000, 2) << whole;
    QTest::newRow("past one block") << text(whole + 1) << whole;
    QTest::newRow("large, three blocks")
        << text(whole) + randomBytes(whole, 4) + QByteArray(whole / 2, 'z') << whole;
    QTest::newRow("blocks of one byte") << QByteArray("abcab") << 1;
    QTest::newRow("blocks of seven bytes") << text(1000) << 7;
}

void BzzTest::djvuLibreDecodesWhatWeCode() {
    QFETCH(QByteArray, input);
    QFETCH(int, block);
    const Bytes coded = encode(input, std::size_t(block));
    const std::optional<QByteArray> decoded =
        vormelle::test::bzzDecodeWithDjvuLibre(arrayOf(coded));
    QVERIFY(decoded);
    QCOMPARE(decoded->size(), input.size());
    QVERIFY(*decoded == input);
    const std::optional<Bytes> ours =
        bzzDecode(coded.data(), coded.size(), std::size_t(input.size()));
    QVERIFY(ours);
    QVERIFY(arrayOf(*ours) == input);
}

void BzzTest::sameBytesEveryTime() {
    const QByteArray input = text(100000) + randomBytes(5000, 9);
    QCOMPARE(encode(input), encode(input));
}

void BzzTest::codesAsSmallAsDjvuLibre() {
    // The same model: sizes within a per cent of `bzz -e` (whose blocks are a little larger).
    for (const QByteArray& input :
         {text(200000), randomBytes(100000, 5, 4), QByteArray(100000, 'x')}) {
        const std::optional<QByteArray> theirs = vormelle::test::runTool(
            QStringLiteral("bzz"), {QStringLiteral("-e"), QStringLiteral("-"), QStringLiteral("-")},
            input);
        QVERIFY(theirs);
        const qsizetype ours = qsizetype(encode(input).size());
        QVERIFY2(ours <= theirs->size() + theirs->size() / 100 + 8,
                 qPrintable(QStringLiteral("%1 bytes against %2").arg(ours).arg(theirs->size())));
    }
}

void BzzTest::decodesWhatDjvuLibreCodes() {
    for (const QByteArray& input : {QByteArray("x"), text(3000000), randomBytes(70000, 6)}) {
        const std::optional<QByteArray> theirs = vormelle::test::runTool(
            QStringLiteral("bzz"),
            {QStringLiteral("-e900"), QStringLiteral("-"), QStringLiteral("-")}, input);
        QVERIFY(theirs);
        const std::optional<Bytes> ours =
            bzzDecode(reinterpret_cast<const std::uint8_t*>(theirs->constData()),
                      std::size_t(theirs->size()), std::size_t(input.size()));
        QVERIFY(ours);
        QVERIFY(arrayOf(*ours) == input);
        // A bound below the size is refused, not overrun.
        QVERIFY(!bzzDecode(reinterpret_cast<const std::uint8_t*>(theirs->constData()),
                           std::size_t(theirs->size()), std::size_t(input.size()) - 1));
    }
}

void BzzTest::decoderSurvivesDamage() {
    const Bytes good = encode(text(20000));
    // Cut short, or with bytes changed: never a crash, never more than the bound.
    for (std::size_t cut = 0; cut < good.size(); cut += 97) {
        const std::optional<Bytes> out = bzzDecode(good.data(), cut, 20000);
        QVERIFY(!out || out->size() <= 20000);
    }
    std::mt19937 random(11);
    for (int i = 0; i < 200; ++i) {
        Bytes bad = good;
        bad[random() % bad.size()] ^= std::uint8_t(1 + random() % 255);
        const std::optional<Bytes> out = bzzDecode(bad.data(), bad.size(), 20000);
        QVERIFY(!out || out->size() <= 20000);
    }
    const QByteArray noise = randomBytes(5000, 12);
    const std::optional<Bytes> out =
        bzzDecode(reinterpret_cast<const std::uint8_t*>(noise.constData()),
                  std::size_t(noise.size()), 1 << 20);
    QVERIFY(!out || out->size() <= (1u << 20));
}

QTEST_GUILESS_MAIN(BzzTest)
#include "tst_bzz.moc"
