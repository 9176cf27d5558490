// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/savefile.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

BasicError fileError(int err, const QString& path) {
    return BasicError(BasicError::fromErrno(err).number(), systemErrorText(err))
        .at(path, systemErrorText(err));
}

int copyAll(int in, int out) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return errno;
            done += w;
        }
    }
}

} // namespace

// By the path's own bytes (encodePath), so a name that is not UTF-8 is written as itself. The
// copy gets a short name of its own, relative to the open folder: the target's name may be as
// long as a name can be, and its path as long as a path can be. Until it is complete the copy
// is an unnamed file where the system allows it, so a process killed meanwhile leaves nothing.
void replaceFile(const QString& source, const QString& target) {
    const QByteArray from = encodePath(source);
    const QByteArray to = encodePath(target);
    const qsizetype slash = to.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : to.left(slash);
    const QByteArray name = to.mid(slash + 1);

    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw fileError(errno, source);
    const int dir = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        const int err = errno;
        ::close(in);
        throw fileError(err, target);
    }
    struct stat old {};
    const bool replacing = ::fstatat(dir, name.constData(), &old, 0) == 0 && S_ISREG(old.st_mode);
    const mode_t process = ::umask(0);
    ::umask(process);
    const mode_t mode = replacing ? old.st_mode & 07777 : 0666 & ~process;

    // A name for the copy that nobody else uses.
    QByteArray named;
    const auto nameCopy = [&](const auto& make) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            named = ".vormelle-" + QByteArray::number(qlonglong(::getpid())) + '-' +
                    QByteArray::number(attempt);
            if (make(named))
                return 0;
            if (errno != EEXIST)
                break;
        }
        const int err = errno;
        named.clear();
        return err;
    };

    int err = 0;
    int out = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    const bool unnamed = out >= 0;
    if (!unnamed && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        err = nameCopy([&](const QByteArray& n) {
            out = ::openat(dir, n.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            return out >= 0;
        });
    } else if (!unnamed) {
        err = errno;
    }
    if (out < 0) {
        ::close(in);
        ::close(dir);
        throw fileError(err, target);
    }
    err = copyAll(in, out);
    ::close(in);
    if (err == 0 && ::fchmod(out, mode) != 0)
        err = errno;
    if (err == 0 && ::fsync(out) != 0)
        err = errno;
    if (err == 0 && unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(out);
        err = nameCopy([&](const QByteArray& n) {
            return ::linkat(AT_FDCWD, self.constData(), dir, n.constData(), AT_SYMLINK_FOLLOW) == 0;
        });
    }
    if (::close(out) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::renameat(dir, named.constData(), dir, name.constData()) != 0)
        err = errno;
    if (err != 0 && !named.isEmpty())
        ::unlinkat(dir, named.constData(), 0);
    ::close(dir);
    if (err != 0)
        throw fileError(err, target);
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(encodePath(a).constData(), &sa) == 0 &&
           ::stat(encodePath(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

QString systemErrorText(int err) {
    return BasicError::systemText(err);
}

} // namespace vormelle::platform
