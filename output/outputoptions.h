// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle {

class Form1;

// Where the results go: the folder in Text1 (Option1) or next to each original (Option2).
// Every change is stored at once.
namespace outputoptions {

// The two option buttons' click handlers; identical. Store both states ("True"/"False") and
// let Frame4 follow Option1.
void Option1_Click(Form1& form);
void Option2_Click(Form1& form);

// Runs on every change of Text1's text, typed or set by the program: stores it under "Text1".
void Text1_Change(Form1& form);

// "...": picks the output folder, starting at the one picked last.
void PushButton9_Click(Form1& form);

// The folder the picker opened on or returned last ("" before the first click).
QString LastOutputFolder();

void connect(Form1& form);

} // namespace outputoptions
} // namespace vormelle
