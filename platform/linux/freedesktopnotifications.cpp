#include "platform/linux/freedesktopnotifications.h"

#include "platform/linux/dbuscall.h"
#include "platform/programinfo.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
constexpr auto kOpenAction = "default";
constexpr uchar kUrgencyCritical = 2;
constexpr int kCallTimeoutMs = 5000;
// How long the program's end may wait for the server.
constexpr int kExitTimeoutMs = 2000;

QDBusMessage serverCall(const char *method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
        QString::fromLatin1(method));
    call.setInteractiveAuthorizationAllowed(false);
    return call;
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications() = default;

FreedesktopNotifications::FreedesktopNotifications(const QDBusConnection &bus) : m_bus(bus) {}

FreedesktopNotifications::~FreedesktopNotifications()
{
    withdrawBeforeExit();
}

bool FreedesktopNotifications::reach()
{
    if (!reachBus(m_bus, &QDBusConnection::sessionBus))
        return false;
    if (!m_listening) {
        m_listening = true;
        const QString service = QString::fromLatin1(kService);
        const QString path = QString::fromLatin1(kPath);
        const QString interface = QString::fromLatin1(kInterface);
        m_bus->connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                       SLOT(actionInvoked(uint, QString)));
        m_bus->connect(service, path, interface, QStringLiteral("ActivationToken"), this,
                       SLOT(activationToken(uint, QString)));
        m_bus->connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                       SLOT(notificationClosed(uint, uint)));
    }
    return true;
}

void FreedesktopNotifications::show(const QString &body)
{
    const std::uint64_t request = ++m_lastRequest;
    m_wantedRequest = request;
    if (!reach())
        return;
    if (m_server) {
        notify(request, body);
        return;
    }
    // What the click does depends on the server, so it is asked first, once.
    callAsync(*m_bus, serverCall("GetServerInformation"), kCallTimeoutMs, &m_calls,
              [this, request, body](const QDBusPendingCall &answer) {
                  const QDBusPendingReply<QString, QString, QString, QString> reply = answer;
                  m_server = reply.isError() ? QString() : reply.argumentAt<0>();
                  if (request == m_wantedRequest)
                      notify(request, body);
              });
}

void FreedesktopNotifications::notify(std::uint64_t request, const QString &body)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical));
    hints.insert(QStringLiteral("suppress-sound"), true);
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(programinfo::kName));
    // GNOME Shell hands over no activation token: a click on a default action
    // only reports it, and the program's own activation is then refused. With
    // none, the shell brings the program's window itself, which its focus
    // rules allow. Other servers send a token before the action.
    QStringList actions;
    if (m_server != u"gnome-shell")
        actions = QStringList{QString::fromLatin1(kOpenAction),
                              QStringLiteral("Show ") + QString::fromLatin1(programinfo::kTitle)};
    QDBusMessage call = serverCall("Notify");
    // No Stop among the actions: only the awareness test's answer silences the alarm.
    call << QString::fromLatin1(programinfo::kTitle) << m_id.value_or(0u)
         << QString::fromLatin1(programinfo::kName) << QString::fromLatin1(programinfo::kTitle)
         << body << actions << hints << 0;
    callAsync(*m_bus, call, kCallTimeoutMs, &m_calls,
              [this, request](const QDBusPendingCall &answer) {
                  const QDBusPendingReply<uint> reply = answer;
                  if (reply.isError())
                      return;
                  if (request == m_wantedRequest)
                      m_id = reply.value();
                  else
                      close(reply.value());
              });
}

void FreedesktopNotifications::withdraw()
{
    m_wantedRequest = 0;
    m_token.clear();
    if (m_id) {
        close(*m_id);
        m_id.reset();
    }
}

void FreedesktopNotifications::withdrawBeforeExit()
{
    m_exiting = true;
    withdraw();
    // An id still on its way is waited for, and closed at once.
    const auto pending = m_calls.findChildren<QDBusPendingCallWatcher *>();
    for (QDBusPendingCallWatcher *watcher : pending)
        watcher->waitForFinished();
    m_exiting = false;
}

void FreedesktopNotifications::setOpenHandler(std::function<void(const QString &)> handler)
{
    m_open = std::move(handler);
}

void FreedesktopNotifications::actionInvoked(uint id, const QString &actionKey)
{
    if (!m_id || id != *m_id || actionKey != QLatin1String(kOpenAction))
        return;
    const QString token = std::exchange(m_token, QString());
    if (m_open)
        m_open(token);
}

void FreedesktopNotifications::activationToken(uint id, const QString &token)
{
    if (m_id && id == *m_id)
        m_token = token;
}

void FreedesktopNotifications::notificationClosed(uint id, uint)
{
    if (m_id && id == *m_id) {
        m_id.reset();
        m_token.clear();
    }
}

void FreedesktopNotifications::close(uint id)
{
    QDBusMessage call = serverCall("CloseNotification");
    call << id;
    if (m_exiting)
        m_bus->call(call, QDBus::Block, kExitTimeoutMs);
    else
        m_bus->asyncCall(call, kCallTimeoutMs);
}
