// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/runner.h"

#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/events.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace vormelle::engine {

namespace {

constexpr int kFirstWaitingPass = 50;
constexpr int kPassesPerStep = 150;

// Whole numbers from reals round half to even, as the runtime does.
double roundEven(double x) {
    return std::nearbyint(x);
}

qint32 run(const Command& command, const ShowProgress& show, const QString& text, int value,
           int count, const RunOptions& options) {
    if (options.output)
        options.output->clear();
    if (options.signal)
        *options.signal = 0;
    std::optional<platform::ChildProcess> child;
    try {
        startChild(child, command);
    } catch (const BasicError& e) {
        return kStartFailed + e.number();
    }
    int pass = 0;
    bool ended = false;
    do {
        platform::doEvents();
        ended = child->waitFor(options.passLength);
        if (show) {
            ++pass;
            if (const auto creep = creepAt(pass, text, value, count))
                show(creep->text, creep->position);
        }
    } while (!ended);
    platform::doEvents();
    if (show)
        show(text.isEmpty() ? engine::Texts::tr("Progress Bar") : text, std::nullopt);
    if (options.output)
        *options.output = child->output();
    if (options.signal)
        *options.signal = child->endingSignal();
    return child->exitCode();
}

} // namespace

RunResult runToEnd(const Command& command, const std::atomic<bool>* stop) {
    RunResult result;
    std::optional<platform::ChildProcess> child;
    try {
        startChild(child, command);
    } catch (const BasicError& e) {
        result.code = kStartFailed + e.number();
        result.output = startFailure(e);
        return result;
    }
    while (!child->waitFor(kPassLength)) {
        if (stop && stop->load()) {
            result.stopped = true;
            child->kill();
        }
    }
    result.code = child->exitCode();
    result.signal = child->endingSignal();
    result.output = child->output();
    return result;
}

void startChild(std::optional<platform::ChildProcess>& child, const Command& command) {
    // The carried converter comes through the dynamic loader, from descriptors it is handed.
    QList<int> handed;
    for (const platform::SharedDescriptor& d : command.descriptors)
        handed.append(d->fd());
    child.emplace(command.program, command.launch + command.arguments, command.environment, handed);
}

QByteArray startFailure(const BasicError& error) {
    return (error.reason().isEmpty() ? error.description() : error.reason()).toUtf8();
}

QString handOver(Command& command, platform::SharedDescriptor descriptor) {
    command.descriptors.append(std::move(descriptor));
    // The child gets them as 3, 4, ... in order.
    const int number = STDERR_FILENO + int(command.descriptors.size());
    return QStringLiteral("/proc/self/fd/%1").arg(number);
}

qint32 RunAndWait(const Command& command, std::optional<int> /*windowStyle*/,
                  const RunOptions& options) {
    return run(command, {}, {}, 0, 1, options);
}

qint32 RunAndWaitWithProgress(const Command& command, std::optional<int> /*windowStyle*/,
                              const ShowProgress& show, const QString& text, int value, int count,
                              const RunOptions& options) {
    return run(command, show, text, value, count, options);
}

std::optional<Creep> creepAt(int pass, const QString& text, int value, int count) {
    if (pass < kFirstWaitingPass)
        return std::nullopt;
    const int waited = pass - kFirstWaitingPass;
    Creep creep;
    creep.text = text + (text.isEmpty() ? QString() : QStringLiteral(", ")) +
                 engine::Texts::tr("Please wait.. ") + QString::number(waited);
    if (waited % kPassesPerStep == 0) {
        const double share = 100.0 / std::max(count, 1);
        const double step = roundEven(share / 10);
        const double limit = roundEven(value + share - step);
        const double x = value + double(waited / kPassesPerStep) * step;
        creep.position = std::min(x, limit);
    }
    return creep;
}

} // namespace vormelle::engine
