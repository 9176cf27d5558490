// SPDX-License-Identifier: GPL-3.0-or-later
// Moved to tests/engine/, where the window-free tests use it; this name stays for code that is
// still being written against it.
#pragma once

#include "tests/engine/textpage.h"
