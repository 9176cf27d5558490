#pragma once

#include <QByteArray>
#include <QString>

namespace vormelle::platform {

// Whether the path's status can be read (stat, following links).
bool statusReadable(const QString& path);
// Whether the path's status says folder (a folder given with a trailing "/" is one too).
bool isDirectory(const QString& path);

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

} // namespace vormelle::platform
