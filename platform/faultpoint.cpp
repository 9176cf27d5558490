// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/faultpoint.h"

namespace vormelle::platform {

namespace {

Fault& fault() {
    static Fault f;
    return f;
}

} // namespace

void setFault(Fault f) {
    fault() = std::move(f);
}

void faultPoint(std::string_view where, int number) {
    // Only read while a run goes on: the workers may call it at once.
    if (const Fault& f = fault())
        f(where, number);
}

} // namespace vormelle::platform
