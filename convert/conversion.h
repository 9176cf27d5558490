#pragma once

#include <QString>

namespace vormelle {

class Form1;

// The conversion run: "Start Converting" hands the file list to the engine (convert/engine.h)
// and shows how it goes.
namespace conversion {

void PushButton2_Click(Form1& form);

// Connects "Start Converting".
void connect(Form1& form);

} // namespace conversion
} // namespace vormelle
