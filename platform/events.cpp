#include "platform/events.h"

#include <QCoreApplication>

#include <cstdlib>

namespace vormelle::platform {

void doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void endProgramNow() {
    std::_Exit(0);
}

} // namespace vormelle::platform
