#include "platform/linux/freedesktopnotifications.h"

#include "platform/linux/dbuscall.h"
#include "platform/programinfo.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <limits>

namespace {

constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
constexpr auto kOpenAction = "default";
constexpr uchar kUrgencyCritical = 2;
// A server that answers Notify late still hands over an id, which is then
// closed if the alarm has stopped meanwhile; a timeout would lose it.
constexpr int kNotifyTimeoutMs = std::numeric_limits<int>::max();
constexpr int kCallTimeoutMs = 5000;

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

void FreedesktopNotifications::show(const QString &text)
{
    if (!reach())
        return;
    const std::uint64_t showing = ++m_showing;
    if (m_server) {
        notify(text);
        return;
    }
    // What a click does depends on the server, so it is asked first, once.
    callAsync(*m_bus, serverCall("GetServerInformation"), kCallTimeoutMs, &m_calls,
              [this, showing, text](const QDBusPendingCall &answer) {
                  const QDBusPendingReply<QString, QString, QString, QString> reply = answer;
                  m_server = reply.isError() ? QString() : reply.argumentAt<0>();
                  if (showing == m_showing)
                      notify(text);
              });
}

void FreedesktopNotifications::notify(const QString &text)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical));
    hints.insert(QStringLiteral("suppress-sound"), true);
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(programinfo::kName));
    // GNOME's lock screen then says which alarm, not only whose.
    hints.insert(QStringLiteral("x-gnome-privacy-scope"), QStringLiteral("system"));
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
    // The text as the summary: the source already names the program, and a lock
    // screen shows summary and body on one line it cuts.
    call << QString::fromLatin1(programinfo::kTitle) << m_shown.held().value_or(0u)
         << QString::fromLatin1(programinfo::kName) << text << QString() << actions << hints << 0;
    m_shown.request(*m_bus, call, kNotifyTimeoutMs,
                    [](const QDBusPendingCall &answer, bool) -> std::optional<uint> {
                        const QDBusPendingReply<uint> reply = answer;
                        if (reply.isError())
                            return std::nullopt;
                        return reply.value();
                    });
}

void FreedesktopNotifications::withdraw()
{
    ++m_showing;
    m_token.clear();
    m_shown.withdraw();
}

void FreedesktopNotifications::withdrawBeforeExit()
{
    ++m_showing;
    m_token.clear();
    m_shown.withdrawBeforeExit();
}

void FreedesktopNotifications::setOpenHandler(std::function<void(const QString &)> handler)
{
    m_open = std::move(handler);
}

void FreedesktopNotifications::actionInvoked(uint id, const QString &actionKey)
{
    if (m_shown.held() != id || actionKey != QLatin1String(kOpenAction))
        return;
    const QString token = std::exchange(m_token, QString());
    if (m_open)
        m_open(token);
}

void FreedesktopNotifications::activationToken(uint id, const QString &token)
{
    if (m_shown.held() == id)
        m_token = token;
}

void FreedesktopNotifications::notificationClosed(uint id, uint)
{
    if (m_shown.held() == id) {
        m_shown.forget();
        m_token.clear();
    }
}

QDBusMessage FreedesktopNotifications::closeCall(uint id) const
{
    QDBusMessage call = serverCall("CloseNotification");
    call << id;
    return call;
}
