#include "app/settingsstore.h"

#include "platform/basicerror.h"
#include "platform/settingsfile.h"

namespace vormelle::settings {

QString GetSetting(const QString& key, const QString& defaultValue) {
    return platform::readSetting(QString::fromLatin1(kApplication), QString::fromLatin1(kSection),
                                 key, defaultValue);
}

bool HasSetting(const QString& key) {
    return platform::hasSetting(QString::fromLatin1(kApplication), QString::fromLatin1(kSection),
                                key);
}

void SaveSetting(const QString& key, const QString& value) {
    platform::writeSetting(QString::fromLatin1(kApplication), QString::fromLatin1(kSection), key,
                           value);
}

bool ToBoolean(const QString& text) {
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

QString BooleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace vormelle::settings
