// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/deploy.h"

#include "app/paths/paths.h"
#include "platform/basicerror.h"
#include "resources/toolfiles.h"

namespace vormelle::engine {

QString toolPath(const QString& runFolder, int id) {
    if (runFolder.isEmpty())
        throw BasicError(BasicError::PathNotFound);
    return runFolder + QLatin1Char('/') + resources::toolFile(id).fileName;
}

void writeToolFile(const QString& runFolder, const resources::ToolFile& tool,
                   const QByteArray& bytes) {
    if (runFolder.isEmpty())
        throw BasicError(BasicError::PathNotFound);
    // SaveBytesToFile leaves a file that is already there alone.
    paths::SaveBytesToFile(bytes, runFolder + QLatin1Char('/') + tool.fileName, tool.executable);
}

} // namespace vormelle::engine
