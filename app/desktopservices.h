#pragma once

#include "platform/linux/freedesktopnotifications.h"
#include "platform/linux/linuxservices.h"
#include "platform/linux/logindinhibitor.h"
#include "platform/linux/solidwakescheduler.h"
#include "platform/systemservices.h"
#include "sound/lazysoundservice.h"

#include <functional>

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

private:
    SystemClock m_clock;
    QtMessageBoxService m_messages;
    LazySoundService m_sound;
    QtFileDialogService m_fileDialog;
    DesktopLauncher m_launcher;
    LinuxRegistryLookup m_registry;
    FixedStartRandom m_random;
    SolidWakeScheduler m_wake;
    FreedesktopNotifications m_notifications;
    ProcessControl m_control{m_sound, m_wake, m_notifications};
    LogindSleepInhibitor m_inhibitor;
    Services m_services;
};
