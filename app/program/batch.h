// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/program/commandline.h"
#include "engine/outcome.h"

#include <QList>

#include <QString>
#include <QStringList>

#include <cstdio>

namespace vormelle::batch {

// The files a --convert run takes from the names given: a file as given (one that is missing
// fails as its row), a folder by the TIFF files (*.tif, *.tiff in any letter case) in it and
// below it, folder by folder and by name, without "~" names and plain hidden files, as a drop
// lists them. Folders that cannot be read are named in `unreadable`.
QStringList expandInputs(const QStringList& names, QStringList* unreadable = nullptr);

// Writes `text` to `stream` in the system's encoding of names (bytes decoded without loss come
// back as they were), at once.
void print(std::FILE* stream, const QString& text);

// The terminal's progress line: "[#####     ] 3 of 6", the bar `width` characters wide.
QString progressLine(int done, int count, int width = 20);

// The status of a run that was not stopped: 0 when every row converted with all the text it was
// to get and nothing else failed (`clean`: every name read, the log written), otherwise 1.
int finishedStatus(const QList<engine::RowOutcome>& rows, bool clean);

// Runs --convert without a window: the same engine, log and rules as "Start Converting".
// Needs a QCoreApplication. Returns the program's exit status; a run ended by SIGINT or
// SIGTERM returns 128 plus the signal's number, as a shell reports a program it killed.
int run(const commandline::CommandLine& command);

} // namespace vormelle::batch
