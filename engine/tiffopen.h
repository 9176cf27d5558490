// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

struct tiff; // libtiff's TIFF

namespace vormelle::platform {
class RegularFile;
}

namespace vormelle::engine {

// Where a TIFF's bytes come from: a regular file on disk or a buffer in memory.
class TiffSource {
public:
    virtual ~TiffSource() = default;
    virtual std::uint64_t size() const = 0;
    virtual std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const = 0;
};

class FileTiffSource final : public TiffSource {
public:
    explicit FileTiffSource(const platform::RegularFile& file) : m_file(file) {}
    std::uint64_t size() const override;
    std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const override;

private:
    const platform::RegularFile& m_file;
};

class MemoryTiffSource final : public TiffSource {
public:
    explicit MemoryTiffSource(const QByteArray& bytes) : m_bytes(bytes) {}
    std::uint64_t size() const override { return std::uint64_t(m_bytes.size()); }
    std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const override;

private:
    const QByteArray& m_bytes;
};

// What libtiff reported for one file; each file has its own, so files read on several threads
// do not mix their messages.
struct TiffMessages {
    int errors = 0;
    int warnings = 0;
};

// A TIFF opened for reading over a source: nothing written, nothing mapped, every message
// counted in `messages`, no single allocation above `maxAllocation` bytes. Both the source and
// the messages must outlive it.
class OpenTiff final {
public:
    OpenTiff(const TiffSource& source, TiffMessages& messages, std::int64_t maxAllocation);
    ~OpenTiff();
    OpenTiff(const OpenTiff&) = delete;
    OpenTiff& operator=(const OpenTiff&) = delete;

    // Null when the source is no TIFF libtiff can open.
    tiff* get() const { return m_tif; }

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    tiff* m_tif = nullptr;
};

// Why the header is not a TIFF header, in the closing box's words; "" when it is one.
QString tiffHeaderProblem(const TiffSource& source);

// Why a path that is to be read as a TIFF cannot be, for a status other than Opened.
QString regularFileProblem(int status);

} // namespace vormelle::engine
