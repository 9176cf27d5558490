// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QStringList>

namespace vormelle::translations {

// The user's languages in order of preference ("de-DE", "de"), up to the first English one: the
// program is written in English, so a language after it is never wanted.
QStringList wantedLanguages(const QStringList& uiLanguages);

// Installs Qt's own translations (its dialogs' buttons) and the program's for the first wanted
// language that has them. Needs the application object; call it before any text is made.
// Returns the language of the program's texts that was installed, or "" for English (whose
// plural forms are installed then).
QString install(const QLocale& locale = QLocale::system());

// Where the program's .qm files are: built into the program.
inline constexpr char kFolder[] = ":/i18n";

} // namespace vormelle::translations
