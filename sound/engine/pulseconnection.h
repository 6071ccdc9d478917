#pragma once

#include <QByteArray>

#include <functional>
#include <optional>

#include <pulse/pulseaudio.h>

// One connection to the sound server, on a PulseAudio threaded main loop:
// every callback runs on the loop's own thread, with its lock held. The
// desktop knows the program by the name and icon set here.
class PulseConnection
{
public:
    PulseConnection();
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Holds the loop's lock for a scope; everything below wants it held.
    class Lock
    {
    public:
        explicit Lock(PulseConnection &connection) : m_loop(connection.m_loop)
        {
            pa_threaded_mainloop_lock(m_loop);
        }
        ~Lock() { pa_threaded_mainloop_unlock(m_loop); }
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_loop;
    };

    pa_threaded_mainloop *loop() const { return m_loop; }
    // Null until the first connect.
    pa_context *context() const { return m_context; }

    // Connected, or connects now and waits up to timeoutMs; false when no
    // server answers in time (a connect still under way goes on).
    bool ensureReady(int timeoutMs);
    bool isReady() const;

    // The default output's name; empty when no server answers in time.
    QByteArray defaultSink(int timeoutMs);
    // Whether the default output is muted or at zero volume; nothing when
    // no server answers in time.
    std::optional<bool> defaultSinkSilent(int timeoutMs);

    // Waits on the loop until done() holds or timeoutMs have passed; the
    // callbacks that make it hold signal the loop.
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Waits for an operation to end; cancelled (its callback never runs)
    // when it does not end in time.
    bool finish(pa_operation *operation, int timeoutMs);

private:
    void connect();
    void drop();

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
};
