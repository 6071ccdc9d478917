#include "platform/sound/module/loopkeeper.h"

#include "platform/sound/module/effectcache.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>

#include <algorithm>
#include <utility>

namespace {

constexpr int kWatchIntervalMs = 500;

} // namespace

LoopKeeper::LoopKeeper(EffectCache &cache) : m_cache(cache)
{
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, &LoopKeeper::check);
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &LoopKeeper::restart);
}

LoopKeeper::~LoopKeeper()
{
    EffectCache::destroy(std::exchange(m_current, nullptr));
}

void LoopKeeper::start(const QString &path)
{
    end();
    const sound::Source source = sound::fileSource(path, true);
    m_fallbackUsed = source.builtin;
    begin(source);
}

void LoopKeeper::stop()
{
    end();
    m_running = false;
}

void LoopKeeper::begin(const sound::Source &source)
{
    m_running = true;
    m_source = source;
    m_sinceStart.start();
    m_watch.start();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    m_outputId = device.id();
    if (device.isNull()) {
        scheduleRestart();
        return;
    }
    QSoundEffect *effect = m_cache.take(source, device);
    if (effect == nullptr) {
        if (!source.builtin)
            fallBack();
        else
            scheduleRestart();
        return;
    }
    m_current = effect;
    connect(effect, &QSoundEffect::statusChanged, this,
            [this, effect] { onStatusChanged(effect); });
    connect(effect, &QSoundEffect::playingChanged, this,
            [this, effect] { onPlayingChanged(effect); });
    // While the sample still loads, the effect starts as soon as it is ready.
    effect->play();
}

void LoopKeeper::end()
{
    m_watch.stop();
    m_restart.stop();
    EffectCache::retire(std::exchange(m_current, nullptr));
    m_source = {};
}

void LoopKeeper::fallBack()
{
    m_fallbackUsed = true;
    end();
    begin(sound::builtinSource(QString::fromLatin1(sound::kRingPath), true));
}

void LoopKeeper::onStatusChanged(QSoundEffect *effect)
{
    if (effect != m_current || !m_running || effect->status() != QSoundEffect::Error)
        return;
    if (!m_source.builtin)
        fallBack();
    else
        scheduleRestart();
}

void LoopKeeper::onPlayingChanged(QSoundEffect *effect)
{
    if (effect == m_current && m_running && !effect->isPlaying())
        scheduleRestart();
}

void LoopKeeper::check()
{
    if (!m_running)
        return;
    // A stream killed with its device (a sink removed) leaves the effect
    // reporting that it plays, so the device is watched as well.
    if (m_current == nullptr || !m_current->isPlaying() ||
        QMediaDevices::defaultAudioOutput().id() != m_outputId)
        scheduleRestart();
}

void LoopKeeper::scheduleRestart()
{
    if (m_restart.isActive())
        return;
    const qint64 wait = std::max<qint64>(0, kRestartIntervalMs - m_sinceStart.elapsed());
    m_restart.start(int(wait));
}

void LoopKeeper::restart()
{
    if (!m_running)
        return;
    ++m_restartCount;
    sound::Source source = m_source;
    if (!source.builtin) {
        // The file may have gone or changed meanwhile.
        source = sound::fileSource(source.path, true);
        m_fallbackUsed = source.builtin;
    }
    end();
    begin(source);
}
