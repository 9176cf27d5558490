// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>

#include <optional>

namespace vormelle {

class Form1;

namespace windowsize {

// The key beside the others: "1000x800", with " maximized" when the window was maximised (the
// size is then the one it returns to).
inline constexpr char kSetting[] = "WindowSize";

struct Stored {
    QSize size;
    bool maximized = false;
};

// nullopt for a text that is no size.
std::optional<Stored> parse(const QString& text);
QString text(const Stored& stored);

// Gives the window its stored size, never below the first size nor beyond the screen; a missing
// or unreadable value leaves the first size.
void restore(Form1& form);
// From now on a size the user gives the window is stored, once the resizing has settled.
void remember(Form1& form);

} // namespace windowsize
} // namespace vormelle
