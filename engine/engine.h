// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/outcome.h"
#include "engine/route.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace vormelle::engine {

// Where results go: into one folder (the first output option), or beside each original.
struct OutputRule {
    bool toFolder = false;
    QString folder; // as the user typed it
};

// Whether the run adds a searchable text layer (OCR) to every page, and in which languages.
struct TextLayerChoice {
    bool on = false;
    // Tesseract's names joined with '+' ("eng+deu"); empty: defaultOcrLanguages().
    QString languages;
    // The bound of a page's recognition is recognitionBoundMs() times this (tests make it small).
    double boundScale = 1;
};

// How a run converts, whoever asks for it: the window's encoder row and stored settings, or the
// command line (output/encoderchoice.h reads them).
struct RunChoices {
    Route route = Route::Pdf;
    TextLayerChoice text;
    int jobs = 1; // rows converted at once, and converter threads busy at once
    ColourPages colourPages = ColourPages::Compound; // the direct route's grey and colour pages
    // The direct route's bitonal pages and compound masks drawn with twin shapes as one
    // (codec/jb2lossy.h): smaller, no longer exact. The route through a PDF ignores it.
    bool lossy = false;
};

// One run, taken once when it starts: later changes to the list or the options change nothing.
struct RunRequest : RunChoices {
    QStringList inputs; // in list order
    OutputRule output;
};

// What the engine tells its caller while it converts, always on the caller's thread.
struct RunCallbacks {
    std::function<void(int row)> rowStarted;
    std::function<void(int row, const RowOutcome& outcome)> rowFinished;
    // The row's work reached a step (RowOutcome::statement): 154 while the first converter runs,
    // 156 once it has ended, and so on.
    std::function<void(int row, int statement)> rowStep;
    // Called at least every 40 ms while the run waits (the window processes its events here).
    std::function<void()> pause;
};

// Each run works in a private folder of its own inside the temporary location; this is the
// start of that folder's name (the process id and a random part follow).
inline constexpr char kRunFolderPrefix[] = "vormelle-run-";

// The most rows in flight at once.
inline constexpr int kMostJobs = 16;

// The "Jobs" setting as a number of rows in flight: a whole number from 1 to 16 (outside that,
// the nearest); missing or not a number, the processor's cores, at most 8.
int jobsFromSetting(const QString& value);

// Converts a run's rows without a window: the private run folder (one sub-folder per row in
// flight), the carried converter, the inspection, the converters on a pool of workers, the page
// check and the atomic placing of each result. Used by "Start Converting" and the command line.
class Engine final {
public:
    // `programFolder` holds the second converter (pdf2djvu/pdf2djvu).
    explicit Engine(QString programFolder);
    // Removes whatever of the run folder is still there.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Checks the converters (and, with a text layer, Tesseract's data for every
    // language) and makes the run's private folder. "" when the run can go on; otherwise the one
    // message that says why nothing can be converted.
    QString prepare(Route route, const TextLayerChoice& text = {});
    // Writes the carried converter into the run folder; the same kind of message on failure.
    QString deploy();
    // Converts every row on request.jobs workers and returns the rows' outcomes in list order.
    // Blocks, calling the callbacks on the calling thread, until every row has ended.
    QList<RowOutcome> convert(const RunRequest& request, const RunCallbacks& callbacks);
    // Ends a convert() early, from any thread or callback: converters in flight are killed and
    // leave nothing behind, rows not begun are not started.
    void stop();
    bool stopped() const { return m_stop.load(); }
    // For the moment the program ends during a run: kills every converter at once, with
    // everything it started, and removes the run folder. The workers are left to the end of the
    // program.
    void abandon();
    // Removes the carried converter and the run folder with everything in it.
    void finish();

private:
    struct Private;
    std::unique_ptr<Private> d;
    std::atomic<bool> m_stop{false};
};

// The output path of every row by the output-name rule, and for each row whose result would
// replace one that an earlier row of the same run makes, why it is not converted ("" for the
// others).
struct PlannedOutputs {
    QStringList outputs;
    QStringList clashes;
};
PlannedOutputs planOutputs(const QStringList& inputs, const OutputRule& rule);

} // namespace vormelle::engine
