// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/stage.h"

#include <QtTest>

using namespace vormelle;
using codec::Error;
using codec::PixelKind;

Q_DECLARE_METATYPE(vormelle::codec::PixelKind)
Q_DECLARE_METATYPE(vormelle::codec::Error)

class StageTest : public QObject {
    Q_OBJECT
private slots:
    void rowBytes_data();
    void rowBytes();
    void checkPage_data();
    void checkPage();
};

void StageTest::rowBytes_data() {
    QTest::addColumn<PixelKind>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("1 bit, one pixel") << PixelKind::Bitonal << 1 << qint64(1);
    QTest::newRow("1 bit, 8 pixels") << PixelKind::Bitonal << 8 << qint64(1);
    QTest::newRow("1 bit, 9 pixels") << PixelKind::Bitonal << 9 << qint64(2);
    QTest::newRow("1 bit, A4 at 600 dpi") << PixelKind::Bitonal << 4961 << qint64(621);
    QTest::newRow("grey") << PixelKind::Grey << 4961 << qint64(4961);
    QTest::newRow("colour") << PixelKind::Colour << 4961 << qint64(14883);
    QTest::newRow("no pixels") << PixelKind::Colour << 0 << qint64(0);
    QTest::newRow("negative") << PixelKind::Grey << -5 << qint64(0);
}

void StageTest::rowBytes() {
    QFETCH(PixelKind, kind);
    QFETCH(int, width);
    QFETCH(qint64, bytes);
    QCOMPARE(qint64(codec::rowBytes(kind, width)), bytes);
}

void StageTest::checkPage_data() {
    QTest::addColumn<PixelKind>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<qint64>("stride");
    QTest::addColumn<bool>("pixels");
    QTest::addColumn<Error>("expected");
    QTest::newRow("bitonal page") << PixelKind::Bitonal << 9 << 4 << qint64(2) << true
                                  << Error::None;
    QTest::newRow("padded rows") << PixelKind::Grey << 9 << 4 << qint64(12) << true << Error::None;
    QTest::newRow("largest side") << PixelKind::Bitonal << 32767 << 1 << qint64(4096) << true
                                  << Error::None;
    QTest::newRow("side too long")
        << PixelKind::Bitonal << 32768 << 1 << qint64(4096) << true << Error::BadDimension;
    QTest::newRow("no width") << PixelKind::Grey << 0 << 4 << qint64(1) << true
                              << Error::BadDimension;
    QTest::newRow("no height") << PixelKind::Grey << 4 << 0 << qint64(4) << true
                               << Error::BadDimension;
    QTest::newRow("stride shorter than a row")
        << PixelKind::Colour << 4 << 4 << qint64(11) << true << Error::BadDimension;
    QTest::newRow("no pixels") << PixelKind::Grey << 4 << 4 << qint64(4) << false
                               << Error::BadDimension;
}

void StageTest::checkPage() {
    QFETCH(PixelKind, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(qint64, stride);
    QFETCH(bool, pixels);
    QFETCH(Error, expected);
    const std::uint8_t byte = 0;
    codec::PageView page;
    page.kind = kind;
    page.width = width;
    page.height = height;
    page.dpi = 300;
    page.stride = stride;
    page.pixels = pixels ? &byte : nullptr;
    QCOMPARE(codec::checkPage(page), expected);
}

QTEST_GUILESS_MAIN(StageTest)
#include "tst_stage.moc"
