// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/document.h"
#include "codec/iff.h"
#include "codec/jb2page.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/textpage.h"
#include "tests/engine/tiffmaker.h"

#include <QTemporaryDir>
#include <QtTest>

#include <initializer_list>
#include <map>
#include <random>

using namespace vormelle;
using codec::Bitmap;
using codec::Bytes;
using codec::Chunk;

Q_DECLARE_METATYPE(vormelle::test::TiffKind)

namespace {

// A page held as the engine hands it over: 1 bit a pixel, 1 for black.
struct Packed {
    int width = 0;
    int height = 0;
    int dpi = 300;
    std::vector<uint8_t> bytes;
    std::ptrdiff_t stride() const { return (width + 7) / 8; }
    codec::PageView view() const {
        return {codec::PixelKind::Bitonal, width, height, dpi, bytes.data(), stride()};
    }
    void set(int x, int y) { bytes[size_t(y * stride() + x / 8)] |= uint8_t(0x80 >> (x % 8)); }
};

Packed pack(const QImage& image, int dpi = 300) {
    Packed p{image.width(), image.height(), dpi, {}};
    p.bytes.assign(size_t(p.stride() * p.height), 0);
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (grey.constScanLine(y)[x] < 128)
                p.set(x, y);
    return p;
}

QImage picture(const Packed& p) {
    QImage image(p.width, p.height, QImage::Format_RGB888);
    image.fill(Qt::white);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.bytes[size_t(y * p.stride() + x / 8)] & (0x80 >> (x % 8)))
                image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

codec::Chunk pageChunk(const Bytes& sjbz, int width, int height, int dpi,
                       const std::string& include = {}) {
    std::vector<Chunk> chunks = {Chunk::data("INFO", codec::infoChunk(width, height, dpi))};
    if (!include.empty())
        chunks.push_back(Chunk::data("INCL", Bytes(include.begin(), include.end())));
    chunks.push_back(Chunk::data("Sjbz", sjbz));
    return Chunk::form("DJVU", std::move(chunks));
}

// The pages of a document as DjVuLibre's library renders them.
QList<QImage> decodedFile(const Bytes& file) {
    QTemporaryDir dir;
    const QString path = dir.filePath("page.djvu");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(reinterpret_cast<const char*>(file.data()),
                                                     qint64(file.size())) != qint64(file.size()))
        return {};
    out.close();
    QList<QImage> images;
    for (const test::DjvuPage& page : test::decodeDjvu(path))
        images.push_back(page.image);
    return images;
}

// The page as DjVuLibre's library renders it.
QImage decoded(const Bytes& sjbz, int width, int height, int dpi = 300) {
    const std::optional<Bytes> file = codec::fileBytes(pageChunk(sjbz, width, height, dpi));
    const QList<QImage> pages = file ? decodedFile(*file) : QList<QImage>();
    return pages.size() == 1 ? pages.first() : QImage();
}

// A page of a document whose shapes come partly from its shared dictionary.
struct SharedPage {
    const Bytes& sjbz;
    int width;
    int height;
};

// The pages of a bundled document of one dictionary and pages that include it, as DjVuLibre's
// library renders them; none when the writer refuses the document.
QList<QImage> decodedWithDictionary(const Bytes& djbz, std::initializer_list<SharedPage> pages) {
    codec::DocumentWriter doc;
    if (doc.addShared(Chunk::form("DJVI", {Chunk::data("Djbz", djbz)}), "shapes.djvi") !=
        codec::Error::None)
        return {};
    for (const SharedPage& page : pages)
        if (doc.addPage(pageChunk(page.sjbz, page.width, page.height, 300, "shapes.djvi")) !=
            codec::Error::None)
            return {};
    Bytes file;
    const codec::Error written = doc.finish([&](const uint8_t* data, size_t size) {
        file.insert(file.end(), data, data + size);
        return true;
    });
    return written == codec::Error::None ? decodedFile(file) : QList<QImage>();
}

Packed noise(int width, int height, double black, unsigned seed) {
    Packed p{width, height, 300, {}};
    p.bytes.assign(size_t(p.stride() * height), 0);
    std::mt19937 random(seed);
    std::bernoulli_distribution ink(black);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (ink(random))
                p.set(x, y);
    return p;
}

QImage textImage(int dpi, int pixelSize, int seed) {
    test::TextPageLayout layout;
    layout.lines = test::knownLines(seed, 30, 9);
    layout.pixelSize = pixelSize;
    layout.width = dpi * 17 / 2;
    layout.height = dpi * 11 / 2;
    return test::paintTextPage(layout).image;
}

bool black(const Packed& p, int x, int y) {
    return x >= 0 && y >= 0 && x < p.width && y < p.height &&
           (p.bytes[size_t(y * p.stride() + x / 8)] & (0x80 >> (x % 8)));
}

// A page as a scanner gives it: pixels on the letters' edges flipped at random, so that no two
// letters are quite alike.
Packed ragged(const Packed& clean, double chance, unsigned seed) {
    Packed p = clean;
    std::mt19937 random(seed);
    std::bernoulli_distribution flip(chance);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const bool b = black(clean, x, y);
            const bool edge = black(clean, x - 1, y) != b || black(clean, x + 1, y) != b ||
                              black(clean, x, y - 1) != b || black(clean, x, y + 1) != b;
            if (edge && flip(random))
                p.bytes[size_t(y * p.stride() + x / 8)] ^= uint8_t(0x80 >> (x % 8));
        }
    return p;
}

Bitmap shape(int w, int h, unsigned seed) {
    Bitmap b(w, h);
    std::mt19937 random(seed);
    for (auto& v : b.bits)
        v = random() % 3 == 0;
    // Black edges all round, so the shape has no empty edge rows or columns.
    for (int x = 0; x < w; ++x)
        b.at(x, 0) = b.at(x, h - 1) = 1;
    for (int y = 0; y < h; ++y)
        b.at(0, y) = b.at(w - 1, y) = 1;
    return b;
}

void place(QImage& image, const Bitmap& b, int x, int y) {
    for (int r = 0; r < b.height; ++r)
        for (int c = 0; c < b.width; ++c)
            if (b.at(c, r) && x + c < image.width() && y + r < image.height() && x + c >= 0 &&
                y + r >= 0)
                image.setPixel(x + c, y + r, qRgb(0, 0, 0));
}

// What a stage hands to its sink, in order.
struct Recorder final : codec::PageSink {
    QStringList calls; // "shared", "page 0", ...
    std::string sharedId;
    Bytes dictionary;
    std::map<int, std::vector<Chunk>> open;
    std::vector<Chunk> pages;
    bool chunk(int index, std::string_view id, const Bytes& content) override {
        open[index].push_back(Chunk::data(id, content));
        return true;
    }
    bool pageDone(int index) override {
        calls << QStringLiteral("page %1").arg(index);
        pages.push_back(Chunk::form("DJVU", std::move(open[index])));
        open.erase(index);
        return true;
    }
    bool pageFile(int, const QString&) override { return false; }
    bool shared(std::string_view id, const Bytes& content) override {
        calls << QStringLiteral("shared");
        sharedId = std::string(id);
        dictionary = content;
        return true;
    }
    // The pages and the dictionary as one document.
    Bytes document() const {
        codec::DocumentWriter doc;
        if (!sharedId.empty() &&
            doc.addShared(Chunk::form("DJVI", {Chunk::data("Djbz", dictionary)}), sharedId) !=
                codec::Error::None)
            return {};
        for (const Chunk& page : pages)
            if (doc.addPage(page) != codec::Error::None)
                return {};
        Bytes file;
        if (doc.finish([&](const uint8_t* data, size_t size) {
                file.insert(file.end(), data, data + size);
                return true;
            }) != codec::Error::None)
            return {};
        return file;
    }
};

// The pages through a stage that shares their shapes.
Recorder shareShapes(const QList<Packed>& pages, const QString& spool = {}) {
    Recorder r;
    codec::Jb2Stage stage({}, true, spool);
    for (const Packed& p : pages)
        if (!stage.addPage(p.view(), r, {}).ok())
            return {};
    // Nothing comes before the end: the pages wait for the dictionary.
    if (!r.calls.isEmpty() || !stage.finish(r, {}).ok())
        return {};
    return r;
}

QImage whitePage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::white);
    return image;
}

QImage blackBox(int width, int height) {
    QImage image = whitePage(width, height);
    for (int y = 10; y < height - 10; ++y)
        for (int x = 10; x < width - 10; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

// A page's 8-connected shapes found pixel by pixel, each as its box's pixels that belong to it.
std::vector<codec::PageShape> shapesByFill(const Packed& p) {
    std::vector<int> label(size_t(p.width) * size_t(p.height), -1);
    std::vector<codec::PageShape> out;
    for (int y0 = 0; y0 < p.height; ++y0)
        for (int x0 = 0; x0 < p.width; ++x0) {
            if (!black(p, x0, y0) || label[size_t(y0 * p.width + x0)] >= 0)
                continue;
            const int id = int(out.size());
            std::vector<std::pair<int, int>> todo{{x0, y0}}, mine;
            label[size_t(y0 * p.width + x0)] = id;
            while (!todo.empty()) {
                const auto [x, y] = todo.back();
                todo.pop_back();
                mine.push_back({x, y});
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (black(p, x + dx, y + dy) &&
                            label[size_t((y + dy) * p.width + x + dx)] < 0) {
                            label[size_t((y + dy) * p.width + x + dx)] = id;
                            todo.push_back({x + dx, y + dy});
                        }
            }
            int left = x0, right = x0, top = y0, bottom = y0;
            for (const auto& [x, y] : mine) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
            codec::PageShape s{Bitmap(right - left + 1, bottom - top + 1), left, top};
            for (const auto& [x, y] : mine)
                s.bits.at(x - left, y - top) = 1;
            out.push_back(std::move(s));
        }
    return out;
}

void sortShapes(std::vector<codec::PageShape>& shapes) {
    std::sort(shapes.begin(), shapes.end(), [](const auto& a, const auto& b) {
        return std::tie(a.y, a.x, a.bits.width, a.bits.height, a.bits.bits) <
               std::tie(b.y, b.x, b.bits.width, b.bits.height, b.bits.bits);
    });
}

} // namespace

class Jb2Test : public QObject {
    Q_OBJECT
private slots:
    void everyRecord();
    void shapesOfPage_data();
    void shapesOfPage();
    void refinementEstimates_data();
    void refinementEstimates();
    void pages_data();
    void pages();
    void tiffKinds_data();
    void tiffKinds();
    void sameBytesEveryTime();
    void tallyAddsUp_data();
    void marksJoinTheirLetter_data();
    void marksJoinTheirLetter();
    void tallyAddsUp();
    void textUsesCopies();
    void refinements_data();
    void refinements();
    void dictionary();
    void dictionaryOfRefinements();
    void documentPass_data();
    void documentPass();
    void documentPassSameBytes();
    void documentSmallerThanPagesAlone();
};

// Each record kind, placed at odd spots (on the edge, overlapping, off the line), decodes to the
// pixels placed.
void Jb2Test::everyRecord() {
    const int w = 301, h = 203;
    QImage want(w, h, QImage::Format_RGB888);
    want.fill(Qt::white);
    codec::Jb2Writer writer(w, h);
    const Bitmap a = shape(17, 23, 1), b = shape(30, 9, 2), c = shape(5, 5, 3);
    const int ia = writer.newSymbol(a, 0, 0, true);
    place(want, a, 0, 0);
    const int ib = writer.newSymbol(b, 40, 3, true);
    place(want, b, 40, 3);
    writer.copy(ia, 80, 1);
    place(want, a, 80, 1);
    writer.copy(ib, 10, 100); // back to the left: a new line
    place(want, b, 10, 100);
    writer.newSymbol(c, w - 5, h - 5, false); // the last corner
    place(want, c, w - 5, h - 5);
    writer.nonSymbol(shape(40, 40, 5), 200, 150);
    place(want, shape(40, 40, 5), 200, 150);
    // Partly off the page on each side, and wholly off it.
    const QList<QPoint> offPage = {{290, 190}, {-10, 50}, {100, -5}, {150, h - 4}, {-40, -40}};
    for (const QPoint& at : offPage) {
        writer.copy(ia, at.x(), at.y());
        place(want, a, at.x(), at.y());
    }
    // A new shape and a refinement that start below the page still reach the library whole.
    const Bitmap d = shape(11, 13, 4);
    const int id = writer.newSymbol(d, 60, h - 6, true);
    place(want, d, 60, h - 6);
    Bitmap e = d;
    e.at(5, 6) = !e.at(5, 6);
    const int ie = writer.refinedSymbol(e, id, -3, 120, true);
    place(want, e, -3, 120);
    Bitmap f = a;
    f.at(8, 11) = !f.at(8, 11);
    f.at(3, 4) = !f.at(3, 4);
    writer.refinedSymbol(f, ia, 200, 20, false);
    place(want, f, 200, 20);
    writer.copy(id, 120, 60);
    place(want, d, 120, 60);
    writer.copy(ie, 140, 60);
    place(want, e, 140, 60);
    const QImage got = decoded(writer.finish(), w, h);
    QCOMPARE(got.size(), want.size());
    QCOMPARE(test::differentPixels(got, want), 0);
}

void Jb2Test::shapesOfPage_data() {
    QTest::addColumn<QImage>("image");
    // Rings round a dot, two combs whose teeth interleave, and a staircase joined only at its
    // corners: shapes whose boxes hold parts of others.
    QImage nested = whitePage(301, 203);
    for (int y = 0; y < 203; ++y)
        for (int x = 0; x < 301; ++x) {
            const int r = (x - 100) * (x - 100) + (y - 100) * (y - 100);
            const bool ring = (r > 900 && r < 1600) || (r > 4900 && r < 6400) || r < 50;
            const bool combA =
                x >= 200 && x < 290 && ((y >= 20 && y < 23) || (y < 90 && x % 6 == 0));
            const bool combB =
                x >= 203 && x < 293 && ((y >= 95 && y < 98) || (y > 25 && x % 6 == 3));
            const bool stairs = y >= 150 && y < 200 && x >= 200 && (x - 200) == (y - 150);
            if (ring || combA || combB || stairs)
                nested.setPixel(x, y, qRgb(0, 0, 0));
        }
    // Rules from every column offset within a word, wider than a word, one reaching the right
    // edge of a page whose width is no multiple of 32.
    QImage rules = whitePage(397, 140);
    for (int i = 0; i < 66; ++i)
        for (int x = i; x < i + 65 + 3 * i; ++x)
            rules.setPixel(std::min(x, 396), 2 * i, qRgb(0, 0, 0));
    QTest::newRow("nested and interleaved") << nested;
    QTest::newRow("rules at every offset") << rules;
    QTest::newRow("noise") << picture(noise(517, 389, 0.3, 11));
    QTest::newRow("sparse noise") << picture(noise(333, 257, 0.05, 12));
    QTest::newRow("text") << textImage(300, 30, 13);
    QTest::newRow("blank") << whitePage(65, 33);
}

// The shapes found on a page are its 8-connected shapes, each with exactly its own pixels.
void Jb2Test::shapesOfPage() {
    QFETCH(QImage, image);
    const Packed p = pack(image);
    std::vector<codec::PageShape> got = codec::pageShapes(p.view());
    std::vector<codec::PageShape> want = shapesByFill(p);
    QVERIFY(!want.empty() || image.width() == 65);
    QCOMPARE(got.size(), want.size());
    sortShapes(got);
    sortShapes(want);
    for (size_t i = 0; i < got.size(); ++i) {
        const QString where = QString("shape %1 at %2, %3").arg(i).arg(want[i].x).arg(want[i].y);
        QVERIFY2(got[i].x == want[i].x && got[i].y == want[i].y, qPrintable(where));
        QVERIFY2(got[i].bits == want[i].bits, qPrintable(where));
    }
}

void Jb2Test::refinementEstimates_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("aGrow"); // how much wider and taller than the shape the references are
    QTest::addColumn<int>("bGrow");
    // Widths about the words the quick count packs a row into, references smaller and larger.
    for (const int width : {1, 7, 40, 61, 62, 63, 64, 65, 100, 125, 126, 127, 128, 130, 200})
        for (const auto& [aGrow, bGrow] : {std::pair{0, 0}, {1, -1}, {2, 3}, {-2, 1}, {3, -3}})
            QTest::newRow(qPrintable(QString("%1 wide, %2 %3").arg(width).arg(aGrow).arg(bGrow)))
                << width << 5 + width % 23 << aGrow << bGrow;
}

// The page coder weighs its candidate references by the bits only where they differ; that count
// equals the difference of their whole counts, for every width and alignment.
void Jb2Test::refinementEstimates() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, aGrow);
    QFETCH(int, bGrow);
    const unsigned seed = unsigned(width * 131 + aGrow * 7 + bGrow);
    // A shape and two references like it: the same blob, grown or cut, with pixels flipped.
    auto like = [&](int grow, unsigned salt) {
        Bitmap b(std::max(1, width + grow), std::max(1, height + grow));
        std::mt19937 random(seed + salt);
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x) {
                const bool inside = (x * 7 / b.width + y * 5 / b.height) % 3 != 0;
                b.at(x, y) = random() % 8 == 0 ? !inside : inside;
            }
        return b;
    };
    const Bitmap shape = like(0, 1), a = like(aGrow, 2), b = like(bGrow, 3);
    std::array<codec::ZpContext, 2048> contexts{};
    std::mt19937 random(seed);
    for (codec::ZpContext& c : contexts)
        c = codec::ZpContext(random() % codec::kZpTable.size());
    const auto [quick, whole] = codec::refinementDeltaBothWays(shape, a, b, contexts.data());
    QCOMPARE(quick, whole);
    // The references differ, so the counts do too: the test weighs something.
    QVERIFY(whole != 0);
}

void Jb2Test::pages_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("dpi");
    QImage blank(640, 480, QImage::Format_RGB888);
    blank.fill(Qt::white);
    QImage one(1, 1, QImage::Format_RGB888);
    one.fill(Qt::black);
    QImage oneWhite(1, 1, QImage::Format_RGB888);
    oneWhite.fill(Qt::white);
    QImage black(333, 77, QImage::Format_RGB888);
    black.fill(Qt::black);
    QTest::newRow("blank") << blank << 300;
    QTest::newRow("one black pixel") << one << 300;
    QTest::newRow("one white pixel") << oneWhite << 300;
    QTest::newRow("all black, odd width") << black << 300;
    // Tens of thousands of specks: the number coder resets its nodes on the way.
    QTest::newRow("noise") << picture(noise(999, 701, 0.3, 9)) << 300;
    QTest::newRow("sparse noise") << picture(noise(1200, 1200, 0.02, 10)) << 300;
    QTest::newRow("text 300 dpi") << textImage(300, 42, 1) << 300;
    QTest::newRow("text 600 dpi") << textImage(600, 84, 2) << 600;
    QTest::newRow("small type") << textImage(300, 20, 3) << 300;
}

// Every page decodes to its pixels exactly.
void Jb2Test::pages() {
    QFETCH(QImage, image);
    QFETCH(int, dpi);
    const Packed p = pack(image, dpi);
    const Bytes sjbz = codec::encodeJb2Page(p.view());
    const QImage got = decoded(sjbz, p.width, p.height, dpi);
    QCOMPARE(got.size(), image.size());
    QCOMPARE(test::differentPixels(got, picture(p)), 0);
}

void Jb2Test::tiffKinds_data() {
    QTest::addColumn<test::TiffKind>("kind");
    QTest::addColumn<int>("content");
    using test::TiffKind;
    const QList<std::pair<const char*, TiffKind>> kinds = {
        {"G3", TiffKind::BitonalG3},           {"G4", TiffKind::BitonalG4},
        {"LZW", TiffKind::BitonalLzw},         {"uncompressed", TiffKind::BitonalRaw},
        {"tiled", TiffKind::BitonalTiled},     {"0 for black", TiffKind::BitonalBlack0},
        {"fill order 2", TiffKind::BitonalLsb}};
    for (const auto& [name, kind] : kinds) {
        QTest::newRow(qPrintable(QString("%1, text").arg(name)))
            << kind << int(test::TiffContent::Text);
        QTest::newRow(qPrintable(QString("%1, noise").arg(name)))
            << kind << int(test::TiffContent::Noise);
    }
}

// Pages of each bitonal TIFF kind, as libtiff reads them, decode exactly.
void Jb2Test::tiffKinds() {
    QFETCH(test::TiffKind, kind);
    QFETCH(int, content);
    QTemporaryDir dir;
    const QString tiff = dir.filePath("page.tif");
    test::TiffPage page;
    page.kind = kind;
    page.width = 517;
    page.height = 389;
    page.xdpi = page.ydpi = 300;
    page.content = test::TiffContent(content);
    test::writeTiffPages(tiff, {page});
    const QList<QImage> pixels = test::readTiffPixels(tiff);
    QCOMPARE(pixels.size(), 1);
    const Packed p = pack(pixels.first());
    const QImage got = decoded(codec::encodeJb2Page(p.view()), p.width, p.height);
    QCOMPARE(test::differentPixels(got, pixels.first()), 0);
}

void Jb2Test::sameBytesEveryTime() {
    const Packed p = pack(textImage(300, 30, 4));
    const Bytes first = codec::encodeJb2Page(p.view());
    QVERIFY(!first.empty());
    QCOMPARE(codec::encodeJb2Page(p.view()), first);
}

void Jb2Test::tallyAddsUp_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("lossy");
    QTest::newRow("text") << textImage(300, 42, 6) << false;
    QTest::newRow("text, lossy") << textImage(300, 42, 6) << true;
    QTest::newRow("small type") << textImage(300, 20, 7) << false;
    QTest::newRow("noise") << picture(noise(400, 300, 0.2, 11)) << false;
}

// Where a page's bits go, part by part, adds up to the stream, and its records are the shapes
// as the coder counts them; counting changes nothing in the stream.
void Jb2Test::tallyAddsUp() {
    QFETCH(QImage, image);
    QFETCH(bool, lossy);
    const Packed p = pack(image);
    codec::Jb2Options options;
    options.lossy = lossy;
    const Bytes plain = codec::encodeJb2Page(p.view(), options);
    codec::Jb2Tally tally;
    options.tally = &tally;
    codec::Jb2Stats stats;
    const Bytes counted = codec::encodeJb2Page(p.view(), options, &stats);
    QCOMPARE(counted, plain);
    double bits = 0;
    for (const double b : tally.bits) {
        QVERIFY(b >= 0);
        bits += b;
    }
    // Only the start of the image and the stream's last bits are left out.
    QVERIFY2(std::abs(bits - 8.0 * double(plain.size())) < 96,
             qPrintable(QString("%1 bits counted, %2 B").arg(bits).arg(plain.size())));
    const int* r = tally.records;
    QCOMPARE(r[7], stats.copies);
    QCOMPARE(r[4] + r[5] + r[6], stats.refinements);
    QCOMPARE(r[1] + r[2] + r[3], stats.direct);
    QVERIFY(stats.copies > 0 || image.width() < 500);
}

using Boxes = QList<QRect>;
Q_DECLARE_METATYPE(Boxes)

void Jb2Test::marksJoinTheirLetter_data() {
    QTest::addColumn<Boxes>("boxes");
    QTest::addColumn<int>("placed");
    QTest::addColumn<bool>("keepBlits");
    QTest::addColumn<bool>("lossy");
    const QRect stem(20, 30, 5, 20), dot(20, 20, 5, 5);
    QTest::newRow("i") << Boxes{stem, dot} << 1 << false << false;
    QTest::newRow("i, lossy") << Boxes{stem, dot} << 1 << false << true;
    QTest::newRow("mark in the rows next to the letter")
        << Boxes{stem, {18, 26, 1, 4}} << 2 << false << false;
    QTest::newRow("i, each shape a blit") << Boxes{stem, dot} << 2 << true << false;
    QTest::newRow("two dots over a bowl")
        << Boxes{{40, 34, 16, 16}, {42, 26, 4, 4}, {50, 26, 4, 4}} << 1 << false << false;
    QTest::newRow("dot below a bar")
        << Boxes{{20, 20, 5, 20}, {20, 44, 5, 5}} << 1 << false << false;
    QTest::newRow("dot a pixel aside") << Boxes{stem, {22, 20, 5, 5}} << 1 << false << false;
    QTest::newRow("full stop beside a letter")
        << Boxes{{20, 30, 12, 20}, {34, 46, 4, 4}} << 2 << false << false;
    QTest::newRow("colon") << Boxes{{20, 24, 5, 5}, {20, 36, 5, 5}} << 2 << false << false;
    QTest::newRow("mark as tall as half the letter and more")
        << Boxes{stem, {20, 18, 5, 11}} << 2 << false << false;
    QTest::newRow("dot far above") << Boxes{stem, {20, 6, 5, 5}} << 2 << false << false;
    // Specks (noise, a dithered picture) shorter than a letter in 5-point type: left alone.
    QTest::newRow("speck over a speck")
        << Boxes{{20, 30, 3, 8}, {20, 26, 2, 2}} << 2 << false << false;
    QTest::newRow("i in a word, a speck over the gap after it")
        << Boxes{{6, 30, 12, 20}, stem, dot, {28, 30, 12, 20}, {43, 20, 3, 3}} << 4 << false
        << false;
    QTest::newRow("two lines of i")
        << Boxes{stem, dot, {20, 70, 5, 20}, {20, 60, 5, 5}} << 2 << false << false;
}

// A mark over or under a letter (an i's dot, an umlaut, an exclamation mark's dot) is placed
// with its letter as one shape; marks beside a letter, alike shapes and marks far off are not.
// The page still decodes exactly.
void Jb2Test::marksJoinTheirLetter() {
    QFETCH(Boxes, boxes);
    QFETCH(int, placed);
    QFETCH(bool, keepBlits);
    QFETCH(bool, lossy);
    QImage image(120, 100, QImage::Format_RGB888);
    image.fill(Qt::white);
    for (const QRect& r : boxes)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                image.setPixel(x, y, qRgb(0, 0, 0));
    const Packed p = pack(image);
    codec::Jb2Options options;
    options.keepBlits = keepBlits;
    options.lossy = lossy;
    codec::Jb2Stats stats;
    const Bytes sjbz = codec::encodeJb2Page(p.view(), options, &stats);
    QCOMPARE(stats.shapes, placed);
    QCOMPARE(test::differentPixels(decoded(sjbz, p.width, p.height), image), 0);
    if (keepBlits)
        QCOMPARE(int(stats.blits.size()), int(boxes.size()));
}

// A page of text repeats its letters: it codes far smaller than its shapes one by one would,
// which needs copies and refinements to work.
void Jb2Test::textUsesCopies() {
    const Packed p = pack(textImage(300, 42, 5));
    const Bytes sjbz = codec::encodeJb2Page(p.view());
    codec::Jb2Writer alone(p.width, p.height);
    QImage flat = picture(p);
    // The same page as one picture coded directly.
    Bitmap whole(p.width, p.height);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            whole.at(x, y) = qGray(flat.pixel(x, y)) < 128;
    alone.nonSymbol(whole, 0, 0);
    const Bytes direct = alone.finish();
    QVERIFY2(sjbz.size() * 10 < direct.size() * 8,
             qPrintable(QString("%1 against %2").arg(sjbz.size()).arg(direct.size())));
}

void Jb2Test::refinements_data() {
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<double>("chance");
    QTest::newRow("300 dpi, light wear") << 300 << 42 << 0.05;
    QTest::newRow("300 dpi, heavy wear") << 300 << 42 << 0.15;
    QTest::newRow("600 dpi") << 600 << 84 << 0.15;
    QTest::newRow("small type") << 300 << 20 << 0.04;
}

// Letters that differ a little are coded as refinements of each other, decode exactly, and make
// the page smaller than coding each one alone.
void Jb2Test::refinements() {
    QFETCH(int, dpi);
    QFETCH(int, pixelSize);
    QFETCH(double, chance);
    const Packed p = ragged(pack(textImage(dpi, pixelSize, 6), dpi), chance, 7);
    codec::Jb2Stats stats;
    const Bytes sjbz = codec::encodeJb2Page(p.view(), {}, &stats);
    QVERIFY2(stats.refinements * 3 > stats.shapes - stats.copies,
             qPrintable(QString("%1 of %2").arg(stats.refinements).arg(stats.shapes)));
    QCOMPARE(stats.copies + stats.refinements + stats.direct, stats.shapes);
    const QImage got = decoded(sjbz, p.width, p.height, dpi);
    QCOMPARE(test::differentPixels(got, picture(p)), 0);
    codec::Jb2Options alone;
    alone.refine = false;
    const Bytes unrefined = codec::encodeJb2Page(p.view(), alone);
    QVERIFY2(sjbz.size() < unrefined.size(),
             qPrintable(QString("%1 against %2").arg(sjbz.size()).arg(unrefined.size())));
}

// Pages that include a shared dictionary of shapes refer to it and decode exactly, in order.
void Jb2Test::dictionary() {
    const Packed first = pack(textImage(300, 42, 8));
    const Packed second = ragged(pack(textImage(300, 42, 9)), 0.1, 3);
    // The first page's distinct shapes make the dictionary.
    std::vector<Bitmap> shared;
    for (codec::PageShape& s : codec::pageShapes(first.view(), true))
        if (std::find(shared.begin(), shared.end(), s.bits) == shared.end())
            shared.push_back(std::move(s.bits));
    QVERIFY(shared.size() > 20);
    codec::Jb2Options options;
    options.dictionary = &shared;
    codec::Jb2Stats firstStats, secondStats;
    const Bytes sjbz1 = codec::encodeJb2Page(first.view(), options, &firstStats);
    const Bytes sjbz2 = codec::encodeJb2Page(second.view(), options, &secondStats);
    // Every shape of the first page is in the dictionary already.
    QCOMPARE(firstStats.copies, firstStats.shapes);
    QVERIFY(secondStats.refinements > 0);
    const QList<QImage> pages = decodedWithDictionary(
        codec::encodeJb2Dictionary(shared),
        {{sjbz1, first.width, first.height}, {sjbz2, second.width, second.height}});
    QCOMPARE(pages.size(), 2);
    QCOMPARE(test::differentPixels(pages[0], picture(first)), 0);
    QCOMPARE(test::differentPixels(pages[1], picture(second)), 0);
    // Copies from the dictionary cost far less than the shapes themselves.
    QVERIFY(sjbz1.size() * 3 < codec::encodeJb2Page(first.view()).size() * 2);
}

// A dictionary may hold shapes coded as refinements of its earlier ones; DjVuLibre builds them
// all, and they cost less than each coded on its own.
void Jb2Test::dictionaryOfRefinements() {
    const Packed first = pack(textImage(300, 42, 8));
    const Packed second = ragged(pack(textImage(300, 42, 8)), 0.1, 3);
    auto distinct = [](const Packed& page) {
        std::vector<Bitmap> shapes;
        for (codec::PageShape& s : codec::pageShapes(page.view(), true))
            if (std::find(shapes.begin(), shapes.end(), s.bits) == shapes.end())
                shapes.push_back(std::move(s.bits));
        return shapes;
    };
    std::vector<Bitmap> shared = distinct(first);
    const size_t alone = shared.size();
    std::vector<int> refineFrom(alone, -1);
    // The second page's shapes, each refined from the first page's nearest in size.
    for (Bitmap& b : distinct(second)) {
        if (std::find(shared.begin(), shared.end(), b) != shared.end())
            continue;
        size_t nearest = 0;
        for (size_t i = 0; i < alone; ++i) {
            auto gap = [&](const Bitmap& o) {
                return std::abs(o.width - b.width) + std::abs(o.height - b.height);
            };
            if (gap(shared[i]) < gap(shared[nearest]))
                nearest = i;
        }
        refineFrom.push_back(int(nearest));
        shared.push_back(std::move(b));
    }
    QVERIFY(shared.size() > alone + 20);
    const Bytes refined = codec::encodeJb2Dictionary(shared, refineFrom);
    QVERIFY2(refined.size() < codec::encodeJb2Dictionary(shared).size(),
             qPrintable(QString::number(refined.size())));
    codec::Jb2Options options;
    options.dictionary = &shared;
    codec::Jb2Stats stats;
    const Bytes sjbz = codec::encodeJb2Page(second.view(), options, &stats);
    // Every shape of the page is in the dictionary.
    QCOMPARE(stats.copies, stats.shapes);
    const QList<QImage> pages =
        decodedWithDictionary(refined, {{sjbz, second.width, second.height}});
    QCOMPARE(pages.size(), 1);
    QCOMPARE(test::differentPixels(pages[0], picture(second)), 0);
}

void Jb2Test::documentPass_data() {
    QTest::addColumn<QList<QImage>>("images");
    QTest::addColumn<bool>("shared");
    QTest::addColumn<QList<bool>>("includes");
    const QImage a = textImage(300, 42, 11), b = textImage(300, 42, 12), c = textImage(300, 42, 13);
    QTest::newRow("three pages of text")
        << QList<QImage>{a, b, c} << true << QList<bool>{true, true, true};
    // A rule is never matched, so the two pages share nothing.
    QTest::newRow("nothing shared")
        << QList<QImage>{a, blackBox(700, 400)} << false << QList<bool>{false, false};
    QTest::newRow("a blank page among them")
        << QList<QImage>{a, whitePage(500, 300), b} << true << QList<bool>{true, false, true};
    QTest::newRow("one page") << QList<QImage>{a} << false << QList<bool>{false};
}

// A document whose pages share shapes gets one dictionary, handed out before the first page;
// the pages that use it include it, and every page decodes exactly, in order.
void Jb2Test::documentPass() {
    QFETCH(QList<QImage>, images);
    QFETCH(bool, shared);
    QFETCH(QList<bool>, includes);
    QList<Packed> pages;
    for (const QImage& image : images)
        pages << pack(image);
    const Recorder r = shareShapes(pages);
    QStringList order;
    if (shared)
        order << QStringLiteral("shared");
    for (int i = 0; i < pages.size(); ++i)
        order << QStringLiteral("page %1").arg(i);
    QCOMPARE(r.calls, order);
    QCOMPARE(r.sharedId.empty(), !shared);
    QCOMPARE(int(r.pages.size()), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        const Chunk* incl = r.pages[size_t(i)].find("INCL");
        QCOMPARE(incl != nullptr, includes[i]);
        if (incl)
            QCOMPARE(std::string(incl->payload().begin(), incl->payload().end()), r.sharedId);
    }
    const QList<QImage> decoded = decodedFile(r.document());
    QCOMPARE(decoded.size(), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(decoded[i].size(), images[i].size());
        QCOMPARE(test::differentPixels(decoded[i], picture(pages[i])), 0);
    }
    // A lone page is coded as it always was.
    if (pages.size() == 1)
        QVERIFY(r.pages.front().find("Sjbz")->payload() == codec::encodeJb2Page(pages[0].view()));
}

// The same pages give the same bytes, spooled to a file or held in memory; the spool goes
// with the stage.
void Jb2Test::documentPassSameBytes() {
    const QList<Packed> pages{ragged(pack(textImage(300, 42, 15)), 0.1, 4),
                              ragged(pack(textImage(300, 42, 16)), 0.1, 5)};
    QTemporaryDir dir;
    const QString spool = dir.filePath("shapes.spool");
    const Bytes spooled = shareShapes(pages, spool).document();
    QVERIFY(!spooled.empty());
    QVERIFY(!QFile::exists(spool));
    QVERIFY(shareShapes(pages, spool).document() == spooled);
    QVERIFY(shareShapes(pages).document() == spooled);
}

// Shapes coded once for the document cost less than coding them on every page.
void Jb2Test::documentSmallerThanPagesAlone() {
    QList<Packed> pages;
    size_t alone = 0;
    for (int i = 0; i < 4; ++i) {
        pages << ragged(pack(textImage(300, 42, 20 + i)), 0.08, unsigned(30 + i));
        alone += codec::encodeJb2Page(pages.back().view()).size();
    }
    const Recorder r = shareShapes(pages);
    size_t shared = r.dictionary.size();
    for (const Chunk& page : r.pages)
        shared += page.find("Sjbz")->payload().size();
    QVERIFY2(shared < alone, qPrintable(QString("%1 against %2").arg(shared).arg(alone)));
}

QTEST_MAIN(Jb2Test)
#include "tst_jb2.moc"
