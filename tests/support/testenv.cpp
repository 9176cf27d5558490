#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vormelle::test {

TestEnv::TestEnv() : m_oldConfig(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

TestEnv::~TestEnv() {
    if (m_oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
}

QString TestEnv::settingsFile() const {
    return m_config.path() + QStringLiteral("/Quenlark.conf");
}

QString TestEnv::writeFile(const QString& relative, const QByteArray& bytes) const {
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(full));
    return full;
}

QString TestEnv::builtProgramFolder() {
    return QString::fromLocal8Bit(qgetenv("VORMELLE_PROGRAM_DIR"));
}

QString TestEnv::sourceFolder() {
    return QString::fromLocal8Bit(qgetenv("VORMELLE_SOURCE_DIR"));
}

} // namespace vormelle::test
