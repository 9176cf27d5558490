// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine.h"
#include "engine/outcome.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

namespace vormelle::engine {

// The translation context of the join's texts.
class JoinTexts final {
    Q_DECLARE_TR_FUNCTIONS(vormelle::engine::JoinTexts)
};

// Where one file's pages stand in a joined document.
struct JoinedFile {
    QString input;
    QString fileName;
    int firstPage = 0; // counted from 1
    int pages = 0;
};

struct JoinResult {
    // "" when the document was written; otherwise why nothing was.
    QString problem;
    QList<JoinedFile> files; // the files joined, in list order
    int pages = 0;
};

// Converts the request's rows for one joined document: like Engine::convert, but every result
// goes into `stagingFolder` under a name of its own, so files of the same name from different
// folders never meet. The request's output rule is not used. Row numbers in the callbacks are
// list positions, as with Engine::convert.
QList<RowOutcome> convertForJoin(Engine& engine, const RunRequest& request,
                                 const QString& stagingFolder, const RunCallbacks& callbacks);

// Joins the results of the converted rows, in list order and each file's pages together, into
// `target`. Rows not converted are left out. The document is made beside the target and checked
// page by page against its parts before it replaces the target, so the target is either its old
// self or the whole new document. Nothing is written when no row was converted.
JoinResult joinDocument(const QList<RowOutcome>& rows, const QString& target);

// The pages of each file, a line each: "a.tif: page 1", "b.tif: pages 2-3".
QStringList joinedPages(const JoinResult& result);

// The rows that were not converted, as the question before a partial join names them.
QStringList notJoined(const QList<RowOutcome>& rows);

} // namespace vormelle::engine
