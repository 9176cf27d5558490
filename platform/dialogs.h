// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;

namespace vormelle::platform {

// OkOpenFolder: "OK" and "Open Folder".
enum class Buttons { Ok, YesNo, OkOpenFolder };
enum class Icon { None, Warning, Question, Information };
enum class Answer { Ok, Yes, No, OpenFolder };

// What the "open files" dialog is asked for.
struct OpenFilesRequest {
    QString title;
    QString filter; // "Name (*.a;*.b)|*.a;*.b|"
    int maxFileSize = 30000;
};

// Every modal dialog the program shows. Tests script this interface, so no test ever enters a
// modal loop; the Qt implementation is the only code that opens real dialogs.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // An empty title means the application title.
    virtual Answer messageBox(QWidget* owner, const QString& text, const QString& title,
                              Buttons buttons, Icon icon) = 0;

    // The boxes by what they ask, under the application title; each is one messageBox call.
    // A note to acknowledge with "OK".
    void ok(QWidget* owner, const QString& text, Icon icon = Icon::None) {
        messageBox(owner, text, QString(), Buttons::Ok, icon);
    }
    // A question; true when the answer is "Yes".
    bool yesNo(QWidget* owner, const QString& text, Icon icon = Icon::None) {
        return messageBox(owner, text, QString(), Buttons::YesNo, icon) == Answer::Yes;
    }
    // A result beside its folder; true when the user asks to open the folder.
    bool okOpenFolder(QWidget* owner, const QString& text, Icon icon = Icon::None) {
        return messageBox(owner, text, QString(), Buttons::OkOpenFolder, icon) ==
               Answer::OpenFolder;
    }

    // The answer in the common dialog's three forms: "" (cancelled), one full path, or a folder,
    // a NUL and the names separated by NULs. Throws BasicError 20476 when the answer would not
    // fit into request.maxFileSize characters.
    virtual QString openFiles(QWidget* owner, const OpenFilesRequest& request) = 0;

    // The chosen folder without a trailing "/" (except the root "/"), or "" on cancel.
    virtual QString browseForFolder(QWidget* owner, const QString& title,
                                    const QString& startFolder) = 0;

    // The file to write, chosen in a save dialog that opens at `startPath` (a folder, or a
    // folder and a suggested name); "" on cancel. `filter` is as Qt's: "DjVu (*.djvu)".
    virtual QString saveFile(QWidget* owner, const QString& title, const QString& startPath,
                             const QString& filter) = 0;

    // The typed answer, or "" on cancel.
    virtual QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                             const QString& defaultAnswer) = 0;
};

// The desktop's own openers. Neither is waited for.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void openUrl(const QString& url) = 0;
    virtual void openFolder(const QString& folder) = 0;
};

// Shapes the three-form answer of the open-files dialog from the chosen paths.
QString openFilesAnswer(const QStringList& paths);

} // namespace vormelle::platform
