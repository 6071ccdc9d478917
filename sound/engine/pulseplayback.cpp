#include "sound/engine/pulseplayback.h"

#include "sound/engine/pulseconnection.h"

namespace {

// What the server holds ahead of the speaker. A busy machine (a parallel
// build, say) can hold back the refill, or the sound server itself, for
// longer than 200 ms; half a second keeps the loop without gaps. Stop
// disconnects the stream and a start fills the buffer at once, so neither
// waits for it.
constexpr pa_usec_t kTargetLatencyUs = 500 * PA_USEC_PER_MSEC;

} // namespace

PulsePlayback::PulsePlayback(PulseConnection &connection, std::unique_ptr<sound::Decoder> decoder,
                             bool loop, std::function<void()> ended)
    : m_connection(connection), m_decoder(std::move(decoder)), m_loop(loop),
      m_ended(std::move(ended))
{
}

PulsePlayback::~PulsePlayback()
{
    if (m_stream == nullptr)
        return;
    PulseConnection::Lock lock(m_connection);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
}

bool PulsePlayback::start()
{
    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(m_decoder->sampleRate()),
                        uint8_t(m_decoder->channels())};
    pa_channel_map map;
    if (!pa_sample_spec_valid(&spec) ||
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr)
        return false;
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "alarm");
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Alarm");
    m_stream = pa_stream_new_with_proplist(m_connection.context(), "Alarm", &spec, &map, props);
    pa_proplist_free(props);
    if (m_stream == nullptr)
        return false;
    pa_stream_set_state_callback(m_stream, onState, this);
    pa_stream_set_write_callback(m_stream, onWritable, this);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(kTargetLatencyUs, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    return pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                      nullptr) == 0;
}

QByteArray PulsePlayback::sinkName() const
{
    if (m_stream == nullptr || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return {};
    const char *name = pa_stream_get_device_name(m_stream);
    return name != nullptr ? QByteArray(name) : QByteArray();
}

void PulsePlayback::onState(pa_stream *stream, void *user)
{
    auto *self = static_cast<PulsePlayback *>(user);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        if (self->m_state == State::Starting)
            self->m_state = State::Playing;
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        self->end(State::Failed);
        break;
    default:
        break;
    }
}

void PulsePlayback::onWritable(pa_stream *, size_t bytes, void *user)
{
    static_cast<PulsePlayback *>(user)->write(bytes);
}

void PulsePlayback::onDrained(pa_stream *, int success, void *user)
{
    static_cast<PulsePlayback *>(user)->end(success ? State::Ended : State::Failed);
}

void PulsePlayback::end(State state)
{
    const State before = m_state.exchange(state);
    if (before == State::Ended || before == State::Failed) {
        m_state = before;
        return;
    }
    if (m_ended)
        m_ended();
}

void PulsePlayback::write(size_t bytes)
{
    const size_t frameBytes = sizeof(float) * size_t(m_decoder->channels());
    while (!m_draining && bytes >= frameBytes) {
        void *data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &data, &size) < 0 || size < frameBytes)
            return;
        auto *out = static_cast<float *>(data);
        const qint64 wanted = qint64(size / frameBytes);
        qint64 got = 0;
        bool atEnd = false;
        bool rewound = false;
        while (got < wanted) {
            const qint64 read = m_decoder->read(out + got * m_decoder->channels(), wanted - got);
            if (read > 0) {
                got += read;
                rewound = false;
                continue;
            }
            // A file that yields nothing even from its start ends the loop.
            if (!m_loop || rewound) {
                atEnd = true;
                break;
            }
            m_decoder->rewind();
            rewound = true;
        }
        if (got > 0)
            pa_stream_write(m_stream, data, size_t(got) * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        else
            pa_stream_cancel_write(m_stream);
        bytes -= std::min(bytes, size_t(got) * frameBytes);
        if (atEnd) {
            m_draining = true;
            if (pa_operation *drain = pa_stream_drain(m_stream, onDrained, this))
                pa_operation_unref(drain);
            else
                end(State::Failed);
        }
    }
}
