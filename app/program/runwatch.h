// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

namespace vormelle {

class Form1;

namespace runwatch {

// A run shorter than this ends where the user is still looking.
inline constexpr int kNotifyAfterSeconds = 60;

// Keeps the machine awake during each run of the window, and at the end of a long one tells the
// desktop: a notification and the window's urgency hint.
class Watch final : public QObject {
    Q_OBJECT
public:
    Watch(Form1& form, int notifyAfterSeconds);

signals:
    // A long run ended; `sent` says whether a session bus took the notification.
    void notified(bool sent);
};

Watch* connect(Form1& form, int notifyAfterSeconds = kNotifyAfterSeconds);

// The notification's text from the closing box's: its first lines, as plain lines.
QString notificationBody(const QString& closing);

} // namespace runwatch
} // namespace vormelle
