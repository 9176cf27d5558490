// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/loader.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

// The first descriptor number the child gets the copies at.
constexpr int kFirstHandedDescriptor = 3;

int openForReading(const QString& path) {
    int fd;
    do {
        fd = ::open(encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw BasicError::fromErrno(errno, path);
    return fd;
}

// A copy of the file in anonymous memory, which may always be mapped for execution; where
// memory files are missing, the file itself (then a noexec mount still stops it).
SharedDescriptor inMemory(const QString& path) {
    const auto source = std::make_shared<Descriptor>(openForReading(path));
    struct stat st {};
    if (::fstat(source->fd(), &st) != 0)
        throw BasicError::fromErrno(errno);
    const int copy = ::memfd_create("vormelle-carried", MFD_CLOEXEC);
    if (copy < 0)
        return source;
    auto result = std::make_shared<Descriptor>(copy);
    off_t offset = 0;
    while (offset < st.st_size) {
        const ssize_t n = ::sendfile(copy, source->fd(), &offset, size_t(st.st_size - offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw BasicError::fromErrno(errno);
        if (n == 0)
            break;
    }
    return result;
}

QByteArray readAll(int fd) {
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, off_t(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
}

} // namespace

Descriptor::~Descriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

QString programInterpreter(const QByteArray& elf) {
    Elf64_Ehdr header;
    if (elf.size() < qsizetype(sizeof header))
        return {};
    std::memcpy(&header, elf.constData(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr))
        return {};
    for (int i = 0; i < header.e_phnum; ++i) {
        const quint64 at = header.e_phoff + quint64(i) * sizeof(Elf64_Phdr);
        if (at > quint64(elf.size()) || quint64(elf.size()) - at < sizeof(Elf64_Phdr))
            return {};
        Elf64_Phdr program;
        std::memcpy(&program, elf.constData() + at, sizeof program);
        if (program.p_type != PT_INTERP)
            continue;
        if (program.p_offset > quint64(elf.size()) ||
            program.p_filesz > quint64(elf.size()) - program.p_offset)
            return {};
        const QByteArray name = elf.mid(qsizetype(program.p_offset), qsizetype(program.p_filesz));
        const QByteArray path = name.left(name.indexOf('\0'));
        return path.startsWith('/') ? QString::fromLocal8Bit(path) : QString();
    }
    return {};
}

LoaderLaunch loaderLaunch(const QString& program, const QStringList& libraries) {
    LoaderLaunch launch;
    launch.descriptors.append(inMemory(program));
    launch.loader = programInterpreter(readAll(launch.descriptors.front()->fd()));
    if (launch.loader.isEmpty())
        throw BasicError(BasicError::FileNotFound);
    QStringList preload;
    for (const QString& library : libraries) {
        launch.descriptors.append(inMemory(library));
        preload.append(QStringLiteral("/proc/self/fd/%1")
                           .arg(kFirstHandedDescriptor + launch.descriptors.size() - 1));
    }
    // Preloaded libraries stand for the program's needs by their sonames, before any search.
    launch.options << QStringLiteral("--argv0") << program;
    if (!preload.isEmpty())
        launch.options << QStringLiteral("--preload") << preload.join(QLatin1Char(' '));
    launch.options << QStringLiteral("/proc/self/fd/%1").arg(kFirstHandedDescriptor);
    return launch;
}

} // namespace vormelle::platform
