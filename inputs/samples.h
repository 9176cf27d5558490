// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace vormelle {

class Form1;
class FileListModel;

// The sample files shipped in Samples/ beside the program: captured once into the setting
// "Snapshot", and added to the list by "Load Sample/Example Files".
namespace samples {

// Stores the paths of the files now in Samples/, joined by "|" ("" when there are none).
void SnapshotSampleFiles();
// Adds every captured sample that still exists and is not listed yet, then offers to open the
// Samples folder.
void LoadSampleFiles(Form1& form);
// Whether a row's text equals the path exactly (letter case included).
bool IsInFileList(const FileListModel& files, const QString& path);

void PushButton7_Click(Form1& form);
void connect(Form1& form);

} // namespace samples
} // namespace vormelle
