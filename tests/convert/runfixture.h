// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/form1.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testenv.h"

#include <QByteArray>
#include <QStringList>

#include <memory>

namespace vormelle::test {

// The real window with every handler wired in, scripted dialogs, a private settings folder and a
// private temporary location ($TEMP) for the run. The program folder is the one the build laid
// out, with the real pdf2djvu, unless a test names another.
class RunFixture final {
public:
    // `oneJob`: "Jobs" is stored as 1 (the fault tests count converter calls in list order);
    // otherwise it is not stored at all.
    explicit RunFixture(bool oneJob = true);
    ~RunFixture();
    RunFixture(const RunFixture&) = delete;
    RunFixture& operator=(const RunFixture&) = delete;

    TestEnv env;
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    std::unique_ptr<Form1> form;

    // The run's temporary location: empty before a run, and empty again after it.
    QString temp() const { return env.path(QStringLiteral("temp")); }
    QStringList leftInTemp() const;

    void add(const QString& path);
    // Clicks "Start Converting" and returns when the run is over.
    void start();
    // A program folder with a fake pdf2djvu (a shell script); returns the folder.
    QString fakeSecondConverter(const QByteArray& script);
    // The last message box's text ("" when none was shown).
    QString lastBox() const;

private:
    QByteArray m_oldTemp;
};

} // namespace vormelle::test
