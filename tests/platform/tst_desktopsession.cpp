// SPDX-License-Identifier: GPL-3.0-or-later
// Notifications and the sleep block, against stand-ins for the desktop's services on a private
// session bus, and with no bus at all.
#include "platform/desktopsession.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QVariantMap>

using namespace vormelle;
using platform::SleepBlock;

namespace {

bool sessionBus() {
    return QDBusConnection::sessionBus().isConnected();
}

} // namespace

// What the freedesktop Notifications service would be told.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList calls; // application, summary, body per call
    QVariantMap hints;

public slots:
    Q_SCRIPTABLE uint Notify(const QString& application, uint /*replaces*/, const QString& /*icon*/,
                             const QString& summary, const QString& body,
                             const QStringList& /*actions*/, const QVariantMap& hints_,
                             int /*timeout*/) {
        calls << application << summary << body;
        hints = hints_;
        return uint(calls.size());
    }
};

// The request object a portal call gives back; closing it ends the block.
class FakeRequest final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    int closed = 0;
public slots:
    Q_SCRIPTABLE void Close() { ++closed; }
};

class FakeInhibit final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    uint flags = 0;
    QString reason;
    int calls = 0;
public slots:
    Q_SCRIPTABLE QDBusObjectPath Inhibit(const QString& /*window*/, uint flags_,
                                         const QVariantMap& options) {
        ++calls;
        flags = flags_;
        reason = options.value(QStringLiteral("reason")).toString();
        return QDBusObjectPath(
            QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t%1").arg(calls));
    }
};

class DesktopSessionTest final : public QObject {
    Q_OBJECT

private slots:
    // No bus: nothing shows, nothing waits, nothing fails.
    void noBus() {
        if (sessionBus())
            QSKIP("a session bus is there (run with DBUS_SESSION_BUS_ADDRESS pointing nowhere)");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!platform::notify(QStringLiteral("Vormelle"), QStringLiteral("Done.")));
        QVERIFY(!platform::notify(QStringLiteral("Vormelle"), QStringLiteral("Done.")));
        SleepBlock block(QStringLiteral("converting"));
        QTRY_COMPARE(block.state(), SleepBlock::State::Unavailable);
        block.release();
        QCOMPARE(block.state(), SleepBlock::State::Released);
        { SleepBlock gone(QStringLiteral("converting")); } // let go at once
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    void notificationReachesTheService() {
        if (!sessionBus())
            QSKIP("no session bus (the suite runs this under dbus-run-session)");
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Nobody there yet: sent, and nothing comes of it.
        QVERIFY(platform::notify(QStringLiteral("Vormelle"), QStringLiteral("nobody")));
        FakeNotifications service;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(platform::notify(QStringLiteral("Vormelle has finished converting"),
                                 QStringLiteral("Done.")));
        QTRY_COMPARE(service.calls,
                     (QStringList{"Vormelle", "Vormelle has finished converting", "Done."}));
        QCOMPARE(service.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral(VORMELLE_APP_ID));
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    // The portal holds the block until it is let go; without the portal (and with no system
    // bus for logind) the block is simply not there.
    void portalHoldsAndLetsGo() {
        if (!sessionBus())
            QSKIP("no session bus (the suite runs this under dbus-run-session)");
        QDBusConnection bus = QDBusConnection::sessionBus();
        {
            SleepBlock none(QStringLiteral("converting"));
            QTRY_COMPARE(none.state(), SleepBlock::State::Unavailable);
        }
        FakeInhibit portal;
        FakeRequest first;
        FakeRequest second;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t1"),
                                   &first, QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t2"),
                                   &second, QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

        auto block = std::make_unique<SleepBlock>(QStringLiteral("Converting TIFF files"));
        QTRY_COMPARE(block->state(), SleepBlock::State::HeldByPortal);
        QCOMPARE(portal.flags, 12u); // suspend and idle
        QCOMPARE(portal.reason, QStringLiteral("Converting TIFF files"));
        QCOMPARE(first.closed, 0);
        block->release();
        QTRY_COMPARE(first.closed, 1);
        block.reset();
        QTest::qWait(100);
        QCOMPARE(first.closed, 1); // once

        // Let go before the portal answered: what the answer gives is let go too.
        block = std::make_unique<SleepBlock>(QStringLiteral("again"));
        block->release();
        QTRY_COMPARE(second.closed, 1);
        QCOMPARE(block->state(), SleepBlock::State::Released);
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "tst_desktopsession.moc"
