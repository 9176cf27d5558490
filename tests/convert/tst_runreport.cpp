// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows of a run while it goes on: the bar before each row and while the first
// converter runs, the error report of a row's step, and the run's return to idle after a failure
// in its own statements or in starting its workers.
#include "app/controls.h"
#include "app/filelistmodel.h"
#include "app/settingsstore.h"
#include "platform/faultpoint.h"
#include "tests/convert/runfixture.h"
#include "tests/engine/tiffmaker.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <stdexcept>
#include <system_error>

using namespace vormelle;
using test::RunFixture;

namespace {

const QString kFaultLibrary = QStringLiteral(VORMELLE_FAULTINJECT);
const QString kTrace = QStringLiteral("in Tessary2021/08/31.Form1.PushButton2_Click ");

// The environment a test changed, given back at its end.
class Environment final {
public:
    ~Environment() {
        for (const QByteArray& name : m_set)
            qunsetenv(name.constData());
    }
    void set(const char* name, const QByteArray& value) {
        QVERIFY(!qEnvironmentVariableIsSet(name));
        m_set.append(name);
        qputenv(name, value);
    }

private:
    QList<QByteArray> m_set;
};

// The fault of one test, taken away at its end.
struct FaultScope {
    explicit FaultScope(platform::Fault fault) { platform::setFault(std::move(fault)); }
    ~FaultScope() { platform::setFault({}); }
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;
};

// What the bar showed, each change once, in order.
struct BarRecord {
    QList<std::pair<QString, int>> shown;
    void sample(const ProgressBar& bar) {
        const std::pair<QString, int> now{bar.text(), bar.value()};
        if (shown.isEmpty() || shown.back() != now)
            shown.append(now);
    }
    qsizetype indexOf(const QString& text, int value, qsizetype from = 0) const {
        for (qsizetype i = from; i < shown.size(); ++i) {
            if (shown[i].first == text && shown[i].second == value)
                return i;
        }
        return -1;
    }
};

QString rows(const BarRecord& record) {
    QStringList lines;
    for (const auto& [text, value] : record.shown)
        lines.append(QStringLiteral("%1 %2").arg(value).arg(text));
    return lines.join(QLatin1Char('\n'));
}

void addTiffs(RunFixture& f, const QStringList& names) {
    for (const QString& name : names) {
        const QString path = f.env.path(name);
        test::writeTiff(path, test::TiffKind::BitonalG4);
        f.add(path);
    }
}

} // namespace

class RunReportTest : public QObject {
    Q_OBJECT
private slots:
    void barWhileTheFirstConverterRuns();
    void barWithSeveralRowsInFlight();
    void unexpectedErrorInARow_data();
    void unexpectedErrorInARow();
    void failureAfterTheRowsStillEndsTheRun();
    void workersThatCannotStart_data();
    void workersThatCannotStart();
};

// Two rows through a PDF, the first one's tiff2pdf taking 21 seconds: before each row the bar
// shows its share and its name; from the 50th pass (5 s) the text counts the passes, and at the
// 200th the position creeps by a tenth of a share (50 to 55); when tiff2pdf ends the text is the
// row's again. After the last row: 0 and "Progress Bar".
void RunReportTest::barWhileTheFirstConverterRuns() {
    RunFixture f;
    Environment environment;
    const QString once = f.env.writeFile(QStringLiteral("slow-once"));
    environment.set("LD_PRELOAD", QFile::encodeName(kFaultLibrary));
    environment.set("VORMELLE_FAULT", "tiff2pdf:slow");
    environment.set("VORMELLE_FAULT_SECONDS", "21");
    environment.set("VORMELLE_FAULT_ONCE", QFile::encodeName(once));
    addTiffs(f, {QStringLiteral("a.tif"), QStringLiteral("b.tif")});
    f.form->Option2->setChecked(true);
    BarRecord record;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { record.sample(*f.form->ProgressBar1); });
    sampler.start(10);
    f.start();
    record.sample(*f.form->ProgressBar1);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString seen = rows(record);
    const qsizetype first = record.indexOf(QStringLiteral("Processing: a.tif"), 50);
    const qsizetype waiting =
        record.indexOf(QStringLiteral("Processing: a.tif, Please wait.. 0"), 50);
    const qsizetype crept =
        record.indexOf(QStringLiteral("Processing: a.tif, Please wait.. 150"), 55);
    const qsizetype back = record.indexOf(QStringLiteral("Processing: a.tif"), 55);
    const qsizetype second = record.indexOf(QStringLiteral("Processing: b.tif"), 100);
    QVERIFY2(first >= 0 && first < waiting && waiting < crept && crept < back && back < second,
             qPrintable(seen));
    QCOMPARE(record.shown.back(), std::make_pair(QStringLiteral("Progress Bar"), 0));
    // The position never went back while a row was converted, and never past its share.
    // (The next row's position is set just before its name.)
    for (qsizetype i = first; i < second - 1; ++i)
        QVERIFY2(record.shown[i].second >= 50 && record.shown[i].second <= 95, qPrintable(seen));
}

// On the direct route with two rows in flight the bar shows the share of rows started, and the
// row started last.
void RunReportTest::barWithSeveralRowsInFlight() {
    RunFixture f;
    settings::SaveSetting(QStringLiteral("Jobs"), QStringLiteral("2"));
    addTiffs(f, {QStringLiteral("a.tif"), QStringLiteral("b.tif"), QStringLiteral("c.tif"),
                 QStringLiteral("d.tif")});
    f.form->Option2->setChecked(true);
    f.form->Option3->setChecked(true);
    BarRecord record;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { record.sample(*f.form->ProgressBar1); });
    sampler.start(5);
    // A row may start and end between two samples: every new position is seen too.
    QObject::connect(f.form->ProgressBar1, &QProgressBar::valueChanged,
                     [&] { record.sample(*f.form->ProgressBar1); });
    f.start();
    record.sample(*f.form->ProgressBar1);
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    const QString seen = rows(record);
    // Rows started show their share before they end: never "Processing: " at 0.
    int last = 0;
    for (const auto& [text, value] : record.shown) {
        // The position is set before the text: the first row's share under the resting text,
        // and at the end 0 under the last row's name.
        if (text == QStringLiteral("Progress Bar") || (value == 0 && last == 100))
            continue;
        QVERIFY2(text.startsWith(QStringLiteral("Processing: ")), qPrintable(seen));
        QVERIFY2(value % 25 == 0 && value > 0 && value >= last, qPrintable(seen));
        last = value;
    }
    QCOMPARE(last, 100);
    QCOMPARE(record.shown.back(), std::make_pair(QStringLiteral("Progress Bar"), 0));
}

void RunReportTest::unexpectedErrorInARow_data() {
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QString>("where"); // "row": a step of the engine; otherwise the handler
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("converted"); // whether the failing row is converted all the same
    for (int line : {138, 150, 152, 154, 156, 162})
        QTest::addRow("through PDF, step %d", line) << false << "row" << line << false;
    for (int line : {154, 162})
        QTest::addRow("direct, step %d", line) << true << "row" << line << false;
    // The window's own statements for a row: the row itself is converted.
    for (int line : {128, 130, 132, 134, 136, 164})
        QTest::addRow("through PDF, statement %d", line) << false << kTrace << line << true;
}

// An unexpected error in a row's step is reported in the "Application Error" box at its number,
// on the window's thread, and the run goes on with the next row; the closing box says the row did
// not finish.
void RunReportTest::unexpectedErrorInARow() {
    QFETCH(bool, direct);
    QFETCH(QString, where);
    QFETCH(int, line);
    QFETCH(bool, converted);
    RunFixture f;
    addTiffs(f, {QStringLiteral("a.tif"), QStringLiteral("b.tif")});
    f.form->Option2->setChecked(true);
    (direct ? f.form->Option3 : f.form->Option4)->setChecked(true);
    std::atomic<int> failed{0};
    const QByteArray target = where.toLatin1();
    FaultScope fault([&](std::string_view at, int number) {
        if (at == std::string_view(target.constData(), std::size_t(target.size())) &&
            number == line && failed++ == 0)
            throw std::runtime_error("injected");
    });
    f.start();
    QCOMPARE(failed.load() >= 1, true);
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.dialogs.boxes[0].title, QStringLiteral("Application Error"));
    QVERIFY2(f.dialogs.boxes[0].text.startsWith(QStringLiteral("injected\r\n") + kTrace +
                                                QStringLiteral("at line %1").arg(line)),
             qPrintable(f.dialogs.boxes[0].text));
    if (converted) {
        QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    } else {
        QCOMPARE(f.lastBox(),
                 QStringLiteral("Done.\r\n\r\n1 of 2 file(s) could not be converted:\r\n"
                                "a.tif: the conversion did not finish"));
        QVERIFY(!QFile::exists(f.env.path(QStringLiteral("a.djvu"))));
    }
    QVERIFY(QFile::exists(f.env.path(QStringLiteral("b.djvu"))));
    QVERIFY(!f.form->IsConverting);
    QCOMPARE(f.leftInTemp(), QStringList());
}

// A failure in the statement that removes the run's files (166) is reported, and the run still
// returns to idle: 174 to 186 follow.
void RunReportTest::failureAfterTheRowsStillEndsTheRun() {
    RunFixture f;
    addTiffs(f, {QStringLiteral("a.tif")});
    f.form->Option2->setChecked(true);
    FaultScope fault([](std::string_view at, int number) {
        if (at == kTrace.toStdString() && number == 166)
            throw std::runtime_error("injected");
    });
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QVERIFY(f.dialogs.boxes[0].text.contains(QStringLiteral("at line 166")));
    QCOMPARE(f.lastBox(), QStringLiteral("Done."));
    QVERIFY(!f.form->IsConverting);
    QCOMPARE(f.form->MousePointer(), int(Form1::Default));
    QVERIFY(!f.form->PushButton3->isEnabled());
    QCOMPARE(f.form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
    // The next run is not turned away.
    platform::setFault({});
    f.start();
    QCOMPARE(f.dialogs.boxes.size(), 3);
    QCOMPARE(f.leftInTemp(), QStringList());
}

void RunReportTest::workersThatCannotStart_data() {
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("failsFrom"); // the first worker the system does not start
    QTest::newRow("one of two") << 2 << 1;
    QTest::newRow("the only one") << 1 << 0;
}

// A worker thread the system does not start leaves the run to those that did; with none, the
// failure is reported at 126 (the loop over the rows) and the run returns to idle, its rows not
// started.
void RunReportTest::workersThatCannotStart() {
    QFETCH(int, jobs);
    QFETCH(int, failsFrom);
    RunFixture f;
    settings::SaveSetting(QStringLiteral("Jobs"), QString::number(jobs));
    addTiffs(f, {QStringLiteral("a.tif"), QStringLiteral("b.tif"), QStringLiteral("c.tif")});
    f.form->Option2->setChecked(true);
    FaultScope fault([failsFrom](std::string_view at, int number) {
        if (at == "worker" && number >= failsFrom)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    f.start();
    QVERIFY(!f.form->IsConverting);
    QCOMPARE(f.leftInTemp(), QStringList());
    if (failsFrom > 0) {
        QCOMPARE(f.dialogs.boxes.size(), 1);
        QCOMPARE(f.lastBox(), QStringLiteral("Done."));
        return;
    }
    QCOMPARE(f.dialogs.boxes.size(), 2);
    QCOMPARE(f.dialogs.boxes[0].title, QStringLiteral("Application Error"));
    QVERIFY2(f.dialogs.boxes[0].text.contains(kTrace + QStringLiteral("at line 126")),
             qPrintable(f.dialogs.boxes[0].text));
    QCOMPARE(f.lastBox(), QStringLiteral("Done.\r\n\r\n3 of 3 file(s) could not be converted:\r\n"
                                         "a.tif: not started\r\nb.tif: not started\r\n"
                                         "c.tif: not started"));
    QVERIFY(!QFile::exists(f.env.path(QStringLiteral("a.djvu"))));
}

QTEST_MAIN(RunReportTest)
#include "tst_runreport.moc"
