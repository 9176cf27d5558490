// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/rememberedfolder.h"

#include "app/form1.h"
#include "app/settingsstore.h"
#include "app/texts.h"
#include "platform/dialogs.h"

#include <QCoreApplication>
#include <QHash>

namespace vormelle::rememberedfolder {

namespace {

QHash<QString, QString>& mirror() {
    static QHash<QString, QString> folders;
    return folders;
}

} // namespace

QString pick(Form1& form, const QString& key) {
    QString& last = mirror()[key];
    last = settings::GetSetting(key, QString());
    return form.dialogs().browseForFolder(&form, shell::Texts::tr("Please select folder:"), last);
}

void remember(const QString& key, const QString& folder) {
    mirror()[key] = folder;
    settings::SaveSetting(key, folder);
}

QString lastPicked(const QString& key) {
    return mirror().value(key);
}

} // namespace vormelle::rememberedfolder
