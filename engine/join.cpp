// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/join.h"

#include "app/paths/paths.h"
#include "codec/document.h"
#include "codec/error.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "platform/basicerror.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>

namespace vormelle::engine {

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
    // Made where the parts are, then copied over the target in one step.
    const QString work = paths::FolderOf(parts.front()) + QStringLiteral("../");
    const QString document = QDir::cleanPath(work + QStringLiteral("joined.djvu"));
    codec::DocumentWriter writer;
    for (const QString& part : parts) {
        if (const codec::Error error = writer.addFile(part); error != codec::Error::None) {
            result.problem = JoinTexts::tr("the files could not be joined: %1")
                                 .arg(QString::fromLatin1(codec::errorName(error)));
            return result;
        }
    }
    if (const codec::Error error = writer.finishFile(document); error != codec::Error::None) {
        result.problem = JoinTexts::tr("the files could not be joined: %1")
                             .arg(QString::fromLatin1(codec::errorName(error)));
        QFile::remove(document);
        return result;
    }
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
