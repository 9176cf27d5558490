// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/attributes.h"
#include "platform/directory.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vormelle {

class Form1;

// The folder picker and the folder scan that "Add All", drag and drop and the sample files use.
namespace addfolder {

// Folders and names this long or longer are not scanned.
inline constexpr qsizetype kMaxPath = 260;

// Hidden + archive and nothing else: a plain file whose name starts with ".", the desktop's own
// bookkeeping, which the scans skip.
inline constexpr int kPlainHidden = platform::Hidden | platform::Archive;

// Grows the folder list (every entry ends in "/") by the sub-folders of its entries, level by
// level: the given folders, then all their sub-folders, then theirs. Folders whose sub-folders
// cannot be read (70, 76) are dropped from the list. Sub-folders that are symbolic links are
// not entered. Lets the window process its events once per folder and sub-folder. Unexpected
// errors show the error report and the walk goes on.
void GetSubDirectories2016(Form1& form, QStringList& folderList, bool recursive);

// The folders GetSubDirectories2016 walks from `top`, without a window: `top` (ending in "/"),
// then level by level every sub-folder it would descend into. Folders whose sub-folders cannot
// be read are named in `unreadable`.
QStringList folderTree(const QString& top, QStringList* unreadable = nullptr);

// The names of the files in the folder (given with or without a trailing "/") that match the
// wildcard pattern and pass FileExistsStrict, in the folder's NTFS order; empty when none.
// A folder that cannot be listed throws BasicError.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern);
// The same files with each one's attribute value, taken in the same single look at the file
// (the scans would otherwise probe every file twice more by its full path).
QList<platform::FileEntry> listFilesWithAttributes(const QString& folder, const QString& pattern);

// The rows a folder's listed files become, in the listing's order: CleanPath of the folder and
// the name, leaving out names that start with "~" and plain hidden files. The one rule of "Add
// All", a drop and --convert; the listing has applied FileExistsStrict to every file.
QStringList folderRows(const QString& folder, const QList<platform::FileEntry>& files);

// A regular file, or a link to one, whose status can be read. Never opens the path, so a FIFO
// cannot block the window.
bool FileExistsStrict(const QString& path);

// True at a character below 32, from 127 to 159, or "?"; and for a name whose bytes are not
// valid UTF-8, which could not come back from a text unchanged.
bool HasUnsafeCharacters(const QString& name);
bool HasUnsafeCharacters(const QByteArray& name);

} // namespace addfolder
} // namespace vormelle
