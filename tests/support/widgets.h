// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers for tests that look at the window's list or drive a modal dialog.
#include "app/filelistmodel.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace vormelle::test {

inline QStringList rowsOf(const FileListModel& files) {
    return files.files();
}

// Runs `act` on the modal dialog of type Dialog once it is open: a modal loop lets only
// timers in.
template <class Dialog> void whenOpen(const std::function<void(Dialog&)>& act) {
    QTimer::singleShot(10, [act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()))
            act(*dialog);
        else
            whenOpen<Dialog>(act);
    });
}

} // namespace vormelle::test
