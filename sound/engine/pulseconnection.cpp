#include "sound/engine/pulseconnection.h"

#include <pulse/timeval.h>

namespace {

struct Wake
{
    pa_threaded_mainloop *loop;
    bool timedOut = false;
};

void onTimeout(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *user)
{
    auto *wake = static_cast<Wake *>(user);
    wake->timedOut = true;
    pa_threaded_mainloop_signal(wake->loop, 0);
}

void signalLoop(pa_context *, void *user)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(user), 0);
}

bool terminal(pa_context_state_t state)
{
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

struct SinkQuery
{
    pa_threaded_mainloop *loop;
    QByteArray name;
    std::optional<bool> silent;
};

void onServerInfo(pa_context *, const pa_server_info *info, void *user)
{
    auto *query = static_cast<SinkQuery *>(user);
    if (info != nullptr && info->default_sink_name != nullptr)
        query->name = info->default_sink_name;
    pa_threaded_mainloop_signal(query->loop, 0);
}

void onSinkInfo(pa_context *, const pa_sink_info *info, int eol, void *user)
{
    auto *query = static_cast<SinkQuery *>(user);
    if (eol == 0 && info != nullptr)
        query->silent = info->mute != 0 || pa_cvolume_max(&info->volume) == PA_VOLUME_MUTED;
    else
        pa_threaded_mainloop_signal(query->loop, 0);
}

} // namespace

PulseConnection::PulseConnection()
{
    m_loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_set_name(m_loop, "roustabell-sound");
    pa_threaded_mainloop_start(m_loop);
}

PulseConnection::~PulseConnection()
{
    {
        Lock lock(*this);
        drop();
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseConnection::drop()
{
    if (m_context == nullptr)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseConnection::connect()
{
    drop();
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "ROUSTABELL");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "roustabell");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "roustabell");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "ROUSTABELL", props);
    pa_proplist_free(props);
    pa_context_set_state_callback(m_context, signalLoop, m_loop);
    // Never starts a server of its own: the desktop's is the one heard.
    pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

bool PulseConnection::isReady() const
{
    return m_context != nullptr && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::ensureReady(int timeoutMs)
{
    if (m_context == nullptr || terminal(pa_context_get_state(m_context)))
        connect();
    if (m_context == nullptr)
        return false;
    waitFor(
        [this] {
            const pa_context_state_t state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || terminal(state);
        },
        timeoutMs);
    return isReady();
}

bool PulseConnection::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    Wake wake{m_loop};
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(m_loop);
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(timeoutMs) * PA_USEC_PER_MSEC);
    pa_time_event *timer = api->time_new(api, &when, onTimeout, &wake);
    while (!done() && !wake.timedOut)
        pa_threaded_mainloop_wait(m_loop);
    api->time_free(timer);
    return done();
}

bool PulseConnection::finish(pa_operation *operation, int timeoutMs)
{
    if (operation == nullptr)
        return false;
    const bool done =
        waitFor([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                timeoutMs);
    if (!done)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

QByteArray PulseConnection::defaultSink(int timeoutMs)
{
    if (!ensureReady(timeoutMs))
        return {};
    SinkQuery query{m_loop, {}, {}};
    finish(pa_context_get_server_info(m_context, onServerInfo, &query), timeoutMs);
    return query.name;
}

std::optional<bool> PulseConnection::defaultSinkSilent(int timeoutMs)
{
    const QByteArray name = defaultSink(timeoutMs);
    if (name.isEmpty())
        return std::nullopt;
    SinkQuery query{m_loop, name, {}};
    finish(pa_context_get_sink_info_by_name(m_context, name.constData(), onSinkInfo, &query),
           timeoutMs);
    return query.silent;
}
