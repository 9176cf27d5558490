#pragma once

#include "engine/engine.h"
#include "engine/outcome.h"

#include <QFile>
#include <QString>

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
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    QString error() const { return m_file.errorString(); }

    // One line: row number, outcome, seconds, pages, route, input, output, and the reason; for a
    // failed row the last lines its converters wrote follow, indented.
    void write(int row, const RowOutcome& outcome);

private:
    QFile m_file;
};

// A text with its control characters and backslashes escaped (\n, \t, \x1b, \\): one line,
// whatever a file name holds.
QString escapedForOneLine(const QString& text);

} // namespace vormelle::engine
