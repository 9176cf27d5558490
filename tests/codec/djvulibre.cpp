// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/codec/djvulibre.h"

#include <QFile>
#include <QProcess>

#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>

#include <memory>

namespace vormelle::test {

namespace {

void handle(ddjvu_context_t* context) {
    ddjvu_message_wait(context);
    while (ddjvu_message_peek(context))
        ddjvu_message_pop(context);
}

void releaseDocument(ddjvu_document_t* document) {
    ddjvu_document_release(document);
}

// miniexp's printer, collected into a string.
QByteArray printed(miniexp_t expression) {
    struct Collect {
        static int puts(miniexp_io_t* io, const char* s) {
            static_cast<QByteArray*>(io->data[0])->append(s);
            return 0;
        }
    };
    QByteArray out;
    miniexp_io_t io;
    miniexp_io_init(&io);
    io.fputs = &Collect::puts;
    io.data[0] = &out;
    miniexp_pprint_r(&io, expression, 72);
    return out.trimmed();
}

} // namespace

std::optional<DjvuStructure> readWithDjvuLibre(const QString& path) {
    std::unique_ptr<ddjvu_context_t, decltype(&ddjvu_context_release)> context(
        ddjvu_context_create("vormelle-test"), &ddjvu_context_release);
    std::unique_ptr<ddjvu_document_t, decltype(&releaseDocument)> document(
        ddjvu_document_create_by_filename_utf8(context.get(), path.toUtf8().constData(), 0),
        &releaseDocument);
    if (!document)
        return std::nullopt;
    while (!ddjvu_document_decoding_done(document.get()))
        handle(context.get());
    if (ddjvu_document_decoding_error(document.get()))
        return std::nullopt;
    DjvuStructure s;
    s.pages = ddjvu_document_get_pagenum(document.get());
    for (int f = 0; f < ddjvu_document_get_filenum(document.get()); ++f) {
        ddjvu_fileinfo_t info;
        ddjvu_status_t r;
        while ((r = ddjvu_document_get_fileinfo(document.get(), f, &info)) < DDJVU_JOB_OK)
            handle(context.get());
        if (r != DDJVU_JOB_OK)
            return std::nullopt;
        s.components << QString(QLatin1Char(info.type)) + QLatin1Char(' ') +
                            QString::fromUtf8(info.id);
    }
    for (int p = 0; p < s.pages; ++p) {
        ddjvu_pageinfo_t info;
        ddjvu_status_t r;
        while ((r = ddjvu_document_get_pageinfo(document.get(), p, &info)) < DDJVU_JOB_OK)
            handle(context.get());
        if (r != DDJVU_JOB_OK)
            return std::nullopt;
        s.sizes << QSize(info.width, info.height);
        miniexp_t text;
        while ((text = ddjvu_document_get_pagetext(document.get(), p, nullptr)) == miniexp_dummy)
            handle(context.get());
        s.texts << (text == miniexp_nil ? QString() : QString::fromUtf8(printed(text)));
        ddjvu_miniexp_release(document.get(), text);
        miniexp_t anno;
        while ((anno = ddjvu_document_get_pageanno(document.get(), p)) == miniexp_dummy)
            handle(context.get());
        s.annotations << (anno == miniexp_nil ? QString() : QString::fromUtf8(printed(anno)));
        ddjvu_miniexp_release(document.get(), anno);
    }
    return s;
}

std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments,
                                  const QByteArray& input) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted())
        return std::nullopt;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

std::optional<QByteArray> bzzDecodeWithDjvuLibre(const QByteArray& bzz) {
    return runTool(QStringLiteral("bzz"),
                   {QStringLiteral("-d"), QStringLiteral("-"), QStringLiteral("-")}, bzz);
}

} // namespace vormelle::test
