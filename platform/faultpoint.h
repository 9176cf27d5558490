// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string_view>

namespace vormelle::platform {

// Places where a test can make the program's own code fail, as a full disk or an exhausted
// process table would: every numbered statement of a handler (`where` its trace text), every step
// of a row ("row", its statement number) and the start of every worker ("worker", its number).
// Without a fault set, nothing happens. A fault throws; set it only while no run is going on.
using Fault = std::function<void(std::string_view where, int number)>;
void setFault(Fault fault);
void faultPoint(std::string_view where, int number);

} // namespace vormelle::platform
