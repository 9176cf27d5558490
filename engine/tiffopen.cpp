// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/tiffopen.h"

#include "engine/texts.h"
#include "platform/regularfile.h"

#include <QCoreApplication>

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace vormelle::engine {

namespace {

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

int closeProc(thandle_t) {
    return 0;
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char*, va_list) {
    ++static_cast<TiffMessages*>(user)->errors;
    return 1;
}

int onWarning(TIFF*, void* user, const char*, const char* format, va_list) {
    // Data written by LZW coders from before 1990 decodes correctly; libtiff only says so. The
    // same for old-style JPEG, of which it warns on every page it decodes.
    for (const char* harmless :
         {"Old-style LZW codes", "Deprecated and troublesome old-style JPEG"}) {
        if (format && std::strncmp(format, harmless, std::strlen(harmless)) == 0)
            return 1;
    }
    ++static_cast<TiffMessages*>(user)->warnings;
    return 1;
}

} // namespace

// libtiff's view of a source: a read position over it.
struct OpenTiff::Stream {
    const TiffSource* source = nullptr;
    std::uint64_t position = 0;

    static tmsize_t read(thandle_t handle, void* buffer, tmsize_t count) {
        auto* s = static_cast<Stream*>(handle);
        if (count < 0)
            return -1;
        const std::int64_t n = s->source->readAt(s->position, buffer, std::size_t(count));
        if (n > 0)
            s->position += std::uint64_t(n);
        return tmsize_t(n);
    }

    static toff_t seek(thandle_t handle, toff_t offset, int whence) {
        auto* s = static_cast<Stream*>(handle);
        std::uint64_t base = 0;
        if (whence == SEEK_CUR)
            base = s->position;
        else if (whence == SEEK_END)
            base = s->source->size();
        // libtiff passes a negative offset as its two's complement.
        s->position = base + offset;
        return s->position;
    }

    static toff_t size(thandle_t handle) { return static_cast<Stream*>(handle)->source->size(); }
};

std::uint64_t FileTiffSource::size() const {
    return m_file.size();
}

std::int64_t FileTiffSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    return m_file.readAt(offset, buffer, count);
}

std::int64_t MemoryTiffSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset >= size())
        return 0;
    const std::size_t n = std::size_t(std::min<std::uint64_t>(count, size() - offset));
    std::memcpy(buffer, m_bytes.constData() + offset, n);
    return std::int64_t(n);
}

OpenTiff::OpenTiff(const TiffSource& source, TiffMessages& messages, std::int64_t maxAllocation)
    : m_stream(new Stream{&source, 0}) {
    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                             &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &messages);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(maxAllocation));
    m_tif = TIFFClientOpenExt("input", "rm", m_stream.get(), Stream::read, writeProc, Stream::seek,
                              closeProc, Stream::size, mapProc, unmapProc, options.get());
}

OpenTiff::~OpenTiff() {
    if (m_tif)
        TIFFClose(m_tif);
}

QString tiffHeaderProblem(const TiffSource& source) {
    if (source.size() == 0)
        return engine::Texts::tr("the file is empty");
    unsigned char head[16] = {};
    const std::int64_t n = source.readAt(0, head, sizeof head);
    if (n < 0)
        return engine::Texts::tr("the file could not be read");
    const bool little = head[0] == 'I' && head[1] == 'I';
    const bool big = head[0] == 'M' && head[1] == 'M';
    const unsigned version = little ? head[2] | unsigned(head[3]) << 8 : head[2] << 8 | head[3];
    if (n < 2 || (!little && !big))
        return engine::Texts::tr("not a TIFF file");
    if (n < 4)
        return engine::Texts::tr("the TIFF header is incomplete");
    if (version != 42 && version != 43)
        return engine::Texts::tr("not a TIFF file");
    if (n < (version == 42 ? 8 : 16))
        return engine::Texts::tr("the TIFF header is incomplete");
    return {};
}

QString regularFileProblem(int status) {
    switch (platform::RegularFile::Status(status)) {
    case platform::RegularFile::Status::Missing:
        return engine::Texts::tr("the file is not there");
    case platform::RegularFile::Status::NotRegular:
        return engine::Texts::tr("not a regular file");
    case platform::RegularFile::Status::Unreadable:
        return engine::Texts::tr("the file may not be read");
    case platform::RegularFile::Status::LinkLoops:
        return engine::Texts::tr("the name is a symbolic link that loops");
    case platform::RegularFile::Status::Opened:
        break;
    }
    return {};
}

} // namespace vormelle::engine
