#pragma once

#include "platform/services.h"
#include "sound/engine/pulseconnection.h"
#include "sound/engine/pulseplayback.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QEventLoop;

// The sound service on the sound server's own client library, with files
// read a block at a time (sound::Decoder).
//
// It is never silent when asked to sound: a file that cannot be read is
// replaced by the built-in ring for a loop and the built-in buzz for a single
// play. A loop that goes quiet by itself (the connection dropped, the output
// went away or is no longer the default) is started again, at most once a
// second. A single play holds its caller, in a local event loop, until the
// clip has been heard; never for long, and a new request ends the wait.
//
// Nothing talks to the sound server before the first request.
class PulseSoundService : public QObject, public SoundService
{
    Q_OBJECT

public:
    static constexpr auto kRingPath = ":/sounds/builtin-ring.wav";
    static constexpr auto kBuzzPath = ":/sounds/builtin-buzz.wav";
    // The bound of a single play beyond the clip's length.
    static constexpr int kOnceMarginMs = 1500;
    static constexpr int kRestartIntervalMs = 1000;

    explicit PulseSoundService(QObject *parent = nullptr);
    ~PulseSoundService() override;

    void startLoop(const QString &path) override;
    void playOnce(const QString &path) override;
    void stop() override;
    void prepare(const QString &path) override;
    SoundProblem check(const QString &path) override;

    // Read-only state, for tests and diagnostics.
    enum class Activity { Idle, Looping, PlayingOnce };
    Activity activity() const { return m_activity; }
    // The file meant to be sounding now (a built-in one as ":/sounds/..."),
    // empty when idle.
    QString intendedPath() const { return m_activity == Activity::Idle ? QString() : m_path; }
    // Whether the last request fell back to a built-in sound.
    bool fallbackUsed() const { return m_fallbackUsed; }
    // How often a loop has been started again after going quiet by itself.
    int restartCount() const { return m_restartCount; }

private:
    // Every request ends what sounds before it.
    void endAll();
    // Plays path, or the built-in at fallback when it cannot be read.
    bool begin(const QString &path, const char *fallback, bool loop);
    void onEnded(quint64 playback);
    void watch();
    void restart();

    PulseConnection m_connection;
    std::unique_ptr<PulsePlayback> m_playback;
    quint64 m_playbackId = 0;
    Activity m_activity = Activity::Idle;
    QString m_path;
    QString m_requested;
    qint64 m_clipMs = 0;
    bool m_fallbackUsed = false;
    int m_restartCount = 0;
    QElapsedTimer m_sinceStart;
    QTimer m_watch;
    QTimer m_restart;
    // A request made while a single play waits may start one of its own:
    // the waits nest, and each ends when a newer request comes.
    QList<QEventLoop *> m_waits;
    quint64 m_generation = 0;
};
