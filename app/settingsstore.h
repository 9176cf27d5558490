// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::settings {

// Every value lives under the application "Quenlark", section "Vormelle".
inline constexpr char kApplication[] = "Quenlark";
inline constexpr char kSection[] = "Vormelle";

// Reads see the file as it is on disk, except for values saved while it could not be written.
QString GetSetting(const QString& key, const QString& defaultValue);
bool hasSetting(const QString& key);
// Writes the value to the file at once. When the file cannot be written the value is kept in
// memory instead, and reads give it back until the program ends. Only the first such failure of
// a settings file throws (the handler reports it, with the note that the program goes on with
// the values in memory); later ones are silent, so a typing user sees one box, not one per key.
void SaveSetting(const QString& key, const QString& value);

// Boolean texts as they are stored and read: "True"/"False" in any letter case, or a number
// (0 false, anything else true). Anything else throws BasicError 13 "Type mismatch".
bool toBoolean(const QString& text);
QString booleanText(bool value);

} // namespace vormelle::settings
