// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle {

class Form1;

namespace addfiles {

// "Add TIFF File(s)": picks files in the open-files dialog and appends one row for each.
void PushButton1_Click(Form1& form);
void connect(Form1& form);

} // namespace addfiles
} // namespace vormelle
