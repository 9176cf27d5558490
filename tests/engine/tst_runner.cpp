// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/runner.h"
#include "platform/basicerror.h"
#include "platform/process.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QTimer>
#include <QtTest>

using namespace vormelle;
using engine::Command;
using engine::kStartFailed;

namespace {

// What a bar would show: the runner knows no widget.
struct Shown {
    QString text;
    double position = 0;
};

engine::ShowProgress showOn(Shown& bar) {
    return [&bar](const QString& text, std::optional<double> position) {
        bar.text = text;
        if (position)
            bar.position = *position;
    };
}

Command shell(const QString& script, const QStringList& args = {}) {
    return {QStringLiteral("/bin/sh"),
            QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + args,
            {}};
}

} // namespace

class RunnerTest : public QObject {
    Q_OBJECT
private slots:
    void results_data();
    void results();
    void startFailures();
    void argumentsArriveIntact();
    void environmentAndInput();
    void outputKeepsTheTail();
    void eventsRunWhileWaiting();
    void creep_data();
    void creep();
    void barCreepsAndIsRestored_data();
    void barCreepsAndIsRestored();
};

void RunnerTest::results_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("expected");
    QTest::newRow("success") << "exit 0" << 0;
    QTest::newRow("failure") << "exit 1" << 1;
    QTest::newRow("code 3") << "exit 3" << 3;
    QTest::newRow("code 255") << "exit 255" << 255;
    QTest::newRow("code 259 is not 'still running'") << "exit 259" << 3; // 259 & 255
    QTest::newRow("ended by SIGTERM") << "kill -TERM $$" << 128 + 15;
    QTest::newRow("ended by SIGKILL") << "kill -KILL $$" << 128 + 9;
    QTest::newRow("ended later") << "sleep 0.3; exit 4" << 4;
}

void RunnerTest::results() {
    QFETCH(QString, script);
    QFETCH(int, expected);
    QCOMPARE(engine::RunAndWait(shell(script)), expected);
    Shown bar;
    QCOMPARE(
        engine::RunAndWaitWithProgress(shell(script), 0, showOn(bar), QStringLiteral("t"), 10, 2),
        expected);
}

void RunnerTest::startFailures() {
    test::TestEnv env;
    const QString plain = env.writeFile(QStringLiteral("not-executable"), "#!/bin/sh\nexit 0\n");
    QCOMPARE(engine::RunAndWait({env.path(QStringLiteral("missing")), {}, {}}), kStartFailed + 53);
    QCOMPARE(kStartFailed + 53, -2147221451);
    QCOMPARE(engine::RunAndWait({plain, {}, {}}), kStartFailed + 70);
    QCOMPARE(engine::RunAndWait({env.dir(), {}, {}}), kStartFailed + 70);
    QCOMPARE(engine::RunAndWait({QString(), {}, {}}), kStartFailed + 53);
    // Nothing is shown and the bar keeps its text until the end, when it gets the text back.
    Shown bar;
    bar.text = QStringLiteral("before");
    QCOMPARE(
        engine::RunAndWaitWithProgress({plain, {}, {}}, 0, showOn(bar), QStringLiteral("x"), 0, 1),
        kStartFailed + 70);
    QCOMPARE(bar.text, QStringLiteral("before"));
}

void RunnerTest::argumentsArriveIntact() {
    test::TestEnv env;
    const QStringList args{QStringLiteral("a b"),
                           QStringLiteral("q\"uote"),
                           QStringLiteral("$HOME"),
                           QStringLiteral("$(touch pwned)"),
                           QStringLiteral("back\\slash"),
                           QStringLiteral("new\nline"),
                           QStringLiteral("`touch pwned`"),
                           QStringLiteral("ünï 文字"),
                           QString(),
                           QStringLiteral("; touch pwned &")};
    QByteArray output;
    engine::RunOptions options;
    options.output = &output;
    Command c = shell(QStringLiteral("cd \"$0\" && for a; do printf '[%s]' \"$a\"; done"), args);
    c.arguments[2] = env.dir(); // $0: run inside the scratch folder
    QCOMPARE(engine::RunAndWait(c, std::nullopt, options), 0);
    QByteArray expected;
    for (const QString& a : args)
        expected += '[' + a.toUtf8() + ']';
    QCOMPARE(output, expected);
    QVERIFY(!QFile::exists(env.path(QStringLiteral("pwned"))));
}

void RunnerTest::environmentAndInput() {
    QByteArray output;
    engine::RunOptions options;
    options.output = &output;
    Command c = shell(QStringLiteral(
        "printf '%s|' \"$VORMELLE_A\" \"$HOME\"; if read x; then echo got; else echo empty; fi"));
    c.environment = {{"VORMELLE_A", "set"}, {"HOME", "/replaced"}};
    QCOMPARE(engine::RunAndWait(c, std::nullopt, options), 0);
    QCOMPARE(output, QByteArray("set|/replaced|empty\n"));
}

void RunnerTest::outputKeepsTheTail() {
    QByteArray output;
    engine::RunOptions options;
    options.output = &output;
    // 2 MiB of noise on standard output, then the message on standard error.
    const Command c = shell(QStringLiteral(
        "head -c 2097152 /dev/zero | tr '\\0' x; echo; echo 'tiff2pdf: the last word' >&2; "
        "exit 2"));
    QCOMPARE(engine::RunAndWait(c, std::nullopt, options), 2);
    QVERIFY(output.size() <= platform::ChildProcess::kOutputTail);
    QVERIFY(output.endsWith("\ntiff2pdf: the last word\n"));
    QVERIFY(output.startsWith("xxxx"));
}

void RunnerTest::eventsRunWhileWaiting() {
    int fired = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
    timer.start(10);
    QCOMPARE(engine::RunAndWait(shell(QStringLiteral("sleep 0.4"))), 0);
    QVERIFY2(fired >= 3, qPrintable(QString::number(fired)));
}

void RunnerTest::creep_data() {
    QTest::addColumn<int>("pass");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<double>("expectedPosition"); // -1: not moved

    const QString t = QStringLiteral("Processing: a.tif");
    QTest::newRow("pass 49: nothing yet") << 49 << t << 33 << 3 << false << QString() << -1.0;
    QTest::newRow("pass 50: counter 0, position 33")
        << 50 << t << 33 << 3 << true << t + ", Please wait.. 0" << 33.0;
    QTest::newRow("pass 51: counter only")
        << 51 << t << 33 << 3 << true << t + ", Please wait.. 1" << -1.0;
    QTest::newRow("pass 200: 36") << 200 << t << 33 << 3 << true << t + ", Please wait.. 150"
                                  << 36.0;
    QTest::newRow("pass 350: 39") << 350 << t << 33 << 3 << true << t + ", Please wait.. 300"
                                  << 39.0;
    QTest::newRow("pass 1550: 63")
        << 1550 << t << 33 << 3 << true << t + ", Please wait.. 1500" << 63.0;
    QTest::newRow("pass 1700: stays at 63")
        << 1700 << t << 33 << 3 << true << t + ", Please wait.. 1650" << 63.0;
    QTest::newRow("20 items never move")
        << 650 << t << 5 << 20 << true << t + ", Please wait.. 600" << 5.0;
    QTest::newRow("empty text") << 200 << QString() << 50 << 2 << true
                                << QStringLiteral("Please wait.. 150") << 55.0;
    QTest::newRow("one item, last row beyond 100")
        << 50 + 150 * 12 << t << 100 << 1 << true << t + ", Please wait.. 1800" << 190.0;
}

void RunnerTest::creep() {
    QFETCH(int, pass);
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(int, count);
    QFETCH(bool, shown);
    QFETCH(QString, expectedText);
    QFETCH(double, expectedPosition);
    const auto creep = engine::creepAt(pass, text, value, count);
    QCOMPARE(creep.has_value(), shown);
    if (!creep)
        return;
    QCOMPARE(creep->text, expectedText);
    QCOMPARE(creep->position.value_or(-1.0), expectedPosition);
}

void RunnerTest::barCreepsAndIsRestored_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("finalText");
    QTest::newRow("with text") << "Processing: a.tif"
                               << "Processing: a.tif";
    QTest::newRow("empty text") << QString() << "Progress Bar";
}

void RunnerTest::barCreepsAndIsRestored() {
    QFETCH(QString, text);
    QFETCH(QString, finalText);
    Shown bar;
    bar.text = text;
    bar.position = 33;
    // Passes of 1 ms: the child's second is hundreds of passes.
    engine::RunOptions options;
    options.passLength = std::chrono::milliseconds(1);
    QStringList seen;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != bar.text)
            seen.append(bar.text);
    });
    sampler.start(5);
    QCOMPARE(engine::RunAndWaitWithProgress(shell(QStringLiteral("sleep 1")), 0, showOn(bar), text,
                                            33, 3, options),
             0);
    const QString waiting = (text.isEmpty() ? QString() : text + QStringLiteral(", ")) +
                            QStringLiteral("Please wait.. ");
    QVERIFY2(std::any_of(seen.cbegin(), seen.cend(),
                         [&](const QString& s) { return s.startsWith(waiting); }),
             qPrintable(seen.join(QLatin1Char('|'))));
    QCOMPARE(bar.text, finalText);
    QVERIFY(bar.position >= 33 && bar.position <= 63);
}

QTEST_MAIN(RunnerTest)
#include "tst_runner.moc"
