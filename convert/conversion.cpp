// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/conversion.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/filelistmodel.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "app/settingsstore.h"
#include "engine/engine.h"
#include "engine/join.h"
#include "engine/outcome.h"
#include "engine/runlog.h"
#include "engine/runner.h"
#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/tempfolder.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace vormelle::conversion {

namespace {

using engine::RowOutcome;

// How runs are asked to convert: set once by connect().
ChoicesOf& choicesOf() {
    static ChoicesOf choices;
    return choices;
}

// The route through a PDF keeps no record unless "RunLog" asks for one; the direct route always
// does.
bool wantsLog(engine::Route route) {
    return route == engine::Route::Direct ||
           settings::GetSetting(QStringLiteral("RunLog"), QStringLiteral("False")) ==
               QStringLiteral("True");
}

// The run as the window shows it when it starts: the rows, the output option and folder, and
// how to convert them.
engine::RunRequest requestFrom(const Form1& form, const engine::RunChoices& choices) {
    engine::RunRequest request;
    static_cast<engine::RunChoices&>(request) = choices;
    request.inputs = form.files().files();
    // Neither option selected counts as the second: beside each original.
    request.output.toFolder = form.Option1->isChecked();
    request.output.folder = form.Text1->text();
    return request;
}

// The run going on in a window, for "Stop", Esc and closing the window to reach.
struct ActiveRun {
    engine::Engine* engine = nullptr;
};
std::map<const Form1*, ActiveRun>& activeRuns() {
    static std::map<const Form1*, ActiveRun> runs;
    return runs;
}

// A statement the run carries out for a row: a failure is reported at its number, and the run
// goes on.
void rowStatement(Form1& form, int line, const std::function<void()>& statement) {
    runStatement(form, trace::PushButton2_Click, line, statement);
}

// The bar while a run goes on. Before each row it shows the share of rows started and the row's
// name (130, 132). While the first converter of the only row in flight runs (154), its position
// creeps toward the next row's share and its text counts the passes, as RunAndWaitWithProgress
// does; when the converter has ended, the text is the row's again. The count below "Stop" follows
// the rows as they finish, and the log gets each row as it ends (164).
struct RunDisplay {
    RunDisplay(Form1& f, const engine::RunRequest& r, engine::RunLog* l)
        : form(f), request(r), log(l), count(int(r.inputs.size())) {
        clock.start();
    }

    Form1& form;
    const engine::RunRequest& request;
    engine::RunLog* log;
    int count = 0;
    int started = 0;
    int finished = 0;
    QElapsedTimer clock;
    // The creep of the first converter: its row, the text and position it began with, and the
    // passes shown so far.
    int creepRow = -1;
    QString creepText;
    int creepValue = 0;
    int passesShown = 0;
    QElapsedTimer creepClock;

    void rowStarted(int row) {
        ++started;
        creepRow = -1; // another row in flight: the bar shows the share of rows started
        ProgressBar& bar = *form.ProgressBar1;
        rowStatement(form, 128, [] {});
        rowStatement(form, 130, [&] { bar.setPosition(double(started) / count * 100); });
        rowStatement(form, 132, [&] {
            bar.setText(Texts::tr("Processing: ") + paths::FileNameOf(request.inputs[row]));
        });
        rowStatement(form, 134, [] { platform::doEvents(); });
        rowStatement(form, 136, [&] { form.setMousePointer(Form1::Hourglass); });
    }

    void rowStep(int row, int statement) {
        ProgressBar& bar = *form.ProgressBar1;
        if (statement == 154 && started - finished == 1) {
            creepRow = row;
            creepText = bar.text();
            creepValue = bar.value();
            passesShown = 0;
            creepClock.start();
        } else if (statement > 154 && row == creepRow) {
            creepRow = -1;
            rowStatement(form, 154, [&] {
                bar.setText(creepText.isEmpty() ? Form1::tr("Progress Bar") : creepText);
            });
        }
    }

    void pause() {
        platform::doEvents();
        if (creepRow < 0)
            return;
        rowStatement(form, 154, [&] {
            const int pass = int(creepClock.elapsed() / engine::kPassLength.count()) + 1;
            // Passes the window missed (a box was open) are caught up in order.
            ProgressBar& bar = *form.ProgressBar1;
            for (; passesShown < pass; ++passesShown) {
                const auto creep = engine::creepAt(passesShown + 1, creepText, creepValue, count);
                if (!creep)
                    continue;
                bar.setText(creep->text);
                if (creep->position)
                    bar.setPosition(*creep->position);
            }
        });
    }

    void rowFinished(int row, const RowOutcome& outcome) {
        ++finished;
        if (row == creepRow)
            creepRow = -1;
        // What nobody expected is reported at the step it happened in, on this thread.
        // A named copy: clang does not let a lambda capture a structured binding.
        for (const auto& [statement, caught] : outcome.errors) {
            const std::exception_ptr error = caught;
            rowStatement(form, statement, [error] { std::rethrow_exception(error); });
        }
        rowStatement(form, 164, [&] {
            form.Label2->setText(runCount(finished, count, double(clock.elapsed()) / 1000));
            if (log)
                log->write(row, outcome);
        });
    }
};

engine::RunCallbacks progressOn(Form1& form, const engine::RunRequest& request,
                                engine::RunLog* log) {
    auto display = std::make_shared<RunDisplay>(form, request, log);
    engine::RunCallbacks callbacks;
    callbacks.rowStarted = [display](int row) { display->rowStarted(row); };
    callbacks.rowStep = [display](int row, int statement) { display->rowStep(row, statement); };
    callbacks.pause = [display] { display->pause(); };
    callbacks.rowFinished = [display](int row, const RowOutcome& outcome) {
        display->rowFinished(row, outcome);
    };
    return callbacks;
}

RowState stateOf(const RowOutcome& row) {
    if (row.converted)
        return RowState::Converted;
    if (row.stopped)
        return RowState::Stopped;
    if (engine::endedByStop(row))
        return RowState::NotStarted;
    return RowState::Failed;
}

// Each row shows what the run made of it until the rows change. Rows may have been carried or
// added during the run: each row takes the outcome of the first row of the run with its path
// that no other row took.
void showOutcomes(FileListModel& files, const QList<RowOutcome>& rows) {
    QMultiHash<QString, int> byPath;
    for (int i = int(rows.size()) - 1; i >= 0; --i)
        byPath.insert(rows[i].input, i);
    for (int i = 0; i < files.count(); ++i) {
        const auto it = byPath.constFind(files.text(i));
        if (it == byPath.cend())
            continue;
        const RowOutcome& row = rows[it.value()];
        byPath.erase(it);
        QString tip = row.converted ? row.output : engine::failureReason(row);
        if (const QString note = engine::textLayerNote(row); !note.isEmpty())
            tip += QStringLiteral("; ") + note;
        files.setOutcome(i, stateOf(row), tip);
    }
}

// The folder "Open Folder" shows: the output folder, or the first row's when results go beside
// the originals.
QString folderToOpen(const engine::RunRequest& request) {
    if (request.output.toFolder)
        return request.output.folder;
    return request.inputs.isEmpty() ? QString() : paths::FolderOf(request.inputs.front());
}

// The joined document's name, asked once with a save dialog in the output folder; "" when the
// user cancels.
QString askJoinTarget(Form1& form, const QStringList& inputs) {
    const QString folder =
        form.Option1->isChecked() ? form.Text1->text() : paths::FolderOf(inputs.value(0));
    QString suggested = QDir(folder).dirName();
    if (suggested.isEmpty() || suggested == QLatin1String("."))
        suggested = QStringLiteral("document");
    QString target =
        form.dialogs().saveFile(&form, Texts::tr("Join into one document"),
                                QDir(folder).filePath(suggested + QStringLiteral(".djvu")),
                                Texts::tr("DjVu documents (*.djvu)"));
    if (!target.isEmpty() && QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".djvu");
    return target;
}

// After the rows of a joining run: the document from all of them, or, when some failed and the
// user agrees, from the others; otherwise nothing. What the closing box adds about it.
QString joinInWindow(Form1& form, const QList<RowOutcome>& rows, const QString& target,
                     bool stopped, engine::RunLog* log) {
    const auto line = QStringLiteral("\r\n");
    const QString name = paths::visible(target);
    if (stopped)
        return Texts::tr("%1 was not written.").arg(name);
    const QStringList failed = engine::notJoined(rows);
    if (failed.size() == rows.size())
        return Texts::tr("%1 was not written.").arg(name);
    if (!failed.isEmpty()) {
        QStringList shown = failed.mid(0, engine::kListedFailures);
        if (failed.size() > shown.size())
            shown.append(Texts::tr("and %n more", nullptr, int(failed.size() - shown.size())));
        const QString question =
            Texts::tr("%n file(s) could not be converted:", nullptr, int(failed.size())) + line +
            shown.join(line) + line + line + Texts::tr("Make %1 from the other files?").arg(name);
        if (!form.dialogs().yesNo(&form, question, platform::Icon::Question)) {
            if (log)
                log->note(QStringLiteral("not joined: %1 file(s) failed").arg(failed.size()));
            return Texts::tr("%1 was not written.").arg(name);
        }
    }
    const engine::JoinResult joined = engine::joinDocument(rows, target);
    if (!joined.problem.isEmpty()) {
        if (log)
            log->note(QStringLiteral("not joined: ") + joined.problem);
        return Texts::tr("%1 was not written: %2").arg(name, joined.problem);
    }
    const QStringList pages = engine::joinedPages(joined);
    if (log) {
        log->note(QStringLiteral("joined into %1, %2 page(s):").arg(target).arg(joined.pages));
        for (const QString& entry : pages)
            log->note(entry);
    }
    QStringList listed = pages.mid(0, engine::kListedFailures);
    if (pages.size() > listed.size())
        listed.append(Texts::tr("and %n more", nullptr, int(pages.size() - listed.size())));
    return Texts::tr("Joined into %1 (%n page(s)):", nullptr, joined.pages).arg(name) + line +
           listed.join(line);
}

// Every row of a run before the engine reaches it.
QList<RowOutcome> unstartedRows(const QStringList& inputs) {
    QList<RowOutcome> rows;
    for (const QString& input : inputs) {
        RowOutcome row;
        row.input = input;
        row.fileName = paths::FileNameOf(input);
        rows.append(row);
    }
    return rows;
}

// A stop agreed to after the last row had ended cut nothing short; a joined run's stop may have
// skipped the join itself.
bool cutShort(const engine::Engine& engine, const QList<RowOutcome>& rows, bool joined) {
    return engine.stopped() &&
           (joined || std::any_of(rows.cbegin(), rows.cend(), engine::endedByStop));
}

// "Done." only when every file was converted, each with the text it was to get.
bool allConverted(const QList<RowOutcome>& rows) {
    return std::all_of(rows.cbegin(), rows.cend(), [](const RowOutcome& r) {
        return r.converted && engine::textLayerNote(r).isEmpty();
    });
}

} // namespace

QString runCount(int done, int count, double elapsedSeconds) {
    QString text = Texts::tr("%1 of %2").arg(done).arg(count);
    // An estimate from fewer rows would jump about.
    if (done >= 3 && done < count) {
        const double left = elapsedSeconds / done * (count - done);
        const int minutes = int(std::lround(left / 60));
        if (left < 60)
            text += Texts::tr(", less than a minute left");
        else if (minutes < 90)
            text += Texts::tr(", about %1 min left").arg(minutes);
        else
            text += Texts::tr(", about %1 h left").arg(std::lround(left / 3600));
    }
    return text;
}

bool askToStop(Form1& form) {
    const auto it = activeRuns().find(&form);
    if (it == activeRuns().end() || !it->second.engine)
        return false;
    engine::Engine* engine = it->second.engine;
    if (engine->stopped())
        return true; // already stopping: nothing to ask
    if (!form.dialogs().yesNo(&form,
                              Texts::tr("Stop converting? Files already converted are kept."),
                              platform::Icon::Question))
        return false;
    // The run may have ended while the question was open.
    const auto still = activeRuns().find(&form);
    if (still != activeRuns().end() && still->second.engine == engine)
        engine->stop();
    return true;
}

void PushButton2_Click(Form1& form) {
    ProgressBar& bar = *form.ProgressBar1;

    std::optional<engine::Engine> engine;
    std::optional<engine::RunLog> log;
    engine::RunRequest request;
    engine::RunChoices choices;
    QList<RowOutcome> rows;
    QString refusal;    // why the run converts nothing, said once instead of per row
    QString joinTarget; // the one document, when the run joins its files
    QString joinNote;   // what the closing box says about it
    std::optional<platform::PrivateFolder> staging;
    // Whoever watches runs hears of the end once, with the closing box's text.
    bool running = false;
    const auto ended = [&form, &running](const QString& text) {
        if (std::exchange(running, false))
            emit form.runFinished(text);
    };
    // The run's log, while it can be written to.
    const auto openLog = [&log]() -> engine::RunLog* {
        return log && log->isOpen() ? &*log : nullptr;
    };

    runNumbered(
        form, trace::PushButton2_Click, 100,
        [&](int line) {
            switch (line) {
            case 100:
                return form.IsConverting ? kEndHandler : 102;
            case 102:
                form.IsConverting = true;
                return 104;
            case 104:
                return form.files().count() > 0 ? 106 : 184;
            case 106:
                return paths::IsFolder(form.Text1->text()) || !form.Option1->isChecked() ? 108
                                                                                         : 182;
            case 108:
                if (form.Check2->isChecked()) {
                    joinTarget = askJoinTarget(form, form.files().files());
                    if (joinTarget.isEmpty())
                        return 186; // cancelled: nothing happens
                }
                form.setMousePointer(Form1::Hourglass);
                engine.emplace(paths::programFolder());
                activeRuns()[&form].engine = &*engine;
                choices = choicesOf()(form);
                refusal = engine->prepare(choices.route, choices.text);
                return refusal.isEmpty() ? 110 : 174;
            case 110:
                refusal = engine->deploy();
                return refusal.isEmpty() ? 126 : 166;
            case 126:
                request = requestFrom(form, choices);
                running = true;
                emit form.runStarted();
                form.files().clearOutcomes();
                form.PushButton3->setEnabled(true);
                form.Label2->setText(runCount(0, int(request.inputs.size()), 0));
                if (wantsLog(request.route))
                    log.emplace(engine::RunLog::newPathIn(engine::defaultLogFolder()), request);
                // The loop over the rows taken now, once: each row's statements from 128 on
                // are the engine's steps and the callbacks of progressOn. Until the engine says
                // otherwise, no row has started.
                rows = unstartedRows(request.inputs);
                if (!joinTarget.isEmpty()) {
                    staging.emplace(platform::temporaryLocation(),
                                    QString::fromLatin1(engine::kRunFolderPrefix));
                    rows = engine::convertForJoin(*engine, request, staging->path(),
                                                  progressOn(form, request, openLog()));
                } else {
                    rows = engine->convert(request, progressOn(form, request, openLog()));
                }
                return 164;
            case 164:
                showOutcomes(form.files(), rows);
                if (!joinTarget.isEmpty())
                    joinNote = joinInWindow(form, rows, joinTarget, engine->stopped(), openLog());
                return 166;
            case 166:
                if (staging)
                    staging->remove();
                if (engine)
                    engine->finish();
                activeRuns().erase(&form);
                return 174;
            case 174:
                form.setMousePointer(Form1::Default);
                form.PushButton3->setEnabled(false);
                form.Label2->clear();
                return 176;
            case 176:
                bar.setPosition(0);
                return 178;
            case 178:
                bar.setText(Form1::tr("Progress Bar"));
                return 180;
            case 180: {
                if (!refusal.isEmpty()) {
                    form.dialogs().ok(&form, refusal, platform::Icon::Warning);
                    return 186;
                }
                const bool stopped =
                    engine && cutShort(*engine, rows, /*joined=*/!joinTarget.isEmpty());
                // A joined document's pages follow the box's own text.
                const QString joined =
                    joinNote.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + joinNote;
                if (!stopped && allConverted(rows)) {
                    ended(Texts::tr("Done.") + joined);
                    form.dialogs().ok(&form, Texts::tr("Done.") + joined);
                    return 186;
                }
                const QString closing =
                    engine::closingText(rows, stopped, openLog() ? log->path() : QString()) +
                    joined;
                ended(closing);
                if (form.dialogs().okOpenFolder(&form, closing, platform::Icon::Warning))
                    form.desktop().openFolder(joinTarget.isEmpty() ? folderToOpen(request)
                                                                   : paths::FolderOf(joinTarget));
                return 186;
            }
            case 182:
                form.dialogs().ok(
                    &form, Texts::tr("Folder does not exist. Please select another folder."));
                return 186;
            case 184:
                form.dialogs().ok(&form, Texts::tr("No files added."));
                return 186;
            case 186:
                ended(QString());
                activeRuns().erase(&form);
                form.IsConverting = false;
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [&](int line) {
            switch (line) {
            case 108: // without a run folder there is nothing to convert into
            case 110:
                return 166;
            case 126: // whatever the rows came to, the run folder goes
                return 164;
            case 166: // the statements after it up to 172 are the engine's now
                return 174;
            case 180: // each closing box is followed by the return to idle, never by another
                      // box
            case 182:
            case 184:
                return 186;
            default:
                return line + 2;
            }
        });
}

void connect(Form1& form, ChoicesOf choices) {
    choicesOf() = std::move(choices);
    // A click during a run changes nothing and shows nothing (statement 100).
    QObject::connect(form.PushButton2, &QPushButton::clicked, &form,
                     [&form] { PushButton2_Click(form); });
    QObject::connect(form.PushButton3, &QPushButton::clicked, &form, [&form] { askToStop(form); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &form);
    QObject::connect(escape, &QShortcut::activated, &form, [&form] {
        if (form.IsConverting)
            askToStop(form);
    });
    // Closing the window ends the program at once, during a run too; the run's converters and
    // its unfinished files go with it.
    form.mayClose = [&form] {
        if (const auto it = activeRuns().find(&form); it != activeRuns().end() && it->second.engine)
            it->second.engine->abandon();
        return true;
    };
}

} // namespace vormelle::conversion
