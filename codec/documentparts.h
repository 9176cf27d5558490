// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The document writer's insides, shared by its stages: taking components (document.cpp),
// joining existing files (documentjoin.cpp) and writing the document (documentwrite.cpp).

#include "codec/document.h"

#include <QFile>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace vormelle::codec {

namespace documentparts {

// The directory's flags: what a component is.
// Shared annotations (pdf2djvu's shared_anno.iff) are a shared component DjVuLibre reads for
// every page; it takes one such component per document.
enum : std::uint8_t { kShared = 0, kPage = 1, kThumbnails = 2, kSharedAnnotations = 3 };

inline bool isShared(std::uint8_t flags) {
    return flags == kShared || flags == kSharedAnnotations;
}

// The format's limits: a 16-bit component count.
inline constexpr std::size_t kMaxComponents = 0xffff;
// Page files are copied through a buffer of this size.
inline constexpr qint64 kCopyBytes = 1 << 16;

inline std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

inline std::string pageId(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "p%04d.djvu", number);
    return name;
}

inline bool validComponentId(const std::string& id) {
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

// Writes all of `size` bytes: a full disk first takes what fits and says so only at the next
// write, so the rest is written again until the file takes no more.
inline bool writeAll(QFileDevice& file, const char* data, qint64 size) {
    while (size > 0) {
        const qint64 n = file.write(data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// What a failed write of a file of the writer's own means.
inline Error writeError(const QFileDevice& file) {
    return file.error() == QFileDevice::ResourceError ? Error::NoSpace : Error::WriteFailed;
}

} // namespace documentparts

struct DocumentWriter::Private {
    using Component = documentparts::Component;

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
            // Unbuffered: a buffered write that only fits in part loses why (a full disk).
            if (!spool.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
                return documentparts::writeError(spool);
        }
        if (!spool.seek(qint64(spoolSize)) ||
            !documentparts::writeAll(spool, reinterpret_cast<const char*>(bytes.data()),
                                     qint64(bytes.size())))
            return documentparts::writeError(spool);
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
        if (c.flags == documentparts::kSharedAnnotations)
            sharedAnnotations = true;
        if (documentparts::isShared(c.flags))
            sharedIds.insert(c.id);
        else
            ++pages;
        components.push_back(std::move(c));
    }

    Error addFile(const Bytes& file, const QString& path, const PageEdit& edit = {});
    bool copy(const Component& c, const Writer& writer, Bytes& buffer);

private:
    // Keeps a component as a range of the file being added.
    using FromFile = std::function<Error(Component&, std::size_t from, std::uint32_t size)>;
    Error addLonePage(const Chunk& form, const Bytes& file, const FromFile& fromFile,
                      const PageEdit& edit);
    Error addBundle(const Chunk& form, const Bytes& file, const FromFile& fromFile,
                    const PageEdit& edit);
    Error addBundledPage(Component& c, const Chunk& page, const documentparts::Listed& l,
                         int number, const std::map<std::string, std::string>& renamed,
                         const FromFile& fromFile, const PageEdit& edit);
    // Keeps `page` as `edit` leaves it.
    Error keepEdited(Component& c, Chunk page, int number, const PageEdit& edit);
};

} // namespace vormelle::codec
