// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <variant>

namespace vormelle::test {

// A message box the program showed.
struct ShownBox {
    QString text;
    QString title;
    platform::Buttons buttons;
    platform::Icon icon;
};

// Dialogs whose answers a test queues in advance; every box shown is recorded. An answer may be
// a function, run while the "dialog" is open (to act as if the user did something meanwhile).
class ScriptedDialogs final : public platform::Dialogs {
public:
    // Queued answers, taken in order; an empty queue answers Ok / No, "" (cancel).
    std::deque<platform::Answer> boxAnswers;
    std::deque<std::function<QString()>> openFilesAnswers;
    std::deque<QString> folderAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QString> saveAnswers;
    // Called whenever a message box is shown (after it is recorded).
    std::function<void(const ShownBox&)> onBox;

    QList<ShownBox> boxes;
    QList<platform::OpenFilesRequest> openFilesRequests;
    QStringList folderStarts;
    QStringList folderTitles;
    QStringList inputPrompts;
    QStringList inputDefaults;
    QStringList inputTitles;
    QStringList saveStarts;

    platform::Answer messageBox(QWidget* owner, const QString& text, const QString& title,
                                platform::Buttons buttons, platform::Icon icon) override;
    QString openFiles(QWidget* owner, const platform::OpenFilesRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& title,
                            const QString& startFolder) override;
    QString saveFile(QWidget* owner, const QString& title, const QString& startPath,
                     const QString& filter) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
};

class RecordingDesktop final : public platform::Desktop {
public:
    QStringList urls;
    QStringList folders;
    void openUrl(const QString& url) override { urls.append(url); }
    void openFolder(const QString& folder) override { folders.append(folder); }
};

} // namespace vormelle::test
