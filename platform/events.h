// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace vormelle::platform {

// Processes the window's pending events, as long work does between its steps.
void doEvents();

// Ends the program at once, also from inside nested event processing, and the converters it
// started with it. Settings are already on disk (every write is synced), so there is nothing to
// flush.
[[noreturn]] void endProgramNow();

} // namespace vormelle::platform
