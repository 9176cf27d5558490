// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/loader.h" // SharedDescriptor

#include <QtGlobal>

#include <memory>

namespace vormelle::platform {

// A file of a fixed size that lives in memory (memfd), mapped for writing: what is written into
// it once is read by a child through its descriptor (/proc/self/fd/N) and by the program through
// the mapping, without a copy on disk. Where the system has no memory files it is an unlinked
// file in the temporary location.
class MemoryFile final {
public:
    // Throws BasicError when it cannot be made or mapped (no memory).
    explicit MemoryFile(qsizetype size);
    // Another process's memory file, handed over as `descriptor`, mapped whole for reading
    // (data() must not be written). Throws BasicError.
    static std::unique_ptr<const MemoryFile> mapForReading(SharedDescriptor descriptor);
    ~MemoryFile();
    Q_DISABLE_COPY_MOVE(MemoryFile)

    uchar* data() { return m_data; }
    const uchar* data() const { return m_data; }
    qsizetype size() const { return m_size; }
    // The file for a child; it stays valid after this object has gone.
    SharedDescriptor descriptor() const { return m_descriptor; }

private:
    MemoryFile() = default;

    SharedDescriptor m_descriptor;
    uchar* m_data = nullptr;
    qsizetype m_size = 0;
};

} // namespace vormelle::platform
