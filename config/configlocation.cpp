#include "config/configlocation.h"

#include "config/configstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

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

QString chooseConfigDirectory(const QString &programDirectory,
                              const std::function<bool(const QString &)> &canCreateFiles)
{
    if (!programDirectory.isEmpty() &&
        QFileInfo::exists(
            QDir(programDirectory).filePath(QString::fromLatin1(configstore::kFileName))))
        return programDirectory;
    if (canCreateFiles(programDirectory))
        return programDirectory;

    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(fallback);
    return fallback;
}

QString chooseConfigDirectory(const QString &programDirectory)
{
    return chooseConfigDirectory(programDirectory, canCreateFilesIn);
}
