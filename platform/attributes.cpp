#include "platform/attributes.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <QDir>

#include <cerrno>
#include <sys/stat.h>

namespace vormelle::platform {

namespace {

// The last component, as the attribute of a dotted name is decided by it.
QString nameOf(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

int typeBits(mode_t mode) {
    int bits = 0;
    if (S_ISDIR(mode))
        bits |= Directory;
    else if (S_ISREG(mode))
        bits |= Archive;
    else
        bits |= System;
    if (!(mode & S_IWUSR))
        bits |= ReadOnly;
    return bits;
}

} // namespace

int fileAttributes(const QString& path) {
    if (path.isEmpty())
        throw BasicError(BasicError::FileNotFound);
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        const int err = errno;
        // Missing from a folder that is there: the file is not found; otherwise the path is.
        const bool parentMissing =
            err == ENOENT && !isDirectory(QDir::cleanPath(path + QStringLiteral("/..")));
        throw BasicError::fromErrno(err, parentMissing);
    }
    int bits = 0;
    if (S_ISLNK(st.st_mode)) {
        bits |= ReparsePoint;
        struct stat target {};
        if (::stat(name.constData(), &target) == 0)
            bits |= typeBits(target.st_mode);
    } else {
        bits |= typeBits(st.st_mode);
    }
    const QString last = nameOf(path);
    if (last.startsWith(QLatin1Char('.')) && last != QLatin1String(".") &&
        last != QLatin1String(".."))
        bits |= Hidden;
    return bits;
}

bool isRegularFile(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(encodePath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isRootFolder(const QString& path) {
    return !path.isEmpty() && path.startsWith(QLatin1Char('/')) &&
           QDir::cleanPath(path) == QLatin1String("/");
}

} // namespace vormelle::platform
