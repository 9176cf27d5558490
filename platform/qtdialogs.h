// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/dialogs.h"

namespace vormelle::platform {

// The real dialogs and desktop openers, over Qt.
class QtDialogs final : public Dialogs {
public:
    Answer messageBox(QWidget* owner, const QString& text, const QString& title, Buttons buttons,
                      Icon icon) override;
    QString openFiles(QWidget* owner, const OpenFilesRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& title,
                            const QString& startFolder) override;
    QString saveFile(QWidget* owner, const QString& title, const QString& startPath,
                     const QString& filter) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
};

class QtDesktop final : public Desktop {
public:
    void openUrl(const QString& url) override;
    void openFolder(const QString& folder) override;
};

} // namespace vormelle::platform
