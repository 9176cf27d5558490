// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the engine's files share inside the engine: the run's state and the checks of a row's
// output. Not for callers of the engine.

#include "engine/engine.h"
#include "engine/ocr.h"
#include "engine/tiffinspect.h"
#include "platform/faultpoint.h"
#include "platform/tempfolder.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace vormelle {
class BasicError;
namespace platform {
class RegularFile;
}
} // namespace vormelle

namespace vormelle::engine {

// The folder a path lies in, without its trailing slash.
QString folderName(const QString& path);
// Why an existing result its owner write-protected cannot be replaced; "" when it can.
QString writeProtection(const QString& output);
// Why the result cannot be saved at `output`; "" when it can.
QString outputProblem(const QString& output);
// Why the run cannot convert anything with the pdf2djvu beside the program; "" when it can.
QString secondConverterProblem(const QString& programFolder);
// "Nothing was converted: {what} in the temporary folder {location} ({why})."
QString temporaryFolderProblem(const QString& location, const QString& what,
                               const BasicError& error);

struct Engine::Private {
    QString programFolder;
    // Tesseract as prepare() loaded it, for the first worker of the run.
    std::unique_ptr<Recognizer> firstRecognizer;
    QString firstLanguages;
    QString location; // the temporary location the run folder is in
    platform::PrivateFolder folder;

    // What the workers tell the caller; guarded by `mutex`.
    struct Event {
        int row;
        std::optional<RowOutcome> finished; // empty: the row started, or reached `step`
        int step = 0;
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
        double boundScale = 1;
        QString programFolder; // where the recognition helper lies
    };
    static std::unique_ptr<Recognizer> makeRecognizer(const TextStep& text);

    // Hands one worker's news to the caller, on the caller's thread.
    static void deliver(Event& event, QList<RowOutcome>& rows, const RunCallbacks& callbacks,
                        std::set<int>& keptOutputs);

    void post(Event event) {
        {
            const std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        }
        wake.notify_one();
    }

    // The row's work reaches `statement`; a fault set by a test fails it there.
    void reach(RowOutcome& row, int statement) {
        row.statement = statement;
        post({row.index, std::nullopt, statement});
        platform::faultPoint("row", statement);
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
                        const QString& pdf, const QString& result, const QString& rowFolder,
                        const std::atomic<bool>& stop);
    void convertDirectly(RowOutcome& row, const platform::RegularFile& input,
                         const TiffInspection& inspection, const QString& rowFolder,
                         const std::atomic<bool>& stop, TextStep* text, ColourPages colourPages,
                         bool lossy);
    void placeResult(RowOutcome& row, const platform::RegularFile& input,
                     const TiffInspection& inspection, const QString& result,
                     const std::atomic<bool>& stop, TextStep* text);
};

} // namespace vormelle::engine
