// The alarm's notification, against notification servers on a private bus.

#include "platform/linux/freedesktopnotifications.h"
#include "support/privatebus.h"
#include "support/required.h"

#include <QDBusArgument>
#include <QElapsedTimer>
#include <QTest>

namespace {

constexpr auto kNotifications = "org.freedesktop.Notifications";
constexpr auto kNotificationsPath = "/org/freedesktop/Notifications";

} // namespace

class tst_Notifications : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_bus.start(); }
    void cleanup() { m_bus.stopMock(); }

    void notificationIsShownOpenedAndWithdrawn();
    void lateNotificationIsClosed_data();
    void lateNotificationIsClosed();

private:
    PrivateBus m_bus;
};

void tst_Notifications::notificationIsShownOpenedAndWithdrawn()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    {
        // No server: nothing shown, nothing said, and the end is not held up.
        FreedesktopNotifications none;
        none.show(QStringLiteral("Alarm for nobody"));
        QTest::qWait(300);
        QVERIFY(!none.shownId());
    }
    QVERIFY(m_bus.startMock("notification_daemon", kNotifications));

    FreedesktopNotifications notifications;
    QStringList opened;
    notifications.setOpenHandler([&opened](const QString &token) { opened.append(token); });
    notifications.show(QStringLiteral("Alarm for 12/7/2026 7:30:00 AM"));
    QTRY_VERIFY_WITH_TIMEOUT(notifications.shownId(), 10000);
    const uint id = *notifications.shownId();
    const QVariantList calls = m_bus.loggedCalls(kNotificationsPath, QStringLiteral("Notify"));
    QCOMPARE(calls.size(), qsizetype(1));
    const QVariantList args = calls.constFirst().toList();
    QCOMPARE(args.size(), qsizetype(8));
    QCOMPARE(args[0].toString(), QStringLiteral("ROUSTABELL"));
    QCOMPARE(args[2].toString(), QStringLiteral("roustabell"));
    QCOMPARE(args[3].toString(), QStringLiteral("Alarm for 12/7/2026 7:30:00 AM"));
    QCOMPARE(args[4].toString(), QString());
    // One action, to open the window; no Stop.
    QCOMPARE(args[5].toStringList(), (QStringList{"default", "Show ROUSTABELL"}));
    const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
    QCOMPARE(hints.value("urgency").toInt(), 2);
    QCOMPARE(hints.value("suppress-sound").toBool(), true);
    QCOMPARE(hints.value("x-gnome-privacy-scope").toString(), QStringLiteral("system"));
    QCOMPARE(args[7].toInt(), 0);

    // The server hands over a token just before the action; another
    // notification's action is not ours.
    const auto emitSignal = [this](const char *name, const QVariantList &values) {
        return m_bus.emitSignal(kNotificationsPath, kNotifications, QString::fromLatin1(name),
                                QStringLiteral("us"), values);
    };
    QVERIFY(emitSignal("ActionInvoked", {id + 1, QStringLiteral("default")}));
    QVERIFY(emitSignal("ActivationToken", {id, QStringLiteral("token-1")}));
    QVERIFY(emitSignal("ActionInvoked", {id, QStringLiteral("default")}));
    QTRY_COMPARE_WITH_TIMEOUT(opened, QStringList{"token-1"}, 10000);

    notifications.withdraw();
    QTRY_COMPARE_WITH_TIMEOUT(
        m_bus.loggedCalls(kNotificationsPath, QStringLiteral("CloseNotification")),
        QVariantList{QVariant(QVariantList{id})}, 10000);

    // Shown and at once the program ends: closed before the end returns,
    // though its id had not arrived yet.
    notifications.show(QStringLiteral("Alarm for later"));
    notifications.withdrawBeforeExit();
    const QVariantList closed =
        m_bus.loggedCalls(kNotificationsPath, QStringLiteral("CloseNotification"));
    QCOMPARE(closed.size(), qsizetype(2));
    QCOMPARE(closed[1].toList().value(0).toUInt(), id + 1);
    QCOMPARE(opened.size(), qsizetype(1));
}

void tst_Notifications::lateNotificationIsClosed_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("then");
    QTest::newRow("shown again replaces") << 0 << "show";
    QTest::newRow("stopped before a late answer") << 6000 << "withdraw";
    QTest::newRow("program ends before a late answer") << 6000 << "exit";
}

void tst_Notifications::lateNotificationIsClosed()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(int, delay);
    QFETCH(QString, then);
    QVERIFY(m_bus.startMock("notifications_late.py", kNotifications,
                            QStringLiteral(R"({"delay": %1})").arg(delay)));
    const auto logged = [this](const char *method) {
        return m_bus.loggedCalls(kNotificationsPath, QString::fromLatin1(method));
    };
    FreedesktopNotifications notifications;
    notifications.show(QStringLiteral("Alarm for 7:30"));
    QElapsedTimer timer;
    timer.start();
    if (then == "show") {
        QTRY_COMPARE_WITH_TIMEOUT(notifications.shownId(), std::optional<uint>(1), 10000);
        notifications.show(QStringLiteral("Alarm for 7:30 again"));
        // One notification per alarm: the second replaces the first.
        QTRY_COMPARE_WITH_TIMEOUT(logged("Notify").size(), qsizetype(2), 10000);
        QCOMPARE(logged("Notify")[1].toList().value(1).toUInt(), 1u);
        return;
    }
    QTest::qWait(1000);
    if (then == "withdraw") {
        notifications.withdraw();
        // Closed once its id arrives, however late.
        QTRY_COMPARE_WITH_TIMEOUT(logged("CloseNotification"), QVariantList{QVariantList{1u}},
                                  15000);
    } else {
        timer.restart();
        notifications.withdrawBeforeExit();
        QVERIFY2(timer.elapsed() < 2200, qPrintable(QString::number(timer.elapsed())));
    }
    QVERIFY(!notifications.shownId());
}

QTEST_GUILESS_MAIN(tst_Notifications)
#include "tst_notifications.moc"
