#include "platform/sound/module/wavinfo.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace wav {

namespace {

constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatFloat = 3;
constexpr int kWaveFormatExtensible = 0xFFFE;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 192000;
// A header walk stops here; real files have a handful of chunks.
constexpr int kMaxChunks = 512;

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

bool readAt(QIODevice &device, qint64 offset, char *out, qint64 count)
{
    return device.seek(offset) && device.read(out, count) == count;
}

Info refuse(Info info, const QString &why)
{
    info.playable = false;
    info.problem = why;
    return info;
}

QString formatProblem(const Info &info)
{
    if (info.formatTag == kWaveFormatExtensible)
        return QStringLiteral("WAVE_FORMAT_EXTENSIBLE, not plain PCM");
    if (info.formatTag == kWaveFormatFloat)
        return QStringLiteral("floating-point samples, not plain PCM");
    if (info.formatTag != kWaveFormatPcm)
        return QStringLiteral("format tag %1, not plain PCM").arg(info.formatTag);
    if (info.channels < 1 || info.channels > 2)
        return QStringLiteral("%1 channels").arg(info.channels);
    if (info.bitsPerSample != 8 && info.bitsPerSample != 16)
        return QStringLiteral("%1 bits per sample").arg(info.bitsPerSample);
    if (info.sampleRate < kMinRate || info.sampleRate > kMaxRate)
        return QStringLiteral("sample rate %1").arg(info.sampleRate);
    if (info.blockAlign != info.channels * info.bitsPerSample / 8)
        return QStringLiteral("block size %1 does not fit the format").arg(info.blockAlign);
    return {};
}

} // namespace

Info inspect(QIODevice &device)
{
    Info info;
    if (!device.isOpen() || !device.isReadable() || device.isSequential())
        return refuse(info, QStringLiteral("not a readable file"));
    const qint64 size = device.size();

    char riff[12];
    if (size < 12 || !readAt(device, 0, riff, 12))
        return refuse(info, QStringLiteral("too short for a RIFF header"));
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return refuse(info, QStringLiteral("not a RIFF/WAVE file"));

    // The RIFF size is ignored: only what the file really holds counts.
    bool haveFormat = false;
    bool haveData = false;
    qint64 formatAt = 0;
    qint64 formatChunkSize = 0;
    qint64 pos = 12;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= size; ++chunk) {
        char head[8];
        if (!readAt(device, pos, head, 8))
            return refuse(info, QStringLiteral("unreadable chunk header"));
        const qint64 declared = u32(head + 4);
        const qint64 body = pos + 8;
        const qint64 present = std::min(declared, size - body);

        if (std::memcmp(head, "fmt ", 4) == 0 && !haveFormat) {
            char fmt[16];
            if (present < 16 || !readAt(device, body, fmt, 16))
                return refuse(info, QStringLiteral("format chunk too short"));
            info.formatTag = u16(fmt);
            info.channels = u16(fmt + 2);
            const quint32 rate = u32(fmt + 4);
            info.sampleRate = rate > quint32(kMaxRate) ? kMaxRate + 1 : int(rate);
            info.blockAlign = u16(fmt + 12);
            info.bitsPerSample = u16(fmt + 14);
            formatAt = pos;
            formatChunkSize = declared;
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            // QSoundEffect's reader takes the format before the samples.
            if (!haveFormat)
                return refuse(info, QStringLiteral("sample data before the format"));
            info.dataOffset = body;
            info.dataBytes = present;
            info.plainLayout =
                pos == 36 && declared == present && formatChunkSize == 16 && formatAt == 12;
            haveData = true;
            break;
        }
        // Chunks are padded to an even length.
        pos = body + declared + (declared & 1);
    }

    if (!haveFormat)
        return refuse(info, QStringLiteral("no format chunk"));
    if (const QString problem = formatProblem(info); !problem.isEmpty())
        return refuse(info, problem);
    if (!haveData)
        return refuse(info, QStringLiteral("no data chunk"));
    if (info.dataBytes % info.blockAlign != 0) {
        info.dataBytes -= info.dataBytes % info.blockAlign;
        info.plainLayout = false;
    }
    if (info.dataBytes <= 0)
        return refuse(info, QStringLiteral("no sample data"));
    if (info.dataBytes > kMaxDataBytes)
        return refuse(info, QStringLiteral("sample data too large"));
    info.playable = true;
    return info;
}

Info inspectFile(const QString &path)
{
    // Only ordinary files: opening a pipe or a device could block for ever.
    const QFileInfo fileInfo(path);
    if (path.isEmpty() || !fileInfo.exists())
        return refuse({}, QStringLiteral("no such file"));
    if (!fileInfo.isFile())
        return refuse({}, QStringLiteral("not an ordinary file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse({}, QStringLiteral("cannot be opened"));
    return inspect(file);
}

QByteArray plainCopy(const QString &path, int silenceMs)
{
    const Info info = inspectFile(path);
    if (!info.playable)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(info.dataOffset))
        return {};
    QByteArray samples = file.read(info.dataBytes);
    samples.chop(samples.size() % info.blockAlign);
    if (samples.isEmpty())
        return {};
    const qint64 silenceFrames = qint64(info.sampleRate) * std::max(silenceMs, 0) / 1000;
    const char silence = info.bitsPerSample == 8 ? char(0x80) : char(0);
    samples.append(silenceFrames * info.blockAlign, silence);

    QByteArray out;
    out.reserve(44 + samples.size());
    char field[4];
    const auto put32 = [&](quint32 value) {
        qToLittleEndian(value, field);
        out.append(field, 4);
    };
    const auto put16 = [&](quint16 value) {
        qToLittleEndian(value, field);
        out.append(field, 2);
    };
    out.append("RIFF", 4);
    put32(quint32(36 + samples.size()));
    out.append("WAVEfmt ", 8);
    put32(16);
    put16(kWaveFormatPcm);
    put16(quint16(info.channels));
    put32(quint32(info.sampleRate));
    put32(quint32(info.sampleRate * info.blockAlign));
    put16(quint16(info.blockAlign));
    put16(quint16(info.bitsPerSample));
    out.append("data", 4);
    put32(quint32(samples.size()));
    out.append(samples);
    return out;
}

} // namespace wav
