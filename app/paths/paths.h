// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace vormelle::paths {

// The routines serve both path styles: Windows ("\") and POSIX ("/"). The program uses the
// native one; positions and comparisons are exact, as on Windows.
enum class Style { Windows, Posix };
inline constexpr Style kNative = Style::Posix;

QChar separator(Style style = kNative);

bool FileExists(const QString& path);
bool IsFolder(const QString& path);
QString FileNameOf(const QString& path, Style style = kNative);
QString FolderOf(const QString& path, Style style = kNative);
QString StripExtension(const QString& name);
QString CleanPath(const QString& path, Style style = kNative);

// A name or path as a message box shows it: control characters (line breaks, tabs, escapes,
// C1 controls, the Unicode line and paragraph separators) written as \n, \t or \xHH / \uHHHH,
// and a backslash as \\, so no name can forge a line or hide what it holds.
QString visible(const QString& text);

// Writes the bytes unless the path already exists; errors reach the caller.
void SaveBytesToFile(const QByteArray& bytes, const QString& path, bool executable = false);
// Never reports anything and never throws.
void DeleteFileQuietly(const QString& path);
// The forced second attempt: makes the file writable, then removes it; errors reach the caller.
void DeleteFileViaScripting(const QString& path);

// The folder of the running program, without a trailing separator.
QString programFolder();
// Tests run from their own folder; they name the program folder they built.
void setProgramFolder(const QString& folder);

} // namespace vormelle::paths
