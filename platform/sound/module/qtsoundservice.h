#pragma once

#include "platform/services.h"

#include <QAudioDevice>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

class QEventLoop;
class QSoundEffect;

// The sound service on Qt Multimedia's QSoundEffect, on the UI thread.
//
// It is never silent when asked to sound: a file that QSoundEffect cannot
// play (checked from its header first, and by the effect's own error) is
// replaced by the built-in ring for a loop and the built-in buzz for a single
// play. A loop that goes quiet by itself (the sound server dropped the
// connection, the output device went away) is started again with a fresh
// effect, at most once a second, for as long as it is meant to sound.
//
// Ways in which Qt 6.4's QSoundEffect fails, and what is done about them:
// - One that was stopped and played again sometimes stays silent while it
//   reports that it plays. So each effect plays once; a fresh one for the
//   same sound is loaded behind it at once, to keep the next start quick.
// - Its reader hangs on valid files of unusual layout (see wav::Info), and
//   a hung load stops every other sound from loading. Such files go over as
//   a plain copy held in memory.
// - It ends a single play by dropping the clip's last ~0.1 s; single plays
//   get a silent tail (see urlFor).
// - Loaded samples are shared by URL, so a file changed in place would play
//   its old contents; the URL names the file's version.
// - Started on an output device that has gone, play() waits for ever; so
//   nothing starts without a device, and a loop waits for one.
//
// Nothing of the sound stack is created before the first request.
class QtSoundService : public QObject, public SoundService
{
    Q_OBJECT

public:
    static constexpr auto kRingPath = ":/sounds/builtin-ring.wav";
    static constexpr auto kBuzzPath = ":/sounds/builtin-buzz.wav";
    // A single play ends this long after the clip, so that the last of it is
    // heard (see urlFor).
    static constexpr int kOnceTailMs = 300;
    // The bound of a single play beyond the clip's length and tail.
    static constexpr int kOnceMarginMs = 1500;
    static constexpr int kRestartIntervalMs = 1000;

    explicit QtSoundService(QObject *parent = nullptr);
    ~QtSoundService() override;

    void startLoop(const QString &path) override;
    void playOnce(const QString &path) override;
    void stop() override;
    void prepare(const QString &path) override;

    // Read-only state, for tests and diagnostics.
    enum class Activity { Idle, Looping, PlayingOnce };
    Activity activity() const { return m_activity; }
    // The file meant to be sounding now (a built-in one as ":/sounds/..."),
    // empty when idle.
    QString intendedPath() const { return m_currentSource.path; }
    // Whether the last request fell back to a built-in sound.
    bool fallbackUsed() const { return m_fallbackUsed; }
    // How often a loop has been started again after going quiet by itself.
    int restartCount() const { return m_restartCount; }
    // Whether a loop of this file is loaded and ready to start at once.
    bool isPrepared(const QString &path) const;

private:
    // What to play, decided before anything is handed to QSoundEffect.
    struct Source
    {
        QString key;
        // A file's absolute path, or a Qt resource path.
        QString path;
        bool loop = false;
        // Handed over as a plain copy held in memory rather than as the file.
        bool copy = false;
        qint64 durationMs = 0;
        bool builtin = false;
        // The file's identity when the source was made, to notice a change.
        qint64 fileSize = -1;
        QDateTime modified;
    };
    // A loaded effect that has not played yet, for one output device.
    struct Entry
    {
        Source source;
        QByteArray deviceId;
        QSoundEffect *effect = nullptr;
        quint64 lastUse = 0;
    };

    static Source fileSource(const QString &path, bool loop, bool *fallback);
    static Source builtinSource(const QString &path, bool loop);
    static QUrl urlFor(const Source &source);

    QSoundEffect *newEffect(const Source &source, const QAudioDevice &device);
    QSoundEffect *takeEffect(const Source &source, const QAudioDevice &device);
    void keepPrepared(const Source &source, const QAudioDevice &device);
    void trimCache();
    void retire(QSoundEffect *effect);
    void endCurrent();
    void beginLoop(const Source &source);
    bool playOnceAndWait(const Source &source, quint64 generation);
    void quitWaits();

    void onStatusChanged();
    void onPlayingChanged();
    void checkLoop();
    void scheduleRestart();
    void restartLoop();

    Activity m_activity = Activity::Idle;
    QList<Entry> m_cache;
    QSoundEffect *m_current = nullptr;
    Source m_currentSource;
    bool m_fallbackUsed = false;
    int m_restartCount = 0;
    quint64 m_generation = 0;
    quint64 m_useCounter = 0;
    QElapsedTimer m_sinceLoopStart;
    QByteArray m_outputId;
    QTimer m_watch;
    QTimer m_restart;
    QList<QEventLoop *> m_waits;
};
