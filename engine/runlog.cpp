// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/runlog.h"

#include "engine/texts.h"
#include "platform/filesystem.h"
#include "platform/savefile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vormelle::engine {

namespace {

// The converter lines a failed row's entry keeps.
constexpr int kOutputLines = 5;

constexpr char kHeadStart[] = "# Vormelle run of ";

// The bytes an unchanged name holds for a byte outside UTF-8 (see platform::decodePath).
constexpr char16_t kEscapedByteFirst = 0xdc80;
constexpr char16_t kEscapedByteLast = 0xdcff;

int openPath(const QByteArray& name, int flags) {
    int fd = -1;
    do {
        fd = ::open(name.constData(), flags | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool isTiffStart(const QByteArray& start) {
    return start.startsWith("II*\0") || start.startsWith("MM\0*") || start.startsWith("II+\0") ||
           start.startsWith("MM\0+");
}

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
    QStringList notes{textLayerNote(row)};
    if (notes.front().isEmpty())
        notes.front() = emptyPagesNote(row);
    notes.append(orientationNote(row));
    notes.removeAll(QString());
    return notes.join(QStringLiteral("; "));
}

// A named log opened, or why not: a system error, or a refusal of what the name is.
struct Opened {
    int fd = -1;
    QString error;
    QString refused;
};

Opened failed(int error) {
    Opened o;
    o.error = platform::systemErrorText(error);
    return o;
}

Opened refusal(const QString& why) {
    Opened o;
    o.refused = why;
    return o;
}

// A name that is not there yet, `statError` being why stat failed.
Opened openMissing(const QByteArray& name, const QString& path, int statError,
                   const QStringList& outputs) {
    if (statError == ELOOP)
        return refusal(engine::Texts::tr("the name is a symbolic link that loops"));
    if (statError != ENOENT)
        return failed(statError);
    // A result of the run would be renamed over it.
    const QString key = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (const QString& output : outputs) {
        if (QDir::cleanPath(QFileInfo(output).absoluteFilePath()) == key)
            return refusal(engine::Texts::tr("a result of this run has that name"));
    }
    // Made new, never taking over what appeared meanwhile.
    Opened o;
    o.fd = openPath(name, O_WRONLY | O_CREAT | O_EXCL);
    return o.fd < 0 ? failed(errno) : o;
}

Opened openFifo(const QByteArray& name) {
    // Without a reader, opening a FIFO would wait for ever: it is refused at once.
    Opened o;
    o.fd = openPath(name, O_WRONLY | O_NONBLOCK);
    if (o.fd < 0)
        return errno == ENXIO ? refusal(engine::Texts::tr("it is a FIFO that nobody reads"))
                              : failed(errno);
    ::fcntl(o.fd, F_SETFL, ::fcntl(o.fd, F_GETFL) & ~O_NONBLOCK);
    return o;
}

Opened openDevice(const QByteArray& name) {
    Opened o;
    o.fd = openPath(name, O_WRONLY | O_APPEND);
    return o.fd < 0 ? failed(errno) : o;
}

// A regular file `st`: appended to only when it is an earlier log (or empty) that this run
// neither reads nor replaces.
Opened openEarlierLog(const QByteArray& name, const QString& path, const struct stat& st,
                      const RunRequest& request, const QStringList& outputs) {
    for (const QString& input : request.inputs) {
        struct stat in {};
        if (::stat(platform::encodePath(input).constData(), &in) == 0 && in.st_dev == st.st_dev &&
            in.st_ino == st.st_ino)
            return refusal(engine::Texts::tr("it is an input of this run"));
    }
    for (const QString& output : outputs) {
        if (platform::sameFile(output, path))
            return refusal(engine::Texts::tr("a result of this run will replace it"));
    }
    // Read first, and opened for writing only once it is known to be a log: the descriptor read
    // is the one reopened, so a file swapped in meanwhile is never written.
    const int reading = openPath(name, O_RDONLY | O_NONBLOCK);
    if (reading < 0)
        return failed(errno);
    QByteArray start(64, '\0');
    struct stat opened {};
    const ssize_t got = ::pread(reading, start.data(), size_t(start.size()), 0);
    const int readError = errno;
    const bool same = ::fstat(reading, &opened) == 0 && S_ISREG(opened.st_mode) &&
                      opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
    start.truncate(std::max<ssize_t>(got, 0));
    if (!same || got < 0) {
        ::close(reading);
        return failed(got < 0 ? readError : ENOENT);
    }
    const bool empty = opened.st_size == 0;
    if (!empty && !looksLikeRunLog(start)) {
        ::close(reading);
        return refusal(isTiffStart(start)
                           ? engine::Texts::tr("it is a TIFF file")
                           : engine::Texts::tr("it exists and is not a Vormelle log; name a new "
                                               "file or an earlier log"));
    }
    Opened o;
    o.fd = openPath("/proc/self/fd/" + QByteArray::number(reading), O_WRONLY | O_APPEND);
    const int error = errno;
    ::close(reading);
    return o.fd < 0 ? failed(error) : o;
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
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool paired = i > 0 && text.at(i - 1).isHighSurrogate();
        if (!paired && c.unicode() >= kEscapedByteFirst && c.unicode() <= kEscapedByteLast)
            out += QStringLiteral("\\x%1").arg(c.unicode() - 0xdc00, 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('\\'))
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

bool looksLikeRunLog(const QByteArray& start) {
    return start.startsWith(kHeadStart);
}

RunLog::RunLog(const QString& path, const RunRequest& request) : m_path(path) {
    m_fd = openPath(platform::encodePath(path), O_WRONLY | O_CREAT | O_TRUNC);
    if (m_fd < 0) {
        m_error = platform::systemErrorText(errno);
        return;
    }
    writeHead(request);
}

RunLog::RunLog(Named, const QString& path, const RunRequest& request, const QStringList& outputs)
    : m_path(path) {
    const QByteArray name = platform::encodePath(path);
    struct stat st {};
    Opened opened;
    if (::stat(name.constData(), &st) != 0)
        opened = openMissing(name, path, errno, outputs);
    else if (S_ISDIR(st.st_mode))
        opened.refused = engine::Texts::tr("it is a folder");
    else if (S_ISFIFO(st.st_mode))
        opened = openFifo(name);
    else if (S_ISCHR(st.st_mode))
        opened = openDevice(name);
    else if (!S_ISREG(st.st_mode))
        opened.refused = engine::Texts::tr("it is not a regular file");
    else
        opened = openEarlierLog(name, path, st, request, outputs);
    m_fd = opened.fd;
    m_error = opened.error;
    m_refused = opened.refused;
    if (m_fd >= 0)
        writeHead(request);
}

RunLog::~RunLog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void RunLog::writeHead(const RunRequest& request) {
    const QString rule = request.output.toFolder
                             ? QStringLiteral("into ") + escapedForOneLine(request.output.folder)
                             : QStringLiteral("beside the originals");
    const QString head =
        QString::fromLatin1(kHeadStart) +
        QStringLiteral("%1: %2 file(s), %3 job(s), results %4\n"
                       "# row\toutcome\tseconds\tpages\troute\tinput\toutput\treason\n")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
            .arg(request.inputs.size())
            .arg(request.jobs)
            .arg(rule);
    // A log that cannot take even its head is no log: the run is told before it starts.
    if (!writeAll(head.toUtf8())) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool RunLog::writeAll(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (!m_writeFailed)
                m_error = platform::systemErrorText(n < 0 ? errno : EIO);
            m_writeFailed = true;
            return false;
        }
        done += n;
    }
    return true;
}

void RunLog::write(int row, const RowOutcome& outcome) {
    if (m_fd < 0)
        return;
    QStringList lines{
        QStringList{QString::number(row + 1), QLatin1String(outcomeWord(outcome)),
                    QString::number(outcome.seconds, 'f', 1), QString::number(outcome.pages),
                    outcome.route == Route::Pdf ? QStringLiteral("pdf") : QStringLiteral("direct"),
                    escapedForOneLine(outcome.input), escapedForOneLine(outcome.output),
                    escapedForOneLine(reasonOf(outcome))}
            .join(QLatin1Char('\t'))};
    for (const QString& profile : outcome.pageProfiles)
        lines.append(QStringLiteral("    ") + escapedForOneLine(profile));
    if (!outcome.converted) {
        for (const Step& step : outcome.steps)
            appendLastLines(lines, step.tool, step.output);
    }
    writeAll((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

void RunLog::note(const QString& text) {
    if (!isOpen())
        return;
    writeAll((QStringLiteral("# ") + escapedForOneLine(text) + QLatin1Char('\n')).toUtf8());
}

} // namespace vormelle::engine
