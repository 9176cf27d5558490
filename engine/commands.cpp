// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/commands.h"

#include "platform/basicerror.h"
#include "platform/filesystem.h"
#include "platform/loader.h"
#include "resources/toolfiles.h"

namespace vormelle::engine {

namespace {

// A path that starts with "-" would be read as an option.
QString asOperand(const QString& path) {
    return path.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + path : path;
}

} // namespace

QString outputPathFor(const QString& input, bool option1, const QString& text1,
                      paths::Style style) {
    const QString base = paths::StripExtension(paths::FileNameOf(input, style));
    const QString folder = option1 ? text1 : paths::FolderOf(input, style);
    return paths::CleanPath(folder + paths::separator(style) + base + QStringLiteral(".djvu"),
                            style);
}

QStringList firstConverterArguments(const QString& input, const QString& pdf,
                                    const QStringList& extra, bool reencode) {
    QStringList arguments;
    if (reencode)
        arguments.append(QStringLiteral("-n"));
    arguments << QStringLiteral("-z") << QStringLiteral("-m") << QString::number(kMemoryLimitMiB);
    arguments << extra;
    arguments << asOperand(input) << QStringLiteral("-o") << asOperand(pdf);
    return arguments;
}

QStringList secondConverterArguments(const QString& result, const QString& pdf, int dpi,
                                     int threads, const QString& pages) {
    QStringList arguments{QStringLiteral("-o"), asOperand(result),    QStringLiteral("-d"),
                          QString::number(dpi), QStringLiteral("-j"), QString::number(threads)};
    if (!pages.isEmpty())
        arguments << QStringLiteral("-p") << pages;
    return arguments << asOperand(pdf);
}

platform::EnvironmentChanges converterEnvironment(const QString& runFolder, bool localeIsUtf8) {
    platform::EnvironmentChanges env{{"TMPDIR", platform::encodePath(runFolder)}};
    if (!localeIsUtf8)
        env.append(std::pair<QByteArray, QByteArray>("LC_ALL", "C.UTF-8"));
    return env;
}

Command firstConverter(const QString& runFolder) {
    Command c;
    c.environment = converterEnvironment(runFolder, platform::localeIsUtf8());
    if (runFolder.isEmpty())
        return c;
    if (!resources::carriesConverter()) {
        c.program = resources::systemConverter();
        return c;
    }
    // Started through the loader from copies in memory, with the carried libraries preloaded:
    // it runs although the temporary folder may be mounted noexec, and the folder's path, which
    // may hold ":" (TMPDIR=/tmp/x:y), never becomes a library search path.
    const QString tool = runFolder + QLatin1Char('/') + resources::toolFile(101).fileName;
    QStringList libraries;
    for (int id : {102, 103, 104})
        libraries.append(runFolder + QLatin1Char('/') + resources::toolFile(id).fileName);
    try {
        platform::LoaderLaunch launch = platform::loaderLaunch(tool, libraries);
        c.program = launch.loader;
        c.launch = launch.options;
        c.descriptors = launch.descriptors;
    } catch (const BasicError&) {
        // Files that cannot be read: started as it is, the start fails and says so.
        c.program = tool;
    }
    return c;
}

Command secondConverter(const QString& programFolder, const QString& runFolder) {
    Command c;
    c.program = programFolder + QLatin1Char('/') + QString::fromLatin1(kSecondConverter);
    c.environment = converterEnvironment(runFolder, platform::localeIsUtf8());
    return c;
}

} // namespace vormelle::engine
