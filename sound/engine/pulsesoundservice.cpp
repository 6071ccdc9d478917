#include "sound/engine/pulsesoundservice.h"

#include "sound/engine/decoder.h"

#include <QEventLoop>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int kWatchIntervalMs = 500;
// How long a request waits for the server; one that does not answer in
// this time is taken for none.
constexpr int kConnectMs = 1000;
// A restart or a check of the output, made while the program waits on it.
constexpr int kQueryMs = 300;

} // namespace

PulseSoundService::PulseSoundService(QObject *parent) : QObject(parent)
{
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, &PulseSoundService::watch);
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &PulseSoundService::restart);
}

PulseSoundService::~PulseSoundService()
{
    endAll();
}

void PulseSoundService::endAll()
{
    ++m_generation;
    for (QEventLoop *wait : std::as_const(m_waits))
        wait->quit();
    m_watch.stop();
    m_restart.stop();
    m_playback.reset();
    m_activity = Activity::Idle;
}

bool PulseSoundService::begin(const QString &path, const char *fallback, bool loop)
{
    m_requested = path;
    std::unique_ptr<sound::Decoder> decoder = sound::Decoder::openFile(path);
    m_fallbackUsed = decoder == nullptr;
    m_path = decoder ? QFileInfo(path).absoluteFilePath() : QString::fromLatin1(fallback);
    if (!decoder)
        decoder = sound::Decoder::openFile(m_path);
    if (!decoder)
        return false;
    m_clipMs = decoder->durationMs();
    const quint64 id = ++m_playbackId;
    PulseConnection::Lock lock(m_connection);
    if (!m_connection.ensureReady(loop ? kQueryMs : kConnectMs))
        return false;
    m_playback =
        std::make_unique<PulsePlayback>(m_connection, std::move(decoder), loop, [this, id] {
            QMetaObject::invokeMethod(
                this, [this, id] { onEnded(id); }, Qt::QueuedConnection);
        });
    return m_playback->start();
}

void PulseSoundService::startLoop(const QString &path)
{
    endAll();
    m_activity = Activity::Looping;
    m_sinceStart.start();
    m_watch.start();
    if (!begin(path, kRingPath, true))
        m_restart.start(kRestartIntervalMs);
}

void PulseSoundService::playOnce(const QString &path)
{
    endAll();
    m_activity = Activity::PlayingOnce;
    const quint64 generation = m_generation;
    if (begin(path, kBuzzPath, false)) {
        QEventLoop wait;
        // A server that never reports the end must not hold the program.
        QTimer bound;
        bound.setSingleShot(true);
        connect(&bound, &QTimer::timeout, &wait, &QEventLoop::quit);
        m_waits.append(&wait);
        bound.start(int(std::min<qint64>(m_clipMs + kOnceMarginMs, 1 << 30)));
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        m_waits.removeOne(&wait);
    }
    // A newer request, made while this one played, owns the state now.
    if (generation != m_generation)
        return;
    m_playback.reset();
    m_activity = Activity::Idle;
}

void PulseSoundService::stop()
{
    endAll();
}

void PulseSoundService::prepare(const QString &)
{
    // The connection is what takes time at a start; a file opens at once.
    PulseConnection::Lock lock(m_connection);
    m_connection.ensureReady(kConnectMs);
}

SoundProblem PulseSoundService::check(const QString &path)
{
    std::optional<bool> silent;
    {
        PulseConnection::Lock lock(m_connection);
        silent = m_connection.defaultSinkSilent(kConnectMs);
    }
    if (!silent.has_value())
        return SoundProblem::NoServer;
    if (*silent)
        return SoundProblem::OutputSilent;
    if (!sound::Decoder::openFile(path))
        return SoundProblem::FileReplaced;
    return SoundProblem::None;
}

void PulseSoundService::onEnded(quint64 playback)
{
    if (playback != m_playbackId)
        return;
    if (m_activity == Activity::PlayingOnce) {
        for (QEventLoop *wait : std::as_const(m_waits))
            wait->quit();
    } else if (m_activity == Activity::Looping) {
        m_restart.start(int(std::max<qint64>(0, kRestartIntervalMs - m_sinceStart.elapsed())));
    }
}

void PulseSoundService::watch()
{
    if (m_activity != Activity::Looping || m_restart.isActive())
        return;
    bool healthy = m_playback != nullptr;
    if (healthy) {
        PulseConnection::Lock lock(m_connection);
        const PulsePlayback::State state = m_playback->state();
        healthy = m_connection.isReady() && state != PulsePlayback::State::Failed &&
                  state != PulsePlayback::State::Ended;
        // A stream moved off a sink that went away plays where nobody
        // listens; the output the desktop names now is the one to ring on.
        if (healthy && state == PulsePlayback::State::Playing) {
            const QByteArray sink = m_connection.defaultSink(kQueryMs);
            healthy = sink.isEmpty() || sink == m_playback->sinkName();
        }
    }
    if (!healthy)
        m_restart.start(int(std::max<qint64>(0, kRestartIntervalMs - m_sinceStart.elapsed())));
}

void PulseSoundService::restart()
{
    if (m_activity != Activity::Looping)
        return;
    ++m_restartCount;
    m_playback.reset();
    m_sinceStart.start();
    // The file may have gone or changed meanwhile.
    if (!begin(m_requested, kRingPath, true))
        m_restart.start(kRestartIntervalMs);
}
