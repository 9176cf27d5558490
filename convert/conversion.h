// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

namespace vormelle {

class Form1;

// The conversion run: "Start Converting" hands the file list to the engine (engine/engine.h)
// and shows how it goes.
namespace conversion {

// The translation context of the handler's texts.
class Texts final {
    Q_DECLARE_TR_FUNCTIONS(vormelle::conversion::Texts)
};

// How the window's run converts (the route, the text layer, the jobs), as the program reads them
// from the window and its settings when the run starts.
using ChoicesOf = std::function<engine::RunChoices(const Form1&)>;

void PushButton2_Click(Form1& form);

// How far a run has come, shown below "Stop": "3 of 9", with an estimate of the time left once
// three rows have finished ("3 of 9, about 4 min left").
QString runCount(int done, int count, double elapsedSeconds);

// Asks whether to stop the window's run, and stops it on Yes; whether the answer was Yes.
bool askToStop(Form1& form);

// Connects "Start Converting", whose runs take their choices from `choices`, "Stop", Esc and the
// closing of the window.
void connect(Form1& form, ChoicesOf choices);

} // namespace conversion
} // namespace vormelle
