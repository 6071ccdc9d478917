#pragma once

#include "platform/services.h"
#include "platform/sound/module/effectcache.h"
#include "platform/sound/module/loopkeeper.h"
#include "platform/sound/module/singleplay.h"
#include "platform/sound/module/soundsource.h"

#include <QObject>
#include <QString>

// The sound service on Qt Multimedia's QSoundEffect, on the UI thread.
//
// It is never silent when asked to sound: a file that QSoundEffect cannot
// play (checked from its header first, see sound::fileSource, and by the
// effect's own error) is replaced by the built-in ring for a loop and the
// built-in buzz for a single play. Where the sound comes from is decided in
// soundsource.h, loaded effects wait in an EffectCache, a LoopKeeper keeps a
// loop sounding, and a SinglePlay holds its caller for a bounded time. The
// ways in which Qt 6.4's QSoundEffect fails are told beside what copes with
// each.
//
// Nothing of the sound stack is created before the first request.
class QtSoundService : public QObject, public SoundService
{
    Q_OBJECT

public:
    static constexpr auto kRingPath = sound::kRingPath;
    static constexpr auto kBuzzPath = sound::kBuzzPath;
    // A single play ends this long after the clip, so that the last of it is
    // heard (see sound::urlFor).
    static constexpr int kOnceTailMs = sound::kOnceTailMs;
    // The bound of a single play beyond the clip's length and tail.
    static constexpr int kOnceMarginMs = SinglePlay::kMarginMs;
    static constexpr int kRestartIntervalMs = LoopKeeper::kRestartIntervalMs;

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
    QString intendedPath() const
    {
        return m_activity == Activity::Looping ? m_loop.path() : m_once.path();
    }
    // Whether the last request fell back to a built-in sound.
    bool fallbackUsed() const { return m_loopedLast ? m_loop.fallbackUsed() : m_onceFallback; }
    // How often a loop has been started again after going quiet by itself.
    int restartCount() const { return m_loop.restartCount(); }
    // Whether a loop of this file is loaded and ready to start at once.
    bool isPrepared(const QString &path) const;

private:
    // Every request ends what sounds before it.
    void endAll();

    Activity m_activity = Activity::Idle;
    // Whether the last request was for a loop, whose keeper then knows of
    // any fallback.
    bool m_loopedLast = false;
    bool m_onceFallback = false;
    // Declared first, to outlive the two that take effects from it.
    EffectCache m_cache{this};
    LoopKeeper m_loop{m_cache};
    SinglePlay m_once{m_cache};
};
