// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/errorreport.h"
#include "app/form1.h"
#include "platform/attributes.h"
#include "platform/basicerror.h"
#include "platform/directory.h"
#include "platform/filesystem.h"
#include "platform/savefile.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QRegularExpression>
#include <QTest>

#include <functional>

using namespace vormelle;

// A statement that works on a path. Named, because Qt's debug builds refuse to register a type
// under a name it would spell otherwise.
using PathStatement = std::function<void(const QString&)>;
Q_DECLARE_METATYPE(PathStatement)

namespace {

// The statement's number where the report's second line ends, with or without the support
// sentence after it.
QRegularExpression lineEnd(int line) {
    return QRegularExpression(QStringLiteral("at line %1(\\r\\r|$)").arg(line));
}

} // namespace

class ErrorReportTest final : public QObject {
    Q_OBJECT

private slots:
    void exactText_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");
        const QString start = QStringLiteral(
            "File not found\r\nin Tessary2021/08/31.Form1.PushButton2_Click at line 154");
        QTest::newRow("with a support address")
            << QStringLiteral("help@scans.test")
            << start + QStringLiteral("\r\rPlease email screenshot of this message to "
                                      "help@scans.test");
        // A build without an address asks nobody to mail anything.
        QTest::newRow("without one") << QString() << start;
    }

    void exactText() {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(errorReportText(QStringLiteral("File not found"),
                                 QString::fromLatin1(trace::PushButton2_Click), 154, address),
                 expected);
    }

    void boxLooksLikeAnApplicationError() {
        test::ScriptedDialogs dialogs;
        const ErrorReport report(dialogs, nullptr, QString::fromLatin1(trace::Form_Load));
        report.show(QStringLiteral("Type mismatch"), 138);
        QCOMPARE(dialogs.boxes.size(), 1);
        QCOMPARE(dialogs.boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(dialogs.boxes[0].icon, platform::Icon::Warning);
        QCOMPARE(dialogs.boxes[0].buttons, platform::Buttons::Ok);
        QVERIFY(dialogs.boxes[0].text.startsWith(
            QStringLiteral("Type mismatch\r\nin Tessary2021/08/31.Form1.Form_Load at line 138")));
    }

    // Every failing statement shows its own box, in order, and the handler goes on with the
    // statement after it; a failing condition goes on inside its decision.
    void continuesWithTheNextStatement() {
        test::ScriptedDialogs dialogs;
        const ErrorReport report(dialogs, nullptr, QString::fromLatin1(trace::PushButton2_Click));
        QList<int> ran;
        runNumbered(report, 100, [&](int line) {
            ran.append(line);
            switch (line) {
            case 100:
                throw BasicError(BasicError::FileNotFound);
            case 102: // a condition that fails: go on at 104, inside the decision
                throw BasicError(BasicError::TypeMismatch);
            case 104:
                return 108;
            case 106:
                QTest::qFail("106 lies outside the taken branch", __FILE__, __LINE__);
                return kEndHandler;
            case 108:
                throw std::runtime_error("bad");
            case 110:
                return kEndHandler;
            default:
                return kEndHandler;
            }
        });
        QCOMPARE(ran, (QList<int>{100, 102, 104, 108, 110}));
        QCOMPARE(dialogs.boxes.size(), 3);
        QVERIFY(dialogs.boxes[0].text.startsWith(QStringLiteral("File not found\r\n")));
        QVERIFY(dialogs.boxes[0].text.contains(lineEnd(100)));
        QVERIFY(dialogs.boxes[1].text.startsWith(QStringLiteral("Type mismatch\r\n")));
        QVERIFY(dialogs.boxes[1].text.contains(lineEnd(102)));
        QVERIFY(dialogs.boxes[2].text.contains(lineEnd(108)));
    }

    // A handler of one statement runs it once; its failure is reported in the window's dialogs
    // with the handler's name and the statement's number, and the handler ends there.
    void oneStatementHandler() {
        test::ScriptedDialogs dialogs;
        test::RecordingDesktop desktop;
        Form1 form(dialogs, desktop);
        int runs = 0;
        runStatement(form, trace::PushButton7_Click, 100, [&] { ++runs; });
        QCOMPARE(runs, 1);
        QVERIFY(dialogs.boxes.isEmpty());
        runStatement(form, trace::PushButton6_Click, 100, [&] {
            ++runs;
            throw BasicError(BasicError::FileNotFound);
        });
        QCOMPARE(runs, 2);
        QCOMPARE(dialogs.boxes.size(), 1);
        QCOMPARE(dialogs.boxes[0].title, QStringLiteral("Application Error"));
        QVERIFY2(dialogs.boxes[0].text.startsWith(
                     errorReportText(QStringLiteral("File not found"),
                                     QString::fromLatin1(trace::PushButton6_Click), 100)),
                 qPrintable(dialogs.boxes[0].text));
    }

    void resumeTargetsAreTheHandlers() {
        test::ScriptedDialogs dialogs;
        const ErrorReport report(dialogs, nullptr, QString::fromLatin1(trace::PushButton2_Click));
        QList<int> ran;
        runNumbered(
            report, 180,
            [&](int line) {
                ran.append(line);
                if (line == 180)
                    throw BasicError(BasicError::PermissionDenied);
                return kEndHandler;
            },
            [](int line) { return line == 180 ? 186 : line + 2; });
        QCOMPARE(ran, (QList<int>{180, 186}));
    }

    // A statement that failed on a file or folder: after the report's own text, a line names
    // the path and the system's reason.
    void namesThePathAndTheReason_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("path"); // relative to the test's folder
        QTest::addColumn<PathStatement>("statement");
        using F = PathStatement;
        QTest::newRow("a file written into a missing folder")
            << "Path not found"
            << "gone/a.djvu" << F([](const QString& p) { platform::writeNewFile(p, "x"); });
        QTest::newRow("a missing file removed")
            << "File not found"
            << "a.tif" << F([](const QString& p) { platform::removeFile(p); });
        QTest::newRow("attributes of a missing file")
            << "File not found"
            << "a.tif" << F([](const QString& p) { platform::fileAttributes(p); });
        QTest::newRow("a missing folder scanned")
            << "Path not found"
            << "gone" << F([](const QString& p) { platform::subFolders(p); });
        QTest::newRow("a result placed from a missing file")
            << "No such file or directory"
            << "result.djvu"
            << F([](const QString& p) { platform::replaceFile(p, p + QStringLiteral(".out")); });
    }

    void namesThePathAndTheReason() {
        QFETCH(QString, description);
        QFETCH(QString, path);
        QFETCH(PathStatement, statement);
        test::TestEnv env;
        const QString full = env.path(path);
        test::ScriptedDialogs dialogs;
        const ErrorReport report(dialogs, nullptr, QString::fromLatin1(trace::PushButton2_Click));
        runNumbered(report, 108, [&](int line) {
            if (line == 108)
                statement(full);
            return kEndHandler;
        });
        QCOMPARE(dialogs.boxes.size(), 1);
        const QString text = dialogs.boxes[0].text;
        QVERIFY2(text.startsWith(errorReportText(
                     description, QString::fromLatin1(trace::PushButton2_Click), 108)),
                 qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("\r\n\r\n") + full +
                               QStringLiteral(": No such file or directory")),
                 qPrintable(text));
    }
};

QTEST_MAIN(ErrorReportTest)
#include "tst_errorreport.moc"
