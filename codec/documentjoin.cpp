// SPDX-License-Identifier: GPL-3.0-or-later
// The document writer: every page of an existing DjVu file, its shared components renamed where
// their ids are taken.
#include "codec/bzz.h"
#include "codec/documentparts.h"

#include <map>

namespace vormelle::codec {

using namespace documentparts;

namespace {

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
        // A lone page may include only shared components added before it.
        if (form->children().empty() || form->children().front().name() != "INFO" ||
            checkIncludes(*form) != Error::None)
            return Error::BadData;
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

} // namespace vormelle::codec
