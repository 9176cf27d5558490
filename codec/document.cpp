// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/document.h"

#include "codec/bzz.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

namespace vormelle::codec {

namespace {

// The directory's flags: what a component is.
// Shared annotations (pdf2djvu's shared_anno.iff) are a shared component DjVuLibre reads for
// every page; it takes one such component per document.
enum : std::uint8_t { kShared = 0, kPage = 1, kThumbnails = 2, kSharedAnnotations = 3 };

bool isShared(std::uint8_t flags) {
    return flags == kShared || flags == kSharedAnnotations;
}

// The format's limits: a 16-bit component count.
constexpr std::size_t kMaxComponents = 0xffff;
// Page files are copied through a buffer of this size.
constexpr qint64 kCopyBytes = 1 << 16;

std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

std::string pageId(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "p%04d.djvu", number);
    return name;
}

bool validComponentId(const std::string& id) {
    // Ids are zero-terminated in the directory and read as file names by DjVuLibre's tools.
    return !id.empty() && id.find('\0') == std::string::npos && id.find('/') == std::string::npos &&
           id != "." && id != "..";
}

// A component's bytes: a whole FORM chunk, without the file magic.
struct Component {
    std::string id;
    std::uint8_t flags = kPage;
    std::uint32_t size = 0;
    enum class Where { Memory, Spool, File } where = Where::Memory;
    Bytes bytes;                // Memory
    std::uint64_t offset = 0;   // Spool and File: where the FORM header is
    QString path;               // File
    std::uint64_t fileSize = 0; // File: its size when added, checked again when it is copied
};

// What an existing bundled document holds, in directory order.
struct Listed {
    std::string id;
    std::uint8_t flags = 0;
    std::uint32_t offset = 0; // in the file, including the magic
    std::uint32_t size = 0;
};

// Reads a bundled document's directory. Nothing when it is damaged, indirect or not version 1.
std::optional<std::vector<Listed>> readDirectory(const Chunk& dirm) {
    const Bytes& d = dirm.payload();
    if (d.size() < 3 || (d[0] & 0x80) == 0 || (d[0] & 0x7f) != 1)
        return std::nullopt;
    const std::size_t count = std::size_t(d[1]) << 8 | d[2];
    if (d.size() < 3 + 4 * count)
        return std::nullopt;
    std::vector<Listed> listed(count);
    for (std::size_t i = 0; i < count; ++i)
        listed[i].offset = readU32(d.data() + 3 + 4 * i);
    // Sizes, flags and ids: 3 + 1 + at least 2 bytes each.
    const std::optional<Bytes> rest =
        bzzDecode(d.data() + 3 + 4 * count, d.size() - 3 - 4 * count, 6 * count + 0xffff * count);
    if (!rest || rest->size() < 4 * count)
        return std::nullopt;
    const Bytes& r = *rest;
    std::size_t at = 0;
    for (Listed& l : listed) {
        l.size = std::uint32_t(r[at]) << 16 | std::uint32_t(r[at + 1]) << 8 | r[at + 2];
        at += 3;
    }
    for (Listed& l : listed)
        l.flags = r[at++];
    for (Listed& l : listed) {
        // The id, then a name and a title when their flags say so: only the id matters here.
        const int strings = 1 + ((l.flags & 0x80) ? 1 : 0) + ((l.flags & 0x40) ? 1 : 0);
        for (int s = 0; s < strings; ++s) {
            const auto end = std::find(r.begin() + std::ptrdiff_t(at), r.end(), std::uint8_t(0));
            if (end == r.end())
                return std::nullopt;
            if (s == 0)
                l.id.assign(r.begin() + std::ptrdiff_t(at), end);
            at = std::size_t(end - r.begin()) + 1;
        }
        l.flags &= 0x3f;
    }
    return listed;
}

} // namespace

struct DocumentWriter::Private {
    QString spoolPath;
    QFile spool;
    std::uint64_t spoolSize = 0;
    std::vector<Component> components;
    std::set<std::string> ids;
    std::set<std::string> sharedIds;
    bool sharedAnnotations = false;
    int pages = 0;

    // Keeps a serialised FORM chunk, in memory or in the spool.
    Error keep(Component& c, Bytes bytes) {
        if (bytes.size() > kMaxChunkContent)
            return Error::TooLarge;
        c.size = std::uint32_t(bytes.size());
        if (spoolPath.isEmpty()) {
            c.where = Component::Where::Memory;
            c.bytes = std::move(bytes);
            return Error::None;
        }
        if (!spool.isOpen()) {
            spool.setFileName(spoolPath);
            if (!spool.open(QIODevice::ReadWrite | QIODevice::Truncate))
                return Error::WriteFailed;
        }
        if (!spool.seek(qint64(spoolSize)) ||
            spool.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
                qint64(bytes.size()))
            return Error::WriteFailed;
        c.where = Component::Where::Spool;
        c.offset = spoolSize;
        spoolSize += bytes.size();
        return Error::None;
    }

    // An id not in `taken`: `wanted`, or it with a number before its extension.
    static std::string freeId(const std::string& wanted, const std::set<std::string>& taken) {
        if (!taken.count(wanted))
            return wanted;
        const std::size_t dot = wanted.rfind('.');
        const std::string stem = dot == std::string::npos ? wanted : wanted.substr(0, dot);
        const std::string ext = dot == std::string::npos ? std::string() : wanted.substr(dot);
        for (int n = 2;; ++n) {
            std::string id = stem + "-" + std::to_string(n) + ext;
            if (!taken.count(id))
                return id;
        }
    }
    std::string freeId(const std::string& wanted) const { return freeId(wanted, ids); }

    // The page's INCL chunks must name shared components already in the document.
    Error checkIncludes(const Chunk& page) const {
        for (const Chunk& c : page.children()) {
            if (c.name() != "INCL")
                continue;
            const std::string id(c.payload().begin(), c.payload().end());
            if (!sharedIds.count(id))
                return Error::BadData;
        }
        return Error::None;
    }

    // Serialises `form`, keeps its bytes and adds the component that names them.
    Error store(Component c, const Chunk& form) {
        std::optional<Bytes> bytes = form.bytes();
        if (!bytes)
            return form.check() != Error::None ? form.check() : Error::BadData;
        if (const Error e = keep(c, std::move(*bytes)); e != Error::None)
            return e;
        add(std::move(c));
        return Error::None;
    }

    void add(Component c) {
        ids.insert(c.id);
        if (c.flags == kSharedAnnotations)
            sharedAnnotations = true;
        if (isShared(c.flags))
            sharedIds.insert(c.id);
        else
            ++pages;
        components.push_back(std::move(c));
    }

    Error addFile(const Bytes& file, const QString& path, const PageEdit& edit = {});
    bool copy(const Component& c, const Writer& writer, Bytes& buffer);
};

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

Error DocumentWriter::Private::addFile(const Bytes& file, const QString& path,
                                       const PageEdit& edit) {
    const std::optional<Chunk> form = parseFile(file);
    if (!form)
        return Error::BadData;
    // Each component stays a range of the file unless it has to change; `from` is where its
    // FORM header lies in the file.
    auto fromFile = [&](Component& c, std::size_t from, std::uint32_t size) {
        c.size = size;
        if (path.isEmpty()) {
            return keep(c, Bytes(file.begin() + std::ptrdiff_t(from),
                                 file.begin() + std::ptrdiff_t(from + size)));
        }
        c.where = Component::Where::File;
        c.path = path;
        c.offset = from;
        c.fileSize = file.size();
        return Error::None;
    };

    if (form->formType() == "DJVU") {
        if (form->children().empty() || form->children().front().name() != "INFO" ||
            form->find("INCL"))
            return Error::BadData; // a lone page cannot include anything
        if (components.size() >= kMaxComponents)
            return Error::TooLarge;
        Component c;
        c.id = freeId(pageId(pages + 1));
        Error e = Error::None;
        if (edit) {
            Chunk page = *form;
            e = edit(1, page);
            std::optional<Bytes> bytes = e == Error::None ? page.bytes() : std::nullopt;
            if (e == Error::None)
                e = bytes ? keep(c, std::move(*bytes)) : Error::BadData;
        } else {
            e = fromFile(c, 4, 8 + readU32(file.data() + 8));
        }
        if (e != Error::None)
            return e;
        add(std::move(c));
        return Error::None;
    }
    if (form->formType() != "DJVM" || form->children().empty() ||
        form->children().front().name() != "DIRM")
        return Error::BadData;
    const std::optional<std::vector<Listed>> listed = readDirectory(form->children().front());
    if (!listed)
        return Error::BadData;

    // The components as they lie in the file, found by their offsets, with the lengths their
    // headers declare (a writer may count a closing pad byte that the chunks do not need).
    std::map<std::uint32_t, std::pair<const Chunk*, std::uint32_t>> at;
    std::size_t offset = 16;
    for (const Chunk& child : form->children()) {
        offset += offset % 2;
        const std::uint32_t size = 8 + readU32(file.data() + offset + 4);
        at[std::uint32_t(offset)] = {&child, size};
        offset += size;
    }
    std::vector<const Chunk*> chunks;
    std::size_t kept = 0;
    for (const Listed& l : *listed) {
        const auto found = at.find(l.offset);
        if (found == at.end() || found->second.second != l.size || !found->second.first->isForm())
            return Error::BadData;
        const Chunk* c = found->second.first;
        const std::string type = c->formType();
        if ((l.flags == kPage &&
             (type != "DJVU" || c->children().empty() || c->children().front().name() != "INFO")) ||
            (isShared(l.flags) && type != "DJVI") || (l.flags == kThumbnails && type != "THUM") ||
            l.flags > kSharedAnnotations)
            return Error::BadData;
        chunks.push_back(c);
        if (l.flags != kThumbnails)
            ++kept;
    }
    if (components.size() + kept > kMaxComponents)
        return Error::TooLarge;

    // Shared ids that are taken get new ones; the pages naming them are rewritten. Every INCL
    // must name a shared component of this file.
    std::map<std::string, std::string> renamed;
    std::set<std::string> taken = ids;
    for (const Listed& l : *listed) {
        if (!isShared(l.flags))
            continue;
        const std::string id = freeId(validComponentId(l.id) ? l.id : "shared.djvi", taken);
        taken.insert(id);
        renamed[l.id] = id;
    }
    for (std::size_t i = 0; i < listed->size(); ++i) {
        if ((*listed)[i].flags != kPage)
            continue;
        for (const Chunk& c : chunks[i]->children()) {
            if (c.name() == "INCL" &&
                !renamed.count(std::string(c.payload().begin(), c.payload().end())))
                return Error::BadData;
        }
    }

    // Checked: now it goes in, and nothing below can fail but the spool.
    const std::size_t before = components.size();
    const std::set<std::string> idsBefore = ids;
    const std::set<std::string> sharedBefore = sharedIds;
    const int pagesBefore = pages;
    const bool annotationsBefore = sharedAnnotations;
    int local = 0;
    for (std::size_t i = 0; i < listed->size(); ++i) {
        const Listed& l = (*listed)[i];
        if (l.flags == kThumbnails)
            continue;
        Component c;
        c.flags = l.flags;
        Error e = Error::None;
        if (isShared(l.flags)) {
            // A second document's shared annotations stay included by its pages, as a plain
            // shared component.
            if (l.flags == kSharedAnnotations && sharedAnnotations)
                c.flags = kShared;
            c.id = renamed[l.id];
            e = fromFile(c, l.offset, l.size);
        } else {
            c.id = freeId(validComponentId(l.id) ? l.id : pageId(pages + 1), taken);
            ++local;
            bool rewrite = bool(edit);
            for (const Chunk& ch : chunks[i]->children()) {
                if (ch.name() == "INCL" &&
                    renamed[std::string(ch.payload().begin(), ch.payload().end())] !=
                        std::string(ch.payload().begin(), ch.payload().end()))
                    rewrite = true;
            }
            if (!rewrite) {
                e = fromFile(c, l.offset, l.size);
            } else {
                Chunk page = *chunks[i];
                for (Chunk& ch : page.children()) {
                    if (ch.name() == "INCL") {
                        const std::string id =
                            renamed[std::string(ch.payload().begin(), ch.payload().end())];
                        ch.payload().assign(id.begin(), id.end());
                    }
                }
                if (edit)
                    e = edit(local, page);
                std::optional<Bytes> bytes = e == Error::None ? page.bytes() : std::nullopt;
                if (e == Error::None)
                    e = bytes ? keep(c, std::move(*bytes)) : Error::BadData;
            }
        }
        if (e != Error::None) {
            components.resize(before);
            ids = idsBefore;
            sharedIds = sharedBefore;
            sharedAnnotations = annotationsBefore;
            pages = pagesBefore;
            return e;
        }
        add(std::move(c));
        taken.insert(components.back().id);
    }
    return Error::None;
}

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
        return Error::WriteFailed;

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
    if (!file.open(QIODevice::WriteOnly))
        return Error::WriteFailed;
    const Error e = finish([&file](const std::uint8_t* data, std::size_t size) {
        return file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
    });
    if (e != Error::None) {
        file.cancelWriting();
        return e;
    }
    return file.commit() ? Error::None : Error::WriteFailed;
}

} // namespace vormelle::codec
