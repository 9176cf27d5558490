// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

namespace vormelle::platform {

// What the forked child is to become; everything is prepared before the fork, so the child only
// makes async-signal-safe calls.
struct StartRequest {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int outputFd = -1;
    const int* handed = nullptr;
    int handedCount = 0;
};

// Starts the child on the one thread that starts them all and returns its process id once it
// has started the program; throws BasicError when it could not (BasicError::fromErrno).
pid_t startProcess(const StartRequest& request);

} // namespace vormelle::platform
