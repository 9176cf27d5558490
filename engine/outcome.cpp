// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/outcome.h"

#include "app/paths/paths.h"
#include "engine/runner.h"
#include "engine/texts.h"

#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <csignal>
#include <cstring>

namespace vormelle::engine {

namespace {

constexpr char kTiff2pdfClosingLine[] = "tiff2pdf: An error occurred creating output PDF file.";
// A converter's message can be long; the box shows its start.
constexpr qsizetype kReasonLength = 200;

bool isCrash(int signal) {
    switch (signal) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGABRT:
    case SIGSYS:
    case SIGTRAP:
        return true;
    default:
        return false;
    }
}

// What the converters and their libraries print when an allocation fails.
bool outOfMemory(const QByteArray& output) {
    for (const char* said : {"cannot allocate memory", "can't allocate", "out of memory",
                             "bad_alloc", "memory allocation failed", "not enough memory"}) {
        if (output.toLower().contains(said))
            return true;
    }
    return false;
}

// The folder a path lies in, without its trailing slash.
QString folderOf(const QString& path) {
    QString folder = paths::FolderOf(path);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

} // namespace

QString converterReason(const char* converter, qint32 result, int signal, const QByteArray& output,
                        int pageWidth, int pageHeight) {
    if (result < 0) { // kStartFailed plus the error number; the system's reason as its output
        const QString why = QString::fromUtf8(output.trimmed());
        return why.isEmpty()
                   ? engine::Texts::tr("%1 could not be started").arg(QLatin1String(converter))
                   : engine::Texts::tr("%1 could not be started: %2")
                         .arg(QLatin1String(converter), why);
    }
    if (signal == 0 && outOfMemory(output)) {
        return pageWidth > 0 && pageHeight > 0
                   ? engine::Texts::tr("not enough memory to convert this page (%1 x %2 pixels)")
                         .arg(pageWidth)
                         .arg(pageHeight)
                   : engine::Texts::tr("not enough memory to convert this page");
    }
    // What a dying converter printed last is seldom why it died.
    if (signal > 0) {
        const char* name = ::sigdescr_np(signal);
        const QString described =
            name ? QString::fromLatin1(name) : engine::Texts::tr("signal %1").arg(signal);
        return (isCrash(signal) ? engine::Texts::tr("%1 crashed (%2)")
                                : engine::Texts::tr("%1 was stopped by a signal (%2)"))
            .arg(QLatin1String(converter), described);
    }
    QString line = lastNonEmptyLine(output);
    if (line.isEmpty())
        return engine::Texts::tr("%1 ended with code %2").arg(QLatin1String(converter)).arg(result);
    if (line.size() > kReasonLength)
        line = line.left(kReasonLength) + QStringLiteral("...");
    return line;
}

QString lastNonEmptyLine(const QByteArray& output) {
    // DjVuLibre's tools end a failure with where it was thrown ("*** (c44.cpp:700)",
    // "*** 'int main(int, char**)'") after the message itself ("*** [1-17556] cannot read pnm
    // file header"): the program's insides, no reason for the user.
    static const QRegularExpression thrownAt(QStringLiteral(R"(^\*\*\* (\(.*:\d+\)|'.*')$)"));
    static const QRegularExpression messageHead(QStringLiteral(R"(^\*\*\* (\[[\d-]+\] )?)"));
    const QList<QByteArray> lines = output.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = QString::fromUtf8(it->trimmed());
        // tiff2pdf closes every failure with this line; the one before it says what failed.
        if (line.isEmpty() || line == QLatin1String(kTiff2pdfClosingLine) ||
            thrownAt.match(line).hasMatch())
            continue;
        const QString message = QString(line).remove(messageHead).trimmed();
        if (!message.isEmpty())
            return message;
    }
    return {};
}

const Step* failedStep(const RowOutcome& row) {
    for (const Step& step : row.steps) {
        if (step.needed && step.failed())
            return &step;
    }
    return nullptr;
}

QString failureReason(const RowOutcome& row) {
    if (row.stopped)
        return engine::Texts::tr("stopped while it was converted");
    // An error report stopped it: what the converters left says nothing then.
    if (!row.errors.isEmpty())
        return engine::Texts::tr("the conversion did not finish");
    if (const Step* failed = failedStep(row)) {
        if (!failed->wroteNothing && !row.noSpaceIn.isEmpty())
            return engine::Texts::tr("no space left in the temporary folder ") + row.noSpaceIn;
        if (failed->result == 0 && failed->signal == 0)
            return failed->tool == QLatin1String("tiff2pdf")
                       ? engine::Texts::tr("tiff2pdf wrote no PDF")
                       : engine::Texts::tr("%1 wrote no DjVu file").arg(failed->tool);
        return converterReason(failed->tool.toLatin1().constData(), failed->result, failed->signal,
                               failed->output, row.pageWidth, row.pageHeight);
    }
    if (!row.problem.isEmpty())
        return row.problem;
    if (!row.started && row.steps.isEmpty())
        return engine::Texts::tr("not started");
    return engine::Texts::tr("the conversion did not finish");
}

QString textLayerNote(const RowOutcome& row) {
    if (!row.converted || !row.textWanted)
        return {};
    if (!row.textProblem.isEmpty())
        return engine::Texts::tr("no text layer: %1").arg(row.textProblem);
    QStringList notes;
    QStringList pages;
    for (const int page : row.pagesCutShort)
        pages.append(QString::number(page));
    if (pages.size() == 1)
        notes.append(engine::Texts::tr("text layer cut short on page %1: reading it took longer "
                                       "than a page of its size may take")
                         .arg(pages.front()));
    else if (!pages.isEmpty())
        notes.append(engine::Texts::tr("text layer cut short on pages %1: reading them took "
                                       "longer than pages of their size may take")
                         .arg(pages.join(QStringLiteral(", "))));
    for (const auto& [page, why] : row.pagesTextLost)
        notes.append(engine::Texts::tr("no text on page %1: %2").arg(page).arg(why));
    return notes.join(QStringLiteral("; "));
}

QString emptyPagesNote(const RowOutcome& row) {
    if (!row.converted || !row.textWanted || !row.textProblem.isEmpty() ||
        row.pagesWithoutText.isEmpty())
        return {};
    QStringList pages;
    for (const int page : row.pagesWithoutText)
        pages.append(QString::number(page));
    return pages.size() == 1 ? engine::Texts::tr("no text found on page %1").arg(pages.front())
                             : engine::Texts::tr("no text found on pages %1")
                                   .arg(pages.join(QStringLiteral(", ")));
}

QString orientationNote(const RowOutcome& row) {
    if (!row.converted || !row.textWanted || !row.textProblem.isEmpty())
        return {};
    QStringList notes;
    for (const auto& [page, degrees] : row.pagesTurned)
        notes.append(engine::Texts::tr("page %1: text turned by %2 degrees, read the right way up")
                         .arg(page)
                         .arg(degrees));
    for (const int page : row.pagesOrientationUnsure)
        notes.append(engine::Texts::tr("page %1: orientation unsure, read as it is").arg(page));
    return notes.join(QStringLiteral("; "));
}

bool endedByStop(const RowOutcome& row) {
    return !row.converted && (row.stopped || (!row.started && row.steps.isEmpty()));
}

QString closingText(const QList<RowOutcome>& rows, bool stopped, const QString& logPath) {
    QHash<QString, int> sameName;
    for (const RowOutcome& row : rows) {
        if (!row.converted)
            ++sameName[row.fileName];
    }
    QStringList failed;
    QStringList withoutText;
    qsizetype converted = 0;
    qsizetype notConverted = 0;
    qsizetype stoppedWhileConverted = 0;
    for (const RowOutcome& row : rows) {
        if (row.converted) {
            ++converted;
            if (const QString note = textLayerNote(row); !note.isEmpty())
                withoutText.append(
                    paths::visible(engine::Texts::tr("%1: converted; %2").arg(row.fileName, note)));
            continue;
        }
        if (stopped && endedByStop(row)) {
            // The row a stop cut short was begun: it is no row "not started".
            ++(row.stopped ? stoppedWhileConverted : notConverted);
            continue;
        }
        QString name = row.fileName;
        if (sameName.value(row.fileName) > 1 && !row.input.isEmpty())
            name += engine::Texts::tr(" (in %1)").arg(folderOf(row.input));
        // A name's line breaks would forge lines of the box; every control character shows.
        failed.append(paths::visible(name + QStringLiteral(": ") + failureReason(row)));
    }
    QStringList lines{stopped ? engine::Texts::tr("Stopped.") : engine::Texts::tr("Done.")};
    if (stopped && stoppedWhileConverted == 0) {
        lines += {QString(), engine::Texts::tr("%1 of %n file(s) converted; %2 not started.",
                                               nullptr, int(rows.size()))
                                 .arg(converted)
                                 .arg(notConverted)};
    } else if (stopped) {
        lines += {QString(),
                  engine::Texts::tr(
                      "%1 of %n file(s) converted; %2 stopped while converted, %3 not started.",
                      nullptr, int(rows.size()))
                      .arg(converted)
                      .arg(stoppedWhileConverted)
                      .arg(notConverted)};
    }
    // Converted, but not searchable: the result is there, and the user knows why its text is not.
    const auto addWithoutText = [&lines, &withoutText] {
        if (withoutText.isEmpty())
            return;
        lines.append(QString());
        lines += withoutText.mid(0, kListedFailures);
        if (withoutText.size() > kListedFailures)
            lines.append(
                QStringLiteral("... and %1 more.").arg(withoutText.size() - kListedFailures));
    };
    if (failed.isEmpty()) {
        addWithoutText();
        return lines.join(QStringLiteral("\r\n"));
    }
    if (!stopped)
        lines.append(QString());
    lines.append(
        engine::Texts::tr("%1 of %n file(s) could not be converted:", nullptr, int(rows.size()))
            .arg(failed.size()));
    lines += failed.mid(0, kListedFailures);
    if (failed.size() > kListedFailures) {
        lines.append(engine::Texts::tr("... and %1 more.").arg(failed.size() - kListedFailures));
        if (!logPath.isEmpty())
            lines.append(engine::Texts::tr("All reasons: ") + paths::visible(logPath));
    }
    addWithoutText();
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace vormelle::engine
