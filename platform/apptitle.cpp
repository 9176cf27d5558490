// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/apptitle.h"

#include <QCoreApplication>

namespace vormelle::platform {

namespace {

// Kept here rather than as Qt's application display name: Qt appends that name to every window
// title (" — Vormelle"), so no dialog would show its own title exactly.
QString& storedTitle() {
    static QString title;
    return title;
}

} // namespace

void setApplicationTitle(const QString& title) {
    storedTitle() = title;
}

QString applicationTitle() {
    return storedTitle().isEmpty() ? QCoreApplication::applicationName() : storedTitle();
}

} // namespace vormelle::platform
