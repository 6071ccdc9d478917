#include "support/wavfile.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace {

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

} // namespace

bool writeToneWav(const QString &path, double frequencyHz, double seconds, int rate,
                  double amplitude)
{
    const int count = static_cast<int>(seconds * rate);
    const int fade = rate / 100;
    QByteArray data;
    data.reserve(count * 2);
    for (int i = 0; i < count; ++i) {
        double gain = amplitude;
        if (i < fade)
            gain *= double(i) / fade;
        else if (i > count - fade)
            gain *= double(count - i) / fade;
        const double value = gain * std::sin(2 * std::numbers::pi * frequencyHz * i / rate);
        put16(data, static_cast<quint16>(static_cast<qint16>(std::lround(value * 32767))));
    }
    QByteArray file("RIFF");
    put32(file, 36 + data.size());
    file.append("WAVEfmt ");
    put32(file, 16);
    put16(file, 1);
    put16(file, 1);
    put32(file, rate);
    put32(file, rate * 2);
    put16(file, 2);
    put16(file, 16);
    file.append("data");
    put32(file, data.size());
    file.append(data);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}
