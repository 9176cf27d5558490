// SPDX-License-Identifier: GPL-3.0-or-later
// The document writer: taking pages and shared components.
#include "codec/documentparts.h"

namespace vormelle::codec {

using namespace documentparts;

DocumentWriter::DocumentWriter(const QString& spoolPath) : m(std::make_unique<Private>()) {
    m->spoolPath = spoolPath;
}

DocumentWriter::~DocumentWriter() {
    if (m->spool.isOpen()) {
        m->spool.close();
        m->spool.remove();
    }
}

int DocumentWriter::pageCount() const {
    return m->pages;
}

int DocumentWriter::componentCount() const {
    return int(m->components.size());
}

Error DocumentWriter::addPage(const Chunk& page, const std::string& id) {
    if (!page.isForm() || page.formType() != "DJVU" || page.children().empty() ||
        page.children().front().name() != "INFO")
        return Error::BadData;
    if (m->components.size() >= kMaxComponents)
        return Error::TooLarge;
    Component c;
    c.id = id.empty() ? m->freeId(pageId(m->pages + 1)) : id;
    if (!validComponentId(c.id) || m->ids.count(c.id))
        return Error::BadData;
    if (const Error e = m->checkIncludes(page); e != Error::None)
        return e;
    return m->store(std::move(c), page);
}

Error DocumentWriter::addShared(const Chunk& shared, const std::string& id) {
    if (!shared.isForm() || shared.formType() != "DJVI")
        return Error::BadData;
    if (m->components.size() >= kMaxComponents)
        return Error::TooLarge;
    if (!validComponentId(id) || m->ids.count(id))
        return Error::BadData;
    Component c;
    c.id = id;
    c.flags = kShared;
    return m->store(std::move(c), shared);
}

Error DocumentWriter::addFile(const QString& path) {
    return addFile(path, {});
}

namespace {

// A file's bytes, read once; by its size first, so that a file no document could hold is never
// read (Error::TooLarge).
Error readWhole(const QString& path, Bytes& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::ReadFailed;
    const qint64 size = file.size();
    if (size > qint64(kMaxChunkContent) + 12)
        return Error::TooLarge;
    bytes.resize(std::size_t(size));
    if (file.read(reinterpret_cast<char*>(bytes.data()), size) != size || !file.atEnd())
        return Error::ReadFailed;
    return Error::None;
}

} // namespace

Error DocumentWriter::addFile(const QString& path, const PageEdit& edit) {
    // Read once to check its structure; only the directory entries stay.
    Bytes bytes;
    if (const Error e = readWhole(path, bytes); e != Error::None)
        return e;
    return m->addFile(bytes, path, edit);
}

Error DocumentWriter::takeFile(const QString& path) {
    Bytes bytes;
    if (const Error e = readWhole(path, bytes); e != Error::None)
        return e;
    return m->addFile(bytes, {});
}

Error DocumentWriter::addFileBytes(const Bytes& file) {
    return m->addFile(file, {});
}

} // namespace vormelle::codec
