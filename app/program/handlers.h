// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vormelle {

class Form1;

// Wires every subsystem's handlers into the window.
void connectHandlers(Form1& form);

} // namespace vormelle
