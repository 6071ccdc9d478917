// The sound module's file reader on any bytes: it either refuses them or
// gives frames within the limits it promises, and a loop's rewind reads the
// same first frames again.
#include "sound/engine/decoder.h"

#include <QBuffer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// More than any seed holds; a header that promises more is read this far.
constexpr qint64 kMaxFrames = 1 << 18;

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_wavdecode: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(reinterpret_cast<const char *>(data), qsizetype(size));
    buffer->open(QIODevice::ReadOnly);
    QString problem;
    const std::unique_ptr<sound::Decoder> decoder =
        sound::Decoder::open(std::move(buffer), &problem);
    if (!decoder) {
        if (problem.isEmpty())
            fail("refused without a reason");
        return 0;
    }
    const int channels = decoder->channels();
    if (channels < 1 || channels > sound::Decoder::kMaxChannels || decoder->sampleRate() < 1 ||
        decoder->sampleRate() > sound::Decoder::kMaxRate || decoder->frames() <= 0)
        fail("opened outside its limits");
    // Block sizes as the player asks for them, odd ones included.
    std::vector<float> block(size_t(97) * size_t(channels));
    std::vector<float> first;
    qint64 total = 0;
    while (total < kMaxFrames) {
        const qint64 got = decoder->read(block.data(), 97);
        if (got < 0 || got > 97)
            fail("read more than asked");
        if (got == 0)
            break;
        if (total == 0)
            first.assign(block.begin(), block.begin() + got * channels);
        total += got;
    }
    decoder->rewind();
    std::vector<float> again(first.size());
    const qint64 got = decoder->read(again.data(), qint64(first.size()) / channels);
    if (got * channels != qint64(first.size()))
        fail("a rewound file is shorter");
    return 0;
}
