// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only: a library planted where no library of the program's should ever be looked for. When
// any program loads it, it leaves the file named by VORMELLE_PLANTED_MARK. It needs a library of
// its own (tests put the real one under the stub's name beside it), so the program that loads it
// in place of that library still works.
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" void vormelle_planted_stub();

namespace {

__attribute__((constructor)) void leaveMark() {
    if (const char* mark = std::getenv("VORMELLE_PLANTED_MARK"))
        ::close(::open(mark, O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
}

} // namespace

// Keeps the dependency on the stub.
extern "C" void vormelle_planted_anchor() {
    vormelle_planted_stub();
}
