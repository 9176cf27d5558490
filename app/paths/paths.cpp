// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/paths/paths.h"

#include "platform/basicerror.h"
#include "platform/events.h"
#include "platform/filesystem.h"

#include <QCoreApplication>

namespace vormelle::paths {

namespace {

QString& programFolderOverride() {
    static QString folder;
    return folder;
}

} // namespace

QChar separator(Style style) {
    return style == Style::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

bool FileExists(const QString& path) {
    return platform::statusReadable(path);
}

bool IsFolder(const QString& path) {
    return platform::isDirectory(path);
}

QString FileNameOf(const QString& path, Style style) {
    return path.mid(path.lastIndexOf(separator(style)) + 1);
}

QString FolderOf(const QString& path, Style style) {
    return path.left(path.lastIndexOf(separator(style)) + 1);
}

QString StripExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString CleanPath(const QString& path, Style style) {
    const QChar sep = separator(style);
    const QString pair(2, sep);
    if (!path.startsWith(sep))
        return QString(path).replace(pair, QString(sep));
    qsizetype rest = 1;
    while (rest < path.size() && path.at(rest) == sep)
        ++rest;
    // Windows keeps a network path's two leading backslashes; POSIX has no such paths, and a
    // doubled leading "/" there is just a join artefact.
    const QString lead = style == Style::Windows ? pair : QString(sep);
    return lead + path.mid(rest).replace(pair, QString(sep));
}

void SaveBytesToFile(const QByteArray& bytes, const QString& path, bool executable) {
    platform::doEvents();
    if (FileExists(path))
        return;
    platform::writeNewFile(path, bytes, executable);
}

void DeleteFileQuietly(const QString& path) {
    platform::doEvents();
    try {
        platform::removeFile(path);
    } catch (const BasicError&) {
        try {
            DeleteFileViaScripting(path);
        } catch (const BasicError&) {
        }
    }
}

void DeleteFileViaScripting(const QString& path) {
    platform::makeWritable(path);
    platform::removeFile(path);
}

QString programFolder() {
    const QString& folder = programFolderOverride();
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void setProgramFolder(const QString& folder) {
    programFolderOverride() = folder;
}

QString visible(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'\\':
            shown += QStringLiteral("\\\\");
            continue;
        case u'\n':
            shown += QStringLiteral("\\n");
            continue;
        case u'\r':
            shown += QStringLiteral("\\r");
            continue;
        case u'\t':
            shown += QStringLiteral("\\t");
            continue;
        default:
            break;
        }
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            shown += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace vormelle::paths
