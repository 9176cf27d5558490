// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/events.h"

#include "platform/process.h"

#include <QCoreApplication>

#include <cstdlib>

namespace vormelle::platform {

void doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void endProgramNow() {
    // A converter still running would outlive the program, working for nobody.
    endChildren();
    std::_Exit(0);
}

} // namespace vormelle::platform
