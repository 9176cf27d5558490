// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle {

class Form1;

// The folder picker that opens where it was left: the folder chosen last is kept in a setting
// ("LastFolder" for "Add All", "LastFolderDot" for the output folder) and mirrored here.
namespace rememberedfolder {

// Reads the folder remembered under `key` and opens the picker on it: the chosen folder without
// a trailing "/" (except "/" itself), or "" when the user cancelled. A setting that cannot be
// read throws BasicError, and no picker is shown.
QString pick(Form1& form, const QString& key);

// Remembers the chosen folder: here at once, then in the settings, which may throw BasicError.
void remember(const QString& key, const QString& folder);

// The folder the picker under `key` opened on or returned last ("" before the first pick).
QString lastPicked(const QString& key);

} // namespace rememberedfolder
} // namespace vormelle
