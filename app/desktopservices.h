#pragma once

#include "platform/linux/freedesktopnotifications.h"
#include "platform/linux/linuxservices.h"
#include "platform/linux/logindinhibitor.h"
#include "platform/linux/solidwakescheduler.h"
#include "platform/linux/systemdalarmtimer.h"
#include "platform/systemservices.h"
#include "sound/lazysoundservice.h"

#include <functional>

// The login manager's idle lock, and the lock that tells the alarm's check
// that this program still rings the alarm: both held while it is armed or sounding.
class AlarmInhibitor : public SleepInhibitor
{
public:
    explicit AlarmInhibitor(AlarmLock &lock) : m_lock(lock) {}
    void hold(const QString &why) override
    {
        m_lock.hold();
        m_logind.hold(why);
    }
    void release() override
    {
        m_lock.release();
        m_logind.release();
    }
    void setResumeHandler(std::function<void()> handler) override
    {
        m_logind.setResumeHandler(std::move(handler));
    }

private:
    AlarmLock &m_lock;
    LogindSleepInhibitor m_logind;
};

// The power manager's wake-up and the session manager's timer, asked together.
class AlarmWakeSchedulers : public WakeScheduler
{
public:
    AlarmWakeSchedulers(const ProgramCopy &copy, bool lockAvailable) : m_timer(copy, lockAvailable)
    {
    }
    void schedule(const QDateTime &moment, const QString &soundFile) override
    {
        m_solid.schedule(moment, soundFile);
        m_timer.schedule(moment, soundFile);
    }
    void cancel() override
    {
        m_solid.cancel();
        m_timer.cancel();
    }
    void cancelBeforeExit() override
    {
        m_solid.cancelBeforeExit();
        m_timer.cancelBeforeExit();
    }

private:
    SolidWakeScheduler m_solid;
    SystemdAlarmTimer m_timer;
};

// The real services of this desktop, as the program uses them.
class DesktopServices
{
public:
    // soundUnavailable is told once, with the reason, when the sound module
    // cannot be loaded.
    explicit DesktopServices(std::function<void(const QString &)> soundUnavailable);

    DesktopServices(const DesktopServices &) = delete;
    DesktopServices &operator=(const DesktopServices &) = delete;

    Services &services() { return m_services; }
    // For the check: false while another copy holds the alarm's lock.
    bool takeAlarmLock() { return m_lock.hold(); }

private:
    SystemClock m_clock;
    QtMessageBoxService m_messages;
    LazySoundService m_sound;
    QtFileDialogService m_fileDialog;
    DesktopLauncher m_launcher;
    LinuxRegistryLookup m_registry;
    FixedStartRandom m_random;
    ProgramCopy m_copy = ProgramCopy::running();
    AlarmLock m_lock{m_copy};
    AlarmWakeSchedulers m_wake{m_copy, m_lock.available()};
    FreedesktopNotifications m_notifications;
    ProcessControl m_control{m_sound, m_wake, m_notifications};
    AlarmInhibitor m_inhibitor{m_lock};
    Services m_services;
};
