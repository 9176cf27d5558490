// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle {

class Form1;

// What a screen reader and a keyboard user need from the window: a spoken name for every
// control whose caption says nothing (or nothing at all), and Return on a focused push button.
void makeAccessible(Form1& form);

} // namespace vormelle
