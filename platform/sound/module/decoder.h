#pragma once

#include <QString>

#include <memory>

#include <sndfile.h>

class QIODevice;

namespace sound {

struct SampleView;

// A sound file read a block at a time through libsndfile, as interleaved
// float frames, so that even a file of gigabytes costs only its block in
// memory. libsndfile reads every WAV layout a person is likely to have
// (integer PCM of 8 to 32 bits, float, WAVE_FORMAT_EXTENSIBLE, A-law, µ-law,
// chunks in any order); what it cannot read is refused at open, and so is
// any other file type or compression.
class Decoder
{
public:
    // The most channels a file may have; more than any sound server mixes.
    static constexpr int kMaxChannels = 32;
    static constexpr int kMaxRate = 384000;

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

    int channels() const { return m_info.channels; }
    int sampleRate() const { return m_info.samplerate; }
    qint64 frames() const { return m_info.frames; }
    qint64 durationMs() const { return frames() * 1000 / sampleRate(); }

    // Up to count frames into out (count * channels() floats); the number
    // read, 0 at the end or on a read error.
    qint64 read(float *out, qint64 count);
    // Back to the first frame.
    bool rewind();

private:
    explicit Decoder(std::unique_ptr<QIODevice> device);

    std::unique_ptr<QIODevice> m_device;
    std::unique_ptr<SampleView> m_view;
    SF_INFO m_info{};
    SNDFILE *m_file = nullptr;
};

} // namespace sound
