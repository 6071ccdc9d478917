#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// AlarmClockConfig.xml in a given directory. Knows nothing of widgets: the main
// window moves the values between the file and its boxes.
namespace configstore {

inline constexpr auto kFileName = "AlarmClockConfig.xml";

// Larger files are treated as unparseable and are never read whole; a save
// keeps such a file aside, as it does one it cannot read. Every save reads
// the whole file again, and at this size one of elements with 64 attributes
// each takes about a third of a second on two cores, as long as Set and Done
// may hold the window. The program's own largest file (32,767 pairs)
// is about 4 MB.
inline constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;

struct QuestionPair
{
    QString question;
    QString answer;
};

// What a load found. A value is absent when the file holds no such element.
struct StoredSettings
{
    std::optional<QString> wakeyFileName;
    std::optional<QString> wakeyTime;
    QList<QuestionPair> pairs;
};

// Outcome of a save. On failure no file of the folder has changed, in name or
// in content, and the message names the file and the reason, ready to show to
// a person. A save never
// writes over a file it could not read: that file is kept aside first, and
// the message of that save, a success, says where.
struct SaveResult
{
    bool ok = true;
    QString path;
    QString reason;
    // Where a file that could not be read was moved before the new one was
    // written (empty when there was none, or on failure: then it stays put).
    QString keptAside;
    // Whether what was kept aside was only too large to be read.
    bool tooLarge = false;
    // The oldest kept copy, removed to make room; only ever by a save that
    // succeeded.
    QString dropped;
    // Empty for a plain success.
    QString message() const;
};

QString filePath(const QString &directory);

// Missing, empty, oversized or unparseable files give empty settings; never
// throws, never fetches anything from outside the file.
StoredSettings load(const QString &directory);
// What a load makes of a file's content; nullopt where it finds the file
// unparseable (or oversized) and gives empty settings.
std::optional<StoredSettings> parse(const QByteArray &content);

SaveResult saveSettings(const QString &directory, const QString &wakeyFileName,
                        const QString &wakeyTime);
// Writes the pairs in this order in place of the first container of pairs.
SaveResult saveQuestions(const QString &directory, const QList<QuestionPair> &pairs);

} // namespace configstore
