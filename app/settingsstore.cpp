// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settingsstore.h"

#include "app/texts.h"
#include "platform/basicerror.h"
#include "platform/settingsfile.h"

#include <QCoreApplication>
#include <QHash>

#include <mutex>
#include <optional>
#include <utility>

namespace vormelle::settings {

namespace {

// Values saved while their file could not be written, by the file's path: a store in another
// configuration folder (another XDG_CONFIG_HOME) is another store.
struct Unsaved {
    QHash<QString, QString> values;
    bool reported = false;
};

std::mutex& unsavedLock() {
    static std::mutex lock;
    return lock;
}

QHash<QString, Unsaved>& unsaved() {
    static QHash<QString, Unsaved> stores;
    return stores;
}

QString application() {
    return QString::fromLatin1(kApplication);
}

QString section() {
    return QString::fromLatin1(kSection);
}

std::optional<QString> unsavedValue(const QString& key) {
    const std::lock_guard guard(unsavedLock());
    const auto store = unsaved().constFind(platform::settingsFilePath(application()));
    if (store == unsaved().cend())
        return std::nullopt;
    const auto value = store->values.constFind(key);
    return value == store->values.cend() ? std::nullopt : std::optional<QString>(*value);
}

} // namespace

QString GetSetting(const QString& key, const QString& defaultValue) {
    if (const std::optional<QString> value = unsavedValue(key))
        return *value;
    return platform::readSetting(application(), section(), key, defaultValue);
}

bool hasSetting(const QString& key) {
    return unsavedValue(key) || platform::hasSetting(application(), section(), key);
}

void SaveSetting(const QString& key, const QString& value) {
    const QString file = platform::settingsFilePath(application());
    try {
        platform::writeSetting(application(), section(), key, value);
    } catch (const BasicError& e) {
        bool first = false;
        {
            const std::lock_guard guard(unsavedLock());
            Unsaved& store = unsaved()[file];
            store.values.insert(key, value);
            first = !std::exchange(store.reported, true);
        }
        if (first)
            throw e.withNote(
                shell::Texts::tr("Settings cannot be saved now. Vormelle goes on with them in "
                                 "memory; changes made until it closes are not kept."));
        return;
    }
    // On disk now: the file's value counts again.
    const std::lock_guard guard(unsavedLock());
    const auto store = unsaved().find(file);
    if (store != unsaved().end())
        store->values.remove(key);
}

bool toBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = t.toDouble(&isNumber);
    if (!isNumber)
        throw BasicError(BasicError::TypeMismatch);
    return number != 0.0;
}

QString booleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace vormelle::settings
