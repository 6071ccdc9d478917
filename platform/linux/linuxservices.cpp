#include "platform/linux/linuxservices.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

bool DesktopLauncher::startProgram(const QString &path)
{
    if (path.isEmpty())
        return false;
    return QProcess::startDetached(path, {});
}

void DesktopLauncher::openUrl(const QString &url)
{
    QDesktopServices::openUrl(QUrl(url));
}

bool DesktopLauncher::fileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

namespace {

constexpr RegistryLookup::Handle kToolPathKey = 1;
constexpr RegistryLookup::Handle kToolFolderKey = 2;

// Desktop system-information programs, best first.
const char *const kSystemInfoTools[] = {"hardinfo2", "hardinfo", "kinfocenter",
                                        "gnome-system-monitor", "lshw-gtk"};

} // namespace

long LinuxRegistryLookup::openKey(std::uint32_t root, const QString &keyName, std::uint32_t,
                                  Handle *key)
{
    if (root != kHkeyLocalMachine)
        return kFileNotFound;
    if (keyName == QLatin1String("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"))
        *key = kToolPathKey;
    else if (keyName == QLatin1String("SOFTWARE\\Microsoft\\Shared Tools Location"))
        *key = kToolFolderKey;
    else
        return kFileNotFound;
    return kSuccess;
}

QByteArray LinuxRegistryLookup::valueData(Handle key, const QString &valueName) const
{
    if (key == kToolPathKey && valueName == QLatin1String("PATH")) {
        for (const char *tool : kSystemInfoTools) {
            const QString found = QStandardPaths::findExecutable(QString::fromLatin1(tool));
            if (!found.isEmpty())
                return found.toLocal8Bit();
        }
    } else if (key == kToolFolderKey && valueName == QLatin1String("MSINFO")) {
        return QByteArrayLiteral("/usr/bin");
    }
    return {};
}

long LinuxRegistryLookup::queryValue(Handle key, const QString &valueName, std::uint32_t *type,
                                     QByteArray &buffer, std::uint32_t *size)
{
    QByteArray data = valueData(key, valueName);
    if (data.isEmpty())
        return kFileNotFound;
    data.append('\0'); // stored like a registry string, with its terminator
    if (static_cast<std::uint32_t>(data.size()) > *size)
        return kMoreData;
    *type = kTypeString;
    buffer.replace(0, data.size(), data);
    *size = static_cast<std::uint32_t>(data.size());
    return kSuccess;
}

void LinuxRegistryLookup::closeKey(Handle) {}

QString LinuxRegistryLookup::toolFileName() const
{
    return QStringLiteral("hardinfo");
}

void ProcessControl::endProgram()
{
    m_sound.stop();
    // Destructors do not run, so the wake-up and the notification are withdrawn here.
    m_wake.cancelBeforeExit();
    m_notifications.withdrawBeforeExit();
    std::fflush(nullptr);
    // At once: no event loop resumes, no destructor runs a handler.
    ::_exit(0);
}

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}
