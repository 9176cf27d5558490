// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle {

class Form1;

namespace windowkeys {

// Ctrl+Q closes the window as its close button does (a run asks first), F1 shows what the
// program is, and every button gets its Alt+letter.
void connect(Form1& form);

// The About box's text: the version and the licence.
QString aboutText();

} // namespace windowkeys
} // namespace vormelle
