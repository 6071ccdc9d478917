#include "platform/sound/module/decoder.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

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
    if (target < 0 || !device->seek(target))
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
