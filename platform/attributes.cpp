// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/attributes.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <QDir>

#include <cerrno>
#include <sys/stat.h>

namespace vormelle::platform {

namespace {

// A name starting with "." is hidden; "." and ".." name other folders.
bool hiddenName(const QString& path) {
    QStringView last = QStringView(path).mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    QString clean;
    if (last.isEmpty() || last == u"." || last == u"..") {
        clean = QDir::cleanPath(path);
        last = QStringView(clean).mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
    }
    return last.startsWith(QLatin1Char('.')) && last != u"." && last != u"..";
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
        throw BasicError::fromErrno(err, path, parentMissing);
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
    if (hiddenName(path))
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
