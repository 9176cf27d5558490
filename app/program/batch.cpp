// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/batch.h"

#include "app/paths/paths.h"
#include "app/program/texts.h"
#include "engine/engine.h"
#include "engine/join.h"
#include "engine/outcome.h"
#include "engine/runlog.h"
#include "inputs/addfolder.h"
#include "output/encoderchoice.h"
#include "platform/attributes.h"
#include "platform/basicerror.h"
#include "platform/directory.h"
#include "platform/filesystem.h"
#include "platform/tempfolder.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <system_error>

#include <unistd.h>

namespace vormelle::batch {

namespace {

namespace cli = commandline;
using engine::RowOutcome;

// The signal that asked the run to stop, 0 for none. Only the handler writes it.
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void askToStop(int signal) {
    g_stopSignal = signal;
}

// Ours, before the engine starts any converter: the process layer only takes signals still at
// their default, so Ctrl-C stops the run cleanly instead of ending the program at once.
void catchStopSignals() {
    g_stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = askToStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        // A program started in the background by a shell without job control ignores SIGINT;
        // it keeps doing so.
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void complain(const QString& text) {
    print(stderr, QStringLiteral("vormelle: ") + text + QLatin1Char('\n'));
}

bool isTiffName(const QString& name) {
    return platform::wildcardMatch(u"*.tif", name) || platform::wildcardMatch(u"*.tiff", name);
}

void addFolderTree(const QString& top, QStringList& files, QStringList* unreadable) {
    // The folders a drop of `top` walks, and their files by the drop's rule.
    for (const QString& folder : addfolder::folderTree(top, unreadable)) {
        try {
            QList<platform::FileEntry> tiffs = platform::files(folder, QStringLiteral("*.*"));
            tiffs.removeIf([](const platform::FileEntry& file) { return !isTiffName(file.name); });
            files.append(addfolder::folderRows(folder, tiffs));
        } catch (const BasicError&) {
            if (unreadable && !unreadable->contains(folder))
                unreadable->append(folder);
        }
    }
}

engine::Route routeFor(cli::CommandLine::Encoder encoder) {
    return encoder == cli::CommandLine::Encoder::Pdf ? engine::Route::Pdf : engine::Route::Direct;
}

// What stderr shows while the run goes: a bar on a terminal, a line per file elsewhere.
class Progress final {
public:
    // `listResults`: each result's path goes to stdout (not for a join, whose files are parts).
    Progress(int count, bool listResults, bool print0)
        : m_count(count), m_terminal(::isatty(STDERR_FILENO) == 1), m_listResults(listResults),
          m_print0(print0) {
        if (m_terminal)
            print(stderr, progressLine(0, m_count));
    }
    Q_DISABLE_COPY_MOVE(Progress)

    void finished(const RowOutcome& row, bool stopping) {
        ++m_done;
        const bool byStop = stopping && engine::endedByStop(row);
        const QString reason = engine::escapedForOneLine(engine::failureReason(row));
        const QString input = engine::escapedForOneLine(row.input);
        const QString textNote = engine::escapedForOneLine(engine::textLayerNote(row));
        const QString converted = textNote.isEmpty()
                                      ? program::Texts::tr("converted")
                                      : program::Texts::tr("converted; %1").arg(textNote);
        if (m_terminal)
            print(stderr, QStringLiteral("\r\033[K"));
        else if (!byStop)
            print(stderr, program::Texts::tr("%1 of %2: %3: %4")
                                  .arg(m_done)
                                  .arg(m_count)
                                  .arg(engine::escapedForOneLine(row.fileName),
                                       row.converted ? converted
                                                     : program::Texts::tr("failed: ") + reason) +
                              QLatin1Char('\n'));
        if (!row.converted && !byStop)
            complain(input + QStringLiteral(": ") + reason);
        if (row.converted && !textNote.isEmpty())
            complain(input + QStringLiteral(": ") + converted);
        // One name a line, escaped as on stderr, or the bytes as they are after --print0.
        if (row.converted && m_listResults && m_print0) {
            const QByteArray name = platform::encodePath(row.output);
            std::fwrite(name.constData(), 1, size_t(name.size()) + 1, stdout);
            std::fflush(stdout);
        } else if (row.converted && m_listResults) {
            print(stdout, engine::escapedForOneLine(row.output) + QLatin1Char('\n'));
        }
        if (m_terminal)
            print(stderr, progressLine(m_done, m_count));
    }

    void end() {
        if (m_terminal)
            print(stderr, QStringLiteral("\n"));
    }

private:
    int m_count;
    int m_done = 0;
    bool m_terminal;
    bool m_listResults;
    bool m_print0;
};

// The document of a --join run from its converted rows: only when all converted, or the others
// with --join-partial. Returns the status the join alone gives.
int joinRows(const cli::CommandLine& command, const QList<RowOutcome>& rows, bool stopped,
             engine::RunLog& log) {
    const QStringList failed = engine::notJoined(rows);
    if (stopped) {
        complain(program::Texts::tr("stopped: %1 not written")
                     .arg(engine::escapedForOneLine(command.joinFile)));
        return cli::kExitSomeFailed;
    }
    if (!failed.isEmpty() && !command.joinPartial) {
        complain(program::Texts::tr("%n file(s) failed; %1 not written (--join-partial joins "
                                    "the others)",
                                    nullptr, int(failed.size()))
                     .arg(engine::escapedForOneLine(command.joinFile)));
        return cli::kExitSomeFailed;
    }
    const engine::JoinResult joined = engine::joinDocument(rows, command.joinFile);
    if (!joined.problem.isEmpty()) {
        complain(engine::escapedForOneLine(command.joinFile) + QStringLiteral(": ") +
                 joined.problem);
        log.note(program::Texts::tr("not joined: %1").arg(joined.problem));
        return cli::kExitSomeFailed;
    }
    const QStringList pages = engine::joinedPages(joined);
    log.note(program::Texts::tr("joined into %1, %n page(s):", nullptr, joined.pages)
                 .arg(command.joinFile));
    for (const QString& line : pages) {
        complain(line);
        log.note(line);
    }
    print(stdout, engine::escapedForOneLine(command.joinFile) + QLatin1Char('\n'));
    return failed.isEmpty() ? cli::kExitConverted : cli::kExitSomeFailed;
}

} // namespace

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = platform::encodePath(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QStringList expandInputs(const QStringList& names, QStringList* unreadable) {
    QStringList files;
    for (const QString& name : names) {
        int attributes = 0;
        try {
            attributes = platform::fileAttributes(name);
        } catch (const BasicError&) {
            attributes = 0; // missing: its row fails with the reason
        }
        if (attributes & platform::Directory)
            addFolderTree(name, files, unreadable);
        else
            files.append(name);
    }
    return files;
}

QString progressLine(int done, int count, int width) {
    const int filled = count > 0 ? int(qint64(done) * width / count) : width;
    return program::Texts::tr("[%1%2] %3 of %4")
        .arg(QString(filled, u'#'), QString(width - filled, u' '))
        .arg(done)
        .arg(count);
}

int finishedStatus(const QList<RowOutcome>& rows, bool clean) {
    // A row converted without the text layer it was to get (or with part of it) has failed
    // that much: a script must not take it for done.
    const bool allDone = std::all_of(rows.cbegin(), rows.cend(), [](const RowOutcome& r) {
        return r.converted && engine::textLayerNote(r).isEmpty();
    });
    return allDone && clean ? cli::kExitConverted : cli::kExitSomeFailed;
}

int run(const cli::CommandLine& command) {
    catchStopSignals();

    engine::RunRequest request;
    QStringList unreadable;
    request.inputs = expandInputs(command.inputs, &unreadable);
    for (const QString& folder : std::as_const(unreadable))
        complain(engine::escapedForOneLine(folder) + QStringLiteral(": ") +
                 program::Texts::tr("cannot be read"));
    if (request.inputs.isEmpty()) {
        complain(program::Texts::tr("no TIFF files to convert"));
        return cli::kExitCannotRun;
    }

    const bool joining = command.destination == cli::CommandLine::Destination::Join;
    switch (command.destination) {
    case cli::CommandLine::Destination::Folder:
        request.output = {true, command.outputFolder};
        break;
    case cli::CommandLine::Destination::Join:
        // The document's folder must be there; the files' own results stay in the run's folder.
        request.output = {true, paths::FolderOf(command.joinFile)};
        break;
    case cli::CommandLine::Destination::Beside:
    case cli::CommandLine::Destination::None:
        request.output = {false, {}};
        break;
    }
    if (request.output.toFolder && !paths::IsFolder(request.output.folder)) {
        complain(engine::escapedForOneLine(request.output.folder) + QStringLiteral(": ") +
                 program::Texts::tr("Folder does not exist. Please select another folder."));
        return cli::kExitCannotRun;
    }
    // The window's "Jobs" is the window's: a script gets the same default on every machine.
    request.jobs = command.jobs > 0 ? command.jobs : engine::jobsFromSetting(QString());
    request.route = routeFor(command.encoder);
    request.colourPages = command.colourPages;
    request.lossy = command.lossy;
    // Only on request: a run that would take seconds a page more never starts unasked.
    request.text.on = command.ocr;
    request.text.languages =
        command.ocrLanguages.isEmpty() ? encoderchoice::storedOcrLanguages() : command.ocrLanguages;

    if (command.skipExisting && joining && paths::FileExists(command.joinFile)) {
        complain(engine::escapedForOneLine(command.joinFile) + QStringLiteral(": ") +
                 program::Texts::tr("exists; left alone"));
        return cli::kExitConverted;
    }
    qsizetype skipped = 0;
    if (command.skipExisting && !joining) {
        const engine::PlannedOutputs plan = engine::planOutputs(request.inputs, request.output);
        QStringList rest;
        for (qsizetype i = 0; i < request.inputs.size(); ++i) {
            if (!paths::FileExists(plan.outputs[i])) {
                rest.append(request.inputs[i]);
                continue;
            }
            ++skipped;
            complain(engine::escapedForOneLine(request.inputs[i]) + QStringLiteral(": ") +
                     program::Texts::tr("skipped: %1 exists")
                         .arg(engine::escapedForOneLine(plan.outputs[i])));
        }
        request.inputs = rest;
        if (request.inputs.isEmpty())
            return unreadable.isEmpty() ? cli::kExitConverted : cli::kExitSomeFailed;
    }

    engine::Engine engine(paths::programFolder());
    QString refusal = engine.prepare(request.route, request.text);
    if (refusal.isEmpty())
        refusal = engine.deploy();
    if (!refusal.isEmpty()) {
        engine.finish();
        complain(refusal);
        return cli::kExitCannotRun;
    }

    // An asked-for log that cannot be written stops the run before it starts; the default one
    // is a convenience, and the run goes on without it as the window's does.
    std::optional<engine::RunLog> log;
    if (!command.logFile.isEmpty()) {
        log.emplace(engine::RunLog::Named{}, command.logFile, request,
                    engine::planOutputs(request.inputs, request.output).outputs);
        if (!log->refused().isEmpty()) {
            engine.finish();
            complain(program::Texts::tr("--log %1: %2; nothing was "
                                        "converted")
                         .arg(engine::escapedForOneLine(command.logFile), log->refused()));
            return cli::kExitUsage;
        }
        if (!log->isOpen()) {
            engine.finish();
            complain(engine::escapedForOneLine(command.logFile) + QStringLiteral(": ") +
                     log->error());
            return cli::kExitCannotRun;
        }
    } else {
        log.emplace(engine::RunLog::newPathIn(engine::defaultLogFolder()), request);
    }

    Progress progress(int(request.inputs.size()), !joining, command.print0);
    engine::RunCallbacks callbacks;
    callbacks.rowFinished = [&](int row, const RowOutcome& outcome) {
        log->write(row, outcome);
        progress.finished(outcome, engine.stopped());
    };
    callbacks.pause = [&engine] {
        if (g_stopSignal != 0 && !engine.stopped())
            engine.stop();
    };
    if (g_stopSignal != 0)
        engine.stop(); // asked before the first row: none is begun
    std::optional<platform::PrivateFolder> staging;
    if (joining) {
        try {
            staging.emplace(platform::temporaryLocation(),
                            QString::fromLatin1(engine::kRunFolderPrefix));
        } catch (const BasicError& e) {
            engine.finish();
            complain(program::Texts::tr("no folder for the joined files: %1").arg(e.description()));
            return cli::kExitCannotRun;
        }
    }
    QList<RowOutcome> rows;
    try {
        rows = joining ? engine::convertForJoin(engine, request, staging->path(), callbacks)
                       : engine.convert(request, callbacks);
    } catch (const std::system_error& e) {
        // Not one worker thread could be started.
        engine.finish();
        complain(QString::fromLocal8Bit(e.what()));
        return cli::kExitCannotRun;
    }
    engine.finish();
    progress.end();
    if (joining) {
        const int status = joinRows(command, rows, engine.stopped(), *log);
        staging->remove();
        if (engine.stopped())
            return 128 + (g_stopSignal != 0 ? int(g_stopSignal) : SIGINT);
        return status != cli::kExitConverted || !unreadable.isEmpty() ? cli::kExitSomeFailed
                                                                      : cli::kExitConverted;
    }

    const qsizetype converted =
        std::count_if(rows.begin(), rows.end(), [](const RowOutcome& r) { return r.converted; });
    // Only a log the user asked for is worth a failed status: the default one is a convenience.
    const bool logLost = !command.logFile.isEmpty() && log->writeFailed();
    if (logLost)
        complain(program::Texts::tr("the log %1 could not be written: %2")
                     .arg(engine::escapedForOneLine(command.logFile), log->error()));
    if (engine.stopped()) {
        complain(program::Texts::tr("stopped: %1 converted, %2 not converted")
                     .arg(converted)
                     .arg(rows.size() - converted));
        return 128 + (g_stopSignal != 0 ? int(g_stopSignal) : SIGINT);
    }
    return finishedStatus(rows, unreadable.isEmpty() && !logLost);
}

} // namespace vormelle::batch
