// SPDX-License-Identifier: GPL-3.0-or-later
// The document writer: the directory, then every component in order.
#include "codec/bzz.h"
#include "codec/documentparts.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace vormelle::codec {

using namespace documentparts;

bool DocumentWriter::Private::copy(const Component& c, const Writer& writer, Bytes& buffer) {
    if (c.where == Component::Where::Memory)
        return writer(c.bytes.data(), c.bytes.size());
    QFile own;
    QFile* from = &spool;
    if (c.where == Component::Where::File) {
        own.setFileName(c.path);
        if (!own.open(QIODevice::ReadOnly) || std::uint64_t(own.size()) != c.fileSize)
            return false;
        from = &own;
    }
    if (!from->seek(qint64(c.offset)))
        return false;
    buffer.resize(std::size_t(kCopyBytes));
    std::uint64_t left = c.size;
    while (left > 0) {
        const qint64 want = qint64(std::min<std::uint64_t>(left, std::uint64_t(kCopyBytes)));
        if (from->read(reinterpret_cast<char*>(buffer.data()), want) != want)
            return false;
        if (!writer(buffer.data(), std::size_t(want)))
            return false;
        left -= std::uint64_t(want);
    }
    return true;
}

Error DocumentWriter::finish(const Writer& writer) {
    if (m->pages == 0)
        return Error::BadData;
    // Page files are checked before the first byte goes out.
    for (const Component& c : m->components) {
        if (c.where == Component::Where::File &&
            std::uint64_t(QFileInfo(c.path).size()) != c.fileSize)
            return Error::ReadFailed;
    }
    if (m->spool.isOpen() && !m->spool.flush())
        return writeError(m->spool);

    // The refusals that a failing writer and a failing read must be told apart by.
    bool readFailed = false;
    Bytes buffer;
    auto put = [&](const Component& c) {
        if (c.where == Component::Where::Memory)
            return writer(c.bytes.data(), c.bytes.size());
        bool writerRefused = false;
        const bool ok = m->copy(
            c,
            [&](const std::uint8_t* data, std::size_t size) {
                if (!writer(data, size)) {
                    writerRefused = true;
                    return false;
                }
                return true;
            },
            buffer);
        if (!ok && !writerRefused)
            readFailed = true;
        return ok;
    };
    static const std::uint8_t pad = 0;

    if (m->components.size() == 1) {
        if (!writer(reinterpret_cast<const std::uint8_t*>(kFileMagic), 4) ||
            !put(m->components.front()))
            return readFailed ? Error::ReadFailed : Error::WriteFailed;
        return Error::None;
    }

    // The directory: offsets in the clear, then sizes, flags and ids through BZZ.
    ByteWriter listing;
    for (const Component& c : m->components)
        listing.u24(c.size);
    for (const Component& c : m->components)
        listing.u8(c.flags);
    for (const Component& c : m->components) {
        listing.append(c.id);
        listing.u8(0);
    }
    const Bytes packed = bzzEncode(listing.bytes());
    const std::uint64_t dirmContent = 3 + 4 * m->components.size() + packed.size();
    std::uint64_t offset = 16 + 8 + dirmContent;
    ByteWriter dirm;
    dirm.u8(0x81); // bundled, version 1
    dirm.u16(unsigned(m->components.size()));
    for (const Component& c : m->components) {
        offset += offset % 2;
        if (offset > kMaxChunkContent)
            return Error::TooLarge;
        dirm.u32(std::uint32_t(offset));
        offset += c.size;
    }
    if (offset > kMaxChunkContent)
        return Error::TooLarge;
    dirm.append(packed.data(), packed.size());

    ByteWriter head;
    head.append(kFileMagic, 4);
    head.append("FORM");
    head.u32(std::uint32_t(offset - 12));
    head.append("DJVM");
    head.append("DIRM");
    head.u32(std::uint32_t(dirmContent));
    if (!writer(head.bytes().data(), head.bytes().size()) ||
        !writer(dirm.bytes().data(), dirm.bytes().size()))
        return Error::WriteFailed;
    std::uint64_t at = 16 + 8 + dirmContent;
    for (const Component& c : m->components) {
        if (at % 2 != 0) {
            if (!writer(&pad, 1))
                return Error::WriteFailed;
            ++at;
        }
        if (!put(c))
            return readFailed ? Error::ReadFailed : Error::WriteFailed;
        at += c.size;
    }
    return Error::None;
}

Error DocumentWriter::finishFile(const QString& path) {
    QSaveFile file(path);
    // Unbuffered, as the spool: every failed write says why.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return writeError(file);
    Error e = finish([&file](const std::uint8_t* data, std::size_t size) {
        return writeAll(file, reinterpret_cast<const char*>(data), qint64(size));
    });
    if (e == Error::WriteFailed)
        e = writeError(file);
    if (e != Error::None) {
        file.cancelWriting();
        return e;
    }
    return file.commit() ? Error::None : writeError(file);
}

} // namespace vormelle::codec
