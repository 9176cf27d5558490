#include "platform/process.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <linux/close_range.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vormelle::platform {

namespace {

// Past this size the output buffer is emptied after its tail has been read, so a chatty child
// cannot fill the memory.
constexpr off_t kOutputRestart = 1 << 20;

// The children not collected yet; endChildren reads this from any context, so it is a fixed
// table of atomics. A child beyond the table is only not ended by endChildren.
constexpr int kTrackedChildren = 64;
std::atomic<pid_t> g_children[kTrackedChildren];

void track(pid_t pid) {
    for (std::atomic<pid_t>& slot : g_children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid))
            return;
    }
}

// A signal that ends the program ends its converters first: they lead groups of their own, so a
// Ctrl-C in the terminal or a logout would not reach them otherwise. Only where the signal still
// has its default action (a program started with nohup keeps ignoring SIGHUP).
void endChildrenAndDie(int signal) {
    endChildren();
    ::signal(signal, SIG_DFL);
    ::raise(signal); // delivered when the handler returns
}

void endChildrenOnTermination() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        // A crash of the program itself too: its converters must not go on writing into the
        // dead run's folder.
        for (int signal :
             {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
                continue;
            struct sigaction action {};
            action.sa_handler = endChildrenAndDie;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

void untrack(pid_t pid) {
    for (std::atomic<pid_t>& slot : g_children) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

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

// What the child shares with the program until it has started: it runs in the program's
// memory (as posix_spawn's child does), so starting costs no copy of the program.
struct ChildStart {
    const StartRequest* request = nullptr;
    pid_t parent = 0;
    int error = 0; // why the start failed; 0 once the program was started
};

// In the child: keeps the error for the parent and ends. The child runs on a stack of its own
// in the program's memory, so it is kept out of the address checks: their records of its stack
// would outlive it.
#define VORMELLE_CHILD_CODE __attribute__((no_sanitize_address))

[[noreturn]] VORMELLE_CHILD_CODE void failStart(ChildStart& start, int error) {
    start.error = error;
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

Starter& starter() {
    static Starter* instance = new Starter; // lives, with its thread, as long as the program
    return *instance;
}

QByteArray variableName(const char* entry) {
    const char* eq = std::strchr(entry, '=');
    return eq ? QByteArray(entry, eq - entry) : QByteArray(entry);
}

std::vector<QByteArray> childEnvironment(const EnvironmentChanges& changes) {
    std::vector<QByteArray> result;
    for (char** e = environ; e && *e; ++e) {
        const QByteArray name = variableName(*e);
        const bool replaced = std::any_of(changes.begin(), changes.end(),
                                          [&](const auto& c) { return c.first == name; });
        if (!replaced)
            result.emplace_back(*e);
    }
    for (const auto& [name, value] : changes)
        result.push_back(name + '=' + value);
    return result;
}

int makeOutputBuffer() {
    int fd = ::memfd_create("vormelle-child-output", MFD_CLOEXEC);
    if (fd < 0) {
        // No anonymous memory files: an unlinked file in the temporary location does the same.
        char name[] = "/tmp/vormelle-output-XXXXXX";
        fd = ::mkostemp(name, O_CLOEXEC);
        if (fd < 0)
            throw BasicError::fromErrno(errno);
        ::unlink(name);
    }
    // Appending: the child keeps writing at the end even after the buffer was emptied.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
    return fd;
}

} // namespace

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments,
                           const EnvironmentChanges& environment, const QList<int>& handed) {
    if (program.isEmpty())
        throw BasicError(BasicError::FileNotFound);
    if (handed.size() > kHandedDescriptors)
        throw BasicError(BasicError::InvalidProcedureCall);

    std::vector<QByteArray> argStore;
    argStore.push_back(encodePath(program));
    for (const QString& a : arguments)
        argStore.push_back(encodePath(a));
    std::vector<char*> argv;
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore = childEnvironment(environment);
    std::vector<char*> envp;
    for (QByteArray& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    m_outputFd = makeOutputBuffer();

    StartRequest request;
    request.path = argv.front();
    request.argv = argv.data();
    request.envp = envp.data();
    request.outputFd = m_outputFd;
    request.handed = handed.constData();
    request.handedCount = int(handed.size());
    try {
        m_pid = starter().start(request);
    } catch (const BasicError&) {
        ::close(m_outputFd);
        m_outputFd = -1;
        m_pid = -1;
        throw;
    }
    track(m_pid);
    endChildrenOnTermination();
    // A descriptor that becomes readable when the child ends; -1 on kernels without it, and
    // waitFor then looks in short steps.
    m_pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
    if (m_pidfd >= 0)
        ::fcntl(m_pidfd, F_SETFD, FD_CLOEXEC);
}

ChildProcess::~ChildProcess() {
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    if (m_outputFd >= 0)
        ::close(m_outputFd);
}

bool ChildProcess::reap(bool block) {
    if (m_ended)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r < 0) {
        // Someone else collected the child: its exit code is lost and stays 0.
        m_exitCode = 0;
    } else if (WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_signal = WTERMSIG(status);
        m_exitCode = 128 + m_signal;
    } else {
        return false;
    }
    m_ended = true;
    untrack(m_pid);
    collectOutput();
    return true;
}

bool ChildProcess::waitFor(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    if (reap(false))
        return true;
    collectOutput();
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return reap(false);
        if (m_pidfd >= 0) {
            pollfd p{m_pidfd, POLLIN, 0};
            const int r = ::poll(&p, 1, int(left.count()));
            if (r < 0 && errno != EINTR)
                ::close(std::exchange(m_pidfd, -1)); // fall back to looking in short steps
        } else {
            ::usleep(useconds_t(std::min<qint64>(left.count(), 5)) * 1000);
        }
        if (reap(false))
            return true;
    }
}

void ChildProcess::collectOutput() {
    if (m_outputFd < 0)
        return;
    struct stat st {};
    if (::fstat(m_outputFd, &st) != 0)
        return;
    const off_t size = st.st_size;
    if (size <= m_outputRead)
        return;
    const off_t from = std::max<off_t>(m_outputRead, size - kOutputTail);
    QByteArray chunk(qsizetype(size - from), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < chunk.size()) {
        const ssize_t n =
            ::pread(m_outputFd, chunk.data() + got, size_t(chunk.size() - got), from + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    chunk.truncate(got);
    m_tail += chunk;
    if (m_tail.size() > kOutputTail)
        m_tail.remove(0, m_tail.size() - kOutputTail);
    m_outputRead = from + got;
    if (m_outputRead >= kOutputRestart && !m_ended && ::ftruncate(m_outputFd, 0) == 0)
        m_outputRead = 0;
}

void ChildProcess::kill() {
    if (!m_ended && m_pid > 0)
        ::kill(-m_pid, SIGKILL);
}

QByteArray ChildProcess::output() {
    collectOutput();
    return m_tail;
}

void endChildren() {
    for (std::atomic<pid_t>& slot : g_children) {
        const pid_t pid = slot.load();
        if (pid > 0)
            ::kill(-pid, SIGKILL);
    }
}

bool localeIsUtf8() {
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

} // namespace vormelle::platform
