// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace vormelle::resources {
struct ToolFile;
}

namespace vormelle::engine {

// Where tool file `id` (101 to 104) goes in the run folder; throws BasicError 76 when the run
// has no folder, so nothing is ever written to or run from a folder that is not the run's own.
QString toolPath(const QString& runFolder, int id);

// Writes the tool file from its resource bytes unless a file of that name is already there, which
// is then used as it is.
void writeToolFile(const QString& runFolder, const resources::ToolFile& tool,
                   const QByteArray& bytes);

} // namespace vormelle::engine
