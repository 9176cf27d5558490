// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/engine.h"
#include "engine/outcome.h"

#include <QString>
#include <QStringList>

namespace vormelle::engine {

// How many run logs the log folder keeps; older ones are removed when a new one begins.
inline constexpr int kKeptLogs = 20;

// Where run logs go: $XDG_STATE_HOME/vormelle, or ~/.local/state/vormelle.
QString defaultLogFolder();

// A plain-text record of one run, a line per row, written as each row ends, so it holds what
// happened even when the program itself does not live to the end of the run. Fields are
// separated by tabs; control characters and backslashes in paths are escaped.
class RunLog final {
public:
    // A new log named after the time in `folder` (made if missing); the oldest beyond kKeptLogs
    // go.
    static QString newPathIn(const QString& folder);
    // Opens (replacing) the log at `path`; isOpen() says whether that worked.
    RunLog(const QString& path, const RunRequest& request);
    // The log a user named for the run. It never takes the place of anything else: a Vormelle
    // log is appended to, a missing file made, an empty one filled; an input of the run, a
    // result it will write, any other existing file, a folder, a FIFO nobody reads and a block
    // device are refused (refused() says why, and nothing was opened for writing). Devices such
    // as /dev/null and FIFOs someone reads take the lines as they are.
    struct Named {};
    RunLog(Named, const QString& path, const RunRequest& request, const QStringList& outputs);
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // Why the log could not be opened or written; "" while all is well.
    QString error() const { return m_error; }
    // Why a named log was refused before anything was opened for writing; "" otherwise.
    QString refused() const { return m_refused; }
    // Whether a line could not be written (the disk full, the device failing): error() says why.
    bool writeFailed() const { return m_writeFailed; }

    // One line: row number, outcome, seconds, pages, route, input, output, and the reason; for a
    // failed row the last lines its converters wrote follow, indented.
    void write(int row, const RowOutcome& outcome);
    // A line about the run as a whole, such as where a joined document's files stand; written
    // as a comment ("# ...") so the table's lines stay as they are.
    void note(const QString& text);

private:
    void writeHead(const RunRequest& request);
    bool writeAll(const QByteArray& bytes);

    QString m_path;
    int m_fd = -1;
    QString m_error;
    QString m_refused;
    bool m_writeFailed = false;
};

// Whether the bytes begin as every Vormelle run log does.
bool looksLikeRunLog(const QByteArray& start);

// A text with its control characters and backslashes escaped (\n, \t, \x1b, \\): one line,
// whatever a file name holds. A name's bytes that are not UTF-8 show as \xff, the byte itself.
QString escapedForOneLine(const QString& text);

} // namespace vormelle::engine
