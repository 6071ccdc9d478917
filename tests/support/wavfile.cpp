#include "support/wavfile.h"

#include "support/files.h"

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
    return writeBytes(path, toneWav(frequencyHz, seconds, rate, 1, 16, amplitude));
}

namespace {

int segment(int value, const int (&ends)[8])
{
    for (int i = 0; i < 8; ++i) {
        if (value <= ends[i])
            return i;
    }
    return 8;
}

// G.711, from a 16-bit sample, as the reference coder does it.
quint8 aLaw(int pcm)
{
    static const int ends[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    pcm >>= 3;
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    const int seg = segment(pcm, ends);
    if (seg >= 8)
        return quint8(0x7F ^ mask);
    const int value = (seg << 4) | ((seg < 2 ? pcm >> 1 : pcm >> seg) & 0xF);
    return quint8(value ^ mask);
}

quint8 muLaw(int pcm)
{
    static const int ends[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    pcm >>= 2;
    int mask = 0xFF;
    if (pcm < 0) {
        pcm = -pcm;
        mask = 0x7F;
    }
    pcm = std::min(pcm, 8159) + (0x84 >> 2);
    const int seg = segment(pcm, ends);
    if (seg >= 8)
        return quint8(0x7F ^ mask);
    return quint8(((seg << 4) | ((pcm >> (seg + 1)) & 0xF)) ^ mask);
}

void putSample(QByteArray &out, const Layout &layout, double v)
{
    const int pcm16 = int(std::lround(v * 32767));
    switch (layout.encoding) {
    case Encoding::ALaw:
        out.append(char(aLaw(pcm16)));
        return;
    case Encoding::MuLaw:
        out.append(char(muLaw(pcm16)));
        return;
    case Encoding::Float:
        if (layout.bits == 64) {
            quint64 raw;
            std::memcpy(&raw, &v, 8);
            put32(out, quint32(raw));
            put32(out, quint32(raw >> 32));
        } else {
            const float f = float(v);
            quint32 raw;
            std::memcpy(&raw, &f, 4);
            put32(out, raw);
        }
        return;
    case Encoding::Pcm:
        break;
    }
    if (layout.bits == 8) {
        out.append(char(quint8(std::lround(128 + v * 127))));
        return;
    }
    const int shift = 32 - layout.bits;
    const qint32 full = qint32(std::lround(v * 2147483647.0));
    const quint32 s = quint32(full) >> shift;
    for (int b = 0; b < layout.bits / 8; ++b)
        out.append(char((s >> (8 * b)) & 0xFF));
}

int formatTag(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Pcm:
        return 1;
    case Encoding::Float:
        return 3;
    case Encoding::ALaw:
        return 6;
    case Encoding::MuLaw:
        return 7;
    }
    return 1;
}

} // namespace

QByteArray layoutData(const Layout &layout, double frequency, double seconds, double amplitude)
{
    const int frames = int(std::lround(seconds * layout.rate));
    const double cycles = std::max(1.0, std::round(frequency * frames / layout.rate));
    QByteArray out;
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * cycles * i / frames);
        for (int c = 0; c < layout.channels; ++c)
            putSample(out, layout, v);
    }
    return out;
}

QByteArray layoutWav(const Layout &layout, double frequency, double seconds, double amplitude)
{
    const int tag = formatTag(layout.encoding);
    const int blockAlign = layout.channels * layout.bits / 8;
    QByteArray format = fmtBody(layout.extensible ? 0xFFFE : tag, layout.channels,
                                quint32(layout.rate), layout.bits);
    if (layout.extensible) {
        put16(format, 22);
        put16(format, layout.bits);
        put32(format, 0);
        // The sub-format GUID is the plain tag followed by a fixed tail.
        put32(format, quint32(tag));
        format.append("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    } else if (tag != 1) {
        put16(format, 0);
    }
    const QByteArray data = layoutData(layout, frequency, seconds, amplitude);
    QList<QByteArray> chunks{chunk("LIST", QByteArray("INFOISFT\x05\0\0\0test\0", 17)),
                             chunk("fmt ", format)};
    if (tag != 1 || layout.extensible) {
        QByteArray frames;
        put32(frames, quint32(data.size() / blockAlign));
        chunks.append(chunk("fact", frames));
    }
    chunks.append(chunk("data", data));
    return riff(chunks);
}
