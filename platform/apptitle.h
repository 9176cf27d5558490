// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle::platform {

// The title of message boxes that name none of their own. Before one is set, the
// application's name.
void setApplicationTitle(const QString& title);
QString applicationTitle();

} // namespace vormelle::platform
