#include "convert/deploy.h"

#include "app/paths/paths.h"
#include "platform/basicerror.h"
#include "resources/toolfiles.h"

namespace vormelle::convert {

QString toolPath(const QString& runFolder, int id) {
    if (runFolder.isEmpty())
        throw BasicError(BasicError::PathNotFound);
    return runFolder + QLatin1Char('/') + resources::toolFile(id).fileName;
}

void writeToolFile(const QString& runFolder, int id, const QByteArray& bytes) {
    const QString path = toolPath(runFolder, id);
    if (!paths::FileExists(path))
        paths::SaveBytesToFile(bytes, path, resources::toolFile(id).executable);
}

} // namespace vormelle::convert
