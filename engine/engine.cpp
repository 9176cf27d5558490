// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engineprivate.h"

#include "app/paths/paths.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/deploy.h"
#include "engine/direct.h"
#include "engine/ocr.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "engine/tiffinspect.h"
#include "platform/basicerror.h"
#include "platform/faultpoint.h"
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
#include <system_error>
#include <thread>
#include <vector>

namespace vormelle::engine {

namespace {

// How long the caller waits for news before it pauses again.
constexpr std::chrono::milliseconds kCallerPass{40};

// A long run holds a short record per row, not kilobytes: only the first failed rows in list
// order, the ones the closing box names, keep their converters' output.
void keepShortRecord(QList<RowOutcome>& rows, int row, std::set<int>& kept) {
    auto drop = [&rows](int i) {
        for (Step& step : rows[i].steps)
            step.output = QByteArray();
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

// Every row with its planned output, none started yet.
QList<RowOutcome> plannedRows(const QStringList& inputs, const PlannedOutputs& plan) {
    QList<RowOutcome> rows(inputs.size());
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        rows[i].input = inputs[i];
        rows[i].fileName = paths::FileNameOf(inputs[i]);
        rows[i].output = plan.outputs[i];
    }
    return rows;
}

} // namespace

void Engine::Private::deliver(Event& event, QList<RowOutcome>& rows, const RunCallbacks& callbacks,
                              std::set<int>& keptOutputs) {
    if (event.step != 0) {
        if (callbacks.rowStep)
            callbacks.rowStep(event.row, event.step);
        return;
    }
    if (!event.finished) {
        rows[event.row].started = true;
        if (callbacks.rowStarted)
            callbacks.rowStarted(event.row);
        // Every start gets its moment on screen, however fast the rows go.
        if (callbacks.pause)
            callbacks.pause();
        return;
    }
    rows[event.row] = std::move(*event.finished);
    if (callbacks.rowFinished)
        callbacks.rowFinished(event.row, rows[event.row]);
    keepShortRecord(rows, event.row, keptOutputs);
}

int jobsFromSetting(const QString& value) {
    bool ok = false;
    const int n = value.trimmed().toInt(&ok);
    if (ok)
        return std::clamp(n, 1, kMostJobs);
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, 8);
}

Engine::Engine(QString programFolder) : d(std::make_unique<Private>()) {
    d->programFolder = std::move(programFolder);
}

Engine::~Engine() {
    d->folder.remove();
}

QString Engine::prepare(Route route, const TextLayerChoice& text) {
    QString refusal =
        route == Route::Direct ? directEncoderProblem() : secondConverterProblem(d->programFolder);
    // A missing language would cost every row its text: said once, before anything starts. So
    // would data Tesseract cannot load: it is loaded here, once, for the first worker.
    d->firstRecognizer.reset();
    if (refusal.isEmpty() && text.on) {
        const QString languages = text.languages.isEmpty() ? defaultOcrLanguages() : text.languages;
        refusal = ocrLanguageProblem(languages);
        if (refusal.isEmpty()) {
            d->firstRecognizer = std::make_unique<Recognizer>(languages, d->programFolder);
            d->firstLanguages = languages;
            refusal = loadProblem(*d->firstRecognizer, languages);
            if (!refusal.isEmpty())
                d->firstRecognizer.reset();
        }
    }
    if (!refusal.isEmpty())
        return refusal;
    d->location = platform::temporaryLocation();
    platform::removeLeftOverFolders(d->location, QString::fromLatin1(kRunFolderPrefix));
    try {
        d->folder = platform::PrivateFolder(d->location, QString::fromLatin1(kRunFolderPrefix));
    } catch (const BasicError& e) {
        return temporaryFolderProblem(d->location,
                                      engine::Texts::tr("no folder for the run could be made"), e);
    }
    return {};
}

QString Engine::deploy() {
    // Without every tool file no row can convert: that is said once, and the run ends.
    if (!resources::carriesConverter())
        return {};
    for (const resources::ToolFile& tool : resources::toolFiles()) {
        try {
            writeToolFile(d->folder.path(), tool, resources::customResource(tool.id));
        } catch (const BasicError& e) {
            return temporaryFolderProblem(
                d->location, engine::Texts::tr("the converter could not be written"), e);
        }
    }
    return {};
}

void Engine::stop() {
    m_stop.store(true);
}

void Engine::abandon() {
    m_stop.store(true);
    platform::endChildren();
    // Only read here: a worker may still be reading the path.
    if (d->folder.exists())
        platform::removeTree(d->folder.path());
}

void Engine::finish() {
    if (d->folder.exists() && resources::carriesConverter()) {
        for (const resources::ToolFile& tool : resources::toolFiles())
            paths::DeleteFileQuietly(toolPath(d->folder.path(), tool.id));
    }
    // The run's folder goes with everything in it.
    d->folder.remove();
}

QList<RowOutcome> Engine::convert(const RunRequest& request, const RunCallbacks& callbacks) {
    const int n = int(request.inputs.size());
    const PlannedOutputs plan = planOutputs(request.inputs, request.output);
    QList<RowOutcome> rows = plannedRows(request.inputs, plan);

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
    // A thread the system will not start leaves the run to the workers that did start; with
    // none at all the run cannot go on, and says why.
    std::exception_ptr noWorker;
    for (int w = 0; w < workers && !noWorker; ++w) {
        try {
            platform::faultPoint("worker", w);
        } catch (const std::system_error&) {
            noWorker = std::current_exception();
            break;
        }
        try {
            pool.emplace_back([&, this, w] {
                Private::TextStep text{languages, nullptr, request.text.boundScale,
                                       d->programFolder};
                if (w == 0 && d->firstRecognizer && d->firstLanguages == languages) {
                    text.recognizer = std::move(d->firstRecognizer);
                    text.recognizer->setBoundScale(text.boundScale);
                }
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
        } catch (const std::system_error&) {
            noWorker = std::current_exception();
        }
    }
    if (const int missing = workers - int(pool.size()); missing > 0) {
        const std::lock_guard lock(d->mutex);
        d->liveWorkers -= missing;
    }
    if (pool.empty() && noWorker)
        std::rethrow_exception(noWorker);

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
        for (Private::Event& event : news)
            Private::deliver(event, rows, callbacks, keptOutputs);
        if (done)
            break;
        if (callbacks.pause)
            callbacks.pause();
    }
    for (std::thread& t : pool)
        t.join();
    return rows;
}

} // namespace vormelle::engine
