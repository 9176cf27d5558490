#include "engine/runlog.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

namespace vormelle::engine {

namespace {

// The converter lines a failed row's entry keeps.
constexpr int kOutputLines = 5;

const char* outcomeWord(const RowOutcome& row) {
    if (row.converted)
        return "converted";
    if (row.stopped)
        return "stopped";
    if (!row.started && row.steps.isEmpty())
        return "not-started";
    return "failed";
}

void appendLastLines(QStringList& lines, const QString& converter, const QByteArray& output) {
    QList<QByteArray> all = output.split('\n');
    all.removeIf([](const QByteArray& l) { return l.trimmed().isEmpty(); });
    for (const QByteArray& l : all.mid(std::max<qsizetype>(0, all.size() - kOutputLines)))
        lines.append(QStringLiteral("    %1| %2")
                         .arg(converter, escapedForOneLine(QString::fromUtf8(l.trimmed()))));
}

// A failed row's reason; for a converted row what became of its text layer, if anything.
QString reasonOf(const RowOutcome& row) {
    if (!row.converted)
        return failureReason(row);
    const QString note = textLayerNote(row);
    return note.isEmpty() ? emptyPagesNote(row) : note;
}

} // namespace

QString defaultLogFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/vormelle");
}

QString escapedForOneLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString RunLog::newPathIn(const QString& folder) {
    QDir dir(folder);
    dir.mkpath(QStringLiteral("."));
    const QString name =
        QStringLiteral("run-%1-%2.log")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
            .arg(::getpid());
    // Names sort by time: the first ones are the oldest.
    QStringList logs = dir.entryList({QStringLiteral("run-*.log")}, QDir::Files, QDir::Name);
    logs.removeAll(name);
    while (logs.size() >= kKeptLogs)
        dir.remove(logs.takeFirst());
    return dir.filePath(name);
}

RunLog::RunLog(const QString& path, const RunRequest& request) : m_file(path) {
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    const QString rule = request.output.toFolder
                             ? QStringLiteral("into ") + escapedForOneLine(request.output.folder)
                             : QStringLiteral("beside the originals");
    const QString head =
        QStringLiteral("# Vormelle run of %1: %2 file(s), %3 job(s), results %4\n"
                       "# row\toutcome\tseconds\tpages\troute\tinput\toutput\treason\n")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
            .arg(request.inputs.size())
            .arg(request.jobs)
            .arg(rule);
    m_file.write(head.toUtf8());
    m_file.flush();
}

void RunLog::write(int row, const RowOutcome& outcome) {
    if (!m_file.isOpen())
        return;
    QStringList lines{
        QStringList{QString::number(row + 1), QLatin1String(outcomeWord(outcome)),
                    QString::number(outcome.seconds, 'f', 1), QString::number(outcome.pages),
                    outcome.route == Route::Pdf ? QStringLiteral("pdf") : QStringLiteral("direct"),
                    escapedForOneLine(outcome.input), escapedForOneLine(outcome.output),
                    escapedForOneLine(reasonOf(outcome))}
            .join(QLatin1Char('\t'))};
    if (!outcome.converted) {
        for (const Step& step : outcome.steps)
            appendLastLines(lines, step.tool, step.output);
    }
    m_file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    m_file.flush();
}

} // namespace vormelle::engine
