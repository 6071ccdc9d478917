#pragma once

#include "platform/linux/outstandingrequest.h"
#include "platform/services.h"

#include <QDBusConnection>

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

    void schedule(const QDateTime &moment, const QString &soundFile) override;
    void cancel() override;
    void cancelBeforeExit() override;

    // The power manager's cookie for the wake-up in place, once it has answered.
    std::optional<uint> cookie() const { return m_wakeup.held(); }

private:
    QDBusMessage clearWakeupCall(uint cookie) const;

    std::optional<QDBusConnection> m_bus;
    OutstandingRequest<uint> m_wakeup{[this](uint cookie) { return clearWakeupCall(cookie); },
                                      5000};
};
