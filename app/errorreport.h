// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/contact.h"

#include <QString>

#include <functional>

class QWidget;

namespace vormelle {

class BasicError;
class Form1;
namespace platform {
class Dialogs;
}

// Trace texts: the handler named in the report.
namespace trace {
inline constexpr char Form_Load[] = "in Tessary2021/08/31.Form1.Form_Load ";
inline constexpr char PushButton1_Click[] = "in Tessary2021/08/31.Form1.PushButton1_Click ";
inline constexpr char PushButton2_Click[] = "in Tessary2021/08/31.Form1.PushButton2_Click ";
inline constexpr char PushButton4_Click[] = "in Tessary2021/08/31.Form1.PushButton4_Click ";
inline constexpr char PushButton6_Click[] = "in Tessary2021/08/31.Form1.PushButton6_Click ";
inline constexpr char PushButton7_Click[] = "in Tessary2021/08/31.Form1.PushButton7_Click ";
inline constexpr char PushButton9_Click[] = "in Tessary2021/08/31.Form1.PushButton9_Click ";
inline constexpr char GetSubDirectories2016[] =
    "in Brannick2021/08/31.AddFolder.GetSubDirectories2016 ";
} // namespace trace

// The report's text; without a support address it ends after the statement's number.
QString errorReportText(const QString& description, const QString& traceText, int line,
                        const QString& supportEmail = QString::fromLatin1(kSupportEmail));

// What the report adds after its text for a failure that concerns a file or folder: a line with
// the path and the system's reason, then what the program does about it; "" for other failures.
QString failureDetails(const BasicError& error);

// Shows the numbered "Application Error" box of one handler.
class ErrorReport final {
public:
    ErrorReport(platform::Dialogs& dialogs, QWidget* owner, QString traceText);

    // `details` (failureDetails) follow the report's text after a blank line.
    void show(const QString& description, int line, const QString& details = {}) const;
    const QString& traceText() const { return m_trace; }

private:
    platform::Dialogs& m_dialogs;
    QWidget* m_owner = nullptr;
    QString m_trace;
};

inline constexpr int kEndHandler = 0;

// Runs a handler's numbered statements. `statement(line)` carries out statement `line` and
// returns the number of the next one, or kEndHandler. When a statement throws, the report names
// it and the handler goes on with the statement after it (line + 2), or where `resumeAt` says.
void runNumbered(const ErrorReport& report, int first, const std::function<int(int)>& statement,
                 const std::function<int(int)>& resumeAt = {});

// The same for a handler of `form`: its failures are reported in the window's dialogs, named by
// `traceText` (one of trace::).
void runNumbered(Form1& form, const char* traceText, int first,
                 const std::function<int(int)>& statement,
                 const std::function<int(int)>& resumeAt = {});

// A handler of a single statement, numbered `line`: a failure is reported with that number.
void runStatement(Form1& form, const char* traceText, int line,
                  const std::function<void()>& statement);

} // namespace vormelle
