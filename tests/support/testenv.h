// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace vormelle::test {

// A private settings folder ($XDG_CONFIG_HOME) and a scratch folder for one test case, and the
// program folder the build laid out. Make one per test function (init/cleanup), not per test.
class TestEnv final {
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    QString configDir() const { return m_config.path(); }
    // $XDG_STATE_HOME, where run logs go.
    QString stateDir() const { return m_state.path(); }
    QString settingsFile() const;
    // A scratch folder, empty at start, removed at the end.
    QString dir() const { return m_scratch.path(); }
    QString path(const QString& relative) const { return dir() + QLatin1Char('/') + relative; }

    // Writes a file (making its folders); returns its full path.
    QString writeFile(const QString& relative, const QByteArray& bytes = "x") const;

    // The built program folder (the executable's folder as installed).
    static QString builtProgramFolder();
    static QString sourceFolder();

private:
    QTemporaryDir m_config;
    QTemporaryDir m_state;
    QTemporaryDir m_scratch;
    QByteArray m_oldConfig;
    QByteArray m_oldState;
};

// A file's bytes, or "(missing)" when it cannot be read.
QByteArray fileBytes(const QString& path);

} // namespace vormelle::test
