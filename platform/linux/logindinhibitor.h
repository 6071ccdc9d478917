#pragma once

#include "platform/services.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

// Receives the login manager's PrepareForSleep; D-Bus signals reach only slots.
class LogindResumeRelay : public QObject
{
    Q_OBJECT
public:
    std::function<void()> resumed;

public Q_SLOTS:
    void prepareForSleep(bool start);
};

// The login manager's idle lock (org.freedesktop.login1 Inhibit, what "idle",
// mode "block") over the system bus: the machine does not go to sleep by
// itself, while a suspend the person asks for, or a closed lid, still goes
// through. The lock is the file descriptor it hands out: kept open while
// held, closed to release. Every call is asynchronous, so a slow or missing
// login manager never stalls the window; refusals are silent.
class LogindSleepInhibitor : public SleepInhibitor
{
public:
    // The system bus, reached on first use (DBUS_SYSTEM_BUS_ADDRESS if set).
    LogindSleepInhibitor();
    explicit LogindSleepInhibitor(const QDBusConnection &bus);
    ~LogindSleepInhibitor() override;

    LogindSleepInhibitor(const LogindSleepInhibitor &) = delete;
    LogindSleepInhibitor &operator=(const LogindSleepInhibitor &) = delete;

    void hold(const QString &why) override;
    void release() override;
    void setResumeHandler(std::function<void()> handler) override;

    // True once the login manager has granted the lock and until it is dropped.
    bool isHeld() const { return m_fd >= 0; }
    // True once the wake-up signal is subscribed to.
    bool isWatchingResume() const { return m_watchingResume; }

private:
    void watchResume();
    void adopt(std::uint64_t request, int fd);
    void closeHeld();

    std::optional<QDBusConnection> m_bus;
    int m_fd = -1;
    // Requests are numbered so that an answer older than the lock in hand is
    // dropped; a refused renewal leaves the older lock in place.
    std::uint64_t m_lastRequest = 0;
    std::uint64_t m_heldRequest = 0;
    bool m_wanted = false;
    bool m_watchingResume = false;
    LogindResumeRelay m_relay;
    // Owns the pending calls; destroyed first, so no answer arrives afterwards.
    QObject m_calls;
};
