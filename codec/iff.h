// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/error.h"
#include "codec/stage.h" // Bytes, Writer

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vormelle::codec {

// The largest content one chunk may declare. The length field has 32 bits, but DjVuLibre reads
// lengths and directory offsets as signed, so a whole document must stay below 2 GiB.
inline constexpr std::uint64_t kMaxChunkContent = 0x7fffffffu - 16;

// A DjVu file starts with these four bytes before its one FORM chunk.
inline constexpr char kFileMagic[4] = {'A', 'T', '&', 'T'};

// One IFF chunk as a value: either data ("INFO", "Sjbz", "TXTz", ...) or a composite FORM with a
// secondary id ("DJVU", "DJVI", "DJVM") and its children in order.
class Chunk {
public:
    // Ids are four characters of printable ASCII; anything else gives an empty "????" chunk that
    // refuses to be written.
    static Chunk data(std::string_view id, Bytes payload);
    static Chunk form(std::string_view type, std::vector<Chunk> children = {});

    bool isForm() const { return m_form; }
    // "FORM" for a composite chunk.
    std::string id() const;
    // The secondary id of a FORM ("DJVU"); "" for data.
    std::string formType() const;
    // "FORM:DJVU" or "INFO", as djvudump names chunks.
    std::string name() const;

    const Bytes& payload() const { return m_payload; }
    Bytes& payload() { return m_payload; }
    const std::vector<Chunk>& children() const { return m_children; }
    std::vector<Chunk>& children() { return m_children; }
    // The first child named `name` ("INFO", "FORM:DJVI"), or null.
    const Chunk* find(std::string_view name) const;

    // The bytes the chunk takes when written: the 8-byte header and the content. A pad byte goes
    // between two children when the first is odd-sized, never after the last one, as DjVuLibre
    // writes them.
    std::uint64_t size() const;
    // Content bytes only (what the header's length field says).
    std::uint64_t contentSize() const { return size() - 8; }

    // Error::None when write() can succeed: valid ids, lengths that fit, DjVu's nesting depth.
    Error check() const { return check(0); }
    // Writes the chunk (header and content). Error::TooLarge when a length does not fit,
    // Error::BadData when an id is not valid, Error::WriteFailed when the writer refused.
    Error write(const Writer& writer) const;
    // The serialised chunk, or nothing when write() would fail.
    std::optional<Bytes> bytes() const;

private:
    Chunk() = default;
    Error check(int depth) const;
    bool writeTo(const Writer& writer) const;

    char m_id[4] = {'?', '?', '?', '?'}; // FORM's secondary id for a composite chunk
    bool m_form = false;
    bool m_valid = false;
    Bytes m_payload;
    std::vector<Chunk> m_children;
};

// A whole file: the magic, then `form`.
Error writeFile(const Chunk& form, const Writer& writer);
std::optional<Bytes> fileBytes(const Chunk& form);

// Reads a DjVu file (the magic and one FORM chunk) into chunks. Nothing when the bytes are not
// one well-formed FORM: a length beyond the data, a bad id, nesting deeper than DjVu uses.
// Trailing bytes after the FORM are ignored, as DjVuLibre does.
std::optional<Chunk> parseFile(const std::uint8_t* data, std::size_t size);
std::optional<Chunk> parseFile(const Bytes& data);

// A big-endian writer for chunk payloads.
class ByteWriter {
public:
    void u8(unsigned v) { m_bytes.push_back(std::uint8_t(v)); }
    void u16(unsigned v);
    void u24(std::uint32_t v);
    void u32(std::uint32_t v);
    void append(const void* data, std::size_t size);
    void append(std::string_view s) { append(s.data(), s.size()); }
    Bytes& bytes() { return m_bytes; }
    Bytes take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

} // namespace vormelle::codec
