// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/channel.h"
#include "platform/memoryfile.h"

#include <QtTest>

#include <cstring>
#include <thread>
#include <unistd.h>

using namespace vormelle;
using namespace std::chrono_literals;
using platform::Channel;

class ChannelTest : public QObject {
    Q_OBJECT
private slots:
    void messagesArriveWhole_data();
    void messagesArriveWhole();
    void memoryFileTravels();
    void otherEndGone_data();
    void otherEndGone();
};

void ChannelTest::messagesArriveWhole_data() {
    QTest::addColumn<QList<qsizetype>>("sizes");
    QTest::newRow("empty") << QList<qsizetype>{0};
    QTest::newRow("small ones back to back") << QList<qsizetype>{1, 7, 0, 300};
    // Far beyond what the socket holds: the sender waits for the reader, in pieces.
    QTest::newRow("several megabytes") << QList<qsizetype>{5 << 20, 3};
}

// What one end sends the other receives, message for message, however the bytes come.
void ChannelTest::messagesArriveWhole() {
    QFETCH(QList<qsizetype>, sizes);
    auto [ours, theirs] = Channel::pair();
    Channel other(theirs);
    QList<QByteArray> sent;
    for (int i = 0; i < sizes.size(); ++i) {
        QByteArray m(sizes[i], Qt::Uninitialized);
        for (qsizetype j = 0; j < m.size(); ++j)
            m[j] = char((j * 131 + i) & 0xff);
        sent.append(m);
    }
    std::thread sender([&] {
        for (const QByteArray& m : std::as_const(sent))
            QVERIFY(other.send(m));
    });
    for (const QByteArray& expected : std::as_const(sent)) {
        QByteArray got;
        QCOMPARE(ours.receive(got, 10s), Channel::Received::Message);
        QCOMPARE(got.size(), expected.size());
        QVERIFY(got == expected);
    }
    sender.join();
    QByteArray none;
    QCOMPARE(ours.receive(none, 50ms), Channel::Received::NotYet);
}

// A memory file handed over with a message is the same file on the other side: what one writes
// the other reads through its own mapping.
void ChannelTest::memoryFileTravels() {
    auto [ours, theirs] = Channel::pair();
    Channel other(theirs);
    platform::MemoryFile file(4096);
    std::memcpy(file.data(), "page pixels", 12);
    QVERIFY(ours.send("take it", file.descriptor()->fd()));
    QByteArray message;
    platform::SharedDescriptor handed;
    QCOMPARE(other.receive(message, 5s, &handed), Channel::Received::Message);
    QCOMPARE(message, QByteArray("take it"));
    QVERIFY(handed);
    QVERIFY(handed->fd() != file.descriptor()->fd());
    const auto mapped = platform::MemoryFile::mapForReading(handed);
    QCOMPARE(mapped->size(), 4096);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(mapped->data())), QByteArray("page pixels"));
    // Written after the hand-over: still the same file.
    file.data()[0] = 'P';
    QCOMPARE(char(mapped->data()[0]), 'P');
    // A message without one hands none.
    QVERIFY(ours.send("nothing"));
    QCOMPARE(other.receive(message, 5s, &handed), Channel::Received::Message);
    QVERIFY(!handed);
}

void ChannelTest::otherEndGone_data() {
    QTest::addColumn<QByteArray>("lastBytes"); // raw bytes the other end wrote before it went
    QTest::newRow("nothing sent") << QByteArray();
    // A length that promises more than came: a child that died while it answered.
    QTest::newRow("half a message") << QByteArray("\x10\x00\x00\x00"
                                                  "abc",
                                                  7);
    QTest::newRow("a length beyond any message") << QByteArray("\xff\xff\xff\xff", 4);
}

// A child that goes away is seen as gone, at once, never as a message or a wait for ever.
void ChannelTest::otherEndGone() {
    QFETCH(QByteArray, lastBytes);
    auto [ours, theirs] = Channel::pair();
    if (!lastBytes.isEmpty())
        QCOMPARE(::write(theirs->fd(), lastBytes.constData(), size_t(lastBytes.size())),
                 ssize_t(lastBytes.size()));
    theirs.reset();
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(ours.receive(got, 10s), Channel::Received::Closed);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!ours.send("anyone?"));
}

QTEST_GUILESS_MAIN(ChannelTest)
#include "tst_channel.moc"
