// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/memoryfile.h"

#include "platform/basicerror.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

int makeFile() {
    int fd = ::memfd_create("vormelle-page", MFD_CLOEXEC);
    if (fd >= 0)
        return fd;
    char name[] = "/tmp/vormelle-page-XXXXXX";
    fd = ::mkostemp(name, O_CLOEXEC);
    if (fd < 0)
        throw BasicError::fromErrno(errno);
    ::unlink(name);
    return fd;
}

} // namespace

MemoryFile::MemoryFile(qsizetype size) : m_size(size) {
    const int fd = makeFile();
    m_descriptor = std::make_shared<const Descriptor>(fd);
    if (size <= 0)
        return;
    if (::ftruncate(fd, off_t(size)) != 0)
        throw BasicError::fromErrno(errno);
    void* mapped = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED)
        throw BasicError::fromErrno(errno);
    m_data = static_cast<uchar*>(mapped);
}

std::unique_ptr<const MemoryFile> MemoryFile::mapForReading(SharedDescriptor descriptor) {
    struct stat status {};
    if (!descriptor || ::fstat(descriptor->fd(), &status) != 0)
        throw BasicError::fromErrno(descriptor ? errno : EBADF);
    std::unique_ptr<MemoryFile> file(new MemoryFile);
    file->m_descriptor = std::move(descriptor);
    file->m_size = qsizetype(status.st_size);
    if (file->m_size <= 0)
        return file;
    void* mapped =
        ::mmap(nullptr, size_t(file->m_size), PROT_READ, MAP_SHARED, file->m_descriptor->fd(), 0);
    if (mapped == MAP_FAILED)
        throw BasicError::fromErrno(errno);
    file->m_data = static_cast<uchar*>(mapped);
    return file;
}

MemoryFile::~MemoryFile() {
    if (m_data)
        ::munmap(m_data, size_t(m_size));
}

} // namespace vormelle::platform
