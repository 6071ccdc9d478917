#include "platform/linux/solidwakescheduler.h"

#include "platform/linux/dbuscall.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>

namespace {

// Where the power manager reports the wake-up; nothing listens there, since
// the login manager's resume signal already has the alarm checked.
constexpr auto kCallbackPath = "/org/roustabell/Alarm";
constexpr int kCallTimeoutMs = 5000;
// How long the program's end may wait for the power manager.
constexpr int kExitTimeoutMs = 2000;

QDBusMessage powerManagerCall(const QString &method)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.Solid.PowerManagement"),
                                       QStringLiteral("/org/kde/Solid/PowerManagement"),
                                       QStringLiteral("org.kde.Solid.PowerManagement"), method);
    // A desktop without this power manager must not have one started for us.
    call.setAutoStartService(false);
    call.setInteractiveAuthorizationAllowed(false);
    return call;
}

} // namespace

SolidWakeScheduler::SolidWakeScheduler() = default;

SolidWakeScheduler::SolidWakeScheduler(const QDBusConnection &bus) : m_bus(bus) {}

SolidWakeScheduler::~SolidWakeScheduler()
{
    cancelBeforeExit();
}

void SolidWakeScheduler::schedule(const QDateTime &moment)
{
    cancel();
    const qint64 seconds = moment.isValid() ? moment.toSecsSinceEpoch() : 0;
    if (seconds <= 0)
        return;
    const std::uint64_t request = ++m_lastRequest;
    m_wantedRequest = request;
    if (!reachBus(m_bus, &QDBusConnection::sessionBus))
        return;

    QDBusMessage call = powerManagerCall(QStringLiteral("scheduleWakeup"));
    call << m_bus->baseService() << QVariant::fromValue(QDBusObjectPath(kCallbackPath))
         << static_cast<qulonglong>(seconds);
    callAsync(*m_bus, call, kCallTimeoutMs, &m_calls,
              [this, request](const QDBusPendingCall &answer) {
                  const QDBusPendingReply<uint> reply = answer;
                  if (reply.isError())
                      return;
                  if (request == m_wantedRequest)
                      m_cookie = reply.value();
                  else
                      clearWakeup(reply.value());
              });
}

void SolidWakeScheduler::cancel()
{
    m_wantedRequest = 0;
    if (m_cookie) {
        clearWakeup(*m_cookie);
        m_cookie.reset();
    }
}

void SolidWakeScheduler::cancelBeforeExit()
{
    m_exiting = true;
    cancel();
    // A cookie still on its way is waited for, and handed back at once.
    const auto pending = m_calls.findChildren<QDBusPendingCallWatcher *>();
    for (QDBusPendingCallWatcher *watcher : pending)
        watcher->waitForFinished();
    m_exiting = false;
}

void SolidWakeScheduler::clearWakeup(uint cookie)
{
    QDBusMessage call = powerManagerCall(QStringLiteral("clearWakeup"));
    call << static_cast<int>(cookie);
    if (m_exiting)
        m_bus->call(call, QDBus::Block, kExitTimeoutMs);
    else
        m_bus->asyncCall(call, kCallTimeoutMs);
}
