#include "inputs/addall.h"

#include "app/errorreport.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "inputs/addfolder.h"
#include "platform/attributes.h"
#include "platform/dialogs.h"
#include "platform/events.h"

#include <QPushButton>

namespace vormelle::addall {

namespace {

// Hidden + archive and nothing else: the desktop's own bookkeeping files, which are skipped.
constexpr int kPlainHidden = platform::Hidden | platform::Archive;

QString& lastFolder() {
    static QString folder;
    return folder;
}

} // namespace

void PushButton4_Click(Form1& form) {
    const ErrorReport report(form.dialogs(), &form, QString::fromLatin1(trace::PushButton4_Click));
    const QChar sep = paths::separator();
    QString extension;
    QString answer;
    QString chosen;
    QStringList folders;
    qsizetype folderIndex = 0;
    QString folder;
    QStringList names;
    qsizetype nameIndex = 0;
    QString path;
    runNumbered(report, 100, [&](int line) {
        switch (line) {
        case 100:
            extension = settings::GetSetting(QStringLiteral("Extension"), QStringLiteral("tif*"));
            return 102;
        case 102:
            answer = form.dialogs().inputBox(
                &form,
                QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
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
            lastFolder() = settings::GetSetting(QStringLiteral("LastFolder"), QString());
            chosen = addfolder::BrowseForFolder(form, QStringLiteral("Please select folder:"),
                                                lastFolder());
            return 108;
        case 108:
            return chosen.isEmpty() ? kEndHandler : 110;
        case 110:
            lastFolder() = chosen;
            settings::SaveSetting(QStringLiteral("LastFolder"), chosen);
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
            return 118;
        case 118: // the next folder
            if (folderIndex >= folders.size())
                return 130;
            // Between two folders' listings, so a large tree keeps the window alive.
            platform::doEvents();
            folder = folders.at(folderIndex++);
            folder.chop(1);
            names.clear();
            return 120;
        case 120:
            names = addfolder::ListFilesInFolder(folder, QStringLiteral("*.") + extension);
            return 122;
        case 122:
            nameIndex = 0;
            return 124;
        case 124: // the next name
            if (nameIndex >= names.size())
                return 118;
            path = names.at(nameIndex++);
            if (path.startsWith(QLatin1Char('~')))
                return 124;
            path = folder + sep + path;
            return 126;
        case 126:
            return addfolder::FileExistsStrict(path) &&
                           platform::fileAttributes(path) != kPlainHidden
                       ? 128
                       : 124;
        case 128:
            form.ListView1->add(paths::CleanPath(path));
            return 124;
        case 130:
            form.setMousePointer(Form1::Default);
            return kEndHandler;
        default:
            return kEndHandler;
        }
    });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton4, &QPushButton::clicked, &form,
                     [&form] { PushButton4_Click(form); });
}

} // namespace vormelle::addall
