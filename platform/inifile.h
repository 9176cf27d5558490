// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace vormelle::platform {

// The INI text itself, in the dialect QSettings reads and writes (quotes, backslash escapes,
// "@@" for a leading "@"). The last line for the key in any [section] block counts.
namespace ini {

std::optional<QString> find(const QByteArray& file, const QString& section, const QString& key);
// The file with the key set to the value; every other byte as it was.
QByteArray withValue(const QByteArray& file, const QString& section, const QString& key,
                     const QString& value);
// One value as it stands after "key=", and back.
QString unescape(QByteArrayView raw);
QByteArray escape(const QString& value);

} // namespace ini

} // namespace vormelle::platform
