#pragma once

#include <QString>

namespace vormelle::platform {

// The per-user settings store: an INI file "<application>.conf" in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), one group per section. Values are text.
QString readSetting(const QString& application, const QString& section, const QString& key,
                    const QString& defaultValue);
bool hasSetting(const QString& application, const QString& section, const QString& key);
// Reaches the disk before it returns; throws BasicError when the file cannot be written.
void writeSetting(const QString& application, const QString& section, const QString& key,
                  const QString& value);

QString settingsFilePath(const QString& application);

} // namespace vormelle::platform
