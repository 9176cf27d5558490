// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::platform {

// The per-user settings store: an INI file "<application>.conf" in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), one group per section. Values are text.
//
// The file is read as it is on disk at every call and written by changing the one line that
// holds the key: whatever else the file holds (other keys and sections, comments, lines that
// make no sense, binary junk) stays byte for byte. A file that is not a regular file, or that
// cannot be read, reads as empty and is never written over.
QString readSetting(const QString& application, const QString& section, const QString& key,
                    const QString& defaultValue);
bool hasSetting(const QString& application, const QString& section, const QString& key);
// Reaches the disk before it returns (a new file renamed over the old one); throws BasicError
// when the file cannot be written, and then nothing changed, on disk or in memory.
void writeSetting(const QString& application, const QString& section, const QString& key,
                  const QString& value);

QString settingsFilePath(const QString& application);

// The INI text dialect the file is written in is platform/inifile.h.

} // namespace vormelle::platform
