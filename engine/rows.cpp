// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engineprivate.h"

#include "app/paths/paths.h"
#include "engine/bundle.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/deploy.h"
#include "engine/direct.h"
#include "engine/ocr.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "engine/tiffinspect.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/regularfile.h"
#include "platform/savefile.h"
#include "platform/tempfolder.h"
#include "resources/toolfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace vormelle::engine {

namespace {

constexpr char kFirstConverter[] = "tiff2pdf";
constexpr char kSecondConverterName[] = "pdf2djvu";

Step stepOf(const char* tool, const RunResult& ran) {
    return {QString::fromLatin1(tool), ran.code, ran.signal, ran.output};
}

// Gives a converter the row's own folder for its scratch files.
void useScratchFolder(Command& command, const QString& rowFolder) {
    for (auto& [name, value] : command.environment) {
        if (name == "TMPDIR")
            value = platform::encodePath(rowFolder);
    }
}

} // namespace

std::unique_ptr<Recognizer> Engine::Private::makeRecognizer(const TextStep& text) {
    auto recognizer = std::make_unique<Recognizer>(text.languages, text.programFolder);
    recognizer->setBoundScale(text.boundScale);
    return recognizer;
}

RowOutcome Engine::Private::convertRow(const RunRequest& request, int index, const QString& output,
                                       const QString& clash, const std::atomic<bool>& stop,
                                       TextStep* text) {
    QElapsedTimer clock;
    clock.start();
    RowOutcome row;
    row.index = index;
    row.input = request.inputs[index];
    row.fileName = paths::FileNameOf(row.input);
    row.output = output;
    row.route = request.route;
    row.textWanted = text != nullptr;
    row.started = true;
    // Nothing may escape a worker thread: whatever goes wrong is the row's outcome.
    try {
        reach(row, 138);
        row.problem = clash.isEmpty() ? outputProblem(output) : clash;
        if (!row.problem.isEmpty())
            return row;
        // What the converters would turn into wrong pages, or fail on with a message nobody
        // can act on, is named instead of converted. The file is opened once: the converters
        // read this same open file, so a file put in its place after the inspection (a FIFO, a
        // kind the converters get wrong) is never converted unchecked.
        reach(row, 150);
        const platform::RegularFile input(row.input);
        const TiffInspection inspection = inspectTiff(input, request.route);
        row.pageWidth = inspection.largestWidth;
        row.pageHeight = inspection.largestHeight;
        if (!inspection.problem.isEmpty()) {
            row.problem = inspection.problem;
            return row;
        }
        row.pages = inspection.pages;
        row.dpi = inspection.dpi;
        if (stop.load()) {
            row.stopped = true;
            return row;
        }
        reach(row, 152);
        const QString rowFolder = folder.path() + QStringLiteral("/row-%1").arg(index + 1);
        if (::mkdir(platform::encodePath(rowFolder).constData(), 0700) != 0) {
            row.problem = engine::Texts::tr("no folder for the row could be made in %1: %2")
                              .arg(folder.path(), platform::systemErrorText(errno));
            return row;
        }
        if (request.route == Route::Direct)
            convertDirectly(row, input, inspection, rowFolder, stop, text, request.colourPages,
                            request.lossy);
        else
            convertThroughPdf(row, input, inspection, rowFolder, stop, text);
        platform::removeTree(rowFolder);
    } catch (...) {
        // Not a reason for the closing box: the window reports it at its step, and the row
        // counts as not finished.
        row.errors.append({row.statement, std::current_exception()});
    }
    row.seconds = double(clock.elapsed()) / 1000;
    return row;
}

void Engine::Private::convertThroughPdf(RowOutcome& row, const platform::RegularFile& input,
                                        const TiffInspection& inspection, const QString& rowFolder,
                                        const std::atomic<bool>& stop, TextStep* text) {
    const QString pdf = rowFolder + QLatin1Char('/') + QString::fromLatin1(kPdfName);
    const QString result = rowFolder + QLatin1Char('/') + QString::fromLatin1(kResultName);
    // A converter that failed on a full temporary folder is named for that.
    auto noteSpace = [&](qint32 code) {
        if (code != 0 && platform::hasNoSpaceLeft(rowFolder))
            row.noSpaceIn = location;
    };

    Command first = firstConverter(folder.path());
    const QString handed = handOver(first, input.share());
    first.arguments = firstConverterArguments(handed, pdf, inspection.tiff2pdfOptions,
                                              !inspection.copyCompressedData);
    useScratchFolder(first, rowFolder);
    reach(row, 154);
    row.steps.append(stepOf(kFirstConverter, runToEnd(first, &stop)));
    Step& made = row.steps.last();
    // tiff2pdf names its input as it was handed; the closing box names the file.
    made.output.replace(handed.toUtf8(), platform::encodePath(row.input));
    noteSpace(made.result);
    reach(row, 156);
    if (stop.load()) {
        row.stopped = true;
        return;
    }
    made.wroteNothing = !made.failed() && !paths::FileExists(pdf);
    if (made.failed())
        return;

    reach(row, 162);
    // A file of several pages may use threads that no row holds (near the end of a run).
    const int extra = inspection.pages > 1 ? takeThreads(inspection.pages - 1) : 0;
    if (extra == 0) {
        Command second = secondConverter(programFolder, folder.path());
        second.arguments = secondConverterArguments(result, pdf, inspection.dpi, 1 + extra);
        useScratchFolder(second, rowFolder);
        row.steps.append(stepOf(kSecondConverterName, runToEnd(second, &stop)));
    } else {
        convertInParts(row, inspection, 1 + extra, pdf, result, rowFolder, stop);
    }
    giveThreads(extra);
    if (const Step* failed = failedStep(row))
        noteSpace(failed->result);
    if (stop.load()) {
        row.stopped = true;
        return;
    }
    if (row.problem.isEmpty())
        placeResult(row, input, inspection, result, stop, text);
}

// pdf2djvu's own threads share little of a row's work: its start, its page loop's bookkeeping and
// its bundling run on one. Separate pdf2djvu runs over page ranges, side by side, keep every
// thread busy; the codec's document writer then joins their documents in page order, in one
// write and with no argument list. Their page names come from the page numbers, so the parts
// never clash.
void Engine::Private::convertInParts(RowOutcome& row, const TiffInspection& inspection, int parts,
                                     const QString& pdf, const QString& result,
                                     const QString& rowFolder, const std::atomic<bool>& stop) {
    std::vector<std::optional<platform::ChildProcess>> children(static_cast<std::size_t>(parts));
    QStringList partFiles;
    Step converted{QString::fromLatin1(kSecondConverterName), 0, 0, {}};
    for (int k = 0; k < parts && converted.result == 0; ++k) {
        const int first = k * inspection.pages / parts + 1;
        const int last = (k + 1) * inspection.pages / parts;
        partFiles << rowFolder + QStringLiteral("/part-%1.djvu").arg(k + 1);
        Command command = secondConverter(programFolder, folder.path());
        command.arguments = secondConverterArguments(partFiles.last(), pdf, inspection.dpi, 1,
                                                     QStringLiteral("%1-%2").arg(first).arg(last));
        useScratchFolder(command, rowFolder);
        try {
            startChild(children[std::size_t(k)], command);
        } catch (const BasicError& e) {
            converted.result = kStartFailed + e.number();
            converted.output = startFailure(e);
        }
    }
    // One part failing dooms the row: the others are ended rather than waited for.
    bool ending = converted.result != 0;
    for (auto& child : children) {
        if (!child)
            continue;
        while (!child->waitFor(kPassLength)) {
            if (!ending && !stop.load())
                continue;
            for (auto& other : children) {
                if (other && !other->ended())
                    other->kill();
            }
        }
        if (converted.result == 0 && child->exitCode() != 0) {
            converted.result = child->exitCode();
            converted.output = child->output();
            converted.signal = child->endingSignal();
            ending = true;
        }
    }
    row.steps.append(converted);
    if (converted.result != 0 || stop.load())
        return;

    codec::Error error = codec::Error::None;
    row.problem = writeDocument(partFiles, result, rowFolder, {}, &error);
    if (error == codec::Error::NoSpace)
        row.noSpaceIn = location; // the failed step is named for it
    row.steps.append(Step{QString::fromLatin1(kDocumentWriter), row.problem.isEmpty() ? 0 : 1, 0,
                          row.problem.toUtf8()});
    for (const QString& part : std::as_const(partFiles))
        paths::DeleteFileQuietly(part);
    if (!row.problem.isEmpty())
        row.problem = engine::Texts::tr("the parts of the DjVu result could not be joined: %1")
                          .arg(row.problem);
}

void Engine::Private::convertDirectly(RowOutcome& row, const platform::RegularFile& input,
                                      const TiffInspection& inspection, const QString& rowFolder,
                                      const std::atomic<bool>& stop, TextStep* text,
                                      ColourPages colourPages, bool lossy) {
    const QString result = rowFolder + QLatin1Char('/') + QString::fromLatin1(kResultName);
    // The text layer reads the pages the encoders get, as they are decoded.
    Recognizer* recognizer = nullptr;
    if (text) {
        if (!text->recognizer)
            text->recognizer = makeRecognizer(*text);
        recognizer = text->recognizer.get();
    }
    reach(row, 154);
    const DirectResult direct =
        encodeDirect(input, rowFolder, result, &stop, recognizer, colourPages, lossy);
    reach(row, 156);
    row.pageProfiles = direct.profiles;
    if (direct.stopped || stop.load()) {
        row.stopped = true;
        return;
    }
    row.steps = direct.steps;
    if (!direct.problem.isEmpty()) {
        if (direct.noSpace || platform::hasNoSpaceLeft(rowFolder))
            row.noSpaceIn = location;
        // A failed encoder speaks through its step; the rest through the problem.
        if (!failedStep(row))
            row.problem =
                row.noSpaceIn.isEmpty()
                    ? direct.problem
                    : engine::Texts::tr("no space left in the temporary folder ") + location;
        return;
    }
    row.textProblem = direct.textProblem;
    row.pagesWithoutText = direct.pagesWithoutText;
    row.pagesCutShort = direct.pagesCutShort;
    row.pagesTurned = direct.pagesTurned;
    row.pagesOrientationUnsure = direct.pagesOrientationUnsure;
    row.pagesTextLost = direct.pagesTextLost;
    reach(row, 162);
    placeResult(row, input, inspection, result, stop, nullptr);
}

// The result counts only when every needed step succeeded and it has every page the inspection
// found in the TIFF; then it replaces the output file in one step. Otherwise the output path
// stays as it was.
void Engine::Private::placeResult(RowOutcome& row, const platform::RegularFile& input,
                                  const TiffInspection& inspection, const QString& result,
                                  const std::atomic<bool>& stop, TextStep* text) {
    if (row.steps.isEmpty() || failedStep(row))
        return;
    const int tiffPages = inspection.pages;
    const QString encoder =
        row.route == Route::Direct ? engine::Texts::tr("the encoder") : QStringLiteral("pdf2djvu");
    if (!paths::FileExists(result)) {
        row.problem = engine::Texts::tr("%1 wrote no DjVu file").arg(encoder);
        return;
    }
    // By its size first: a result far larger than its pages is wrong, and is never read.
    const qint64 bound = djvuResultBound(tiffPages, qint64(inspection.largestWidth) *
                                                        qint64(inspection.largestHeight));
    if (const qint64 size = QFileInfo(result).size(); size > bound) {
        row.problem = engine::Texts::tr("%1 wrote %2 MB, far more than pages of this size take")
                          .arg(encoder)
                          .arg(size >> 20);
        return;
    }
    const std::optional<int> djvuPages = djvuPageCount(result);
    if (!djvuPages) {
        row.problem = engine::Texts::tr("the DjVu result could not be opened");
        return;
    }
    if (*djvuPages != tiffPages) {
        row.problem = engine::Texts::tr("%1 of %n page(s) converted", nullptr, int(tiffPages))
                          .arg(*djvuPages);
        return;
    }
    if (text) {
        // The text goes into the checked result, in the row's folder, before it is placed. A
        // failure costs the row its text, not its DjVu.
        if (!text->recognizer)
            text->recognizer = makeRecognizer(*text);
        const TextLayerResult added =
            addTextLayer(*text->recognizer, input, result, folderName(result), &stop);
        if (added.stopped || stop.load()) {
            row.stopped = true;
            return;
        }
        row.textProblem = added.problem;
        row.pagesWithoutText = added.pagesWithout;
        row.pagesCutShort = added.pagesCutShort;
        row.pagesTurned = added.pagesTurned;
        row.pagesOrientationUnsure = added.pagesOrientationUnsure;
        row.pagesTextLost = added.pagesTextLost;
        // The page check holds for what is placed.
        if (djvuPageCount(result) != tiffPages) {
            row.problem = engine::Texts::tr("the DjVu result lost pages when its text was added");
            return;
        }
    }
    if (platform::sameFile(row.input, row.output)) {
        row.problem = engine::Texts::tr("the result would replace the input file");
        return;
    }
    row.problem = writeProtection(row.output);
    if (!row.problem.isEmpty())
        return;
    try {
        platform::replaceFile(result, row.output);
    } catch (const BasicError& e) {
        row.problem = outputProblem(row.output);
        if (row.problem.isEmpty())
            row.problem = engine::Texts::tr("the result could not be saved in %1: %2")
                              .arg(folderName(row.output), e.description());
        return;
    }
    row.converted = true;
}

} // namespace vormelle::engine
