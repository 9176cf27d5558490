// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/program/handlers.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"
#include "tests/inputs/foldertree.h"

#include <QPushButton>
#include <QTest>

using namespace vormelle;

class AddFilesTest final : public QObject {
    Q_OBJECT

private slots:
    void answers_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("rows");
        const QChar nul(0);
        QTest::newRow("cancel") << QString() << QStringList{};
        QTest::newRow("one path, unchanged") << "/scans//one.tif" << QStringList{"/scans//one.tif"};
        QTest::newRow("several in a folder")
            << QStringLiteral("/scans") + nul + "p1.tif" + nul + "p3.tif" + nul + "p2.TIF"
            << QStringList{"/scans/p1.tif", "/scans/p3.tif", "/scans/p2.TIF"};
        QTest::newRow("several in the root") << QStringLiteral("/") + nul + "a.tif" + nul + "b.tif"
                                             << QStringList{"/a.tif", "/b.tif"};
        QTest::newRow("several folders from the root")
            << QStringLiteral("/") + nul + "x/a.tif" + nul + "y/b.tif"
            << QStringList{"/x/a.tif", "/y/b.tif"};
    }
    void answers() {
        QFETCH(QString, answer);
        test::Window w;
        test::ScriptedDialogs& dialogs = w.dialogs;
        Form1& form = w.form;
        connectHandlers(form);
        form.files().add(QStringLiteral("/scans/p1.tif")); // a file already listed is added again
        dialogs.openFilesAnswers.push_back([answer] { return answer; });
        form.PushButton1->click();

        QStringList added;
        for (int i = 1; i < form.files().count(); ++i)
            added.append(form.files().text(i));
        QFETCH(QStringList, rows);
        QCOMPARE(added, rows);
        QCOMPARE(dialogs.boxes.size(), 0);
        QCOMPARE(dialogs.openFilesRequests.size(), 1);
        const platform::OpenFilesRequest& request = dialogs.openFilesRequests.front();
        QCOMPARE(request.title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
        QCOMPARE(request.filter, QStringLiteral("TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|"));
        QCOMPARE(request.maxFileSize, 30000);
    }

    void tooManyFiles() {
        test::Window w;
        test::ScriptedDialogs& dialogs = w.dialogs;
        Form1& form = w.form;
        connectHandlers(form);
        dialogs.openFilesAnswers.push_back(
            []() -> QString { throw BasicError(BasicError::BufferTooSmall); });
        form.PushButton1->click();
        QCOMPARE(form.files().count(), 0);
        QCOMPARE(dialogs.boxes.size(), 1);
        QCOMPARE(dialogs.boxes[0].text,
                 QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                                "the \"Add All\" button."));
        QCOMPARE(dialogs.boxes[0].title, QString()); // the application title
        QCOMPARE(dialogs.boxes[0].icon, platform::Icon::None);
    }

    void otherErrorsAreReported() {
        test::Window w;
        test::ScriptedDialogs& dialogs = w.dialogs;
        Form1& form = w.form;
        connectHandlers(form);
        dialogs.openFilesAnswers.push_back(
            []() -> QString { throw BasicError(BasicError::PermissionDenied); });
        form.PushButton1->click();
        QCOMPARE(dialogs.boxes.size(), 1);
        QCOMPARE(dialogs.boxes[0].title, QStringLiteral("Application Error"));
        QVERIFY(dialogs.boxes[0].text.contains(
            QStringLiteral("in Tessary2021/08/31.Form1.PushButton1_Click at line 100")));
        QCOMPARE(form.files().count(), 0);
    }
};

QTEST_MAIN(AddFilesTest)
#include "tst_addfiles.moc"
