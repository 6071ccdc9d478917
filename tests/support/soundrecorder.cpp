#include "support/soundrecorder.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

SoundRecorder::~SoundRecorder()
{
    stop();
}

QString SoundRecorder::unavailableReason()
{
    if (QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
        return QStringLiteral("parec is not installed");
    QProcess info;
    info.start(QStringLiteral("pactl"),
               {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")});
    if (!info.waitForFinished(5000) || info.exitCode() != 0)
        return QStringLiteral("no sound server answers (start scripts/sound-server.sh)");
    if (!info.readAllStandardOutput().contains("roustabell_null"))
        return QStringLiteral("the sound server has no roustabell_null sink");
    return {};
}

bool SoundRecorder::start(QString *error)
{
    m_process.setProgram(QStringLiteral("parec"));
    m_process.setArguments({QStringLiteral("-d"), QStringLiteral("roustabell_null.monitor"),
                            QStringLiteral("--format=s16le"),
                            QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--channels=1"),
                            QStringLiteral("--raw"), QStringLiteral("--latency-msec=10")});
    m_process.start();
    m_clock.start();
    if (!m_process.waitForStarted(5000)) {
        if (error)
            *error = m_process.errorString();
        return false;
    }
    // The first bytes tell that the stream runs.
    QElapsedTimer wait;
    wait.start();
    while (m_samples.isEmpty() && wait.elapsed() < 5000) {
        m_process.waitForReadyRead(100);
        drain();
    }
    if (m_samples.isEmpty() && error)
        *error = QStringLiteral("parec delivered nothing: ") +
                 QString::fromLocal8Bit(m_process.readAllStandardError());
    return !m_samples.isEmpty();
}

void SoundRecorder::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    drain();
    m_process.kill();
    m_process.waitForFinished(2000);
}

void SoundRecorder::drain()
{
    const QByteArray bytes = m_process.readAllStandardOutput();
    if (bytes.isEmpty())
        return;
    const qint64 arrived = m_clock.elapsed();
    m_pending += bytes;
    const qsizetype whole = m_pending.size() / 2;
    for (qsizetype i = 0; i < whole; ++i) {
        const auto lo = static_cast<unsigned char>(m_pending[2 * i]);
        const auto hi = static_cast<unsigned char>(m_pending[2 * i + 1]);
        m_samples.append(static_cast<qint16>(lo | (hi << 8)));
    }
    m_pending.remove(0, whole * 2);
    m_arrivals.append({m_samples.size(), arrived});
}

QList<SoundRecorder::Window> SoundRecorder::windows()
{
    QCoreApplication::processEvents();
    drain();
    QList<Window> result;
    const qsizetype perWindow = kRate * kWindowMs / 1000;
    qsizetype arrival = 0;
    for (qsizetype start = 0; start + perWindow <= m_samples.size(); start += perWindow) {
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
            sum += double(m_samples[i]) * m_samples[i];
            if (i > start && (m_samples[i - 1] < 0) != (m_samples[i] < 0))
                ++crossings;
        }
        const double rms = std::sqrt(sum / perWindow) / 32768.0;
        result.append(
            {endMs, rms > 0 ? 20 * std::log10(rms) : -120.0, crossings * 1000.0 / kWindowMs});
    }
    return result;
}

std::optional<qint64> SoundRecorder::firstSoundAfter(qint64 fromMs)
{
    for (const Window &window : windows()) {
        if (window.endMs >= fromMs && window.rmsDb > kSilenceDb)
            return window.endMs;
    }
    return std::nullopt;
}

std::optional<qint64> SoundRecorder::silentFrom(qint64 fromMs, qint64 toMs)
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

double SoundRecorder::peakDb(qint64 fromMs, qint64 toMs)
{
    double peak = -120.0;
    for (const Window &window : windows()) {
        if (window.endMs >= fromMs && window.endMs <= toMs)
            peak = std::max(peak, window.rmsDb);
    }
    return peak;
}

double SoundRecorder::soundingShare(qint64 fromMs, qint64 toMs)
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

double SoundRecorder::medianCrossings(qint64 fromMs, qint64 toMs)
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
