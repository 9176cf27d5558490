// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/samples.h"

#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "inputs/addfolder.h"
#include "inputs/texts.h"
#include "platform/dialogs.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QStringList>

namespace vormelle::samples {

namespace {

QString samplesFolder() {
    return paths::programFolder() + QStringLiteral("/Samples");
}

} // namespace

void SnapshotSampleFiles() {
    QStringList list;
    // A missing folder simply has no samples.
    if (paths::IsFolder(samplesFolder())) {
        for (const QString& name :
             addfolder::ListFilesInFolder(samplesFolder(), QStringLiteral("*.*")))
            list.append(samplesFolder() + QLatin1Char('/') + name);
    }
    settings::SaveSetting(QStringLiteral("Snapshot"), list.join(QLatin1Char('|')));
}

bool IsInFileList(const FileListModel& files, const QString& path) {
    bool found = false;
    for (int i = 0; i < files.count(); ++i) {
        if (files.text(i) == path)
            found = true;
    }
    return found;
}

void LoadSampleFiles(Form1& form) {
    // No capture at all reads as no samples. (A relative word as default could name a file in
    // whatever folder the program was started from.)
    const QString snapshot = settings::GetSetting(QStringLiteral("Snapshot"), QString());
    const QStringList parts = snapshot.isEmpty() ? QStringList() : snapshot.split(QLatin1Char('|'));
    for (const QString& part : parts) {
        if (paths::FileExists(part) && !IsInFileList(form.files(), part))
            form.files().add(part);
    }
    if (form.dialogs().yesNo(
            &form, inputs::Texts::tr(
                       "Would you like this software to open the folder where these sample files "
                       "are stored (so that you can view them before working with them)?")))
        form.desktop().openFolder(samplesFolder() + QLatin1Char('/'));
}

void PushButton7_Click(Form1& form) {
    runStatement(form, trace::PushButton7_Click, 100, [&form] { LoadSampleFiles(form); });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton7, &QPushButton::clicked, &form,
                     [&form] { PushButton7_Click(form); });
}

} // namespace vormelle::samples
