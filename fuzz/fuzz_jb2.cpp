// SPDX-License-Identifier: GPL-3.0-or-later
// JB2 round trip: any bitmap the input describes codes to a page that DjVuLibre's own decoder
// gives back pixel for pixel, with and without refinements, and codes to the same bytes twice.
#include "codec/iff.h"
#include "codec/jb2page.h"
#include "fuzz/fuzzcheck.h"

#include <libdjvu/ddjvuapi.h>

#include <memory>
#include <vector>

namespace {

using vormelle::codec::Bytes;

void handle(ddjvu_context_t* context, ddjvu_document_t* document) {
    ddjvu_message_wait(context);
    while (const ddjvu_message_t* message = ddjvu_message_peek(context)) {
        if (message->m_any.tag == DDJVU_NEWSTREAM && message->m_newstream.streamid != 0)
            ddjvu_stream_close(document, message->m_newstream.streamid, 1);
        ddjvu_message_pop(context);
    }
}

void releaseDocument(ddjvu_document_t* d) {
    ddjvu_document_release(d);
}
void releasePage(ddjvu_page_t* p) {
    ddjvu_page_release(p);
}

// The page's pixels as DjVuLibre renders them, 1 byte a pixel, 1 for black; empty when it
// cannot decode the file.
std::vector<std::uint8_t> render(const Bytes& file, int width, int height) {
    static ddjvu_context_t* context = ddjvu_context_create("vormelle-fuzz");
    std::unique_ptr<ddjvu_document_t, decltype(&releaseDocument)> document(
        ddjvu_document_create(context, nullptr, 0), &releaseDocument);
    ddjvu_stream_write(document.get(), 0, reinterpret_cast<const char*>(file.data()),
                       (unsigned long)file.size());
    ddjvu_stream_close(document.get(), 0, 0);
    while (!ddjvu_document_decoding_done(document.get()))
        handle(context, document.get());
    if (ddjvu_document_decoding_error(document.get()))
        return {};
    std::unique_ptr<ddjvu_page_t, decltype(&releasePage)> page(
        ddjvu_page_create_by_pageno(document.get(), 0), &releasePage);
    while (!ddjvu_page_decoding_done(page.get()))
        handle(context, document.get());
    if (ddjvu_page_decoding_error(page.get()))
        return {};
    std::unique_ptr<ddjvu_format_t, decltype(&ddjvu_format_release)> format(
        ddjvu_format_create(DDJVU_FORMAT_GREY8, 0, nullptr), &ddjvu_format_release);
    ddjvu_format_set_row_order(format.get(), 1);
    std::vector<std::uint8_t> grey(std::size_t(width) * std::size_t(height), 255);
    ddjvu_rect_t rect{0, 0, unsigned(width), unsigned(height)};
    // Nothing to render is a blank page.
    ddjvu_page_render(page.get(), DDJVU_RENDER_COLOR, &rect, &rect, format.get(),
                      (unsigned long)width, reinterpret_cast<char*>(grey.data()));
    for (std::uint8_t& v : grey)
        v = v < 128;
    return grey;
}

} // namespace

// Input: width and height (1 to 256 each), a byte of flags, then the pixels' bits row by row,
// repeated when the input runs short.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const int width = data[0] + 1;
    const int height = data[1] + 1;
    const std::uint8_t flags = data[2];
    const std::uint8_t* bits = data + 3;
    const std::size_t bitCount = (size - 3) * 8;
    const std::ptrdiff_t stride = (width + 7) / 8;
    std::vector<std::uint8_t> packed(std::size_t(stride) * std::size_t(height), 0);
    std::vector<std::uint8_t> want(std::size_t(width) * std::size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t i = (std::size_t(y) * std::size_t(width) + std::size_t(x)) % bitCount;
            // Sparse pages (many small shapes that repeat) when the flags ask for them.
            bool black = (bits[i / 8] >> (7 - i % 8)) & 1;
            if (flags & 1)
                black = black && ((bits[(i / 8 + 1) % (size - 3)] >> (i % 8)) & 1);
            if (black) {
                packed[std::size_t(y * stride + x / 8)] |= std::uint8_t(0x80 >> (x % 8));
                want[std::size_t(y) * std::size_t(width) + std::size_t(x)] = 1;
            }
        }
    using namespace vormelle::codec;
    const PageView view{PixelKind::Bitonal, width, height, 300, packed.data(), stride};
    Jb2Options options;
    options.refine = !(flags & 2);
    const Bytes sjbz = encodeJb2Page(view, options);
    FUZZ_CHECK(!sjbz.empty());
    FUZZ_CHECK(encodeJb2Page(view, options) == sjbz);
    const std::optional<Bytes> file = fileBytes(Chunk::form(
        "DJVU", {Chunk::data("INFO", infoChunk(width, height, 300)), Chunk::data("Sjbz", sjbz)}));
    FUZZ_CHECK(file.has_value());
    FUZZ_CHECK(render(*file, width, height) == want);
    return 0;
}
