#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// What a WAV file's header says, read without trusting any size in it, and
// whether QSoundEffect can play it as it is: plain PCM (format tag 1), one or
// two channels, 8 or 16 bits, with sample data present. Everything else is
// unplayable there (WAVE_FORMAT_EXTENSIBLE and float give an error, 24 bits
// play garbled), so it must not be handed over.
namespace wav {

// Larger sample data is refused: QSoundEffect holds the whole file in memory.
inline constexpr qint64 kMaxDataBytes = 64ll * 1024 * 1024;

struct Info
{
    bool playable = false;
    // Why it is not playable; empty when it is.
    QString problem;
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;
    // Where the sample data starts, and how many whole frames of it the file
    // really holds (never more than the data chunk declares).
    qint64 dataOffset = 0;
    qint64 dataBytes = 0;
    // The one layout QSoundEffect is safe with: a 16-byte format chunk first,
    // the data chunk right after it, its declared size all present. Its reader
    // skips no pad byte after an odd chunk and waits for ever for a data
    // chunk longer than the file, and while it waits no other sound loads.
    bool plainLayout = false;

    qint64 frames() const { return blockAlign > 0 ? dataBytes / blockAlign : 0; }
    qint64 durationMs() const { return sampleRate > 0 ? frames() * 1000 / sampleRate : 0; }
};

// Reads the header from a readable, seekable device of known size.
Info inspect(QIODevice &device);
// Reads the header of a file; a path of the form ":/..." is a Qt resource.
Info inspectFile(const QString &path);

// The file's sample data in the plain layout (44-byte header), followed by
// silenceMs of silence. Empty when the file is not playable or cannot be read.
QByteArray plainCopy(const QString &path, int silenceMs);

} // namespace wav
