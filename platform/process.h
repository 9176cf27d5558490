// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>
#include <utility>

namespace vormelle::platform {

// Variables set (or replaced) in a child's environment on top of the program's own.
using EnvironmentChanges = QList<std::pair<QByteArray, QByteArray>>;

// One child process, started from a program and an argument list (never through a shell, so
// every argument reaches the child exactly as given). Its standard input is empty; its output
// and error output go into one buffer of which the last kilobytes are kept. The child leads a
// process group of its own, so that whatever it starts in turn can be ended with it
// (endChildren). It is not killed when this object goes away first, but it is killed when the
// program ends, however it ends (a crash or SIGKILL too).
class ChildProcess final {
public:
    // How much of the child's output is kept.
    static constexpr qsizetype kOutputTail = 8192;
    // How many descriptors a child can be handed.
    static constexpr int kHandedDescriptors = 16;

    // Starts the program; throws BasicError when it cannot be started (53 when it is not there,
    // 70 when it may not be executed). The `handed` descriptors become the child's 3, 4, ...
    // in order; no other descriptor of the program reaches it.
    ChildProcess(const QString& program, const QStringList& arguments,
                 const EnvironmentChanges& environment = {}, const QList<int>& handed = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits at most `limit` for the child to end and returns whether it has ended. Returns as
    // soon as it ends; a zero limit only looks.
    bool waitFor(std::chrono::milliseconds limit);
    bool ended() const { return m_ended; }
    // Kills the child and everything in its process group at once; waitFor then sees it end.
    void kill();
    // The exit code, or 128 plus the signal's number when a signal ended the child.
    int exitCode() const { return m_exitCode; }
    // The signal that ended the child; 0 when it exited by itself.
    int endingSignal() const { return m_signal; }
    // The last kilobytes the child wrote to its output and error output, in order.
    QByteArray output();
    pid_t pid() const { return m_pid; }

private:
    bool reap(bool block);
    void collectOutput();

    pid_t m_pid = -1;
    int m_pidfd = -1;
    int m_outputFd = -1;
    qint64 m_outputRead = 0;
    QByteArray m_tail;
    bool m_ended = false;
    int m_exitCode = 0;
    int m_signal = 0;
};

// Kills every child that has not been collected yet, with everything in its process group. For
// the moment the program ends at once: no converter is left running without it. The same happens
// by itself when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the program, or a crash (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT) does (from the first child on, where the signal has its
// default action). SIGKILL, which no program can catch, still ends the children themselves.
void endChildren();

// Whether the program's own locale encodes text as UTF-8.
bool localeIsUtf8();

} // namespace vormelle::platform
