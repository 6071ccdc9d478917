// The sound module's file reader on WAV files of every layout, made here:
// what it decodes is judged by the samples (pitch, level, length), and what
// it cannot play is refused rather than played as noise.
#include "sound/engine/decoder.h"
#include "sound/engine/pulsesoundservice.h"
#include "support/wavfile.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<sound::Decoder> fromBytes(const QByteArray &bytes, QString *problem = nullptr)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    return sound::Decoder::open(std::move(buffer), problem);
}

struct Decoded
{
    QList<float> first; // channel 0
    bool channelsAgree = true;
    qint64 frames = 0;
};

// Reads to the end in small blocks, as the player does.
Decoded readAll(sound::Decoder &decoder)
{
    Decoded out;
    const int channels = decoder.channels();
    QList<float> block(257 * channels);
    while (const qint64 got = decoder.read(block.data(), 257)) {
        for (qint64 i = 0; i < got; ++i) {
            out.first.append(block[i * channels]);
            for (int c = 1; c < channels; ++c)
                out.channelsAgree =
                    out.channelsAgree && block[i * channels + c] == block[i * channels];
        }
        out.frames += got;
    }
    return out;
}

double frequencyOf(const QList<float> &samples, int rate)
{
    int rising = 0;
    for (qsizetype i = 1; i < samples.size(); ++i)
        rising += (samples[i - 1] < 0 && samples[i] >= 0) ? 1 : 0;
    return samples.isEmpty() ? 0 : rising * double(rate) / double(samples.size());
}

float peakOf(const QList<float> &samples)
{
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::abs(s));
    return peak;
}

} // namespace

class tst_WavDecode : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void layoutPlaysAsItself_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("extensible");
        QTest::addColumn<double>("frequency");
        const auto row = [](const char *name, Encoding e, int bits, int channels, int rate,
                            bool extensible, double frequency) {
            QTest::newRow(name) << int(e) << bits << channels << rate << extensible << frequency;
        };
        row("8-bit PCM mono 11025", Encoding::Pcm, 8, 1, 11025, false, 450);
        row("16-bit PCM stereo 44100", Encoding::Pcm, 16, 2, 44100, false, 880);
        row("24-bit PCM mono 48000", Encoding::Pcm, 24, 1, 48000, false, 440);
        row("32-bit PCM stereo 96000", Encoding::Pcm, 32, 2, 96000, false, 1200);
        row("32-bit float mono 22050", Encoding::Float, 32, 1, 22050, false, 660);
        row("64-bit float stereo 32000", Encoding::Float, 64, 2, 32000, false, 520);
        row("extensible 16-bit 6 channels", Encoding::Pcm, 16, 6, 48000, true, 700);
        row("extensible 24-bit stereo", Encoding::Pcm, 24, 2, 44100, true, 990);
        row("extensible float 8 channels", Encoding::Float, 32, 8, 16000, true, 300);
        row("A-law mono 8000", Encoding::ALaw, 8, 1, 8000, false, 400);
        row("mu-law stereo 8000", Encoding::MuLaw, 8, 2, 8000, false, 600);
        row("16-bit PCM 7 channels 192000", Encoding::Pcm, 16, 7, 192000, false, 2000);
    }

    void layoutPlaysAsItself()
    {
        QFETCH(int, encoding);
        QFETCH(int, bits);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(bool, extensible);
        QFETCH(double, frequency);
        const Layout layout{Encoding(encoding), bits, channels, rate, extensible};
        QString problem;
        const std::unique_ptr<sound::Decoder> decoder =
            fromBytes(layoutWav(layout, frequency, 0.5), &problem);
        QVERIFY2(decoder, qPrintable(problem));
        QCOMPARE(decoder->channels(), channels);
        QCOMPARE(decoder->sampleRate(), rate);
        QCOMPARE(decoder->frames(), qint64(std::lround(rate * 0.5)));
        QCOMPARE(decoder->durationMs(), qint64(500));
        const Decoded heard = readAll(*decoder);
        QCOMPARE(heard.frames, qint64(std::lround(rate * 0.5)));
        QVERIFY(heard.channelsAgree);
        QVERIFY2(std::abs(frequencyOf(heard.first, rate) - frequency) < frequency * 0.02,
                 qPrintable(QString::number(frequencyOf(heard.first, rate))));
        // The level written, within what the companding laws lose.
        QVERIFY2(std::abs(peakOf(heard.first) - 0.5f) < 0.02f,
                 qPrintable(QString::number(peakOf(heard.first))));
    }

    void oddLayoutsAreRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("frames");
        const QByteArray fmt16 = chunk("fmt ", fmtBody(1, 1, 8000, 16));
        const QByteArray tone = toneData(500, 0.25, 8000, 1, 16);
        QTest::newRow("odd chunk before the format")
            << riff({chunk("LIST", "odd"), fmt16, chunk("data", tone)}) << qint64(2000);
        QTest::newRow("chunks between format and data")
            << riff({fmt16, chunk("cue ", QByteArray(28, '\0')), chunk("JUNK", QByteArray(5, 'j')),
                     chunk("data", tone)})
            << qint64(2000);
        QTest::newRow("data size beyond the file")
            << riff({fmt16, chunk("data", tone, 0x7FFFFFF0)}) << qint64(2000);
        QTest::newRow("RIFF size wrong") << riff({fmt16, chunk("data", tone)}, 4) << qint64(2000);
        QTest::newRow("file cut in the data")
            << riff({fmt16, chunk("data", tone)}).chopped(1000) << qint64(1500);
        // libsndfile 1.2.0, once the reader here, looped on this one for ever.
        QTest::newRow("LIST whose inner chunk runs past it")
            << riff({chunk("LIST", QByteArray("INFOI\xFF\xFF\xFF", 8) + QByteArray(9, 'x')), fmt16,
                     chunk("data", tone)})
            << qint64(2000);
        QTest::newRow("format after the data")
            << riff({chunk("data", tone), chunk("LIST", "between"), fmt16}) << qint64(2000);
        QTest::newRow("chunk after the data")
            << riff({fmt16, chunk("data", tone), chunk("LIST", "after")}) << qint64(2000);
        // Taken as it stands, a block align of 0 would divide by zero.
        QTest::newRow("block align 0")
            << riff({chunk("fmt ", fmtBody(1, 1, 8000, 16, 0)), chunk("data", tone)})
            << qint64(2000);
    }

    void oddLayoutsAreRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, frames);
        QString problem;
        const std::unique_ptr<sound::Decoder> decoder = fromBytes(bytes, &problem);
        QVERIFY2(decoder, qPrintable(problem));
        const Decoded heard = readAll(*decoder);
        QCOMPARE(heard.frames, frames);
        QVERIFY(std::abs(frequencyOf(heard.first, 8000) - 500) < 10);
    }

    // Found by the fuzzer: samples that start like a list of chunks sent
    // libsndfile 1.2.0 round for ever. They play, as the samples they are.
    void samplesLikeChunksArePlayed()
    {
        const QByteArray bytes = QByteArray::fromBase64(
            "UklGRn8AAABXQVZFZm10IBAAAAABAAIARKwAABCxAgAEABAAZGF0YVsAAABJTkZPSQAAAElO////////"
            "////////////////////////////////////////////////9///////BQB+fn5+fgAQAACAmK3AAHRl"
            "Rk8AAAAAAAB+UtHR0Rh+");
        const std::unique_ptr<sound::Decoder> decoder = fromBytes(bytes);
        QVERIFY(decoder);
        QCOMPARE(decoder->frames(), qint64(22));
        float first[2] = {};
        QCOMPARE(decoder->read(first, 1), qint64(1));
        QCOMPARE(first[0], float(0x4E49) / 32768); // "IN"
        QCOMPARE(first[1], float(0x4F46) / 32768); // "FO"
    }

    void unplayableIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray fmt16 = chunk("fmt ", fmtBody(1, 1, 8000, 16));
        const QByteArray tone = toneData(500, 0.25, 8000, 1, 16);
        const QByteArray plain = riff({fmt16, chunk("data", tone)});
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("text") << QByteArray("RIFFy text that only starts like a RIFF file");
        QTest::newRow("truncated RIFF header") << QByteArray("RIFF\x10\0\0\0WAV", 11);
        QTest::newRow("RIFF of another form") << QByteArray(plain).replace(8, 4, "AVI ");
        QTest::newRow("no data chunk") << riff({fmt16});
        QTest::newRow("empty data") << riff({fmt16, chunk("data", QByteArray())});
        QTest::newRow("zero channels")
            << riff({chunk("fmt ", fmtBody(1, 0, 8000, 16, 2)), chunk("data", tone)});
        QTest::newRow("zero sample rate")
            << riff({chunk("fmt ", fmtBody(1, 1, 0, 16)), chunk("data", tone)});
        // Found by the fuzzer: libsndfile 1.2.0 looped on it for ever.
        QTest::newRow("LIST chunk past the end")
            << riff({chunk("LIST", QByteArray(60, '\xFF'), 0xFFFFFFFF, false)});
        QTest::newRow("LIST holding an empty chunk, no format") << QByteArray::fromBase64(
            "UklGRuwAAABXQVZFTElTVBEAAABJTkY+9////wAAAAACAAgAAABmYWN0BAAAAF"
            "AAAABkYXRhoAAAk5OAgGxsXFxRUU5OUWxs");
        QTest::newRow("format chunk past the end")
            << riff({chunk("fmt ", fmtBody(1, 1, 8000, 16), 0x7FFFFFFF, false)});
        QTest::newRow("ADPCM") << riff(
            {chunk("fmt ", fmtBody(2, 1, 8000, 4)), chunk("data", tone)});
        QTest::newRow("unknown compression")
            << riff({chunk("fmt ", fmtBody(0x1234, 1, 8000, 16)), chunk("data", tone)});
    }

    void unplayableIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QString problem;
        QVERIFY(!fromBytes(bytes, &problem));
        QVERIFY(!problem.isEmpty());
    }

    void filesThatAreNotFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.filePath("missing.wav");
        QTest::newRow("empty path") << QString();
        QTest::newRow("directory") << m_dir.path();
        QTest::newRow("named pipe") << m_dir.filePath("pipe.wav");
        QTest::newRow("device") << QStringLiteral("/dev/zero");
    }

    void filesThatAreNotFiles()
    {
        QFETCH(QString, path);
        mkfifo(QFile::encodeName(m_dir.filePath("pipe.wav")).constData(), 0600);
        QString problem;
        QVERIFY(!sound::Decoder::openFile(path, &problem));
        QVERIFY(!problem.isEmpty());
    }

    void builtinsAreReadable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("durationMs");
        QTest::newRow("ring") << QString::fromLatin1(PulseSoundService::kRingPath) << qint64(2000);
        QTest::newRow("buzz") << QString::fromLatin1(PulseSoundService::kBuzzPath) << qint64(500);
    }

    void builtinsAreReadable()
    {
        QFETCH(QString, path);
        QFETCH(qint64, durationMs);
        const std::unique_ptr<sound::Decoder> decoder = sound::Decoder::openFile(path);
        QVERIFY(decoder);
        QCOMPARE(decoder->durationMs(), durationMs);
        QVERIFY(peakOf(readAll(*decoder).first) > 0.1f);
    }

    // A loop starts again at the first frame, with the same samples.
    void rewindStartsOver()
    {
        const QByteArray bytes = layoutWav(Layout{Encoding::Pcm, 24, 2, 8000, false}, 300, 0.2);
        const std::unique_ptr<sound::Decoder> decoder = fromBytes(bytes);
        QVERIFY(decoder);
        const Decoded once = readAll(*decoder);
        QCOMPARE(decoder->read(nullptr, 0), qint64(0));
        decoder->rewind();
        const Decoded again = readAll(*decoder);
        QCOMPARE(again.frames, once.frames);
        QCOMPARE(again.first, once.first);
    }
};

QTEST_GUILESS_MAIN(tst_WavDecode)
#include "tst_wavdecode.moc"
