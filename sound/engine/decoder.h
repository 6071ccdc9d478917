#pragma once

#include <QString>

#include <memory>

class QIODevice;

namespace sound {

// A WAV file read a block at a time as interleaved float frames, so that even
// a file of gigabytes costs only its block in memory: integer PCM of 1 to 32
// bits, 32- and 64-bit float, A-law and µ-law, plain or in
// WAVE_FORMAT_EXTENSIBLE, the chunks in any order. Anything else (another
// file type, another compression, a damaged header) is refused at open.
class Decoder
{
public:
    // The most channels a file may have; more than any sound server mixes.
    static constexpr int kMaxChannels = 32;
    static constexpr int kMaxRate = 384000;

    enum class Encoding { Integer, Float, ALaw, MuLaw };
    struct Layout
    {
        Encoding encoding = Encoding::Integer;
        int channels = 0;
        int sampleRate = 0;
        int sampleBytes = 0;
        int frameBytes = 0;
    };

    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // Reads from a readable, seekable device; null, with the reason in
    // *problem, when it holds nothing that can be played.
    static std::unique_ptr<Decoder> open(std::unique_ptr<QIODevice> device,
                                         QString *problem = nullptr);
    // Only ordinary files, or a Qt resource (":/..."): a pipe or a device
    // could block for ever.
    static std::unique_ptr<Decoder> openFile(const QString &path, QString *problem = nullptr);

    int channels() const { return m_layout.channels; }
    int sampleRate() const { return m_layout.sampleRate; }
    qint64 frames() const { return m_frames; }
    qint64 durationMs() const { return frames() * 1000 / sampleRate(); }

    // Up to count frames into out (count * channels() floats); the number
    // read, 0 at the end or on a read error.
    qint64 read(float *out, qint64 count);
    // Back to the first frame.
    void rewind();

private:
    explicit Decoder(std::unique_ptr<QIODevice> device);
    float sample(const uchar *at) const;

    std::unique_ptr<QIODevice> m_device;
    Layout m_layout;
    qint64 m_dataFrom = 0;
    qint64 m_frames = 0;
    qint64 m_position = 0;
    QByteArray m_block;
};

} // namespace sound
