// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/childstart.h"

#include "platform/basicerror.h"
#include "platform/process.h"

#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <linux/close_range.h>
#include <memory>
#include <mutex>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vormelle::platform {

namespace {

// What the child shares with the program until it has started: it runs in the program's
// memory (as posix_spawn's child does), so starting costs no copy of the program.
struct ChildStart {
    const StartRequest* request = nullptr;
    pid_t parent = 0;
    int error = 0;      // why the start failed; 0 once the program was started
    int errorPipe = -1; // where a forked copy writes the error (builds sanitized for threads)
};

// In the child: keeps the error for the parent and ends. The child runs on a stack of its own
// in the program's memory, so it is kept out of the address checks: their records of its stack
// would outlive it.
#define VORMELLE_CHILD_CODE __attribute__((no_sanitize_address))

[[noreturn]] VORMELLE_CHILD_CODE void failStart(ChildStart& start, int error) {
    start.error = error;
    if (start.errorPipe >= 0)
        (void)!::write(start.errorPipe, &error, sizeof error);
    ::_exit(127);
}

VORMELLE_CHILD_CODE int becomeChild(void* argument) {
    ChildStart& start = *static_cast<ChildStart*>(argument);
    const StartRequest& r = *start.request;
    // Killed when the program ends, however it ends (SIGKILL and crashes included). Asked for
    // before looking whether the parent is still there, so no end slips between the two.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != start.parent)
        failStart(start, ESRCH);
    // A group of its own: ending the group ends what the child started too.
    ::setpgid(0, 0);
    // No blocked signals and every handler at its default, set with the kernel's own calls so
    // that nothing of the program's bookkeeping (shared until the start) changes. A zeroed
    // kernel sigaction is SIG_DFL with no flags and an empty mask.
    const unsigned long kernelAction[4] = {};
    const unsigned long noSignals = 0;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP)
            ::syscall(SYS_rt_sigaction, signal, kernelAction, nullptr, sizeof noSignals);
    }
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &noSignals, nullptr, sizeof noSignals);

    // Everything is first moved above the numbers it is handed at, then put in place.
    const int lowest = STDERR_FILENO + 1 + r.handedCount;
    if (start.errorPipe >= 0)
        start.errorPipe = ::fcntl(start.errorPipe, F_DUPFD_CLOEXEC, lowest);
    const int output = ::fcntl(r.outputFd, F_DUPFD_CLOEXEC, lowest);
    if (output < 0)
        failStart(start, errno);
    int moved[ChildProcess::kHandedDescriptors];
    for (int i = 0; i < r.handedCount; ++i) {
        moved[i] = ::fcntl(r.handed[i], F_DUPFD_CLOEXEC, lowest);
        if (moved[i] < 0)
            failStart(start, errno);
    }
    const int empty = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (empty < 0)
        failStart(start, errno);
    if (::dup2(empty, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
        ::dup2(output, STDERR_FILENO) < 0)
        failStart(start, errno);
    if (empty == STDIN_FILENO)
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
    for (int i = 0; i < r.handedCount; ++i) {
        if (::dup2(moved[i], STDERR_FILENO + 1 + i) < 0)
            failStart(start, errno);
    }
    // Nothing else of the program's reaches the converter.
    if (::syscall(SYS_close_range, unsigned(lowest), ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = lowest; fd < 65536; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::execve(r.path, r.argv, r.envp);
    failStart(start, errno);
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer cannot follow a child that runs in the program's memory: it takes it for a
// forked copy and resets the state it shares with the program, which then died at its next
// thread ("starting new threads after multi-threaded fork is not supported"). Sanitized for
// threads, the child is a forked copy that tells why its start failed through a pipe.
pid_t startChild(const StartRequest& r) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw BasicError::fromErrno(errno);
    ChildStart start;
    start.request = &r;
    start.parent = ::getpid();
    start.errorPipe = fds[1];
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        becomeChild(&start);
    }
    const int forkError = errno;
    ::close(fds[1]);
    int error = 0;
    ssize_t got = 0;
    if (pid > 0) {
        while ((got = ::read(fds[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
    }
    ::close(fds[0]);
    if (pid < 0)
        throw BasicError::fromErrno(forkError);
    if (got == ssize_t(sizeof error)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw BasicError::fromErrno(error);
    }
    return pid;
}
#else
// Starts the child; returns its process id, or throws BasicError. Returns once the child has
// started the program or failed to (CLONE_VFORK).
pid_t startChild(const StartRequest& r) {
    constexpr size_t kChildStack = 256 * 1024;
    void* stack = ::mmap(nullptr, kChildStack, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        throw BasicError::fromErrno(errno);
    ChildStart start;
    start.request = &r;
    start.parent = ::getpid();
    const pid_t pid = ::clone(becomeChild, static_cast<char*>(stack) + kChildStack,
                              CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    const int cloneError = errno;
    ::munmap(stack, kChildStack);
    if (pid < 0)
        throw BasicError::fromErrno(cloneError);
    if (start.error != 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        throw BasicError::fromErrno(start.error);
    }
    return pid;
}
#endif

// The parent-death signal belongs to the thread that forked, not to the process: children are
// forked by one thread that lives as long as the program, so a converter started from a thread
// that ends first is not killed with that thread.
class Starter final {
public:
    Starter() {
        std::thread([this] { serve(); }).detach();
    }
    Q_DISABLE_COPY_MOVE(Starter)

    pid_t start(const StartRequest& request) {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return !m_request; });
        m_request = &request;
        m_done = false;
        m_wake.notify_all();
        m_idle.wait(lock, [this] { return m_done; });
        m_request = nullptr;
        const std::unique_ptr<BasicError> failure = std::move(m_failure);
        const pid_t pid = m_pid;
        m_idle.notify_all();
        if (failure)
            throw BasicError(*failure);
        return pid;
    }

private:
    void serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_request && !m_done; });
            try {
                m_pid = startChild(*m_request);
            } catch (const BasicError& e) {
                m_failure = std::make_unique<BasicError>(e);
            }
            m_done = true;
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    const StartRequest* m_request = nullptr;
    bool m_done = false;
    pid_t m_pid = -1;
    std::unique_ptr<BasicError> m_failure;
};

} // namespace

pid_t startProcess(const StartRequest& request) {
    static Starter* instance = new Starter; // lives, with its thread, as long as the program
    return instance->start(request);
}

} // namespace vormelle::platform
