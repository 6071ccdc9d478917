#include "sound/engine/decoder.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sound {
namespace {

// The chunks are walked here, in any order, with a bound on their number, so
// that no damaged file can hold the alarm; the samples are converted here
// too, since WAV needs no codec: its samples are integers, floats or A-law
// and mu-law bytes, and a general sound library can loop for ever on a
// damaged file (the hang-* seeds of the fuzzer's corpus).
constexpr int kMaxChunks = 4096;
constexpr qint64 kMaxFormatSize = 4096;
// Bytes converted at a time by read(); at least one frame, however padded.
constexpr qint64 kBlockBytes = 64 * 1024;

bool readHead(QIODevice &device, qint64 pos, char id[4], qint64 *size)
{
    char bytes[8];
    if (!device.seek(pos) || device.read(bytes, 8) != 8)
        return false;
    std::memcpy(id, bytes, 4);
    *size = qFromLittleEndian<quint32>(bytes + 4);
    return true;
}

float fromALaw(quint8 byte)
{
    byte ^= 0x55;
    int value = (byte & 0x0F) << 4;
    const int segment = (byte & 0x70) >> 4;
    value += segment == 0 ? 8 : 0x108;
    if (segment > 1)
        value <<= segment - 1;
    return float((byte & 0x80) ? value : -value) / 32768.0f;
}

float fromMuLaw(quint8 byte)
{
    byte = ~byte;
    int value = (((byte & 0x0F) << 3) + 0x84) << ((byte & 0x70) >> 4);
    value -= 0x84;
    return float((byte & 0x80) ? -value : value) / 32768.0f;
}

// Integer PCM, float, A-law and µ-law, plain or in WAVE_FORMAT_EXTENSIBLE;
// other compressions are refused.
QString parseFormat(const QByteArray &fmt, Decoder::Layout *layout)
{
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(fmt.constData() + at); };
    quint16 tag = u16(0);
    if (tag == 0xFFFE) {
        if (fmt.size() < 40)
            return QStringLiteral("a damaged format chunk");
        tag = u16(24);
    }
    layout->channels = u16(2);
    layout->sampleRate = int(qFromLittleEndian<quint32>(fmt.constData() + 4));
    layout->frameBytes = u16(12);
    const int bits = u16(14);
    layout->sampleBytes = (bits + 7) / 8;
    using Encoding = Decoder::Encoding;
    switch (tag) {
    case 1:
        layout->encoding = Encoding::Integer;
        if (bits < 1 || bits > 32)
            return QStringLiteral("%1-bit samples").arg(bits);
        break;
    case 3:
        layout->encoding = Encoding::Float;
        if (bits != 32 && bits != 64)
            return QStringLiteral("%1-bit float samples").arg(bits);
        break;
    case 6:
    case 7:
        layout->encoding = tag == 6 ? Encoding::ALaw : Encoding::MuLaw;
        layout->sampleBytes = 1;
        break;
    default:
        return QStringLiteral("a compression that cannot be played");
    }
    if (layout->channels < 1 || layout->channels > Decoder::kMaxChannels)
        return QStringLiteral("%1 channels").arg(layout->channels);
    if (layout->sampleRate < 1 || layout->sampleRate > Decoder::kMaxRate)
        return QStringLiteral("sample rate %1").arg(layout->sampleRate);
    // A frame may be padded beyond its samples, never shorter than them.
    const int least = layout->channels * layout->sampleBytes;
    if (layout->frameBytes < least)
        layout->frameBytes = least;
    return {};
}

// The format chunk's body and where the sample data lies, or the reason not.
QString walk(QIODevice &device, QByteArray *fmt, qint64 *dataFrom, qint64 *dataSize)
{
    char riff[12];
    if (!device.seek(0) || device.read(riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return QStringLiteral("not a WAV file");
    const qint64 fileSize = device.size();
    *dataFrom = -1;
    qint64 pos = 12;
    char id[4];
    qint64 size = 0;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= fileSize; ++chunk) {
        if (!readHead(device, pos, id, &size))
            break;
        const qint64 body = pos + 8;
        if (std::memcmp(id, "data", 4) == 0 && *dataFrom < 0) {
            *dataFrom = body;
            // A cut file plays what it holds.
            *dataSize = std::min(size, fileSize - body);
        } else if (std::memcmp(id, "fmt ", 4) == 0 && fmt->isEmpty()) {
            if (size < 16 || size > kMaxFormatSize || body + size > fileSize)
                return QStringLiteral("a damaged format chunk");
            device.seek(body);
            *fmt = device.read(size);
            if (fmt->size() != size)
                return QStringLiteral("a damaged format chunk");
        }
        if (*dataFrom >= 0 && !fmt->isEmpty())
            break;
        pos = body + size + (size & 1);
    }
    if (fmt->isEmpty())
        return QStringLiteral("no format chunk");
    if (*dataFrom < 0 || *dataSize <= 0)
        return QStringLiteral("no sample data");
    return {};
}

void tell(QString *problem, const QString &why)
{
    if (problem != nullptr)
        *problem = why;
}

} // namespace

Decoder::Decoder(std::unique_ptr<QIODevice> device) : m_device(std::move(device)) {}

Decoder::~Decoder() = default;

std::unique_ptr<Decoder> Decoder::open(std::unique_ptr<QIODevice> device, QString *problem)
{
    if (!device || !device->isOpen() || !device->isReadable() || device->isSequential()) {
        tell(problem, QStringLiteral("not a readable file"));
        return nullptr;
    }
    std::unique_ptr<Decoder> decoder(new Decoder(std::move(device)));
    QByteArray fmt;
    qint64 dataSize = 0;
    QString why = walk(*decoder->m_device, &fmt, &decoder->m_dataFrom, &dataSize);
    if (why.isEmpty())
        why = parseFormat(fmt, &decoder->m_layout);
    if (why.isEmpty()) {
        decoder->m_frames = dataSize / decoder->m_layout.frameBytes;
        if (decoder->m_frames <= 0)
            why = QStringLiteral("no sample data");
    }
    if (!why.isEmpty()) {
        tell(problem, why);
        return nullptr;
    }
    return decoder;
}

std::unique_ptr<Decoder> Decoder::openFile(const QString &path, QString *problem)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        tell(problem, QStringLiteral("no such file"));
        return nullptr;
    }
    if (!info.isFile()) {
        tell(problem, QStringLiteral("not an ordinary file"));
        return nullptr;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        tell(problem, QStringLiteral("cannot be opened"));
        return nullptr;
    }
    return open(std::move(file), problem);
}

qint64 Decoder::read(float *out, qint64 count)
{
    const Layout &l = m_layout;
    qint64 done = 0;
    while (done < count && m_position < m_frames) {
        const qint64 frames = std::min(
            {count - done, m_frames - m_position, std::max<qint64>(1, kBlockBytes / l.frameBytes)});
        m_block.resize(frames * l.frameBytes);
        if (!m_device->seek(m_dataFrom + m_position * l.frameBytes))
            break;
        const qint64 got = m_device->read(m_block.data(), m_block.size()) / l.frameBytes;
        for (qint64 f = 0; f < got; ++f) {
            const auto *frame =
                reinterpret_cast<const uchar *>(m_block.constData()) + f * l.frameBytes;
            for (int c = 0; c < l.channels; ++c)
                *out++ = sample(frame + c * l.sampleBytes);
        }
        m_position += got;
        done += got;
        if (got < frames)
            break;
    }
    return done;
}

float Decoder::sample(const uchar *at) const
{
    switch (m_layout.encoding) {
    case Encoding::Integer: {
        if (m_layout.sampleBytes == 1)
            return float(int(at[0]) - 128) / 128.0f;
        // Left-justified in its bytes: the top byte carries the sign.
        quint32 value = 0;
        for (int b = 0; b < m_layout.sampleBytes; ++b)
            value |= quint32(at[b]) << (8 * (4 - m_layout.sampleBytes + b));
        return float(double(qint32(value)) / 2147483648.0);
    }
    case Encoding::Float: {
        double value = m_layout.sampleBytes == 4 ? double(qFromLittleEndian<float>(at))
                                                 : qFromLittleEndian<double>(at);
        // What the sound server would play as noise, or not at all.
        if (std::isnan(value))
            value = 0;
        return float(std::clamp(value, -1.0, 1.0));
    }
    case Encoding::ALaw:
        return fromALaw(at[0]);
    case Encoding::MuLaw:
        return fromMuLaw(at[0]);
    }
    return 0;
}

void Decoder::rewind()
{
    m_position = 0;
}

} // namespace sound
