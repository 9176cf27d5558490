#include "app/errorreport.h"

#include "platform/basicerror.h"
#include "platform/dialogs.h"

#include <QCoreApplication>

#include <new>

namespace vormelle {

QString errorReportText(const QString& description, const QString& traceText, int line,
                        const QString& supportEmail) {
    QString text = description + QStringLiteral("\r\n") + traceText +
                   QCoreApplication::translate("vormelle::ErrorReport", "at line ") +
                   QString::number(line);
    if (!supportEmail.isEmpty())
        text += QStringLiteral("\r\r") +
                QCoreApplication::translate("vormelle::ErrorReport",
                                            "Please email screenshot of this message to ") +
                supportEmail;
    return text;
}

ErrorReport::ErrorReport(platform::Dialogs& dialogs, QWidget* owner, QString traceText)
    : m_dialogs(dialogs), m_owner(owner), m_trace(std::move(traceText)) {}

void ErrorReport::show(const QString& description, int line) const {
    m_dialogs.messageBox(m_owner, errorReportText(description, m_trace, line),
                         QCoreApplication::translate("vormelle::ErrorReport", "Application Error"),
                         platform::Buttons::Ok, platform::Icon::Warning);
}

void runNumbered(const ErrorReport& report, int first, const std::function<int(int)>& statement,
                 const std::function<int(int)>& resumeAt) {
    int line = first;
    while (line != kEndHandler) {
        QString failure;
        try {
            line = statement(line);
            continue;
        } catch (const BasicError& e) {
            failure = e.description();
        } catch (const std::bad_alloc&) {
            failure = BasicError::describe(BasicError::OutOfMemory);
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        report.show(failure, line);
        line = resumeAt ? resumeAt(line) : line + 2;
    }
}

} // namespace vormelle
