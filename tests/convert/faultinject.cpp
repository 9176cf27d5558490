// SPDX-License-Identifier: GPL-3.0-or-later
// Test-only: preloaded (LD_PRELOAD) into the real converters to make one of them fail on purpose.
//   VORMELLE_FAULT=<program>:<segv|abort|hang|swap|slow>  the program (by its name) and what it
//                                               does
//   VORMELLE_FAULT_SECONDS=<n>                  slow: it waits n seconds (6 unless given), then
//                                               works as usual
//   VORMELLE_FAULT_SWAP=<file> VORMELLE_FAULT_ONTO=<path>  swap: <file> is renamed onto <path>
//                                               as the program starts, before it opens anything
//   VORMELLE_FAULT_ONCE=<file>                  only while this file exists; the fault removes it
//   VORMELLE_FAULT_PIDS=<file>                  a hanging program adds its process id here and
//                                               then makes <file>.ready
// Anything else runs as usual.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

bool meant() {
    const char* fault = std::getenv("VORMELLE_FAULT");
    const char* colon = fault ? std::strchr(fault, ':') : nullptr;
    if (!colon)
        return false;
    const std::string program(fault, colon);
    if (program != program_invocation_short_name)
        return false;
    const char* once = std::getenv("VORMELLE_FAULT_ONCE");
    return !once || ::unlink(once) == 0;
}

__attribute__((constructor)) void injectFault() {
    if (!meant())
        return;
    const std::string what = std::strchr(std::getenv("VORMELLE_FAULT"), ':') + 1;
    if (what == "segv" || what == "abort") {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        const int signal = what == "segv" ? SIGSEGV : SIGABRT;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    } else if (what == "swap") {
        const char* from = std::getenv("VORMELLE_FAULT_SWAP");
        const char* onto = std::getenv("VORMELLE_FAULT_ONTO");
        if (from && onto)
            ::rename(from, onto);
    } else if (what == "slow") {
        const char* seconds = std::getenv("VORMELLE_FAULT_SECONDS");
        ::sleep(seconds ? unsigned(std::atoi(seconds)) : 6U);
    } else if (what == "hang") {
        if (const char* pids = std::getenv("VORMELLE_FAULT_PIDS")) {
            if (FILE* f = std::fopen(pids, "a")) {
                std::fprintf(f, "%d\n", int(::getpid()));
                std::fclose(f);
            }
            const std::string ready = std::string(pids) + ".ready";
            ::close(::open(ready.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        }
        for (;;)
            ::pause();
    }
}

} // namespace
