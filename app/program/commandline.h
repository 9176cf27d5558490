// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/route.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vormelle::commandline {

// What the command line asks for. Read before any window or display exists, so it stays free
// of widgets; the program acts on it.
struct CommandLine {
    enum class Action { Window, Convert, Help, Version, UsageError };
    // None only outside --convert: a run names where its results go.
    enum class Destination { None, Folder, Beside, Join };
    enum class Encoder { Direct, Pdf };

    Action action = Action::Window;
    // The files and folders given, as full paths, in the order given.
    QStringList inputs;
    // For UsageError: what was wrong, in one line.
    QString error;

    // Options of --convert.
    Destination destination = Destination::None;
    QString outputFolder;     // with Destination::Folder
    QString joinFile;         // with Destination::Join: the one document
    bool joinPartial = false; // join the files that converted when others failed
    bool skipExisting = false;
    Encoder encoder = Encoder::Direct;
    engine::ColourPages colourPages = engine::ColourPages::Compound;
    bool lossy = false; // the direct route's bitonal pages coded lossy
    int jobs = 0;       // 0: not given
    QString logFile;
    bool print0 = false; // results on stdout as they are, each ended by a NUL
    bool ocr = false;
    QString ocrLanguages; // empty: the default languages
};

// Exit statuses of the program; a run stopped by SIGINT or SIGTERM ends with 128 plus the
// signal's number (130, 143).
inline constexpr int kExitConverted = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCannotRun = 3;

// Reads the arguments after the program's name. Names are the system's bytes (decoded without
// loss); relative ones are taken from `currentFolder`.
CommandLine parse(const QList<QByteArray>& arguments, const QString& currentFolder);

QString usage();
// What a usage error prints: "vormelle: ERROR" and where the help is, two lines.
QString usageErrorText(const QString& error);
QString version();

} // namespace vormelle::commandline
