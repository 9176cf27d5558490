// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtdialogs.h"

#include "platform/apptitle.h"
#include "platform/basicerror.h"
#include "platform/texts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace vormelle::platform {

QString openFilesAnswer(const QStringList& paths) {
    if (paths.isEmpty())
        return {};
    if (paths.size() == 1)
        return paths.front();
    QString folder = QFileInfo(paths.front()).absolutePath();
    for (const QString& p : paths) {
        if (QFileInfo(p).absolutePath() != folder) {
            // Picked from several folders: name every file from the root so the join keeps it.
            folder = QStringLiteral("/");
            break;
        }
    }
    const bool fromRoot = folder == QStringLiteral("/");
    QString answer = folder;
    for (const QString& p : paths) {
        answer += QChar(0);
        answer += fromRoot ? QDir::cleanPath(p).mid(1) : QFileInfo(p).fileName();
    }
    return answer;
}

Answer QtDialogs::messageBox(QWidget* owner, const QString& text, const QString& title,
                             Buttons buttons, Icon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    QPushButton* openFolder = nullptr;
    if (buttons == Buttons::OkOpenFolder)
        openFolder = box.addButton(platform::Texts::tr("Open Folder"), QMessageBox::ActionRole);
    box.exec();
    return openFolder && box.clickedButton() == openFolder ? Answer::OpenFolder : Answer::Ok;
}

QString QtDialogs::openFiles(QWidget* owner, const OpenFilesRequest& request) {
    // The filter text is "Shown name|patterns|"; Qt wants "Shown name" with its patterns in
    // brackets, and separates patterns by blanks, not by ";".
    const QStringList parts = request.filter.split(QLatin1Char('|'));
    const QString shown = parts.value(0);
    const QStringList patterns = parts.value(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);

    QFileDialog dialog(owner, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(shown);
    // Qt reads the shown text as one pattern ("*.tif;*.tiff") whenever the entry is chosen, so
    // the patterns are put back after it each time. Matching is case-insensitive in Qt's own
    // dialog model, so SCAN0001.TIF shows too.
    auto* model = dialog.findChild<QFileSystemModel*>();
    const auto applyPatterns = [model, patterns] {
        if (model) {
            model->setNameFilters(patterns);
            model->setNameFilterDisables(false);
        }
    };
    applyPatterns();
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, applyPatterns);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString answer = openFilesAnswer(dialog.selectedFiles());
    if (answer.size() > request.maxFileSize)
        throw BasicError(BasicError::BufferTooSmall);
    return answer;
}

QString QtDialogs::browseForFolder(QWidget* owner, const QString& title,
                                   const QString& startFolder) {
    const QString start = QFileInfo(startFolder).isDir() ? startFolder : QString();
    QString chosen = QFileDialog::getExistingDirectory(
        owner, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty())
        return {};
    chosen = QDir::cleanPath(chosen);
    return chosen;
}

QString QtDialogs::saveFile(QWidget* owner, const QString& title, const QString& startPath,
                            const QString& filter) {
    // The dialog itself asks before an existing file is replaced.
    return QFileDialog::getSaveFileName(owner, title.isEmpty() ? applicationTitle() : title,
                                        startPath, filter);
}

QString QtDialogs::inputBox(QWidget* owner, const QString& prompt, const QString& title,
                            const QString& defaultAnswer) {
    QString shownPrompt = prompt;
    shownPrompt.replace(QStringLiteral("\r\r"), QStringLiteral("\n\n"));
    bool ok = false;
    const QString answer =
        QInputDialog::getText(owner, title.isEmpty() ? applicationTitle() : title, shownPrompt,
                              QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

void QtDesktop::openUrl(const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

void QtDesktop::openFolder(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace vormelle::platform
