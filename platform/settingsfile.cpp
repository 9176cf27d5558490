#include "platform/settingsfile.h"

#include "platform/basicerror.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

namespace vormelle::platform {

QString settingsFilePath(const QString& application) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + application + QStringLiteral(".conf");
}

namespace {

QString keyPath(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}

} // namespace

QString readSetting(const QString& application, const QString& section, const QString& key,
                    const QString& defaultValue) {
    QSettings settings(settingsFilePath(application), QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(section, key));
    if (!value.isValid())
        return defaultValue;
    // A value that INI syntax turned into a list ("a, b") is still one text to us.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool hasSetting(const QString& application, const QString& section, const QString& key) {
    QSettings settings(settingsFilePath(application), QSettings::IniFormat);
    return settings.contains(keyPath(section, key));
}

void writeSetting(const QString& application, const QString& section, const QString& key,
                  const QString& value) {
    QSettings settings(settingsFilePath(application), QSettings::IniFormat);
    settings.setValue(keyPath(section, key), value);
    // Written now, not at exit: the program may be ended at any moment.
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        throw BasicError(BasicError::PermissionDenied);
}

} // namespace vormelle::platform
