// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/errorreport.h"

#include "app/form1.h"
#include "app/paths/paths.h"
#include "app/texts.h"
#include "platform/basicerror.h"
#include "platform/dialogs.h"
#include "platform/faultpoint.h"

#include <QCoreApplication>
#include <QStringList>

#include <new>

namespace vormelle {

QString errorReportText(const QString& description, const QString& traceText, int line,
                        const QString& supportEmail) {
    QString text = description + QStringLiteral("\r\n") + traceText + shell::Texts::tr("at line ") +
                   QString::number(line);
    if (!supportEmail.isEmpty())
        text += QStringLiteral("\r\r") +
                shell::Texts::tr("Please email screenshot of this message to ") + supportEmail;
    return text;
}

QString failureDetails(const BasicError& error) {
    QStringList lines;
    if (!error.path().isEmpty())
        lines << paths::visible(error.path()) + QStringLiteral(": ") + error.reason();
    if (!error.note().isEmpty())
        lines << error.note();
    return lines.join(QStringLiteral("\r\n"));
}

ErrorReport::ErrorReport(platform::Dialogs& dialogs, QWidget* owner, QString traceText)
    : m_dialogs(dialogs), m_owner(owner), m_trace(std::move(traceText)) {}

void ErrorReport::show(const QString& description, int line, const QString& details) const {
    QString text = errorReportText(description, m_trace, line);
    if (!details.isEmpty())
        text += QStringLiteral("\r\n\r\n") + details;
    m_dialogs.messageBox(m_owner, text, shell::Texts::tr("Application Error"),
                         platform::Buttons::Ok, platform::Icon::Warning);
}

void runNumbered(const ErrorReport& report, int first, const std::function<int(int)>& statement,
                 const std::function<int(int)>& resumeAt) {
    int line = first;
    const QByteArray where = report.traceText().toLatin1();
    while (line != kEndHandler) {
        QString failure;
        QString details;
        try {
            platform::faultPoint(std::string_view(where.constData(), std::size_t(where.size())),
                                 line);
            line = statement(line);
            continue;
        } catch (const BasicError& e) {
            failure = e.description();
            details = failureDetails(e);
        } catch (const std::bad_alloc&) {
            failure = BasicError::describe(BasicError::OutOfMemory);
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        report.show(failure, line, details);
        line = resumeAt ? resumeAt(line) : line + 2;
    }
}

void runNumbered(Form1& form, const char* traceText, int first,
                 const std::function<int(int)>& statement,
                 const std::function<int(int)>& resumeAt) {
    const ErrorReport report(form.dialogs(), &form, QString::fromLatin1(traceText));
    runNumbered(report, first, statement, resumeAt);
}

void runStatement(Form1& form, const char* traceText, int line,
                  const std::function<void()>& statement) {
    runNumbered(form, traceText, line, [line, &statement](int current) {
        if (current == line)
            statement();
        return kEndHandler;
    });
}

} // namespace vormelle
