// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/commandline.h"

#include "app/program/texts.h"
#include "engine/engine.h"
#include "engine/ocr.h"
#include "platform/filesystem.h"

#include <QCoreApplication>

#include <algorithm>

namespace vormelle::commandline {

namespace {

using Action = CommandLine::Action;

// Options of --convert that take a value, given as "--name VALUE" or "--name=VALUE".
const QList<QByteArray> kValued = {"--output", "--encoder", "--jobs",
                                   "--log",    "--join",    "--colour-pages"};

QString absolute(const QString& path, const QString& currentFolder) {
    if (path.startsWith(QLatin1Char('/')) || currentFolder.isEmpty())
        return path;
    QString folder = currentFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    // "./a.tif" names a.tif; other dots are left alone, since ".." across a link is not the
    // folder above.
    QString rest = path;
    while (rest.startsWith(QLatin1String("./")))
        rest = rest.mid(2);
    if (rest.isEmpty() || rest == QLatin1String("."))
        return folder;
    return folder + rest;
}

bool isDigits(const QByteArray& text) {
    return !text.isEmpty() && text.size() <= 3 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

CommandLine usageError(const QString& error) {
    CommandLine result;
    result.action = Action::UsageError;
    result.error = error;
    return result;
}

QString shown(const QByteArray& argument) {
    return platform::decodePath(argument);
}

} // namespace

CommandLine parse(const QList<QByteArray>& arguments, const QString& currentFolder) {
    CommandLine result;
    QList<QByteArray> seen; // the options given, in order
    bool onlyNames = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (onlyNames || argument == "-" || !argument.startsWith('-')) {
            if (argument.isEmpty())
                return usageError(program::Texts::tr("an empty name is no file or folder"));
            result.inputs.append(absolute(platform::decodePath(argument), currentFolder));
            continue;
        }
        if (argument == "--") {
            onlyNames = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            result = {};
            result.action = Action::Help;
            return result;
        }
        if (argument == "--version") {
            result = {};
            result.action = Action::Version;
            return result;
        }

        const qsizetype equals = argument.indexOf('=');
        const QByteArray name = equals < 0 ? argument : argument.left(equals);
        if (seen.contains(name))
            return usageError(program::Texts::tr("%1 is given twice").arg(shown(name)));
        seen.append(name);

        if (kValued.contains(name)) {
            QByteArray value;
            if (equals >= 0) {
                value = argument.mid(equals + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments.at(++i);
            } else {
                return usageError(program::Texts::tr("%1 needs a value").arg(shown(name)));
            }
            if (value.isEmpty())
                return usageError(program::Texts::tr("%1 needs a value").arg(shown(name)));
            if (name == "--output") {
                result.destination = CommandLine::Destination::Folder;
                result.outputFolder = absolute(platform::decodePath(value), currentFolder);
            } else if (name == "--join") {
                result.destination = CommandLine::Destination::Join;
                result.joinFile = absolute(platform::decodePath(value), currentFolder);
                if (result.joinFile.endsWith(QLatin1Char('/')))
                    return usageError(
                        program::Texts::tr("--join takes the document's file name, not a folder"));
            } else if (name == "--log") {
                result.logFile = absolute(platform::decodePath(value), currentFolder);
            } else if (name == "--encoder") {
                if (value == "direct")
                    result.encoder = CommandLine::Encoder::Direct;
                else if (value == "pdf")
                    result.encoder = CommandLine::Encoder::Pdf;
                else
                    return usageError(program::Texts::tr("--encoder takes direct or pdf, not %1")
                                          .arg(shown(value)));
            } else if (name == "--colour-pages") {
                if (value == "compound")
                    result.colourPages = engine::ColourPages::Compound;
                else if (value == "layer")
                    result.colourPages = engine::ColourPages::Layer;
                else
                    return usageError(
                        program::Texts::tr("--colour-pages takes compound or layer, not %1")
                            .arg(shown(value)));
            } else { // --jobs
                const int jobs = isDigits(value) ? value.toInt() : 0;
                if (jobs < 1 || jobs > engine::kMostJobs)
                    return usageError(
                        program::Texts::tr("--jobs takes a number from 1 to %1, not %2")
                            .arg(engine::kMostJobs)
                            .arg(shown(value)));
                result.jobs = jobs;
            }
            continue;
        }
        if (equals < 0 && name == "--convert") {
            result.action = Action::Convert;
            continue;
        }
        if (equals < 0 && name == "--print0") {
            result.print0 = true;
            continue;
        }
        if (equals < 0 && name == "--beside") {
            result.destination = CommandLine::Destination::Beside;
            continue;
        }
        if (equals < 0 && name == "--join-partial") {
            result.joinPartial = true;
            continue;
        }
        if (equals < 0 && name == "--skip-existing") {
            result.skipExisting = true;
            continue;
        }
        if (equals < 0 && name == "--lossy") {
            result.lossy = true;
            continue;
        }
        if (name == "--ocr") {
            result.ocr = true;
            if (equals >= 0) {
                const QByteArray languages = argument.mid(equals + 1);
                if (!engine::isLanguageList(QString::fromLatin1(languages)))
                    return usageError(
                        program::Texts::tr("--ocr= takes languages like eng or deu+eng, not \"%1\"")
                            .arg(shown(languages)));
                if (const QString model = engine::notALanguage(QString::fromLatin1(languages));
                    !model.isEmpty())
                    return usageError(QStringLiteral("--ocr=") + shown(languages) +
                                      QStringLiteral(": ") + model);
                result.ocrLanguages = QString::fromLatin1(languages);
            }
            continue;
        }
        return usageError(program::Texts::tr("unknown option %1").arg(shown(argument)));
    }

    int destinations = 0;
    for (const char* option : {"--output", "--beside", "--join"})
        destinations += seen.contains(option) ? 1 : 0;
    if (destinations > 1)
        return usageError(program::Texts::tr("--output, --beside and --join exclude each other"));
    if (seen.contains("--join-partial") && !seen.contains("--join"))
        return usageError(program::Texts::tr("--join-partial needs --join FILE"));
    if (result.action != Action::Convert) {
        for (const QByteArray& option : seen) {
            if (option != "--convert")
                return usageError(program::Texts::tr("%1 needs --convert").arg(shown(option)));
        }
    } else if (result.inputs.isEmpty()) {
        return usageError(program::Texts::tr("--convert needs at least one FILE or FOLDER"));
    } else if (destinations == 0) {
        // Never the window's stored folder: a script's results must not depend on it.
        return usageError(
            program::Texts::tr("--convert needs --output DIR, --beside or --join FILE"));
    } else if (result.lossy && result.encoder == CommandLine::Encoder::Pdf) {
        // Coding exactly what was asked to be small, without a word, would mislead a script.
        return usageError(program::Texts::tr("--lossy needs --encoder direct"));
    }
    return result;
}

QString usage() {
    return program::Texts::tr(
        "Usage: vormelle [FILE|FOLDER]...\n"
        "       vormelle --convert (--output DIR | --beside | --join FILE.djvu)\n"
        "                [--encoder direct|pdf] [--colour-pages compound|layer] [--lossy]\n"
        "                [--jobs N] [--log FILE] [--ocr[=LANGS]]\n"
        "                [--skip-existing] [--join-partial] [--print0] FILE|FOLDER...\n"
        "\n"
        "Converts TIFF images into DjVu documents.\n"
        "\n"
        "Without --convert, opens the window with the files already listed; a folder adds\n"
        "the TIFF files (*.tif, *.tiff) in it and in its sub-folders.\n"
        "\n"
        "  --convert          convert without a window, and end; a folder stands for the\n"
        "                     TIFF files of its tree\n"
        "  --output DIR       write the results into DIR\n"
        "  --beside           write each result next to its original\n"
        "  --join FILE.djvu   join all pages into one document, file after file\n"
        "  --join-partial     with --join: when some files fail, join the others\n"
        "                     (without it, nothing is written)\n"
        "  --skip-existing    leave results that already exist alone\n"
        "  --encoder ENCODER  direct (straight into DjVu: Vormelle's own JB2 coder and\n"
        "                     DjVuLibre's c44, the default) or pdf (tiff2pdf, pdf2djvu)\n"
        "  --colour-pages compound|layer\n"
        "                     the direct route's grey and colour pages: a sharp text\n"
        "                     mask over small colour layers (compound, the default), or\n"
        "                     one picture layer (layer)\n"
        "  --lossy            the direct route's black-and-white pages smaller: a letter\n"
        "                     scanned twice is drawn as one of its prints, never as\n"
        "                     another letter or figure; at most 1 % of a page's pixels\n"
        "                     change\n"
        "  --jobs N           convert N files at a time, 1 to 16 (default: the cores, at\n"
        "                     most 8)\n"
        "  --log FILE         write a record of every file into FILE (a new file, or\n"
        "                     an earlier log, which is added to)\n"
        "  --ocr[=LANGS]      add a text layer with Tesseract, in LANGS (such as deu+eng;\n"
        "                     default: the window's OCR languages, or English and the\n"
        "                     user's language)\n"
        "  --print0           end each result's name on stdout with a NUL, not a newline,\n"
        "                     and print it unescaped\n"
        "  -h, --help         show this help and end\n"
        "      --version      show the version and end\n"
        "\n"
        "The window's stored choices do not change a --convert run.\n"
        "\n"
        "Exit status:\n"
        "  0    all converted (or skipped as existing)\n"
        "  1    some files failed, or lost the text layer --ocr asked for\n"
        "  2    usage error\n"
        "  3    nothing could run (no converter, no output folder, no TIFF files)\n"
        "  130  stopped by Ctrl-C (SIGINT)\n"
        "  143  stopped by SIGTERM\n");
}

QString usageErrorText(const QString& error) {
    return QStringLiteral("vormelle: ") + error + QLatin1Char('\n') +
           program::Texts::tr("Try 'vormelle --help' for more information.") + QLatin1Char('\n');
}

QString version() {
    return QStringLiteral("vormelle " VORMELLE_VERSION);
}

} // namespace vormelle::commandline
