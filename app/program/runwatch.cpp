// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program/runwatch.h"

#include "app/form1.h"
#include "app/program/texts.h"
#include "platform/desktopsession.h"

#include <QApplication>
#include <QElapsedTimer>

#include <memory>

namespace vormelle::runwatch {

namespace {

constexpr int kBodyLines = 4;

} // namespace

QString notificationBody(const QString& closing) {
    QStringList lines = closing.split(QStringLiteral("\r\n"));
    lines.removeAll(QString());
    const bool more = lines.size() > kBodyLines;
    lines = lines.mid(0, kBodyLines);
    if (more)
        lines.append(QStringLiteral("..."));
    // Notification services may read the body as markup.
    return lines.join(u'\n').toHtmlEscaped();
}

Watch::Watch(Form1& form, int notifyAfterSeconds) : QObject(&form) {
    auto clock = std::make_shared<QElapsedTimer>();
    auto awake = std::make_shared<std::unique_ptr<platform::SleepBlock>>();
    QObject::connect(&form, &Form1::runStarted, this, [clock, awake] {
        clock->start();
        *awake = std::make_unique<platform::SleepBlock>(
            program::Texts::tr("Converting TIFF files to DjVu"));
    });
    QObject::connect(&form, &Form1::runFinished, this,
                     [this, &form, clock, awake, notifyAfterSeconds](const QString& closing) {
                         awake->reset();
                         if (!clock->isValid() || clock->elapsed() < notifyAfterSeconds * 1000LL)
                             return;
                         const bool sent = platform::notify(
                             program::Texts::tr("Vormelle has finished converting"),
                             notificationBody(closing));
                         QApplication::alert(&form);
                         emit notified(sent);
                     });
}

Watch* connect(Form1& form, int notifyAfterSeconds) {
    return new Watch(form, notifyAfterSeconds);
}

} // namespace vormelle::runwatch
