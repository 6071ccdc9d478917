#include "platform/sound/module/decoder.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

#include <cstring>

namespace sound {

namespace {

QIODevice *deviceOf(void *user)
{
    return static_cast<QIODevice *>(user);
}

sf_count_t length(void *user)
{
    return deviceOf(user)->size();
}

sf_count_t seekTo(sf_count_t offset, int whence, void *user)
{
    QIODevice *device = deviceOf(user);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = device->pos();
    else if (whence == SEEK_END)
        base = device->size();
    const qint64 target = base + offset;
    // Past the end is not an error for a file; reading there gives nothing.
    if (target < 0 || target > device->size() || !device->seek(target))
        return -1;
    return target;
}

sf_count_t readInto(void *out, sf_count_t count, void *user)
{
    const qint64 got = deviceOf(user)->read(static_cast<char *>(out), count);
    return got < 0 ? 0 : got;
}

sf_count_t refuseWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t position(void *user)
{
    return deviceOf(user)->pos();
}

SF_VIRTUAL_IO g_io{length, seekTo, readInto, refuseWrite, position};

// libsndfile 1.2.0 walks a RIFF chunk that claims more bytes than the file
// holds (a LIST of size 0xFFFFFFFF) for ever, without reading: a damaged
// file of a hundred bytes would hold the alarm. So the top-level chunks are
// walked here first, and one that runs past the end is refused, but for the
// sample data, which a cut file may lack the end of.
bool chunksFit(QIODevice &device)
{
    constexpr int kMaxChunks = 4096;
    char head[12];
    if (!device.seek(0) || device.read(head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return true; // not RIFF/WAVE: libsndfile's other readers decide
    const qint64 size = device.size();
    qint64 pos = 12;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= size; ++chunk) {
        if (!device.seek(pos) || device.read(head, 8) != 8)
            return false;
        const qint64 declared = qFromLittleEndian<quint32>(head + 4);
        if (std::memcmp(head, "data", 4) == 0 && pos + 8 + declared >= size)
            return true;
        if (pos + 8 + declared > size)
            return false;
        pos += 8 + declared + (declared & 1);
    }
    return true;
}

void tell(QString *problem, const QString &why)
{
    if (problem != nullptr)
        *problem = why;
}

} // namespace

Decoder::Decoder(std::unique_ptr<QIODevice> device) : m_device(std::move(device)) {}

Decoder::~Decoder()
{
    if (m_file != nullptr)
        sf_close(m_file);
}

std::unique_ptr<Decoder> Decoder::open(std::unique_ptr<QIODevice> device, QString *problem)
{
    if (!device || !device->isOpen() || !device->isReadable() || device->isSequential()) {
        tell(problem, QStringLiteral("not a readable file"));
        return nullptr;
    }
    if (!chunksFit(*device)) {
        tell(problem, QStringLiteral("a chunk runs past the end of the file"));
        return nullptr;
    }
    device->seek(0);
    std::unique_ptr<Decoder> decoder(new Decoder(std::move(device)));
    decoder->m_file = sf_open_virtual(&g_io, SFM_READ, &decoder->m_info, decoder->m_device.get());
    if (decoder->m_file == nullptr) {
        tell(problem, QString::fromUtf8(sf_strerror(nullptr)));
        return nullptr;
    }
    const SF_INFO &info = decoder->m_info;
    if (info.channels < 1 || info.channels > kMaxChannels)
        tell(problem, QStringLiteral("%1 channels").arg(info.channels));
    else if (info.samplerate < 1 || info.samplerate > kMaxRate)
        tell(problem, QStringLiteral("sample rate %1").arg(info.samplerate));
    else if (info.frames <= 0 || !info.seekable)
        tell(problem, QStringLiteral("no sample data"));
    else
        return decoder;
    return nullptr;
}

std::unique_ptr<Decoder> Decoder::openFile(const QString &path, QString *problem)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        tell(problem, QStringLiteral("no such file"));
        return nullptr;
    }
    if (!info.isFile()) {
        tell(problem, QStringLiteral("not an ordinary file"));
        return nullptr;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        tell(problem, QStringLiteral("cannot be opened"));
        return nullptr;
    }
    return open(std::move(file), problem);
}

qint64 Decoder::read(float *out, qint64 count)
{
    const sf_count_t got = sf_readf_float(m_file, out, count);
    return got < 0 ? 0 : got;
}

bool Decoder::rewind()
{
    return sf_seek(m_file, 0, SEEK_SET) == 0;
}

} // namespace sound
