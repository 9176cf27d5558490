#include "convert/commands.h"

#include "platform/filesystem.h"
#include "resources/toolfiles.h"

namespace vormelle::convert {

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
                                     int threads) {
    return {QStringLiteral("-o"), asOperand(result),    QStringLiteral("-d"),
            QString::number(dpi), QStringLiteral("-j"), QString::number(threads),
            asOperand(pdf)};
}

platform::EnvironmentChanges converterEnvironment(const QString& runFolder, bool localeIsUtf8) {
    platform::EnvironmentChanges env{{"TMPDIR", platform::encodePath(runFolder)}};
    if (!localeIsUtf8)
        env.append(std::pair<QByteArray, QByteArray>("LC_ALL", "C.UTF-8"));
    return env;
}

Command firstConverter(const QString& runFolder) {
    Command c;
    c.program = runFolder.isEmpty()
                    ? QString()
                    : runFolder + QLatin1Char('/') + resources::toolFile(101).fileName;
    c.environment = converterEnvironment(runFolder, platform::localeIsUtf8());
    // The carried libraries come first, so they are the ones the tool loads.
    QByteArray libraryPath = platform::encodePath(runFolder);
    const QByteArray inherited = qgetenv("LD_LIBRARY_PATH");
    if (!inherited.isEmpty())
        libraryPath += ':' + inherited;
    c.environment.append(std::pair<QByteArray, QByteArray>("LD_LIBRARY_PATH", libraryPath));
    return c;
}

Command secondConverter(const QString& programFolder, const QString& runFolder) {
    Command c;
    c.program = programFolder + QLatin1Char('/') + QString::fromLatin1(kSecondConverter);
    c.environment = converterEnvironment(runFolder, platform::localeIsUtf8());
    return c;
}

} // namespace vormelle::convert
