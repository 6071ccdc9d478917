#include "platform/sound/module/qtsoundservice.h"

#include <QAudioDevice>
#include <QMediaDevices>

QtSoundService::QtSoundService(QObject *parent) : QObject(parent) {}

QtSoundService::~QtSoundService() = default;

void QtSoundService::endAll()
{
    m_once.cancel();
    m_loop.stop();
}

bool QtSoundService::isPrepared(const QString &path) const
{
    return m_cache.isPrepared(sound::fileSource(path, true),
                              QMediaDevices::defaultAudioOutput().id());
}

void QtSoundService::prepare(const QString &path)
{
    // Only the loop: the alarm file is never played once, and a file that
    // does not pass its header check is prepared as the ring it falls back to.
    // Each loaded effect costs memory for as long as the alarm waits.
    m_cache.keepPrepared(sound::fileSource(path, true), QMediaDevices::defaultAudioOutput());
}

void QtSoundService::startLoop(const QString &path)
{
    endAll();
    m_activity = Activity::Looping;
    m_loopedLast = true;
    m_loop.start(path);
}

void QtSoundService::stop()
{
    endAll();
    m_activity = Activity::Idle;
}

void QtSoundService::playOnce(const QString &path)
{
    endAll();
    m_activity = Activity::PlayingOnce;
    m_loopedLast = false;
    const sound::Source source = sound::fileSource(path, false);
    m_onceFallback = source.builtin;
    SinglePlay::Outcome outcome = m_once.play(source);
    if (outcome == SinglePlay::Outcome::Failed && !source.builtin) {
        m_onceFallback = true;
        outcome = m_once.play(sound::builtinSource(QString::fromLatin1(kBuzzPath), false));
    }
    // A newer request, made while this one played, owns the state now.
    if (outcome != SinglePlay::Outcome::Cancelled)
        m_activity = Activity::Idle;
}
