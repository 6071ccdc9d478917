#include "privatebus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace {

constexpr auto kObserver = "observer";
constexpr auto kMockInterface = "org.freedesktop.DBus.Mock";

} // namespace

PrivateBus::~PrivateBus()
{
    stopMock();
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kObserver));
    if (m_bus.state() != QProcess::NotRunning) {
        m_bus.terminate();
        if (!m_bus.waitForFinished(5000))
            m_bus.kill();
        m_bus.waitForFinished(5000);
    }
}

void PrivateBus::start()
{
    QVERIFY(m_dir.isValid());

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
        m_missing = QStringLiteral("dbus-daemon not found (Debian package dbus-daemon)");
        return;
    }
    if (m_python.isEmpty()) {
        m_missing =
            QStringLiteral("python3 with dbusmock not found (Debian package python3-dbusmock)");
        return;
    }

    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
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
            .arg(m_dir.path())
            .toUtf8());
    file.close();

    m_bus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_bus.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    QVERIFY2(m_bus.waitForStarted(10000), qPrintable(m_bus.errorString()));
    QDeadlineTimer deadline(10000);
    while (!m_bus.canReadLine() && !deadline.hasExpired())
        m_bus.waitForReadyRead(100);
    const QByteArray address = m_bus.readLine().trimmed();
    QVERIFY2(!address.isEmpty(), "the private bus printed no address");

    // Before anything asks for a bus: from here on both are the private one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    const QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromUtf8(address), QString::fromLatin1(kObserver));
    QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
}

QDBusConnection PrivateBus::observer()
{
    return QDBusConnection(QString::fromLatin1(kObserver));
}

QDBusConnection PrivateBus::unreachable() const
{
    const QString address =
        QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("no-such-socket"));
    return QDBusConnection::connectToBus(address, QStringLiteral("none"));
}

bool PrivateBus::startMock(const QString &name, const char *service, const QString &parameters)
{
    stopMock();
    QStringList arguments{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                          QStringLiteral("--template"), name};
    if (name.endsWith(QLatin1String(".py")))
        arguments.last() = QStringLiteral(ROUSTABELL_SOURCE_DIR "/tests/support/") + name;
    if (!parameters.isEmpty())
        arguments << QStringLiteral("--parameters") << parameters;
    m_mock = std::make_unique<QProcess>();
    m_mock->setStandardOutputFile(QProcess::nullDevice());
    m_mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock->start(m_python, arguments);
    if (!m_mock->waitForStarted(10000))
        return false;
    QDBusConnectionInterface *bus = observer().interface();
    m_mockService = QString::fromLatin1(service);
    QDeadlineTimer deadline(20000);
    while (!bus->isServiceRegistered(m_mockService)) {
        if (deadline.hasExpired() || m_mock->state() == QProcess::NotRunning)
            return false;
        QTest::qWait(50);
    }
    return true;
}

void PrivateBus::stopMock()
{
    if (!m_mock)
        return;
    m_mock->terminate();
    if (!m_mock->waitForFinished(5000))
        m_mock->kill();
    m_mock->waitForFinished(5000);
    m_mock.reset();
    QDBusConnectionInterface *bus = observer().interface();
    QDeadlineTimer deadline(5000);
    while (bus && bus->isServiceRegistered(m_mockService) && !deadline.hasExpired())
        QTest::qWait(20);
}

QVariantList PrivateBus::loggedCalls(const char *path, const QString &method) const
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_mockService, QString::fromLatin1(path),
                                       QString::fromLatin1(kMockInterface), "GetMethodCalls");
    call << method;
    const QDBusMessage reply = observer().call(call);
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

bool PrivateBus::emitSignal(const char *path, const char *interface, const QString &name,
                            const QString &signature, const QVariantList &arguments) const
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_mockService, QString::fromLatin1(path),
                                       QString::fromLatin1(kMockInterface), "EmitSignal");
    call << QString::fromLatin1(interface) << name << signature << QVariant(arguments);
    return observer().call(call).type() == QDBusMessage::ReplyMessage;
}
