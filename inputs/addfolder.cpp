// SPDX-License-Identifier: GPL-3.0-or-later
#include "inputs/addfolder.h"

#include "app/errorreport.h"
#include "app/form1.h"
#include "app/paths/paths.h"
#include "platform/attributes.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"
#include "platform/directory.h"
#include "platform/events.h"

#include <QStringDecoder>

namespace vormelle::addfolder {

namespace {

// Hidden + system + directory (a volume-information or recycle folder), and the same with
// the reparse point: folders the scan does not descend into.
constexpr int kSystemFolder = platform::Hidden | platform::System | platform::Directory;
constexpr int kSystemJunction = kSystemFolder | platform::ReparsePoint;

// IsFolder and the attribute value from one status read: lstat and stat agree but for a link,
// and a link's attributes describe what it points to anyway. -1 when IsFolder would be false.
int folderAttributes(const QString& path) {
    try {
        const int attributes = platform::fileAttributes(path);
        return attributes & platform::Directory ? attributes : -1;
    } catch (const BasicError&) {
        return -1;
    }
}

bool descends(const QString& folder, int attributes) {
    return platform::isRootFolder(folder) ||
           (attributes != kSystemFolder && attributes != kSystemJunction);
}

bool acceptableName(const platform::DirectoryEntry& entry) {
    const QString& n = entry.name;
    return n.size() < kMaxPath && !HasUnsafeCharacters(entry.bytes) &&
           !n.contains(QLatin1Char('?')) && n != QLatin1String(".") && n != QLatin1String("..");
}

} // namespace

void GetSubDirectories2016(Form1& form, QStringList& folderList, bool recursive) {
    QStringList newList;
    qsizetype i = 0;
    qsizetype j = 0;
    QString folder;
    int attributes = -1;
    bool dropped = false;
    // Each statement's failure goes on with the statement below it, which for a failed test is
    // the first one inside its decision, as the trap always did.
    runNumbered(form, trace::GetSubDirectories2016, 100, [&](int line) {
        switch (line) {
        case 100:
            i = 0;
            return 102;
        case 102: // the next given folder
            if (i >= folderList.size())
                return 112;
            folder = folderList.at(i);
            dropped = false;
            attributes = folderAttributes(folder);
            return attributes >= 0 && folder.size() < kMaxPath ? 104 : 110;
        case 104:
            platform::doEvents();
            return 106;
        case 106:
            return descends(folder, attributes) ? 108 : 110;
        case 108: // its sub-folders
            try {
                const QList<platform::DirectoryEntry> subs = platform::subFolders(folder);
                for (const platform::DirectoryEntry& sub : subs) {
                    platform::doEvents();
                    if (acceptableName(sub))
                        newList.append(folder + sub.name + QLatin1Char('/'));
                }
            } catch (const BasicError& e) {
                if (e.number() == BasicError::PermissionDenied ||
                    e.number() == BasicError::PathNotFound) {
                    const qsizetype at = folderList.indexOf(folder);
                    if (at >= 0) {
                        folderList.removeAt(at);
                        dropped = at <= i;
                    }
                }
            }
            return 110;
        case 110:
            if (!dropped)
                ++i;
            return 102;
        case 112: // the deeper levels
            if (recursive && !newList.isEmpty())
                GetSubDirectories2016(form, newList, true);
            return 114;
        case 114:
            j = 0;
            return 116;
        case 116: // the next folder found
            if (j >= newList.size())
                return kEndHandler;
            folder = newList.at(j++);
            attributes = folderAttributes(folder);
            if (attributes < 0)
                return 116;
            platform::doEvents();
            return 118;
        case 118:
            return descends(folder, attributes) ? 120 : 122;
        case 120:
            folderList.append(folder);
            return 122;
        case 122:
            return 116;
        default:
            return kEndHandler;
        }
    });
}

QStringList folderTree(const QString& top, QStringList* unreadable) {
    QStringList folders{top.endsWith(QLatin1Char('/')) ? top : top + QLatin1Char('/')};
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString folder = folders.at(i);
        const int attributes = folderAttributes(folder);
        if (attributes < 0 || folder.size() >= kMaxPath || !descends(folder, attributes))
            continue;
        try {
            for (const platform::DirectoryEntry& sub : platform::subFolders(folder)) {
                if (!acceptableName(sub))
                    continue;
                const QString path = folder + sub.name + QLatin1Char('/');
                const int subAttributes = folderAttributes(path);
                if (subAttributes >= 0 && descends(path, subAttributes))
                    folders.append(path);
            }
        } catch (const BasicError&) {
            if (unreadable)
                unreadable->append(folder);
        }
    }
    return folders;
}

QList<platform::FileEntry> listFilesWithAttributes(const QString& folder, const QString& pattern) {
    const QString dir = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    // The listing applies FileExistsStrict's test to each name itself, relative to the folder.
    return platform::files(dir, pattern);
}

QStringList ListFilesInFolder(const QString& folder, const QString& pattern) {
    QStringList names;
    for (platform::FileEntry& file : listFilesWithAttributes(folder, pattern))
        names.append(std::move(file.name));
    return names;
}

QStringList folderRows(const QString& folder, const QList<platform::FileEntry>& files) {
    const QChar sep = paths::separator();
    QStringList rows;
    for (const platform::FileEntry& file : files) {
        if (!file.name.startsWith(QLatin1Char('~')) && file.attributes != kPlainHidden)
            rows.append(paths::CleanPath(folder + sep + file.name));
    }
    return rows;
}

bool FileExistsStrict(const QString& path) {
    return platform::isRegularFile(path);
}

bool HasUnsafeCharacters(const QString& name) {
    for (qsizetype k = 0; k < name.size(); ++k) {
        const QChar c = name.at(k);
        if (c.isHighSurrogate() && k + 1 < name.size() && name.at(k + 1).isLowSurrogate()) {
            ++k; // a character beyond the first plane: fine
            continue;
        }
        const char16_t u = c.unicode();
        // A lone surrogate has no encoding at all.
        if (u < 32 || (u >= 127 && u <= 159) || u == u'?' || c.isSurrogate())
            return true;
    }
    return false;
}

bool HasUnsafeCharacters(const QByteArray& name) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(name);
    return decoder.hasError() || HasUnsafeCharacters(text);
}

} // namespace vormelle::addfolder
