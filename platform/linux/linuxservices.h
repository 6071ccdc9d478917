#pragma once

#include "platform/services.h"

// The services that are answered the Linux way.

class DesktopLauncher : public Launcher
{
public:
    bool startProgram(const QString &path) override;
    void openUrl(const QString &url) override;
    bool fileExists(const QString &path) override;
};

// The two system-information values, answered the Linux way: the first names
// an installed system-information program found on the search path, the
// second the folder of the system's binaries, where the tool must exist.
class LinuxRegistryLookup : public RegistryLookup
{
public:
    long openKey(std::uint32_t root, const QString &keyName, std::uint32_t access,
                 Handle *key) override;
    long queryValue(Handle key, const QString &valueName, std::uint32_t *type, QByteArray &buffer,
                    std::uint32_t *size) override;
    void closeKey(Handle key) override;
    QString toolFileName() const override;

private:
    QByteArray valueData(Handle key, const QString &valueName) const;
};

class ProcessControl : public ProgramControl
{
public:
    ProcessControl(SoundService &sound, WakeScheduler &wake, NotificationService &notifications)
        : m_sound(sound), m_wake(wake), m_notifications(notifications)
    {
    }
    void endProgram() override;

private:
    SoundService &m_sound;
    WakeScheduler &m_wake;
    NotificationService &m_notifications;
};

// Folder of the running executable, without a trailing separator.
QString programDirectory();
