#include "convert/conversion.h"

#include "app/controls.h"
#include "app/errorreport.h"
#include "app/form1.h"
#include "app/listview.h"
#include "app/paths/paths.h"
#include "convert/checks.h"
#include "convert/commands.h"
#include "convert/deploy.h"
#include "convert/outcome.h"
#include "convert/runner.h"
#include "convert/tiffinspect.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/filesystem.h"
#include "platform/savefile.h"
#include "platform/tempfolder.h"
#include "resources/toolfiles.h"

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cerrno>

namespace vormelle::conversion {

namespace {

using convert::RowOutcome;

constexpr int kIndexOutOfBounds = 35600;

QString inFolder(const platform::PrivateFolder& folder, const QString& name) {
    return folder.exists() ? folder.path() + QLatin1Char('/') + name : QString();
}

// The folder a path lies in, without its trailing slash.
QString folderName(const QString& path) {
    QString folder = paths::FolderOf(path);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

// Why the result cannot be saved at `output`; "" when it can. Checked before a row is
// converted, so a folder that went away or became read-only, or a name the file system cannot
// hold, costs no conversions, and the folder is never made again somewhere.
QString outputProblem(const QString& output) {
    const QString folder = folderName(output);
    const int error = platform::folderWriteError(folder);
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("the output folder %1 no longer exists").arg(folder);
    if (error != 0)
        return QStringLiteral("cannot write into the output folder %1: %2")
            .arg(folder, platform::systemErrorText(error));
    const qsizetype nameBytes = platform::encodePath(paths::FileNameOf(output)).size();
    const qsizetype longest = platform::longestName(folder);
    if (nameBytes > longest)
        return QStringLiteral("the result's name would be %1 bytes long, more than the %2 its "
                              "folder allows")
            .arg(nameBytes)
            .arg(longest);
    return {};
}

// Why the run cannot convert anything with the pdf2djvu beside the program; "" when it can.
QString secondConverterProblem(const QString& programFolder) {
    const QString path =
        programFolder + QLatin1Char('/') + QString::fromLatin1(convert::kSecondConverter);
    const int error = platform::runError(path);
    if (error == ENOENT || error == ENOTDIR || error == ELOOP)
        return QStringLiteral("Nothing was converted: pdf2djvu was not found. It belongs at %1.")
            .arg(path);
    if (error != 0)
        return QStringLiteral("Nothing was converted: pdf2djvu at %1 cannot be run (it is not an "
                              "executable file).")
            .arg(path);
    return {};
}

QString temporaryFolderProblem(const QString& location, const QString& what,
                               const BasicError& error) {
    const bool full = error.number() == BasicError::DiskFull || platform::hasNoSpaceLeft(location);
    return QStringLiteral("Nothing was converted: %1 in the temporary folder %2 (%3).")
        .arg(what, location, full ? platform::systemErrorText(ENOSPC) : error.description());
}

// The result counts only when both converters succeeded and it has every page the inspection
// found in the TIFF; then it replaces the output file in one step. Otherwise the output path
// stays as it was.
void placeResult(RowOutcome& row, const QString& input, int tiffPages, const QString& result,
                 const QString& output) {
    if (!row.first || *row.first != 0 || !row.second || *row.second != 0)
        return;
    if (!paths::FileExists(result)) {
        row.problem = QStringLiteral("pdf2djvu wrote no DjVu file");
        return;
    }
    const std::optional<int> djvuPages = convert::djvuPageCount(result);
    if (!djvuPages) {
        row.problem = QStringLiteral("the DjVu result could not be opened");
        return;
    }
    if (*djvuPages != tiffPages) {
        row.problem = QStringLiteral("%1 of %2 pages converted").arg(*djvuPages).arg(tiffPages);
        return;
    }
    if (platform::sameFile(input, output)) {
        row.problem = QStringLiteral("the result would replace the input file");
        return;
    }
    try {
        platform::replaceFile(result, output);
    } catch (const BasicError& e) {
        row.problem = outputProblem(output);
        if (row.problem.isEmpty())
            row.problem = QStringLiteral("the result could not be saved in %1: %2")
                              .arg(folderName(output), e.description());
        return;
    }
    row.converted = true;
}

} // namespace

void PushButton2_Click(Form1& form) {
    const ErrorReport report(form.dialogs(), &form, QString::fromLatin1(trace::PushButton2_Click));
    ListView& list = *form.ListView1;
    ProgressBar& bar = *form.ProgressBar1;

    platform::PrivateFolder folder;
    QByteArray bytes;
    int rowCount = 0;
    int i = 0;
    QString input;
    QString pdf;
    QString result;
    QString output;
    int tiffPages = 0;
    QStringList arguments;
    convert::Command first;
    convert::Command second;
    QList<RowOutcome> rows;
    QString location; // the temporary location the run folder is in
    QString refusal;  // why the run converts nothing, said once instead of per row
    int namedFailures = 0;

    auto row = [&]() -> RowOutcome& { return rows.back(); };
    // Without every tool file no row can convert: that is said once, and the run ends.
    auto writeTool = [&](int id) {
        try {
            convert::writeToolFile(folder.path(), id, bytes);
            return true;
        } catch (const BasicError& e) {
            refusal = temporaryFolderProblem(
                location, QStringLiteral("the converter could not be written"), e);
            return false;
        }
    };
    // A converter that failed on a full temporary folder is named for that.
    auto noteSpace = [&](qint32 result) {
        if (result != 0 && folder.exists() && platform::hasNoSpaceLeft(folder.path()))
            row().noSpaceIn = location;
    };
    auto nextRow = [&] {
        ++i;
        return i <= rowCount ? 128 : 166;
    };

    runNumbered(
        report, 100,
        [&](int line) {
            switch (line) {
            case 100:
                return form.IsConverting ? kEndHandler : 102;
            case 102:
                form.IsConverting = true;
                return 104;
            case 104:
                return list.count() > 0 ? 106 : 184;
            case 106:
                // Neither option selected counts as the second: beside each original.
                return paths::IsFolder(form.Text1->text()) || !form.Option1->isChecked() ? 108
                                                                                         : 182;
            case 108:
                form.setMousePointer(Form1::Hourglass);
                refusal = secondConverterProblem(paths::ProgramFolder());
                if (!refusal.isEmpty())
                    return 174;
                location = platform::temporaryLocation();
                platform::removeLeftOverFolders(location, QString::fromLatin1(kRunFolderPrefix));
                try {
                    folder =
                        platform::PrivateFolder(location, QString::fromLatin1(kRunFolderPrefix));
                } catch (const BasicError& e) {
                    refusal = temporaryFolderProblem(location,
                                                     QStringLiteral("no folder for the "
                                                                    "run could be made"),
                                                     e);
                    return 174;
                }
                return 110;
            case 110:
                bytes = resources::CustomResource(101);
                return 112;
            case 112:
                if (!writeTool(101))
                    return 166;
                return 114;
            case 114:
                bytes = resources::CustomResource(102);
                return 116;
            case 116:
                if (!writeTool(102))
                    return 166;
                return 118;
            case 118:
                bytes = resources::CustomResource(103);
                return 120;
            case 120:
                if (!writeTool(103))
                    return 166;
                return 122;
            case 122:
                bytes = resources::CustomResource(104);
                return 124;
            case 124:
                if (!writeTool(104))
                    return 166;
                bytes.clear();
                return refusal.isEmpty() ? 126 : 166;
            case 126:
                rowCount = list.count();
                i = 1;
                return i <= rowCount ? 128 : 166;
            case 128:
                rows.append(RowOutcome{});
                row().fileName = QStringLiteral("row %1").arg(i);
                if (i > list.count())
                    throw BasicError(kIndexOutOfBounds, QStringLiteral("Index out of bounds"));
                input = list.text(i - 1);
                row().fileName = paths::FileNameOf(input);
                return 130;
            case 130:
                bar.setPosition(double(i) / list.count() * 100);
                return 132;
            case 132:
                bar.setText(QStringLiteral("Processing: ") + paths::FileNameOf(input));
                return 134;
            case 134:
                platform::doEvents();
                return 136;
            case 136:
                form.setMousePointer(Form1::Hourglass);
                return 138;
            case 138:
                pdf = inFolder(folder, QString::fromLatin1(convert::kPdfName));
                result = inFolder(folder, QString::fromLatin1(convert::kResultName));
                return 140;
            case 140:
                paths::DeleteFileQuietly(pdf);
                paths::DeleteFileQuietly(result);
                return 142;
            case 142:
                return form.Option1->isChecked() ? 144 : 146;
            case 144:
                output = convert::outputPathFor(input, true, form.Text1->text());
                row().problem = outputProblem(output);
                return row().problem.isEmpty() ? 150 : 164;
            case 146:
                // Option2, or neither selected.
                return 148;
            case 148:
                output = convert::outputPathFor(input, false, {});
                row().problem = outputProblem(output);
                return row().problem.isEmpty() ? 150 : 164;
            case 150: {
                // What the converters would turn into wrong pages, or fail on with a message
                // nobody can act on, is named instead of converted.
                const convert::TiffInspection inspection =
                    convert::inspectTiff(input, [] { platform::doEvents(); });
                if (!inspection.problem.isEmpty()) {
                    row().problem = inspection.problem;
                    return 164;
                }
                tiffPages = inspection.pages;
                arguments = convert::firstConverterArguments(input, pdf, inspection.tiff2pdfOptions,
                                                             !inspection.copyCompressedData);
                return 152;
            }
            case 152:
                first = convert::firstConverter(folder.path());
                first.arguments = arguments;
                return 154;
            case 154: {
                convert::RunOptions options;
                options.output = &row().firstOutput;
                options.signal = &row().firstSignal;
                row().first = convert::RunAndWaitWithProgress(first, 0, &bar, bar.text(),
                                                              bar.value(), list.count(), options);
                noteSpace(*row().first);
                return 156;
            }
            case 156:
                row().pdfMade = !pdf.isEmpty() && paths::FileExists(pdf);
                return row().pdfMade ? 158 : 164;
            case 158:
                second = convert::secondConverter(paths::ProgramFolder(), folder.path());
                return 160;
            case 160:
                second.arguments = convert::secondConverterArguments(result, pdf);
                return 162;
            case 162: {
                convert::RunOptions options;
                options.output = &row().secondOutput;
                options.signal = &row().secondSignal;
                row().second = convert::RunAndWait(second, 0, options);
                noteSpace(*row().second);
                placeResult(row(), input, tiffPages, result, output);
                return 164;
            }
            case 164:
                // A finished row keeps the converters' output only while the closing box may
                // name it: a long run holds a short record per row, not kilobytes.
                if (!row().converted && namedFailures < convert::kListedFailures) {
                    ++namedFailures;
                } else {
                    row().firstOutput.clear();
                    row().secondOutput.clear();
                }
                return nextRow();
            case 166:
                if (folder.exists())
                    paths::DeleteFileQuietly(convert::toolPath(folder.path(), 101));
                return 168;
            case 168:
                if (folder.exists())
                    paths::DeleteFileQuietly(convert::toolPath(folder.path(), 102));
                return 170;
            case 170:
                if (folder.exists())
                    paths::DeleteFileQuietly(convert::toolPath(folder.path(), 103));
                return 172;
            case 172:
                if (folder.exists())
                    paths::DeleteFileQuietly(convert::toolPath(folder.path(), 104));
                // The run's folder goes with everything in it, the last PDF too.
                folder.remove();
                return 174;
            case 174:
                form.setMousePointer(Form1::Default);
                return 176;
            case 176:
                bar.setPosition(0);
                return 178;
            case 178:
                bar.setText(QStringLiteral("Progress Bar"));
                return 180;
            case 180: {
                if (!refusal.isEmpty()) {
                    form.dialogs().messageBox(&form, refusal, QString(), platform::Buttons::Ok,
                                              platform::Icon::Warning);
                    return 186;
                }
                const bool allConverted = std::all_of(
                    rows.cbegin(), rows.cend(), [](const RowOutcome& r) { return r.converted; });
                form.dialogs().messageBox(
                    &form, convert::closingText(rows), QString(), platform::Buttons::Ok,
                    allConverted ? platform::Icon::None : platform::Icon::Warning);
                return 186;
            }
            case 182:
                form.dialogs().messageBox(
                    &form, QStringLiteral("Folder does not exist. Please select another folder."),
                    QString(), platform::Buttons::Ok, platform::Icon::None);
                return 186;
            case 184:
                form.dialogs().messageBox(&form, QStringLiteral("No files added."), QString(),
                                          platform::Buttons::Ok, platform::Icon::None);
                return 186;
            case 186:
                form.IsConverting = false;
                return kEndHandler;
            default:
                return kEndHandler;
            }
        },
        [&](int line) {
            switch (line) {
            case 128: // a row that cannot be read is skipped; the loop goes on with the next one
                return nextRow();
            case 180: // each closing box is followed by the return to idle, never by another box
            case 182:
            case 184:
                return 186;
            default:
                return line + 2;
            }
        });
}

void connect(Form1& form) {
    QObject::connect(form.PushButton2, &QPushButton::clicked, &form,
                     [&form] { PushButton2_Click(form); });
}

} // namespace vormelle::conversion
