// The login manager's idle lock and wake-up signal, the desktop power
// manager's scheduled wake-ups and the alarm's notification, against
// stand-ins on a private bus that serves as both the system and the session
// bus.

#include "platform/linux/freedesktopnotifications.h"
#include "platform/linux/linuxservices.h"
#include "platform/linux/logindinhibitor.h"
#include "platform/linux/solidwakescheduler.h"
#include "platform/linux/systemdalarmtimer.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr auto kLogin1 = "org.freedesktop.login1";
constexpr auto kLogin1Path = "/org/freedesktop/login1";
constexpr auto kManager = "org.freedesktop.login1.Manager";
constexpr auto kMockInterface = "org.freedesktop.DBus.Mock";
constexpr auto kPowerManager = "org.kde.Solid.PowerManagement";
constexpr auto kPowerManagerPath = "/org/kde/Solid/PowerManagement";
constexpr auto kNotifications = "org.freedesktop.Notifications";
constexpr auto kNotificationsPath = "/org/freedesktop/Notifications";
// hold() may take a few milliseconds to queue its call; a login manager that
// takes seconds to answer must not show up here.
constexpr qint64 kMaxHoldMs = 250;

// A login manager stand-in for what the stock template cannot do: answer late
// or refuse, per reason.
constexpr auto kSteeredTemplate = R"PY('''A login manager stand-in whose answers the test steers.

Parameters: "delays" maps a reason to milliseconds before its lock is handed
out; "refused" lists reasons whose Inhibit is refused. Granted locks are
listed by ListInhibitors until every copy of their descriptor is closed.
'''
import os

import dbus
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.login1'
MAIN_OBJ = '/org/freedesktop/login1'
MAIN_IFACE = 'org.freedesktop.login1.Manager'
SYSTEM_BUS = True

HELD = []
PARAMETERS = {}


def load(mock, parameters):
    PARAMETERS.update(parameters)


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h',
                     async_callbacks=('reply', 'error'))
def Inhibit(self, what, who, why, mode, reply, error):
    if why in PARAMETERS.get('refused', []):
        error(dbus.exceptions.DBusException('Permission denied',
                                            name='org.freedesktop.DBus.Error.AccessDenied'))
        return

    def grant():
        fd_r, fd_w = os.pipe()
        entry = (str(what), str(who), str(why), str(mode))
        HELD.append(entry)

        def dropped(fd, cond):
            os.close(fd)
            HELD.remove(entry)
            return False

        GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, fd_r, GLib.IO_HUP, dropped)
        reply(dbus.types.UnixFd(fd_w))
        os.close(fd_w)
        return False

    GLib.timeout_add(int(PARAMETERS.get('delays', {}).get(why, 0)), grant)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ssssuu)')
def ListInhibitors(self):
    return [(w, o, y, m, dbus.UInt32(0), dbus.UInt32(0)) for (w, o, y, m) in HELD]
)PY";

// The desktop power manager's wake-ups: cookies count up from 41.
constexpr auto kPowerManagerTemplate = R"PY('''A power manager stand-in with scheduled wake-ups.

Parameters: "delay" and "clearDelay" are milliseconds before scheduleWakeup
and clearWakeup answer; "refused" true makes every scheduleWakeup fail.
'''
import dbus
from gi.repository import GLib

BUS_NAME = 'org.kde.Solid.PowerManagement'
MAIN_OBJ = '/org/kde/Solid/PowerManagement'
MAIN_IFACE = 'org.kde.Solid.PowerManagement'
SYSTEM_BUS = False

PARAMETERS = {}
LAST_COOKIE = [40]


def load(mock, parameters):
    PARAMETERS.update(parameters)


@dbus.service.method(MAIN_IFACE, in_signature='sot', out_signature='u',
                     async_callbacks=('reply', 'error'))
def scheduleWakeup(self, service, path, timestamp, reply, error):
    if PARAMETERS.get('refused'):
        error(dbus.exceptions.DBusException('Not allowed',
                                            name='org.freedesktop.DBus.Error.AccessDenied'))
        return
    LAST_COOKIE[0] += 1
    cookie = LAST_COOKIE[0]

    def answer():
        reply(dbus.types.UInt32(cookie))
        return False

    GLib.timeout_add(int(PARAMETERS.get('delay', 0)), answer)


@dbus.service.method(MAIN_IFACE, in_signature='i', out_signature='',
                     async_callbacks=('reply', 'error'))
def clearWakeup(self, cookie, reply, error):
    def answer():
        reply()
        return False

    GLib.timeout_add(int(PARAMETERS.get('clearDelay', 0)), answer)
)PY";

struct Inhibitor
{
    QString what, who, why, mode;
    bool operator==(const Inhibitor &) const = default;
};

// A call that did not answer as expected shows up as one "error" entry, so
// that the comparison that follows prints what the bus said.
bool failedReply(const QDBusMessage &reply, QList<Inhibitor> &result)
{
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        return false;
    result.append({QStringLiteral("error"), reply.errorName(), reply.errorMessage(), {}});
    return true;
}

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
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

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

    void notificationIsShownOpenedAndWithdrawn();

    void lateNotificationIsClosed_data();
    void lateNotificationIsClosed();

    void alarmIsHandedToTheSessionManager_data();
    void alarmIsHandedToTheSessionManager();

private:
    void missingPeerRows(const char *peer);
    QDBusConnection unreachableBus();
    bool busReady();
    bool startMock(const QStringList &arguments, const char *service = kLogin1);
    void stopMock();
    bool startSteeredMock(const QByteArray &parametersJson);
    bool startPowerManager(const QByteArray &parametersJson);
    QList<Inhibitor> heldInhibitors();
    QList<Inhibitor> loggedInhibitCalls();
    QVariantList loggedCalls(const char *service, const char *path, const QString &method);

    QTemporaryDir m_busDir;
    QProcess m_bus;
    QString m_busAddress;
    QString m_busProblem;
    QString m_python;
    std::unique_ptr<QProcess> m_mock;
    QString m_mockService;
};

void tst_SleepLock::initTestCase()
{
    QVERIFY(m_busDir.isValid());

    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    // The python on the search path may be a private one without the system's modules.
    for (const QString &candidate : {QStandardPaths::findExecutable(QStringLiteral("python3")),
                                     QStringLiteral("/usr/bin/python3")}) {
        if (candidate.isEmpty())
            continue;
        QProcess probe;
        probe.start(candidate, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
        if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            m_python = candidate;
            break;
        }
    }
    if (daemon.isEmpty()) {
        m_busProblem = QStringLiteral("dbus-daemon not found (Debian package dbus-daemon)");
        return;
    }
    if (m_python.isEmpty()) {
        m_busProblem =
            QStringLiteral("python3 with dbusmock not found (Debian package python3-dbusmock)");
        return;
    }

    const QString config = m_busDir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:dir=%1</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n")
            .arg(m_busDir.path())
            .toUtf8());
    file.close();

    m_bus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_bus.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    QVERIFY2(m_bus.waitForStarted(10000), qPrintable(m_bus.errorString()));
    QDeadlineTimer deadline(10000);
    while (!m_bus.canReadLine() && !deadline.hasExpired())
        m_bus.waitForReadyRead(100);
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    QVERIFY2(!m_busAddress.isEmpty(), "the private bus printed no address");

    // Before anything asks for a bus: from here on both are the private one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_busAddress.toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    QDBusConnection observer =
        QDBusConnection::connectToBus(m_busAddress, QStringLiteral("observer"));
    QVERIFY2(observer.isConnected(), qPrintable(observer.lastError().message()));
}

void tst_SleepLock::cleanup()
{
    stopMock();
}

void tst_SleepLock::cleanupTestCase()
{
    stopMock();
    QDBusConnection::disconnectFromBus(QStringLiteral("observer"));
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.terminate();
        if (!m_bus.waitForFinished(5000))
            m_bus.kill();
        m_bus.waitForFinished(5000);
    }
}

// The ways a peer can be missing, as rows of a "manager" column.
void tst_SleepLock::missingPeerRows(const char *peer)
{
    QTest::addColumn<QString>("manager");
    QTest::addRow("no %s on the bus", peer) << QStringLiteral("none");
    QTest::addRow("%s refuses", peer) << QStringLiteral("refuses");
    QTest::newRow("no bus at all") << QStringLiteral("no bus");
}

// A connection to a bus that is not there.
QDBusConnection tst_SleepLock::unreachableBus()
{
    const QString address =
        QStringLiteral("unix:path=") + m_busDir.filePath(QStringLiteral("no-such-socket"));
    return QDBusConnection::connectToBus(address, QStringLiteral("none"));
}

bool tst_SleepLock::busReady()
{
    if (m_busProblem.isEmpty())
        return true;
    if (qEnvironmentVariableIsSet("ROUSTABELL_REQUIRE_DBUS")) {
        QTest::qFail(qPrintable(m_busProblem), __FILE__, __LINE__);
        return false;
    }
    QTest::qSkip(qPrintable(m_busProblem), __FILE__, __LINE__);
    return false;
}

bool tst_SleepLock::startMock(const QStringList &arguments, const char *service)
{
    stopMock();
    m_mock = std::make_unique<QProcess>();
    m_mock->setStandardOutputFile(QProcess::nullDevice());
    m_mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock->start(m_python,
                  QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + arguments);
    if (!m_mock->waitForStarted(10000))
        return false;
    QDBusConnectionInterface *bus = QDBusConnection(QStringLiteral("observer")).interface();
    m_mockService = QString::fromLatin1(service);
    QDeadlineTimer deadline(20000);
    while (!bus->isServiceRegistered(m_mockService)) {
        if (deadline.hasExpired() || m_mock->state() == QProcess::NotRunning)
            return false;
        QTest::qWait(50);
    }
    return true;
}

void tst_SleepLock::stopMock()
{
    if (!m_mock)
        return;
    m_mock->terminate();
    if (!m_mock->waitForFinished(5000))
        m_mock->kill();
    m_mock->waitForFinished(5000);
    m_mock.reset();
    QDBusConnectionInterface *bus = QDBusConnection(QStringLiteral("observer")).interface();
    QDeadlineTimer deadline(5000);
    while (bus && bus->isServiceRegistered(m_mockService) && !deadline.hasExpired())
        QTest::qWait(20);
}

bool tst_SleepLock::startSteeredMock(const QByteArray &parametersJson)
{
    const QString path = m_busDir.filePath(QStringLiteral("steered_logind.py"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kSteeredTemplate) < 0)
        return false;
    file.close();
    return startMock({QStringLiteral("--template"), path, QStringLiteral("--parameters"),
                      QString::fromUtf8(parametersJson)});
}

bool tst_SleepLock::startPowerManager(const QByteArray &parametersJson)
{
    const QString path = m_busDir.filePath(QStringLiteral("power_manager.py"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kPowerManagerTemplate) < 0)
        return false;
    file.close();
    return startMock({QStringLiteral("--template"), path, QStringLiteral("--parameters"),
                      QString::fromUtf8(parametersJson)},
                     kPowerManager);
}

// The arguments of every call of the method the stand-in has received, in order.
QVariantList tst_SleepLock::loggedCalls(const char *service, const char *path,
                                        const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(service), QString::fromLatin1(path),
        QString::fromLatin1(kMockInterface), QStringLiteral("GetMethodCalls"));
    call << method;
    const QDBusMessage reply = QDBusConnection(QStringLiteral("observer")).call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {QStringLiteral("error: ") + reply.errorMessage()};
    QVariantList result;
    const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong when = 0;
        QVariantList args;
        list.beginStructure();
        list >> when >> args;
        list.endStructure();
        result.append(QVariant(args));
    }
    list.endArray();
    return result;
}

// What the stand-in login manager holds right now: an entry goes away only
// when every copy of its file descriptor has been closed.
QList<Inhibitor> tst_SleepLock::heldInhibitors()
{
    const QDBusMessage reply =
        QDBusConnection(QStringLiteral("observer"))
            .call(QDBusMessage::createMethodCall(
                QString::fromLatin1(kLogin1), QString::fromLatin1(kLogin1Path),
                QString::fromLatin1(kManager), QStringLiteral("ListInhibitors")));
    QList<Inhibitor> result;
    if (failedReply(reply, result))
        return result;
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

// Every Inhibit call the stand-in has received, granted or not.
QList<Inhibitor> tst_SleepLock::loggedInhibitCalls()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kLogin1), QString::fromLatin1(kLogin1Path),
        QString::fromLatin1(kMockInterface), QStringLiteral("GetMethodCalls"));
    call << QStringLiteral("Inhibit");
    const QDBusMessage reply = QDBusConnection(QStringLiteral("observer")).call(call);
    QList<Inhibitor> result;
    if (failedReply(reply, result))
        return result;
    const QDBusArgument list = reply.arguments().constFirst().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong when = 0;
        QVariantList args;
        list.beginStructure();
        list >> when >> args;
        list.endStructure();
        Inhibitor entry;
        if (args.size() == 4)
            entry = {args[0].toString(), args[1].toString(), args[2].toString(),
                     args[3].toString()};
        result.append(entry);
    }
    list.endArray();
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
    if (!busReady())
        return;
    QFETCH(QString, why);
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));
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
    if (!busReady())
        return;
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));

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
    if (!busReady())
        return;
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));

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
    if (!busReady())
        return;
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));
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
    if (!busReady())
        return;
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));

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
    if (!busReady())
        return;
    QVERIFY(startSteeredMock(R"({"delays": {"slow": 2000}})"));

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
    if (!busReady())
        return;
    QVERIFY(startSteeredMock(R"({"delays": {"armed": 1500}})"));

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
    if (!busReady())
        return;
    QVERIFY(startSteeredMock(R"({"refused": ["sounding"]})"));

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
    if (!busReady())
        return;
    QFETCH(QString, manager);
    // Not a line on the log, whatever is missing.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));

    std::unique_ptr<LogindSleepInhibitor> inhibitor;
    if (manager == QLatin1String("no bus")) {
        const QDBusConnection none = unreachableBus();
        QVERIFY(!none.isConnected());
        inhibitor = std::make_unique<LogindSleepInhibitor>(none);
    } else {
        if (manager == QLatin1String("refuses"))
            QVERIFY(startSteeredMock(R"({"refused": ["Alarm is set", "Alarm is sounding"]})"));
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
        QVERIFY(startSteeredMock("{}"));
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
    if (!busReady())
        return;
    QFETCH(bool, start);
    QFETCH(int, reports);
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("logind")}));

    LogindSleepInhibitor inhibitor;
    int reported = 0;
    inhibitor.setResumeHandler([&reported] { ++reported; });
    inhibitor.hold(QStringLiteral("armed"));
    QTRY_VERIFY_WITH_TIMEOUT(inhibitor.isHeld(), 10000);
    QVERIFY(inhibitor.isWatchingResume());

    QDBusMessage prepare = QDBusMessage::createMethodCall(
        QString::fromLatin1(kLogin1), QString::fromLatin1(kLogin1Path),
        QString::fromLatin1(kMockInterface), QStringLiteral("EmitSignal"));
    prepare << QString::fromLatin1(kManager) << QStringLiteral("PrepareForSleep")
            << QStringLiteral("b") << QVariantList{QVariant::fromValue(start)};
    const QDBusMessage reply = QDBusConnection(QStringLiteral("observer")).call(prepare);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
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
    if (!busReady())
        return;
    QFETCH(QDateTime, moment);
    QFETCH(qulonglong, seconds);
    QVERIFY(startPowerManager("{}"));

    SolidWakeScheduler wake;
    wake.schedule(moment, {});
    QTRY_COMPARE_WITH_TIMEOUT(wake.cookie(), std::optional<uint>(41), 10000);
    const QVariantList calls =
        loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("scheduleWakeup"));
    QCOMPARE(calls.size(), qsizetype(1));
    const QVariantList args = calls.constFirst().toList();
    QCOMPARE(args.size(), qsizetype(3));
    // The power manager calls back the connection that asked.
    QCOMPARE(args[0].toString(), QDBusConnection::sessionBus().baseService());
    QVERIFY(!args[1].value<QDBusObjectPath>().path().isEmpty());
    QCOMPARE(args[2].toULongLong(), seconds);
    QCOMPARE(loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("clearWakeup")),
             QVariantList());
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
    if (!busReady())
        return;
    QFETCH(QString, how);
    QFETCH(bool, sentAtOnce);
    QFETCH(int, scheduled);
    QVERIFY(startPowerManager(R"({"clearDelay": 600})"));
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
        return loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("clearWakeup"));
    };
    if (sentAtOnce)
        QCOMPARE(cleared(), handedBack);
    QTRY_COMPARE_WITH_TIMEOUT(cleared(), handedBack, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(
        loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(),
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
    if (!busReady())
        return;
    QFETCH(bool, programEnds);
    QVERIFY(startPowerManager(R"({"delay": 1000})"));

    auto wake = std::make_unique<SolidWakeScheduler>();
    wake->schedule(QDateTime(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc()), {});
    QTRY_COMPARE_WITH_TIMEOUT(
        loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(),
        qsizetype(1), 10000);
    const QVariantList handedBack{QVariant(QVariantList{41})};
    if (programEnds) {
        wake.reset();
        QCOMPARE(loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("clearWakeup")),
                 handedBack);
        return;
    }
    wake->cancel();
    QVERIFY(!wake->cookie());
    QTRY_COMPARE_WITH_TIMEOUT(
        loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("clearWakeup")), handedBack,
        10000);
    QVERIFY(!wake->cookie());
}

void tst_SleepLock::noPowerManagerIsSilent_data()
{
    missingPeerRows("power manager");
}

void tst_SleepLock::noPowerManagerIsSilent()
{
    if (!busReady())
        return;
    QFETCH(QString, manager);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));

    std::unique_ptr<SolidWakeScheduler> wake;
    if (manager == QLatin1String("no bus")) {
        const QDBusConnection none = unreachableBus();
        QVERIFY(!none.isConnected());
        wake = std::make_unique<SolidWakeScheduler>(none);
    } else {
        if (manager == QLatin1String("refuses"))
            QVERIFY(startPowerManager(R"({"refused": true})"));
        wake = std::make_unique<SolidWakeScheduler>();
    }

    QElapsedTimer timer;
    timer.start();
    wake->schedule(QDateTime(QDate(2030, 1, 2), QTime(7, 30), QTimeZone::utc()), {});
    QVERIFY2(timer.elapsed() < kMaxHoldMs, qPrintable(QString::number(timer.elapsed())));
    if (manager == QLatin1String("refuses")) {
        QTRY_COMPARE_WITH_TIMEOUT(
            loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("scheduleWakeup")).size(),
            qsizetype(1), 10000);
    }
    QTest::qWait(300);
    QVERIFY(!wake->cookie());
    wake->cancel();
    wake.reset();
    if (manager == QLatin1String("refuses")) {
        // Nothing was granted, so nothing is handed back.
        QCOMPARE(loggedCalls(kPowerManager, kPowerManagerPath, QStringLiteral("clearWakeup")),
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

void tst_SleepLock::notificationIsShownOpenedAndWithdrawn()
{
    if (!busReady())
        return;
    QDBusConnection observer(QStringLiteral("observer"));
    {
        // No server: nothing shown, nothing said, and the end is not held up.
        FreedesktopNotifications none;
        none.show(QStringLiteral("Alarm for nobody"));
        QTest::qWait(300);
        QVERIFY(!none.shownId());
    }
    QVERIFY(startMock({QStringLiteral("--template"), QStringLiteral("notification_daemon")},
                      kNotifications));

    FreedesktopNotifications notifications;
    QStringList opened;
    notifications.setOpenHandler([&opened](const QString &token) { opened.append(token); });
    notifications.show(QStringLiteral("Alarm for 12/7/2026 7:30:00 AM"));
    QTRY_VERIFY_WITH_TIMEOUT(notifications.shownId(), 10000);
    const uint id = *notifications.shownId();
    const QVariantList calls =
        loggedCalls(kNotifications, kNotificationsPath, QStringLiteral("Notify"));
    QCOMPARE(calls.size(), qsizetype(1));
    const QVariantList args = calls.constFirst().toList();
    QCOMPARE(args.size(), qsizetype(8));
    QCOMPARE(args[0].toString(), QStringLiteral("ROUSTABELL"));
    QCOMPARE(args[2].toString(), QStringLiteral("roustabell"));
    QCOMPARE(args[4].toString(), QStringLiteral("Alarm for 12/7/2026 7:30:00 AM"));
    // One action, to open the window; no Stop.
    QCOMPARE(args[5].toStringList(), (QStringList{"default", "Show ROUSTABELL"}));
    const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
    QCOMPARE(hints.value("urgency").toInt(), 2);
    QCOMPARE(hints.value("suppress-sound").toBool(), true);
    QCOMPARE(args[7].toInt(), 0);

    // The server hands over a token just before the action; another
    // notification's action is not ours.
    const auto emitSignal = [&](const QString &name, const QVariantList &values) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QString::fromLatin1(kNotifications), QString::fromLatin1(kNotificationsPath),
            QString::fromLatin1(kMockInterface), QStringLiteral("EmitSignal"));
        call << QString::fromLatin1(kNotifications) << name << QStringLiteral("us")
             << QVariant(values);
        return observer.call(call).type() == QDBusMessage::ReplyMessage;
    };
    QVERIFY(emitSignal("ActionInvoked", {id + 1, QStringLiteral("default")}));
    QVERIFY(emitSignal("ActivationToken", {id, QStringLiteral("token-1")}));
    QVERIFY(emitSignal("ActionInvoked", {id, QStringLiteral("default")}));
    QTRY_COMPARE_WITH_TIMEOUT(opened, QStringList{"token-1"}, 10000);

    notifications.withdraw();
    QTRY_COMPARE_WITH_TIMEOUT(
        loggedCalls(kNotifications, kNotificationsPath, QStringLiteral("CloseNotification")),
        QVariantList{QVariant(QVariantList{id})}, 10000);

    // Shown and at once the program ends: closed before the end returns,
    // though its id had not arrived yet.
    notifications.show(QStringLiteral("Alarm for later"));
    notifications.withdrawBeforeExit();
    const QVariantList closed =
        loggedCalls(kNotifications, kNotificationsPath, QStringLiteral("CloseNotification"));
    QCOMPARE(closed.size(), qsizetype(2));
    QCOMPARE(closed[1].toList().value(0).toUInt(), id + 1);
    QCOMPARE(opened.size(), qsizetype(1));
}

void tst_SleepLock::lateNotificationIsClosed_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("then");
    QTest::newRow("shown again replaces") << 0 << "show";
    QTest::newRow("stopped before a late answer") << 6000 << "withdraw";
    QTest::newRow("program ends before a late answer") << 6000 << "exit";
}

void tst_SleepLock::lateNotificationIsClosed()
{
    if (!busReady())
        return;
    QFETCH(int, delay);
    QFETCH(QString, then);
    QVERIFY(startMock({"--template", ROUSTABELL_SOURCE_DIR "/tests/support/notifications_late.py",
                       "--parameters", QStringLiteral(R"({"delay": %1})").arg(delay)},
                      kNotifications));
    const auto logged = [this](const char *method) {
        return loggedCalls(kNotifications, kNotificationsPath, QString::fromLatin1(method));
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
    if (!busReady())
        return;
    QFETCH(QString, manager);
    QFETCH(QStringList, steps);
    QFETCH(bool, wake);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    if (!manager.isEmpty())
        QVERIFY(startMock({"--template", ROUSTABELL_SOURCE_DIR "/tests/support/systemd_user.py",
                           "--parameters", manager},
                          "org.freedesktop.systemd1"));
    const auto timers = [] {
        const QDBusMessage reply = QDBusConnection("observer")
                                       .call(QDBusMessage::createMethodCall(
                                           "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
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
