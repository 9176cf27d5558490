// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <Qt>

class QPoint;

namespace vormelle {

class Form1;

// The file list's own handlers: removing rows, clearing, and carrying a row to another place.
namespace filelist {

void ListView1_KeyDown(Form1& form, int keyCode);
void ListView1_DblClick(Form1& form);
void ListView1_ItemClick(Form1& form, int row);
void ListView1_MouseDown(Form1& form);
void ListView1_MouseMove(Form1& form, Qt::MouseButtons buttons, const QPoint& pos);
void ListView1_MouseUp(Form1& form);
void PushButton6_Click(Form1& form);

// Connects the handlers above to the window's list and "Clear List" button.
void connect(Form1& form);

} // namespace filelist
} // namespace vormelle
