#include "platform/linux/logindinhibitor.h"

#include "platform/linux/dbuscall.h"

#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr auto kService = "org.freedesktop.login1";
constexpr auto kPath = "/org/freedesktop/login1";
constexpr auto kInterface = "org.freedesktop.login1.Manager";
constexpr auto kWho = "ROUSTABELL";
// Long enough for a busy login manager, short enough not to pile up calls.
constexpr int kCallTimeoutMs = 10000;

} // namespace

void LogindResumeRelay::prepareForSleep(bool start)
{
    if (!start && resumed)
        resumed();
}

LogindSleepInhibitor::LogindSleepInhibitor() = default;

LogindSleepInhibitor::LogindSleepInhibitor(const QDBusConnection &bus) : m_bus(bus) {}

LogindSleepInhibitor::~LogindSleepInhibitor()
{
    closeHeld();
}

void LogindSleepInhibitor::hold(const QString &why)
{
    const std::uint64_t request = ++m_lastRequest;
    m_wanted = true;
    if (!reachBus(m_bus, &QDBusConnection::systemBus))
        return;
    watchResume();

    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QString::fromLatin1(kWho) << why << QStringLiteral("block");
    // Never let the login manager's authorization agent put a prompt up.
    call.setInteractiveAuthorizationAllowed(false);

    callAsync(*m_bus, call, kCallTimeoutMs, &m_calls,
              [this, request](const QDBusPendingCall &answer) {
                  const QDBusPendingReply<QDBusUnixFileDescriptor> reply = answer;
                  if (reply.isError() || !reply.value().isValid())
                      return;
                  // Our own copy, so the lock does not depend on when Qt drops the reply's.
                  const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
                  if (fd >= 0)
                      adopt(request, fd);
              });
}

void LogindSleepInhibitor::release()
{
    m_wanted = false;
    closeHeld();
}

void LogindSleepInhibitor::setResumeHandler(std::function<void()> handler)
{
    m_relay.resumed = std::move(handler);
}

void LogindSleepInhibitor::watchResume()
{
    // Named by service, so a login manager that starts later is heard too.
    if (!m_watchingResume)
        m_watchingResume =
            m_bus->connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                           QString::fromLatin1(kInterface), QStringLiteral("PrepareForSleep"),
                           &m_relay, SLOT(prepareForSleep(bool)));
}

void LogindSleepInhibitor::adopt(std::uint64_t request, int fd)
{
    if (!m_wanted || (isHeld() && request < m_heldRequest)) {
        ::close(fd);
        return;
    }
    // The new lock is in hand before the old one goes, so sleep is never allowed between.
    closeHeld();
    m_fd = fd;
    m_heldRequest = request;
}

void LogindSleepInhibitor::closeHeld()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
