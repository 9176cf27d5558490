// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/join.h"

#include "app/paths/paths.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/direct.h" // kBundler
#include "engine/runner.h"
#include "platform/basicerror.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QStandardPaths>

namespace vormelle::engine {

namespace {

// djvm to its end; "" when it ended with 0, otherwise why not.
QString runBundler(const QString& program, const QStringList& arguments, const QString& folder) {
    Command command;
    command.program = program;
    command.arguments = arguments;
    command.environment = converterEnvironment(folder, platform::localeIsUtf8());
    QByteArray output;
    int signal = 0;
    RunOptions options;
    options.output = &output;
    options.signal = &signal;
    const qint32 code = RunAndWait(command, 0, options);
    return code == 0 ? QString() : converterReason(kBundler, code, signal, output);
}

} // namespace

QList<RowOutcome> convertForJoin(Engine& engine, const RunRequest& request,
                                 const QString& stagingFolder, const RunCallbacks& callbacks) {
    // Round k holds the k-th file of each result name, each round in a folder of its own, so
    // no two results of a round share a path.
    QList<QList<int>> rounds;
    QHash<QString, int> seen;
    for (int i = 0; i < request.inputs.size(); ++i) {
        const QString name = paths::FileNameOf(outputPathFor(request.inputs[i], false, {}));
        const int round = seen.value(name, 0);
        seen.insert(name, round + 1);
        if (round >= rounds.size())
            rounds.append(QList<int>());
        rounds[round].append(i);
    }

    QList<RowOutcome> rows(request.inputs.size());
    for (int k = 0; k < rounds.size(); ++k) {
        const QList<int>& members = rounds[k];
        const QString folder = stagingFolder + QStringLiteral("/%1").arg(k + 1);
        QDir().mkpath(folder);
        RunRequest part = request;
        part.inputs.clear();
        for (int i : members)
            part.inputs.append(request.inputs[i]);
        part.output = {true, folder};
        RunCallbacks mapped;
        mapped.pause = callbacks.pause;
        if (callbacks.rowStarted)
            mapped.rowStarted = [&](int row) { callbacks.rowStarted(members[row]); };
        if (callbacks.rowFinished)
            mapped.rowFinished = [&](int row, const RowOutcome& outcome) {
                callbacks.rowFinished(members[row], outcome);
            };
        const QList<RowOutcome> done = engine.convert(part, mapped);
        for (int j = 0; j < done.size() && j < members.size(); ++j)
            rows[members[j]] = done[j];
    }
    return rows;
}

JoinResult joinDocument(const QList<RowOutcome>& rows, const QString& target) {
    JoinResult result;
    QList<QSize> expected; // every page's size, in the document's order
    QStringList parts;
    for (const RowOutcome& row : rows) {
        if (!row.converted)
            continue;
        const QList<QSize> sizes = djvuPageSizes(row.output);
        if (sizes.isEmpty()) {
            result.problem =
                JoinTexts::tr("the result of %1 cannot be read back").arg(row.fileName);
            return result;
        }
        result.files.append({row.input, row.fileName, result.pages + 1, int(sizes.size())});
        result.pages += int(sizes.size());
        expected += sizes;
        parts.append(row.output);
    }
    if (parts.isEmpty()) {
        result.problem = JoinTexts::tr("no file was converted");
        result.files.clear();
        return result;
    }
    const QString bundler = QStandardPaths::findExecutable(QString::fromLatin1(kBundler));
    if (bundler.isEmpty()) {
        result.problem = JoinTexts::tr("djvm was not found (Debian's package djvulibre-bin)");
        return result;
    }

    // Made where the parts are, then copied over the target in one step.
    const QString work = paths::FolderOf(parts.front()) + QStringLiteral("../");
    const QString document = QDir::cleanPath(work + QStringLiteral("joined.djvu"));
    const QString step = QDir::cleanPath(work + QStringLiteral("step.djvu"));
    QFile::remove(document);
    // djvm -c takes single pages reliably; a document of several is added with -i, which keeps
    // all of its pages.
    for (qsizetype first = 0; first < parts.size(); first += kJoinStep) {
        const QStringList some = parts.mid(first, kJoinStep);
        const QString into = first == 0 ? document : step;
        QFile::remove(into);
        QString problem = runBundler(bundler, QStringList{QStringLiteral("-c"), into} + some, work);
        if (problem.isEmpty() && first > 0)
            problem = runBundler(bundler, {QStringLiteral("-i"), document, step}, work);
        if (!problem.isEmpty()) {
            result.problem = JoinTexts::tr("the files could not be joined: %1").arg(problem);
            QFile::remove(document);
            QFile::remove(step);
            return result;
        }
    }
    QFile::remove(step);
    if (djvuPageSizes(document) != expected) {
        result.problem = JoinTexts::tr("the joined document does not hold the pages of its files");
        QFile::remove(document);
        return result;
    }
    try {
        platform::replaceFile(document, target);
    } catch (const BasicError& e) {
        result.problem = JoinTexts::tr("%1 could not be written: %2").arg(target, e.description());
    }
    QFile::remove(document);
    return result;
}

QStringList joinedPages(const JoinResult& result) {
    QStringList lines;
    for (const JoinedFile& file : result.files) {
        const QString pages = file.pages == 1 ? JoinTexts::tr("page %1").arg(file.firstPage)
                                              : JoinTexts::tr("pages %1-%2")
                                                    .arg(file.firstPage)
                                                    .arg(file.firstPage + file.pages - 1);
        lines.append(paths::visible(file.fileName) + QStringLiteral(": ") + pages);
    }
    return lines;
}

QStringList notJoined(const QList<RowOutcome>& rows) {
    QStringList lines;
    for (const RowOutcome& row : rows) {
        if (!row.converted)
            lines.append(paths::visible(row.fileName + QStringLiteral(": ") + failureReason(row)));
    }
    return lines;
}

} // namespace vormelle::engine
