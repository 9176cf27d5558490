// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "codec/error.h"
#include "codec/iff.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vormelle::codec {

// Writes one bundled DjVu document: a FORM:DJVM with its directory (DIRM), then the components
// in order: shared components (FORM:DJVI, such as a shape dictionary that pages name in their
// INCL chunk) and pages (FORM:DJVU). It takes pages as chunks, as page files made by an encoder,
// or as every page of an existing DjVu file, and keeps only the directory in memory: page files
// are copied in when the document is written, and chunks are held in memory or, with a spool
// file, on disk. So a document of tens of thousands of pages needs neither an argument list nor
// its pages' bytes in memory. The format lists at most 65535 components in one document of less
// than 2 GiB.
//
// Nothing reaches the writer callback until the whole document has been checked: a failing
// add leaves the document as it was, and finish() either writes every byte or reports why not.
class DocumentWriter final {
public:
    // With `spoolPath`, pages and shared components given as chunks are written to that file
    // (created, replaced, and removed again by the destructor) instead of being held in memory.
    explicit DocumentWriter(const QString& spoolPath = {});
    ~DocumentWriter();
    DocumentWriter(const DocumentWriter&) = delete;
    DocumentWriter& operator=(const DocumentWriter&) = delete;

    // A page: a FORM:DJVU whose first chunk is INFO. Its directory id is `id`, or p0001.djvu,
    // p0002.djvu, ... after its page number when empty; an id given twice is refused
    // (Error::BadData), as is an INCL naming no shared component added before it.
    Error addPage(const Chunk& page, const std::string& id = {});
    // A shared component (FORM:DJVI) that later pages include by `id`.
    Error addShared(const Chunk& shared, const std::string& id);
    // Every page of a DjVu file on disk, in its order: a single page (whose INCL chunks, if any,
    // name shared components added before it), or a bundled document with
    // its shared components. Its components keep their ids unless one is taken, and then get a
    // new one, with the INCL chunks that name it rewritten. Thumbnails and the outline are left
    // out (they would point at the wrong pages). Error::ReadFailed when the file cannot be read,
    // Error::BadData when it is not a DjVu document this writer can take (an indirect one, whose
    // pages lie in files of their own, or a damaged one).
    Error addFile(const QString& path);
    // The same, changing each page as it goes in (giving it a text layer, say): `edit` gets the
    // page's number in that file (from 1) and its FORM:DJVU; an error it returns refuses the
    // whole file. Changed pages are held like chunks (memory or spool).
    using PageEdit = std::function<Error(int page, Chunk& form)>;
    Error addFile(const QString& path, const PageEdit& edit);
    // The same, but the file's bytes are read in now (into the spool, or memory), so that the
    // file may go before finish().
    Error takeFile(const QString& path);
    // The same for a file's bytes in memory.
    Error addFileBytes(const Bytes& file);

    int pageCount() const;
    int componentCount() const;

    // Writes the document. One page and nothing shared gives a single-page file, as a page
    // encoder writes it. Error::BadData when there is no page, Error::TooLarge past the format's
    // limits, Error::ReadFailed when a page file has gone or changed since it was added,
    // Error::WriteFailed when the writer refused bytes.
    Error finish(const Writer& writer);
    // Writes the document to `path` in one step: into a new file beside it that replaces `path`
    // only when complete and on disk. `path` is never left half-written.
    Error finishFile(const QString& path);

private:
    struct Private;
    std::unique_ptr<Private> m;
};

} // namespace vormelle::codec
