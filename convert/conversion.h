#pragma once

#include <QString>

namespace vormelle {

class Form1;

// The conversion run: "Start Converting" turns every row of the file list into a DjVu file.
namespace conversion {

// Each run works in a private folder of its own inside the temporary location; this is the
// start of that folder's name (the process id and a random part follow).
inline constexpr char kRunFolderPrefix[] = "vormelle-run-";

void PushButton2_Click(Form1& form);

// Connects "Start Converting".
void connect(Form1& form);

} // namespace conversion
} // namespace vormelle
