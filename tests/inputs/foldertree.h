// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Folder trees for the scan tests: real folders, files, links and FIFOs in a scratch folder.
#include "app/form1.h"
#include "app/listview.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"
#include "tests/support/widgets.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>

#include <sys/stat.h>

namespace vormelle::test {

// A window with scripted dialogs over a private settings folder and a scratch folder.
struct Window {
    TestEnv env;
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    Form1 form{dialogs, desktop};

    // Folders (ending in "/") and files, relative to the scratch folder.
    void make(const QStringList& entries) const {
        for (const QString& e : entries) {
            if (e.endsWith(QLatin1Char('/')))
                QDir().mkpath(env.path(e));
            else
                env.writeFile(e);
        }
    }
    QString path(const QString& relative) const { return env.path(relative); }

    QStringList rows() const { return rowsOf(form.files()); }
    // The scratch folder's paths for the relative names.
    QStringList paths(const QStringList& relative) const {
        QStringList result;
        for (const QString& r : relative)
            result.append(env.path(r));
        return result;
    }
};

inline bool setMode(const QString& path, mode_t mode) {
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

inline bool makeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
}

} // namespace vormelle::test
