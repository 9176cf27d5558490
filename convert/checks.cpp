#include "convert/checks.h"

#include <QFile>

#include <libdjvu/ddjvuapi.h>
#include <tiffio.h>

#include <memory>

namespace vormelle::convert {

namespace {

void releaseDocument(ddjvu_document_t* document) {
    ddjvu_document_release(document);
}

} // namespace

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

std::optional<int> djvuPageCount(const QString& path) {
    // The bytes are handed over as a stream: DjVuLibre keeps what it read from a file name for
    // the life of the process, and each row's result has the same name.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    file.close();
    std::unique_ptr<ddjvu_context_t, decltype(&ddjvu_context_release)> context(
        ddjvu_context_create("vormelle"), &ddjvu_context_release);
    if (!context)
        return std::nullopt;
    std::unique_ptr<ddjvu_document_t, decltype(&releaseDocument)> document(
        ddjvu_document_create(context.get(), nullptr, 0), &releaseDocument);
    if (!document)
        return std::nullopt;
    ddjvu_stream_write(document.get(), 0, bytes.constData(),
                       static_cast<unsigned long>(bytes.size()));
    ddjvu_stream_close(document.get(), 0, 0);
    while (!ddjvu_document_decoding_done(document.get())) {
        ddjvu_message_wait(context.get());
        while (const ddjvu_message_t* message = ddjvu_message_peek(context.get())) {
            // A document in several files asks for the others: there are none.
            if (message->m_any.tag == DDJVU_NEWSTREAM && message->m_newstream.streamid != 0)
                ddjvu_stream_close(document.get(), message->m_newstream.streamid, 1);
            ddjvu_message_pop(context.get());
        }
    }
    if (ddjvu_document_decoding_error(document.get()))
        return std::nullopt;
    const int pages = ddjvu_document_get_pagenum(document.get());
    return pages > 0 ? std::optional<int>(pages) : std::nullopt;
}

} // namespace vormelle::convert
