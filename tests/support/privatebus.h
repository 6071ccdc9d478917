#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>

// A private bus that serves as both the system and the session bus, with
// python-dbusmock stand-ins on it, one at a time.
class PrivateBus
{
public:
    ~PrivateBus();

    // Fails the running test when the bus does not come up; when a tool is
    // not installed, missing() says which.
    void start();
    QString missing() const { return m_missing; }
    // The test's own connection, apart from the one the code under test uses.
    static QDBusConnection observer();
    // A connection to a bus that is not there.
    QDBusConnection unreachable() const;

    // A stock template, or a file in tests/support ending in ".py"; true once
    // it owns service.
    bool startMock(const QString &name, const char *service, const QString &parameters = {});
    void stopMock();
    // The arguments of every call of the method the stand-in has received, in order.
    QVariantList loggedCalls(const char *path, const QString &method) const;
    // The stand-in sends the signal as its real service would.
    bool emitSignal(const char *path, const char *interface, const QString &name,
                    const QString &signature, const QVariantList &arguments) const;

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_missing;
    QString m_python;
    std::unique_ptr<QProcess> m_mock;
    QString m_mockService;
};
