// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <functional>

namespace vormelle {

class Form1;

// The start-up sequence, run once before the window is first shown: surroundings, the sample
// capture, caption and title, the list's column, and the restored output option and folder.
// `draw` gives the home-page draw (1..100); without one it comes from the system's random source.
void Form_Load(Form1& form, const std::function<int()>& draw = {});

// The files named on the command line become rows as given; a folder adds the TIFF files of its
// tree, walked as a dropped folder is. Returns the names that could not be found (they add
// nothing).
QStringList addStartInputs(Form1& form, const QStringList& names);

} // namespace vormelle
