// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/zp.h"

#include <QtTest>

#include <random>

using namespace vormelle::codec;

namespace {

// The decoder as the format describes it, kept apart from the encoder so that each checks the
// other. Past the end it reads ones.
class Decoder {
public:
    explicit Decoder(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {
        m_c = (nextByte() << 8) | nextByte();
    }
    bool decode(ZpContext& k) {
        const ZpState& s = kZpTable[k];
        uint32_t z = m_a + s.p;
        const uint32_t d = 0x6000 + ((m_a + z) >> 2);
        if (z > d)
            z = d;
        bool bit;
        if (m_c >= z) {
            bit = k & 1;
            if (z >= 0x8000 && m_a >= s.m)
                k = s.up;
            m_a = z;
        } else {
            bit = !(k & 1);
            k = s.dn;
            m_a += 0x10000 - z;
            m_c += 0x10000 - z;
        }
        renormalise();
        return bit;
    }
    // The pass-through modes: BZZ's at A/2, IW44's at 3A/8.
    bool decodePassThrough(bool iw44) {
        const uint32_t z = 0x8000 + (iw44 ? (3 * m_a) >> 3 : m_a >> 1);
        bool bit = false;
        if (m_c >= z) {
            m_a = z;
        } else {
            bit = true;
            m_a += 0x10000 - z;
            m_c += 0x10000 - z;
        }
        renormalise();
        return bit;
    }

private:
    void renormalise() {
        // A base at half or more leaves an interval too narrow: widen it a bit at a time.
        while (m_a >= 0x8000) {
            m_a = (m_a << 1) & 0xffff;
            m_c = ((m_c << 1) & 0xffff) | nextBit();
        }
    }
    uint32_t nextByte() { return m_pos < m_bytes.size() ? m_bytes[m_pos++] : (m_pos++, 0xffu); }
    uint32_t nextBit() {
        if (m_left == 0) {
            m_cur = nextByte();
            m_left = 8;
        }
        --m_left;
        return (m_cur >> m_left) & 1;
    }
    const std::vector<uint8_t>& m_bytes;
    size_t m_pos = 0;
    uint32_t m_a = 0, m_c = 0, m_cur = 0;
    int m_left = 0;
};

} // namespace

class ZpTest : public QObject {
    Q_OBJECT
private slots:
    void table();
    void goldenBytes_data();
    void goldenBytes();
    void roundTrip_data();
    void roundTrip();
    void countsMatchTheEncoder_data();
    void countsMatchTheEncoder();
    void sameBytesEveryTime();
    void overrunPastTheEnd();
};

// The table's shape: states come in MPS pairs, every next state exists, and the fast states
// learn: an LPS from state 0 lands in the other sense.
void ZpTest::table() {
    for (size_t k = 0; k < kZpTable.size(); ++k) {
        QVERIFY2(kZpTable[k].up < kZpTable.size() && kZpTable[k].dn < kZpTable.size(),
                 qPrintable(QString::number(k)));
        QVERIFY(kZpTable[k].p > 0 && kZpTable[k].p <= 0x8000);
    }
    // The steady states narrow by ever smaller steps as they grow sure.
    for (int k = 3; k + 2 <= 82; k += 2)
        QVERIFY(kZpTable[k + 2].p <= kZpTable[k].p);
    // A state and its twin of the other sense agree on everything but the sense.
    for (int k = 1; k + 1 <= 82; k += 2)
        QCOMPARE(kZpTable[k].p, kZpTable[k + 1].p);
    // Many MPS in a row from state 0 reach a sure state; one LPS then steps back.
    ZpContext k = 0;
    ZpEncoder e;
    for (int i = 0; i < 1000; ++i)
        e.encode(false, k);
    QVERIFY(kZpTable[k].p < 0x0100);
    QCOMPARE(k & 1, 0);
    const ZpContext sure = k;
    e.encode(true, k);
    QVERIFY(kZpTable[k].p > kZpTable[sure].p);
}

// Pins the stream. The bytes of the BZZ mode are those DjVuLibre's own encoder writes for these
// calls (BZZ's streams were written by a port of it, and stay the same bytes); DjVuLibre decodes
// pages made of the same coder calls (tst_jb2).
void ZpTest::goldenBytes_data() {
    QTest::addColumn<bool>("iw44");
    QTest::addColumn<std::vector<uint8_t>>("want");
    QTest::newRow("pass-through at A/2")
        << false << std::vector<uint8_t>{160, 1, 252, 11, 72, 59, 94, 200, 213};
    QTest::newRow("IW44's pass-through")
        << true << std::vector<uint8_t>{160, 1, 152, 6, 9, 82, 45, 151, 103, 127};
}

void ZpTest::goldenBytes() {
    QFETCH(bool, iw44);
    QFETCH(std::vector<uint8_t>, want);
    ZpEncoder e;
    ZpContext a = 0, b = 0;
    const char* bits = "0110100011110000101011";
    for (const char* p = bits; *p; ++p) {
        e.encode(*p == '1', a);
        e.encode(*p == '0', b);
        if (iw44)
            e.encodePassThroughIw44(*p == '1');
        else
            e.encodePassThrough(*p == '1');
    }
    QCOMPARE(e.finish(), want);
}

void ZpTest::roundTrip_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("odds"); // chance of a one
    QTest::addColumn<int>("contexts");
    QTest::newRow("empty") << 0 << 0.5 << 1;
    QTest::newRow("one bit") << 1 << 0.5 << 1;
    QTest::newRow("even odds") << 200000 << 0.5 << 4;
    QTest::newRow("mostly zero") << 200000 << 0.01 << 3;
    QTest::newRow("all zero") << 100000 << 0.0 << 1;
    QTest::newRow("all one") << 100000 << 1.0 << 1;
    QTest::newRow("skewed, many contexts") << 300000 << 0.2 << 256;
}

// Long random sequences, contexts and raw bits mixed, decode to what went in.
void ZpTest::roundTrip() {
    QFETCH(int, count);
    QFETCH(double, odds);
    QFETCH(int, contexts);
    std::mt19937 random(count + contexts);
    std::bernoulli_distribution one(odds);
    std::vector<bool> bits(count);
    std::vector<int> which(count);
    std::uniform_int_distribution<int> pick(-2, contexts - 1); // -1, -2: the pass-through modes
    ZpEncoder e;
    std::vector<ZpContext> enc(contexts, 0);
    for (int i = 0; i < count; ++i) {
        bits[i] = one(random);
        which[i] = pick(random);
        if (which[i] == -1)
            e.encodePassThrough(bits[i]);
        else if (which[i] == -2)
            e.encodePassThroughIw44(bits[i]);
        else
            e.encode(bits[i], enc[which[i]]);
    }
    const std::vector<uint8_t> bytes = e.finish();
    // Both decoders: the one above, written from the format's description, and the codec's own,
    // which runs as DjVuLibre's (BZZ decodes through it).
    Decoder d(bytes);
    ZpDecoder zd(bytes.data(), bytes.size());
    std::vector<ZpContext> dec(contexts, 0), zdec(contexts, 0);
    for (int i = 0; i < count; ++i) {
        const int w = which[i];
        const bool got = w < 0 ? d.decodePassThrough(w == -2) : d.decode(dec[w]);
        const bool zgot = w == -1   ? zd.decodePassThrough()
                          : w == -2 ? zd.decodePassThroughIw44()
                                    : zd.decode(zdec[w]);
        if (got != bits[i] || zgot != bits[i])
            QFAIL(qPrintable(QString("bit %1 of %2 differs").arg(i).arg(count)));
    }
    QCOMPARE(dec, enc);
    QCOMPARE(zdec, enc);
    QVERIFY(!zd.overrun());
    if (odds == 0.0) { // a sure context costs next to nothing; a raw bit costs a bit
        const auto raw = std::count_if(which.begin(), which.end(), [](int w) { return w < 0; });
        QVERIFY(bytes.size() < size_t(raw / 8 + 100));
    }
}

void ZpTest::countsMatchTheEncoder_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("odds"); // chance of a one
    QTest::addColumn<int>("contexts");
    QTest::newRow("even odds") << 100000 << 0.5 << 1;
    QTest::newRow("mostly zero") << 100000 << 0.02 << 1;
    QTest::newRow("rare ones, many contexts") << 200000 << 0.005 << 64;
    QTest::newRow("skewed") << 100000 << 0.2 << 8;
    QTest::newRow("mostly one") << 100000 << 0.9 << 4;
}

// The counter's bits are the bits the encoder writes for the same decisions, from the middle of
// a stream on, and it moves the contexts as the encoder does. The rough estimate, in contexts the
// same kind of data has trained and that it leaves as they are, stays near it.
void ZpTest::countsMatchTheEncoder() {
    QFETCH(int, count);
    QFETCH(double, odds);
    QFETCH(int, contexts);
    std::mt19937 random(count + contexts);
    std::bernoulli_distribution one(odds);
    ZpEncoder e;
    std::vector<ZpContext> k(size_t(contexts), 0);
    for (int i = 0; i < count; ++i) // a stream under way
        e.encode(one(random), k[size_t(i % contexts)]);
    std::vector<ZpContext> counted = k;
    const std::vector<ZpContext> trained = k;
    std::vector<bool> bits(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        bits[size_t(i)] = one(random);
    ZpCounter counter(e.interval());
    ZpEstimate estimate;
    const size_t start = e.size();
    for (int i = 0; i < count; ++i) {
        estimate.encode(bits[size_t(i)], trained[size_t(i % contexts)]);
        counter.encode(bits[size_t(i)], counted[size_t(i % contexts)]);
        e.encode(bits[size_t(i)], k[size_t(i % contexts)]);
    }
    QCOMPARE(counted, k);
    const double written = double(e.size() - start) * 8;
    QVERIFY2(std::abs(counter.bits() - written) <= 16,
             qPrintable(QString("counted %1 bits, written %2").arg(counter.bits()).arg(written)));
    QVERIFY2(
        std::abs(estimate.bits() - written) <= 0.15 * written + 16,
        qPrintable(QString("estimated %1 bits, written %2").arg(estimate.bits()).arg(written)));
}

void ZpTest::sameBytesEveryTime() {
    auto run = [] {
        std::mt19937 random(7);
        ZpEncoder e;
        ZpContext k[3] = {};
        for (int i = 0; i < 50000; ++i)
            e.encode(random() % 3 == 0, k[i % 3]);
        return e.finish();
    };
    QCOMPARE(run(), run());
}

// A stream may end early (the decoder reads ones), but one read far past its end is damaged.
void ZpTest::overrunPastTheEnd() {
    ZpEncoder e;
    for (int i = 0; i < 64; ++i)
        e.encodePassThrough(i % 3 == 0);
    const std::vector<uint8_t> bytes = e.finish();
    ZpDecoder d(bytes.data(), bytes.size());
    for (int i = 0; i < 64; ++i)
        QCOMPARE(d.decodePassThrough(), i % 3 == 0);
    QVERIFY(!d.overrun());
    for (int i = 0; i < 8 * 80; ++i)
        d.decodePassThrough();
    QVERIFY(d.overrun());
}

QTEST_GUILESS_MAIN(ZpTest)
#include "tst_zp.moc"
