#pragma once

#include "platform/services.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <optional>

// Wake-ups scheduled through the desktop's power manager: KDE's
// org.kde.Solid.PowerManagement scheduleWakeup / clearWakeup on the session
// bus, which sets the machine's wake alarm for a sleep that follows. Where no
// such service answers, or it refuses, nothing happens and nothing is said;
// it is never started just for this.
class SolidWakeScheduler : public WakeScheduler
{
public:
    // The session bus, reached on first use.
    SolidWakeScheduler();
    explicit SolidWakeScheduler(const QDBusConnection &bus);
    // A wake-up must not outlive the program that would sound the alarm.
    ~SolidWakeScheduler() override;

    void schedule(const QDateTime &moment) override;
    void cancel() override;
    void cancelBeforeExit() override;

    // The power manager's cookie for the wake-up in place, once it has answered.
    std::optional<uint> cookie() const { return m_cookie; }

private:
    void clearWakeup(uint cookie);

    std::optional<QDBusConnection> m_bus;
    std::optional<uint> m_cookie;
    // Requests are numbered so that a cookie for a wake-up no longer wanted
    // is handed back as soon as it arrives; 0 when none is wanted.
    std::uint64_t m_lastRequest = 0;
    std::uint64_t m_wantedRequest = 0;
    bool m_exiting = false;
    // Owns the pending calls; destroyed first, so no answer arrives afterwards.
    QObject m_calls;
};
