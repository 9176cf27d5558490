// The real "open files" dialog, driven while it is open: what it shows and what it answers.
#include "platform/basicerror.h"
#include "platform/qtdialogs.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vormelle;

namespace {

void whenOpen(const std::function<void(QFileDialog&)>& act) {
    QTimer::singleShot(10, [act] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            act(*dialog);
        else
            whenOpen(act);
    });
}

platform::OpenFilesRequest tiffRequest(int maxFileSize = 30000) {
    platform::OpenFilesRequest request;
    request.title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
    request.filter = QStringLiteral("TIFF Files (*.tif;*.tiff)|*.tif;*.tiff|");
    request.maxFileSize = maxFileSize;
    return request;
}

} // namespace

class TestOpenFilesDialog final : public QObject {
    Q_OBJECT

private slots:
    void showsTiffFilesInAnyLetterCase() {
        test::TestEnv env;
        for (const char* name : {"a.tif", "SCAN0001.TIF", "b.tiff", "c.jpg", "notes.txt"})
            env.writeFile(QString::fromLatin1(name));
        QStringList shown;
        QStringList filters;
        QString title;
        whenOpen([&](QFileDialog& dialog) {
            title = dialog.windowTitle();
            filters = dialog.nameFilters();
            dialog.setDirectory(env.dir());
            auto* model = dialog.findChild<QFileSystemModel*>();
            const QModelIndex folder = model->index(env.dir());
            if (!QTest::qWaitFor([&] { return model->rowCount(folder) >= 3; }, 5000))
                qWarning("the folder's files did not show");
            QTest::qWait(100); // let a late name arrive, if one would
            for (int i = 0; i < model->rowCount(folder); ++i)
                shown.append(model->index(i, 0, folder).data().toString());
            dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"a.tif\" \"SCAN0001.TIF\""));
            QMetaObject::invokeMethod(&dialog, "accept"); // as the Open button does
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
        whenOpen([](QFileDialog& dialog) { dialog.reject(); });
        platform::QtDialogs dialogs;
        QCOMPARE(dialogs.openFiles(nullptr, tiffRequest()), QString());
    }

    void tooLongAnAnswerIsBufferTooSmall() {
        test::TestEnv env;
        const QString file = env.writeFile(QStringLiteral("a-rather-long-name.tif"));
        whenOpen([&](QFileDialog& dialog) {
            dialog.selectFile(file);
            QMetaObject::invokeMethod(&dialog, "accept"); // as the Open button does
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

QTEST_MAIN(TestOpenFilesDialog)
#include "tst_openfilesdialog.moc"
