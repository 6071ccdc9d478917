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

void SolidWakeScheduler::schedule(const QDateTime &moment, const QString &)
{
    cancel();
    const qint64 seconds = moment.isValid() ? moment.toSecsSinceEpoch() : 0;
    if (seconds <= 0 || !reachBus(m_bus, &QDBusConnection::sessionBus))
        return;

    QDBusMessage call = powerManagerCall(QStringLiteral("scheduleWakeup"));
    call << m_bus->baseService() << QVariant::fromValue(QDBusObjectPath(kCallbackPath))
         << static_cast<qulonglong>(seconds);
    m_wakeup.request(*m_bus, call, kCallTimeoutMs,
                     [](const QDBusPendingCall &answer, bool) -> std::optional<uint> {
                         const QDBusPendingReply<uint> reply = answer;
                         if (reply.isError())
                             return std::nullopt;
                         return reply.value();
                     });
}

void SolidWakeScheduler::cancel()
{
    m_wakeup.withdraw();
}

void SolidWakeScheduler::cancelBeforeExit()
{
    m_wakeup.withdrawBeforeExit();
}

QDBusMessage SolidWakeScheduler::clearWakeupCall(uint cookie) const
{
    QDBusMessage call = powerManagerCall(QStringLiteral("clearWakeup"));
    call << static_cast<int>(cookie);
    return call;
}
