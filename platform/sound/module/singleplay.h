#pragma once

#include "platform/sound/module/soundsource.h"

#include <QList>
#include <QPointer>

class EffectCache;
class QEventLoop;
class QSoundEffect;

// A single play that holds its caller, in a local event loop, until the clip
// has been heard. Never for long: the wait is bounded by the clip's length,
// its silent tail and a margin, and a new request (cancel()) ends it at once.
//
// Started on an output device that has gone, QSoundEffect's play() waits for
// ever; so nothing is played, nor waited for, without a device.
class SinglePlay
{
public:
    // The bound of a single play beyond the clip's length and tail.
    static constexpr int kMarginMs = 1500;

    enum class Outcome {
        // Played to its end, or nothing could be heard on any device.
        Heard,
        // The clip could not be played: the caller may try another.
        Failed,
        // A newer request took over while it played.
        Cancelled,
    };

    explicit SinglePlay(EffectCache &cache);
    ~SinglePlay();
    SinglePlay(const SinglePlay &) = delete;
    SinglePlay &operator=(const SinglePlay &) = delete;

    // Plays source once on the default output and returns when it is over.
    Outcome play(const sound::Source &source);
    // Ends the play in progress, and every wait for one.
    void cancel();

    // The file playing now, empty when none.
    QString path() const { return m_source.path; }

private:
    EffectCache &m_cache;
    // Guarded: a request made while waiting retires the effect.
    QPointer<QSoundEffect> m_effect;
    sound::Source m_source;
    // A request made while waiting may start a play of its own: the waits
    // nest, and each ends when a newer request comes.
    QList<QEventLoop *> m_waits;
    quint64 m_generation = 0;
};
