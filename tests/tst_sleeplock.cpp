// The login manager's idle lock and wake-up signal, the desktop power
// manager's scheduled wake-ups and the session manager's timers, against
// stand-ins on a private bus.

#include "platform/linux/linuxservices.h"
#include "platform/linux/logindinhibitor.h"
#include "platform/linux/solidwakescheduler.h"
#include "platform/linux/systemdalarmtimer.h"
#include "support/fakes.h"
#include "support/privatebus.h"
#include "support/required.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr auto kLogin1 = "org.freedesktop.login1";
constexpr auto kLogin1Path = "/org/freedesktop/login1";
constexpr auto kManager = "org.freedesktop.login1.Manager";
constexpr auto kPowerManager = "org.kde.Solid.PowerManagement";
constexpr auto kPowerManagerPath = "/org/kde/Solid/PowerManagement";
// hold() may take a few milliseconds to queue its call; a login manager that
// takes seconds to answer must not show up here.
constexpr qint64 kMaxHoldMs = 250;

struct Inhibitor
{
    QString what, who, why, mode;
    bool operator==(const Inhibitor &) const = default;
};

// Found by QCOMPARE through argument lookup when a list element differs.
char *toString(const Inhibitor &i)
{
    return qstrdup(
        qPrintable(QStringLiteral("(%1, %2, \"%3\", %4)").arg(i.what, i.who, i.why, i.mode)));
}

Inhibitor ours(const QString &why)
{
    return {QStringLiteral("idle"), QStringLiteral("ROUSTABELL"), why, QStringLiteral("block")};
}

} // namespace

class tst_SleepLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_bus.start(); }
    void cleanup() { m_bus.stopMock(); }

    void holdTakesLock_data();
    void holdTakesLock();
    void releaseDropsLock();
    void holdRenews_data();
    void holdRenews();
    void destructorReleases();
    void answerAfterReleaseIsDropped();
    void holdDoesNotWaitForAnswer();
    void olderAnswerIsDropped();
    void refusedRenewalKeepsLock();
    void unavailableIsSilent_data();
    void unavailableIsSilent();
    void wakingIsReported_data();
    void wakingIsReported();

    void scheduleSendsTheMoment_data();
    void scheduleSendsTheMoment();
    void wakeupIsWithdrawn_data();
    void wakeupIsWithdrawn();
    void lateCookieIsHandedBack_data();
    void lateCookieIsHandedBack();
    void noPowerManagerIsSilent_data();
    void noPowerManagerIsSilent();
    void endingTheProgramWithdrawsTheWakeup();

    void alarmIsHandedToTheSessionManager_data();
    void alarmIsHandedToTheSessionManager();

private:
    void missingPeerRows(const char *peer);
    QList<Inhibitor> heldInhibitors();
    QList<Inhibitor> loggedInhibitCalls();

    PrivateBus m_bus;
};

// The ways a peer can be missing, as rows of a "manager" column.
void tst_SleepLock::missingPeerRows(const char *peer)
{
    QTest::addColumn<QString>("manager");
    QTest::addRow("no %s on the bus", peer) << QStringLiteral("none");
    QTest::addRow("%s refuses", peer) << QStringLiteral("refuses");
    QTest::newRow("no bus at all") << QStringLiteral("no bus");
}

// What the stand-in login manager holds right now: an entry goes away only
// when every copy of its file descriptor has been closed.
QList<Inhibitor> tst_SleepLock::heldInhibitors()
{
    const QDBusMessage reply = PrivateBus::observer().call(QDBusMessage::createMethodCall(
        QString::fromLatin1(kLogin1), QString::fromLatin1(kLogin1Path),
        QString::fromLatin1(kManager), QStringLiteral("ListInhibitors")));
    // A call that did not answer shows up as its error, for the comparison to print.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {{QStringLiteral("error"), reply.errorName(), reply.errorMessage(), {}}};
    QList<Inhibitor> result;
    const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        Inhibitor entry;
        uint uid = 0;
        uint pid = 0;
        list.beginStructure();
        list >> entry.what >> entry.who >> entry.why >> entry.mode >> uid >> pid;
        list.endStructure();
        result.append(entry);
    }
    list.endArray();
    return result;
}

// Every Inhibit call the stand-in has received, granted or not; a failed
// GetMethodCalls shows up as its error.
QList<Inhibitor> tst_SleepLock::loggedInhibitCalls()
{
    QList<Inhibitor> result;
    for (const QVariant &call : m_bus.loggedCalls(kLogin1Path, QStringLiteral("Inhibit"))) {
        const QStringList args = call.toStringList();
        result.append(args.size() == 4
                          ? Inhibitor{args[0], args[1], args[2], args[3]}
                          : Inhibitor{QStringLiteral("error"), call.toString(), {}, {}});
    }
    return result;
}

void tst_SleepLock::holdTakesLock_data()
{
    QTest::addColumn<QString>("why");
    QTest::newRow("plain") << QStringLiteral("Alarm is set for 07:30");
    QTest::newRow("non-ASCII") << QStringLiteral("Wecker für 07:30 \u23F0 \u00E9t\u00E9");
    QTest::newRow("empty reason") << QString();
}

void tst_SleepLock::holdTakesLock()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, why);
    QVERIFY(m_bus.startMock("logind", kLogin1));
    QCOMPARE(heldInhibitors(), QList<Inhibitor>());

    LogindSleepInhibitor inhibitor;
    QVERIFY(!inhibitor.isHeld());
    inhibitor.hold(why);
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(why)});
    // Held means held: the lock stays while nothing changes.
    QTest::qWait(300);
    QVERIFY(inhibitor.isHeld());
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(why)});
}

void tst_SleepLock::releaseDropsLock()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("logind", kLogin1));

    LogindSleepInhibitor inhibitor;
    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    inhibitor.hold(QStringLiteral("armed"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("armed"))});

    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), QList<Inhibitor>(), 10000);
    inhibitor.release();
    QVERIFY(!inhibitor.isHeld());

    // Taken again after a release.
    inhibitor.hold(QStringLiteral("armed again"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("armed again"))});
}

void tst_SleepLock::holdRenews_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("armed, then sounding")
        << QStringLiteral("Alarm is set") << QStringLiteral("Alarm is sounding");
    QTest::newRow("same reason again")
        << QStringLiteral("Alarm is set") << QStringLiteral("Alarm is set");
}

void tst_SleepLock::holdRenews()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(m_bus.startMock("logind", kLogin1));

    LogindSleepInhibitor inhibitor;
    inhibitor.hold(first);
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(first)});

    inhibitor.hold(second);
    // The old lock stays until the new one is in hand: at no moment is the
    // machine free to sleep.
    QVERIFY(inhibitor.isHeld());
    QDeadlineTimer deadline(10000);
    QList<Inhibitor> held = heldInhibitors();
    while (held != QList<Inhibitor>{ours(second)} && !deadline.hasExpired()) {
        QVERIFY2(!held.isEmpty(), "no lock was held while renewing");
        QVERIFY(inhibitor.isHeld());
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        held = heldInhibitors();
    }
    QCOMPARE(held, QList<Inhibitor>{ours(second)});
    QVERIFY(inhibitor.isHeld());
}

void tst_SleepLock::destructorReleases()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("logind", kLogin1));
    {
        LogindSleepInhibitor inhibitor;
        inhibitor.hold(QStringLiteral("sounding"));
        QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
        QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("sounding"))});
    }
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), QList<Inhibitor>(), 10000);
}

void tst_SleepLock::answerAfterReleaseIsDropped()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("logind", kLogin1));

    LogindSleepInhibitor inhibitor;
    // No answer can arrive before the event loop runs, so the first lock comes
    // back after it was no longer wanted, and the second after the third request.
    inhibitor.hold(QStringLiteral("dropped"));
    inhibitor.release();
    inhibitor.hold(QStringLiteral("superseded"));
    inhibitor.hold(QStringLiteral("kept"));
    QVERIFY(!inhibitor.isHeld());
    // Answers come back in order on one connection: once the last is held,
    // the others have arrived too and must have been closed.
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("kept"))},
                              10000);
    QTest::qWait(300);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("kept"))});

    inhibitor.hold(QStringLiteral("never held"));
    inhibitor.release();
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), QList<Inhibitor>(), 10000);
    QTest::qWait(300);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>());
    QVERIFY(!inhibitor.isHeld());
}

void tst_SleepLock::holdDoesNotWaitForAnswer()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("steered_logind.py", kLogin1, R"({"delays": {"slow": 2000}})"));

    LogindSleepInhibitor inhibitor;
    QElapsedTimer timer;
    timer.start();
    inhibitor.hold(QStringLiteral("slow"));
    QVERIFY2(timer.elapsed() < kMaxHoldMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!inhibitor.isHeld());
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 15000);
    QVERIFY2(timer.elapsed() >= 1900, "held before the login manager answered");
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("slow"))});
}

void tst_SleepLock::olderAnswerIsDropped()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("steered_logind.py", kLogin1, R"({"delays": {"armed": 1500}})"));

    LogindSleepInhibitor inhibitor;
    inhibitor.hold(QStringLiteral("armed"));
    inhibitor.hold(QStringLiteral("sounding"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("sounding"))});
    // The late answer to the earlier request arrives, is granted by the
    // manager, and must be given back at once.
    QTRY_COMPARE_WITH_TIMEOUT(loggedInhibitCalls().size(), qsizetype(2), 10000);
    QTest::qWait(2000);
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("sounding"))});
    QVERIFY(inhibitor.isHeld());
}

void tst_SleepLock::refusedRenewalKeepsLock()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QVERIFY(m_bus.startMock("steered_logind.py", kLogin1, R"({"refused": ["sounding"]})"));

    LogindSleepInhibitor inhibitor;
    inhibitor.hold(QStringLiteral("armed"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    inhibitor.hold(QStringLiteral("sounding"));
    QTRY_COMPARE_WITH_TIMEOUT(
        loggedInhibitCalls(),
        (QList<Inhibitor>{ours(QStringLiteral("armed")), ours(QStringLiteral("sounding"))}), 10000);
    // A refusal leaves the machine as awake as it was.
    QTest::qWait(500);
    QVERIFY(inhibitor.isHeld());
    QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("armed"))});
    inhibitor.release();
    QTRY_COMPARE_WITH_TIMEOUT(heldInhibitors(), QList<Inhibitor>(), 10000);
}

void tst_SleepLock::unavailableIsSilent_data()
{
    missingPeerRows("login manager");
}

void tst_SleepLock::unavailableIsSilent()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, manager);
    // Not a line on the log, whatever is missing.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));

    std::unique_ptr<LogindSleepInhibitor> inhibitor;
    if (manager == QLatin1String("no bus")) {
        const QDBusConnection none = m_bus.unreachable();
        QVERIFY(!none.isConnected());
        inhibitor = std::make_unique<LogindSleepInhibitor>(none);
    } else {
        if (manager == QLatin1String("refuses"))
            QVERIFY(m_bus.startMock("steered_logind.py", kLogin1,
                                    R"({"refused": ["Alarm is set", "Alarm is sounding"]})"));
        inhibitor = std::make_unique<LogindSleepInhibitor>();
    }

    QElapsedTimer timer;
    timer.start();
    inhibitor->hold(QStringLiteral("Alarm is set"));
    QVERIFY2(timer.elapsed() < kMaxHoldMs, qPrintable(QString::number(timer.elapsed())));
    if (manager == QLatin1String("refuses")) {
        // Asked, and refused.
        QTRY_COMPARE_WITH_TIMEOUT(loggedInhibitCalls(),
                                  QList<Inhibitor>{ours(QStringLiteral("Alarm is set"))}, 10000);
    }
    QTest::qWait(500);
    QVERIFY(!inhibitor->isHeld());
    inhibitor->hold(QStringLiteral("Alarm is sounding"));
    QTest::qWait(500);
    QVERIFY(!inhibitor->isHeld());
    inhibitor->release();
    QVERIFY(!inhibitor->isHeld());
    if (manager == QLatin1String("refuses"))
        QCOMPARE(heldInhibitors(), QList<Inhibitor>());
    if (manager == QLatin1String("none")) {
        // Nothing is given up for good: a login manager that comes later is asked.
        QVERIFY(m_bus.startMock("steered_logind.py", kLogin1, "{}"));
        inhibitor->hold(QStringLiteral("Alarm is set"));
        QTRY_VERIFY_WITH_TIMEOUT(inhibitor->isHeld(), 10000);
        QCOMPARE(heldInhibitors(), QList<Inhibitor>{ours(QStringLiteral("Alarm is set"))});
    }
    inhibitor.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

void tst_SleepLock::wakingIsReported_data()
{
    QTest::addColumn<bool>("start");
    QTest::addColumn<int>("reports");
    QTest::newRow("woken") << false << 1;
    QTest::newRow("going to sleep") << true << 0;
}

void tst_SleepLock::wakingIsReported()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(bool, start);
    QFETCH(int, reports);
    QVERIFY(m_bus.startMock("logind", kLogin1));

    LogindSleepInhibitor inhibitor;
    int reported = 0;
    inhibitor.setResumeHandler([&reported] { ++reported; });
    inhibitor.hold(QStringLiteral("armed"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QVERIFY(inhibitor.isWatchingResume());

    QVERIFY(m_bus.emitSignal(kLogin1Path, kManager, QStringLiteral("PrepareForSleep"),
                             QStringLiteral("b"), {QVariant::fromValue(start)}));
    if (reports > 0)
        QTRY_COMPARE_WITH_TIMEOUT(reported, reports, 10000);
    QTest::qWait(300);
    QCOMPARE(reported, reports);
}

void tst_SleepLock::scheduleSendsTheMoment_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<qulonglong>("seconds");
    QTest::newRow("UTC") << QDateTime(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc())
                         << qulonglong(1893569400);
    QTest::newRow("an hour east of UTC")
        << QDateTime(QDate(2030, 1, 2), QTime(8, 30), QTimeZone(3600)) << qulonglong(1893569400);
    QTest::newRow("a second past a minute")
        << QDateTime(QDate(2030, 1, 2), QTime(7, 31, 1), QTimeZone::utc())
        << qulonglong(1893569461);
}

void tst_SleepLock::scheduleSendsTheMoment()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QDateTime, moment);
    QFETCH(qulonglong, seconds);
    QVERIFY(m_bus.startMock("power_manager.py", kPowerManager, "{}"));

    SolidWakeScheduler wake;
    wake.schedule(moment, {});
    QTRY_COMPARE_WITH_TIMEOUT(wake.cookie(), std::optional<uint>(41), 10000);
    const QVariantList calls =
        m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("scheduleWakeup"));
    QCOMPARE(calls.size(), qsizetype(1));
    const QVariantList args = calls.constFirst().toList();
    QCOMPARE(args.size(), qsizetype(3));
    // The power manager calls back the connection that asked.
    QCOMPARE(args[0].toString(), QDBusConnection::sessionBus().baseService());
    QVERIFY(!args[1].value<QDBusObjectPath>().path().isEmpty());
    QCOMPARE(args[2].toULongLong(), seconds);
    QCOMPARE(m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("clearWakeup")), QVariantList());
}

void tst_SleepLock::wakeupIsWithdrawn_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("sentAtOnce");
    QTest::addColumn<int>("scheduled");
    QTest::newRow("cancelled") << QStringLiteral("cancel") << false << 1;
    QTest::newRow("replaced") << QStringLiteral("schedule") << false << 2;
    QTest::newRow("program ends") << QStringLiteral("cancelBeforeExit") << true << 1;
    QTest::newRow("destroyed") << QStringLiteral("destroy") << true << 1;
}

void tst_SleepLock::wakeupIsWithdrawn()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, how);
    QFETCH(bool, sentAtOnce);
    QFETCH(int, scheduled);
    QVERIFY(m_bus.startMock("power_manager.py", kPowerManager, R"({"clearDelay": 600})"));
    const QDateTime moment(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc());

    auto wake = std::make_unique<SolidWakeScheduler>();
    wake->schedule(moment, {});
    QTRY_COMPARE_WITH_TIMEOUT(wake->cookie(), std::optional<uint>(41), 10000);
    QElapsedTimer timer;
    timer.start();
    if (how == QLatin1String("cancel"))
        wake->cancel();
    else if (how == QLatin1String("schedule"))
        wake->schedule(moment.addSecs(60), {});
    else if (how == QLatin1String("cancelBeforeExit"))
        wake->cancelBeforeExit();
    else
        wake.reset();
    // Before the program ends, the request must be out, not merely queued:
    // the power manager has answered. Otherwise nothing waits for it.
    const qint64 took = timer.elapsed();
    if (sentAtOnce)
        QVERIFY2(took >= 500, qPrintable(QString::number(took)));
    else
        QVERIFY2(took < kMaxHoldMs, qPrintable(QString::number(took)));

    const QVariantList handedBack{QVariant(QVariantList{41})};
    const auto cleared = [this] {
        return m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("clearWakeup"));
    };
    if (sentAtOnce)
        QCOMPARE(cleared(), handedBack);
    QTRY_COMPARE_WITH_TIMEOUT(cleared(), handedBack, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(),
        qsizetype(scheduled), 10000);
    if (wake) {
        const std::optional<uint> expected =
            scheduled > 1 ? std::optional<uint>(42) : std::optional<uint>();
        QTRY_COMPARE_WITH_TIMEOUT(wake->cookie(), expected, 10000);
    }
    QTest::qWait(300);
    QCOMPARE(cleared(), handedBack);
}

void tst_SleepLock::lateCookieIsHandedBack_data()
{
    QTest::addColumn<bool>("programEnds");
    QTest::newRow("cancelled before the answer") << false;
    QTest::newRow("program ends before the answer") << true;
}

void tst_SleepLock::lateCookieIsHandedBack()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(bool, programEnds);
    QVERIFY(m_bus.startMock("power_manager.py", kPowerManager, R"({"delay": 1000})"));

    auto wake = std::make_unique<SolidWakeScheduler>();
    wake->schedule(QDateTime(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc()), {});
    QTRY_COMPARE_WITH_TIMEOUT(
        m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(), qsizetype(1),
        10000);
    const QVariantList handedBack{QVariant(QVariantList{41})};
    if (programEnds) {
        wake.reset();
        QCOMPARE(m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("clearWakeup")), handedBack);
        return;
    }
    wake->cancel();
    QVERIFY(!wake->cookie());
    QTRY_COMPARE_WITH_TIMEOUT(m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("clearWakeup")),
                              handedBack, 10000);
    QVERIFY(!wake->cookie());
}

void tst_SleepLock::noPowerManagerIsSilent_data()
{
    missingPeerRows("power manager");
}

void tst_SleepLock::noPowerManagerIsSilent()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, manager);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));

    std::unique_ptr<SolidWakeScheduler> wake;
    if (manager == QLatin1String("no bus")) {
        const QDBusConnection none = m_bus.unreachable();
        QVERIFY(!none.isConnected());
        wake = std::make_unique<SolidWakeScheduler>(none);
    } else {
        if (manager == QLatin1String("refuses"))
            QVERIFY(m_bus.startMock("power_manager.py", kPowerManager, R"({"refused": true})"));
        wake = std::make_unique<SolidWakeScheduler>();
    }

    QElapsedTimer timer;
    timer.start();
    wake->schedule(QDateTime(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc()), {});
    QVERIFY2(timer.elapsed() < kMaxHoldMs, qPrintable(QString::number(timer.elapsed())));
    if (manager == QLatin1String("refuses")) {
        QTRY_COMPARE_WITH_TIMEOUT(
            m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(),
            qsizetype(1), 10000);
    }
    QTest::qWait(300);
    QVERIFY(!wake->cookie());
    wake->cancel();
    wake.reset();
    if (manager == QLatin1String("refuses")) {
        // Nothing was granted, so nothing is handed back.
        QCOMPARE(m_bus.loggedCalls(kPowerManagerPath, QStringLiteral("clearWakeup")),
                 QVariantList());
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

namespace {

// Writes one byte down a pipe when the wake-up is withdrawn before the end.
class PipeWakeScheduler : public FakeWakeScheduler
{
public:
    explicit PipeWakeScheduler(int fd) : m_fd(fd) {}
    void cancelBeforeExit() override { (void)!::write(m_fd, "w", 1); }

private:
    int m_fd;
};

// The same for the notification.
class PipeNotifications : public FakeNotifications
{
public:
    explicit PipeNotifications(int fd) : m_fd(fd) {}
    void withdrawBeforeExit() override { (void)!::write(m_fd, "n", 1); }

private:
    int m_fd;
};

} // namespace

void tst_SleepLock::endingTheProgramWithdrawsTheWakeup()
{
    // Ending the program skips every destructor, so it must withdraw the
    // wake-up itself; seen from a child that ends that way.
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(fds[0]);
        FakeSound sound;
        PipeWakeScheduler wake(fds[1]);
        PipeNotifications notifications(fds[1]);
        ProcessControl control(sound, wake, notifications);
        control.endProgram();
        ::_exit(3);
    }
    ::close(fds[1]);
    char bytes[3] = {};
    ssize_t got = 0;
    for (ssize_t n = 1; n > 0 && got < 3; got += n)
        n = ::read(fds[0], bytes + got, sizeof bytes - got);
    ::close(fds[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QCOMPARE(QByteArray(bytes, 2), QByteArray("wn"));
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

void tst_SleepLock::alarmIsHandedToTheSessionManager_data()
{
    QTest::addColumn<QString>("manager");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("wake");
    QTest::newRow("set") << "{}" << QStringList{"set 7:30"} << true;
    QTest::newRow("set again") << "{}" << QStringList{"set 7:30", "set 8:15"} << true;
    QTest::newRow("stop") << "{}" << QStringList{"set 7:30", "stop"} << true;
    QTest::newRow("exit") << "{}" << QStringList{"set 7:30", "exit"} << true;
    QTest::newRow("wake-up refused")
        << R"({"refuseWake": true})" << QStringList{"set 7:30"} << false;
    QTest::newRow("a killed run's timer replaced")
        << R"({"left": ["roustabell-0123456789abcdef-999999999-1.timer"]})"
        << QStringList{"set 7:30"} << true;
    QTest::newRow("no manager") << "" << QStringList{"set 7:30"} << false;
}

void tst_SleepLock::alarmIsHandedToTheSessionManager()
{
    SKIP_UNLESS_REQUIRED(m_bus.missing(), "ROUSTABELL_REQUIRE_DBUS");
    QFETCH(QString, manager);
    QFETCH(QStringList, steps);
    QFETCH(bool, wake);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    if (!manager.isEmpty())
        QVERIFY(m_bus.startMock("systemd_user.py", "org.freedesktop.systemd1", manager));
    const auto timers = [] {
        const QDBusMessage reply = PrivateBus::observer().call(
            QDBusMessage::createMethodCall("org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                           "org.freedesktop.systemd1.Manager", "Timers"));
        return QJsonDocument::fromJson(reply.arguments().value(0).toByteArray()).object();
    };
    qputenv("DISPLAY", ":47");

    SystemdAlarmTimer timer({"/opt/rb/roustabell", "0123456789abcdef"}, true);
    const QString sound = QStringLiteral("/home/a $b/%c\u00e9.wav");
    QDateTime moment;
    for (const QString &step : steps) {
        if (step.startsWith("set ")) {
            moment = QDateTime(QDate(2030, 1, 2), QTime::fromString(step.mid(4), "H:mm"),
                               QTimeZone(3600));
            timer.schedule(moment, sound);
        } else if (step == "stop") {
            timer.cancel();
        } else {
            // Gone before the program's end returns, not merely queued.
            timer.cancelBeforeExit();
            QCOMPARE(timers(), QJsonObject());
        }
    }
    if (manager.isEmpty() || steps.last() == "stop" || steps.last() == "exit") {
        QTest::qWait(300);
        QCOMPARE(timers(), QJsonObject());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(timers().size() == 1 && timer.timerUnit(), 10000);
    const QJsonObject unit = timers().value(*timer.timerUnit()).toObject();
    QVERIFY(timer.timerUnit()->startsWith("roustabell-0123456789abcdef-"));
    QCOMPARE(unit["wake"].toBool(), wake);
    QCOMPARE(unit["accuracy"].toInt(), 1000000);
    QCOMPARE(unit["calendar"].toArray().first().toString(),
             moment.toUTC().toString("yyyy-MM-dd HH:mm:ss") + " UTC");
    QVERIFY(unit["environment"].toArray().contains("DISPLAY=:47"));
    // The check's command line gives back the moment and the sound as set.
    QStringList argv = unit["argv"].toVariant().toStringList();
    QCOMPARE(argv.value(0), QStringLiteral("/opt/rb/roustabell"));
    QByteArray arg0 = argv.value(0).toUtf8(), arg1 = argv.value(1).toUtf8();
    char *args[] = {arg0.data(), arg1.data()};
    const std::optional<HandedOverAlarm> parsed = parseCheckArgument(2, args);
    QVERIFY(parsed);
    QCOMPARE(parsed->moment, moment);
    QCOMPARE(parsed->soundFile, sound);
}

QTEST_GUILESS_MAIN(tst_SleepLock)
#include "tst_sleeplock.moc"
