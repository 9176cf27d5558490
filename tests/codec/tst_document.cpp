// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled document writer, judged by DjVuLibre: djvudump and djvm -l list what we wrote, its
// library opens it with the right pages in the right order, every page renders as the page file
// it came from, and a shared component is read by each page that includes it.
#include "codec/bzz.h"
#include "codec/document.h"
#include "codec/text.h"
#include "tests/codec/djvulibre.h"
#include "tests/engine/djvudecode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vormelle::codec;
using vormelle::test::runTool;

namespace {

QString folder;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Bytes toBytes(const QByteArray& a) {
    return Bytes(a.begin(), a.end());
}

QString path(const QString& name) {
    return folder + QLatin1Char('/') + name;
}

// A PBM of the given size with a pattern of its own.
QString pbm(const QString& name, int width, int height, int seed) {
    QByteArray bytes = "P4\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + '\n';
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < (width + 7) / 8; ++x)
            bytes += char(((y + seed) / 4) % 3 == 0 ? (x * 29 + y * seed) & 0xff : 0);
    QFile f(path(name + QStringLiteral(".pbm")));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return f.fileName();
}

// A page file made by cjb2.
QString cjb2Page(const QString& name, int width, int height, int seed) {
    const QString image = pbm(name, width, height, seed);
    const QString djvu = path(name + QStringLiteral(".djvu"));
    if (image.isEmpty() || !runTool(QStringLiteral("cjb2"), {image, djvu}))
        return {};
    return djvu;
}

// A bundled book by minidjvu, its pages sharing a shape dictionary (FORM:DJVI with Djbz).
QString minidjvuBook(const QString& name, int pages) {
    QStringList arguments;
    for (int i = 0; i < pages; ++i)
        arguments << pbm(name + QString::number(i), 90 + 7 * i, 60 + 5 * i, i + 1);
    const QString djvu = path(name + QStringLiteral(".djvu"));
    if (!runTool(QStringLiteral("minidjvu"), arguments << djvu))
        return {};
    return djvu;
}

QList<QImage> rendered(const QString& djvu) {
    QList<QImage> images;
    for (const vormelle::test::DjvuPage& p : vormelle::test::decodeDjvu(djvu))
        images << p.image;
    return images;
}

Writer into(QByteArray& out) {
    return [&out](const std::uint8_t* data, std::size_t size) {
        out.append(reinterpret_cast<const char*>(data), qsizetype(size));
        return true;
    };
}

} // namespace

class DocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void bundlesPageFilesInOrder();
    void onePageIsASinglePageFile();
    void sharesADictionaryBetweenPages();
    void sharesAnnotationsBetweenPages();
    void joinsBundlesRenamingWhatClashes();
    void holdsThousandsOfPages();
    void refusesWhatItCannotTake();
    void writesNothingWhenAPageFileChanged();
    void takenFilesMayGo();
    void editsPagesAsTheyGoIn();

private:
    QTemporaryDir m_dir;
};

void DocumentTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    folder = m_dir.path();
}

void DocumentTest::bundlesPageFilesInOrder() {
    QStringList pages;
    for (int i = 0; i < 5; ++i)
        pages << cjb2Page(QStringLiteral("order%1").arg(i), 50 + 13 * i, 40 + 3 * i, i + 2);
    QVERIFY(!pages.contains(QString()));
    DocumentWriter doc;
    for (const QString& p : pages)
        QCOMPARE(doc.addFile(p), Error::None);
    QCOMPARE(doc.pageCount(), 5);
    const QString out = path(QStringLiteral("order.djvu"));
    QCOMPARE(doc.finishFile(out), Error::None);

    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(out);
    QVERIFY(read);
    QCOMPARE(read->pages, 5);
    QStringList components;
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(read->sizes[i], QSize(50 + 13 * i, 40 + 3 * i));
        components << QStringLiteral("P p%1.djvu").arg(i + 1, 4, 10, QLatin1Char('0'));
    }
    QCOMPARE(read->components, components);
    const std::optional<QByteArray> listed =
        runTool(QStringLiteral("djvm"), {QStringLiteral("-l"), out});
    QVERIFY(listed);
    QCOMPARE(listed->count("PAGE #"), 5);
    const std::optional<QByteArray> dumped = runTool(QStringLiteral("djvudump"), {out});
    QVERIFY(dumped && dumped->contains("bundled, 5 files 5 pages"));
    const QList<QImage> images = rendered(out);
    QCOMPARE(images.size(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(images[i], rendered(pages[i]).value(0));

    // The same pages give the same bytes, through the callback as through the file.
    DocumentWriter again;
    for (const QString& p : pages)
        QCOMPARE(again.addFile(p), Error::None);
    QByteArray bytes;
    QCOMPARE(again.finish(into(bytes)), Error::None);
    QCOMPARE(bytes, bytesOf(out));
}

void DocumentTest::onePageIsASinglePageFile() {
    const QString page = cjb2Page(QStringLiteral("single"), 77, 31, 5);
    DocumentWriter doc;
    QCOMPARE(doc.addFile(page), Error::None);
    QByteArray bytes;
    QCOMPARE(doc.finish(into(bytes)), Error::None);
    QCOMPARE(bytes, bytesOf(page));
}

void DocumentTest::sharesADictionaryBetweenPages() {
    const QString book = minidjvuBook(QStringLiteral("dict"), 3);
    QVERIFY(!book.isEmpty());
    const std::optional<Chunk> form = parseFile(toBytes(bytesOf(book)));
    QVERIFY(form && form->formType() == "DJVM");

    // The shared component and the pages as chunks, the dictionary under an id of our own.
    DocumentWriter doc;
    int pages = 0;
    for (const Chunk& c : form->children()) {
        if (c.name() == "FORM:DJVI") {
            QVERIFY(c.find("Djbz"));
            Chunk shared = c;
            QCOMPARE(doc.addShared(shared, "shapes.djvi"), Error::None);
        } else if (c.name() == "FORM:DJVU") {
            Chunk page = c;
            for (Chunk& child : page.children()) {
                if (child.name() == "INCL")
                    child.payload() = {'s', 'h', 'a', 'p', 'e', 's', '.', 'd', 'j', 'v', 'i'};
            }
            QCOMPARE(doc.addPage(page), Error::None);
            ++pages;
        }
    }
    QCOMPARE(pages, 3);
    const QString out = path(QStringLiteral("dict-ours.djvu"));
    QCOMPARE(doc.finishFile(out), Error::None);
    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(out);
    QVERIFY(read);
    QCOMPARE(read->components,
             (QStringList{QStringLiteral("I shapes.djvi"), QStringLiteral("P p0001.djvu"),
                          QStringLiteral("P p0002.djvu"), QStringLiteral("P p0003.djvu")}));
    // Every page needs the dictionary to render as minidjvu's own did.
    const QList<QImage> theirs = rendered(book);
    QCOMPARE(theirs.size(), 3);
    QCOMPARE(rendered(out), theirs);
    QVERIFY(bytesOf(out).count("INCL") == 3);
}

void DocumentTest::sharesAnnotationsBetweenPages() {
    const QByteArray anno = "(background #ff0000) (zoom width)";
    const Chunk shared = Chunk::form(
        "DJVI",
        {Chunk::data("ANTz", bzzEncode(reinterpret_cast<const std::uint8_t*>(anno.constData()),
                                       std::size_t(anno.size())))});
    DocumentWriter doc;
    QCOMPARE(doc.addShared(shared, "anno.djvi"), Error::None);
    for (int i = 0; i < 3; ++i) {
        std::optional<Chunk> page =
            parseFile(toBytes(bytesOf(cjb2Page(QStringLiteral("anno%1").arg(i), 40, 40, i))));
        QVERIFY(page);
        // The first and the last page include it; the middle one does not.
        if (i != 1)
            page->children().insert(
                page->children().begin() + 1,
                Chunk::data("INCL", {'a', 'n', 'n', 'o', '.', 'd', 'j', 'v', 'i'}));
        QCOMPARE(doc.addPage(*page), Error::None);
    }
    const QString out = path(QStringLiteral("anno.djvu"));
    QCOMPARE(doc.finishFile(out), Error::None);
    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(out);
    QVERIFY(read);
    QCOMPARE(read->pages, 3);
    QVERIFY2(read->annotations[0].contains(QStringLiteral("#ff0000")),
             qPrintable(read->annotations[0]));
    QVERIFY(!read->annotations[1].contains(QStringLiteral("#ff0000")));
    QVERIFY(read->annotations[2].contains(QStringLiteral("zoom")));
}

void DocumentTest::joinsBundlesRenamingWhatClashes() {
    // Two books from minidjvu name their dictionaries alike; a page file comes between them.
    const QString first = minidjvuBook(QStringLiteral("join"), 2);
    const QString page = cjb2Page(QStringLiteral("between"), 45, 45, 9);
    QVERIFY(!first.isEmpty() && !page.isEmpty());
    const QString second = path(QStringLiteral("join-again.djvu"));
    QVERIFY(QFile::copy(first, second));
    DocumentWriter doc;
    QCOMPARE(doc.addFile(first), Error::None);
    QCOMPARE(doc.addFile(page), Error::None);
    QCOMPARE(doc.addFile(second), Error::None);
    QCOMPARE(doc.pageCount(), 5);
    QCOMPARE(doc.componentCount(), 7);
    const QString out = path(QStringLiteral("joined.djvu"));
    QCOMPARE(doc.finishFile(out), Error::None);

    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(out);
    QVERIFY(read);
    QCOMPARE(read->pages, 5);
    QCOMPARE(read->components.size(), 7);
    QCOMPARE(QSet<QString>(read->components.begin(), read->components.end()).size(), 7);
    QCOMPARE(read->components.filter(QRegularExpression(QStringLiteral("^I "))).size(), 2);
    const QList<QImage> book = rendered(first);
    QCOMPARE(rendered(out), book + rendered(page) + book);
}

void DocumentTest::holdsThousandsOfPages() {
    // Issue 25's 36,000 pages would take minutes; 3,000 page files and 1,000 page chunks in the
    // spool show the same: no argument list, no page bytes in memory.
    const QString page = cjb2Page(QStringLiteral("many"), 20, 20, 3);
    const QString spool = path(QStringLiteral("spool"));
    const std::optional<Chunk> chunk = parseFile(toBytes(bytesOf(page)));
    QVERIFY(chunk);
    {
        DocumentWriter doc(spool);
        for (int i = 0; i < 3000; ++i)
            QCOMPARE(doc.addFile(page), Error::None);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(doc.addPage(*chunk), Error::None);
        QVERIFY(QFile::exists(spool));
        QCOMPARE(doc.finishFile(path(QStringLiteral("many.djvu"))), Error::None);
    }
    QVERIFY(!QFile::exists(spool));
    const std::optional<QByteArray> listed =
        runTool(QStringLiteral("djvm"), {QStringLiteral("-l"), path(QStringLiteral("many.djvu"))});
    QVERIFY(listed);
    QCOMPARE(listed->count("PAGE #"), 4000);
    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(path(QStringLiteral("many.djvu")));
    QVERIFY(read);
    QCOMPARE(read->pages, 4000);
    QCOMPARE(read->components.last(), QStringLiteral("P p4000.djvu"));
}

void DocumentTest::refusesWhatItCannotTake() {
    const QString page = cjb2Page(QStringLiteral("refuse"), 30, 30, 1);
    const std::optional<Chunk> good = parseFile(toBytes(bytesOf(page)));
    QVERIFY(good);
    DocumentWriter doc;
    QByteArray bytes;
    QCOMPARE(doc.finish(into(bytes)), Error::BadData); // no page
    QVERIFY(bytes.isEmpty());

    QCOMPARE(doc.addFile(path(QStringLiteral("missing.djvu"))), Error::ReadFailed);
    QCOMPARE(doc.addFile(pbm(QStringLiteral("notdjvu"), 8, 8, 1)), Error::BadData);
    QByteArray cut = bytesOf(page);
    cut.chop(3);
    QCOMPARE(doc.addFileBytes(toBytes(cut)), Error::BadData);
    // An indirect document keeps its pages in files of their own.
    const QString bundle = minidjvuBook(QStringLiteral("indirect"), 2);
    QDir().mkpath(path(QStringLiteral("ind")));
    QVERIFY(runTool(
        QStringLiteral("djvmcvt"),
        {QStringLiteral("-i"), bundle, path(QStringLiteral("ind")), QStringLiteral("index.djvu")}));
    QCOMPARE(doc.addFile(path(QStringLiteral("ind/index.djvu"))), Error::BadData);
    // A lone page that includes something cannot have it.
    Chunk including = *good;
    including.children().push_back(Chunk::data("INCL", {'x'}));
    QCOMPARE(doc.addFileBytes(*fileBytes(including)), Error::BadData);
    QCOMPARE(doc.addPage(including), Error::BadData);
    // Pages start with INFO; shared components are FORM:DJVI; ids are unique.
    Chunk noInfo = *good;
    std::swap(noInfo.children().front(), noInfo.children().back());
    QCOMPARE(doc.addPage(noInfo), Error::BadData);
    QCOMPARE(doc.addPage(Chunk::form("DJVI", {})), Error::BadData);
    QCOMPARE(doc.addShared(*good, "page.djvi"), Error::BadData);
    QCOMPARE(doc.addPage(*good, "a/b"), Error::BadData);
    QCOMPARE(doc.pageCount(), 0);
    QCOMPARE(doc.componentCount(), 0);

    QCOMPARE(doc.addPage(*good, "one.djvu"), Error::None);
    QCOMPARE(doc.addPage(*good, "one.djvu"), Error::BadData);
    QCOMPARE(doc.pageCount(), 1);

    // The writer's refusal is told as such.
    QCOMPARE(doc.addPage(*good), Error::None);
    QCOMPARE(doc.finish([](const std::uint8_t*, std::size_t) { return false; }),
             Error::WriteFailed);
}

void DocumentTest::writesNothingWhenAPageFileChanged() {
    const QString a = cjb2Page(QStringLiteral("change-a"), 30, 30, 1);
    const QString b = cjb2Page(QStringLiteral("change-b"), 30, 31, 2);
    const QString out = path(QStringLiteral("change.djvu"));
    QFile old(out);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    DocumentWriter doc;
    QCOMPARE(doc.addFile(a), Error::None);
    QCOMPARE(doc.addFile(b), Error::None);
    QFile f(b);
    QVERIFY(f.open(QIODevice::Append) && f.write("xx") == 2);
    f.close();
    int calls = 0;
    QCOMPARE(doc.finish([&calls](const std::uint8_t*, std::size_t) {
        ++calls;
        return true;
    }),
             Error::ReadFailed);
    QCOMPARE(calls, 0);
    QCOMPARE(doc.finishFile(out), Error::ReadFailed);
    QCOMPARE(bytesOf(out), QByteArray("old"));
    QVERIFY(QFile::remove(b));
    QCOMPARE(doc.finishFile(out), Error::ReadFailed);
    QCOMPARE(bytesOf(out), QByteArray("old"));
    QCOMPARE(QDir(folder).entryList({QStringLiteral("change.djvu*")}, QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("change.djvu")});
}

void DocumentTest::takenFilesMayGo() {
    const QString a = cjb2Page(QStringLiteral("take-a"), 30, 30, 4);
    const QString b = cjb2Page(QStringLiteral("take-b"), 31, 30, 5);
    const QList<QImage> expected = rendered(a) + rendered(b);
    for (const QString& spool : {QString(), path(QStringLiteral("take.spool"))}) {
        QFile::remove(path(QStringLiteral("take-a2.djvu")));
        QFile::remove(path(QStringLiteral("take-b2.djvu")));
        QVERIFY(QFile::copy(a, path(QStringLiteral("take-a2.djvu"))));
        QVERIFY(QFile::copy(b, path(QStringLiteral("take-b2.djvu"))));
        DocumentWriter doc(spool);
        QCOMPARE(doc.takeFile(path(QStringLiteral("take-a2.djvu"))), Error::None);
        QCOMPARE(doc.takeFile(path(QStringLiteral("take-b2.djvu"))), Error::None);
        QVERIFY(QFile::remove(path(QStringLiteral("take-a2.djvu"))));
        QVERIFY(QFile::remove(path(QStringLiteral("take-b2.djvu"))));
        QCOMPARE(doc.finishFile(path(QStringLiteral("taken.djvu"))), Error::None);
        QCOMPARE(rendered(path(QStringLiteral("taken.djvu"))), expected);
    }
}

void DocumentTest::editsPagesAsTheyGoIn() {
    // Each page gets a word naming its number; the middle page of the book fails the second time.
    const QString book = minidjvuBook(QStringLiteral("edit"), 3);
    const QString single = cjb2Page(QStringLiteral("edit-single"), 40, 40, 3);
    auto label = [](int page, Chunk& form) {
        TextZone zone;
        zone.xmax = 20;
        zone.ymax = 20;
        TextZone word;
        word.kind = TextZone::Kind::Word;
        word.xmax = word.ymax = 10;
        word.text = "page" + std::to_string(page);
        zone.children.push_back(word);
        return setPageText(form, zone);
    };
    DocumentWriter doc;
    QCOMPARE(doc.addFile(book, label), Error::None);
    QCOMPARE(doc.addFile(single, label), Error::None);
    QCOMPARE(doc.addFile(book,
                         [](int page, Chunk&) { return page == 2 ? Error::BadData : Error::None; }),
             Error::BadData);
    QCOMPARE(doc.pageCount(), 4);
    const QString out = path(QStringLiteral("edited.djvu"));
    QCOMPARE(doc.finishFile(out), Error::None);
    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(out);
    QVERIFY(read);
    QCOMPARE(read->pages, 4);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(read->texts[i].contains(QStringLiteral("\"page%1\"").arg(i < 3 ? i + 1 : 1)),
                 qPrintable(read->texts[i]));
    QCOMPARE(rendered(out), rendered(book) + rendered(single));
}

QTEST_GUILESS_MAIN(DocumentTest)
#include "tst_document.moc"
