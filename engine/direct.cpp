#include "engine/direct.h"

#include "engine/commands.h"
#include "engine/ocr.h"
#include "engine/outcome.h"
#include "engine/pagereader.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "platform/basicerror.h"
#include "platform/memoryfile.h"
#include "platform/process.h"
#include "platform/regularfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <optional>

namespace vormelle::engine {

namespace {

QString toolPath(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

struct Encoding {
    QString workFolder;
    const std::atomic<bool>* stop = nullptr;
    platform::EnvironmentChanges environment;
    QStringList made; // files to remove at the end
    bool stopped = false;

    bool stopRequested() const { return stop && stop->load(); }

    // Runs one encoder to its end; "" when it ended with 0 and wrote `output`.
    QString run(const char* tool, const Command& command, const QString& output) {
        const RunResult ran = runToEnd(command, stop);
        if (ran.stopped)
            return stoppedProblem();
        Step step{QString::fromLatin1(tool), ran.code, ran.signal, {}};
        step.wroteNothing = !step.failed() && !QFile::exists(output);
        if (step.failed())
            step.output = ran.output;
        steps.append(step);
        if (ran.code != 0 || ran.signal != 0)
            return converterReason(tool, ran.code, ran.signal, ran.output);
        if (step.wroteNothing)
            return engine::Texts::tr("%1 wrote no DjVu file").arg(QLatin1String(tool));
        return {};
    }

    QString path(const QString& name) const { return workFolder + QLatin1Char('/') + name; }

    QString stoppedProblem() {
        stopped = true;
        return engine::Texts::tr("the conversion was stopped");
    }

    // Decodes the page once, whole, into a PBM, PGM or PPM in memory, which the encoder reads
    // through its descriptor and Tesseract (with a text layer) through the mapping; the encoder
    // writes `page`.
    QString encodePage(TiffPageReader& reader, const QString& page, Recognizer* recognizer) {
        const PageFormat& f = reader.format();
        const bool bitonal = f.kind == PixelKind::Bitonal;
        const char* magic = bitonal ? "P4" : f.kind == PixelKind::Grey ? "P5" : "P6";
        QByteArray header = QByteArray(magic) + '\n' + QByteArray::number(f.width) + ' ' +
                            QByteArray::number(f.height) + '\n';
        if (!bitonal)
            header += "255\n";
        const qsizetype rowBytes = reader.rowBytes();
        std::optional<platform::MemoryFile> image;
        try {
            image.emplace(header.size() + rowBytes * qsizetype(f.height));
        } catch (const BasicError& e) {
            return engine::Texts::tr("no memory for the page: %1").arg(e.description());
        }
        uchar* pixels = image->data() + header.size();
        std::copy_n(header.constData(), header.size(), image->data());
        for (int y = 0; y < f.height; ++y) {
            const uchar* row = reader.nextRow();
            if (!row)
                return reader.problem();
            std::copy_n(row, rowBytes, pixels + qsizetype(y) * rowBytes);
            if (y % 256 == 0 && stopRequested())
                return stoppedProblem();
        }

        made << page;
        Command encoder{toolPath(bitonal ? kBitonalEncoder : kPhotoEncoder),
                        {QStringLiteral("-dpi"), QString::number(f.dpi)},
                        environment};
        // c44 halves the colour planes by default, which blurs coloured text below 35 dB;
        // full-size planes keep it sharp for about a sixth more bytes.
        if (f.kind == PixelKind::Colour)
            encoder.arguments << QStringLiteral("-crcbfull");
        encoder.arguments << handOver(encoder, image->descriptor()) << page;
        QString problem = run(bitonal ? kBitonalEncoder : kPhotoEncoder, encoder, page);
        if (problem.isEmpty() && recognizer) {
            // The DjVu page has the pixels' size: the boxes need no scaling.
            const PageText text = recognizePage(*recognizer, pixels, f.kind, f.width, f.height,
                                                rowBytes, f.dpi, stop);
            if (stopRequested())
                return stoppedProblem();
            if (text.isEmpty())
                pagesWithoutText.append(reader.pageNumber());
            else
                textCommands +=
                    pageTextCommands(reader.pageNumber(), text, QSize(f.width, f.height));
        }
        return problem;
    }

    // Puts the pages' text into `document` with one djvused call. A failure costs the document
    // its text only: it is made again from the pages (or its copy, for a single page).
    QString addText(const QString& document, const QStringList& pages) {
        const QString spare = path(QStringLiteral("spare.djvu"));
        const bool single = pages.size() == 1;
        if (single) {
            made << spare;
            if (!QFile::copy(document, spare))
                return engine::Texts::tr("cannot write in the temporary folder: %1")
                    .arg(engine::Texts::tr("the result could not be copied"));
        }
        bool textStopped = false;
        const QString problem =
            runTextCommands(textCommands, document, workFolder, stop, textStopped);
        if (textStopped)
            stopped = true;
        if (problem.isEmpty() || textStopped)
            return problem;
        QFile::remove(document);
        const QString remade =
            single ? (QFile::rename(spare, document)
                          ? QString()
                          : engine::Texts::tr("cannot write in the temporary folder: %1")
                                .arg(document))
                   : run(kBundler, bundleCommand(document, pages), document);
        if (!remade.isEmpty())
            documentLost = remade;
        return problem;
    }

    Command bundleCommand(const QString& document, const QStringList& pages) const {
        return {toolPath(kBundler), QStringList{QStringLiteral("-c"), document} + pages,
                environment};
    }

    QByteArray textCommands;
    QList<int> pagesWithoutText;
    QList<Step> steps;
    QString documentLost; // why the document could not be made again after a failed text layer

    void cleanUp() {
        for (const QString& f : std::as_const(made))
            QFile::remove(f);
    }
};

} // namespace

DirectResult encodeDirect(const QString& tiffPath, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop,
                          Recognizer* recognizer) {
    const platform::RegularFile file(tiffPath);
    return encodeDirect(file, workFolder, resultDjvu, stop, recognizer);
}

DirectResult encodeDirect(const platform::RegularFile& tiff, const QString& workFolder,
                          const QString& resultDjvu, const std::atomic<bool>* stop,
                          Recognizer* recognizer) {
    DirectResult result;
    Encoding e;
    e.workFolder = QDir::cleanPath(workFolder);
    e.stop = stop;
    e.environment = converterEnvironment(e.workFolder, platform::localeIsUtf8());
    if (recognizer && !recognizer->problem().isEmpty()) {
        result.textProblem = recognizer->problem();
        recognizer = nullptr;
    }

    // Plain names in the work folder: the bundle names its pages after them, and DjVuLibre
    // never sees the user's file names.
    QStringList pages;
    TiffPageReader reader(tiff);
    while (result.problem.isEmpty() && reader.nextPage()) {
        if (e.stopRequested()) {
            result.problem = e.stoppedProblem();
            break;
        }
        const QString page =
            e.path(QStringLiteral("p%1.djvu").arg(reader.pageNumber(), 4, 10, QLatin1Char('0')));
        result.problem = e.encodePage(reader, page, recognizer);
        if (result.problem.isEmpty()) {
            pages << page;
            ++result.pages;
        }
    }
    if (result.problem.isEmpty())
        result.problem = reader.problem();
    if (result.problem.isEmpty() && pages.isEmpty())
        result.problem = engine::Texts::tr("the file has no pages");

    QString document = pages.value(0);
    if (result.problem.isEmpty() && pages.size() > 1) {
        document = e.path(QStringLiteral("bundle.djvu"));
        e.made << document;
        result.problem = e.run(kBundler, e.bundleCommand(document, pages), document);
    }
    if (result.problem.isEmpty() && !e.textCommands.isEmpty()) {
        result.textProblem = e.addText(document, pages);
        if (e.stopped)
            result.problem = result.textProblem;
        else if (!e.documentLost.isEmpty())
            result.problem = e.documentLost;
    }
    if (result.problem.isEmpty()) {
        QFile::remove(resultDjvu);
        if (!QFile::rename(document, resultDjvu))
            result.problem =
                engine::Texts::tr("cannot write in the temporary folder: %1").arg(resultDjvu);
    }
    e.made.removeAll(QDir::cleanPath(resultDjvu));
    e.cleanUp();
    result.stopped = e.stopped;
    result.pagesWithoutText = e.pagesWithoutText;
    result.steps = e.steps;
    if (!result.problem.isEmpty())
        result.pages = 0;
    return result;
}

QString directEncoderProblem() {
    for (const char* tool : {kBitonalEncoder, kPhotoEncoder, kBundler}) {
        if (toolPath(tool).isEmpty())
            return engine::Texts::tr(
                       "Nothing was converted: %1 was not found. DjVuLibre's encoders "
                       "cjb2, c44 and djvm must be on the PATH (Debian's package "
                       "djvulibre-bin).")
                .arg(QLatin1String(tool));
    }
    return {};
}

} // namespace vormelle::engine
