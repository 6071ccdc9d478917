#pragma once

#include "platform/linux/outstandingrequest.h"
#include "platform/services.h"

#include <QDBusConnection>
#include <QObject>

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

    void show(const QString &text) override;
    void withdraw() override;
    void withdrawBeforeExit() override;
    void setOpenHandler(std::function<void(const QString &token)> handler) override;

    // The server's id of the notification shown, once it has answered.
    std::optional<uint> shownId() const { return m_shown.held(); }

private Q_SLOTS:
    void actionInvoked(uint id, const QString &actionKey);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    bool reach();
    void notify(const QString &text);
    QDBusMessage closeCall(uint id) const;

    std::optional<QDBusConnection> m_bus;
    bool m_listening = false;
    // The name the server gave itself (GetServerInformation), once it has answered.
    std::optional<QString> m_server;
    // Counts shows and withdrawals: a show still waiting for the server's name
    // goes on only if nothing came after it.
    std::uint64_t m_showing = 0;
    QObject m_calls;
    // Sent by the server just before the action it belongs to.
    QString m_token;
    std::function<void(const QString &)> m_open;
    OutstandingRequest<uint> m_shown{[this](uint id) { return closeCall(id); }, 5000};
};
