#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

// Runs a tool of the sound server (pactl, pacmd) for at most five seconds and
// returns what it printed; ok tells whether it ran and succeeded.
QString runTool(const QString &program, const QStringList &arguments, bool *ok = nullptr);

// Records what the test sound server's null sink really plays, from its
// monitor, so that tests judge sound by what was heard. The pipe is read on a
// thread of its own, so that it is emptied even while the test thread is
// busy: a recorder that fell behind would shift the time line of everything
// heard afterwards.
class SoundRecorder
{
public:
    static constexpr int kRate = 16000;
    static constexpr int kWindowMs = 20;
    // Below this the sink is silent; a played clip is far above it.
    static constexpr double kSilenceDb = -50.0;

    ~SoundRecorder();

    // Why no sound server can be heard, or an empty text when one can.
    static QString unavailableReason();

    // Starts afresh and returns once the samples flow evenly.
    bool start(QString *error = nullptr);
    void stop();
    bool running() const;

    // Milliseconds on the recorder's clock; the same clock as the windows.
    qint64 now() const { return m_clock.elapsed(); }
    // Samples so far: a position on the recording's own time line, where the
    // sound of a call made now can first appear.
    qint64 mark() const;
    // Everything so far, 16-bit little-endian mono at kRate.
    QByteArray bytes() const;

    // Level of each window, on the recorder's clock.
    struct Window
    {
        qint64 endMs;
        double rmsDb;
        // Tells a high tone from a low buzz.
        double crossingsPerSecond;
    };
    QList<Window> windows() const;

    // The end of the first window at or after fromMs louder than the floor.
    std::optional<qint64> firstSoundAfter(qint64 fromMs) const;
    // The end of the first window at or after fromMs from which on every
    // window up to toMs is silent.
    std::optional<qint64> silentFrom(qint64 fromMs, qint64 toMs) const;
    // Wait for what is to be heard rather than for a fixed time, up to
    // timeoutMs: sound after fromMs that has lasted forMs (its start is
    // returned), or silence from a moment after fromMs that has held for forMs.
    std::optional<qint64> waitForSound(qint64 fromMs, qint64 forMs, int timeoutMs = 10000) const;
    std::optional<qint64> waitForSilence(qint64 fromMs, qint64 forMs, int timeoutMs = 10000) const;
    // Loudest window between the two times.
    double peakDb(qint64 fromMs, qint64 toMs) const;
    // Share of windows louder than the floor between the two times.
    double soundingShare(qint64 fromMs, qint64 toMs) const;
    // Median zero crossings per second of the loud windows between the times.
    double medianCrossings(qint64 fromMs, qint64 toMs) const;

private:
    void capture();
    std::optional<qint64> waitFor(qint64 fromMs, qint64 forMs, int timeoutMs, bool silence) const;

    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    QByteArray m_bytes;
    // Samples so far with the clock time at which the chunk ending there arrived.
    QList<std::pair<qsizetype, qint64>> m_arrivals;
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_failed{false};
};
