#include "platform/sound/module/qtsoundservice.h"

#include "platform/sound/module/wavinfo.h"

#include <QAudioDevice>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>

#include <algorithm>
#include <utility>

namespace {

// Room for the alarm file and the wrong-answer file, each as a loop and as a
// single play, and the two built-ins.
constexpr qsizetype kMaxEntries = 8;
// Sample data up to this size may be held a second time, as a plain copy.
constexpr qint64 kMaxCopyBytes = 16 * 1024 * 1024;
constexpr int kWatchIntervalMs = 500;

// A prepared effect is good for a request when the file is unchanged, the
// device the same, and it has not failed.
template <typename Entry, typename Source>
bool stillFits(const Entry &entry, const Source &source, const QByteArray &deviceId)
{
    return entry.source.fileSize == source.fileSize && entry.source.modified == source.modified &&
           entry.deviceId == deviceId && entry.effect->status() != QSoundEffect::Error;
}

void disconnectAll(QSoundEffect *effect)
{
    QObject::disconnect(effect, nullptr, nullptr, nullptr);
}

} // namespace

QtSoundService::QtSoundService(QObject *parent) : QObject(parent)
{
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, &QtSoundService::checkLoop);
    m_restart.setSingleShot(true);
    connect(&m_restart, &QTimer::timeout, this, &QtSoundService::restartLoop);
}

QtSoundService::~QtSoundService()
{
    ++m_generation;
    quitWaits();
    // An effect signals while it is destroyed; this object is half gone by then.
    if (QSoundEffect *effect = std::exchange(m_current, nullptr)) {
        disconnectAll(effect);
        delete effect;
    }
    for (Entry &entry : m_cache) {
        disconnectAll(entry.effect);
        delete entry.effect;
    }
    m_cache.clear();
}

QtSoundService::Source QtSoundService::builtinSource(const QString &path, bool loop)
{
    const wav::Info info = wav::inspectFile(path);
    Source source;
    source.key = (loop ? QStringLiteral("loop:") : QStringLiteral("once:")) + path;
    source.path = path;
    source.loop = loop;
    source.copy = !loop || !info.plainLayout;
    source.durationMs = info.durationMs();
    source.builtin = true;
    return source;
}

QtSoundService::Source QtSoundService::fileSource(const QString &path, bool loop, bool *fallback)
{
    const wav::Info info = wav::inspectFile(path);
    const bool fits = info.dataBytes <= kMaxCopyBytes;
    // A loop of a plain file plays the file itself; everything else goes
    // over as a plain copy, unless it is too big to copy.
    const bool copy = loop ? !info.plainLayout : (fits || !info.plainLayout);
    *fallback = !info.playable || (copy && !fits);
    if (*fallback)
        return builtinSource(QString::fromLatin1(loop ? kRingPath : kBuzzPath), loop);
    const QFileInfo file(path);
    Source source;
    source.path = file.absoluteFilePath();
    source.key = (loop ? QStringLiteral("loop:") : QStringLiteral("once:")) + source.path;
    source.loop = loop;
    source.copy = copy;
    source.durationMs = info.durationMs();
    source.fileSize = file.size();
    source.modified = file.lastModified();
    return source;
}

QUrl QtSoundService::urlFor(const Source &source)
{
    if (!source.copy) {
        if (source.builtin)
            return QUrl(QStringLiteral("qrc") + source.path);
        // Loaded samples are shared by URL for as long as any effect holds
        // one; naming the file's version makes a changed file load anew.
        QUrl url = QUrl::fromLocalFile(source.path);
        url.setQuery(QStringLiteral("v=%1-%2")
                         .arg(source.fileSize)
                         .arg(source.modified.toMSecsSinceEpoch()));
        return url;
    }
    // QSoundEffect ends a single play, and drops what the sound server still
    // holds of it, as soon as the last bytes are handed over: the clip's end
    // would be cut off. A silent tail takes that loss instead. Held in memory
    // as a data URL, so that no file is written.
    const QByteArray bytes = wav::plainCopy(source.path, source.loop ? 0 : kOnceTailMs);
    if (bytes.isEmpty())
        return {};
    return QUrl(QStringLiteral("data:audio/wav;base64,") + QString::fromLatin1(bytes.toBase64()));
}

QSoundEffect *QtSoundService::newEffect(const Source &source, const QAudioDevice &device)
{
    const QUrl url = urlFor(source);
    if (url.isEmpty())
        return nullptr;
    auto *effect = new QSoundEffect(device, this);
    connect(effect, &QSoundEffect::statusChanged, this, &QtSoundService::onStatusChanged);
    connect(effect, &QSoundEffect::playingChanged, this, &QtSoundService::onPlayingChanged);
    effect->setLoopCount(source.loop ? QSoundEffect::Infinite : 1);
    effect->setSource(url);
    return effect;
}

QSoundEffect *QtSoundService::takeEffect(const Source &source, const QAudioDevice &device)
{
    QSoundEffect *effect = nullptr;
    for (qsizetype i = 0; i < m_cache.size(); ++i) {
        if (m_cache[i].source.key != source.key)
            continue;
        const Entry entry = m_cache.takeAt(i);
        if (stillFits(entry, source, device.id()))
            effect = entry.effect;
        else
            retire(entry.effect);
        break;
    }
    if (effect == nullptr)
        effect = newEffect(source, device);
    // The next start of this sound is as quick as this one.
    keepPrepared(source, device);
    return effect;
}

void QtSoundService::keepPrepared(const Source &source, const QAudioDevice &device)
{
    if (device.isNull())
        return;
    for (qsizetype i = 0; i < m_cache.size(); ++i) {
        Entry &entry = m_cache[i];
        if (entry.source.key != source.key)
            continue;
        if (stillFits(entry, source, device.id())) {
            entry.lastUse = ++m_useCounter;
            return;
        }
        retire(m_cache.takeAt(i).effect);
        break;
    }
    if (QSoundEffect *effect = newEffect(source, device)) {
        m_cache.append(Entry{source, device.id(), effect, ++m_useCounter});
        trimCache();
    }
}

void QtSoundService::trimCache()
{
    while (m_cache.size() > kMaxEntries) {
        const auto oldest =
            std::min_element(m_cache.cbegin(), m_cache.cend(),
                             [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
        retire(m_cache.takeAt(oldest - m_cache.cbegin()).effect);
    }
}

void QtSoundService::retire(QSoundEffect *effect)
{
    if (effect == nullptr)
        return;
    // Disconnected first, so that its own stop is not taken for a failure.
    disconnectAll(effect);
    effect->stop();
    effect->deleteLater();
}

void QtSoundService::endCurrent()
{
    m_watch.stop();
    m_restart.stop();
    retire(std::exchange(m_current, nullptr));
    m_currentSource = {};
}

void QtSoundService::quitWaits()
{
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
}

bool QtSoundService::isPrepared(const QString &path) const
{
    bool fallback = false;
    const Source source = fileSource(path, true, &fallback);
    const QByteArray deviceId = QMediaDevices::defaultAudioOutput().id();
    return std::any_of(m_cache.cbegin(), m_cache.cend(), [&](const Entry &entry) {
        return entry.source.key == source.key && stillFits(entry, source, deviceId) &&
               entry.effect->status() == QSoundEffect::Ready;
    });
}

void QtSoundService::prepare(const QString &path)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    // Only the loop: the alarm file is never played once, and a file that
    // does not pass its header check is prepared as the ring it falls back to.
    // Each loaded effect costs memory for as long as the alarm waits.
    bool fallback = false;
    keepPrepared(fileSource(path, true, &fallback), device);
}

void QtSoundService::startLoop(const QString &path)
{
    ++m_generation;
    quitWaits();
    endCurrent();
    bool fallback = false;
    const Source source = fileSource(path, true, &fallback);
    m_fallbackUsed = fallback;
    beginLoop(source);
}

void QtSoundService::beginLoop(const Source &source)
{
    m_activity = Activity::Looping;
    m_currentSource = source;
    m_sinceLoopStart.start();
    m_watch.start();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    m_outputId = device.id();
    if (device.isNull()) {
        scheduleRestart();
        return;
    }
    QSoundEffect *effect = takeEffect(source, device);
    if (effect == nullptr) {
        if (!source.builtin) {
            m_fallbackUsed = true;
            beginLoop(builtinSource(QString::fromLatin1(kRingPath), true));
        } else {
            scheduleRestart();
        }
        return;
    }
    m_current = effect;
    // While the sample still loads, the effect starts as soon as it is ready.
    effect->play();
}

void QtSoundService::stop()
{
    ++m_generation;
    quitWaits();
    endCurrent();
    m_activity = Activity::Idle;
}

void QtSoundService::onStatusChanged()
{
    auto *effect = qobject_cast<QSoundEffect *>(sender());
    if (effect == nullptr || effect != m_current || m_activity != Activity::Looping ||
        effect->status() != QSoundEffect::Error)
        return;
    if (!m_currentSource.builtin) {
        m_fallbackUsed = true;
        endCurrent();
        beginLoop(builtinSource(QString::fromLatin1(kRingPath), true));
        return;
    }
    scheduleRestart();
}

void QtSoundService::onPlayingChanged()
{
    auto *effect = qobject_cast<QSoundEffect *>(sender());
    if (effect != nullptr && effect == m_current && m_activity == Activity::Looping &&
        !effect->isPlaying())
        scheduleRestart();
}

void QtSoundService::checkLoop()
{
    if (m_activity != Activity::Looping)
        return;
    // A stream killed with its device (a sink removed) leaves the effect
    // reporting that it plays, so the device is watched as well.
    if (m_current == nullptr || !m_current->isPlaying() ||
        QMediaDevices::defaultAudioOutput().id() != m_outputId)
        scheduleRestart();
}

void QtSoundService::scheduleRestart()
{
    if (m_restart.isActive())
        return;
    const qint64 wait = std::max<qint64>(0, kRestartIntervalMs - m_sinceLoopStart.elapsed());
    m_restart.start(int(wait));
}

void QtSoundService::restartLoop()
{
    if (m_activity != Activity::Looping)
        return;
    ++m_restartCount;
    Source source = m_currentSource;
    if (!source.builtin) {
        // The file may have gone or changed meanwhile.
        bool fallback = false;
        source = fileSource(source.path, true, &fallback);
        m_fallbackUsed = fallback;
    }
    endCurrent();
    beginLoop(source);
}

void QtSoundService::playOnce(const QString &path)
{
    const quint64 generation = ++m_generation;
    quitWaits();
    endCurrent();
    m_activity = Activity::PlayingOnce;
    bool fallback = false;
    const Source source = fileSource(path, false, &fallback);
    m_fallbackUsed = fallback;
    const bool heard = playOnceAndWait(source, generation);
    if (!heard && !fallback && generation == m_generation) {
        m_fallbackUsed = true;
        playOnceAndWait(builtinSource(QString::fromLatin1(kBuzzPath), false), generation);
    }
    if (generation == m_generation) {
        endCurrent();
        m_activity = Activity::Idle;
    }
}

bool QtSoundService::playOnceAndWait(const Source &source, quint64 generation)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return true; // nothing can be heard, and waiting would not change that
    // Guarded: a request made while waiting retires the effect.
    const QPointer<QSoundEffect> effect = takeEffect(source, device);
    m_currentSource = source;
    m_current = effect;
    if (effect == nullptr)
        return false;

    enum class Outcome { Waiting, Ended, Failed };
    Outcome outcome = Outcome::Waiting;
    QEventLoop loop;
    // Connections made with this context end with the wait.
    QObject context;
    QTimer tail;
    tail.setSingleShot(true);
    QTimer bound;
    bound.setSingleShot(true);
    QElapsedTimer started;

    const auto finish = [&](Outcome result) {
        if (outcome == Outcome::Waiting) {
            outcome = result;
            loop.quit();
        }
    };
    // The clip and its silent tail are over this long after the first bytes
    // went out; stopping then cuts only silence.
    const auto begin = [&] {
        if (!started.isValid()) {
            started.start();
            tail.start(int(source.durationMs + kOnceTailMs));
        }
    };
    connect(&tail, &QTimer::timeout, &context, [&] { finish(Outcome::Ended); });
    // A device that never reports the end must not hold the program.
    connect(&bound, &QTimer::timeout, &context, [&] { finish(Outcome::Ended); });
    connect(effect, &QSoundEffect::statusChanged, &context, [&] {
        if (effect->status() == QSoundEffect::Error)
            finish(Outcome::Failed);
        else if (effect->status() == QSoundEffect::Ready)
            begin();
    });
    connect(effect, &QSoundEffect::playingChanged, &context, [&] {
        if (effect->isPlaying())
            return;
        // Ending by itself long before the clip could have been heard means
        // that nothing was (no device, a stream that failed).
        const bool longEnough = started.isValid() && started.elapsed() >= source.durationMs / 2;
        finish(longEnough ? Outcome::Ended : Outcome::Failed);
    });

    bound.start(int(source.durationMs + kOnceTailMs + kOnceMarginMs));
    effect->play();
    if (effect->status() == QSoundEffect::Ready)
        begin();
    else if (effect->status() == QSoundEffect::Error)
        finish(Outcome::Failed);
    if (outcome == Outcome::Waiting) {
        m_waits.append(&loop);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_waits.removeOne(&loop);
    }
    if (generation != m_generation)
        return true; // a newer request has taken over
    if (effect != nullptr && effect == m_current) {
        m_current = nullptr;
        retire(effect);
    }
    return outcome != Outcome::Failed;
}
