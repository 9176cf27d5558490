#include "platform/filesystem.h"

#include "platform/basicerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

QByteArray encodePath(const QString& path) {
    return QFile::encodeName(path);
}

QString decodePath(const QByteArray& path) {
    return QFile::decodeName(path);
}

bool statusReadable(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(encodePath(path).constData(), &st) == 0;
}

bool isDirectory(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(encodePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void writeNewFile(const QString& path, const QByteArray& bytes, bool executable) {
    const QByteArray name = encodePath(path);
    // O_EXCL: never write through a link or into a file someone else made meanwhile.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, executable ? 0700 : 0600);
    if (fd < 0)
        throw BasicError::fromErrno(errno, errno == ENOENT);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(name.constData());
            throw BasicError::fromErrno(err);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(name.constData());
        throw BasicError::fromErrno(err);
    }
}

void removeFile(const QString& path) {
    if (::unlink(encodePath(path).constData()) != 0)
        throw BasicError::fromErrno(errno);
}

void makeWritable(const QString& path) {
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw BasicError::fromErrno(errno);
    if (S_ISLNK(st.st_mode))
        return; // a link has no permissions of its own
    if (::chmod(name.constData(), st.st_mode | S_IWUSR) != 0)
        throw BasicError::fromErrno(errno);
}

} // namespace vormelle::platform
