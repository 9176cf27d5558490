// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vormelle::test {

TestEnv::TestEnv()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldState(qgetenv("XDG_STATE_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
}

TestEnv::~TestEnv() {
    for (const auto& [name, old] :
         {std::pair{"XDG_CONFIG_HOME", m_oldConfig}, std::pair{"XDG_STATE_HOME", m_oldState}}) {
        if (old.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, old);
    }
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

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

} // namespace vormelle::test
