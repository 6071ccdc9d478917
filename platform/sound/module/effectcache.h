#pragma once

#include "platform/sound/module/soundsource.h"

#include <QByteArray>
#include <QList>

class QAudioDevice;
class QObject;
class QSoundEffect;

// Loaded effects that have not played yet, one per sound, so that a start is
// quick.
//
// Qt 6.4's QSoundEffect, stopped and played again, sometimes stays silent
// while it reports that it plays. So each effect plays once: take() hands
// one over and at once loads a fresh one for the same sound behind it.
class EffectCache
{
public:
    // Effects are made children of owner.
    explicit EffectCache(QObject *owner);
    ~EffectCache();
    EffectCache(const EffectCache &) = delete;
    EffectCache &operator=(const EffectCache &) = delete;

    // An effect for source on device, loaded or still loading; null when the
    // file cannot be read. It is the caller's, to play once and retire.
    QSoundEffect *take(const sound::Source &source, const QAudioDevice &device);
    // Loads an effect for source on device, unless one that fits is held.
    void keepPrepared(const sound::Source &source, const QAudioDevice &device);
    // Whether an effect for source on the device is loaded and ready.
    bool isPrepared(const sound::Source &source, const QByteArray &deviceId) const;

    // Stops an effect that is done with; it goes once control returns to the
    // event loop.
    static void retire(QSoundEffect *effect);
    // Deletes an effect at once, for an owner that is being destroyed: an
    // effect signals while it is destroyed, to an owner half gone by then.
    static void destroy(QSoundEffect *effect);

private:
    // A loaded effect that has not played yet, for one output device.
    struct Entry
    {
        sound::Source source;
        QByteArray deviceId;
        QSoundEffect *effect = nullptr;
        quint64 lastUse = 0;
    };

    QSoundEffect *newEffect(const sound::Source &source, const QAudioDevice &device) const;
    qsizetype indexOf(const QString &key) const;
    void trim();

    QObject *m_owner;
    QList<Entry> m_entries;
    quint64 m_useCounter = 0;
};
