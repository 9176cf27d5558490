// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/paths/paths.h"
#include "engine/runner.h"

#include <QString>
#include <QStringList>

namespace vormelle::engine {

// Names inside the run's private folder.
inline constexpr char kPdfName[] = "pdf_temp.pdf";
// pdf2djvu writes here first; the result reaches the output path only when it is good.
inline constexpr char kResultName[] = "result.djvu";
// The second converter, relative to the program folder.
inline constexpr char kSecondConverter[] = "pdf2djvu/pdf2djvu";
// tiff2pdf's limit for one allocation, in MiB: enough for a 1200 dpi colour A4 page decoded
// (400 MiB), small enough that a header claiming absurd dimensions fails at once.
inline constexpr int kMemoryLimitMiB = 1024;

// The output-name rule: the input's name less its extension, with ".djvu", in the folder typed
// in Text1 (option 1) or in the input's own folder (option 2, and when neither is selected).
QString outputPathFor(const QString& input, bool option1, const QString& text1,
                      paths::Style style = paths::kNative);

// tiff2pdf re-encodes the image data (-n -z) instead of copying it: copied JPEG strips come out
// blank and copied tiles scrambled. `extra` options come before the input. Only YCbCr JPEG
// tiles need the data copied (`reencode` false): tiff2pdf cannot decode them.
QStringList firstConverterArguments(const QString& input, const QString& pdf,
                                    const QStringList& extra = {}, bool reencode = true);
// pdf2djvu renders at `dpi` (the inspection's, so pages keep their pixel size) with `threads`
// threads of its own; `pages` ("4-6") limits it to those pages, "" converts them all.
QStringList secondConverterArguments(const QString& result, const QString& pdf, int dpi,
                                     int threads = 1, const QString& pages = {});

// The two programs with their environments, arguments still to come. Both converters keep their
// scratch files in the run folder; the first is started from the files written there, through
// the dynamic loader, with the libraries written beside it. Without a run folder the first has
// no program, so it fails to start rather than run something else.
Command firstConverter(const QString& runFolder);
Command secondConverter(const QString& programFolder, const QString& runFolder);

// The variables every converter gets: its scratch folder, and a UTF-8 locale when the program's
// own is not (pdf2djvu cannot open non-ASCII paths under the C locale).
platform::EnvironmentChanges converterEnvironment(const QString& runFolder, bool localeIsUtf8);

} // namespace vormelle::engine
