// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace vormelle::translations {

namespace {

// Loads `base`_<language>.qm from `folder` for the first language that has one.
QTranslator* firstFound(const QStringList& languages, const QString& base, const QString& folder) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    for (const QString& language : languages) {
        // QTranslator::load(QLocale, ...) would walk the locale's own list and could land on a
        // language after English; one name at a time stays in the user's order.
        if (translator->load(QLocale(language), base, QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            return translator;
        }
    }
    delete translator;
    return nullptr;
}

} // namespace

QStringList wantedLanguages(const QStringList& uiLanguages) {
    QStringList wanted;
    for (const QString& name : uiLanguages) {
        const QLocale locale(name);
        if (locale.language() == QLocale::English)
            break;
        // "C" and names Qt does not know give the C locale: no language to look for.
        if (locale.language() != QLocale::C && locale.language() != QLocale::AnyLanguage)
            wanted.append(name);
    }
    return wanted;
}

QString install(const QLocale& locale) {
    const QStringList languages = wantedLanguages(locale.uiLanguages());
    firstFound(languages, QStringLiteral("qtbase"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    const QTranslator* ours =
        firstFound(languages, QStringLiteral("vormelle"), QString::fromLatin1(kFolder));
    if (ours)
        return ours->language();
    // The texts are English, all but their plural forms ("%n file(s)": "1 file", "2 files").
    firstFound({QStringLiteral("en")}, QStringLiteral("vormelle"), QString::fromLatin1(kFolder));
    return QString();
}

} // namespace vormelle::translations
