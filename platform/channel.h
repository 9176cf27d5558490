// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/loader.h" // SharedDescriptor

#include <QByteArray>

#include <chrono>
#include <utility>

namespace vormelle::platform {

// A connection to a child process of ours (a local socket pair): whole messages of bytes both
// ways, each of which may carry one open descriptor, so the child can map a memory file the
// program holds instead of getting its bytes copied.
class Channel final {
public:
    // Our end, and the end to hand to the child (ChildProcess's `handed`). Throws BasicError.
    static std::pair<Channel, SharedDescriptor> pair();
    // The child's side: the end it was handed.
    explicit Channel(SharedDescriptor end);
    Channel(Channel&&) noexcept = default;
    Channel& operator=(Channel&&) noexcept = default;

    // Sends one message, with `descriptor` when it is not -1; false when the other end is gone.
    bool send(const QByteArray& message, int descriptor = -1);

    enum class Received { Message, NotYet, Closed };
    // Waits at most `limit` (for ever when negative) for a whole message. A descriptor that came
    // with it goes to `descriptor`, when given (otherwise it is closed).
    Received receive(QByteArray& message, std::chrono::milliseconds limit,
                     SharedDescriptor* descriptor = nullptr);

private:
    Channel() = default;
    bool fill(std::chrono::milliseconds limit);

    SharedDescriptor m_end;
    QByteArray m_buffer;       // bytes read of the next message
    SharedDescriptor m_handed; // a descriptor that came with them
    bool m_closed = false;
};

} // namespace vormelle::platform
