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

Error DocumentWriter::addFile(const QString& path, const PageEdit& edit) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::ReadFailed;
    // Read once to check its structure; only the directory entries stay.
    const QByteArray all = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error::ReadFailed;
    const Bytes bytes(all.begin(), all.end());
    return m->addFile(bytes, path, edit);
}

Error DocumentWriter::takeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::ReadFailed;
    const QByteArray all = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Error::ReadFailed;
    return m->addFile(Bytes(all.begin(), all.end()), {});
}

Error DocumentWriter::addFileBytes(const Bytes& file) {
    return m->addFile(file, {});
}

} // namespace vormelle::codec
