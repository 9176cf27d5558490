// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/basicerror.h"
#include "platform/loader.h"
#include "platform/process.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace vormelle::engine {

// A start failure is reported as this plus the error's number (53: the program is not there,
// 70: it may not be executed).
inline constexpr qint32 kStartFailed = qint32(0x80040000);
// The longest wait of one polling pass: the window's runner processes events in every pass, and
// a worker looks at its stop flag. A child that ends is seen at once, not at the pass's end.
inline constexpr std::chrono::milliseconds kPassLength{100};

// A converter call: the program and its arguments, each passed on as it is (no shell), and the
// variables to set in its environment. A carried converter is started through the dynamic
// loader: `launch` then holds the loader's options and the converter, which come before the
// arguments, and `descriptors` the files the child gets as descriptors 3, 4, ...
struct Command {
    QString program;
    QStringList arguments;
    platform::EnvironmentChanges environment;
    QStringList launch = {};
    QList<platform::SharedDescriptor> descriptors = {};
};

// Starts the command's child in `child`, handing it the command's descriptors; throws BasicError
// when it cannot be started.
void startChild(std::optional<platform::ChildProcess>& child, const Command& command);

// Adds `descriptor` to those the command's child is handed and returns the name the child opens
// it by ("/proc/self/fd/7"): the child reads the very file the program holds, not whatever a
// path names by the time it starts.
QString handOver(Command& command, platform::SharedDescriptor descriptor);

// How a child run by runToEnd ended.
struct RunResult {
    // The exit code (128 + the signal's number for a child ended by a signal), or kStartFailed
    // plus the error number when it could not be started.
    qint32 code = 0;
    int signal = 0;       // the signal that ended it, 0 for none
    QByteArray output;    // the last kilobytes it wrote; the system's reason when not started
    bool stopped = false; // `stop` was raised and the child killed
};

// Runs one encoder or converter to its end on the calling thread (a worker's: no window events).
// When `stop` is given and becomes true, the child is killed with everything it started, and
// the call returns once it has ended.
RunResult runToEnd(const Command& command, const std::atomic<bool>* stop = nullptr);

// Why a child could not be started, in the system's words ("Argument list too long"), for a
// step's output.
QByteArray startFailure(const BasicError& error);

struct RunOptions {
    // Tests shorten the pass to run the progress creep in milliseconds.
    std::chrono::milliseconds passLength = kPassLength;
    // Receives the last kilobytes the child wrote (output and error output).
    QByteArray* output = nullptr;
    // Receives the signal that ended the child, 0 when it ended by itself or did not start.
    int* signal = nullptr;
};

// The window style (a show command, 0 to 6) is taken as the window's run passes it and changes
// nothing: a child has no window of its own on this platform.

// Starts the command and waits until it has ended, processing window events all the while.
// Returns the exit code (128 + the signal's number for a child ended by a signal), or
// kStartFailed plus the error number when it could not be started.
qint32 RunAndWait(const Command& command, std::optional<int> windowStyle = std::nullopt,
                  const RunOptions& options = {});

// Shows a wait's progress: a text and, when given, a new position from 0 to 100.
using ShowProgress = std::function<void(const QString& text, std::optional<double> position)>;

// The same, and while it waits the progress shown (when `show` is given) creeps from `value`
// toward the next item's share of `count` items and its text counts the passes. At the end the
// text is `text` again ("Progress Bar" when that is empty), with no new position.
qint32 RunAndWaitWithProgress(const Command& command, std::optional<int> windowStyle,
                              const ShowProgress& show, const QString& text, int value, int count,
                              const RunOptions& options = {});

// What the bar shows in pass `pass` (counted from 1): nothing before the 50th pass; from then on
// a waiting text, and every 150 passes a new position.
struct Creep {
    QString text;
    std::optional<double> position;
};
std::optional<Creep> creepAt(int pass, const QString& text, int value, int count);

} // namespace vormelle::engine
