// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace vormelle::platform {

// Whether the path's status can be read (stat, following links).
bool statusReadable(const QString& path);
// Whether the path's status says folder (a folder given with a trailing "/" is one too).
bool isDirectory(const QString& path);

// Why nothing can be made in the folder, as an errno value (ENOENT or ENOTDIR when it is gone,
// or what the effective rights give); 0 when something can.
int folderWriteError(const QString& folder);
// Why the file cannot be run, as an errno value (ENOENT when it is not there, EACCES when it is
// no regular file or not executable for this process); 0 when it can.
int runError(const QString& path);
// The longest name, in bytes, that the folder's file system takes.
qsizetype longestName(const QString& folder);

// Creates the file and writes the bytes; throws BasicError when it cannot.
// `executable` gives the owner execute permission as well.
void writeNewFile(const QString& path, const QByteArray& bytes, bool executable = false);
// Throws BasicError when the file cannot be removed.
void removeFile(const QString& path);
// Gives the owner write permission; throws BasicError when it cannot.
void makeWritable(const QString& path);

// The bytes of a path as the system sees them, and back. A name that is not valid UTF-8 comes
// through unchanged: each byte outside valid UTF-8 becomes U+DC80 to U+DCFF in the text and
// that byte again on the way back (the text shows it as an unknown character). Qt's own file
// classes do not know this: a path from a text goes to the system only through encodePath.
QByteArray encodePath(const QString& path);
QString decodePath(const QByteArray& path);

// The process's current folder, decoded as above; empty when it cannot be read (removed).
QString currentFolder();

} // namespace vormelle::platform
