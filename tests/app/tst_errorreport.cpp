#include "app/errorreport.h"
#include "platform/basicerror.h"
#include "tests/support/scripteddialogs.h"

#include <QRegularExpression>
#include <QTest>

using namespace vormelle;

namespace {

// The statement's number where the report's second line ends, with or without the support
// sentence after it.
QRegularExpression lineEnd(int line) {
    return QRegularExpression(QStringLiteral("at line %1(\\r\\r|$)").arg(line));
}

} // namespace

class TestErrorReport final : public QObject {
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
};

QTEST_GUILESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
