// SPDX-License-Identifier: GPL-3.0-or-later
// The titles the real dialogs carry on a real X display, as the desktop reads them
// (_NET_WM_NAME, through xprop): exactly the program's titles, nothing appended.
#include "platform/apptitle.h"
#include "platform/dialogs.h"
#include "platform/qtdialogs.h"
#include "tests/support/widgets.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTest>

#include <functional>

using namespace vormelle;

namespace {

// The window's _NET_WM_NAME as xprop prints it, between the quotes.
QString shownTitle(WId window) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(10000))
        return QStringLiteral("(xprop did not answer)");
    const QString line = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const qsizetype open = line.indexOf(QLatin1Char('"'));
    return open < 0 ? line : line.mid(open + 1).chopped(1);
}

} // namespace

class WindowTitlesTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X display (the test runs under xvfb-run)");
        // As the program starts.
        QApplication::setApplicationName(QStringLiteral("Vormelle"));
        platform::setApplicationTitle(QStringLiteral("Vormelle"));
    }

    void exactTitles_data() {
        using Show = std::function<void(platform::Dialogs&)>;
        QTest::addColumn<Show>("show");
        QTest::addColumn<QString>("title");
        QTest::newRow("error report") << Show([](platform::Dialogs& d) {
            d.messageBox(nullptr, QStringLiteral("x"), QStringLiteral("Application Error"),
                         platform::Buttons::Ok, platform::Icon::Warning);
        }) << "Application Error";
        QTest::newRow("box with the application title") << Show([](platform::Dialogs& d) {
            d.messageBox(nullptr, QStringLiteral("Done."), QString(), platform::Buttons::Ok,
                         platform::Icon::None);
        }) << "Vormelle";
        QTest::newRow("add files") << Show([](platform::Dialogs& d) {
            platform::OpenFilesRequest request;
            request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
            request.filter = QStringLiteral("TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|");
            d.openFiles(nullptr, request);
        }) << "Add File(s) - Hold Ctrl to select multiple files";
        QTest::newRow("folder picker") << Show([](platform::Dialogs& d) {
            d.browseForFolder(nullptr, QStringLiteral("Please select folder:"), QString());
        }) << "Please select folder:";
        QTest::newRow("input box") << Show([](platform::Dialogs& d) {
            d.inputBox(nullptr, QStringLiteral("Enter file extension to load:"), QString(),
                       QStringLiteral("tif*"));
        }) << "Vormelle";
    }

    void exactTitles() {
        using Show = std::function<void(platform::Dialogs&)>;
        QFETCH(Show, show);
        QFETCH(QString, title);
        QString shown;
        test::whenOpen<QDialog>([&](QDialog& dialog) {
            if (QTest::qWaitForWindowExposed(&dialog))
                QTest::qWait(50); // the title property follows the mapping
            shown = shownTitle(dialog.window()->winId());
            dialog.reject();
        });
        platform::QtDialogs dialogs;
        show(dialogs);
        QCOMPARE(shown, title);
    }
};

QTEST_MAIN(WindowTitlesTest)
#include "tst_windowtitles.moc"
