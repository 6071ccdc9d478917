#pragma once

#include "platform/linux/outstandingrequest.h"
#include "platform/services.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>

#include <optional>

// Which copy of the program this is: its executable, and a short name drawn
// from it, so that each copy replaces and checks only its own alarm.
struct ProgramCopy
{
    QString executable;
    QString id;
    // The running executable; an empty id where it cannot be told.
    static ProgramCopy running();
};

// Held for as long as this copy's alarm is armed or sounding: a file in the
// session's runtime folder with an flock on it, which the kernel drops with
// the process, however it ends.
class AlarmLock
{
public:
    // No lock at all where there is no runtime folder.
    explicit AlarmLock(const ProgramCopy &copy);
    ~AlarmLock();
    AlarmLock(const AlarmLock &) = delete;
    AlarmLock &operator=(const AlarmLock &) = delete;

    bool available() const { return !m_path.isEmpty(); }
    // False when another process holds it, or it cannot be taken.
    bool hold();
    void release();

private:
    QString m_path;
    int m_fd = -1;
};

// The alarm as the check's one argument carries it.
struct HandedOverAlarm
{
    QDateTime moment;
    QString soundFile;
};
QString checkArgument(const HandedOverAlarm &alarm);
// The alarm, when the program was started as the check: one argument, made by checkArgument.
std::optional<HandedOverAlarm> parseCheckArgument(int argc, char *argv[]);

// The alarm handed to the session's systemd user manager: a transient timer
// at the moment (org.freedesktop.systemd1 StartTransientUnit on the session
// bus) whose service runs this program's check, which rings the alarm if
// this program has died by then. The timer wakes a sleeping machine where
// the manager may (systemd 254 on); where it refuses, it is made again
// without. Where no manager answers, nothing happens and nothing is said.
class SystemdAlarmTimer : public QObject, public WakeScheduler
{
    Q_OBJECT
public:
    // The session bus, reached on first use.
    SystemdAlarmTimer(const ProgramCopy &copy, bool lockAvailable);
    SystemdAlarmTimer(const ProgramCopy &copy, bool lockAvailable, const QDBusConnection &bus);
    ~SystemdAlarmTimer() override;

    void schedule(const QDateTime &moment, const QString &soundFile) override;
    void cancel() override;
    void cancelBeforeExit() override;

    // The timer unit in place, once the manager has taken it.
    std::optional<QString> timerUnit() const { return m_timer.held(); }

private Q_SLOTS:
    void jobRemoved(uint id, const QDBusObjectPath &job, const QString &unit,
                    const QString &result);

private:
    void start();
    void stopOrphans();
    static QDBusMessage stopCall(const QString &timer);

    ProgramCopy m_copy;
    bool m_lockAvailable;
    std::optional<QDBusConnection> m_bus;
    bool m_subscribed = false;
    HandedOverAlarm m_alarm;
    bool m_wakeSystem = true;
    int m_serial = 0;
    QString m_requestedTimer;
    QObject m_calls;
    OutstandingRequest<QString> m_timer{[](const QString &timer) { return stopCall(timer); },
                                        10000};
};
