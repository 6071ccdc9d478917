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

// libsndfile 1.2.0 walks for ever, without reading, a RIFF chunk that
// claims more bytes than the file holds (a LIST of size 0xFFFFFFFF) or a
// LIST whose inner chunk claims more than the LIST: a damaged file of a
// hundred bytes would hold the alarm. So the chunks are walked here first,
// and one that does not fit is refused, but for the sample data, which a cut
// file may lack the end of.
constexpr int kMaxChunks = 4096;

struct ChunkHead
{
    char id[4];
    qint64 size;
};

bool readHead(QIODevice &device, qint64 pos, ChunkHead *head)
{
    char bytes[8];
    if (!device.seek(pos) || device.read(bytes, 8) != 8)
        return false;
    std::memcpy(head->id, bytes, 4);
    head->size = qFromLittleEndian<quint32>(bytes + 4);
    return true;
}

// Every chunk in [from, to) ends inside it.
bool innerChunksFit(QIODevice &device, qint64 from, qint64 to)
{
    ChunkHead head;
    for (int chunk = 0; chunk < kMaxChunks && from + 8 <= to; ++chunk) {
        if (!readHead(device, from, &head) || from + 8 + head.size > to)
            return false;
        from += 8 + head.size + (head.size & 1);
    }
    return true;
}

bool chunksFit(QIODevice &device)
{
    char riff[12];
    if (!device.seek(0) || device.read(riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return true; // not RIFF/WAVE: libsndfile's other readers decide
    const qint64 size = device.size();
    qint64 pos = 12;
    ChunkHead head;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= size; ++chunk) {
        if (!readHead(device, pos, &head))
            return false;
        const qint64 end = pos + 8 + head.size;
        if (std::memcmp(head.id, "data", 4) == 0 && end >= size)
            return true;
        if (end > size)
            return false;
        // A LIST holds its form type, then chunks of its own.
        if (std::memcmp(head.id, "LIST", 4) == 0 && !innerChunksFit(device, pos + 12, end))
            return false;
        pos = end + (head.size & 1);
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
