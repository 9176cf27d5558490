// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ocr.h"

#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
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
#include <optional>
#include <vector>

namespace vormelle::engine {

namespace {

constexpr char kTextTool[] = "djvused";

// A DjVu box from a box with its origin at the top left, scaled to the DjVu page.
QByteArray djvuBox(const QRect& box, const QSize& from, const QSize& to) {
    const double sx = from.width() > 0 ? double(to.width()) / from.width() : 1;
    const double sy = from.height() > 0 ? double(to.height()) / from.height() : 1;
    const int x0 = qRound(box.left() * sx);
    const int x1 = qRound((box.left() + box.width()) * sx);
    const int y0 = to.height() - qRound((box.top() + box.height()) * sy);
    const int y1 = to.height() - qRound(box.top() * sy);
    return QByteArray::number(std::max(x0, 0)) + ' ' + QByteArray::number(std::max(y0, 0)) + ' ' +
           QByteArray::number(std::min(x1, to.width())) + ' ' +
           QByteArray::number(std::min(y1, to.height()));
}

// A djvused string: UTF-8 with quotes and backslashes escaped, control characters in octal.
QByteArray quoted(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            out += '\\';
            out += QByteArray::number(u, 8).rightJustified(3, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Runs djvused to its end; "" when it ended with 0.
QString runTextTool(const QStringList& arguments, const QString& workFolder,
                    const std::atomic<bool>* stop, bool& stopped) {
    const RunResult ran =
        runToEnd({QStandardPaths::findExecutable(QString::fromLatin1(kTextTool)), arguments,
                  converterEnvironment(workFolder, platform::localeIsUtf8())},
                 stop);
    if (ran.stopped) {
        stopped = true;
        return engine::Texts::tr("the conversion was stopped");
    }
    if (ran.code != 0 || ran.signal != 0)
        return converterReason(kTextTool, ran.code, ran.signal, ran.output);
    return {};
}

// One row of RGB as the grey Tesseract looks at.
void toGrey(const uchar* rgb, int width, uchar* grey) {
    for (int x = 0; x < width; ++x)
        grey[x] =
            uchar((299 * rgb[3 * x] + 587 * rgb[3 * x + 1] + 114 * rgb[3 * x + 2] + 500) / 1000);
}

} // namespace

QByteArray textLayerExpression(const PageText& page, const QSize& djvuPage) {
    const QSize to = djvuPage.isValid() ? djvuPage : page.size;
    QByteArray out =
        "(page 0 0 " + QByteArray::number(to.width()) + ' ' + QByteArray::number(to.height());
    for (const OcrParagraph& p : page.paragraphs) {
        out += "\n (para " + djvuBox(p.box, page.size, to);
        for (const OcrLine& l : p.lines) {
            out += "\n  (line " + djvuBox(l.box, page.size, to);
            for (const OcrWord& w : l.words)
                out += "\n   (word " + djvuBox(w.box, page.size, to) + ' ' + quoted(w.text) + ')';
            out += ')';
        }
        out += ')';
    }
    return out + ')';
}

PageText recognizePage(Recognizer& recognizer, const uchar* pixels, PixelKind kind, int width,
                       int height, qsizetype stride, int dpi, const std::atomic<bool>* stop) {
    if (kind != PixelKind::Colour)
        return recognizer.recognize(pixels, width, height, kind == PixelKind::Bitonal ? 0 : 1,
                                    stride, dpi, stop);
    std::vector<uchar> grey(size_t(std::max(width, 0)) * size_t(std::max(height, 0)));
    for (int y = 0; y < height; ++y) {
        const uchar* row = pixels + qsizetype(y) * stride;
        toGrey(row, width, grey.data() + size_t(y) * size_t(width));
    }
    return recognizer.recognize(grey.data(), width, height, 1, width, dpi, stop);
}

QByteArray pageTextCommands(int number, const PageText& text, const QSize& djvuPage) {
    return "select " + QByteArray::number(number) + "\nset-txt\n" +
           textLayerExpression(text, djvuPage) + "\n.\n";
}

QString runTextCommands(const QByteArray& commands, const QString& djvu, const QString& workFolder,
                        const std::atomic<bool>* stop, bool& stopped) {
    const QString scriptPath = workFolder + QStringLiteral("/text.dsed");
    QFile scriptFile(scriptPath);
    if (!scriptFile.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        scriptFile.write(commands) != commands.size() || !scriptFile.flush()) {
        const QString why = scriptFile.errorString();
        scriptFile.close();
        QFile::remove(scriptPath);
        return engine::Texts::tr("cannot write in the temporary folder: %1").arg(why);
    }
    scriptFile.close();
    const QString problem = runTextTool(
        {QStringLiteral("-s"), QStringLiteral("-f"), scriptPath, djvu}, workFolder, stop, stopped);
    QFile::remove(scriptPath);
    return problem;
}

namespace {

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

    QByteArray script;
    std::vector<uchar> pixels;
    while (reader.nextPage()) {
        const int number = reader.pageNumber();
        if (number > sizes.size()) {
            result.problem = engine::Texts::tr("the DjVu result has fewer pages than the TIFF");
            return result;
        }
        const PageFormat& f = reader.format();
        // Colour is kept as grey row by row, a third of its size.
        const bool colour = f.kind == PixelKind::Colour;
        const qsizetype stride = colour ? f.width : reader.rowBytes();
        pixels.assign(size_t(stride) * size_t(f.height), 0);
        for (int y = 0; y < f.height; ++y) {
            const uchar* row = reader.nextRow();
            if (!row) {
                result.problem = reader.problem();
                return result;
            }
            uchar* to = pixels.data() + size_t(y) * size_t(stride);
            if (colour)
                toGrey(row, f.width, to);
            else
                std::copy_n(row, stride, to);
        }
        const PageText text =
            recognizePage(recognizer, pixels.data(), colour ? PixelKind::Grey : f.kind, f.width,
                          f.height, stride, f.dpi, stop);
        if (stop && stop->load()) {
            result.stopped = true;
            result.problem = engine::Texts::tr("the conversion was stopped");
            return result;
        }
        if (text.isEmpty()) {
            result.pagesWithout.append(number);
            continue;
        }
        script += pageTextCommands(number, text, sizes[number - 1]);
    }
    if (!reader.problem().isEmpty()) {
        result.problem = reader.problem();
        return result;
    }
    if (script.isEmpty())
        return result; // nothing found anywhere: the document stays as it is

    // djvused saves in place: it works on a copy, which replaces the document when all is well.
    const QString copy = workFolder + QStringLiteral("/text.djvu");
    QFile::remove(copy);
    if (!QFile::copy(djvu, copy)) {
        result.problem = engine::Texts::tr("cannot write in the temporary folder: %1")
                             .arg(engine::Texts::tr("the result could not be copied"));
        QFile::remove(copy);
        return result;
    }
    result.problem = runTextCommands(script, copy, workFolder, stop, result.stopped);
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
