#pragma once

#include "platform/sound/module/soundsource.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class EffectCache;
class QSoundEffect;

// A loop that sounds for as long as it is meant to. One that goes quiet by
// itself (the sound server dropped the connection, the output device went
// away) is started again with a fresh effect, at most once a second; a file
// that fails to play is replaced by the built-in ring.
//
// Started on an output device that has gone, QSoundEffect's play() waits for
// ever; so nothing starts without a device, and the loop waits for one.
class LoopKeeper : public QObject
{
public:
    static constexpr int kRestartIntervalMs = 1000;

    explicit LoopKeeper(EffectCache &cache);
    ~LoopKeeper() override;

    void start(const QString &path);
    void stop();

    // The file meant to be sounding, empty when stopped.
    QString path() const { return m_source.path; }
    // Whether the loop now sounds a built-in ring in place of its file.
    bool fallbackUsed() const { return m_fallbackUsed; }
    // How often a loop has been started again after going quiet by itself.
    int restartCount() const { return m_restartCount; }

private:
    void begin(const sound::Source &source);
    void end();
    void fallBack();
    void onStatusChanged(QSoundEffect *effect);
    void onPlayingChanged(QSoundEffect *effect);
    void check();
    void scheduleRestart();
    void restart();

    EffectCache &m_cache;
    bool m_running = false;
    QSoundEffect *m_current = nullptr;
    sound::Source m_source;
    bool m_fallbackUsed = false;
    int m_restartCount = 0;
    QElapsedTimer m_sinceStart;
    // The output the loop was started on.
    QByteArray m_outputId;
    QTimer m_watch;
    QTimer m_restart;
};
