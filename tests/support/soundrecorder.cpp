#include "support/soundrecorder.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cmath>

QString runTool(const QString &program, const QStringList &arguments, bool *ok)
{
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(5000);
    if (!done)
        process.kill();
    if (ok)
        *ok = done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

SoundRecorder::~SoundRecorder()
{
    stop();
}

QString SoundRecorder::unavailableReason()
{
    for (const char *tool : {"pactl", "parec", "pacmd"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (Debian package pulseaudio-utils)")
                .arg(QString::fromLatin1(tool));
    }
    bool ok = false;
    const QString sources = runTool(QStringLiteral("pactl"), {"list", "short", "sources"}, &ok);
    if (!ok)
        return QStringLiteral("no sound server reachable (PULSE_SERVER=%1); start one with "
                              "eval \"$(scripts/sound-server.sh start)\"")
            .arg(qEnvironmentVariable("PULSE_SERVER", QStringLiteral("unset")));
    if (!sources.contains(QLatin1String("roustabell_null.monitor")))
        return QStringLiteral("the sound server has no roustabell_null sink; use "
                              "scripts/sound-server.sh");
    const QString sink = runTool(QStringLiteral("pactl"), {"get-default-sink"}).trimmed();
    if (sink != QLatin1String("roustabell_null"))
        return QStringLiteral("the default sink is %1, not roustabell_null").arg(sink);
    return {};
}

bool SoundRecorder::start(QString *error)
{
    stop();
    {
        const QMutexLocker lock(&m_mutex);
        m_bytes.clear();
        m_arrivals.clear();
    }
    m_stopping = false;
    m_failed = false;
    m_clock.start();
    m_thread.reset(QThread::create([this] { capture(); }));
    m_thread->start();
    // The sink switches to short blocks only once the recording asks for
    // them, which can take a couple of seconds; then data flows evenly.
    QElapsedTimer waited;
    waited.start();
    while (mark() == 0 && !m_failed && waited.elapsed() < 8000)
        QTest::qWait(20);
    if (mark() == 0) {
        if (error)
            *error = m_failed ? QStringLiteral("parec did not start")
                              : QStringLiteral("the monitor gives no data");
        stop();
        return false;
    }
    QTest::qWait(700);
    return true;
}

void SoundRecorder::stop()
{
    if (!m_thread)
        return;
    m_stopping = true;
    m_thread->wait();
    m_thread.reset();
}

bool SoundRecorder::running() const
{
    return m_thread && m_thread->isRunning() && !m_failed;
}

qint64 SoundRecorder::mark() const
{
    const QMutexLocker lock(&m_mutex);
    return m_bytes.size() / 2;
}

QByteArray SoundRecorder::bytes() const
{
    const QMutexLocker lock(&m_mutex);
    return m_bytes;
}

void SoundRecorder::capture()
{
    QProcess process;
    process.start(QStringLiteral("parec"), {"-d", "roustabell_null.monitor", "--format=s16le",
                                            QStringLiteral("--rate=%1").arg(kRate), "--channels=1",
                                            "--raw", "--latency-msec=10"});
    if (!process.waitForStarted(5000)) {
        m_failed = true;
        return;
    }
    QByteArray pending;
    while (!m_stopping && process.state() == QProcess::Running) {
        process.waitForReadyRead(10);
        pending.append(process.readAllStandardOutput());
        const qint64 arrived = m_clock.elapsed();
        // Whole samples only, so that positions stay aligned.
        const qsizetype whole = pending.size() & ~qsizetype(1);
        if (whole > 0) {
            const QMutexLocker lock(&m_mutex);
            m_bytes.append(pending.left(whole));
            m_arrivals.append({m_bytes.size() / 2, arrived});
            pending.remove(0, whole);
        }
    }
    if (process.state() != QProcess::Running)
        m_failed = true;
    process.kill();
    process.waitForFinished(3000);
}

QList<SoundRecorder::Window> SoundRecorder::windows() const
{
    const QMutexLocker lock(&m_mutex);
    const auto sample = [this](qsizetype i) {
        return qFromLittleEndian<qint16>(m_bytes.constData() + 2 * i);
    };
    QList<Window> result;
    const qsizetype count = m_bytes.size() / 2;
    const qsizetype perWindow = kRate * kWindowMs / 1000;
    qsizetype arrival = 0;
    for (qsizetype start = 0; start + perWindow <= count; start += perWindow) {
        const qsizetype end = start + perWindow;
        while (arrival < m_arrivals.size() && m_arrivals[arrival].first < end)
            ++arrival;
        if (arrival >= m_arrivals.size())
            break;
        // The chunk holding the window's last sample arrived then; the
        // samples after it in that chunk were played later.
        const auto [chunkEnd, arrivedMs] = m_arrivals[arrival];
        const qint64 endMs = arrivedMs - (chunkEnd - end) * 1000 / kRate;
        double sum = 0;
        int crossings = 0;
        for (qsizetype i = start; i < end; ++i) {
            sum += double(sample(i)) * sample(i);
            if (i > start && (sample(i - 1) < 0) != (sample(i) < 0))
                ++crossings;
        }
        const double rms = std::sqrt(sum / perWindow) / 32768.0;
        result.append(
            {endMs, rms > 0 ? 20 * std::log10(rms) : -120.0, crossings * 1000.0 / kWindowMs});
    }
    return result;
}

// Both waits judge how long a state has held by the windows recorded, not by
// the clock: the recording lags behind what is played.
std::optional<qint64> SoundRecorder::waitForSound(qint64 fromMs, qint64 forMs, int timeoutMs) const
{
    return waitFor(fromMs, forMs, timeoutMs, false);
}

std::optional<qint64> SoundRecorder::waitForSilence(qint64 fromMs, qint64 forMs,
                                                    int timeoutMs) const
{
    return waitFor(fromMs, forMs, timeoutMs, true);
}

std::optional<qint64> SoundRecorder::waitFor(qint64 fromMs, qint64 forMs, int timeoutMs,
                                             bool silence) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        std::optional<qint64> since;
        for (const Window &window : windows()) {
            if (window.endMs < fromMs)
                continue;
            const bool loud = window.rmsDb > kSilenceDb;
            if (silence && loud)
                since.reset();
            else if (!since && loud != silence)
                since = window.endMs;
            if (since && window.endMs - *since >= forMs)
                return since;
        }
        if (deadline.hasExpired())
            return std::nullopt;
        QTest::qWait(kWindowMs);
    }
}

std::optional<qint64> SoundRecorder::firstSoundAfter(qint64 fromMs) const
{
    for (const Window &window : windows()) {
        if (window.endMs >= fromMs && window.rmsDb > kSilenceDb)
            return window.endMs;
    }
    return std::nullopt;
}

std::optional<qint64> SoundRecorder::silentFrom(qint64 fromMs, qint64 toMs) const
{
    std::optional<qint64> silentSince;
    for (const Window &window : windows()) {
        if (window.endMs < fromMs || window.endMs > toMs)
            continue;
        if (window.rmsDb > kSilenceDb)
            silentSince.reset();
        else if (!silentSince)
            silentSince = window.endMs;
    }
    return silentSince;
}

double SoundRecorder::peakDb(qint64 fromMs, qint64 toMs) const
{
    double peak = -120.0;
    for (const Window &window : windows()) {
        if (window.endMs >= fromMs && window.endMs <= toMs)
            peak = std::max(peak, window.rmsDb);
    }
    return peak;
}

double SoundRecorder::soundingShare(qint64 fromMs, qint64 toMs) const
{
    int all = 0;
    int loud = 0;
    for (const Window &window : windows()) {
        if (window.endMs < fromMs || window.endMs > toMs)
            continue;
        ++all;
        if (window.rmsDb > kSilenceDb)
            ++loud;
    }
    return all ? double(loud) / all : 0.0;
}

double SoundRecorder::medianCrossings(qint64 fromMs, qint64 toMs) const
{
    QList<double> values;
    for (const Window &window : windows()) {
        if (window.endMs >= fromMs && window.endMs <= toMs && window.rmsDb > kSilenceDb)
            values.append(window.crossingsPerSecond);
    }
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}
