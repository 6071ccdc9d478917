#include "platform/linux/systemdalarmtimer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr auto kService = "org.freedesktop.systemd1";
constexpr auto kPath = "/org/freedesktop/systemd1";
constexpr auto kManager = "org.freedesktop.systemd1.Manager";
constexpr auto kCheckOption = "--ring-if-orphaned=";
constexpr int kCallTimeoutMs = 10000;

struct UnitProperty
{
    QString name;
    QDBusVariant value;
};
using UnitProperties = QList<UnitProperty>;
struct AuxUnit
{
    QString name;
    UnitProperties properties;
};
struct ExecCommand
{
    QString path;
    QStringList argv;
    bool ignoreFailure = false;
};
struct CalendarTimer
{
    QString base;
    QString spec;
};

} // namespace

Q_DECLARE_METATYPE(UnitProperty)
Q_DECLARE_METATYPE(AuxUnit)
Q_DECLARE_METATYPE(ExecCommand)
Q_DECLARE_METATYPE(CalendarTimer)

namespace {

QDBusArgument &operator<<(QDBusArgument &out, const UnitProperty &p)
{
    out.beginStructure();
    out << p.name << p.value;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, UnitProperty &p)
{
    in.beginStructure();
    in >> p.name >> p.value;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const AuxUnit &u)
{
    out.beginStructure();
    out << u.name << u.properties;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, AuxUnit &u)
{
    in.beginStructure();
    in >> u.name >> u.properties;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const ExecCommand &c)
{
    out.beginStructure();
    out << c.path << c.argv << c.ignoreFailure;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, ExecCommand &c)
{
    in.beginStructure();
    in >> c.path >> c.argv >> c.ignoreFailure;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const CalendarTimer &t)
{
    out.beginStructure();
    out << t.base << t.spec;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, CalendarTimer &t)
{
    in.beginStructure();
    in >> t.base >> t.spec;
    in.endStructure();
    return in;
}

template <typename T> UnitProperty unitProperty(const char *name, const T &value)
{
    return {QString::fromLatin1(name), QDBusVariant(QVariant::fromValue(value))};
}

QDBusMessage managerCall(const char *method)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kManager), QString::fromLatin1(method));
    call.setAutoStartService(false);
    call.setInteractiveAuthorizationAllowed(false);
    return call;
}

// What a window and a sound need of the session, as the person's program has it now.
QStringList sessionEnvironment()
{
    static const char *const kNames[] = {
        "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",   "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS",
        "LANG",    "LANGUAGE",        "PULSE_SERVER", "QT_QPA_PLATFORM"};
    QStringList result;
    for (char **entry = environ; entry && *entry; ++entry) {
        const char *equals = std::strchr(*entry, '=');
        if (!equals || equals[1] == '\0')
            continue;
        const QByteArray name(*entry, equals - *entry);
        bool wanted = name.startsWith("LC_");
        for (const char *known : kNames)
            wanted = wanted || name == known;
        if (wanted)
            result.append(QString::fromLocal8Bit(*entry));
    }
    return result;
}

// The manager answered and said no, as against no manager at all.
bool refused(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Disconnected:
    case QDBusError::Timeout:
    case QDBusError::NoServer:
        return false;
    default:
        return error.name() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
    }
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<UnitProperty>();
        qDBusRegisterMetaType<UnitProperties>();
        qDBusRegisterMetaType<AuxUnit>();
        qDBusRegisterMetaType<QList<AuxUnit>>();
        qDBusRegisterMetaType<ExecCommand>();
        qDBusRegisterMetaType<QList<ExecCommand>>();
        qDBusRegisterMetaType<CalendarTimer>();
        qDBusRegisterMetaType<QList<CalendarTimer>>();
        return true;
    }();
    (void)registered;
}

} // namespace

ProgramCopy ProgramCopy::running()
{
    ProgramCopy copy;
    copy.executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!copy.executable.isEmpty())
        copy.id = QString::fromLatin1(
            QCryptographicHash::hash(copy.executable.toUtf8(), QCryptographicHash::Sha256)
                .toHex()
                .left(16));
    return copy;
}

AlarmLock::AlarmLock(const ProgramCopy &copy)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!copy.id.isEmpty() && QFileInfo(runtime).isAbsolute() && QFileInfo(runtime).isDir())
        m_path = runtime + QStringLiteral("/roustabell-") + copy.id + QStringLiteral(".lock");
}

AlarmLock::~AlarmLock()
{
    release();
}

bool AlarmLock::hold()
{
    if (m_fd >= 0)
        return true;
    if (m_path.isEmpty())
        return false;
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void AlarmLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

QString checkArgument(const HandedOverAlarm &alarm)
{
    // Letters, digits, '-' and '_' only: the manager reads '$' and '%' in a command line.
    return QString::fromLatin1(kCheckOption) + QString::number(alarm.moment.toSecsSinceEpoch()) +
           QLatin1Char(':') +
           QString::fromLatin1(alarm.soundFile.toUtf8().toBase64(QByteArray::Base64UrlEncoding |
                                                                 QByteArray::OmitTrailingEquals));
}

std::optional<HandedOverAlarm> parseCheckArgument(int argc, char *argv[])
{
    if (argc != 2 || !QByteArray(argv[1]).startsWith(kCheckOption))
        return std::nullopt;
    const QByteArray value = QByteArray(argv[1]).mid(int(std::strlen(kCheckOption)));
    const qsizetype colon = value.indexOf(':');
    bool ok = false;
    const qint64 seconds = value.left(colon).toLongLong(&ok);
    if (colon < 0 || !ok)
        return std::nullopt;
    const auto file = QByteArray::fromBase64Encoding(value.mid(colon + 1),
                                                     QByteArray::Base64UrlEncoding |
                                                         QByteArray::AbortOnBase64DecodingErrors);
    if (!file)
        return std::nullopt;
    return HandedOverAlarm{QDateTime::fromSecsSinceEpoch(seconds), QString::fromUtf8(*file)};
}

SystemdAlarmTimer::SystemdAlarmTimer(const ProgramCopy &copy, bool lockAvailable)
    : m_copy(copy), m_lockAvailable(lockAvailable)
{
}

SystemdAlarmTimer::SystemdAlarmTimer(const ProgramCopy &copy, bool lockAvailable,
                                     const QDBusConnection &bus)
    : m_copy(copy), m_lockAvailable(lockAvailable), m_bus(bus)
{
}

SystemdAlarmTimer::~SystemdAlarmTimer()
{
    cancelBeforeExit();
}

void SystemdAlarmTimer::schedule(const QDateTime &moment, const QString &soundFile)
{
    cancel();
    // Without the lock a check could not tell that this program still rings the alarm.
    if (!moment.isValid() || !m_lockAvailable || m_copy.id.isEmpty())
        return;
    m_alarm = {moment, soundFile};
    start();
}

void SystemdAlarmTimer::cancel()
{
    m_requestedTimer.clear();
    m_timer.withdraw();
}

void SystemdAlarmTimer::cancelBeforeExit()
{
    m_requestedTimer.clear();
    m_timer.withdrawBeforeExit();
}

void SystemdAlarmTimer::start()
{
    if (!reachBus(m_bus, &QDBusConnection::sessionBus))
        return;
    registerTypes();
    if (!m_subscribed) {
        // The manager reports a job's end only to those who asked.
        m_subscribed =
            m_bus->connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                           QString::fromLatin1(kManager), QStringLiteral("JobRemoved"), this,
                           SLOT(jobRemoved(uint, QDBusObjectPath, QString, QString)));
        m_bus->asyncCall(managerCall("Subscribe"), kCallTimeoutMs);
    }

    stopOrphans();

    // A name of its own for each request: a stopped unit lingers a moment
    // before the manager lets its name go.
    const QString base = QStringLiteral("roustabell-%1-%2-%3")
                             .arg(m_copy.id)
                             .arg(QCoreApplication::applicationPid())
                             .arg(++m_serial);
    const QString timer = base + QStringLiteral(".timer");
    m_requestedTimer = timer;
    const QString collect = QStringLiteral("inactive-or-failed");
    UnitProperties timerProperties{
        unitProperty("Description", QStringLiteral("ROUSTABELL alarm")),
        unitProperty("TimersCalendar",
                     QList<CalendarTimer>{
                         {QStringLiteral("OnCalendar"),
                          m_alarm.moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                              QStringLiteral(" UTC")}}),
        unitProperty("AccuracyUSec", qulonglong(1000000)), unitProperty("RemainAfterElapse", false),
        unitProperty("CollectMode", collect)};
    if (m_wakeSystem)
        timerProperties.append(unitProperty("WakeSystem", true));
    const UnitProperties serviceProperties{
        unitProperty("Description", QStringLiteral("ROUSTABELL alarm check")),
        unitProperty("ExecStart",
                     QList<ExecCommand>{
                         {m_copy.executable, {m_copy.executable, checkArgument(m_alarm)}, false}}),
        unitProperty("Environment", sessionEnvironment()), unitProperty("CollectMode", collect)};

    QDBusMessage call = managerCall("StartTransientUnit");
    call << timer << QStringLiteral("fail") << QVariant::fromValue(timerProperties)
         << QVariant::fromValue(
                QList<AuxUnit>{{base + QStringLiteral(".service"), serviceProperties}});
    const bool wake = m_wakeSystem;
    m_timer.request(
        *m_bus, call, kCallTimeoutMs,
        [this, timer, wake](const QDBusPendingCall &answer, bool wanted) -> std::optional<QString> {
            if (!answer.isError())
                return timer;
            // A refused wake-up must not cost the alarm: asked again without it.
            if (wanted && wake && refused(answer.error())) {
                m_wakeSystem = false;
                start();
            }
            return std::nullopt;
        });
}

void SystemdAlarmTimer::stopOrphans()
{
    // A run of this copy that was killed left its timer behind; a new Set
    // replaces it, as it replaces this run's own. Timers of a run still alive
    // (the person started this copy twice) stay theirs.
    QDBusMessage call = managerCall("ListUnitsByPatterns");
    call << QStringList()
         << QStringList{QStringLiteral("roustabell-") + m_copy.id + QStringLiteral("-*.timer")};
    callAsync(*m_bus, call, kCallTimeoutMs, &m_calls, [this](const QDBusPendingCall &answer) {
        if (answer.isError())
            return;
        const QDBusArgument units = answer.reply().arguments().value(0).value<QDBusArgument>();
        units.beginArray();
        while (!units.atEnd()) {
            QString name, ignored;
            QDBusObjectPath path, job;
            uint jobId = 0;
            units.beginStructure();
            units >> name >> ignored >> ignored >> ignored >> ignored >> ignored >> path >> jobId >>
                ignored >> job;
            units.endStructure();
            const qint64 pid = name.section(QLatin1Char('-'), 2, 2).toLongLong();
            if (pid > 0 && pid != QCoreApplication::applicationPid() &&
                ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                m_bus->asyncCall(stopCall(name), kCallTimeoutMs);
        }
        units.endArray();
    });
}

void SystemdAlarmTimer::jobRemoved(uint, const QDBusObjectPath &, const QString &unit,
                                   const QString &result)
{
    // systemd before 254 takes the timer, then fails it for want of the right to wake.
    if (unit != m_requestedTimer || result == QLatin1String("done") || !m_wakeSystem)
        return;
    m_wakeSystem = false;
    m_timer.withdraw();
    start();
}

QDBusMessage SystemdAlarmTimer::stopCall(const QString &timer)
{
    QDBusMessage call = managerCall("StopUnit");
    call << timer << QStringLiteral("replace");
    return call;
}
