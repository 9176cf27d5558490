// SPDX-License-Identifier: GPL-3.0-or-later
// The real folder picker, driven while it is open: where it opens and what it answers.
#include "platform/qtdialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vormelle;

class FolderPickerTest : public QObject {
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
};

void FolderPickerTest::answers_data() {
    QTest::addColumn<QString>("start");   // relative to the scratch folder, or absolute
    QTest::addColumn<QString>("choose");  // the folder the user ends up in; "" cancels
    QTest::addColumn<QString>("opensAt"); // "" for the dialog's default place
    QTest::addColumn<QString>("answer");
    QTest::newRow("start folder") << "scans/old"
                                  << "scans/old"
                                  << "scans/old"
                                  << "scans/old";
    QTest::newRow("start with slash") << "scans/"
                                      << "scans"
                                      << "scans"
                                      << "scans";
    QTest::newRow("another folder") << "scans"
                                    << "scans/old"
                                    << "scans"
                                    << "scans/old";
    QTest::newRow("root") << "scans"
                          << "/"
                          << "scans"
                          << "/";
    QTest::newRow("missing start") << "gone"
                                   << "scans"
                                   << ""
                                   << "scans";
    QTest::newRow("empty start") << ""
                                 << "scans"
                                 << ""
                                 << "scans";
    QTest::newRow("cancel") << "scans"
                            << ""
                            << "scans"
                            << "";
}

void FolderPickerTest::answers() {
    QFETCH(QString, start);
    QFETCH(QString, choose);
    QFETCH(QString, opensAt);
    QFETCH(QString, answer);
    test::TestEnv env;
    QVERIFY(QDir().mkpath(env.path(QStringLiteral("scans/old"))));
    const auto full = [&env](const QString& p) {
        return p.isEmpty() || p.startsWith(QLatin1Char('/')) ? p : env.path(p);
    };
    QString openedAt;
    QString title;
    bool foldersOnly = false;
    test::whenOpen<QFileDialog>([&](QFileDialog& dialog) {
        openedAt = QDir::cleanPath(dialog.directory().absolutePath());
        title = dialog.windowTitle();
        foldersOnly = dialog.fileMode() == QFileDialog::Directory;
        if (choose.isEmpty()) {
            dialog.reject();
            return;
        }
        dialog.setDirectory(full(choose));
        static_cast<QDialog&>(dialog).accept(); // as the "Choose" button does
    });
    platform::QtDialogs dialogs;
    const QString result =
        dialogs.browseForFolder(nullptr, QStringLiteral("Please select folder:"), full(start));
    QCOMPARE(title, QStringLiteral("Please select folder:"));
    QVERIFY(foldersOnly);
    if (!opensAt.isEmpty())
        QCOMPARE(openedAt, QDir::cleanPath(full(opensAt)));
    QCOMPARE(result, full(answer));
}

QTEST_MAIN(FolderPickerTest)
#include "tst_folderpicker.moc"
