// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engineprivate.h"

#include "app/paths/paths.h"
#include "engine/checks.h"
#include "engine/commands.h"
#include "engine/deploy.h"
#include "engine/direct.h"
#include "engine/ocr.h"
#include "engine/runner.h"
#include "engine/texts.h"
#include "engine/tiffinspect.h"
#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/regularfile.h"
#include "platform/savefile.h"
#include "platform/tempfolder.h"
#include "resources/toolfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace vormelle::engine {

namespace {

// Where two spellings of one output path meet: the same absolute, cleaned path.
QString outputKey(const QString& output) {
    return QDir::cleanPath(QFileInfo(output).absoluteFilePath());
}

} // namespace

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
// An existing result its owner write-protected is left alone.
QString writeProtection(const QString& output) {
    const QFileInfo existing(output);
    if (existing.exists() && !(existing.permissions() & QFileDevice::WriteOwner))
        return engine::Texts::tr("the existing %1 is write-protected").arg(existing.fileName());
    return {};
}

QString outputProblem(const QString& output) {
    if (const QString protectedFile = writeProtection(output); !protectedFile.isEmpty())
        return protectedFile;
    const QString folder = folderName(output);
    const int error = platform::folderWriteError(folder);
    if (error == ENOENT || error == ENOTDIR)
        return engine::Texts::tr("the output folder %1 no longer exists").arg(folder);
    if (error != 0)
        return engine::Texts::tr("cannot write into the output folder %1: %2")
            .arg(folder, platform::systemErrorText(error));
    const qsizetype nameBytes = platform::encodePath(paths::FileNameOf(output)).size();
    const qsizetype longest = platform::longestName(folder);
    if (nameBytes > longest)
        return engine::Texts::tr("the result's name would be %1 bytes long, more than the %2 its "
                                 "folder allows")
            .arg(nameBytes)
            .arg(longest);
    return {};
}

// Why the run cannot convert anything with the pdf2djvu beside the program; "" when it can.
QString secondConverterProblem(const QString& programFolder) {
    const QString path =
        programFolder + QLatin1Char('/') + QString::fromLatin1(engine::kSecondConverter);
    const int error = platform::runError(path);
    if (error == ENOENT || error == ENOTDIR || error == ELOOP)
        return engine::Texts::tr("Nothing was converted: pdf2djvu was not found. It belongs at %1.")
            .arg(paths::visible(path));
    if (error != 0)
        return engine::Texts::tr(
                   "Nothing was converted: pdf2djvu at %1 cannot be run (it is not an "
                   "executable file).")
            .arg(paths::visible(path));
    return {};
}

QString temporaryFolderProblem(const QString& location, const QString& what,
                               const BasicError& error) {
    const bool full = error.number() == BasicError::DiskFull || platform::hasNoSpaceLeft(location);
    return engine::Texts::tr("Nothing was converted: %1 in the temporary folder %2 (%3).")
        .arg(what, paths::visible(location),
             full ? platform::systemErrorText(ENOSPC) : error.description());
}

PlannedOutputs planOutputs(const QStringList& inputs, const OutputRule& rule) {
    PlannedOutputs plan;
    QHash<QString, int> firstRowOf;
    for (int i = 0; i < inputs.size(); ++i) {
        const QString output = outputPathFor(inputs[i], rule.toFolder, rule.folder);
        plan.outputs.append(output);
        const QString key = outputKey(output);
        const auto it = firstRowOf.constFind(key);
        if (it == firstRowOf.cend()) {
            firstRowOf.insert(key, i);
            plan.clashes.append(QString());
            continue;
        }
        const QString earlier = paths::FileNameOf(inputs[it.value()]);
        QString clash = engine::Texts::tr("its result %1 would replace the one made from %2; ")
                            .arg(paths::FileNameOf(output), earlier);
        clash += rule.toFolder ? engine::Texts::tr("save beside the originals or rename one")
                               : engine::Texts::tr("rename one");
        plan.clashes.append(clash);
    }
    return plan;
}

} // namespace vormelle::engine
