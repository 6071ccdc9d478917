#pragma once

#include "platform/services.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <optional>

// The alarm's notification through org.freedesktop.Notifications on the
// session bus: critical, so that GNOME and KDE show it on the lock screen and
// through do-not-disturb, and silent, since the program plays its own sound.
// Every call is sent without waiting for its answer, so no server can hold
// up the firing; where none answers, nothing happens and nothing is said.
class FreedesktopNotifications : public QObject, public NotificationService
{
    Q_OBJECT
public:
    // The session bus, reached on first use.
    FreedesktopNotifications();
    explicit FreedesktopNotifications(const QDBusConnection &bus);
    // A notification of a sounding alarm must not outlive the program.
    ~FreedesktopNotifications() override;

    void show(const QString &body) override;
    void withdraw() override;
    void withdrawBeforeExit() override;
    void setOpenHandler(std::function<void(const QString &token)> handler) override;

    // The server's id of the notification shown, once it has answered.
    std::optional<uint> shownId() const { return m_id; }

private Q_SLOTS:
    void actionInvoked(uint id, const QString &actionKey);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    bool reach();
    void notify(std::uint64_t request, const QString &body);
    void close(uint id);

    std::optional<QDBusConnection> m_bus;
    bool m_listening = false;
    std::optional<uint> m_id;
    // The name the server gave itself (GetServerInformation), once it has answered.
    std::optional<QString> m_server;
    // Requests are numbered so that a notification no longer wanted is closed
    // as soon as its id arrives; 0 when none is wanted.
    std::uint64_t m_lastRequest = 0;
    std::uint64_t m_wantedRequest = 0;
    bool m_exiting = false;
    // Sent by the server just before the action it belongs to.
    QString m_token;
    std::function<void(const QString &)> m_open;
    // Owns the pending calls; destroyed first, so no answer arrives afterwards.
    QObject m_calls;
};
