#include "engine/engine.h"

#include "app/paths/paths.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/deploy.h"
#include "engine/direct.h"
#include "engine/ocr.h"
#include "engine/runner.h"
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

// How long the caller waits for news before it pauses again.
constexpr std::chrono::milliseconds kCallerPass{40};
// How long a worker waits on a converter before it looks at the stop flag again.
constexpr std::chrono::milliseconds kWorkerPass{50};

// The folder a path lies in, without its trailing slash.
QString folderName(const QString& path) {
    QString folder = paths::FolderOf(path);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

// Why the result cannot be saved at `output`; "" when it can. Checked before a row is
// converted, so a folder that went away or became read-only, or a name the file system cannot
// hold, costs no conversions, and the folder is never made again somewhere.
// An existing result its owner write-protected is left alone.
QString writeProtection(const QString& output) {
    const QFileInfo existing(output);
    if (existing.exists() && !(existing.permissions() & QFileDevice::WriteOwner))
        return QCoreApplication::translate("vormelle::convert",
                                           "the existing %1 is write-protected")
            .arg(existing.fileName());
    return {};
}

QString outputProblem(const QString& output) {
    if (const QString protectedFile = writeProtection(output); !protectedFile.isEmpty())
        return protectedFile;
    const QString folder = folderName(output);
    const int error = platform::folderWriteError(folder);
    if (error == ENOENT || error == ENOTDIR)
        return QCoreApplication::translate("vormelle::convert",
                                           "the output folder %1 no longer exists")
            .arg(folder);
    if (error != 0)
        return QCoreApplication::translate("vormelle::convert",
                                           "cannot write into the output folder %1: %2")
            .arg(folder, platform::systemErrorText(error));
    const qsizetype nameBytes = platform::encodePath(paths::FileNameOf(output)).size();
    const qsizetype longest = platform::longestName(folder);
    if (nameBytes > longest)
        return QCoreApplication::translate(
                   "vormelle::convert",
                   "the result's name would be %1 bytes long, more than the %2 its "
                   "folder allows")
            .arg(nameBytes)
            .arg(longest);
    return {};
}

// Why the run cannot convert anything with the pdf2djvu beside the program; "" when it can.
QString secondConverterProblem(const QString& programFolder) {
    const QString path =
        programFolder + QLatin1Char('/') + QString::fromLatin1(engine::kSecondConverter);
    const int error = platform::runError(path);
    if (error == ENOENT || error == ENOTDIR || error == ELOOP)
        return QCoreApplication::translate(
                   "vormelle::convert",
                   "Nothing was converted: pdf2djvu was not found. It belongs at %1.")
            .arg(paths::visible(path));
    if (error != 0)
        return QCoreApplication::translate(
                   "vormelle::convert",
                   "Nothing was converted: pdf2djvu at %1 cannot be run (it is not an "
                   "executable file).")
            .arg(paths::visible(path));
    return {};
}

QString temporaryFolderProblem(const QString& location, const QString& what,
                               const BasicError& error) {
    const bool full = error.number() == BasicError::DiskFull || platform::hasNoSpaceLeft(location);
    return QCoreApplication::translate("vormelle::convert",
                                       "Nothing was converted: %1 in the temporary folder %2 (%3).")
        .arg(what, paths::visible(location),
             full ? platform::systemErrorText(ENOSPC) : error.description());
}

// Where two spellings of one output path meet: the same absolute, cleaned path.
QString outputKey(const QString& output) {
    return QDir::cleanPath(QFileInfo(output).absoluteFilePath());
}

// Runs one converter to its end on a worker thread; a stop kills it with everything it started.
qint32 runToEnd(const Command& command, const std::atomic<bool>& stop, QByteArray& output,
                int& signal) {
    std::optional<platform::ChildProcess> child;
    try {
        startChild(child, command);
    } catch (const BasicError& e) {
        return kStartFailed + e.number();
    }
    while (!child->waitFor(kWorkerPass)) {
        if (stop.load())
            child->kill();
    }
    output = child->output();
    signal = child->endingSignal();
    return child->exitCode();
}

// Gives a converter the row's own folder for its scratch files.
void useScratchFolder(Command& command, const QString& rowFolder) {
    for (auto& [name, value] : command.environment) {
        if (name == "TMPDIR")
            value = platform::encodePath(rowFolder);
    }
}

// A long run holds a short record per row, not kilobytes: only the first failed rows in list
// order, the ones the closing box names, keep their converters' output.
void keepShortRecord(QList<RowOutcome>& rows, int row, std::set<int>& kept) {
    auto drop = [&rows](int i) {
        rows[i].firstOutput = QByteArray();
        rows[i].secondOutput = QByteArray();
    };
    if (rows[row].converted) {
        drop(row);
        return;
    }
    kept.insert(row);
    if (int(kept.size()) > kListedFailures) {
        const auto last = std::prev(kept.end());
        drop(*last);
        kept.erase(last);
    }
}

} // namespace

int jobsFromSetting(const QString& value) {
    bool ok = false;
    const int n = value.trimmed().toInt(&ok);
    if (ok)
        return std::clamp(n, 1, kMostJobs);
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, 8);
}

PlannedOutputs planOutputs(const QStringList& inputs, const OutputRule& rule) {
    PlannedOutputs plan;
    QHash<QString, int> firstRowOf;
    for (int i = 0; i < inputs.size(); ++i) {
        const QString output = outputPathFor(inputs[i], rule.toFolder, rule.folder);
        plan.outputs.append(output);
        const QString key = outputKey(output);
        const auto it = firstRowOf.constFind(key);
        if (it == firstRowOf.cend()) {
            firstRowOf.insert(key, i);
            plan.clashes.append(QString());
            continue;
        }
        const QString earlier = paths::FileNameOf(inputs[it.value()]);
        QString clash =
            QCoreApplication::translate("vormelle::convert",
                                        "its result %1 would replace the one made from %2; ")
                .arg(paths::FileNameOf(output), earlier);
        clash += rule.toFolder ? QCoreApplication::translate(
                                     "vormelle::convert", "save beside the originals or rename one")
                               : QCoreApplication::translate("vormelle::convert", "rename one");
        plan.clashes.append(clash);
    }
    return plan;
}

struct Engine::Private {
    QString programFolder;
    QString location; // the temporary location the run folder is in
    platform::PrivateFolder folder;

    // What the workers tell the caller; guarded by `mutex`.
    struct Event {
        int row;
        std::optional<RowOutcome> finished; // empty: the row started
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Event> events;
    int liveWorkers = 0;
    // Converter threads no row holds: pdf2djvu may take some for a file of several pages.
    int freeThreads = 0;

    // What a worker needs to add a text layer to its rows' results; its Tesseract is made for
    // the first row that needs it and kept for the worker's later rows.
    struct TextStep {
        QString languages;
        std::unique_ptr<Recognizer> recognizer;
    };

    void post(Event event) {
        {
            const std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        }
        wake.notify_one();
    }

    int takeThreads(int wanted) {
        const std::lock_guard lock(mutex);
        const int taken = std::clamp(freeThreads, 0, std::max(wanted, 0));
        freeThreads -= taken;
        return taken;
    }

    void giveThreads(int count) {
        const std::lock_guard lock(mutex);
        freeThreads += count;
    }

    RowOutcome convertRow(const RunRequest& request, int index, const QString& output,
                          const QString& clash, const std::atomic<bool>& stop, TextStep* text);
    void convertThroughPdf(RowOutcome& row, const platform::RegularFile& input,
                           const TiffInspection& inspection, const QString& rowFolder,
                           const std::atomic<bool>& stop, TextStep* text);
    void convertInParts(RowOutcome& row, const TiffInspection& inspection, int parts,
                        const QString& pdf, const QString& result, const QString& bundler,
                        const QString& rowFolder, const std::atomic<bool>& stop);
    void convertDirectly(RowOutcome& row, const platform::RegularFile& input,
                         const TiffInspection& inspection, const QString& rowFolder,
                         const std::atomic<bool>& stop, TextStep* text);
    void placeResult(RowOutcome& row, const platform::RegularFile& input, int tiffPages,
                     const QString& result, const std::atomic<bool>& stop, TextStep* text);
};

Engine::Engine(QString programFolder) : d(std::make_unique<Private>()) {
    d->programFolder = std::move(programFolder);
}

Engine::~Engine() {
    d->folder.remove();
}

QString Engine::prepare(Route route, const TextLayerChoice& text) {
    QString refusal =
        route == Route::Direct ? directEncoderProblem() : secondConverterProblem(d->programFolder);
    // A missing language would cost every row its text: said once, before anything starts.
    if (refusal.isEmpty() && text.on)
        refusal =
            ocrLanguageProblem(text.languages.isEmpty() ? defaultOcrLanguages() : text.languages);
    if (!refusal.isEmpty())
        return refusal;
    d->location = platform::temporaryLocation();
    platform::removeLeftOverFolders(d->location, QString::fromLatin1(kRunFolderPrefix));
    try {
        d->folder = platform::PrivateFolder(d->location, QString::fromLatin1(kRunFolderPrefix));
    } catch (const BasicError& e) {
        return temporaryFolderProblem(
            d->location,
            QCoreApplication::translate("vormelle::convert", "no folder for the run could be made"),
            e);
    }
    return {};
}

QString Engine::deploy() {
    // Without every tool file no row can convert: that is said once, and the run ends.
    for (const resources::ToolFile& tool : resources::toolFiles()) {
        try {
            writeToolFile(d->folder.path(), tool, resources::customResource(tool.id));
        } catch (const BasicError& e) {
            return temporaryFolderProblem(
                d->location,
                QCoreApplication::translate("vormelle::convert",
                                            "the converter could not be written"),
                e);
        }
    }
    return {};
}

void Engine::stop() {
    m_stop.store(true);
}

void Engine::finish() {
    if (d->folder.exists()) {
        for (const resources::ToolFile& tool : resources::toolFiles())
            paths::DeleteFileQuietly(toolPath(d->folder.path(), tool.id));
    }
    // The run's folder goes with everything in it.
    d->folder.remove();
}

QList<RowOutcome> Engine::convert(const RunRequest& request, const RunCallbacks& callbacks) {
    const int n = int(request.inputs.size());
    const PlannedOutputs plan = planOutputs(request.inputs, request.output);
    QList<RowOutcome> rows(n);
    for (int i = 0; i < n; ++i) {
        rows[i].input = request.inputs[i];
        rows[i].fileName = paths::FileNameOf(request.inputs[i]);
        rows[i].output = plan.outputs[i];
    }

    std::set<int> keptOutputs; // the failed rows whose converter output the closing box needs
    const int jobs = std::clamp(request.jobs, 1, kMostJobs);
    const int workers = std::min(jobs, n);
    std::atomic<int> next{0};
    QString languages;
    if (request.text.on)
        languages =
            request.text.languages.isEmpty() ? defaultOcrLanguages() : request.text.languages;
    d->liveWorkers = workers;
    d->freeThreads = jobs - workers;
    prepareDjvuDecoder();
    std::vector<std::thread> pool;
    pool.reserve(std::size_t(workers));
    for (int w = 0; w < workers; ++w) {
        pool.emplace_back([&, this] {
            Private::TextStep text{languages, nullptr};
            for (;;) {
                const int i = next.fetch_add(1);
                if (i >= n || m_stop.load())
                    break;
                d->post({i, std::nullopt});
                d->post({i, d->convertRow(request, i, plan.outputs[i], plan.clashes[i], m_stop,
                                          request.text.on ? &text : nullptr)});
            }
            {
                const std::lock_guard lock(d->mutex);
                --d->liveWorkers;
                ++d->freeThreads; // the worker's own thread is free for others now
            }
            d->wake.notify_one();
        });
    }

    for (;;) {
        std::deque<Private::Event> news;
        bool done = false;
        {
            std::unique_lock lock(d->mutex);
            d->wake.wait_for(lock, kCallerPass,
                             [this] { return !d->events.empty() || d->liveWorkers == 0; });
            news.swap(d->events);
            done = d->liveWorkers == 0;
        }
        for (Private::Event& event : news) {
            if (!event.finished) {
                rows[event.row].started = true;
                if (callbacks.rowStarted)
                    callbacks.rowStarted(event.row);
                // Every start gets its moment on screen, however fast the rows go.
                if (callbacks.pause)
                    callbacks.pause();
                continue;
            }
            rows[event.row] = std::move(*event.finished);
            if (callbacks.rowFinished)
                callbacks.rowFinished(event.row, rows[event.row]);
            keepShortRecord(rows, event.row, keptOutputs);
        }
        if (done)
            break;
        if (callbacks.pause)
            callbacks.pause();
    }
    for (std::thread& t : pool)
        t.join();
    return rows;
}

RowOutcome Engine::Private::convertRow(const RunRequest& request, int index, const QString& output,
                                       const QString& clash, const std::atomic<bool>& stop,
                                       TextStep* text) {
    QElapsedTimer clock;
    clock.start();
    RowOutcome row;
    row.input = request.inputs[index];
    row.fileName = paths::FileNameOf(row.input);
    row.output = output;
    row.route = request.route;
    row.textWanted = text != nullptr;
    row.started = true;
    // Nothing may escape a worker thread: whatever goes wrong is the row's outcome.
    try {
        row.problem = clash.isEmpty() ? outputProblem(output) : clash;
        if (!row.problem.isEmpty())
            return row;
        // What the converters would turn into wrong pages, or fail on with a message nobody
        // can act on, is named instead of converted. The file is opened once: the converters
        // read this same open file, so a file put in its place after the inspection (a FIFO, a
        // kind the converters get wrong) is never converted unchecked.
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
        const QString rowFolder = folder.path() + QStringLiteral("/row-%1").arg(index + 1);
        if (::mkdir(platform::encodePath(rowFolder).constData(), 0700) != 0) {
            row.problem = QCoreApplication::translate(
                              "vormelle::convert", "no folder for the row could be made in %1: %2")
                              .arg(folder.path(), platform::systemErrorText(errno));
            return row;
        }
        if (request.route == Route::Direct)
            convertDirectly(row, input, inspection, rowFolder, stop, text);
        else
            convertThroughPdf(row, input, inspection, rowFolder, stop, text);
        platform::removeTree(rowFolder);
    } catch (const BasicError& e) {
        row.problem = e.description();
    } catch (const std::exception& e) {
        row.problem = QString::fromLocal8Bit(e.what());
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
    row.first = runToEnd(first, stop, row.firstOutput, row.firstSignal);
    // tiff2pdf names its input as it was handed; the closing box names the file.
    row.firstOutput.replace(handed.toUtf8(), platform::encodePath(row.input));
    noteSpace(*row.first);
    if (stop.load()) {
        row.stopped = true;
        return;
    }
    row.pdfMade = paths::FileExists(pdf);
    if (!row.pdfMade)
        return;

    // A file of several pages may use threads that no row holds (near the end of a run).
    const int extra = inspection.pages > 1 ? takeThreads(inspection.pages - 1) : 0;
    const QString bundler =
        extra > 0 ? QStandardPaths::findExecutable(QString::fromLatin1(kBundler)) : QString();
    if (bundler.isEmpty()) {
        Command second = secondConverter(programFolder, folder.path());
        second.arguments = secondConverterArguments(result, pdf, inspection.dpi, 1 + extra);
        useScratchFolder(second, rowFolder);
        row.second = runToEnd(second, stop, row.secondOutput, row.secondSignal);
    } else {
        convertInParts(row, inspection, 1 + extra, pdf, result, bundler, rowFolder, stop);
    }
    giveThreads(extra);
    noteSpace(*row.second);
    if (stop.load()) {
        row.stopped = true;
        return;
    }
    if (row.problem.isEmpty())
        placeResult(row, input, inspection.pages, result, stop, text);
}

// pdf2djvu's own threads share little of a row's work: its start, its page loop's bookkeeping and
// its bundling run on one. Separate pdf2djvu runs over page ranges, side by side, keep every
// thread busy; djvm then joins their documents in page order. Their page names come from the
// page numbers, so the parts never clash.
void Engine::Private::convertInParts(RowOutcome& row, const TiffInspection& inspection, int parts,
                                     const QString& pdf, const QString& result,
                                     const QString& bundler, const QString& rowFolder,
                                     const std::atomic<bool>& stop) {
    std::vector<std::optional<platform::ChildProcess>> children(static_cast<std::size_t>(parts));
    QStringList partFiles;
    row.second = 0;
    for (int k = 0; k < parts && *row.second == 0; ++k) {
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
            row.second = kStartFailed + e.number();
        }
    }
    // One part failing dooms the row: the others are ended rather than waited for.
    bool ending = *row.second != 0;
    for (auto& child : children) {
        if (!child)
            continue;
        while (!child->waitFor(kWorkerPass)) {
            if (!ending && !stop.load())
                continue;
            for (auto& other : children) {
                if (other && !other->ended())
                    other->kill();
            }
        }
        if (*row.second == 0 && child->exitCode() != 0) {
            row.second = child->exitCode();
            row.secondOutput = child->output();
            row.secondSignal = child->endingSignal();
            ending = true;
        }
    }
    if (*row.second != 0 || stop.load())
        return;

    // The first part becomes the document, and the others go in behind it in order.
    if (!QFile::rename(partFiles.first(), result)) {
        row.problem = QCoreApplication::translate(
            "vormelle::convert", "the parts of the DjVu result could not be joined");
        return;
    }
    for (int k = 1; k < parts; ++k) {
        Command join;
        join.program = bundler;
        join.arguments = {QStringLiteral("-i"), result, partFiles[k]};
        join.environment = converterEnvironment(rowFolder, platform::localeIsUtf8());
        QByteArray output;
        int signal = 0;
        const qint32 code = runToEnd(join, stop, output, signal);
        paths::DeleteFileQuietly(partFiles[k]);
        if (stop.load())
            return;
        if (code != 0) {
            row.problem =
                QCoreApplication::translate("vormelle::convert",
                                            "the parts of the DjVu result could not be joined: %1")
                    .arg(converterReason(kBundler, code, signal, output));
            return;
        }
    }
}

void Engine::Private::convertDirectly(RowOutcome& row, const platform::RegularFile& input,
                                      const TiffInspection& inspection, const QString& rowFolder,
                                      const std::atomic<bool>& stop, TextStep* text) {
    const QString result = rowFolder + QLatin1Char('/') + QString::fromLatin1(kResultName);
    const DirectResult direct = encodeDirect(input, rowFolder, result, &stop);
    if (direct.stopped || stop.load()) {
        row.stopped = true;
        return;
    }
    if (!direct.problem.isEmpty()) {
        row.problem = platform::hasNoSpaceLeft(rowFolder)
                          ? QCoreApplication::translate("vormelle::convert",
                                                        "no space left in the temporary folder ") +
                                location
                          : direct.problem;
        return;
    }
    // The encoders stand where the two converters do: both "succeeded".
    row.first = 0;
    row.pdfMade = true;
    row.second = 0;
    placeResult(row, input, inspection.pages, result, stop, text);
}

// The result counts only when both converters succeeded and it has every page the inspection
// found in the TIFF; then it replaces the output file in one step. Otherwise the output path
// stays as it was.
void Engine::Private::placeResult(RowOutcome& row, const platform::RegularFile& input,
                                  int tiffPages, const QString& result,
                                  const std::atomic<bool>& stop, TextStep* text) {
    if (!row.first || *row.first != 0 || !row.second || *row.second != 0)
        return;
    if (!paths::FileExists(result)) {
        row.problem = QCoreApplication::translate("vormelle::convert", "%1 wrote no DjVu file")
                          .arg(row.route == Route::Direct
                                   ? QCoreApplication::translate("vormelle::convert", "the encoder")
                                   : QStringLiteral("pdf2djvu"));
        return;
    }
    const std::optional<int> djvuPages = djvuPageCount(result);
    if (!djvuPages) {
        row.problem =
            QCoreApplication::translate("vormelle::convert", "the DjVu result could not be opened");
        return;
    }
    if (*djvuPages != tiffPages) {
        row.problem = QCoreApplication::translate("vormelle::convert", "%1 of %2 pages converted")
                          .arg(*djvuPages)
                          .arg(tiffPages);
        return;
    }
    if (text) {
        // The text goes into the checked result, in the row's folder, before it is placed. A
        // failure costs the row its text, not its DjVu.
        if (!text->recognizer)
            text->recognizer = std::make_unique<Recognizer>(text->languages);
        const TextLayerResult added =
            addTextLayer(*text->recognizer, input, result, folderName(result), &stop);
        if (added.stopped || stop.load()) {
            row.stopped = true;
            return;
        }
        row.textProblem = added.problem;
        row.pagesWithoutText = added.pagesWithout;
        // The page check holds for what is placed.
        if (djvuPageCount(result) != tiffPages) {
            row.problem = QCoreApplication::translate(
                "TextLayer", "the DjVu result lost pages when its text was added");
            return;
        }
    }
    if (platform::sameFile(row.input, row.output)) {
        row.problem = QCoreApplication::translate("vormelle::convert",
                                                  "the result would replace the input file");
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
            row.problem = QCoreApplication::translate("vormelle::convert",
                                                      "the result could not be saved in %1: %2")
                              .arg(folderName(row.output), e.description());
        return;
    }
    row.converted = true;
}

} // namespace vormelle::engine
