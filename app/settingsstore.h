#pragma once

#include <QString>

namespace vormelle::settings {

// Every value lives under the application "Quenlark", section "Vormelle".
inline constexpr char kApplication[] = "Quenlark";
inline constexpr char kSection[] = "Vormelle";

QString GetSetting(const QString& key, const QString& defaultValue);
bool HasSetting(const QString& key);
void SaveSetting(const QString& key, const QString& value);

// Boolean texts as they are stored and read: "True"/"False" in any letter case, or a number
// (0 false, anything else true). Anything else throws BasicError 13 "Type mismatch".
bool ToBoolean(const QString& text);
QString BooleanText(bool value);

} // namespace vormelle::settings
