// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/bundle.h"
#include "engine/direct.h"
#include "engine/engine.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "engine/runlog.h"
#include "tests/engine/djvudecode.h"
#include "tests/engine/layoutmaker.h"
#include "tests/engine/textpage.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTransform>
#include <QtTest>

#include <csignal>
#include <optional>
#include <unistd.h>

using namespace vormelle;
using engine::Engine;
using engine::Route;
using engine::RowOutcome;
using engine::RunRequest;
using test::TextPage;
using test::TextPageLayout;

Q_DECLARE_METATYPE(vormelle::engine::Route)

namespace {

struct Run {
    QList<RowOutcome> rows;
    QString refusal;
};

Run convertAll(const RunRequest& request) {
    Run run;
    Engine engine(test::TestEnv::builtProgramFolder());
    run.refusal = engine.prepare(request.route, request.text);
    if (run.refusal.isEmpty())
        run.refusal = engine.deploy();
    if (run.refusal.isEmpty())
        run.rows = engine.convert(request, {});
    engine.finish();
    return run;
}

RunRequest ocrRequest(const test::TestEnv& env, const QStringList& inputs, Route route,
                      const QString& languages = QStringLiteral("eng")) {
    RunRequest request;
    request.inputs = inputs;
    request.output = {true, env.path(QStringLiteral("out"))};
    QDir().mkpath(request.output.folder);
    request.jobs = 2;
    request.route = route;
    request.text = {true, languages};
    return request;
}

QStringList textOf(const QList<test::HiddenWord>& words) {
    QStringList out;
    for (const test::HiddenWord& w : words)
        out.append(w.text);
    return out;
}

QString djvutxt(const QString& djvu) {
    QProcess p;
    p.start(QStringLiteral("djvutxt"), {djvu});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A process as /proc shows it: its parent, name and processor time so far (clock ticks).
struct Process {
    pid_t pid = 0;
    pid_t parent = 0;
    QByteArray name;
    qint64 ticks = 0;
};

std::optional<Process> processOf(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.readAll();
    // "pid (name) state parent ...": the name may hold anything, so it ends at the last ')'.
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13 || fields[0] == "Z")
        return std::nullopt;
    // After the state: parent (1), ..., user time (11) and system time (12).
    return Process{pid, pid_t(fields[1].toInt()), stat.mid(open + 1, close - open - 1),
                   fields[11].toLongLong() + fields[12].toLongLong()};
}

// The recognition helpers `parent` has started.
QList<Process> helpersOf(pid_t parent) {
    QList<Process> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        if (const std::optional<Process> p = processOf(pid);
            p && p->parent == parent && p->name == engine::kRecognitionHelper)
            found.append(*p);
    }
    return found;
}

// The second page of writeLargeThenSmall().
TextPageLayout smallSecondPage() {
    TextPageLayout small;
    small.lines = test::knownLines(13, 4, 6);
    return small;
}

// A file whose first page keeps Tesseract busy for seconds, so that its helper can be caught at
// work, and whose second page, `small`, is read quickly.
QString writeLargeThenSmall(test::TestEnv& env, const TextPageLayout& small) {
    TextPageLayout large;
    large.width = 4500;
    large.height = 3000;
    large.pixelSize = 30;
    large.lines = test::knownLines(12, 60, 60);
    const QString tiff = env.path(QStringLiteral("two.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(large), test::paintTextPage(small)}, true);
    return tiff;
}

// A text layer script's word line for a page of the given size.
engine::PageText oneWord(const QRect& box, const QString& text, const QSize& size) {
    engine::PageText page;
    page.size = size;
    page.paragraphs = {{box, {{box, {{box, text}}}}}};
    return page;
}

} // namespace

class OcrTest : public QObject {
    Q_OBJECT
private slots:
    void zonesTurnAndScale_data();
    void zonesTurnAndScale();
    void recallAndBoxesOnBothRoutes_data();
    void recallAndBoxesOnBothRoutes();
    void turnedPageReadAsShown_data();
    void turnedPageReadAsShown();
    void umlautsWithGermanData();
    void everyPageOfAMultiPageFile();
    void textGoesInWithoutDjvulibresTools_data();
    void textGoesInWithoutDjvulibresTools();
    void pageWithoutTextIsNamedNotFailed();
    void stopLeavesTheDocumentAsItWas();
    void languageRefusals_data();
    void languageRefusals();
    void turnedScanReadUpright_data();
    void turnedScanReadUpright();
    void damagedDataRefusedBeforeAnyRow_data();
    void damagedDataRefusedBeforeAnyRow();
    void longLinesBoundedAndStoppable_data();
    void longLinesBoundedAndStoppable();
    void orientationUnsureIsLogged_data();
    void orientationUnsureIsLogged();
    void helperCrashCostsThatPageOnly_data();
    void helperCrashCostsThatPageOnly();
    void stopWhileANewHelperLoads();
    void commandLineStopDuringRecognition();
    void brokenHelperRefusedBeforeAnyRow_data();
    void brokenHelperRefusedBeforeAnyRow();
};

// Boxes turn from Tesseract's top-left origin to DjVu's bottom-left one and scale to the DjVu
// page; words go into the text layer as UTF-8, whatever they hold.
void OcrTest::zonesTurnAndScale_data() {
    QTest::addColumn<QRect>("box");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QSize>("djvuPage");
    QTest::addColumn<QRect>("zone"); // xmin, ymin, xmax, ymax as left, top, right, bottom
    const QSize page(100, 200);
    QTest::newRow("plain") << QRect(10, 20, 30, 40) << "word" << page
                           << QRect(QPoint(10, 140), QPoint(40, 180));
    QTest::newRow("quote and backslash")
        << QRect(0, 0, 5, 5) << "a\"b\\c" << page << QRect(QPoint(0, 195), QPoint(5, 200));
    QTest::newRow("control character")
        << QRect(0, 0, 5, 5) << "a\nb" << page << QRect(QPoint(0, 195), QPoint(5, 200));
    QTest::newRow("umlauts stay UTF-8") << QRect(0, 190, 5, 10) << QString::fromUtf8("Größe")
                                        << page << QRect(QPoint(0, 0), QPoint(5, 10));
    QTest::newRow("scaled to a larger DjVu page") << QRect(10, 20, 30, 40) << "w" << QSize(200, 400)
                                                  << QRect(QPoint(20, 280), QPoint(80, 360));
}

void OcrTest::zonesTurnAndScale() {
    QFETCH(QRect, box);
    QFETCH(QString, word);
    QFETCH(QSize, djvuPage);
    QFETCH(QRect, zone);
    const codec::TextZone page = engine::textZones(oneWord(box, word, QSize(100, 200)), djvuPage);
    QCOMPARE(QSize(page.xmax, page.ymax), djvuPage);
    QCOMPARE(page.children.size(), size_t(1));
    const codec::TextZone& line = page.children[0].children.at(0);
    QCOMPARE(line.kind, codec::TextZone::Kind::Line);
    const codec::TextZone& w = line.children.at(0);
    QCOMPARE(w.kind, codec::TextZone::Kind::Word);
    QCOMPARE(QRect(QPoint(w.xmin, w.ymin), QPoint(w.xmax, w.ymax)), zone);
    QCOMPARE(QString::fromStdString(w.text), word);
    codec::Bytes payload;
    QCOMPARE(codec::textLayerPayload(page, payload), codec::Error::None);
}

void OcrTest::recallAndBoxesOnBothRoutes_data() {
    QTest::addColumn<Route>("route");
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("bitonal");
    QTest::newRow("direct, serif, bitonal") << Route::Direct << "Liberation Serif" << true;
    QTest::newRow("pdf, sans, bitonal") << Route::Pdf << "DejaVu Sans" << true;
    QTest::newRow("direct, sans, grey") << Route::Direct << "Liberation Sans" << false;
}

// Known words painted at 300 dpi come back from the DjVu's hidden text, and each found word's
// box holds every black pixel the word has on the page.
void OcrTest::recallAndBoxesOnBothRoutes() {
    QFETCH(Route, route);
    QFETCH(QString, family);
    QFETCH(bool, bitonal);
    test::TestEnv env;
    TextPageLayout layout;
    layout.lines = test::knownLines(int(route) * 7 + int(bitonal), 6, 7);
    layout.family = family;
    layout.antialiased = !bitonal;
    const TextPage page = test::paintTextPage(layout);
    const QString tiff = env.path(QStringLiteral("page.tif"));
    test::writeTextTiff(tiff, {page}, bitonal);

    const Run run = convertAll(ocrRequest(env, {tiff}, route));
    QCOMPARE(run.refusal, QString());
    QVERIFY2(run.rows[0].converted, qPrintable(engine::failureReason(run.rows[0])));
    QCOMPARE(run.rows[0].textProblem, QString());
    const QList<test::HiddenWord> found = test::hiddenWords(run.rows[0].output, 1);
    const double recall = test::wordRecall(page.text(), textOf(found));
    QVERIFY2(recall >= 0.95,
             qPrintable(QStringLiteral("recall %1: %2").arg(recall).arg(textOf(found).join(u' '))));

    // Boxes: every found word that occurs once on the page holds its ink (a pixel of slack for
    // rounding on the route through a PDF).
    int checked = 0;
    for (const test::HiddenWord& w : found) {
        QList<QRect> inks;
        for (const test::InkWord& known : page.words) {
            if (known.text == w.text)
                inks.append(known.ink);
        }
        if (inks.size() != 1)
            continue;
        ++checked;
        const QRect slack = w.box.adjusted(-1, -1, 1, 1);
        QVERIFY2(slack.contains(inks[0]),
                 qPrintable(QStringLiteral("%1: box %2,%3 %4x%5, ink %6,%7 %8x%9")
                                .arg(w.text)
                                .arg(w.box.x())
                                .arg(w.box.y())
                                .arg(w.box.width())
                                .arg(w.box.height())
                                .arg(inks[0].x())
                                .arg(inks[0].y())
                                .arg(inks[0].width())
                                .arg(inks[0].height())));
        // And not a box around the whole line: at most a glyph's width wider than the ink.
        QVERIFY2(w.box.width() <= inks[0].width() + layout.pixelSize, qPrintable(w.text));
    }
    QVERIFY(checked >= 10);
}

void OcrTest::turnedPageReadAsShown_data() {
    QTest::addColumn<Route>("route");
    QTest::addColumn<int>("orientation");
    QTest::newRow("pdf, turned right (6)") << Route::Pdf << 6;
    QTest::newRow("pdf, upside down (3)") << Route::Pdf << 3;
    QTest::newRow("direct, turned left (8)") << Route::Direct << 8;
    QTest::newRow("direct, mirrored and turned (5)") << Route::Direct << 5;
}

// The text layer is read from the page as it is shown, after the turn the Orientation tag
// asks for, and its boxes lie where the words are shown.
void OcrTest::turnedPageReadAsShown() {
    QFETCH(Route, route);
    QFETCH(int, orientation);
    test::TestEnv env;
    TextPageLayout layout;
    layout.lines = test::knownLines(orientation, 6, 7);
    const TextPage page = test::paintTextPage(layout);
    const QString tiff = env.path(QStringLiteral("turned.tif"));
    test::writeTurnedBitonal(tiff, page.image, uint16_t(orientation), 300);

    const Run run = convertAll(ocrRequest(env, {tiff}, route));
    QCOMPARE(run.refusal, QString());
    QVERIFY2(run.rows[0].converted, qPrintable(engine::failureReason(run.rows[0])));
    QCOMPARE(run.rows[0].textProblem, QString());
    const QList<test::HiddenWord> found = test::hiddenWords(run.rows[0].output, 1);
    const double recall = test::wordRecall(page.text(), textOf(found));
    QVERIFY2(recall >= 0.9,
             qPrintable(QStringLiteral("recall %1: %2").arg(recall).arg(textOf(found).join(u' '))));
    int checked = 0;
    for (const test::HiddenWord& w : found) {
        QList<QRect> inks;
        for (const test::InkWord& known : page.words) {
            if (known.text == w.text)
                inks.append(known.ink);
        }
        if (inks.size() != 1)
            continue;
        ++checked;
        QVERIFY2(w.box.adjusted(-2, -2, 2, 2).contains(inks[0]), qPrintable(w.text));
    }
    QVERIFY(checked >= 10);
}

void OcrTest::umlautsWithGermanData() {
    test::TestEnv env;
    TextPageLayout layout;
    const QString line = QString::fromUtf8("Größe Übung Äpfel Straße müssen Häuser schön");
    layout.lines = {line, line};
    const QString tiff = env.path(QStringLiteral("deutsch.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
    // Spaces around a name, as typed into the settings file, are no part of it.
    const Run run = convertAll(ocrRequest(env, {tiff}, Route::Direct, QStringLiteral(" deu ")));
    QCOMPARE(run.refusal, QString());
    QVERIFY(run.rows[0].converted);
    const QStringList found = textOf(test::hiddenWords(run.rows[0].output, 1));
    QVERIFY2(test::wordRecall(test::wordsOf(layout.lines), found) >= 0.85,
             qPrintable(found.join(u' ')));
    for (const char* word : {"Größe", "Straße", "Häuser"})
        QVERIFY2(found.contains(QString::fromUtf8(word)), word);
    // djvutxt reads them back as the same text.
    QVERIFY(djvutxt(run.rows[0].output).contains(QString::fromUtf8("Größe")));
}

// Each page gets its own words, in page order.
void OcrTest::everyPageOfAMultiPageFile() {
    test::TestEnv env;
    QList<TextPage> pages;
    QList<QStringList> lines;
    for (int i = 0; i < 3; ++i) {
        TextPageLayout layout;
        layout.lines = test::knownLines(100 + i, 3, 6);
        layout.height = 500;
        lines.append(layout.lines);
        pages.append(test::paintTextPage(layout));
    }
    const QString tiff = env.path(QStringLiteral("three.tif"));
    test::writeTextTiff(tiff, pages, true);
    for (const Route route : {Route::Direct, Route::Pdf}) {
        const Run run = convertAll(ocrRequest(env, {tiff}, route));
        QVERIFY(run.rows[0].converted);
        QCOMPARE(run.rows[0].pages, 3);
        for (int p = 0; p < 3; ++p) {
            const QStringList found = textOf(test::hiddenWords(run.rows[0].output, p + 1));
            QVERIFY2(test::wordRecall(test::wordsOf(lines[p]), found) >= 0.9,
                     qPrintable(found.join(u' ')));
            // Not the neighbour's text.
            const int other = (p + 1) % 3;
            QVERIFY(test::wordRecall(test::wordsOf(lines[other]), found) < 0.5);
        }
    }
}

// A blank page converts, keeps no text, and the log says which page had none.
void OcrTest::pageWithoutTextIsNamedNotFailed() {
    test::TestEnv env;
    TextPageLayout blank;
    TextPageLayout text;
    text.lines = test::knownLines(5, 2, 5);
    const QString tiff = env.path(QStringLiteral("blank-first.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(blank), test::paintTextPage(text)}, true);
    const QString onlyBlank = env.path(QStringLiteral("blank.tif"));
    test::writeTextTiff(onlyBlank, {test::paintTextPage(blank)}, true);

    const RunRequest request = ocrRequest(env, {tiff, onlyBlank}, Route::Direct);
    const Run run = convertAll(request);
    QVERIFY(run.rows[0].converted && run.rows[1].converted);
    QCOMPARE(run.rows[0].textProblem, QString());
    QCOMPARE(run.rows[0].pagesWithoutText, QList<int>{1});
    QCOMPARE(run.rows[1].pagesWithoutText, QList<int>{1});
    QVERIFY(test::hiddenWords(run.rows[0].output, 1).isEmpty());
    QVERIFY(!test::hiddenWords(run.rows[0].output, 2).isEmpty());
    // Not a failure: the closing box has nothing to say.
    QCOMPARE(engine::closingText(run.rows), QStringLiteral("Done."));
    const QString logPath = env.path(QStringLiteral("run.log"));
    {
        engine::RunLog log(logPath, request);
        log.write(0, run.rows[0]);
        log.write(1, run.rows[1]);
    }
    const QByteArray log = test::fileBytes(logPath);
    QVERIFY2(log.contains("converted") && log.contains("no text found on page 1"), log);
}

// A stop while the text is being added leaves the document untouched and the work folder empty.
void OcrTest::stopLeavesTheDocumentAsItWas() {
    test::TestEnv env;
    TextPageLayout layout;
    layout.lines = test::knownLines(3, 4, 6);
    const QString tiff = env.path(QStringLiteral("page.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
    const QString work = env.path(QStringLiteral("work"));
    QDir().mkpath(work);
    const QString djvu = work + QStringLiteral("/result.djvu");
    QVERIFY(engine::encodeDirect(tiff, work, djvu).problem.isEmpty());
    const QByteArray before = test::fileBytes(djvu);
    engine::Recognizer recognizer(QStringLiteral("eng"), test::TestEnv::builtProgramFolder());
    const std::atomic<bool> stop{true};
    const engine::TextLayerResult result =
        engine::addTextLayer(recognizer, tiff, djvu, work, &stop);
    QVERIFY(result.stopped);
    QCOMPARE(test::fileBytes(djvu), before);
    QCOMPARE(QDir(work).entryList(QDir::Files), QStringList{QStringLiteral("result.djvu")});
}

void OcrTest::textGoesInWithoutDjvulibresTools_data() {
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("route");
    QTest::newRow("direct, one page") << 1 << int(Route::Direct);
    QTest::newRow("direct, three pages") << 3 << int(Route::Direct);
    QTest::newRow("through a PDF, three pages") << 3 << int(Route::Pdf);
}

// The codec writes the text and bundles the pages: with only the encoders (cjb2, c44, djvumake)
// on the PATH (no djvm, no djvused) every page gets its words.
void OcrTest::textGoesInWithoutDjvulibresTools() {
    QFETCH(int, pages);
    QFETCH(int, route);
    test::TestEnv env;
    const QString bin = env.path(QStringLiteral("bin"));
    QDir().mkpath(bin);
    for (const char* tool : {"cjb2", "c44", "djvumake"})
        QVERIFY(QFile::link(QStandardPaths::findExecutable(QLatin1String(tool)),
                            bin + QLatin1Char('/') + QLatin1String(tool)));
    QList<TextPage> painted;
    for (int i = 0; i < pages; ++i) {
        TextPageLayout layout;
        layout.lines = test::knownLines(200 + i, 2, 5);
        layout.height = 400;
        painted.append(test::paintTextPage(layout));
    }
    const QString tiff = env.path(QStringLiteral("text.tif"));
    test::writeTextTiff(tiff, painted, true);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin));
    const Run run = convertAll(ocrRequest(env, {tiff}, Route(route)));
    qputenv("PATH", oldPath);
    QVERIFY2(run.refusal.isEmpty(), qPrintable(run.refusal));
    const RowOutcome& row = run.rows[0];
    QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
    QCOMPARE(engine::textLayerNote(row), QString());
    QCOMPARE(test::decodeDjvu(row.output).size(), pages);
    for (int p = 1; p <= pages; ++p)
        QVERIFY(!test::hiddenWords(row.output, p).isEmpty());
}

// The refusal before a run says what to do: a name spelt in other letter case is no missing
// package.
void OcrTest::languageRefusals_data() {
    QTest::addColumn<QString>("languages");
    QTest::addColumn<QString>("said");
    QTest::newRow("installed") << "eng"
                               << "";
    QTest::newRow("upper case") << "ENG"
                                << "Nothing was converted: Tesseract has no language \"ENG\", but "
                                   "has \"eng\": language names are case-sensitive.";
    QTest::newRow("not installed") << "xx"
                                   << "tesseract-ocr-xx";
    // Debian packages scripts under their ISO 15924 codes.
    QTest::newRow("script not installed")
        << "script/Latin"
        << "Tesseract has no data for the language(s) script/Latin in "
           "/usr/share/tesseract-ocr/5/tessdata/ (Debian's package(s) tesseract-ocr-script-latn).";
    QTest::newRow("vertical script") << "eng+script/HanS_vert"
                                     << "(Debian's package(s) tesseract-ocr-script-hans-vert).";
    QTest::newRow("language with a variant") << "chi_sim"
                                             << "(Debian's package(s) tesseract-ocr-chi-sim).";
    // Installed with Debian's Tesseract, but no language: they read garbage.
    QTest::newRow("orientation model")
        << "osd"
        << "Nothing was converted: \"osd\" is Tesseract's model for a page's orientation and "
           "script, not a language.";
    QTest::newRow("with a language") << "eng+osd"
                                     << "\"osd\" is Tesseract's model";
}

void OcrTest::languageRefusals() {
    QFETCH(QString, languages);
    QFETCH(QString, said);
    const QString problem = engine::ocrLanguageProblem(languages);
    if (said.isEmpty())
        QCOMPARE(problem, QString());
    else
        QVERIFY2(problem.contains(said), qPrintable(problem));
}

void OcrTest::turnedScanReadUpright_data() {
    QTest::addColumn<Route>("route");
    QTest::addColumn<int>("degrees");
    QTest::newRow("direct, upright") << Route::Direct << 0;
    QTest::newRow("direct, turned right") << Route::Direct << 90;
    QTest::newRow("direct, upside down") << Route::Direct << 180;
    QTest::newRow("pdf, turned left") << Route::Pdf << 270;
}

// A scan turned on the glass (the pixels turned, no Orientation tag): the text is found the right
// way up, its boxes lie where the words are on the page as it is, and the page keeps its pixels.
void OcrTest::turnedScanReadUpright() {
    QFETCH(Route, route);
    QFETCH(int, degrees);
    test::TestEnv env;
    TextPageLayout layout;
    layout.lines = test::knownLines(degrees + 1, 8, 7);
    const TextPage page = test::paintTextPage(layout);
    const QTransform turn =
        QImage::trueMatrix(QTransform().rotate(degrees), page.image.width(), page.image.height());
    const QImage turned = page.image.transformed(turn);
    const QString tiff = env.path(QStringLiteral("turned.tif"));
    test::writeTextTiff(tiff, {TextPage{turned, {}}}, true);

    const Run run = convertAll(ocrRequest(env, {tiff}, route));
    QCOMPARE(run.refusal, QString());
    const RowOutcome& row = run.rows[0];
    QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
    QCOMPARE(row.textProblem, QString());
    using Turns = QList<std::pair<int, int>>;
    const Turns expected = degrees == 0 ? Turns{} : Turns{{1, degrees}};
    QCOMPARE(row.pagesTurned, expected);
    if (degrees != 0)
        QCOMPARE(engine::orientationNote(row),
                 QStringLiteral("page 1: text turned by %1 degrees, read the right way up")
                     .arg(degrees));
    const QList<test::DjvuPage> pages = test::decodeDjvu(row.output);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].image.size(), turned.size());

    const QStringList words =
        djvutxt(row.output).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const double recall = test::wordRecall(page.text(), words);
    QVERIFY2(recall >= 0.9,
             qPrintable(QStringLiteral("recall %1: %2").arg(recall).arg(words.join(u' '))));
    int checked = 0;
    for (const test::HiddenWord& w : test::hiddenWords(row.output, 1)) {
        QList<QRect> inks;
        for (const test::InkWord& known : page.words) {
            if (known.text == w.text)
                inks.append(turn.mapRect(QRectF(known.ink)).toAlignedRect());
        }
        if (inks.size() != 1)
            continue;
        ++checked;
        QVERIFY2(w.box.adjusted(-3, -3, 3, 3).contains(inks[0]),
                 qPrintable(QStringLiteral("%1: %2,%3 %4x%5 around %6,%7 %8x%9")
                                .arg(w.text)
                                .arg(w.box.x())
                                .arg(w.box.y())
                                .arg(w.box.width())
                                .arg(w.box.height())
                                .arg(inks[0].x())
                                .arg(inks[0].y())
                                .arg(inks[0].width())
                                .arg(inks[0].height())));
    }
    QVERIFY(checked >= 10);
}

void OcrTest::damagedDataRefusedBeforeAnyRow_data() {
    QTest::addColumn<QByteArray>("data");
    QFile real(QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/eng.traineddata"));
    QVERIFY(real.open(QIODevice::ReadOnly));
    const QByteArray whole = real.readAll();
    QTest::newRow("cut short") << whole.left(whole.size() / 4);
    QTest::newRow("empty") << QByteArray();
    QByteArray garbage(whole.size(), '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) >> 3);
    QTest::newRow("garbage") << garbage;
}

// Data Tesseract lists but cannot load is found before the run, not by each row in turn.
void OcrTest::damagedDataRefusedBeforeAnyRow() {
    QFETCH(QByteArray, data);
    test::TestEnv env;
    const QString folder = env.path(QStringLiteral("tessdata"));
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/eng.traineddata"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    const bool had = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
    const QByteArray old = qgetenv("TESSDATA_PREFIX");
    qputenv("TESSDATA_PREFIX", QFile::encodeName(folder + QLatin1Char('/')));
    Engine engine(test::TestEnv::builtProgramFolder());
    const QString refusal = engine.prepare(Route::Direct, {true, QStringLiteral("eng")});
    engine.finish();
    if (had)
        qputenv("TESSDATA_PREFIX", old);
    else
        qunsetenv("TESSDATA_PREFIX");
    QVERIFY2(refusal.startsWith(QStringLiteral(
                 "Nothing was converted: Tesseract cannot load its data for eng from ")),
             qPrintable(refusal));
    QVERIFY2(refusal.contains(QStringLiteral("tesseract-ocr-eng")), qPrintable(refusal));
}

void OcrTest::longLinesBoundedAndStoppable_data() {
    QTest::addColumn<int>("route");
    QTest::addColumn<bool>("stopping");
    QTest::newRow("direct, bound reached") << int(Route::Direct) << false;
    QTest::newRow("through a PDF, bound reached") << int(Route::Pdf) << false;
    QTest::newRow("direct, stopped") << int(Route::Direct) << true;
    QTest::newRow("through a PDF, stopped") << int(Route::Pdf) << true;
}

// A large page of many long lines: Tesseract's own passes over such a page take far longer than
// its recognition. A page that reaches its bound keeps its DjVu with the words read until then,
// and says so; a stop while it is read ends the run at once. The times asserted are generous:
// without the bound and the stop the page took minutes.
void OcrTest::longLinesBoundedAndStoppable() {
    QFETCH(int, route);
    QFETCH(bool, stopping);
    test::TestEnv env;
    TextPageLayout layout;
    layout.width = 4500;
    layout.height = 3000;
    layout.pixelSize = 30;
    layout.lines = test::knownLines(11, 60, 60);
    const TextPage page = test::paintTextPage(layout);
    const QString tiff = env.path(QStringLiteral("long.tif"));
    test::writeTextTiff(tiff, {page}, true);

    RunRequest request = ocrRequest(env, {tiff}, Route(route));
    // A bound of a fraction of a second: the words are not all read.
    if (!stopping)
        request.text.boundScale = 0.005;
    Engine engine(test::TestEnv::builtProgramFolder());
    QCOMPARE(engine.prepare(request.route, request.text), QString());
    QCOMPARE(engine.deploy(), QString());
    QElapsedTimer sinceRecognition;
    QElapsedTimer sinceStop;
    engine::RunCallbacks callbacks;
    // The direct route reads the page while it encodes (154), the PDF route once its DjVu is
    // made (162).
    const int reading = Route(route) == Route::Direct ? 154 : 162;
    callbacks.rowStep = [&](int, int statement) {
        if (statement == reading)
            sinceRecognition.start();
    };
    callbacks.pause = [&] {
        if (stopping && sinceRecognition.isValid() && !sinceStop.isValid() &&
            sinceRecognition.elapsed() > 3000) {
            engine.stop();
            sinceStop.start();
        }
    };
    const QList<RowOutcome> rows = engine.convert(request, callbacks);
    engine.finish();
    const RowOutcome& row = rows.value(0);
    if (stopping) {
        QVERIFY(sinceStop.isValid());
        QVERIFY2(sinceStop.elapsed() < 10000, qPrintable(QString::number(sinceStop.elapsed())));
        QVERIFY(row.stopped && !row.converted);
        QVERIFY(!QFile::exists(row.output));
        return;
    }
    QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
    QCOMPARE(row.pagesCutShort, QList<int>{1});
    QCOMPARE(engine::textLayerNote(row),
             QStringLiteral("text layer cut short on page 1: reading it took longer than a page "
                            "of its size may take"));
    QCOMPARE(test::decodeDjvu(row.output).size(), 1);
    // What went in is what was read: words of the page, not all of them.
    const QStringList found = textOf(test::hiddenWords(row.output, 1));
    QVERIFY2(found.size() < page.words.size() / 2, qPrintable(QString::number(found.size())));
}

void OcrTest::orientationUnsureIsLogged_data() {
    QTest::addColumn<int>("degrees");
    QTest::addColumn<bool>("unsure");
    // Letters that look the same upside down: the detection thinks the page turned, but with a
    // confidence far under its margin.
    QTest::newRow("symmetric capitals, upside down") << 180 << true;
    QTest::newRow("symmetric capitals, upright") << 0 << false;
}

// Where the orientation detection is unsure, the page is read as it is and the log says so.
void OcrTest::orientationUnsureIsLogged() {
    QFETCH(int, degrees);
    QFETCH(bool, unsure);
    test::TestEnv env;
    TextPageLayout layout;
    layout.family = QStringLiteral("DejaVu Sans");
    layout.lines = QStringList(10, QStringLiteral("NOON SOS OXO HIH ZIZ SIS NOZ"));
    const TextPage page = test::paintTextPage(layout);
    const QImage turned = page.image.transformed(QTransform().rotate(degrees));
    const QString tiff = env.path(QStringLiteral("symmetric.tif"));
    test::writeTextTiff(tiff, {TextPage{turned, {}}}, true);

    const RunRequest request = ocrRequest(env, {tiff}, Route::Direct);
    const Run run = convertAll(request);
    QCOMPARE(run.refusal, QString());
    const RowOutcome& row = run.rows[0];
    QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
    QCOMPARE(row.textProblem, QString());
    QCOMPARE(row.pagesTurned, (QList<std::pair<int, int>>{}));
    QCOMPARE(row.pagesOrientationUnsure, unsure ? QList<int>{1} : QList<int>{});
    const QString logPath = env.path(QStringLiteral("run.log"));
    {
        engine::RunLog log(logPath, request);
        log.write(0, row);
    }
    const QByteArray log = test::fileBytes(logPath);
    QVERIFY2(log.contains("page 1: orientation unsure, read as it is") == unsure, log);
    // Read as it is: the page keeps its pixels and its words.
    QCOMPARE(test::decodeDjvu(row.output).value(0).image.size(), turned.size());
    QVERIFY(!test::hiddenWords(row.output, 1).isEmpty());
}

void OcrTest::helperCrashCostsThatPageOnly_data() {
    QTest::addColumn<int>("route");
    QTest::newRow("direct") << int(Route::Direct);
    QTest::newRow("through a PDF") << int(Route::Pdf);
}

// The recognition helper crashes while it reads the first page: that page has no text, and the
// row says why; the second page gets its words from a new helper, and the DjVu is kept.
void OcrTest::helperCrashCostsThatPageOnly() {
    QFETCH(int, route);
    test::TestEnv env;
    const TextPageLayout small = smallSecondPage();
    const QString tiff = writeLargeThenSmall(env, small);

    const RunRequest request = ocrRequest(env, {tiff}, Route(route));
    Engine engine(test::TestEnv::builtProgramFolder());
    QCOMPARE(engine.prepare(request.route, request.text), QString());
    QCOMPARE(engine.deploy(), QString());
    const int reading = Route(route) == Route::Direct ? 154 : 162;
    QElapsedTimer sinceReading;
    pid_t crashed = 0;
    engine::RunCallbacks callbacks;
    callbacks.rowStep = [&](int, int statement) {
        if (statement == reading)
            sinceReading.start();
    };
    callbacks.pause = [&] {
        if (crashed != 0 || !sinceReading.isValid() || sinceReading.elapsed() < 1500)
            return;
        const QList<Process> helpers = helpersOf(::getpid());
        if (helpers.size() == 1) {
            crashed = helpers[0].pid;
            // SIGABRT: a sanitized helper turns a SIGSEGV into an abort of its own.
            ::kill(crashed, SIGABRT);
        }
    };
    const QList<RowOutcome> rows = engine.convert(request, callbacks);
    engine.finish();
    QVERIFY(crashed != 0);
    const RowOutcome& row = rows.value(0);
    QVERIFY2(row.converted, qPrintable(engine::failureReason(row)));
    const QString why = QStringLiteral("vormelle-ocr crashed (Aborted)");
    QCOMPARE(row.pagesTextLost, (QList<std::pair<int, QString>>{{1, why}}));
    QCOMPARE(engine::textLayerNote(row), QStringLiteral("no text on page 1: ") + why);
    QCOMPARE(row.pagesWithoutText, QList<int>{});
    QCOMPARE(test::decodeDjvu(row.output).size(), 2);
    QVERIFY(test::hiddenWords(row.output, 1).isEmpty());
    const QStringList found = textOf(test::hiddenWords(row.output, 2));
    QVERIFY2(test::wordRecall(test::wordsOf(small.lines), found) >= 0.9,
             qPrintable(found.join(u' ')));
    // Nothing of the helpers is left.
    QCOMPARE(helpersOf(::getpid()).size(), 0);
}

// The helper crashes on the first page and the next one hangs while it loads its languages
// (held stopped): a stop still ends the run at once, not when the load's limit runs out.
void OcrTest::stopWhileANewHelperLoads() {
    test::TestEnv env;
    const QString tiff = writeLargeThenSmall(env, smallSecondPage());

    const RunRequest request = ocrRequest(env, {tiff}, Route::Direct);
    Engine engine(test::TestEnv::builtProgramFolder());
    QCOMPARE(engine.prepare(request.route, request.text), QString());
    QCOMPARE(engine.deploy(), QString());
    QElapsedTimer sinceReading;
    QElapsedTimer sinceStop;
    pid_t crashed = 0;
    pid_t held = 0;
    engine::RunCallbacks callbacks;
    callbacks.rowStep = [&](int, int statement) {
        if (statement == 154)
            sinceReading.start();
    };
    callbacks.pause = [&] {
        if (!sinceReading.isValid() || sinceReading.elapsed() < 1500 || held != 0)
            return;
        const QList<Process> helpers = helpersOf(::getpid());
        if (crashed == 0 && helpers.size() == 1) {
            crashed = helpers[0].pid;
            ::kill(crashed, SIGABRT);
        } else if (crashed != 0 && helpers.size() == 1 && helpers[0].pid != crashed) {
            held = helpers[0].pid;
            ::kill(held, SIGSTOP);
            sinceStop.start();
            engine.stop();
        }
    };
    const QList<RowOutcome> rows = engine.convert(request, callbacks);
    engine.finish();
    QVERIFY(crashed != 0);
    QVERIFY(held != 0);
    qInfo("the run ended %lld ms after the stop", sinceStop.elapsed());
    // A guard against the load's own limit (two minutes), not a measure of speed.
    QVERIFY2(sinceStop.elapsed() < 30000, qPrintable(QString::number(sinceStop.elapsed())));
    QVERIFY(!rows.value(0).converted);
    QCOMPARE(helpersOf(::getpid()).size(), 0);
}

// The page that took 44 minutes (9000 x 12000 pixels, lines of 80 words), through the command
// line: SIGTERM while Tesseract reads it ends the program, which says it was stopped, writes
// nothing, and leaves no helper behind. How long the stop took is printed; the limit is a guard
// against a hang only.
void OcrTest::commandLineStopDuringRecognition() {
    test::TestEnv env;
    TextPageLayout layout;
    layout.width = 9000;
    layout.height = 12000;
    layout.pixelSize = 30;
    layout.lines = test::knownLines(25, 220, 80);
    const QString tiff = env.path(QStringLiteral("huge.tif"));
    test::writeTextTiff(tiff, {test::paintTextPage(layout)}, true);
    const QString out = env.path(QStringLiteral("out"));
    QDir().mkpath(out);

    QProcess program;
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.start(test::TestEnv::builtProgramFolder() + QStringLiteral("/vormelle"),
                  {QStringLiteral("--convert"), QStringLiteral("--encoder"),
                   QStringLiteral("direct"), QStringLiteral("--ocr=eng"),
                   QStringLiteral("--output"), out, tiff});
    QVERIFY(program.waitForStarted());
    const pid_t pid = pid_t(program.processId());
    // Until Tesseract has read for two seconds of processor time: in its layout analysis, which
    // never looks at a stop.
    const qint64 reading = 2 * ::sysconf(_SC_CLK_TCK);
    pid_t helper = 0;
    QElapsedTimer waited;
    waited.start();
    while (helper == 0 && program.state() == QProcess::Running && waited.elapsed() < 600'000) {
        for (const Process& p : helpersOf(pid)) {
            if (p.ticks >= reading)
                helper = p.pid;
        }
        QTest::qWait(20);
    }
    QVERIFY2(helper != 0, program.readAllStandardError().constData());
    QElapsedTimer sinceStop;
    sinceStop.start();
    QCOMPARE(::kill(pid, SIGTERM), 0);
    QVERIFY2(program.waitForFinished(10'000), "the program did not end after SIGTERM");
    const qint64 tookMs = sinceStop.elapsed();
    qInfo("from SIGTERM to the program's end: %lld ms", tookMs);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 128 + SIGTERM);
    const QByteArray said = program.readAllStandardError();
    QVERIFY2(said.contains("stopped: 0 converted, 1 not converted"), said.constData());
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    // The helper went with the program.
    QElapsedTimer gone;
    gone.start();
    while (processOf(helper) && gone.elapsed() < 5000)
        QTest::qWait(20);
    QVERIFY(!processOf(helper));
}

void OcrTest::brokenHelperRefusedBeforeAnyRow_data() {
    QTest::addColumn<QString>("helper"); // what lies at the helper's place: a program, or text
    QTest::addColumn<QString>("said");
    QTest::newRow("missing") << QString() << "(File not found).";
    QTest::newRow("not a program") << "text"
                                   << "(Permission denied).";
    QTest::newRow("a program that ends at once") << "/bin/true"
                                                 << "(vormelle-ocr ended with code 0).";
}

// Without a working helper no row would get its text: said once, before the run, naming where
// the helper belongs.
void OcrTest::brokenHelperRefusedBeforeAnyRow() {
    QFETCH(QString, helper);
    QFETCH(QString, said);
    test::TestEnv env;
    const QString folder = env.path(QStringLiteral("program"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/vormelle-ocr");
    if (helper == QLatin1String("text"))
        env.writeFile(QStringLiteral("program/vormelle-ocr"), "not a program\n");
    else if (!helper.isEmpty())
        QVERIFY(QFile::copy(helper, path));
    Engine engine(folder);
    const QString refusal = engine.prepare(Route::Direct, {true, QStringLiteral("eng")});
    engine.finish();
    QVERIFY2(refusal.startsWith(QStringLiteral("Nothing was converted: the text layer's helper ") +
                                path + QStringLiteral(" cannot be started (")),
             qPrintable(refusal));
    QVERIFY2(refusal.contains(said), qPrintable(refusal));
}

QTEST_MAIN(OcrTest)
#include "tst_ocr.moc"
