// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace vormelle::platform {

// One name read from a folder: the bytes the system stores and the text they decode to.
struct DirectoryEntry {
    QByteArray bytes;
    QString name;
};

// Listings come in the order NTFS keeps its folders in: by name compared case-insensitively,
// code unit by code unit after upper-casing. Names equal but for case (possible here, never
// there) follow by their exact text, so the order is the same on every run.
bool ntfsLess(const QString& a, const QString& b);

// The wildcards "*" (any run of characters) and "?" (one character), case-insensitive. A pattern
// ending in ".*" also matches a name without a dot, so "*.*" matches every name.
bool wildcardMatch(QStringView pattern, QStringView name);

// The folders inside a folder, without "." and "..". Symbolic links are left out: they are
// never entered, since a link to a folder above would repeat the tree without end.
// Throws BasicError: 70 without permission, 76 when the folder is missing or not a folder.
QList<DirectoryEntry> subFolders(const QString& folder);

// A file found in a folder, with its attribute value (fileAttributes).
struct FileEntry {
    QString name;
    int attributes = 0;
};

// The files in a folder whose names match the pattern: regular files, or links to them, whose
// status can be read (isRegularFile), in the order above. A name that is not valid UTF-8 is
// listed by its lossless text (decodePath). Each name is looked at once, relative to the open
// folder; nothing is opened. Throws as subFolders does.
QList<FileEntry> files(const QString& folder, const QString& pattern);

} // namespace vormelle::platform
