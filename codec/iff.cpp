// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/iff.h"

#include <algorithm>
#include <cstring>

namespace vormelle::codec {

namespace {

// DjVu nests FORM:DJVM > FORM:DJVU > data; anything much deeper is damage or an attack.
constexpr int kMaxDepth = 8;

bool validId(std::string_view id) {
    return id.size() == 4 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

void putU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// Reads the chunks of [at, end) into `out`. `base` is where alignment is counted from: the
// start of the enclosing FORM's content, which is even in every file.
bool parseChildren(const std::uint8_t* base, std::size_t at, std::size_t end, int depth,
                   std::vector<Chunk>& out);

std::optional<Chunk> parseChunk(const std::uint8_t* base, std::size_t at, std::size_t end,
                                int depth, std::size_t& next) {
    if (end - at < 8)
        return std::nullopt;
    const std::string_view id(reinterpret_cast<const char*>(base + at), 4);
    const std::uint64_t length = readU32(base + at + 4);
    if (!validId(id) || length > kMaxChunkContent || length > end - at - 8)
        return std::nullopt;
    const std::size_t content = at + 8;
    next = content + std::size_t(length);
    if (id != "FORM")
        return Chunk::data(id, Bytes(base + content, base + next));
    if (length < 4 || depth >= kMaxDepth)
        return std::nullopt;
    const std::string_view type(reinterpret_cast<const char*>(base + content), 4);
    if (!validId(type))
        return std::nullopt;
    std::vector<Chunk> children;
    if (!parseChildren(base + content, 4, std::size_t(length), depth + 1, children))
        return std::nullopt;
    return Chunk::form(type, std::move(children));
}

bool parseChildren(const std::uint8_t* base, std::size_t at, std::size_t end, int depth,
                   std::vector<Chunk>& out) {
    while (at < end) {
        if (at % 2 != 0)
            ++at; // the pad byte before a chunk
        if (at >= end)
            break; // a pad byte closing the FORM
        std::size_t next = 0;
        std::optional<Chunk> chunk = parseChunk(base, at, end, depth, next);
        if (!chunk)
            return false;
        out.push_back(std::move(*chunk));
        at = next;
    }
    return true;
}

} // namespace

Chunk Chunk::data(std::string_view id, Bytes payload) {
    Chunk c;
    c.m_valid = validId(id) && id != "FORM";
    if (c.m_valid)
        std::memcpy(c.m_id, id.data(), 4);
    c.m_payload = std::move(payload);
    return c;
}

Chunk Chunk::form(std::string_view type, std::vector<Chunk> children) {
    Chunk c;
    c.m_form = true;
    c.m_valid = validId(type);
    if (c.m_valid)
        std::memcpy(c.m_id, type.data(), 4);
    c.m_children = std::move(children);
    return c;
}

std::string Chunk::id() const {
    return m_form ? std::string("FORM") : std::string(m_id, 4);
}

std::string Chunk::formType() const {
    return m_form ? std::string(m_id, 4) : std::string();
}

std::string Chunk::name() const {
    return m_form ? "FORM:" + formType() : id();
}

const Chunk* Chunk::find(std::string_view name) const {
    for (const Chunk& c : m_children) {
        if (c.name() == name)
            return &c;
    }
    return nullptr;
}

std::uint64_t Chunk::size() const {
    if (!m_form)
        return 8 + m_payload.size();
    std::uint64_t content = 4;
    for (const Chunk& c : m_children)
        content += (content % 2) + c.size();
    return 8 + content;
}

Error Chunk::check(int depth) const {
    if (!m_valid || depth >= kMaxDepth)
        return Error::BadData;
    if (contentSize() > kMaxChunkContent)
        return Error::TooLarge;
    for (const Chunk& c : m_children) {
        if (const Error e = c.check(depth + 1); e != Error::None)
            return e;
    }
    return Error::None;
}

bool Chunk::writeTo(const Writer& writer) const {
    std::uint8_t header[12];
    std::memcpy(header, m_form ? "FORM" : m_id, 4);
    putU32(header + 4, std::uint32_t(contentSize()));
    if (!m_form)
        return writer(header, 8) &&
               (m_payload.empty() || writer(m_payload.data(), m_payload.size()));
    std::memcpy(header + 8, m_id, 4);
    if (!writer(header, 12))
        return false;
    std::uint64_t content = 4;
    static const std::uint8_t pad = 0;
    for (const Chunk& c : m_children) {
        if (content % 2 != 0) {
            if (!writer(&pad, 1))
                return false;
            ++content;
        }
        if (!c.writeTo(writer))
            return false;
        content += c.size();
    }
    return true;
}

Error Chunk::write(const Writer& writer) const {
    if (const Error e = check(0); e != Error::None)
        return e;
    return writeTo(writer) ? Error::None : Error::WriteFailed;
}

std::optional<Bytes> Chunk::bytes() const {
    Bytes out;
    if (check(0) != Error::None)
        return std::nullopt;
    out.reserve(std::size_t(size()));
    writeTo([&out](const std::uint8_t* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    });
    return out;
}

Error writeFile(const Chunk& form, const Writer& writer) {
    if (!form.isForm())
        return Error::BadData;
    if (const Error e = form.check(); e != Error::None)
        return e;
    if (form.size() + 4 > kMaxChunkContent)
        return Error::TooLarge;
    if (!writer(reinterpret_cast<const std::uint8_t*>(kFileMagic), 4))
        return Error::WriteFailed;
    return form.write(writer);
}

std::optional<Bytes> fileBytes(const Chunk& form) {
    Bytes out;
    const Error e = writeFile(form, [&out](const std::uint8_t* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    });
    if (e != Error::None)
        return std::nullopt;
    return out;
}

std::optional<Chunk> parseFile(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || std::memcmp(data, kFileMagic, 4) != 0)
        return std::nullopt;
    std::size_t next = 0;
    // Counted from the magic's end: every chunk header there is even, as in the file.
    std::optional<Chunk> form = parseChunk(data + 4, 0, size - 4, 0, next);
    if (!form || !form->isForm())
        return std::nullopt;
    return form;
}

std::optional<Chunk> parseFile(const Bytes& data) {
    return parseFile(data.data(), data.size());
}

void ByteWriter::u16(unsigned v) {
    u8(v >> 8);
    u8(v);
}

void ByteWriter::u24(std::uint32_t v) {
    u8(v >> 16);
    u8(v >> 8);
    u8(v);
}

void ByteWriter::u32(std::uint32_t v) {
    u8(v >> 24);
    u8(v >> 16);
    u8(v >> 8);
    u8(v);
}

void ByteWriter::append(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
}

} // namespace vormelle::codec
