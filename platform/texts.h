// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>

namespace vormelle::platform {

// The translation context of the platform layer (and the carried tools)'s texts: Texts::tr("...")
// files each text under this class, so the context the program looks it up in is the one lupdate
// gives it.
class Texts final {
    Q_DECLARE_TR_FUNCTIONS(vormelle::platform::Texts)
};

} // namespace vormelle::platform
