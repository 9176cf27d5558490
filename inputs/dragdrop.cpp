// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/dragdrop.h"

#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "inputs/addfolder.h"
#include "platform/attributes.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

namespace vormelle::dragdrop {

namespace {

// The rows for every file of the folder tree, folder by folder.
void addFolderTree(Form1& form, const QString& dropped) {
    const QChar sep = paths::separator();
    QStringList folders{dropped + sep};
    addfolder::GetSubDirectories2016(form, folders, true);
    for (const QString& entry : std::as_const(folders)) {
        const QString folder = entry.chopped(1);
        QStringList rows;
        try {
            rows = addfolder::folderRows(
                folder, addfolder::listFilesWithAttributes(folder, QStringLiteral("*.*")));
        } catch (const BasicError&) {
            // A folder that vanished or closed since the walk: nothing from it, on to the next.
        }
        form.files().addRows(rows);
    }
}

// Rows carried inside the list are the list's own business, never a drop.
bool fromList(const Form1& form, const QDropEvent& event) {
    return event.source() &&
           (event.source() == form.ListView1 || event.source() == form.ListView1->viewport());
}

} // namespace

bool hasFileNames(const QMimeData& data) {
    if (!data.hasUrls())
        return false;
    const QList<QUrl> urls = data.urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); });
}

bool isOnThisComputer(const QUrl& url) {
    if (!url.isLocalFile())
        return false;
    const QString host = url.host();
    return host.isEmpty() || host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

QStringList droppedFiles(const QMimeData& data) {
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (!isOnThisComputer(url))
            continue;
        // The path's own bytes: toLocalFile would turn a name that is not UTF-8 into another.
        const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
        files.append(platform::decodePath(QByteArray::fromPercentEncoding(encoded)));
    }
    return files;
}

void ListView1_OLEDragOver(Form1& form, QDragMoveEvent& event) {
    if (!event.mimeData() || !hasFileNames(*event.mimeData()) || fromList(form, event)) {
        event.setDropAction(Qt::IgnoreAction);
        event.ignore();
    }
}

void ListView1_OLEDragDrop(Form1& form, const QMimeData& data) {
    if (!hasFileNames(data))
        return;
    // Files of another computer are passed over without a word: the drop shows no message.
    addDroppedNames(form, droppedFiles(data));
}

void addDroppedNames(Form1& form, const QStringList& files) {
    // Consecutive files go in as one batch; nothing runs between them, so no one can tell.
    QStringList pending;
    for (const QString& name : files) {
        int attributes = 0;
        try {
            attributes = platform::fileAttributes(name);
        } catch (const BasicError&) {
            continue; // gone since it was picked up: nothing to list
        }
        if (!(attributes & platform::Directory)) {
            pending.append(name);
            continue;
        }
        form.files().addRows(pending);
        pending.clear();
        addFolderTree(form, name);
    }
    form.files().addRows(pending);
}

void connect(Form1& form) {
    ListView* list = form.ListView1;
    list->setAcceptDrops(true);
    QObject::connect(list, &ListView::dragMoved, &form,
                     [&form](QDragMoveEvent* event) { ListView1_OLEDragOver(form, *event); });
    QObject::connect(list, &ListView::dropped, &form, [&form](QDropEvent* event) {
        if (event->mimeData() && !fromList(form, *event))
            ListView1_OLEDragDrop(form, *event->mimeData());
    });
}

} // namespace vormelle::dragdrop
