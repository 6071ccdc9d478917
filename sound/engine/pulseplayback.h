#pragma once

#include "sound/engine/decoder.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>

#include <pulse/pulseaudio.h>

class PulseConnection;

// One sound on one playback stream, fed from its decoder as the server asks
// for more: a loop starts again at the first frame, a single play drains.
// The stream's role is an alarm, so the desktop's sound settings file it
// among alarms and may let it through where other sound is held back.

class PulsePlayback
{
public:
    enum class State { Starting, Playing, Ended, Failed };

    // ended runs on the loop's thread, once, when a single play has been
    // heard to its end or the stream fails.
    PulsePlayback(PulseConnection &connection, std::unique_ptr<sound::Decoder> decoder, bool loop,
                  std::function<void()> ended);
    // Takes the loop's lock; the stream goes at once.
    ~PulsePlayback();
    PulsePlayback(const PulsePlayback &) = delete;
    PulsePlayback &operator=(const PulsePlayback &) = delete;

    // With the loop's lock held, on a ready connection; false when no
    // stream could be made.
    bool start();

    State state() const { return m_state.load(); }
    // The output the stream plays on; with the loop's lock held.
    QByteArray sinkName() const;

private:
    static void onState(pa_stream *stream, void *user);
    static void onWritable(pa_stream *stream, size_t bytes, void *user);
    static void onDrained(pa_stream *stream, int success, void *user);
    void write(size_t bytes);
    void end(State state);

    PulseConnection &m_connection;
    std::unique_ptr<sound::Decoder> m_decoder;
    bool m_loop;
    std::function<void()> m_ended;
    pa_stream *m_stream = nullptr;
    bool m_draining = false;
    std::atomic<State> m_state{State::Starting};
};
