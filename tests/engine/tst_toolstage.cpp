// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/toolstage.h"

#include "engine/commands.h"
#include "tests/engine/djvudecode.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <vector>

using namespace vormelle;
using codec::PixelKind;

Q_DECLARE_METATYPE(vormelle::codec::PixelKind)

namespace {

// Keeps the page files the stage hands over, or refuses them.
class KeepingSink final : public codec::PageSink {
public:
    KeepingSink(QString folder, bool refuse) : m_folder(std::move(folder)), m_refuse(refuse) {}
    bool chunk(int, std::string_view, const codec::Bytes&) override { return false; }
    bool pageDone(int) override { return true; }
    bool shared(std::string_view, const codec::Bytes&) override { return false; }
    bool pageFile(int index, const QString& path) override {
        if (m_refuse)
            return false;
        kept.append(m_folder + QStringLiteral("/kept-%1.djvu").arg(index));
        return QFile::rename(path, kept.last());
    }
    QStringList kept;

private:
    QString m_folder;
    bool m_refuse;
};

// A page with a pattern the eye and the encoders cannot round away: stripes and a ramp.
QImage expectedImage(PixelKind kind, int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool ink = (x / 7 + y / 5) % 3 == 0;
            if (kind == PixelKind::Bitonal)
                image.setPixel(x, y, ink ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
            else if (kind == PixelKind::Grey)
                image.setPixel(x, y, qRgb(x * 255 / width, x * 255 / width, x * 255 / width));
            else
                image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        }
    }
    return image;
}

// The page in the form the stage reads, `stride` bytes a row.
void fill(std::uint8_t* to, qsizetype stride, PixelKind kind, const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* row = to + y * stride;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (kind == PixelKind::Bitonal) {
                if (x % 8 == 0)
                    row[x / 8] = 0;
                if (qRed(c) == 0)
                    row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
            } else if (kind == PixelKind::Grey) {
                row[x] = std::uint8_t(qRed(c));
            } else {
                row[3 * x] = std::uint8_t(qRed(c));
                row[3 * x + 1] = std::uint8_t(qGreen(c));
                row[3 * x + 2] = std::uint8_t(qBlue(c));
            }
        }
    }
}

} // namespace

class ToolStageTest : public QObject {
    Q_OBJECT
private slots:
    void encodesThePixels_data();
    void encodesThePixels();
    void refusals();
};

void ToolStageTest::encodesThePixels_data() {
    QTest::addColumn<PixelKind>("kind");
    QTest::addColumn<bool>("inStageMemory");
    QTest::newRow("bitonal, in the stage's memory") << PixelKind::Bitonal << true;
    QTest::newRow("bitonal, caller's padded rows") << PixelKind::Bitonal << false;
    QTest::newRow("grey, in the stage's memory") << PixelKind::Grey << true;
    QTest::newRow("colour, caller's padded rows") << PixelKind::Colour << false;
}

// The page file decodes to the pixels given: exactly for 1 bit, closely for grey and colour.
void ToolStageTest::encodesThePixels() {
    QFETCH(PixelKind, kind);
    QFETCH(bool, inStageMemory);
    test::TestEnv env;
    const int width = 203, height = 97;
    const QImage expected = expectedImage(kind, width, height);
    engine::ToolStage stage(env.dir(), engine::converterEnvironment(env.dir(), true), nullptr);
    codec::PageView page{kind, width, height, 300, nullptr, codec::rowBytes(kind, width)};
    std::vector<std::uint8_t> own;
    if (inStageMemory) {
        std::uint8_t* memory = stage.pageMemory(page);
        QVERIFY(memory);
        page.pixels = memory;
    } else {
        page.stride += 5;
        own.resize(size_t(page.stride) * height);
        page.pixels = own.data();
    }
    fill(const_cast<std::uint8_t*>(page.pixels), page.stride, kind, expected);
    KeepingSink sink(env.dir(), false);
    const codec::Status status = stage.addPage(page, sink, {});
    QVERIFY2(status.ok(), qPrintable(status.detail));
    QVERIFY(stage.finish(sink, {}).ok());
    QCOMPARE(sink.kept.size(), 1);
    QCOMPARE(stage.steps().size(), 1);
    QCOMPARE(stage.steps()[0].tool,
             QString::fromLatin1(kind == PixelKind::Bitonal ? "cjb2" : "c44"));
    const QList<test::DjvuPage> decoded = test::decodeDjvu(sink.kept[0]);
    QCOMPARE(decoded.size(), 1);
    QCOMPARE(decoded[0].dpi, 300);
    if (kind == PixelKind::Bitonal)
        QCOMPARE(test::differentPixels(decoded[0].image, expected), qint64(0));
    else
        QVERIFY2(test::psnr(decoded[0].image, expected) > 30,
                 qPrintable(QString::number(test::psnr(decoded[0].image, expected))));
    // Nothing of the stage's own is left in the folder.
    QCOMPARE(QDir(env.dir()).entryList(QDir::Files), QStringList{QStringLiteral("kept-0.djvu")});
}

void ToolStageTest::refusals() {
    test::TestEnv env;
    engine::ToolStage stage(env.dir(), engine::converterEnvironment(env.dir(), true), nullptr);
    KeepingSink refusing(env.dir(), true);
    const std::uint8_t byte = 0;
    // No pixels of width 0.
    QCOMPARE(stage.addPage({PixelKind::Grey, 0, 5, 300, &byte, 1}, refusing, {}).error,
             codec::Error::BadDimension);
    // Asked to stop before it starts.
    std::vector<std::uint8_t> white(8 * 8, 255);
    const codec::PageView page{PixelKind::Grey, 8, 8, 300, white.data(), 8};
    QCOMPARE(stage.addPage(page, refusing, [] { return true; }).error, codec::Error::Aborted);
    // A sink that refuses the page: the page file goes, nothing is left.
    QCOMPARE(stage.addPage(page, refusing, {}).error, codec::Error::WriteFailed);
    QCOMPARE(QDir(env.dir()).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(ToolStageTest)
#include "tst_toolstage.moc"
