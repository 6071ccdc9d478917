#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// WAV files made by the tests, from RIFF pieces: plain ones to play and odd or
// hostile layouts for the header reader.

void put16(QByteArray &out, quint32 value);
void put32(QByteArray &out, quint32 value);

// A chunk; declared overrides the size written in its header, and an odd body
// is padded unless pad is false.
QByteArray chunk(const char *id, const QByteArray &body, qint64 declared = -1, bool pad = true);
QByteArray fmtBody(int tag, int channels, quint32 rate, int bits, int blockAlign = -1);
// WAVE_FORMAT_EXTENSIBLE around plain PCM.
QByteArray extensibleBody(int channels, quint32 rate, int bits);
QByteArray riff(const QList<QByteArray> &chunks, qint64 declared = -1);

// A sine with a whole number of cycles, so that it loops without a click.
// bits 8, 16 or 24 give integer PCM, 32 gives float.
QByteArray toneData(double frequency, double seconds, int rate, int channels, int bits,
                    double amplitude = 0.5);
QByteArray toneWav(double frequency, double seconds, int rate = 22050, int channels = 1,
                   int bits = 16, double amplitude = 0.5);

// How a file's samples are stored, for every layout a person may have.
enum class Encoding { Pcm, Float, ALaw, MuLaw };
struct Layout
{
    Encoding encoding = Encoding::Pcm;
    // 8, 16, 24 or 32 for Pcm; 32 or 64 for Float; 8 for the two G.711 laws.
    int bits = 16;
    int channels = 1;
    int rate = 22050;
    // WAVE_FORMAT_EXTENSIBLE around the format.
    bool extensible = false;
};
// The same sine on every channel, stored as layout says.
QByteArray layoutData(const Layout &layout, double frequency, double seconds,
                      double amplitude = 0.5);
// A file as an editor writes it: a LIST chunk of odd size before the format,
// a fact chunk where the format is not PCM, the data last.
QByteArray layoutWav(const Layout &layout, double frequency, double seconds,
                     double amplitude = 0.5);

// A plain 16-bit mono PCM tone written to path.
bool writeToneWav(const QString &path, double frequencyHz, double seconds, int rate = 22050,
                  double amplitude = 0.5);
