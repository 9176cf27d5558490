// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"

#include "platform/basicerror.h"
#include "platform/childstart.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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
        m_pid = startProcess(request);
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
