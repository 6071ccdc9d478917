#include "support/wavfile.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

void put16(QByteArray &out, quint32 value)
{
    char bytes[2];
    qToLittleEndian(quint16(value), bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

QByteArray chunk(const char *id, const QByteArray &body, qint64 declared, bool pad)
{
    QByteArray out(id, 4);
    put32(out, quint32(declared < 0 ? body.size() : declared));
    out.append(body);
    if (pad && body.size() % 2 == 1)
        out.append('\0');
    return out;
}

QByteArray fmtBody(int tag, int channels, quint32 rate, int bits, int blockAlign)
{
    if (blockAlign < 0)
        blockAlign = channels * bits / 8;
    QByteArray body;
    put16(body, tag);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * quint32(blockAlign));
    put16(body, blockAlign);
    put16(body, bits);
    return body;
}

QByteArray extensibleBody(int channels, quint32 rate, int bits)
{
    QByteArray body = fmtBody(0xFFFE, channels, rate, bits);
    put16(body, 22);
    put16(body, bits);
    put32(body, channels == 1 ? 0x4 : 0x3);
    const char pcmGuid[] = "\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    body.append(pcmGuid, 16);
    return body;
}

QByteArray riff(const QList<QByteArray> &chunks, qint64 declared)
{
    QByteArray body("WAVE");
    for (const QByteArray &c : chunks)
        body.append(c);
    QByteArray out("RIFF");
    put32(out, quint32(declared < 0 ? body.size() : declared));
    out.append(body);
    return out;
}

QByteArray toneData(double frequency, double seconds, int rate, int channels, int bits,
                    double amplitude)
{
    const int frames = int(std::lround(seconds * rate));
    const double cycles = std::max(1.0, std::round(frequency * frames / rate));
    QByteArray out;
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * cycles * i / frames);
        for (int c = 0; c < channels; ++c) {
            if (bits == 8) {
                out.append(char(quint8(std::lround(128 + v * 127))));
            } else if (bits == 16) {
                put16(out, quint16(qint16(std::lround(v * 32767))));
            } else if (bits == 24) {
                const qint32 s = qint32(std::lround(v * 8388607));
                out.append(char(s & 0xFF));
                out.append(char((s >> 8) & 0xFF));
                out.append(char((s >> 16) & 0xFF));
            } else {
                const float f = float(v);
                quint32 raw;
                std::memcpy(&raw, &f, 4);
                put32(out, raw);
            }
        }
    }
    return out;
}

QByteArray toneWav(double frequency, double seconds, int rate, int channels, int bits,
                   double amplitude)
{
    const int tag = bits == 32 ? 3 : 1;
    return riff({chunk("fmt ", fmtBody(tag, channels, quint32(rate), bits)),
                 chunk("data", toneData(frequency, seconds, rate, channels, bits, amplitude))});
}

bool writeToneWav(const QString &path, double frequencyHz, double seconds, int rate,
                  double amplitude)
{
    const QByteArray bytes = toneWav(frequencyHz, seconds, rate, 1, 16, amplitude);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}
