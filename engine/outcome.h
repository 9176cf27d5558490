// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/route.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>
#include <utility>

namespace vormelle::engine {

// How many failed rows the closing box names; the others it only counts.
inline constexpr int kListedFailures = 10;

// One program a row ran, on either route: a converter, an encoder, the document writer.
struct Step {
    Step() = default;
    Step(QString tool_, qint32 result_, int signal_ = 0, QByteArray output_ = {})
        : tool(std::move(tool_)), result(result_), signal(signal_), output(std::move(output_)) {}

    QString tool;      // "tiff2pdf", "pdf2djvu", "cjb2", "c44", "document writer"
    qint32 result = 0; // as runToEnd reports it (kStartFailed + n: not started)
    int signal = 0;    // the signal that ended it, 0 for none
    QByteArray output; // its last kilobytes; kept for the rows the closing box names
    // It ended with 0 but did not write what it was to write (tiff2pdf: the PDF).
    bool wroteNothing = false;
    // Its failure fails the row; a text layer's step costs only the text.
    bool needed = true;
    bool failed() const { return result != 0 || signal != 0 || wroteNothing; }
};

// What happened to one row of a run, gathered as its statements go.
struct RowOutcome {
    // The row's path: its folder is named when another failure has the same name.
    QString input;
    int index = -1;   // its place in the run, from 0
    QString output;   // where its result goes
    QString fileName; // the input's name, for the closing box
    // The largest page's pixels, as the inspection found them (0 when unknown).
    int pageWidth = 0;
    int pageHeight = 0;
    // The programs the row ran, in order, each with its result (see Step).
    QList<Step> steps;
    // The temporary location, when a converter failed while it had no space left.
    QString noSpaceIn;
    QString problem; // what the check or the placing of the result found
    int pages = 0;   // the TIFF's pages, once inspected
    int dpi = 0;     // the resolution its DjVu pages get
    double seconds = 0;
    Route route = Route::Pdf;
    bool started = false;
    bool stopped = false; // a stop ended it while it was converted
    bool converted = false;
    // The text layer: whether the run adds one, why this row's result has none ("" when it
    // has, or none was asked for), and the pages where nothing was found.
    bool textWanted = false;
    QString textProblem;
    QList<int> pagesWithoutText;
    // The direct route: how each page was coded, with its layers' bytes ("page 1: compound
    // (text 3.1 %, photograph 20.4 % of the page), mask 5210 B, foreground 1432 B, background
    // 20112 B").
    QStringList pageProfiles;
    // The pages whose recognition reached its bound (recognitionBoundMs): their text is what
    // was read until then.
    QList<int> pagesCutShort;
    // The pages whose text was found turned and read the right way up (page, degrees
    // clockwise), and those whose orientation Tesseract was unsure of (read as they are).
    QList<std::pair<int, int>> pagesTurned;
    QList<int> pagesOrientationUnsure;
    // The pages whose reading failed (the recognition helper crashed), with why: they have no
    // text, the rest of the row has.
    QList<std::pair<int, QString>> pagesTextLost;
    // The step its work is at, by the numbers of the window's handler: 138 its names and paths,
    // 150 the inspection, 152 its folder, 154 the first converter (or the encoders), 156 the
    // look for the PDF, 162 the second converter and the placing of the result.
    int statement = 0;
    // What went wrong that nobody expected, with the step it ended the row at: the window shows
    // each in its error report at that number.
    QList<std::pair<int, std::exception_ptr>> errors;
};

// The last line with something on it, without surrounding white space; "" when there is none.
// tiff2pdf's closing "An error occurred creating output PDF file." is passed over.
QString lastNonEmptyLine(const QByteArray& output);

// The row's first needed step that failed, or null.
const Step* failedStep(const RowOutcome& row);

// Why a converter failed, from its result (kStartFailed plus an error number when it could not
// be started), the signal that ended it and what it wrote: "pdf2djvu crashed (...)", its last
// line, or "{converter} ended with code {n}".
QString converterReason(const char* converter, qint32 result, int signal, const QByteArray& output,
                        int pageWidth = 0, int pageHeight = 0);

// Why a row was not converted, in the closing box's words.
QString failureReason(const RowOutcome& row);

// For a converted row that was to get a text layer and did not: "no text layer: {reason}"; when
// pages reached the bound of their recognition: "text layer cut short on page 3: ..."; otherwise
// "".
QString textLayerNote(const RowOutcome& row);

// For a converted row with a text layer, the pages without any text: "no text found on page 3",
// "... on pages 2, 5"; otherwise "".
QString emptyPagesNote(const RowOutcome& row);

// For a converted row with a text layer, what its pages' orientation detection found: "page 2:
// text turned by 90 degrees, read the right way up; page 3: orientation unsure, read as it is";
// otherwise "".
QString orientationNote(const RowOutcome& row);

// Whether a stop, not a fault, kept the row from being converted.
bool endedByStop(const RowOutcome& row);

// The closing box: "Done." when every row converted; otherwise "Done.", an empty line, the count
// and one line per failed row (at most ten, then how many more, and where the log with all the
// reasons is when more than ten failed), lines ending in CR LF. Rows converted without the text
// layer they were to get follow, each as "p3.tif: converted; no text layer: {reason}" (at most
// ten). Names show with their control
// characters escaped; two failures of the same name say their folders. A stopped run begins
// "Stopped." and says how many files were converted and how many were not, before its failures.
QString closingText(const QList<RowOutcome>& rows, bool stopped = false,
                    const QString& logPath = {});

} // namespace vormelle::engine
