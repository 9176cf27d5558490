// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/regularfile.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

RegularFile::RegularFile(const QString& path) {
    const QByteArray name = encodePath(path);
    struct stat st {};
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0) {
        m_status = errno == EACCES  ? Status::Unreadable
                   : errno == ELOOP ? Status::LinkLoops
                                    : Status::Missing;
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        m_status = Status::NotRegular;
        return;
    }
    // O_NONBLOCK: should a FIFO have taken the name after all, opening it does not wait.
    m_fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        m_status = errno == ENOENT ? Status::Missing : Status::Unreadable;
        return;
    }
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        m_status = Status::NotRegular;
        return;
    }
    m_size = std::uint64_t(st.st_size);
    m_status = Status::Opened;
}

RegularFile::~RegularFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t RegularFile::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (m_fd < 0)
        return -1;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(m_fd, static_cast<char*>(buffer) + done, count - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return std::int64_t(done);
}

SharedDescriptor RegularFile::share() const {
    if (m_fd < 0)
        throw BasicError(BasicError::FileNotFound);
    const int copy = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        throw BasicError::fromErrno(errno);
    return std::make_shared<const Descriptor>(copy);
}

} // namespace vormelle::platform
