#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

// What to play, decided before anything is handed to QSoundEffect: the file
// asked for, or the built-in sound that stands in for one it cannot play
// (checked from the file's header, see wav::Info).
namespace sound {

inline constexpr auto kRingPath = ":/sounds/builtin-ring.wav";
inline constexpr auto kBuzzPath = ":/sounds/builtin-buzz.wav";
// A single play ends this long after the clip, so that the last of it is
// heard (see urlFor).
inline constexpr int kOnceTailMs = 300;

struct Source
{
    QString key;
    // A file's absolute path, or a Qt resource path.
    QString path;
    bool loop = false;
    // Handed over as a plain copy held in memory rather than as the file:
    // QSoundEffect's reader hangs on valid files of unusual layout (see
    // wav::Info), and a hung load stops every other sound from loading.
    bool copy = false;
    qint64 durationMs = 0;
    bool builtin = false;
    // The file's identity when the source was made, to notice a change.
    qint64 fileSize = -1;
    QDateTime modified;
};

// The file at path, or, when it cannot be played, the built-in ring for a
// loop and the built-in buzz for a single play (then builtin is set).
Source fileSource(const QString &path, bool loop);
Source builtinSource(const QString &path, bool loop);
// What QSoundEffect is given for source; empty when the file cannot be read.
QUrl urlFor(const Source &source);

} // namespace sound
