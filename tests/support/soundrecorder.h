#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>

#include <optional>

// Records what the test sound server's null sink really plays, from its
// monitor, so that tests judge sound by what was heard.
class SoundRecorder
{
public:
    static constexpr int kRate = 16000;
    static constexpr int kWindowMs = 20;
    // Below this the sink is silent; a played clip is far above it.
    static constexpr double kSilenceDb = -50.0;

    ~SoundRecorder();

    // Why no sound server can be reached, or an empty text when one can.
    static QString unavailableReason();

    bool start(QString *error = nullptr);
    void stop();

    // Milliseconds on the recorder's clock; the same clock as the samples.
    qint64 now() const { return m_clock.elapsed(); }

    // Level of each window, on the recorder's clock.
    struct Window
    {
        qint64 endMs;
        double rmsDb;
        // Tells a high tone from a low buzz.
        double crossingsPerSecond;
    };
    QList<Window> windows();

    // The end of the first window at or after fromMs louder than the floor.
    std::optional<qint64> firstSoundAfter(qint64 fromMs);
    // The end of the first window at or after fromMs from which on every
    // window up to toMs is silent.
    std::optional<qint64> silentFrom(qint64 fromMs, qint64 toMs);
    // Loudest window between the two times.
    double peakDb(qint64 fromMs, qint64 toMs);
    // Share of windows louder than the floor between the two times.
    double soundingShare(qint64 fromMs, qint64 toMs);
    // Median zero crossings per second of the loud windows between the times.
    double medianCrossings(qint64 fromMs, qint64 toMs);

private:
    void drain();

    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_pending;
    // Samples with the clock time at which the chunk holding them arrived.
    QList<qint16> m_samples;
    QList<std::pair<qsizetype, qint64>> m_arrivals;
};
