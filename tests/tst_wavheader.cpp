// The WAV header reader and the plain copy made for playback, against odd and
// hostile layouts. Only the reader: no audio backend is loaded here.
#include "platform/sound/module/wavinfo.h"
#include "support/wavfile.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

constexpr auto kRingPath = ":/sounds/builtin-ring.wav";
constexpr auto kBuzzPath = ":/sounds/builtin-buzz.wav";

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_WavHeader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeFile(path("text.wav"), "This is a note, not a sound.\n"));
        QVERIFY(QDir(m_dir.path()).mkdir("folder.wav"));
    }

    void header_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("playable");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<qint64>("dataBytes");
        QTest::addColumn<qint64>("durationMs");
        QTest::addColumn<bool>("plain");

        const QByteArray fmt16 = chunk("fmt ", fmtBody(1, 1, 8000, 16));
        const QByteArray second(16000, '\x11'); // one second at 8 kHz, 16-bit mono
        const QByteArray plain = riff({fmt16, chunk("data", second)});

        QTest::newRow("plain 16-bit mono")
            << plain << true << 1 << 8000 << 16 << qint64(16000) << qint64(1000) << true;
        QTest::newRow("8-bit stereo")
            << riff({chunk("fmt ", fmtBody(1, 2, 11025, 8)), chunk("data", QByteArray(4410, 'x'))})
            << true << 2 << 11025 << 8 << qint64(4410) << qint64(200) << true;
        QTest::newRow("PCM format chunk with extension bytes")
            << riff({chunk("fmt ", fmtBody(1, 1, 8000, 16) + QByteArray(2, '\0')),
                     chunk("data", second)})
            << true << 1 << 8000 << 16 << qint64(16000) << qint64(1000) << false;
        QTest::newRow("RIFF size wrong") << riff({fmt16, chunk("data", second)}, 4) << true << 1
                                         << 8000 << 16 << qint64(16000) << qint64(1000) << true;
        QTest::newRow("odd chunk before the format, padded")
            << riff({chunk("LIST", "abc"), fmt16, chunk("data", second)}) << true << 1 << 8000 << 16
            << qint64(16000) << qint64(1000) << false;
        QTest::newRow("chunks between format and data")
            << riff({fmt16, chunk("JUNK", QByteArray(100, '\0')), chunk("fact", "\4\0\0\0"),
                     chunk("data", second)})
            << true << 1 << 8000 << 16 << qint64(16000) << qint64(1000) << false;
        QTest::newRow("data size beyond the file")
            << riff({fmt16, chunk("data", second, 0xFFFFFFF0)}) << true << 1 << 8000 << 16
            << qint64(16000) << qint64(1000) << false;
        QTest::newRow("odd data size")
            << riff({fmt16, chunk("data", QByteArray(1001, 'x'))}) << true << 1 << 8000 << 16
            << qint64(1000) << qint64(62) << false;
        QTest::newRow("duplicate format chunk, the first counts")
            << riff({fmt16, chunk("fmt ", fmtBody(1, 2, 44100, 8)), chunk("data", second)}) << true
            << 1 << 8000 << 16 << qint64(16000) << qint64(1000) << false;

        const auto refused = [](const char *name, const QByteArray &bytes) {
            QTest::newRow(name) << bytes << false << -1 << -1 << -1 << qint64(-1) << qint64(-1)
                                << false;
        };
        refused("empty file", QByteArray());
        refused("text", "RIFFy text that only starts like a RIFF file");
        refused("truncated RIFF header", QByteArray("RIFF\x10\0\0\0WAV", 11));
        refused("RIFF of another form", QByteArray(plain).replace(8, 4, "AVI "));
        refused("big-endian RIFX", QByteArray(plain).replace(0, 4, "RIFX"));
        refused("truncated in the format chunk", plain.left(12 + 8 + 10));
        refused("format chunk too short",
                riff({chunk("fmt ", fmtBody(1, 1, 8000, 16).left(14)), chunk("data", second)}));
        refused("huge format chunk size",
                riff({chunk("fmt ", fmtBody(1, 1, 8000, 16), 0xFFFFFFFF), chunk("data", second)}));
        refused("huge chunk size before the format",
                riff({chunk("LIST", "abcd", 0x7FFFFFFF), fmt16, chunk("data", second)}));
        refused("no data chunk", riff({fmt16}));
        refused("truncated in a chunk header", riff({fmt16}) + QByteArray("dat", 3));
        refused("data before the format", riff({chunk("data", second), fmt16}));
        refused("empty data", riff({fmt16, chunk("data", QByteArray())}));
        refused("data shorter than one frame",
                riff({chunk("fmt ", fmtBody(1, 2, 8000, 16)), chunk("data", QByteArray(3, 'x'))}));
        refused("zero channels",
                riff({chunk("fmt ", fmtBody(1, 0, 8000, 16, 2)), chunk("data", second)}));
        refused("three channels", riff({chunk("fmt ", fmtBody(1, 3, 8000, 16)),
                                        chunk("data", QByteArray(6000, 'x'))}));
        refused("24-bit", riff({chunk("fmt ", fmtBody(1, 1, 8000, 24)),
                                chunk("data", QByteArray(3000, 'x'))}));
        refused("float", riff({chunk("fmt ", fmtBody(3, 1, 8000, 32)),
                               chunk("data", QByteArray(4000, 'x'))}));
        refused("WAVE_FORMAT_EXTENSIBLE",
                riff({chunk("fmt ", extensibleBody(1, 8000, 16)), chunk("data", second)}));
        refused("ADPCM", riff({chunk("fmt ", fmtBody(2, 1, 8000, 4, 256)), chunk("data", second)}));
        refused("zero sample rate",
                riff({chunk("fmt ", fmtBody(1, 1, 0, 16)), chunk("data", second)}));
        refused("absurd sample rate",
                riff({chunk("fmt ", fmtBody(1, 1, 0xFFFFFFFF, 16)), chunk("data", second)}));
        refused("block size that does not fit",
                riff({chunk("fmt ", fmtBody(1, 1, 8000, 16, 3)), chunk("data", second)}));
        QByteArray many;
        for (int i = 0; i < 5000; ++i)
            many.append(chunk("JUNK", QByteArray()));
        refused("endless empty chunks before the format",
                riff({many, fmt16, chunk("data", second)}));
    }

    void header()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, playable);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const wav::Info info = wav::inspect(buffer);
        QCOMPARE(info.playable, playable);
        QCOMPARE(info.problem.isEmpty(), playable);
        if (!playable)
            return;
        QTEST(info.channels, "channels");
        QTEST(info.sampleRate, "rate");
        QTEST(info.bitsPerSample, "bits");
        QTEST(info.dataBytes, "dataBytes");
        QTEST(info.durationMs(), "durationMs");
        QTEST(info.plainLayout, "plain");
        QVERIFY(info.dataOffset + info.dataBytes <= bytes.size());
    }

    void headerOfFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("playable");
        QTest::addColumn<qint64>("durationMs");
        QTest::newRow("tone file") << QStringLiteral("@tone") << true << qint64(500);
        QTest::newRow("built-in ring") << QString::fromLatin1(kRingPath) << true << qint64(2000);
        QTest::newRow("built-in buzz") << QString::fromLatin1(kBuzzPath) << true << qint64(500);
        QTest::newRow("missing") << QStringLiteral("@missing.wav") << false << qint64(0);
        QTest::newRow("empty path") << QString() << false << qint64(0);
        QTest::newRow("directory") << QStringLiteral("@folder.wav") << false << qint64(0);
        // Opening a pipe would wait for a writer for ever.
        QTest::newRow("named pipe") << QStringLiteral("@pipe.wav") << false << qint64(0);
        QTest::newRow("device") << QStringLiteral("/dev/zero") << false << qint64(0);
    }

    void headerOfFiles()
    {
        QFETCH(QString, file);
        if (file == QLatin1String("@tone")) {
            file = path("header-tone.wav");
            QVERIFY(writeToneWav(file, 440, 0.5));
        }
        if (file == QLatin1String("@pipe.wav"))
            QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.wav")).constData(), 0600), 0);
        if (file.startsWith(QLatin1Char('@')))
            file = path(file.mid(1));
        QElapsedTimer clock;
        clock.start();
        const wav::Info info = wav::inspectFile(file);
        QVERIFY(clock.elapsed() < 1000);
        QTEST(info.playable, "playable");
        QTEST(info.durationMs(), "durationMs");
    }

    void trailingSilence_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("rate");
        // 300 ms of frames: 6615, 13230 and 3307 (the half frame dropped).
        QTest::addColumn<qint64>("silence");
        QTest::newRow("16-bit mono") << 1 << 16 << 22050 << qint64(13230);
        QTest::newRow("16-bit stereo") << 2 << 16 << 44100 << qint64(52920);
        QTest::newRow("8-bit mono") << 1 << 8 << 11025 << qint64(3307);
    }

    void trailingSilence()
    {
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(int, rate);
        QFETCH(qint64, silence);
        const QByteArray samples = toneData(500, 0.25, rate, channels, bits);
        // An unusual layout in, the plain one out.
        const QString file = path("tail-source.wav");
        QVERIFY(writeFile(
            file,
            riff({chunk("LIST", "xyz"), chunk("fmt ", fmtBody(1, channels, quint32(rate), bits)),
                  chunk("JUNK", QByteArray(10, 'j')), chunk("data", samples)})));
        const QByteArray out = wav::plainCopy(file, 300);
        QCOMPARE(out.size(), 44 + samples.size() + silence);
        QCOMPARE(out.left(4), QByteArray("RIFF"));
        QCOMPARE(out.mid(36, 4), QByteArray("data"));
        QCOMPARE(out.mid(44, samples.size()), samples);
        QCOMPARE(out.mid(44 + samples.size()), QByteArray(silence, bits == 8 ? '\x80' : '\0'));

        QByteArray copy = out;
        QBuffer buffer(&copy);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const wav::Info info = wav::inspect(buffer);
        QVERIFY(info.playable);
        QCOMPARE(info.channels, channels);
        QCOMPARE(info.bitsPerSample, bits);
        QCOMPARE(info.sampleRate, rate);
        QCOMPARE(info.dataOffset, qint64(44));
        QCOMPARE(info.dataBytes, samples.size() + silence);

        QVERIFY(wav::plainCopy(path("text.wav"), 300).isEmpty());
        QVERIFY(wav::plainCopy(path("missing.wav"), 300).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_WavHeader)
#include "tst_wavheader.moc"
