#include "config/configlocation.h"

#include "config/configstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <unistd.h>

bool canCreateFilesIn(const QString &directory)
{
    if (directory.isEmpty() || !QFileInfo(directory).isDir())
        return false;
    // A named file, as the configuration store's save creates one beside the
    // real file before renaming it.
    for (int attempt = 0; attempt < 8; ++attempt) {
        QFile probe(QDir(directory).filePath(
            QStringLiteral(".roustabell-probe-%1-%2")
                .arg(QCoreApplication::applicationPid())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))));
        if (probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            probe.close();
            return probe.remove();
        }
        if (probe.error() != QFileDevice::OpenError || !probe.exists())
            return false;
    }
    return false;
}

namespace {

bool isInstalledFolder(const QString &directory)
{
    const QFileInfo info(directory);
    const QString canonical = info.canonicalFilePath();
    return canonical.startsWith(QLatin1String("/usr/")) || info.ownerId() != ::geteuid();
}

// Opening for appending writes nothing, yet fails where a write would.
bool canWriteFile(const QString &file)
{
    QFile probe(file);
    return probe.open(QIODevice::WriteOnly | QIODevice::Append);
}

} // namespace

FolderChecks systemFolderChecks()
{
    return {isInstalledFolder, canCreateFilesIn, canWriteFile};
}

QString chooseConfigDirectory(const QString &programDirectory, const FolderChecks &checks)
{
    const QString fileName = QString::fromLatin1(configstore::kFileName);
    QString stranded;
    if (!programDirectory.isEmpty() && !checks.isInstalled(programDirectory)) {
        const QString beside = QDir(programDirectory).filePath(fileName);
        if (QFileInfo::exists(beside)) {
            if (checks.canWriteInPlace(beside))
                return programDirectory;
            stranded = beside;
        } else if (checks.canCreateFiles(programDirectory)) {
            return programDirectory;
        }
    }

    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(fallback);
    // The user's own settings, beside a copy that can no longer take a save,
    // come along rather than seem lost; the copy may be written from now on.
    const QString moved = QDir(fallback).filePath(fileName);
    if (!stranded.isEmpty() && !QFileInfo::exists(moved) && QFile::copy(stranded, moved))
        QFile::setPermissions(moved, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return fallback;
}

QString chooseConfigDirectory(const QString &programDirectory)
{
    return chooseConfigDirectory(programDirectory, systemFolderChecks());
}
