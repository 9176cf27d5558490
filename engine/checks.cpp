// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/checks.h"

#include "codec/iff.h"

#include <QFile>

#include <libdjvu/ddjvuapi.h>
#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace vormelle::engine {

namespace {

void releaseDocument(ddjvu_document_t* document) {
    ddjvu_document_release(document);
}

} // namespace

void prepareDjvuDecoder() {
    // DjVuLibre fills its message catalogue at the first context, without a lock: two workers
    // checking their first pages at once crashed in it. Doing it once, here, settles it.
    static std::once_flag once;
    std::call_once(once, [] {
        if (ddjvu_context_t* context = ddjvu_context_create("vormelle"))
            ddjvu_context_release(context);
    });
}

bool isTiffPage(TIFF* tif) {
    uint16_t pageNumber = 0;
    uint16_t pages = 0;
    if (TIFFGetField(tif, TIFFTAG_PAGENUMBER, &pageNumber, &pages))
        return true;
    uint32_t subfileType = 0;
    if (!TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfileType))
        return true;
    return subfileType == 0 || (subfileType & FILETYPE_PAGE) != 0;
}

namespace {

// A DjVu document read from its bytes, with the context that decodes it.
struct OpenDjvu {
    std::unique_ptr<ddjvu_context_t, decltype(&ddjvu_context_release)> context{
        nullptr, &ddjvu_context_release};
    std::unique_ptr<ddjvu_document_t, decltype(&releaseDocument)> document{nullptr,
                                                                           &releaseDocument};

    // Handles the messages that have come; a document in several files asks for the others:
    // there are none.
    void handleMessages() {
        while (const ddjvu_message_t* message = ddjvu_message_peek(context.get())) {
            if (message->m_any.tag == DDJVU_NEWSTREAM && message->m_newstream.streamid != 0)
                ddjvu_stream_close(document.get(), message->m_newstream.streamid, 1);
            ddjvu_message_pop(context.get());
        }
    }
};

// Results are fed to DjVuLibre in pieces of this size.
constexpr qint64 kFeedBytes = qint64(1) << 20;

// The document with its directory decoded; empty when it does not open.
std::optional<OpenDjvu> openDjvu(const QString& path) {
    // The bytes are handed over as a stream: DjVuLibre keeps what it read from a file name for
    // the life of the process, and each row's result has the same name.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(codec::kMaxChunkContent) + 12)
        return std::nullopt;
    prepareDjvuDecoder();
    OpenDjvu open;
    open.context.reset(ddjvu_context_create("vormelle"));
    if (!open.context)
        return std::nullopt;
    open.document.reset(ddjvu_document_create(open.context.get(), nullptr, 0));
    if (!open.document)
        return std::nullopt;
    QByteArray piece;
    for (;;) {
        piece = file.read(kFeedBytes);
        if (piece.isEmpty())
            break;
        ddjvu_stream_write(open.document.get(), 0, piece.constData(),
                           static_cast<unsigned long>(piece.size()));
    }
    const bool whole = file.error() == QFileDevice::NoError && file.atEnd();
    ddjvu_stream_close(open.document.get(), 0, whole ? 0 : 1);
    if (!whole)
        return std::nullopt;
    while (!ddjvu_document_decoding_done(open.document.get())) {
        ddjvu_message_wait(open.context.get());
        open.handleMessages();
    }
    if (ddjvu_document_decoding_error(open.document.get()))
        return std::nullopt;
    return open;
}

// DjVuLibre's decoding contexts are not safe to run side by side: two workers checking their
// results at once now and then saw a sound page refused. One check at a time costs little.
std::mutex& djvuCheckLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

qint64 djvuResultBound(int pages, qint64 largestPixels) {
    constexpr qint64 kPerPage = qint64(1) << 20;
    const qint64 limit = qint64(codec::kMaxChunkContent) + 12;
    const qint64 page = std::min(std::max<qint64>(largestPixels, 0), limit / 4) * 4 + kPerPage;
    return pages <= 0 ? kPerPage : std::min(limit, kPerPage + std::min(limit, page) * pages);
}

std::optional<int> djvuPageCount(const QString& path) {
    const std::lock_guard<std::mutex> hold(djvuCheckLock());
    const std::optional<OpenDjvu> open = openDjvu(path);
    if (!open)
        return std::nullopt;
    const int pages = ddjvu_document_get_pagenum(open->document.get());
    return pages > 0 ? std::optional<int>(pages) : std::nullopt;
}

QList<QSize> djvuPageSizes(const QString& path) {
    const std::lock_guard<std::mutex> hold(djvuCheckLock());
    std::optional<OpenDjvu> open = openDjvu(path);
    if (!open)
        return {};
    QList<QSize> sizes;
    const int pages = ddjvu_document_get_pagenum(open->document.get());
    for (int i = 0; i < pages; ++i) {
        ddjvu_pageinfo_t info{};
        ddjvu_status_t status = DDJVU_JOB_NOTSTARTED;
        while ((status = ddjvu_document_get_pageinfo(open->document.get(), i, &info)) <
               DDJVU_JOB_OK) {
            ddjvu_message_wait(open->context.get());
            open->handleMessages();
        }
        if (status != DDJVU_JOB_OK)
            return {};
        // As stored, before any turn: the hidden text is placed on the stored image.
        sizes.append(QSize(info.width, info.height));
    }
    return sizes;
}

} // namespace vormelle::engine
