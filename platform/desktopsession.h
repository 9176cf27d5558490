// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace vormelle::platform {

// A desktop notification through the freedesktop Notifications service on the session bus.
// Never waits for the service and never fails: without a session bus, or without the service,
// nothing is shown. Returns whether a bus took the request (not whether anything showed).
bool notify(const QString& summary, const QString& body);

// Keeps the machine from sleeping (suspend and idle) while it lives, where the desktop offers
// that: the Inhibit portal on the session bus, else logind on the system bus. Nothing is waited
// for; where neither answers, nothing happens. Released when it goes (or by release()).
class SleepBlock final : public QObject {
    Q_OBJECT
public:
    enum class State { Asking, HeldByPortal, HeldByLogind, Unavailable, Released };

    explicit SleepBlock(const QString& reason, QObject* parent = nullptr);
    ~SleepBlock() override;
    Q_DISABLE_COPY_MOVE(SleepBlock)

    void release();
    State state() const;

signals:
    // The state moved on (an answer came, or the block was let go).
    void stateChanged();

private:
    struct Held;
    void askLogind();
    void letGo();
    void setState(State state);

    QString m_reason;
    State m_state = State::Asking;
    std::unique_ptr<Held> m_held;
};

} // namespace vormelle::platform
