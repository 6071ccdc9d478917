#pragma once

#include "platform/linux/dbuscall.h"

#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

// How long the program's end may wait for one desktop service, all its calls together.
inline constexpr int kExitBoundMs = 2000;

// A thing a desktop service hands out on request and must be given back (a
// notification's id, a wake-up's cookie, a timer's name). Only the latest
// request is wanted: what arrives for an earlier one, or after the wish was
// withdrawn, is given back as soon as it arrives, however late the service
// answers. Before the program ends, a handle still on its way is waited for
// and given back, all within kExitBoundMs.
template <typename Handle> class OutstandingRequest
{
public:
    // The call that gives handle back. It is sent without waiting, or, once
    // the program is ending, waited for within what is left of the bound.
    using GiveBack = std::function<QDBusMessage(const Handle &handle)>;
    // The handle in a successful answer, or nothing; told whether the request is still wanted.
    using Read = std::function<std::optional<Handle>(const QDBusPendingCall &answer, bool wanted)>;

    OutstandingRequest(GiveBack giveBack, int giveBackTimeoutMs)
        : m_giveBack(std::move(giveBack)), m_giveBackTimeoutMs(giveBackTimeoutMs)
    {
    }

    // Sends call without waiting; its handle replaces the one held, which is
    // given back then unless the service answered with the same one.
    void request(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs, Read read)
    {
        const std::uint64_t request = ++m_lastRequest;
        m_wantedRequest = request;
        m_bus = bus;
        callAsync(bus, call, timeoutMs, &m_calls,
                  [this, request, read = std::move(read)](const QDBusPendingCall &answer) {
                      const bool wanted = request == m_wantedRequest;
                      const std::optional<Handle> handle = read(answer, wanted);
                      if (!handle)
                          return;
                      if (!wanted) {
                          giveBack(*handle);
                          return;
                      }
                      if (m_held && *m_held != *handle)
                          giveBack(*m_held);
                      m_held = handle;
                  });
    }

    // Nothing is wanted any more: the handle held is given back, and any still on its way.
    void withdraw()
    {
        m_wantedRequest = 0;
        if (const std::optional<Handle> held = std::exchange(m_held, std::nullopt))
            giveBack(*held);
    }

    // withdraw(), every answer still due waited for and given back, within
    // kExitBoundMs: the program is about to end and would take the unsent
    // requests with it.
    void withdrawBeforeExit()
    {
        m_exitDeadline = QDeadlineTimer(kExitBoundMs);
        withdraw();
        // The answers arrive on the bus's own thread; a finished call's
        // answer is then handed over here, without an event loop.
        const auto pending = m_calls.findChildren<QDBusPendingCallWatcher *>();
        for (QDBusPendingCallWatcher *watcher : pending) {
            while (!watcher->isFinished() && !m_exitDeadline->hasExpired())
                QThread::msleep(2);
            if (watcher->isFinished())
                watcher->waitForFinished();
        }
        m_exitDeadline.reset();
    }

    // The service dropped the handle by itself: nothing to give back.
    void forget() { m_held.reset(); }

    const std::optional<Handle> &held() const { return m_held; }
    bool isWanted() const { return m_wantedRequest != 0; }

private:
    void giveBack(const Handle &handle)
    {
        const QDBusMessage call = m_giveBack(handle);
        if (m_exitDeadline)
            m_bus->call(call, QDBus::Block,
                        int(std::max<qint64>(1, m_exitDeadline->remainingTime())));
        else
            m_bus->asyncCall(call, m_giveBackTimeoutMs);
    }

    GiveBack m_giveBack;
    int m_giveBackTimeoutMs;
    // The bus of the latest request: a handle is given back where it came from.
    std::optional<QDBusConnection> m_bus;
    std::optional<Handle> m_held;
    std::uint64_t m_lastRequest = 0;
    // 0 when none is wanted.
    std::uint64_t m_wantedRequest = 0;
    std::optional<QDeadlineTimer> m_exitDeadline;
    // Owns the pending calls; destroyed first, so no answer arrives afterwards.
    QObject m_calls;
};
