// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settingsfile.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/inifile.h"
#include "platform/texts.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

QString settingsFilePath(const QString& application) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + application + QStringLiteral(".conf");
}

namespace {

// Far beyond any settings file the program writes; a larger one is not ours to load.
constexpr qint64 kLargestFile = 16 * 1024 * 1024;

struct FileState {
    bool exists = false;
    bool usable = false; // a regular file whose bytes were read
    int error = 0;
    mode_t mode = 0600;
    QByteArray bytes;
};

// Never blocks: a FIFO or a device in the file's place is looked at, not read.
FileState load(const QByteArray& name) {
    FileState state;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        state.error = errno;
        state.exists = errno != ENOENT;
        return state;
    }
    state.exists = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kLargestFile) {
        state.error = EINVAL;
        ::close(fd);
        return state;
    }
    state.mode = st.st_mode & 07777;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            state.error = errno;
            ::close(fd);
            return state;
        }
        if (n == 0)
            break;
        state.bytes.append(buffer, n);
        if (state.bytes.size() > kLargestFile) {
            state.error = EFBIG;
            ::close(fd);
            return state;
        }
    }
    ::close(fd);
    state.usable = true;
    return state;
}

QByteArray fileName(const QString& application) {
    const QByteArray name = encodePath(settingsFilePath(application));
    // A link (a dotfile kept elsewhere) is written through, not replaced.
    if (char* real = ::realpath(name.constData(), nullptr)) {
        QByteArray resolved(real);
        std::free(real);
        return resolved;
    }
    return name;
}

void makeFolders(const QByteArray& file) {
    const qsizetype slash = file.lastIndexOf('/');
    if (slash <= 0)
        return;
    const QByteArray folder = file.left(slash);
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0)
        return;
    makeFolders(folder);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        throw BasicError::fromErrno(errno, decodePath(folder), true);
}

int writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        done += n;
    }
    return 0;
}

// Held while a write reads, changes and replaces the file.
class FolderLock final {
public:
    explicit FolderLock(const QByteArray& folder)
        : m_fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd;
};

} // namespace

QString readSetting(const QString& application, const QString& section, const QString& key,
                    const QString& defaultValue) {
    const FileState file = load(fileName(application));
    if (!file.usable)
        return defaultValue;
    return ini::find(file.bytes, section, key).value_or(defaultValue);
}

bool hasSetting(const QString& application, const QString& section, const QString& key) {
    const FileState file = load(fileName(application));
    return file.usable && ini::find(file.bytes, section, key).has_value();
}

void writeSetting(const QString& application, const QString& section, const QString& key,
                  const QString& value) {
    const QByteArray name = fileName(application);
    makeFolders(name);
    // Another instance writing meanwhile would otherwise start from the same old file, and one
    // of the two changes would be lost. The folder itself is locked: no lock file is left.
    const qsizetype slash = name.lastIndexOf('/');
    const FolderLock lock(slash > 0 ? name.left(slash) : QByteArray("."));
    const FileState file = load(name);
    // Writing over a file that could not be read would lose whatever it holds.
    if (file.exists && !file.usable)
        throw file.error == EINVAL || file.error == EFBIG
            ? BasicError(BasicError::PathFileAccessError)
                  .at(decodePath(name), file.error == EFBIG
                                            ? BasicError::systemText(EFBIG)
                                            : platform::Texts::tr("Not a regular file"))
            : BasicError::fromErrno(file.error, decodePath(name));
    QByteArray temporary = name + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    // A folder that may not be written fails here: it is the folder that is named.
    if (fd < 0)
        throw BasicError::fromErrno(errno, decodePath(slash > 0 ? name.left(slash) : name), true);
    int err = writeAll(fd, ini::withValue(file.bytes, section, key, value));
    // On the disk now, not at exit: the program may be ended at any moment.
    if (err == 0 && ::fchmod(fd, file.mode) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temporary.constData(), name.constData()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temporary.constData());
        throw BasicError::fromErrno(err, decodePath(name));
    }
}

} // namespace vormelle::platform
