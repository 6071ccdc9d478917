#include "config/safewrite.h"

#include "config/configstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace configstore::detail {
namespace {

// Copies of unreadable files kept aside; older ones are dropped, so that a
// file that keeps going bad cannot fill the folder.
constexpr int kKeptUnreadable = 3;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// A short write is retried with the rest, so that a persistent failure such as
// a full disk reaches the OS's own error and its reason.
bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += qsizetype(written);
    }
    return true;
}

// Only a regular file is ever written or replaced; whatever else stands at the
// path is named in the message.
QString notAFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return qt_error_string(EISDIR);
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a named pipe, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a file");
    return QStringLiteral("it is not a file");
}

QString ownerName(uid_t uid)
{
    if (const passwd *entry = ::getpwuid(uid))
        return QString::fromLocal8Bit(entry->pw_name);
    return QStringLiteral("user %1").arg(uid);
}

// The temporary file of a save carries the saving process's id, a name no
// person gives a copy; "-old" holds the oldest kept copy while a save may
// still fail.
QString temporaryName(const QString &path, const char *suffix = "")
{
    return path + QStringLiteral(".saving-%1").arg(::getpid()) + QLatin1StringView(suffix);
}

bool isTemporaryName(QStringView name, QStringView prefix)
{
    if (!name.startsWith(prefix))
        return false;
    QStringView digits = name.mid(prefix.size());
    if (digits.endsWith(u"-old"))
        digits.chop(4);
    return !digits.isEmpty() && digits.size() <= 10 &&
           std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
}

// Whether its writer still runs is told by its lock, not by its process id:
// an id says nothing about a copy in another pid namespace or on another
// machine sharing the folder, and flock reaches both.
bool removeIfUnlocked(const QByteArray &name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat held = {};
    struct stat named = {};
    bool removed = false;
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(name.constData(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev)
        removed = ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}

// A save killed between write and rename leaves its temporary file; the next
// save whose own text is written removes every one that no running save holds.
void removeStrayTemporaries(const QString &path)
{
    const QFileInfo file(path);
    const QString prefix = file.fileName() + QStringLiteral(".saving-");
    const QDir folder = file.dir();
    // Matched by hand: a name filter or a regular expression would bring the
    // pattern engine into memory for every Set.
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (isTemporaryName(name, prefix))
            removeIfUnlocked(encoded(folder.filePath(name)));
    }
}

// Created and locked for the life of the save. A clean-up may remove it
// between the open and the lock; the lock then finds it unlinked and the save
// starts again. A file system without locks still saves, unguarded.
int createTemporary(const QByteArray &name, mode_t mode)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST && removeIfUnlocked(name))
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0)
            return -1;
        int locked = 0;
        do
            locked = ::flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        struct stat info = {};
        if (::fstat(fd, &info) == 0 && info.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    errno = EBUSY;
    return -1;
}

// Where a link at path finally points, followed hop by hop so that a link
// to a file not made yet is followed too; path itself when it is no link.
std::optional<QString> linkTarget(const QString &path)
{
    QString at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info = {};
        if (::lstat(encoded(at).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
            return at;
        const QString next = QFile::symLinkTarget(at);
        if (next.isEmpty())
            return std::nullopt;
        at = next;
    }
    errno = ELOOP;
    return std::nullopt;
}

// A umask may take the owner's read away from a new file.
bool ensureOwnerReads(int fd)
{
    struct stat made = {};
    if (::fstat(fd, &made) != 0)
        return false;
    return (made.st_mode & S_IRUSR) || ::fchmod(fd, (made.st_mode & 07777) | S_IRUSR) == 0;
}

QString asideName(const QString &path, int n)
{
    return path + QStringLiteral(".unreadable") +
           (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
}

// The renames that keep a file that could not be read aside, undone in
// reverse should the save fail after all.
class AsideMoves
{
public:
    ~AsideMoves()
    {
        if (m_heldFd >= 0)
            ::close(m_heldFd);
    }

    // A file that could not be read may still hold a person's questions (one
    // bad byte is enough); it becomes "<file>.unreadable", the copies before it
    // moving on to "-2" and "-3". A name that holds anything but a regular file
    // (a folder, a link) is not a copy and is passed over. The oldest copy is
    // only held under a temporary name until the save has succeeded.
    bool keepAside(const QString &path)
    {
        std::vector<QString> slots;
        for (int n = 1; n <= kKeptUnreadable; ++n) {
            struct stat info = {};
            const QString name = asideName(path, n);
            if (::lstat(encoded(name).constData(), &info) != 0 || S_ISREG(info.st_mode))
                slots.push_back(name);
        }
        if (slots.empty())
            return false;
        std::size_t gap = 0;
        while (gap < slots.size() && QFileInfo::exists(slots[gap]))
            ++gap;
        if (gap == slots.size()) {
            --gap;
            if (!holdOldest(path, slots[gap]))
                return false;
        }
        for (std::size_t n = gap; n > 0; --n) {
            if (!move(slots[n - 1], slots[n]))
                return false;
        }
        // A link keeps the file at its name until the new one replaces it.
        const QByteArray from = encoded(path);
        const QByteArray to = encoded(slots[0]);
        if (::link(from.constData(), to.constData()) == 0) {
            m_linked = to;
        } else if (!move(path, slots[0])) {
            return false;
        }
        keptAside = slots[0];
        return true;
    }

    void undo()
    {
        if (!m_linked.isEmpty())
            ::unlink(m_linked.constData());
        for (auto it = m_moves.rbegin(); it != m_moves.rend(); ++it)
            ::rename(it->second.constData(), it->first.constData());
        m_moves.clear();
        m_linked.clear();
        keptAside.clear();
        dropped.clear();
    }

    void commit()
    {
        if (!m_held.isEmpty())
            ::unlink(m_held.constData());
    }

    QString keptAside;
    QString dropped;

private:
    bool move(const QString &from, const QString &to)
    {
        const QByteArray source = encoded(from);
        const QByteArray target = encoded(to);
        if (::rename(source.constData(), target.constData()) != 0)
            return false;
        m_moves.emplace_back(source, target);
        return true;
    }

    // Locked, so that no other save's clean-up removes it meanwhile.
    bool holdOldest(const QString &path, const QString &oldest)
    {
        m_heldFd =
            ::open(encoded(oldest).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (m_heldFd < 0 || ::flock(m_heldFd, LOCK_EX | LOCK_NB) != 0)
            return false;
        const QString held = temporaryName(path, "-old");
        if (!move(oldest, held))
            return false;
        m_held = encoded(held);
        dropped = oldest;
        return true;
    }

    std::vector<std::pair<QByteArray, QByteArray>> m_moves;
    QByteArray m_linked;
    QByteArray m_held;
    int m_heldFd = -1;
};

} // namespace

Written failedWrite(const QString &reason)
{
    Written written;
    written.reason = reason;
    return written;
}

// Written beside the old file and renamed over it only when complete and on
// disk, so that a kill or a power cut leaves the old document or the new one.
// A writable file in a folder that is not cannot be replaced that way; writing
// it in place beats not saving at all.
Written writeReplacing(const QString &path, const QByteArray &bytes, bool keepOldAside)
{
    // The link stays, its file is saved, also one not made yet (on a drive
    // not mounted yet, say); a file kept aside takes the link along.
    QString target = path;
    if (!keepOldAside) {
        const std::optional<QString> linked = linkTarget(path);
        if (!linked)
            return failedWrite(qt_error_string(errno));
        target = *linked;
        if (target != path && !QFileInfo(QFileInfo(target).absolutePath()).isDir())
            return failedWrite(
                QStringLiteral("it is a link to %1, whose folder is not there").arg(target));
    }
    const QByteArray targetPath = encoded(target);
    struct stat old = {};
    const bool hasOld = ::stat(targetPath.constData(), &old) == 0;
    if (hasOld && !S_ISREG(old.st_mode))
        return failedWrite(notAFile(old.st_mode));
    const bool root = ::geteuid() == 0;
    const bool writable = !hasOld || ::access(targetPath.constData(), W_OK) == 0;
    // Replacing another user's file would make it ours: it is written in place
    // or not at all. Root gives the new file the old one's owner instead.
    const bool foreign = hasOld && !root && old.st_uid != ::geteuid();
    if (foreign && !writable)
        return failedWrite(QStringLiteral("the file belongs to %1, and a save would take it over")
                               .arg(ownerName(old.st_uid)));
    if (!writable)
        return failedWrite(QStringLiteral("Existing file %1 is not writable").arg(target));
    struct stat folder = {};
    if (!hasOld && root && ::stat(encoded(QFileInfo(target).path()).constData(), &folder) != 0)
        folder = {};

    const QString temporary = temporaryName(target);
    const QByteArray temporaryPath = encoded(temporary);
    // Private until it has the old file's owner and permissions.
    int fd = foreign ? -1 : createTemporary(temporaryPath, hasOld ? 0600 : 0666);
    const bool inPlace = hasOld && (foreign || (fd < 0 && (errno == EACCES || errno == EPERM)));
    if (inPlace) {
        if (keepOldAside)
            return failedWrite(
                QStringLiteral("the file there cannot be read, and it could not be kept "
                               "aside as %1.unreadable to make room")
                    .arg(QFileInfo(path).fileName()));
        // Read as well: where the file system cannot reserve space itself,
        // the C library does it by reading each block and writing it back.
        fd = ::open(targetPath.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0)
        return failedWrite(qt_error_string(errno));

    bool ok = true;
    int error = 0;
    // Each step runs only while the ones before it succeeded.
    const auto step = [&](const auto &action) {
        if (ok && !action()) {
            ok = false;
            error = errno;
        }
    };
    if (inPlace) {
        // Every block the new text needs is reserved before a byte of the old
        // one changes, so that a full disk or a size limit refuses the save
        // and leaves the old file whole.
        struct stat opened = {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return failedWrite(notAFile(opened.st_mode));
        }
        step([&] { return (errno = ::posix_fallocate(fd, 0, off_t(bytes.size()))) == 0; });
        step([&] { return writeAll(fd, bytes); });
        step([&] { return ::ftruncate(fd, off_t(bytes.size())) == 0; });
    } else {
        if (hasOld && root)
            step([&] { return ::fchown(fd, old.st_uid, old.st_gid) == 0; });
        else if (root && folder.st_uid != 0)
            step([&] { return ::fchown(fd, folder.st_uid, folder.st_gid) == 0; });
        // Never one its owner cannot read: the next start would find it
        // unreadable and keep it aside, save after save.
        if (hasOld)
            step([&] { return ::fchmod(fd, (old.st_mode & 07777) | S_IRUSR) == 0; });
        else
            step([&] { return ensureOwnerReads(fd); });
        step([&] { return writeAll(fd, bytes); });
    }
    step([&] { return ::fsync(fd) == 0; });
    // Once the new text is safe on disk; any earlier, a save that fails would
    // change the folder. Any later, a kill after the rename would let strays
    // outlive a save that took effect.
    if (ok && !inPlace)
        removeStrayTemporaries(target);

    AsideMoves aside;
    if (ok && keepOldAside && !aside.keepAside(path)) {
        aside.undo();
        ::close(fd);
        ::unlink(temporaryPath.constData());
        return failedWrite(
            QStringLiteral("the file there cannot be read, and it could not be kept aside "
                           "as %1.unreadable to make room")
                .arg(QFileInfo(path).fileName()));
    }
    if (!inPlace)
        step([&] { return ::rename(temporaryPath.constData(), targetPath.constData()) == 0; });
    if (!ok) {
        aside.undo();
        if (!inPlace)
            ::unlink(temporaryPath.constData());
    }
    if (::close(fd) != 0 && ok && inPlace) {
        ok = false;
        error = errno;
    }
    if (!ok)
        return failedWrite(qt_error_string(error));
    aside.commit();
    Written written;
    written.keptAside = aside.keptAside;
    written.dropped = aside.dropped;
    return written;
}

} // namespace configstore::detail
