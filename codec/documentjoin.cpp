// SPDX-License-Identifier: GPL-3.0-or-later
// The document writer: every page of an existing DjVu file, its shared components renamed where
// their ids are taken.
#include "codec/bzz.h"
#include "codec/documentparts.h"

#include <algorithm>
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

// What an INCL chunk names.
std::string includedId(const Chunk& incl) {
    return std::string(incl.payload().begin(), incl.payload().end());
}

bool startsWithInfo(const Chunk& form) {
    return !form.children().empty() && form.children().front().name() == "INFO";
}

// The component forms of a bundled document in directory order, each found at its listed offset
// with the length its header declares (a writer may count a closing pad byte that the chunks do
// not need) and of the type its flags say. Nothing when any is not.
std::optional<std::vector<const Chunk*>> listedForms(const Chunk& form, const Bytes& file,
                                                     const std::vector<Listed>& listed) {
    std::map<std::uint32_t, std::pair<const Chunk*, std::uint32_t>> at;
    std::size_t offset = 16;
    for (const Chunk& child : form.children()) {
        offset += offset % 2;
        const std::uint32_t size = 8 + readU32(file.data() + offset + 4);
        at[std::uint32_t(offset)] = {&child, size};
        offset += size;
    }
    std::vector<const Chunk*> forms;
    for (const Listed& l : listed) {
        const auto found = at.find(l.offset);
        if (found == at.end() || found->second.second != l.size || !found->second.first->isForm())
            return std::nullopt;
        const Chunk* c = found->second.first;
        const std::string type = c->formType();
        if ((l.flags == kPage && (type != "DJVU" || !startsWithInfo(*c))) ||
            (isShared(l.flags) && type != "DJVI") || (l.flags == kThumbnails && type != "THUM") ||
            l.flags > kSharedAnnotations)
            return std::nullopt;
        forms.push_back(c);
    }
    return forms;
}

} // namespace

Error DocumentWriter::Private::addFile(const Bytes& file, const QString& path,
                                       const PageEdit& edit) {
    const std::optional<Chunk> form = parseFile(file);
    if (!form)
        return Error::BadData;
    // Each component stays a range of the file unless it has to change; `from` is where its
    // FORM header lies in the file.
    const FromFile fromFile = [&](Component& c, std::size_t from, std::uint32_t size) {
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
    if (form->formType() == "DJVU")
        return addLonePage(*form, file, fromFile, edit);
    return addBundle(*form, file, fromFile, edit);
}

Error DocumentWriter::Private::addLonePage(const Chunk& form, const Bytes& file,
                                           const FromFile& fromFile, const PageEdit& edit) {
    // A lone page may include only shared components added before it.
    if (!startsWithInfo(form) || checkIncludes(form) != Error::None)
        return Error::BadData;
    if (components.size() >= kMaxComponents)
        return Error::TooLarge;
    Component c;
    c.id = freeId(pageId(pages + 1));
    const Error e =
        edit ? keepEdited(c, form, 1, edit) : fromFile(c, 4, 8 + readU32(file.data() + 8));
    if (e != Error::None)
        return e;
    add(std::move(c));
    return Error::None;
}

Error DocumentWriter::Private::keepEdited(Component& c, Chunk page, int number,
                                          const PageEdit& edit) {
    Error e = edit ? edit(number, page) : Error::None;
    if (e != Error::None)
        return e;
    std::optional<Bytes> bytes = page.bytes();
    return bytes ? keep(c, std::move(*bytes)) : Error::BadData;
}

Error DocumentWriter::Private::addBundle(const Chunk& form, const Bytes& file,
                                         const FromFile& fromFile, const PageEdit& edit) {
    if (form.formType() != "DJVM" || form.children().empty() ||
        form.children().front().name() != "DIRM")
        return Error::BadData;
    const std::optional<std::vector<Listed>> listed = readDirectory(form.children().front());
    if (!listed)
        return Error::BadData;
    const std::optional<std::vector<const Chunk*>> forms = listedForms(form, file, *listed);
    if (!forms)
        return Error::BadData;
    const std::size_t kept = std::size_t(std::count_if(
        listed->begin(), listed->end(), [](const Listed& l) { return l.flags != kThumbnails; }));
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
        for (const Chunk& c : (*forms)[i]->children()) {
            if (c.name() == "INCL" && !renamed.count(includedId(c)))
                return Error::BadData;
        }
    }

    // Checked: now it goes in, and nothing below can fail but the spool, which undoes it all.
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
            e = addBundledPage(c, *(*forms)[i], l, ++local, renamed, fromFile, edit);
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

Error DocumentWriter::Private::addBundledPage(Component& c, const Chunk& page, const Listed& l,
                                              int number,
                                              const std::map<std::string, std::string>& renamed,
                                              const FromFile& fromFile, const PageEdit& edit) {
    const auto renamedId = [&renamed](const Chunk& incl) { return renamed.at(includedId(incl)); };
    const bool moved =
        std::any_of(page.children().begin(), page.children().end(), [&](const Chunk& ch) {
            return ch.name() == "INCL" && renamedId(ch) != includedId(ch);
        });
    // A page kept as it is stays a range of its file.
    if (!moved && !edit)
        return fromFile(c, l.offset, l.size);
    Chunk edited = page;
    for (Chunk& ch : edited.children()) {
        if (ch.name() == "INCL") {
            const std::string id = renamedId(ch);
            ch.payload().assign(id.begin(), id.end());
        }
    }
    return keepEdited(c, std::move(edited), number, edit);
}

} // namespace vormelle::codec
