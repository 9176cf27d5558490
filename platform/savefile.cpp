#include "platform/savefile.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

namespace vormelle::platform {

namespace {

BasicError fileError(const QFileDevice& file) {
    if (file.error() == QFileDevice::PermissionsError)
        return BasicError(BasicError::PermissionDenied);
    return BasicError(BasicError::PathFileAccessError,
                      BasicError::describe(BasicError::PathFileAccessError) + QStringLiteral(" (") +
                          file.errorString() + QStringLiteral(")"));
}

} // namespace

void replaceFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw fileError(in);
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        throw fileError(out);
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            throw fileError(out);
    }
    if (in.error() != QFileDevice::NoError)
        throw fileError(in);
    if (!out.commit())
        throw fileError(out);
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(encodePath(a).constData(), &sa) == 0 &&
           ::stat(encodePath(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace vormelle::platform
