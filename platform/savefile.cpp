#include "platform/savefile.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

BasicError errorFor(int err) {
    return BasicError(BasicError::fromErrno(err).number(), systemErrorText(err));
}

// Closes the descriptor and, unless it was handed over, removes the named copy.
struct Copy {
    int fd = -1;
    QByteArray name; // empty while the copy has no name
    bool placed = false;

    ~Copy() {
        if (fd >= 0)
            ::close(fd);
        if (!name.isEmpty() && !placed)
            ::unlink(name.constData());
    }
};

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray copyName(const QByteArray& target) {
    const QByteArray folder = folderOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    return folder + "/." + name + ".part-" +
           QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

void writeAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw errorFor(errno);
        data += n;
        size -= n;
    }
}

} // namespace

void replaceFile(const QString& source, const QString& target) {
    const QByteArray targetName = encodePath(target);
    Copy in;
    in.fd = ::open(encodePath(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0)
        throw errorFor(errno);

    Copy out;
    out.fd = ::open(folderOf(targetName).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (out.fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a named copy, removed on failure.
        out.name = copyName(targetName);
        out.fd = ::open(out.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0)
            out.name.clear();
    }
    if (out.fd < 0)
        throw errorFor(errno);
    struct stat old {};
    if (::stat(targetName.constData(), &old) == 0)
        ::fchmod(out.fd, old.st_mode & 07777);

    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw errorFor(errno);
        if (n == 0)
            break;
        writeAll(out.fd, buffer, n);
    }
    // On disk before it takes the target's place, so a crash later cannot leave it empty.
    if (::fsync(out.fd) != 0)
        throw errorFor(errno);

    if (out.name.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(out.fd);
        for (int attempt = 0; out.name.isEmpty(); ++attempt) {
            const QByteArray name = copyName(targetName);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                out.name = name;
            else if (errno != EEXIST || attempt == 10)
                throw errorFor(errno);
        }
    }
    if (::rename(out.name.constData(), targetName.constData()) != 0)
        throw errorFor(errno);
    out.placed = true;
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(encodePath(a).constData(), &sa) == 0 &&
           ::stat(encodePath(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

QString systemErrorText(int err) {
    const char* text = ::strerrordesc_np(err);
    QString words = text ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(err);
    if (!words.isEmpty())
        words[0] = words[0].toLower();
    return words;
}

} // namespace vormelle::platform
