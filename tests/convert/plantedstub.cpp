// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only: stands in at link time for the library the planted one needs (see planted.cpp).
extern "C" void vormelle_planted_stub() {}
