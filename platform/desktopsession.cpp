// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktopsession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <optional>

namespace vormelle::platform {

namespace {

constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr char kLogindService[] = "org.freedesktop.login1";

// Suspend and idle, in the portal's flags.
constexpr uint kPortalSuspendAndIdle = 4 | 8;

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

// A bus connection that is there, or nothing; connecting to a bus that is not there fails at
// once (the address names no socket) rather than waiting.
std::optional<QDBusConnection> bus(QDBusConnection connection) {
    if (!connection.isConnected())
        return std::nullopt;
    return connection;
}

} // namespace

bool notify(const QString& summary, const QString& body) {
    const std::optional<QDBusConnection> session = bus(QDBusConnection::sessionBus());
    if (!session)
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        text("org.freedesktop.Notifications"), text("/org/freedesktop/Notifications"),
        text("org.freedesktop.Notifications"), text("Notify"));
    QVariantMap hints;
    hints.insert(text("desktop-entry"), text(VORMELLE_APP_ID));
    call << text("Vormelle") << uint(0) << text(VORMELLE_APP_ID) << summary << body << QStringList()
         << hints << int(-1);
    // Not waited for: with no service the error comes back to nobody.
    call.setAutoStartService(true);
    return session->send(call);
}

// What holds the block: the portal's request object, or logind's descriptor.
struct SleepBlock::Held {
    QString portalRequest;
    QDBusUnixFileDescriptor logindFd;
};

SleepBlock::SleepBlock(const QString& reason, QObject* parent)
    : QObject(parent), m_reason(reason), m_held(std::make_unique<Held>()) {
    const std::optional<QDBusConnection> session = bus(QDBusConnection::sessionBus());
    if (!session) {
        askLogind();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        text(kPortalService), text("/org/freedesktop/portal/desktop"),
        text("org.freedesktop.portal.Inhibit"), text("Inhibit"));
    QVariantMap options;
    options.insert(text("reason"), reason);
    call << QString() << kPortalSuspendAndIdle << options;
    auto* watcher = new QDBusPendingCallWatcher(session->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            if (m_state == State::Asking)
                askLogind();
            return;
        }
        m_held->portalRequest = reply.value().path();
        if (m_state == State::Released) {
            // Let go before the answer came: let go of what it gave too.
            m_state = State::HeldByPortal;
            release();
            return;
        }
        setState(State::HeldByPortal);
    });
}

SleepBlock::~SleepBlock() {
    letGo();
}

void SleepBlock::askLogind() {
    const std::optional<QDBusConnection> system = bus(QDBusConnection::systemBus());
    if (!system) {
        setState(State::Unavailable);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(text(kLogindService), text("/org/freedesktop/login1"),
                                       text("org.freedesktop.login1.Manager"), text("Inhibit"));
    call << text("sleep:idle") << text("Vormelle") << m_reason << text("block");
    auto* watcher = new QDBusPendingCallWatcher(system->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError()) {
            if (m_state == State::Asking)
                setState(State::Unavailable);
            return;
        }
        // The block lasts as long as the descriptor is open; a late answer is closed at once.
        if (m_state == State::Released)
            return;
        m_held->logindFd = reply.value();
        setState(State::HeldByLogind);
    });
}

void SleepBlock::release() {
    letGo();
    setState(State::Released);
}

void SleepBlock::letGo() {
    if (m_state == State::HeldByPortal && !m_held->portalRequest.isEmpty()) {
        if (const std::optional<QDBusConnection> session = bus(QDBusConnection::sessionBus()))
            session->send(QDBusMessage::createMethodCall(
                text(kPortalService), m_held->portalRequest, text("org.freedesktop.portal.Request"),
                text("Close")));
        m_held->portalRequest.clear();
    }
    m_held->logindFd = QDBusUnixFileDescriptor();
}

SleepBlock::State SleepBlock::state() const {
    return m_state;
}

void SleepBlock::setState(State state) {
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}

} // namespace vormelle::platform
