#include "platform/sound/module/singleplay.h"

#include "platform/sound/module/effectcache.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>

#include <optional>
#include <utility>

namespace {

// Waits for one play of an effect to end, and tells whether it was heard.
// Its connections end with it.
class ClipWait : public QObject
{
public:
    ClipWait(QSoundEffect *effect, qint64 durationMs);
    bool run(QList<QEventLoop *> &waits);

private:
    void onStatusChanged();
    void onPlayingChanged();
    void begin();
    void finish(bool heard);

    QSoundEffect *m_effect;
    qint64 m_durationMs;
    QEventLoop m_loop;
    QTimer m_tail;
    QTimer m_bound;
    QElapsedTimer m_started;
    std::optional<bool> m_heard;
};

ClipWait::ClipWait(QSoundEffect *effect, qint64 durationMs)
    : m_effect(effect), m_durationMs(durationMs)
{
    m_tail.setSingleShot(true);
    m_bound.setSingleShot(true);
    connect(&m_tail, &QTimer::timeout, this, [this] { finish(true); });
    // A device that never reports the end must not hold the program.
    connect(&m_bound, &QTimer::timeout, this, [this] { finish(true); });
    connect(effect, &QSoundEffect::statusChanged, this, &ClipWait::onStatusChanged);
    connect(effect, &QSoundEffect::playingChanged, this, &ClipWait::onPlayingChanged);
}

bool ClipWait::run(QList<QEventLoop *> &waits)
{
    m_bound.start(int(m_durationMs + sound::kOnceTailMs + SinglePlay::kMarginMs));
    m_effect->play();
    onStatusChanged();
    if (!m_heard) {
        waits.append(&m_loop);
        m_loop.exec(QEventLoop::ExcludeUserInputEvents);
        waits.removeOne(&m_loop);
    }
    // Without an answer, a newer request ended the wait; it asks nothing.
    return m_heard.value_or(true);
}

void ClipWait::onStatusChanged()
{
    if (m_effect->status() == QSoundEffect::Error)
        finish(false);
    else if (m_effect->status() == QSoundEffect::Ready)
        begin();
}

void ClipWait::onPlayingChanged()
{
    if (m_effect->isPlaying())
        return;
    // Ending by itself long before the clip could have been heard means that
    // nothing was (no device, a stream that failed).
    finish(m_started.isValid() && m_started.elapsed() >= m_durationMs / 2);
}

void ClipWait::begin()
{
    if (m_started.isValid())
        return;
    // The clip and its silent tail are over this long after the first bytes
    // went out; stopping then cuts only silence.
    m_started.start();
    m_tail.start(int(m_durationMs + sound::kOnceTailMs));
}

void ClipWait::finish(bool heard)
{
    if (m_heard)
        return;
    m_heard = heard;
    m_loop.quit();
}

} // namespace

SinglePlay::SinglePlay(EffectCache &cache) : m_cache(cache) {}

SinglePlay::~SinglePlay()
{
    EffectCache::destroy(std::exchange(m_effect, nullptr));
    cancel();
}

SinglePlay::Outcome SinglePlay::play(const sound::Source &source)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return Outcome::Heard; // nothing can be heard, and waiting would not change that
    m_effect = m_cache.take(source, device);
    if (m_effect == nullptr)
        return Outcome::Failed;
    m_source = source;
    const quint64 generation = m_generation;
    ClipWait wait(m_effect, source.durationMs);
    const bool heard = wait.run(m_waits);
    if (generation != m_generation)
        return Outcome::Cancelled;
    EffectCache::retire(std::exchange(m_effect, nullptr));
    m_source = {};
    return heard ? Outcome::Heard : Outcome::Failed;
}

void SinglePlay::cancel()
{
    ++m_generation;
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
    EffectCache::retire(std::exchange(m_effect, nullptr));
    m_source = {};
}
