#include "app/desktopservices.h"

#include "config/configlocation.h"

DesktopServices::DesktopServices(std::function<void(const QString &)> soundUnavailable)
    : m_sound(programDirectory() + QLatin1Char('/') +
                  QString::fromLatin1(LazySoundService::kModuleFileName),
              std::move(soundUnavailable)),
      m_services{m_clock, m_sound, m_messages, m_fileDialog, m_launcher, m_registry, m_random,
                 m_control, m_inhibitor, m_wake, m_notifications, programDirectory(),
                 // Installed in a folder it cannot write, the program keeps its file per user.
                 chooseConfigDirectory(programDirectory())}
{
}
