// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/addall.h"

#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "app/rememberedfolder.h"
#include "app/settingsstore.h"
#include "inputs/addfolder.h"
#include "inputs/texts.h"
#include "platform/attributes.h"
#include "platform/dialogs.h"
#include "platform/events.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>

namespace vormelle::addall {

namespace {

// Between two folders' listings the window looks at its events, but only when a while has
// passed since the last look: each look after new rows lays the whole list out again, which
// per folder would cost more than the scan itself in a large tree.
constexpr qint64 kEventLookMs = 50;

} // namespace

void PushButton4_Click(Form1& form) {
    const QChar sep = paths::separator();
    QString extension;
    QString answer;
    QString chosen;
    QStringList folders;
    qsizetype folderIndex = 0;
    QString folder;
    QList<platform::FileEntry> files;
    QStringList rows; // one folder's rows, appended together
    QElapsedTimer sinceEvents;
    runNumbered(
        form, trace::PushButton4_Click, 100,
        [&](int line) {
            switch (line) {
            case 100:
                extension =
                    settings::GetSetting(QStringLiteral("Extension"), QStringLiteral("tif*"));
                return 102;
            case 102:
                answer = form.dialogs().inputBox(
                    &form,
                    inputs::Texts::tr(
                        "Enter file extension to load:\r\r(* for all files, txt for all txt "
                        "files, doc for all doc files, etc.)"),
                    QString(), extension);
                return 104;
            case 104:
                if (answer.isEmpty())
                    return kEndHandler;
                extension = answer;
                settings::SaveSetting(QStringLiteral("Extension"), answer);
                return 106;
            case 106:
                chosen = rememberedfolder::pick(form, QStringLiteral("LastFolder"));
                return 108;
            case 108:
                return chosen.isEmpty() ? kEndHandler : 110;
            case 110:
                rememberedfolder::remember(QStringLiteral("LastFolder"), chosen);
                return 112;
            case 112:
                form.setMousePointer(Form1::Hourglass);
                return 114;
            case 114:
                folders = QStringList{chosen + sep};
                addfolder::GetSubDirectories2016(form, folders, true);
                return 116;
            case 116:
                folderIndex = 0;
                sinceEvents.start();
                return 118;
            case 118: // the next folder
                form.files().addRows(rows);
                rows.clear();
                if (folderIndex >= folders.size())
                    return 130;
                if (sinceEvents.elapsed() >= kEventLookMs) {
                    platform::doEvents();
                    sinceEvents.start();
                }
                folder = folders.at(folderIndex++);
                folder.chop(1);
                files.clear();
                return 120;
            case 120:
                files =
                    addfolder::listFilesWithAttributes(folder, QStringLiteral("*.") + extension);
                return 122;
            case 122: // the folder's files; the numbers up to 128 walked them one by one
                rows.append(addfolder::folderRows(folder, files));
                return 118;
            case 130:
                form.setMousePointer(Form1::Default);
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [](int line) {
            // After the folder's files comes the next folder: 124 to 128 are no statements now.
            return line == 122 ? 118 : line + 2;
        });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton4, &QPushButton::clicked, &form,
                     [&form] { PushButton4_Click(form); });
}

} // namespace vormelle::addall
