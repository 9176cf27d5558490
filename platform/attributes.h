// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::platform {

// File attributes as the values the program tests, read from POSIX status:
//   ReadOnly      the owner has no write permission
//   Hidden        the name starts with "."
//   System        neither a regular file nor a folder (device, FIFO, socket)
//   Directory     a folder
//   Archive       a regular file
//   ReparsePoint  a symbolic link; the other bits then describe what it points to
// A link whose target is gone reads as ReparsePoint alone (plus Hidden).
enum Attribute : int {
    ReadOnly = 1,
    Hidden = 2,
    System = 4,
    Directory = 16,
    Archive = 32,
    ReparsePoint = 1024,
};

// Throws BasicError: 53 when the name is missing from an existing folder, 76 when a folder on
// the way is missing, 70 without permission.
int fileAttributes(const QString& path);

// A regular file, or a link to one, whose status can be read. Only asks for the status, so a
// FIFO is never opened.
bool isRegularFile(const QString& path);

// "/" in any spelling ("//", "/tmp/.."): the top of the tree.
bool isRootFolder(const QString& path);

} // namespace vormelle::platform
