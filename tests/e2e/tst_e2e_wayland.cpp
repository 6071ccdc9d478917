// The real program in a Wayland session of mutter, nested in the test X
// server, with XWayland, a private session bus and a notification stand-in.
// XWayland takes display numbers from :0 up, so the suite runs in mount and
// network namespaces of its own: a private /tmp/.X11-unix and private
// abstract sockets keep it from anything else on the machine.
#include "config/configstore.h"
#include "support/wavfile.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kTitle = "Quillon's Clamorific Alarm Clock Thingy";
QString g_isolationProblem;
QByteArray g_hostSockets;

// Before any thread starts, so that every process started later is inside;
// the test X server stays reachable through a link to its socket.
void isolate()
{
    const QRegularExpressionMatch display =
        QRegularExpression(R"(^:(\d+)$)").match(qEnvironmentVariable("DISPLAY"));
    if (!display.hasMatch()) {
        g_isolationProblem = "needs the test X server on a local display (DISPLAY=:N)";
        return;
    }
    const QByteArray host = "/tmp/roustabell-wayland-host-" + QByteArray::number(getpid());
    const QByteArray socket = "/X" + display.captured(1).toLatin1();
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mkdir(host.constData(), 0700) != 0 ||
        ::mount("/tmp/.X11-unix", host.constData(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount("tmpfs", "/tmp/.X11-unix", "tmpfs", 0, "mode=1777") != 0 ||
        ::symlink((host + socket).constData(), ("/tmp/.X11-unix" + socket).constData()) != 0)
        g_isolationProblem = "cannot make private namespaces and /tmp/.X11-unix (needs root): " +
                             QString::fromLocal8Bit(std::strerror(errno));
    else
        g_hostSockets = host;
}

QString run(const QProcessEnvironment &env, const QString &program, const QStringList &arguments,
            bool *ok = nullptr)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(15000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void stop(QProcess &process)
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace

class tst_E2eWayland : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_programDir = m_dir.filePath("program");
    QProcessEnvironment m_host = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment m_session;
    QProcess m_bus, m_mock, m_mutter, m_program, m_other;

    QString missing()
    {
        if (!g_isolationProblem.isEmpty())
            return g_isolationProblem;
        const QString plugin =
            QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so";
        for (const auto &[file, package] :
             {std::pair{QStandardPaths::findExecutable("mutter"), "mutter"},
              {QStandardPaths::findExecutable("Xwayland"), "xwayland"},
              {QStandardPaths::findExecutable("xdotool"), "xdotool"},
              {QStandardPaths::findExecutable("dbus-daemon"), "dbus-daemon"},
              {QFile::exists(plugin) ? plugin : QString(), "qt6-wayland"}}) {
            if (file.isEmpty())
                return QString("needs the Debian package %1").arg(package);
        }
        return {};
    }

    // The arguments of every call of method that the notification server had.
    QList<QVariantList> notifications(const QString &method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.DBus.Mock", "GetMethodCalls");
        const QDBusMessage reply = QDBusConnection("private").call(call << method);
        QList<QVariantList> result;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return result;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            qulonglong when = 0;
            QVariantList args;
            list.beginStructure();
            list >> when >> args;
            list.endStructure();
            result.append(args);
        }
        list.endArray();
        return result;
    }

    // Typed on the test X server, keys reach the compositor's window and
    // through it the Wayland or X client with its focus.
    bool keys(const QStringList &names)
    {
        bool ok = true;
        for (const QString &name : names) {
            run(m_host, "xdotool", {"key", "--clearmodifiers", name}, &ok);
            QTest::qWait(80);
        }
        return ok;
    }

    QString activeOnXWayland()
    {
        return run(m_session, "xdotool", {"getactivewindow", "getwindowname"});
    }

    void screenshot(const QString &name)
    {
        if (const QString folder = qEnvironmentVariable("ROUSTABELL_SCREENSHOT_DIR");
            !folder.isEmpty())
            run(m_host, "import", {"-window", "root", QDir(folder).filePath(name)});
    }

    // Starts the program with its settings stored for seconds from now.
    void startArmed(const QProcessEnvironment &env, int seconds)
    {
        const QString time = QDateTime::currentDateTime().addSecs(seconds).toString("H:mm:ss");
        QVERIFY(configstore::saveSettings(m_programDir, m_dir.filePath("tone.wav"), time)
                    .message()
                    .isEmpty());
        m_program.setProcessEnvironment(env);
        m_program.setStandardErrorFile(m_dir.filePath("program.log"));
        m_program.start(QDir(m_programDir).filePath("roustabell"));
        QVERIFY(m_program.waitForStarted(5000));
    }

    // Set, five places after the test button that has the focus, saves again.
    bool pressSet()
    {
        const QString config = configstore::filePath(m_programDir);
        const QDateTime written = QFileInfo(config).lastModified();
        keys({"Tab", "Tab", "Tab", "Tab", "Tab", "space"});
        return QTest::qWaitFor([&] { return QFileInfo(config).lastModified() > written; }, 5000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString why = missing(); !why.isEmpty()) {
            if (qEnvironmentVariableIntValue("ROUSTABELL_REQUIRE_WAYLAND") == 1)
                QFAIL(qPrintable(why + ", but a Wayland compositor is required"));
            QSKIP(qPrintable(why));
        }
        // The program in a folder of its own, where it keeps its settings.
        QVERIFY(QDir().mkpath(m_programDir));
        const QFileInfo executable(QStringLiteral(ROUSTABELL_EXECUTABLE));
        for (const char *file : {"roustabell", "libroustabell-sound.so", "roustabell.wav"})
            QVERIFY(
                QFile::copy(executable.dir().filePath(file), QDir(m_programDir).filePath(file)));
        QVERIFY(writeToneWav(m_dir.filePath("tone.wav"), 1000.0, 1.0));

        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
        const QString address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(QDBusConnection::connectToBus(address, "private").isConnected());
        const QString runtime = m_dir.filePath("runtime");
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner));
        m_session = m_host;
        for (const char *name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY"})
            m_session.remove(name);
        m_session.insert("DBUS_SESSION_BUS_ADDRESS", address);
        m_session.insert("XDG_RUNTIME_DIR", runtime);
        m_mock.setProcessEnvironment(m_session);
        m_mock.start("/usr/bin/python3", {"-m", "dbusmock", "--template", "notification_daemon"});
        const QString socket = QString("roustabell-%1").arg(QCoreApplication::applicationPid());
        m_mutter.setProcessEnvironment(m_session);
        m_mutter.setProcessChannelMode(QProcess::MergedChannels);
        m_mutter.start("mutter", {"--nested", "--wayland", "--wayland-display=" + socket});
        QVERIFY(m_mutter.waitForStarted(5000));
        QString xwayland;
        const auto started = [&] {
            xwayland = QRegularExpression(R"(Using public X11 display (:\d+))")
                           .match(QString::fromUtf8(m_mutter.peek(1 << 20)))
                           .captured(1);
            return !xwayland.isEmpty() && QFile::exists(runtime + '/' + socket);
        };
        QTRY_VERIFY_WITH_TIMEOUT(started() || m_mutter.state() != QProcess::Running, 30000);
        QVERIFY2(started(), qPrintable("mutter did not start with XWayland:\n" +
                                       QString::fromUtf8(m_mutter.peek(1 << 20))));
        const QStringList cookies =
            QDir(runtime).entryList({".mutter-Xwaylandauth.*"}, QDir::Files | QDir::Hidden);
        QVERIFY2(!cookies.isEmpty(), "mutter left no XWayland cookie in its runtime folder");
        m_session.insert("XAUTHORITY", QDir(runtime).filePath(cookies.constFirst()));
        m_session.insert("XDG_SESSION_TYPE", "wayland");
        m_session.insert("WAYLAND_DISPLAY", socket);
        m_session.insert("DISPLAY", xwayland);
        bool up = false;
        QTRY_VERIFY_WITH_TIMEOUT((run(m_session, "xdpyinfo", {}, &up), up), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection("private").interface()->isServiceRegistered(
                                     "org.freedesktop.Notifications"),
                                 20000);
        QTRY_COMPARE_WITH_TIMEOUT(run(m_host, "xdotool", {"getactivewindow", "getwindowname"}),
                                  QString("mutter"), 10000);
    }

    void cleanup()
    {
        stop(m_program);
        stop(m_other);
    }

    void cleanupTestCase()
    {
        for (QProcess *process : {&m_mutter, &m_mock, &m_bus})
            stop(*process);
        if (!g_hostSockets.isEmpty() && ::umount2(g_hostSockets.constData(), MNT_DETACH) == 0)
            ::rmdir(g_hostSockets.constData());
    }

    void xwaylandBringsTheWindowForward()
    {
        startArmed(m_session, 14);
        // Among XWayland's windows: with no platform chosen, it chose X11.
        QString id;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(id = run(m_session, "xdotool", {"search", "--onlyvisible", "--name", kTitle}))
                 .isEmpty(),
            20000);
        id = id.section('\n', 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(activeOnXWayland(), kTitle, 10000);
        QVERIFY(pressSet());
        // Minimized, and another program's window in front with the focus.
        const auto state = [&] { return run(m_session, "xprop", {"-id", id, "_NET_WM_STATE"}); };
        run(m_session, "xdotool", {"windowminimize", id});
        m_other.setProcessEnvironment(m_session);
        m_other.start("xmessage", {"-title", "other", "another program"});
        QTRY_COMPARE_WITH_TIMEOUT(activeOnXWayland(), QString("other"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(state().contains("HIDDEN"), 5000);
        QVERIFY(notifications("Notify").isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(notifications("Notify").size(), qsizetype(1), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(activeOnXWayland(), kTitle, 5000);
        QVERIFY2(!state().contains("HIDDEN"), qPrintable(state()));
        const QVariantList notify = notifications("Notify").constFirst();
        QVERIFY2(notify.value(4).toString().startsWith("Alarm for "),
                 qPrintable(notify.value(4).toString()));
        QCOMPARE(notify.value(5).toStringList(), (QStringList{"default", "Show ROUSTABELL"}));
        QTest::qWait(500);
        screenshot("wayland-mutter-xwayland.png");
        QVERIFY(notifications("CloseNotification").isEmpty());
        // Stop is two places before Set, which kept the focus.
        QVERIFY(keys({"shift+Tab", "shift+Tab", "space"}));
        QTRY_COMPARE_WITH_TIMEOUT(notifications("CloseNotification"), QList<QVariantList>{{1u}},
                                  5000);
    }

    void nativeWaylandAsksForActivation()
    {
        QProcessEnvironment env = m_session;
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.insert("WAYLAND_DEBUG", "client");
        const qsizetype notified = notifications("Notify").size();
        const qsizetype closed = notifications("CloseNotification").size();
        QVERIFY(configstore::saveQuestions(m_programDir, {{"Say yes", "yes"}}).message().isEmpty());
        startArmed(env, 12);
        QFile log(m_dir.filePath("program.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QString seen;
        const auto requests = [&](const char *pattern) {
            seen += QString::fromUtf8(log.readAll());
            return seen.count(QRegularExpression(pattern));
        };
        // Up once the main window has the keyboard.
        QTRY_VERIFY_WITH_TIMEOUT(requests(R"(wl_keyboard@\d+\.enter\()") > 0, 20000);
        QVERIFY(pressSet());
        const qsizetype before = requests(R"(xdg_activation_v1@\d+\.activate\()");

        QTRY_COMPARE_WITH_TIMEOUT(notifications("Notify").size(), notified + 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(requests(R"(xdg_activation_v1@\d+\.activate\()") > before, 5000);
        // The awareness test, without a frame; the notification stays until
        // the answer.
        QVERIFY(keys({"shift+Tab", "shift+Tab", "space"}));
        QTest::qWait(1500);
        screenshot("wayland-mutter-native.png");
        QCOMPARE(notifications("CloseNotification").size(), closed);
        QVERIFY(keys({"y", "e", "s", "Tab", "space"}));
        QTRY_COMPARE_WITH_TIMEOUT(notifications("CloseNotification").size(), closed + 1, 5000);
    }
};

int main(int argc, char *argv[])
{
    isolate();
    QCoreApplication app(argc, argv);
    tst_E2eWayland test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_wayland.moc"
