#include "platform/sound/module/decoder.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace sound {

// What libsndfile reads: a header made here, then the file's sample data.
struct SampleView
{
    QByteArray head;
    QIODevice *device = nullptr;
    qint64 dataFrom = 0;
    qint64 dataSize = 0;
    qint64 pos = 0;
    // While libsndfile reads the header, the samples read as silence: it
    // takes some sample data for chunks (a block starting "INFO" sent it
    // round for ever), and what it needs to open a file is in the header.
    bool masked = true;

    qint64 size() const { return head.size() + dataSize; }
};

namespace {

// libsndfile 1.2.0 walks for ever, without reading, some damaged chunks
// besides the format and the samples (a LIST that claims more than the file
// or than itself, a LIST holding a chunk of size zero): a file of a hundred
// bytes would hold the alarm. So the chunks are walked here, and libsndfile
// is shown a plain file of just the format chunk and the sample data, which
// reads as silence until the file is open.
constexpr int kMaxChunks = 4096;
constexpr qint64 kMaxFormatSize = 4096;

SampleView *viewOf(void *user)
{
    return static_cast<SampleView *>(user);
}

sf_count_t length(void *user)
{
    return viewOf(user)->size();
}

sf_count_t seekTo(sf_count_t offset, int whence, void *user)
{
    SampleView *view = viewOf(user);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = view->pos;
    else if (whence == SEEK_END)
        base = view->size();
    const qint64 target = base + offset;
    if (target < 0 || target > view->size())
        return -1;
    view->pos = target;
    return target;
}

sf_count_t readInto(void *out, sf_count_t count, void *user)
{
    SampleView *view = viewOf(user);
    char *to = static_cast<char *>(out);
    sf_count_t done = 0;
    if (count > 0 && view->pos < view->head.size()) {
        const qint64 part = std::min<qint64>(count, view->head.size() - view->pos);
        std::memcpy(to, view->head.constData() + view->pos, size_t(part));
        view->pos += part;
        done = part;
    }
    const qint64 inData = view->pos - view->head.size();
    const qint64 want = std::min<qint64>(count - done, view->dataSize - inData);
    if (want > 0 && inData >= 0 && view->masked) {
        std::memset(to + done, 0, size_t(want));
        view->pos += want;
        done += want;
    } else if (want > 0 && inData >= 0 && view->device->seek(view->dataFrom + inData)) {
        const qint64 got = view->device->read(to + done, want);
        if (got > 0) {
            view->pos += got;
            done += got;
        }
    }
    return done;
}

sf_count_t refuseWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t position(void *user)
{
    return viewOf(user)->pos;
}

SF_VIRTUAL_IO g_io{length, seekTo, readInto, refuseWrite, position};

bool readHead(QIODevice &device, qint64 pos, char id[4], qint64 *size)
{
    char bytes[8];
    if (!device.seek(pos) || device.read(bytes, 8) != 8)
        return false;
    std::memcpy(id, bytes, 4);
    *size = qFromLittleEndian<quint32>(bytes + 4);
    return true;
}

// Integer PCM, float, A-law and µ-law, plain or in WAVE_FORMAT_EXTENSIBLE;
// the compressions beyond these are refused before a codec sees them.
bool playableFormat(const QByteArray &fmt)
{
    const auto known = [](quint16 tag) { return tag == 1 || tag == 3 || tag == 6 || tag == 7; };
    const quint16 tag = qFromLittleEndian<quint16>(fmt.constData());
    if (tag == 0xFFFE)
        return fmt.size() >= 40 && known(qFromLittleEndian<quint16>(fmt.constData() + 24));
    return known(tag);
}

// The format chunk's body and where the sample data lies, or the reason not.
QString walk(QIODevice &device, QByteArray *fmt, qint64 *dataFrom, qint64 *dataSize)
{
    char riff[12];
    if (!device.seek(0) || device.read(riff, 12) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return QStringLiteral("not a WAV file");
    const qint64 fileSize = device.size();
    *dataFrom = -1;
    qint64 pos = 12;
    char id[4];
    qint64 size = 0;
    for (int chunk = 0; chunk < kMaxChunks && pos + 8 <= fileSize; ++chunk) {
        if (!readHead(device, pos, id, &size))
            break;
        const qint64 body = pos + 8;
        if (std::memcmp(id, "data", 4) == 0 && *dataFrom < 0) {
            *dataFrom = body;
            // A cut file plays what it holds.
            *dataSize = std::min(size, fileSize - body);
        } else if (std::memcmp(id, "fmt ", 4) == 0 && fmt->isEmpty()) {
            if (size < 16 || size > kMaxFormatSize || body + size > fileSize)
                return QStringLiteral("a damaged format chunk");
            device.seek(body);
            *fmt = device.read(size);
            if (fmt->size() != size)
                return QStringLiteral("a damaged format chunk");
        }
        if (*dataFrom >= 0 && !fmt->isEmpty())
            break;
        pos = body + size + (size & 1);
    }
    if (fmt->isEmpty())
        return QStringLiteral("no format chunk");
    if (!playableFormat(*fmt))
        return QStringLiteral("a compression that cannot be played");
    if (*dataFrom < 0 || *dataSize <= 0)
        return QStringLiteral("no sample data");
    return {};
}

QByteArray chunkHead(const char *id, qint64 size)
{
    QByteArray head(id, 4);
    char bytes[4];
    qToLittleEndian<quint32>(quint32(size), bytes);
    return head.append(bytes, 4);
}

void tell(QString *problem, const QString &why)
{
    if (problem != nullptr)
        *problem = why;
}

} // namespace

Decoder::Decoder(std::unique_ptr<QIODevice> device)
    : m_device(std::move(device)), m_view(std::make_unique<SampleView>())
{
    m_view->device = m_device.get();
}

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
    SampleView &view = *decoder->m_view;
    QByteArray fmt;
    const QString why = walk(*decoder->m_device, &fmt, &view.dataFrom, &view.dataSize);
    if (!why.isEmpty()) {
        tell(problem, why);
        return nullptr;
    }
    // The format keeps its pad byte, so that the data chunk starts even.
    const qint64 fmtSize = fmt.size();
    if (fmtSize & 1)
        fmt.append('\0');
    view.head = chunkHead("RIFF", 4 + 8 + fmt.size() + 8 + view.dataSize)
                    .append("WAVE", 4)
                    .append(chunkHead("fmt ", fmtSize))
                    .append(fmt)
                    .append(chunkHead("data", view.dataSize));
    decoder->m_file = sf_open_virtual(&g_io, SFM_READ, &decoder->m_info, &view);
    view.masked = false;
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
