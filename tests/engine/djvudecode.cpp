// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/djvudecode.h"

#include <QFile>

#include <libdjvu/ddjvuapi.h>
#include <tiffio.h>

#include <cmath>
#include <memory>
#include <vector>

namespace vormelle::test {

namespace {

void handle(ddjvu_context_t* context, ddjvu_document_t* document) {
    ddjvu_message_wait(context);
    while (const ddjvu_message_t* message = ddjvu_message_peek(context)) {
        if (message->m_any.tag == DDJVU_NEWSTREAM && message->m_newstream.streamid != 0)
            ddjvu_stream_close(document, message->m_newstream.streamid, 1);
        ddjvu_message_pop(context);
    }
}

// Both are macros over ddjvu_job_release.
void releaseDocument(ddjvu_document_t* document) {
    ddjvu_document_release(document);
}

void releasePage(ddjvu_page_t* page) {
    ddjvu_page_release(page);
}

} // namespace

QList<DjvuPage> decodeDjvu(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::unique_ptr<ddjvu_context_t, decltype(&ddjvu_context_release)> context(
        ddjvu_context_create("vormelle-test"), &ddjvu_context_release);
    std::unique_ptr<ddjvu_document_t, decltype(&releaseDocument)> document(
        ddjvu_document_create(context.get(), nullptr, 0), &releaseDocument);
    ddjvu_stream_write(document.get(), 0, bytes.constData(), (unsigned long)bytes.size());
    ddjvu_stream_close(document.get(), 0, 0);
    while (!ddjvu_document_decoding_done(document.get()))
        handle(context.get(), document.get());
    if (ddjvu_document_decoding_error(document.get()))
        return {};
    std::unique_ptr<ddjvu_format_t, decltype(&ddjvu_format_release)> format(
        ddjvu_format_create(DDJVU_FORMAT_RGB24, 0, nullptr), &ddjvu_format_release);
    ddjvu_format_set_row_order(format.get(), 1);
    QList<DjvuPage> pages;
    for (int i = 0; i < ddjvu_document_get_pagenum(document.get()); ++i) {
        std::unique_ptr<ddjvu_page_t, decltype(&releasePage)> page(
            ddjvu_page_create_by_pageno(document.get(), i), &releasePage);
        while (!ddjvu_page_decoding_done(page.get()))
            handle(context.get(), document.get());
        if (ddjvu_page_decoding_error(page.get()))
            return {};
        DjvuPage out;
        out.dpi = ddjvu_page_get_resolution(page.get());
        const int w = ddjvu_page_get_width(page.get());
        const int h = ddjvu_page_get_height(page.get());
        out.image = QImage(w, h, QImage::Format_RGB888);
        ddjvu_rect_t rect{0, 0, unsigned(w), unsigned(h)};
        if (!ddjvu_page_render(page.get(), DDJVU_RENDER_COLOR, &rect, &rect, format.get(),
                               (unsigned long)out.image.bytesPerLine(),
                               reinterpret_cast<char*>(out.image.bits())))
            out.image.fill(Qt::white); // nothing to render: a blank page
        pages.append(out);
    }
    return pages;
}

QList<QImage> readTiffPixels(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return {};
    QList<QImage> pages;
    do {
        uint32_t subfile = 0;
        if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile) && (subfile & FILETYPE_REDUCEDIMAGE))
            continue;
        uint32_t w = 0;
        uint32_t h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        std::vector<uint32_t> raster(size_t(w) * h);
        if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            TIFFClose(tif);
            return {};
        }
        QImage image(int(w), int(h), QImage::Format_RGB888);
        for (uint32_t y = 0; y < h; ++y) {
            uchar* line = image.scanLine(int(y));
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t p = raster[size_t(y) * w + x];
                const uint32_t a = TIFFGetA(p);
                line[3 * x] = uchar(std::min(255u, TIFFGetR(p) + 255 - a));
                line[3 * x + 1] = uchar(std::min(255u, TIFFGetG(p) + 255 - a));
                line[3 * x + 2] = uchar(std::min(255u, TIFFGetB(p) + 255 - a));
            }
        }
        pages.append(image);
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

qint64 differentPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    qint64 n = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width(); ++i)
            n += p[3 * i] != q[3 * i] || p[3 * i + 1] != q[3 * i + 1] ||
                 p[3 * i + 2] != q[3 * i + 2];
    }
    return n;
}

double psnr(const QImage& a, const QImage& b, const QRect& area) {
    if (a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    const QRect r = area.isNull() ? x.rect() : area.intersected(x.rect());
    double sum = 0;
    for (int row = r.top(); row <= r.bottom(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 3 * r.left(); i < 3 * (r.right() + 1); ++i) {
            const double d = double(p[i]) - q[i];
            sum += d * d;
        }
    }
    const double mse = sum / (3.0 * r.width() * r.height());
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace vormelle::test
