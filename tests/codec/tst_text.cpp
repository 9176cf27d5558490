// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden text layer: our TXTa bytes are djvused's for the same zones, and DjVuLibre's
// library, djvused and djvutxt read back the zones and words we wrote.
#include "codec/bzz.h"
#include "codec/text.h"
#include "tests/codec/djvulibre.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vormelle::codec;
using Kind = TextZone::Kind;

Q_DECLARE_METATYPE(vormelle::codec::TextZone)

namespace {

TextZone zone(Kind kind, int x0, int y0, int x1, int y1, std::vector<TextZone> children = {},
              std::string text = {}) {
    TextZone z;
    z.kind = kind;
    z.xmin = x0;
    z.ymin = y0;
    z.xmax = x1;
    z.ymax = y1;
    z.children = std::move(children);
    z.text = std::move(text);
    return z;
}

TextZone word(int x0, int y0, int x1, int y1, std::string text) {
    return zone(Kind::Word, x0, y0, x1, y1, {}, std::move(text));
}

const char* kindName(Kind k) {
    static const char* names[] = {"", "page", "column", "region", "para", "line", "word", "char"};
    return names[int(k)];
}

// The zones as djvused prints and reads them (bytes past ASCII in octal), or as DjVuLibre's
// library gives them (in UTF-8).
QByteArray expression(const TextZone& z, int depth = 0, bool octal = true) {
    QByteArray out = QByteArray(depth, ' ') + '(' + kindName(z.kind) + ' ' +
                     QByteArray::number(std::min(z.xmin, z.xmax)) + ' ' +
                     QByteArray::number(std::min(z.ymin, z.ymax)) + ' ' +
                     QByteArray::number(std::max(z.xmin, z.xmax)) + ' ' +
                     QByteArray::number(std::max(z.ymin, z.ymax));
    if (z.children.empty()) {
        out += " \"";
        for (const char c : z.text) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\')
                out += QByteArray("\\") + c;
            else if (u >= 0x80 && octal)
                out += '\\' + QByteArray::number(u, 8);
            else
                out += c;
        }
        out += '"';
    }
    for (const TextZone& c : z.children)
        out += '\n' + expression(c, depth + 1, octal);
    return out + ')';
}

QString folder;

// A cjb2 page of the given size.
QString blankPage(const QString& name, int width, int height) {
    QByteArray pbm = "P4\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + '\n';
    pbm += QByteArray(qsizetype((width + 7) / 8) * height, '\0');
    QFile f(folder + QLatin1Char('/') + name + QStringLiteral(".pbm"));
    if (!f.open(QIODevice::WriteOnly) || f.write(pbm) != pbm.size())
        return {};
    f.close();
    const QString djvu = folder + QLatin1Char('/') + name + QStringLiteral(".djvu");
    if (!vormelle::test::runTool(QStringLiteral("cjb2"), {f.fileName(), djvu}))
        return {};
    return djvu;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// djvused's own TXTz for these zones, decompressed by DjVuLibre.
QByteArray djvusedPayload(const TextZone& page) {
    const QString djvu = blankPage(QStringLiteral("sed"), page.xmax, page.ymax);
    const QString script = folder + QStringLiteral("/set.dsed");
    QFile f(script);
    if (djvu.isEmpty() || !f.open(QIODevice::WriteOnly))
        return {};
    f.write("select 1\nset-txt\n" + expression(page) + "\n.\n");
    f.close();
    if (!vormelle::test::runTool(QStringLiteral("djvused"),
                                 {QStringLiteral("-s"), QStringLiteral("-f"), script, djvu}))
        return {};
    const QByteArray file = bytesOf(djvu);
    const qsizetype at = file.indexOf("TXTz");
    if (at < 0)
        return {};
    const qsizetype length = qsizetype(quint8(file[at + 4])) << 24 | quint8(file[at + 5]) << 16 |
                             quint8(file[at + 6]) << 8 | quint8(file[at + 7]);
    return vormelle::test::bzzDecodeWithDjvuLibre(file.mid(at + 8, length)).value_or(QByteArray());
}

TextZone twoParagraphs() {
    return zone(
        Kind::Page, 0, 0, 300, 200,
        {zone(Kind::Paragraph, 10, 100, 290, 190,
              {zone(Kind::Line, 10, 150, 290, 190,
                    {word(10, 150, 100, 190, "H\xc3\xa9llo"),
                     word(120, 152, 290, 190, "w\xc3\xb6rld")}),
               zone(Kind::Line, 10, 100, 200, 140, {word(10, 100, 200, 140, "\"quoted\\\"")})}),
         zone(Kind::Paragraph, 10, 10, 150, 60,
              {zone(Kind::Line, 10, 10, 150, 60,
                    {word(10, 10, 150, 60, "\xe6\x97\xa5\xe6\x9c\xac")})})});
}

} // namespace

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void payloadIsDjvusedsForTheSameZones_data();
    void payloadIsDjvusedsForTheSameZones();
    void refusesZonesTheFormatCannotHold_data();
    void refusesZonesTheFormatCannotHold();
    void readsBackThroughDjvuLibre();

private:
    QTemporaryDir m_dir;
};

void TextTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    folder = m_dir.path();
}

void TextTest::payloadIsDjvusedsForTheSameZones_data() {
    QTest::addColumn<TextZone>("page");
    QTest::newRow("paragraphs, lines, words, UTF-8") << twoParagraphs();
    QTest::newRow("columns and regions") << zone(
        Kind::Page, 0, 0, 100, 50,
        {zone(Kind::Column, 0, 0, 60, 50,
              {zone(Kind::Region, 0, 0, 60, 50,
                    {zone(Kind::Paragraph, 10, 30, 50, 45,
                          {zone(Kind::Line, 10, 30, 50, 45,
                                {word(10, 30, 20, 45, "a"), word(30, 31, 50, 45, "b")})}),
                     zone(Kind::Paragraph, 10, 5, 40, 20,
                          {zone(Kind::Line, 10, 5, 40, 20, {word(10, 5, 40, 20, "c")})})})}),
         zone(Kind::Column, 60, 0, 100, 50,
              {zone(Kind::Region, 60, 0, 100, 10,
                    {zone(Kind::Paragraph, 60, 0, 100, 10,
                          {zone(Kind::Line, 60, 0, 100, 10,
                                {word(60, 0, 70, 5, "d"), word(71, 0, 80, 5, "e"),
                                 word(90, 0, 81, 2, "swapped corners")})})})})});
    QTest::newRow("a word outside the line before it")
        << zone(Kind::Page, 0, 0, 400, 400,
                {zone(Kind::Paragraph, 0, 0, 400, 400,
                      {zone(Kind::Line, 300, 300, 390, 390, {word(300, 300, 390, 390, "x")}),
                       zone(Kind::Line, 5, 5, 395, 399,
                            {word(350, 5, 395, 399, "later"), word(5, 5, 40, 30, "left")})})});
}

void TextTest::payloadIsDjvusedsForTheSameZones() {
    QFETCH(TextZone, page);
    Bytes ours;
    QCOMPARE(textLayerPayload(page, ours), Error::None);
    const QByteArray theirs = djvusedPayload(page);
    QVERIFY(!theirs.isEmpty());
    QCOMPARE(
        QByteArray(reinterpret_cast<const char*>(ours.data()), qsizetype(ours.size())).toHex(' '),
        theirs.toHex(' '));
}

void TextTest::refusesZonesTheFormatCannotHold_data() {
    QTest::addColumn<TextZone>("page");
    QTest::addColumn<Error>("error");
    QTest::newRow("wider than 16 bits") << zone(Kind::Page, 0, 0, 40000, 10) << Error::TooLarge;
    QTest::newRow("a word beyond 16 bits")
        << zone(Kind::Page, 0, 0, 100, 100,
                {zone(Kind::Line, 0, 0, 100, 100, {word(0, 0, 33000, 10, "w")})})
        << Error::TooLarge;
    QTest::newRow("a text beyond 24 bits")
        << zone(Kind::Page, 0, 0, 100, 100, {word(0, 0, 10, 10, std::string(0x1000000, 'x'))})
        << Error::TooLarge;
    QTest::newRow("not a page at the top") << zone(Kind::Line, 0, 0, 10, 10) << Error::BadData;
    QTest::newRow("a line holding a paragraph")
        << zone(Kind::Page, 0, 0, 10, 10,
                {zone(Kind::Line, 0, 0, 10, 10, {zone(Kind::Paragraph, 0, 0, 5, 5)})})
        << Error::BadData;
}

void TextTest::refusesZonesTheFormatCannotHold() {
    QFETCH(TextZone, page);
    QFETCH(Error, error);
    Bytes out{1, 2, 3};
    QCOMPARE(textLayerPayload(page, out), error);
    QCOMPARE(out, (Bytes{1, 2, 3})); // untouched
    Chunk chunk = Chunk::data("TXTz", {});
    QCOMPARE(textChunk(page, chunk), error);
}

void TextTest::readsBackThroughDjvuLibre() {
    const TextZone page = twoParagraphs();
    const QString djvu = blankPage(QStringLiteral("read"), 300, 200);
    QVERIFY(!djvu.isEmpty());
    const QByteArray file = bytesOf(djvu);
    std::optional<Chunk> form = parseFile(Bytes(file.begin(), file.end()));
    QVERIFY(form);
    // An old text chunk goes; the new one comes after the image.
    form->children().push_back(Chunk::data("TXTa", {0, 0, 0, 1}));
    QCOMPARE(setPageText(*form, page), Error::None);
    QCOMPARE(form->children().back().name(), std::string("TXTz"));
    QVERIFY(!form->find("TXTa"));
    const std::optional<Bytes> written = fileBytes(*form);
    QVERIFY(written);
    QFile out(djvu);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(reinterpret_cast<const char*>(written->data()), qsizetype(written->size()));
    out.close();

    const QByteArray expected = expression(page);
    const std::optional<QByteArray> printed = vormelle::test::runTool(
        QStringLiteral("djvused"),
        {QStringLiteral("-e"), QStringLiteral("select 1; print-txt"), djvu});
    QVERIFY(printed);
    QCOMPARE(printed->trimmed(), expected);
    const std::optional<vormelle::test::DjvuStructure> read =
        vormelle::test::readWithDjvuLibre(djvu);
    QVERIFY(read);
    QCOMPARE(read->texts.value(0).toUtf8().simplified().replace(" )", ")"),
             expression(page, 0, false).simplified());
    const std::optional<QByteArray> text =
        vormelle::test::runTool(QStringLiteral("djvutxt"), {djvu});
    QVERIFY(text);
    QVERIFY(text->startsWith(
        "H\xc3\xa9llo w\xc3\xb6rld \n\"quoted\\\" \n\x1f\xe6\x97\xa5\xe6\x9c\xac"));

    // A page is needed to take text.
    Chunk notPage = Chunk::form("DJVI");
    QCOMPARE(setPageText(notPage, page), Error::BadData);
}

QTEST_GUILESS_MAIN(TextTest)
#include "tst_text.moc"
