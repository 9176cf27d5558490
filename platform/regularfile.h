// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/loader.h" // SharedDescriptor

#include <QString>

#include <cstddef>
#include <cstdint>

namespace vormelle::platform {

// A regular file opened for reading only. A FIFO, a device, a socket or a folder is never opened:
// the path's status is read first, and what was opened is checked again, in case the name was
// swapped in between.
class RegularFile final {
public:
    enum class Status { Opened, Missing, NotRegular, Unreadable, LinkLoops };

    explicit RegularFile(const QString& path);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    Status status() const { return m_status; }
    std::uint64_t size() const { return m_size; }
    // Reads up to `count` bytes at `offset`; the bytes read, or -1 on an error.
    std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const;
    // A second descriptor of this very file, for a child to be handed, so that it reads what was
    // inspected whatever the name has come to mean since. Throws BasicError when the file is not
    // open or no descriptor is left.
    SharedDescriptor share() const;

private:
    int m_fd = -1;
    Status m_status = Status::Missing;
    std::uint64_t m_size = 0;
};

} // namespace vormelle::platform
