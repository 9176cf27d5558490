// SPDX-License-Identifier: GPL-3.0-or-later
// The real "open files" dialog, driven while it is open: what it shows and what it answers.
#include "platform/basicerror.h"
#include "platform/qtdialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vormelle;

namespace {

// Opens `folder` in the dialog, waits until its files show, and confirms the names as if typed.
// Returns the names the dialog showed.
QStringList choose(QFileDialog& dialog, const QString& folder, const QString& typed) {
    dialog.setDirectory(folder);
    auto* model = dialog.findChild<QFileSystemModel*>();
    const QModelIndex index = model->index(folder);
    if (!QTest::qWaitFor([&] { return model->rowCount(index) > 0; }, 5000))
        qWarning("the folder's files did not show");
    QTest::qWait(100); // let a late name arrive, if one would
    QStringList shown;
    for (int i = 0; i < model->rowCount(index); ++i)
        shown.append(model->index(i, 0, index).data().toString());
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(typed);
    QMetaObject::invokeMethod(&dialog, "accept"); // as the Open button does
    return shown;
}

// Opens the "Files of type" list and picks entry `row` with the keyboard, as a user would.
void chooseFileType(QFileDialog& dialog, int row) {
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (!combo) {
        qWarning("the dialog has no file type list");
        return;
    }
    combo->showPopup();
    QAbstractItemView* popup = combo->view();
    if (!QTest::qWaitFor([&] { return popup->isVisible(); }, 2000))
        qWarning("the file type list did not open");
    popup->setCurrentIndex(popup->model()->index(row, 0));
    QTest::keyClick(popup, Qt::Key_Return);
}

platform::OpenFilesRequest tiffRequest(int maxFileSize = 30000) {
    platform::OpenFilesRequest request;
    request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
    request.filter = QStringLiteral("TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|");
    request.maxFileSize = maxFileSize;
    return request;
}

} // namespace

class OpenFilesDialogTest final : public QObject {
    Q_OBJECT

private slots:
    void showsTiffFilesInAnyLetterCase_data() {
        QTest::addColumn<bool>("chooseEntry");
        QTest::newRow("as opened") << false;
        // Choosing the one "Files of type" entry, as a user does, must not hide the files.
        QTest::newRow("after choosing the file type entry") << true;
    }

    void showsTiffFilesInAnyLetterCase() {
        QFETCH(bool, chooseEntry);
        test::TestEnv env;
        for (const char* name : {"a.tif", "SCAN0001.TIF", "b.tiff", "c.jpg", "notes.txt"})
            env.writeFile(QString::fromLatin1(name));
        QStringList shown;
        QStringList filters;
        QString title;
        test::whenOpen<QFileDialog>([&](QFileDialog& dialog) {
            title = dialog.windowTitle();
            filters = dialog.nameFilters();
            if (chooseEntry)
                chooseFileType(dialog, 0);
            shown = choose(dialog, env.dir(), QStringLiteral("\"a.tif\" \"SCAN0001.TIF\""));
        });
        platform::QtDialogs dialogs;
        const QString answer = dialogs.openFiles(nullptr, tiffRequest());
        shown.sort();
        QCOMPARE(shown, (QStringList{"SCAN0001.TIF", "a.tif", "b.tiff"}));
        QCOMPARE(filters, QStringList{"TIFF Files (*.tif;*.tiff)"});
        QCOMPARE(title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
        QCOMPARE(answer, env.dir() + QChar(0) + QStringLiteral("a.tif") + QChar(0) +
                             QStringLiteral("SCAN0001.TIF"));
    }

    void cancelAnswersNothing() {
        test::whenOpen<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
        platform::QtDialogs dialogs;
        QCOMPARE(dialogs.openFiles(nullptr, tiffRequest()), QString());
    }

    void tooLongAnAnswerIsBufferTooSmall() {
        test::TestEnv env;
        env.writeFile(QStringLiteral("a-rather-long-name.tif"));
        test::whenOpen<QFileDialog>([&](QFileDialog& dialog) {
            choose(dialog, env.dir(), QStringLiteral("a-rather-long-name.tif"));
        });
        platform::QtDialogs dialogs;
        try {
            dialogs.openFiles(nullptr, tiffRequest(10));
            QFAIL("no error");
        } catch (const BasicError& e) {
            QCOMPARE(e.number(), 20476);
        }
    }
};

QTEST_MAIN(OpenFilesDialogTest)
#include "tst_openfilesdialog.moc"
