#include "config/configlocation.h"

#include "config/configintake.h"
#include "config/configstore.h"
#include "platform/programinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <optional>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
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

// Opening for appending writes nothing, yet fails where a write would; it
// never waits, and only a regular file counts.
bool canWriteFile(const QString &file)
{
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

QString absoluteFolder(const QByteArray &value)
{
    const QString folder = QDir::cleanPath(QFile::decodeName(value));
    return folder.startsWith(u'/') && folder != QLatin1String("/") ? folder : QString();
}

// The nearest folder that exists decides who a folder to be made belongs to.
QFileInfo nearestExisting(const QString &folder)
{
    QFileInfo info(folder);
    while (!info.exists() && info.absoluteFilePath() != QLatin1String("/"))
        info = QFileInfo(info.absolutePath());
    return info;
}

// Modification times to the nanosecond, where the file system keeps them.
std::optional<timespec> modified(const QString &file)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(file).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info.st_mtim;
}

bool isRegularFile(const QString &file)
{
    return modified(file).has_value();
}

bool isNewer(const QString &file, const QString &than)
{
    const auto a = modified(file);
    const auto b = modified(than);
    return a && b && std::pair(a->tv_sec, a->tv_nsec) > std::pair(b->tv_sec, b->tv_nsec);
}

// The user's own settings, beside a copy that can no longer take a save, come
// along rather than seem lost, but only where the per-user folder holds no
// file yet: one there may be another copy's, an installed one's, and nothing
// would be left of it. The copy keeps the source's time, so that it counts
// as newer only once saved there.
void copyAlong(const QString &from, const QString &to)
{
    struct stat existing = {};
    if (::lstat(QFile::encodeName(to).constData(), &existing) == 0)
        return;
    const std::optional<timespec> time = modified(from);
    const std::optional<QByteArray> bytes = configstore::detail::readCapped(from);
    if (!bytes || !time)
        return;
    const QString temporary = to + QStringLiteral(".saving-%1").arg(::getpid());
    QFile copy(temporary);
    const timespec times[2] = {{0, UTIME_OMIT}, *time};
    bool written = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                   copy.write(*bytes) == bytes->size() && copy.flush() &&
                   ::fsync(copy.handle()) == 0 && ::futimens(copy.handle(), times) == 0;
    copy.close();
    // A link, unlike a rename, fails where a file has appeared meanwhile.
    if (written)
        written = ::link(QFile::encodeName(temporary).constData(),
                         QFile::encodeName(to).constData()) == 0;
    QFile::remove(temporary);
}

} // namespace

// The XDG rules ignore a relative or empty XDG_CONFIG_HOME. A home another
// user owns, as sudo keeps it, is theirs: the password database's home is
// used then, and also when HOME is unset.
QString userConfigDirectory()
{
    const passwd *entry = ::getpwuid(::geteuid());
    const QString homes[] = {absoluteFolder(qgetenv("HOME")),
                             entry ? absoluteFolder(entry->pw_dir) : QString()};
    QStringList candidates{absoluteFolder(qgetenv("XDG_CONFIG_HOME"))};
    for (const QString &home : homes)
        candidates << (home.isEmpty() ? QString() : home + QStringLiteral("/.config"));
    const QString name = QString::fromLatin1(programinfo::kName);
    for (const QString &base : std::as_const(candidates)) {
        if (!base.isEmpty() && nearestExisting(base + u'/' + name).ownerId() == ::geteuid())
            return base + u'/' + name;
    }
    // Without a home of its own the folder is never made, so nothing lands at
    // the root of the file system.
    return QStringLiteral("/.config/") + name;
}

FolderChecks systemFolderChecks()
{
    return {isInstalledFolder, canCreateFilesIn, canWriteFile};
}

QString chooseConfigDirectory(const QString &programDirectory, const FolderChecks &checks)
{
    const QString fileName = QString::fromLatin1(configstore::kFileName);
    const QString fallback = userConfigDirectory();
    const QString userFile = QDir(fallback).filePath(fileName);
    QString stranded;
    if (!programDirectory.isEmpty() && !checks.isInstalled(programDirectory)) {
        const QString beside = QDir(programDirectory).filePath(fileName);
        const QFileInfo besideInfo(beside);
        if (besideInfo.exists() && !isRegularFile(beside)) {
            // A pipe or a folder in the file's place loads nothing, as a
            // damaged file does, and a save says why it cannot write there.
            if (checks.canCreateFiles(programDirectory))
                return programDirectory;
        } else if (besideInfo.exists()) {
            // Settings saved in the per-user folder since they moved there
            // would seem lost if the copy went back to its own older file.
            const bool userNewer = isNewer(userFile, beside);
            if (!userNewer && checks.canWriteInPlace(beside))
                return programDirectory;
            if (!userNewer)
                stranded = beside;
        } else if (checks.canCreateFiles(programDirectory)) {
            return programDirectory;
        }
    }

    if (nearestExisting(fallback).absoluteFilePath() != QLatin1String("/"))
        QDir().mkpath(fallback);
    if (!stranded.isEmpty())
        copyAlong(stranded, userFile);
    return fallback;
}

QString chooseConfigDirectory(const QString &programDirectory)
{
    return chooseConfigDirectory(programDirectory, systemFolderChecks());
}
