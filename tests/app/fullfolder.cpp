// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only: preloaded (LD_PRELOAD) to make writes into one folder fail as on a full disk, where
// a test may not mount a small file system.
//   VORMELLE_FULL_FOLDER=<folder>   every write into a file below it fails with ENOSPC
//   VORMELLE_FULL_PROGRAM=<name>    only in the program of this name (vormelle, cjb2, ...)
//   VORMELLE_FULL_MATCH=<text>      only in files whose path holds this text
// Covers write(2) (Qt's files) and fwrite(3) (DjVuLibre's encoders).

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

bool full(int fd) {
    const char* folder = std::getenv("VORMELLE_FULL_FOLDER");
    if (!folder || !*folder || fd <= STDERR_FILENO)
        return false;
    const char* program = std::getenv("VORMELLE_FULL_PROGRAM");
    if (program && *program && std::strcmp(program, program_invocation_short_name) != 0)
        return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    const size_t length = std::strlen(folder);
    const char* match = std::getenv("VORMELLE_FULL_MATCH");
    return std::strncmp(target, folder, length) == 0 && target[length] == '/' &&
           (!match || std::strstr(target + length, match));
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t count) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    if (count > 0 && full(fd)) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, data, count);
}

extern "C" size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    using Fwrite = size_t (*)(const void*, size_t, size_t, FILE*);
    static const Fwrite real = reinterpret_cast<Fwrite>(::dlsym(RTLD_NEXT, "fwrite"));
    if (size > 0 && count > 0 && full(::fileno(stream))) {
        stream->_flags |= _IO_ERR_SEEN; // as a failed write marks the stream (ferror)
        errno = ENOSPC;
        return 0;
    }
    return real(data, size, count, stream);
}
