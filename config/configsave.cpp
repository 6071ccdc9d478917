#include "config/configstore.h"

#include "config/configelements.h"
#include "config/configintake.h"
#include "config/tokendocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace configstore {
namespace {

using namespace detail;

// Copies of unreadable files kept aside; older ones are dropped, so that a
// file that keeps going bad cannot fill the folder.
constexpr int kKeptUnreadable = 3;

bool isFormatting(const Token &token)
{
    return token.kind == Kind::Text && !token.text.isEmpty() &&
           std::all_of(token.text.cbegin(), token.text.cend(), isXmlSpace);
}

QString indentation(qsizetype depth)
{
    return u'\n' + QString(2 * depth, u' ');
}

void replaceContent(Document &doc, std::size_t start, const std::vector<Token> &content)
{
    const auto first = doc.tokens.begin() + std::ptrdiff_t(start) + 1;
    const auto last = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, start));
    doc.tokens.insert(doc.tokens.erase(first, last), content.begin(), content.end());
}

// A root whose content a save replaces (a file that is one value or one
// container) gets a new root around it first: whatever is appended would
// otherwise add blanks to the value or be wiped by the next save. A load reads
// the same from the wrapped document.
void wrapOwnedRoot(Document &doc)
{
    const QString &name = doc.tokens[doc.root].text;
    if (name != kFileNameElement && name != kTimeElement && name != kContainerElement)
        return;
    const auto end = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, doc.root)) + 1;
    doc.tokens.insert(end, {text(QStringLiteral("\n")), element(Kind::EndElement, kRootElement)});
    const auto start = doc.tokens.begin() + std::ptrdiff_t(doc.root);
    doc.tokens.insert(start, {element(Kind::StartElement, kRootElement), text(indentation(1))});
}

// New elements go on a line of their own, so that the closing tag of the root
// stays on its own line too.
void appendToRoot(Document &doc, std::vector<Token> subtree)
{
    wrapOwnedRoot(doc);
    std::size_t at = endOf(doc, doc.root);
    subtree.insert(subtree.begin(), text(indentation(1)));
    if (isFormatting(doc.tokens[at - 1]))
        --at;
    else
        subtree.push_back(text(QStringLiteral("\n")));
    doc.tokens.insert(doc.tokens.begin() + std::ptrdiff_t(at), subtree.begin(), subtree.end());
}

void replaceSetting(Document &doc, const QString &name, const QString &value)
{
    if (const auto found = findFirst(doc, name)) {
        replaceContent(doc, *found, {text(value)});
        return;
    }
    appendToRoot(doc,
                 {element(Kind::StartElement, name), text(value), element(Kind::EndElement, name)});
}

std::vector<Token> pairTokens(const QList<QuestionPair> &pairs, qsizetype depth)
{
    std::vector<Token> tokens;
    if (pairs.isEmpty())
        return tokens;
    const QString pairIndent = indentation(depth + 1);
    const QString partIndent = indentation(depth + 2);
    tokens.reserve(std::size_t(pairs.size()) * 12 + 1);
    for (const QuestionPair &pair : pairs) {
        tokens.push_back(text(pairIndent));
        tokens.push_back(element(Kind::StartElement, kPairElement));
        tokens.push_back(text(partIndent));
        tokens.push_back(element(Kind::StartElement, kQuestionElement));
        tokens.push_back(text(pair.question));
        tokens.push_back(element(Kind::EndElement, kQuestionElement));
        tokens.push_back(text(partIndent));
        tokens.push_back(element(Kind::StartElement, kAnswerElement));
        tokens.push_back(text(pair.answer));
        tokens.push_back(element(Kind::EndElement, kAnswerElement));
        tokens.push_back(text(pairIndent));
        tokens.push_back(element(Kind::EndElement, kPairElement));
    }
    tokens.push_back(text(indentation(depth)));
    return tokens;
}

// unreadable tells whether a file with content is there that could not be
// read; the save then starts afresh and keeps that file aside.
Document openForSave(const QString &path, bool *unreadable)
{
    if (const std::optional<QByteArray> bytes = readCapped(path)) {
        DocumentBuilder builder(bytes->size());
        if (readFile(*bytes, builder)) {
            *unreadable = false;
            return std::move(builder.doc);
        }
    }
    const QFileInfo info(path);
    *unreadable = info.isFile() && info.size() > 0;
    DocumentBuilder fresh(0);
    parseText(QStringLiteral("<AlarmClockConfig />"), fresh);
    return std::move(fresh.doc);
}

// A short write is retried with the rest, so that a persistent failure such as
// a full disk reaches the OS's own error and its reason.
bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += qsizetype(written);
    }
    return true;
}

// The temporary file of a save carries the saving process's id: a name no
// person gives a copy, and one that tells whether its writer still runs.
QString temporaryName(const QString &path)
{
    return path + QStringLiteral(".saving-%1").arg(::getpid());
}

// A save killed between write and rename leaves its temporary file; the next
// save removes every one whose writer is gone (or is this process, which
// saves one file at a time). Another running copy's file is left to it.
void removeStrayTemporaries(const QString &path)
{
    const QFileInfo file(path);
    const QString prefix = file.fileName() + QStringLiteral(".saving-");
    const QDir folder = file.dir();
    // Matched by hand: a name filter or a regular expression would bring the
    // pattern engine into memory for every Set.
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!name.startsWith(prefix))
            continue;
        const QStringView digits = QStringView(name).mid(prefix.size());
        bool number = !digits.isEmpty() && digits.size() <= 10 && digits.front() != u'0';
        for (const QChar c : digits)
            number = number && c >= u'0' && c <= u'9';
        if (!number)
            continue;
        const qint64 pid = digits.toLongLong();
        const bool gone = pid > INT_MAX || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
        if (gone || pid == ::getpid())
            QFile::remove(folder.filePath(name));
    }
}

// Written beside the old file and renamed over it only when complete and on
// disk, so that a kill or a power cut leaves the old document or the new one.
// A writable file in a folder that is not cannot be replaced that way; writing
// it in place beats not saving at all.
QString writeReplacing(const QString &path, const QByteArray &bytes)
{
    QString target = path;
    const QFileInfo existing(path);
    if (existing.isSymLink() && existing.exists())
        target = existing.canonicalFilePath(); // the link stays, its file is saved
    struct stat old = {};
    const bool hasOld = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    if (hasOld && S_ISDIR(old.st_mode))
        return qt_error_string(EISDIR);
    if (hasOld && ::access(QFile::encodeName(target).constData(), W_OK) != 0)
        return QStringLiteral("Existing file %1 is not writable").arg(target);

    removeStrayTemporaries(target);
    const QString temporary = temporaryName(target);
    const QByteArray temporaryPath = QFile::encodeName(temporary);
    // Private until it has the old file's permissions.
    int fd = ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    hasOld ? 0600 : 0666);
    const bool inPlace = fd < 0 && (errno == EACCES || errno == EPERM) && hasOld;
    if (inPlace)
        fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);

    bool ok = (inPlace || !hasOld || ::fchmod(fd, old.st_mode & 07777) == 0) &&
              writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !inPlace &&
        ::rename(temporaryPath.constData(), QFile::encodeName(target).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok)
        return {};
    if (!inPlace)
        ::unlink(temporaryPath.constData());
    return qt_error_string(error);
}

QString asideName(const QString &path, int n)
{
    return path + QStringLiteral(".unreadable") +
           (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
}

bool occupied(const QString &name)
{
    return QFileInfo::exists(name) || QFileInfo(name).isSymLink();
}

// A file that could not be read may still hold a person's questions (one bad
// byte is enough); rather than write over it, it is renamed to
// "<file>.unreadable", the copies before it moving on to "-2" and "-3" and the
// oldest dropped. Nothing moves unless everything can.
QString keepAside(const QString &path)
{
    const QString oldest = asideName(path, kKeptUnreadable);
    if (occupied(oldest) && !QFile::remove(oldest))
        return {};
    for (int n = kKeptUnreadable - 1; n >= 1; --n) {
        const QString from = asideName(path, n);
        if (occupied(from) && !QFile::rename(from, asideName(path, n + 1)))
            return {};
    }
    const QString aside = asideName(path, 1);
    return QFile::rename(path, aside) ? aside : QString();
}

SaveResult write(const QString &path, const Document &doc, bool keepOldAside)
{
    SaveResult result;
    result.path = path;
    if (keepOldAside) {
        result.keptAside = keepAside(path);
        if (result.keptAside.isEmpty()) {
            result.ok = false;
            result.reason = QStringLiteral("the file there cannot be read, and it could not be "
                                           "kept aside as %1.unreadable to make room")
                                .arg(QFileInfo(path).fileName());
            return result;
        }
    }
    result.reason = writeReplacing(path, serialize(doc));
    if (!result.reason.isEmpty()) {
        result.ok = false;
        // Nothing may be lost: the old file goes back where it was.
        if (!result.keptAside.isEmpty() && QFile::rename(result.keptAside, path))
            result.keptAside.clear();
    }
    return result;
}

} // namespace

QString SaveResult::message() const
{
    if (ok && keptAside.isEmpty())
        return {};
    if (ok)
        return QStringLiteral("The settings file %1 could not be read. It is kept as %2, and the "
                              "settings were saved in a new %1.")
            .arg(QFileInfo(path).fileName(), keptAside);
    return QStringLiteral("Could not save the settings to %1: %2").arg(path, reason);
}

SaveResult saveSettings(const QString &directory, const QString &wakeyFileName,
                        const QString &wakeyTime)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    Document doc = openForSave(path, &unreadable);
    // Where one value element holds the other, the outer one is replaced
    // first: the inner one goes with its old content and is then found
    // elsewhere or added, rather than written and then wiped.
    const auto fileNameAt = findFirst(doc, kFileNameElement);
    const auto timeAt = findFirst(doc, kTimeElement);
    if (fileNameAt && timeAt && *timeAt < *fileNameAt) {
        replaceSetting(doc, kTimeElement, wakeyTime);
        replaceSetting(doc, kFileNameElement, wakeyFileName);
    } else {
        replaceSetting(doc, kFileNameElement, wakeyFileName);
        replaceSetting(doc, kTimeElement, wakeyTime);
    }
    return write(path, doc, unreadable);
}

SaveResult saveQuestions(const QString &directory, const QList<QuestionPair> &pairs)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    Document doc = openForSave(path, &unreadable);
    if (const auto found = findFirst(doc, kContainerElement)) {
        replaceContent(doc, *found, pairTokens(pairs, depthOf(doc, *found)));
    } else {
        std::vector<Token> container = pairTokens(pairs, 1);
        container.insert(container.begin(), element(Kind::StartElement, kContainerElement));
        container.push_back(element(Kind::EndElement, kContainerElement));
        appendToRoot(doc, std::move(container));
    }
    return write(path, doc, unreadable);
}

} // namespace configstore
