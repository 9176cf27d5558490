// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/channel.h"

#include "platform/basicerror.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vormelle::platform {

namespace {

// Each message is its length (4 bytes, the machine's order: both ends are this program) and
// its bytes.
constexpr qsizetype kLengthBytes = 4;
// A message beyond this is taken for a fault of the other end.
constexpr quint32 kLargestMessage = 1U << 30;

bool writeAll(int fd, const char* data, size_t size, int descriptor) {
    while (size > 0) {
        iovec io{const_cast<char*>(data), size};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (descriptor >= 0) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &descriptor, sizeof(int));
        }
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        descriptor = -1; // it went with the first bytes
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

std::pair<Channel, SharedDescriptor> Channel::pair() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw BasicError::fromErrno(errno);
    Channel ours;
    ours.m_end = std::make_shared<const Descriptor>(ends[0]);
    return {std::move(ours), std::make_shared<const Descriptor>(ends[1])};
}

Channel::Channel(SharedDescriptor end) : m_end(std::move(end)) {}

bool Channel::send(const QByteArray& message, int descriptor) {
    if (!m_end || m_closed)
        return false;
    QByteArray framed(kLengthBytes, Qt::Uninitialized);
    const quint32 length = quint32(message.size());
    std::memcpy(framed.data(), &length, kLengthBytes);
    framed += message;
    return writeAll(m_end->fd(), framed.constData(), size_t(framed.size()), descriptor);
}

// Reads what is there (waiting at most `limit` for the first bytes); false when nothing came.
bool Channel::fill(std::chrono::milliseconds limit) {
    pollfd p{m_end->fd(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, limit.count() < 0 ? -1 : int(limit.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        m_closed = true;
    if (ready <= 0)
        return false;
    char bytes[65536];
    iovec io{bytes, sizeof bytes};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(m_end->fd(), &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        m_closed = true;
        return false;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            // One a message: a second one is not ours to keep.
            auto handed = std::make_shared<const Descriptor>(fd);
            if (!m_handed)
                m_handed = std::move(handed);
        }
    }
    m_buffer.append(bytes, qsizetype(n));
    return true;
}

Channel::Received Channel::receive(QByteArray& message, std::chrono::milliseconds limit,
                                   SharedDescriptor* descriptor) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (m_buffer.size() >= kLengthBytes) {
            quint32 length = 0;
            std::memcpy(&length, m_buffer.constData(), kLengthBytes);
            if (length > kLargestMessage) {
                m_closed = true;
                return Received::Closed;
            }
            if (m_buffer.size() >= kLengthBytes + qsizetype(length)) {
                message = m_buffer.mid(kLengthBytes, qsizetype(length));
                m_buffer.remove(0, kLengthBytes + qsizetype(length));
                if (descriptor)
                    *descriptor = std::move(m_handed);
                m_handed.reset();
                return Received::Message;
            }
        }
        if (m_closed || !m_end)
            return Received::Closed;
        std::chrono::milliseconds left = limit;
        if (limit.count() >= 0) {
            left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0)
                left = std::chrono::milliseconds(0);
        }
        if (!fill(left)) {
            if (m_closed)
                return Received::Closed;
            if (limit.count() >= 0 && Clock::now() >= deadline)
                return Received::NotYet;
        }
    }
}

} // namespace vormelle::platform
