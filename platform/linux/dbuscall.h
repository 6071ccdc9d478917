#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>

#include <optional>
#include <utility>

// The bus, reached on first use; false while it cannot be reached.
inline bool reachBus(std::optional<QDBusConnection> &bus, QDBusConnection (*open)())
{
    if (!bus)
        bus = open();
    return bus->isConnected();
}

// Sends the call without waiting and hands its answer to done, in owner's
// thread; once owner is destroyed, no answer arrives.
template <typename Done>
void callAsync(const QDBusConnection &bus, const QDBusMessage &call, int timeoutMs, QObject *owner,
               Done done)
{
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [done = std::move(done)](QDBusPendingCallWatcher *finished) {
                         finished->deleteLater();
                         done(*finished);
                     });
}
