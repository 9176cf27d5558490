// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle {

class Form1;

namespace addall {

// "Add All TIFF File(s) In Folder": asks for an extension and a folder, then appends every file
// of that folder tree whose name matches "*." + extension.
void PushButton4_Click(Form1& form);
void connect(Form1& form);

} // namespace addall
} // namespace vormelle
