// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tempfolder.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/savefile.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace vormelle::platform {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

bool processRuns(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The maker's process id from "<prefix><pid>-XXXXXX", or 0 when the name is not of that form.
pid_t makerOf(const QByteArray& name, const QByteArray& prefix) {
    if (!name.startsWith(prefix))
        return 0;
    const QByteArray rest = name.mid(prefix.size());
    const qsizetype dash = rest.indexOf('-');
    if (dash <= 0 || rest.size() - dash - 1 != 6)
        return 0;
    bool ok = false;
    const qlonglong pid = rest.left(dash).toLongLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

} // namespace

QString temporaryLocation() {
    QList<QByteArray> candidates;
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            candidates.append(value);
    }
    candidates.append(QByteArrayLiteral("/tmp"));
    for (const QByteArray& candidate : std::as_const(candidates)) {
        struct stat st {};
        // The effective rights: a read-only mount or missing rights count, as for a write.
        if (::stat(candidate.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            ::faccessat(AT_FDCWD, candidate.constData(), W_OK | X_OK, AT_EACCESS) == 0)
            return decodePath(candidate);
    }
    return decodePath(candidates.front());
}

bool hasNoSpaceLeft(const QString& path) {
    // Less than this is taken as full: a converter's write fails well before the last byte.
    constexpr unsigned long long kNearlyFull = 64 * 1024;
    struct statvfs st {};
    if (::statvfs(encodePath(path).constData(), &st) != 0)
        return false;
    return (unsigned long long)st.f_bavail * st.f_frsize < kNearlyFull ||
           (st.f_files > 0 && st.f_favail == 0);
}

PrivateFolder::PrivateFolder(const QString& base, const QString& prefix) {
    QByteArray pattern = encodePath(base);
    if (!pattern.endsWith('/'))
        pattern += '/';
    pattern += encodePath(prefix) + QByteArray::number(qlonglong(::getpid())) + "-XXXXXX";
    // mkdtemp makes the folder with mode 0700 and never reuses an existing name.
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int err = errno;
        throw BasicError(BasicError::fromErrno(err, true).number(), systemErrorText(err))
            .at(base, systemErrorText(err));
    }
    const int fd = ::open(pattern.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        ::rmdir(pattern.constData());
        throw BasicError::fromErrno(err);
    }
    m_lockFd = fd;
    m_path = decodePath(pattern);
}

PrivateFolder::~PrivateFolder() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : m_path(std::exchange(other.m_path, {})), m_lockFd(std::exchange(other.m_lockFd, -1)) {}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
    if (this != &other) {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
        m_path = std::exchange(other.m_path, {});
        m_lockFd = std::exchange(other.m_lockFd, -1);
    }
    return *this;
}

void PrivateFolder::remove() {
    if (!m_path.isEmpty())
        removeTree(m_path);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    m_path.clear();
}

bool removeTree(const QString& path) {
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(name.constData()) == 0;
    // Depth first, and links are removed as links: nothing outside the folder is touched.
    ::nftw(name.constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    return ::lstat(name.constData(), &st) != 0 && errno == ENOENT;
}

void removeLeftOverFolders(const QString& base, const QString& prefix) {
    const QByteArray baseName = encodePath(base);
    const QByteArray prefixName = encodePath(prefix);
    DIR* dir = ::opendir(baseName.constData());
    if (!dir)
        return;
    const uid_t me = ::getuid();
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const pid_t maker = makerOf(name, prefixName);
        if (maker == 0 || maker == ::getpid() || processRuns(maker))
            continue;
        const QByteArray full = baseName + '/' + name;
        struct stat st {};
        if (::lstat(full.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != me ||
            (st.st_mode & 077) != 0)
            continue;
        // A maker in another process namespace may still hold it: the lock tells.
        const int fd = ::open(full.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeTree(decodePath(full));
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace vormelle::platform
