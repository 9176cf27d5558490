// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ocr.h"

#include "engine/bundle.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/memoryfile.h"
#include "platform/process.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace vormelle::engine {

namespace {

// One row of RGB as the grey Tesseract looks at.
void toGrey(const uchar* rgb, int width, uchar* grey) {
    for (int x = 0; x < width; ++x)
        grey[x] =
            uchar((299 * rgb[3 * x] + 587 * rgb[3 * x + 1] + 114 * rgb[3 * x + 2] + 500) / 1000);
}

} // namespace

PageText recognizePage(Recognizer& recognizer, const uchar* pixels, PixelKind kind, int width,
                       int height, qsizetype stride, int dpi, const std::atomic<bool>* stop,
                       const platform::MemoryFile* file) {
    if (kind != PixelKind::Colour)
        return recognizer.recognize(pixels, width, height, kind == PixelKind::Bitonal ? 0 : 1,
                                    stride, dpi, stop, file);
    // The helper reads the grey copy where it is made.
    const qsizetype bytes = qsizetype(std::max(width, 0)) * qsizetype(std::max(height, 0));
    std::optional<platform::MemoryFile> grey;
    try {
        grey.emplace(bytes);
    } catch (const BasicError& e) {
        PageText page;
        page.size = QSize(width, height);
        page.lost = e.reason().isEmpty() ? e.description() : e.reason();
        return page;
    }
    for (int y = 0; y < height; ++y) {
        const uchar* row = pixels + qsizetype(y) * stride;
        toGrey(row, width, grey->data() + qsizetype(y) * width);
    }
    return recognizer.recognize(grey->data(), width, height, 1, width, dpi, stop, &*grey);
}

namespace {

// The reader's page into `pixels`, `stride` bytes a row; colour is kept as grey row by row, a
// third of its size. Why not, when it cannot be.
QString readPixels(TiffPageReader& reader, qsizetype stride,
                   std::unique_ptr<platform::MemoryFile>& pixels) {
    const PageFormat& f = reader.format();
    const bool colour = f.kind == PixelKind::Colour;
    const qsizetype bytes = stride * qsizetype(f.height);
    try {
        if (!pixels || pixels->size() < bytes)
            pixels = std::make_unique<platform::MemoryFile>(bytes);
    } catch (const BasicError& e) {
        return e.reason().isEmpty() ? e.description() : e.reason();
    }
    for (int y = 0; y < f.height; ++y) {
        const uchar* row = reader.nextRow();
        if (!row) {
            const QString problem = reader.problem();
            return problem.isEmpty() ? engine::Texts::tr("the file could not be read") : problem;
        }
        uchar* to = pixels->data() + qsizetype(y) * stride;
        if (colour)
            toGrey(row, f.width, to);
        else
            std::copy_n(row, stride, to);
    }
    return {};
}

// What the closing box and the log say of page `number`'s reading.
void noteOf(TextLayerResult& result, int number, const PageText& text) {
    if (text.cutShort)
        result.pagesCutShort.append(number);
    if (text.turned != 0)
        result.pagesTurned.append({number, text.turned});
    if (text.orientationUnsure)
        result.pagesOrientationUnsure.append(number);
    if (!text.lost.isEmpty())
        result.pagesTextLost.append({number, text.lost});
    // A page cut short or lost says so already.
    if (text.isEmpty() && !text.cutShort && text.lost.isEmpty())
        result.pagesWithout.append(number);
}

TextLayerResult addTextLayerFrom(Recognizer& recognizer, TiffPageReader& reader,
                                 const QString& djvu, const QString& workFolder,
                                 const std::atomic<bool>* stop) {
    TextLayerResult result;
    if (!recognizer.problem().isEmpty()) {
        result.problem = recognizer.problem();
        return result;
    }
    const QList<QSize> sizes = djvuPageSizes(djvu);
    if (sizes.isEmpty()) {
        result.problem = engine::Texts::tr("the DjVu result could not be read");
        return result;
    }

    std::map<int, codec::TextZone> texts; // by page number
    // The page's pixels, where the recognition helper reads them.
    std::unique_ptr<platform::MemoryFile> pixels;
    while (reader.nextPage()) {
        const int number = reader.pageNumber();
        if (number > sizes.size()) {
            result.problem = engine::Texts::tr("the DjVu result has fewer pages than the TIFF");
            return result;
        }
        const PageFormat& f = reader.format();
        const bool colour = f.kind == PixelKind::Colour;
        const qsizetype stride = colour ? f.width : reader.rowBytes();
        result.problem = readPixels(reader, stride, pixels);
        if (!result.problem.isEmpty())
            return result;
        const PageText text =
            recognizePage(recognizer, pixels->data(), colour ? PixelKind::Grey : f.kind, f.width,
                          f.height, stride, f.dpi, stop, pixels.get());
        if (stop && stop->load()) {
            result.stopped = true;
            result.problem = engine::Texts::tr("the conversion was stopped");
            return result;
        }
        noteOf(result, number, text);
        if (!text.isEmpty())
            texts[number] = textZones(text, sizes[number - 1]);
    }
    if (!reader.problem().isEmpty()) {
        result.problem = reader.problem();
        return result;
    }
    if (texts.empty())
        return result; // nothing found anywhere: the document stays as it is

    // The document is written again with its pages' text, beside it, and replaces it when all
    // is well.
    const QString copy = workFolder + QStringLiteral("/text.djvu");
    QFile::remove(copy);
    result.problem = writeDocument({djvu}, copy, workFolder, texts);
    // One rename: the document is either the old one or the one with text, never gone.
    if (result.problem.isEmpty() && ::rename(platform::encodePath(copy).constData(),
                                             platform::encodePath(djvu).constData()) != 0)
        result.problem = engine::Texts::tr("cannot write in the temporary folder: %1")
                             .arg(platform::systemErrorText(errno));
    QFile::remove(copy);
    return result;
}

} // namespace

TextLayerResult addTextLayer(Recognizer& recognizer, const QString& tiff, const QString& djvu,
                             const QString& workFolder, const std::atomic<bool>* stop) {
    TiffPageReader reader(tiff);
    return addTextLayerFrom(recognizer, reader, djvu, workFolder, stop);
}

TextLayerResult addTextLayer(Recognizer& recognizer, const platform::RegularFile& tiff,
                             const QString& djvu, const QString& workFolder,
                             const std::atomic<bool>* stop) {
    TiffPageReader reader(tiff);
    return addTextLayerFrom(recognizer, reader, djvu, workFolder, stop);
}

} // namespace vormelle::engine
