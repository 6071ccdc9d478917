// The program in GNOME Shell and KWin as Debian 12 has them, nested in the test
// X server with XWayland and private buses. XWayland takes displays from :0 up,
// so the suite runs in mount and network namespaces of its own.
#include "config/configstore.h"
#include "support/files.h"
#include "support/wavfile.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Polls by the clock: QTRY_* counts its steps, however long each check takes.
#define WAIT_FOR(condition, ms) QVERIFY(QTest::qWaitFor([&] { return bool(condition); }, ms))

namespace {

const QString kMain = "Quillon's Clamorific Alarm Clock Thingy";
const QString kTest = "AWAKE???     AWARE???   PROVE IT!!!";
QString g_isolationProblem;
QByteArray g_hostSockets;

// Before any thread starts, so that every process started later is inside;
// the test X server stays reachable through a link to its socket.
void isolate()
{
    const QByteArray host = "/tmp/roustabell-shells-host-" + QByteArray::number(getpid());
    const QByteArray socket = "/X" + qgetenv("DISPLAY").mid(1);
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

QString run(const QProcessEnvironment &env, const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(15000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Each process leads a group that goes with it: whatever it or its bus started.
void stop(QProcess &process)
{
    if (const auto group = pid_t(process.processId()); group > 0) {
        ::kill(-group, SIGTERM);
        process.waitForFinished(5000);
        ::kill(-group, SIGKILL);
    }
    process.waitForFinished(5000);
}

struct Shown
{
    bool found = false, hidden = false, focused = false, attention = false;
    bool front() const { return focused && !hidden; }
};

} // namespace

class tst_E2eShells : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_programDir = m_dir.filePath("program");
    QProcessEnvironment m_host = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment m_session;
    QProcess m_bus, m_systemBus, m_mock, m_systemd, m_shell, m_program, m_other;
    QString m_kind, m_shellWindow;
    int m_scripts = 0;

    void started(QProcess &process, const QString &program, const QStringList &arguments,
                 const QProcessEnvironment &env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setChildProcessModifier([] { ::setsid(), ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.start(program, arguments);
    }

    QString busAddress(QProcess &bus)
    {
        started(bus, "dbus-daemon", {"--session", "--nofork", "--print-address=1"}, m_session);
        bus.waitForReadyRead(10000);
        return QString::fromUtf8(bus.readLine()).trimmed();
    }

    // The windows the shell shows, as the shell itself tells.
    Shown shown(const QString &title)
    {
        Shown result;
        if (m_kind == "gnome") {
            QDBusInterface gnome("org.gnome.Shell.Introspect", "/org/gnome/Shell/Introspect",
                                 "org.gnome.Shell.Introspect", QDBusConnection("private"));
            for (const QVariantMap &window : qdbus_cast<QMap<qulonglong, QVariantMap>>(
                     gnome.call("GetWindows").arguments().value(0)))
                if (window.value("title").toString().simplified() == title.simplified())
                    result = {true, window.value("is-hidden").toBool(),
                              window.value("has-focus").toBool()};
            return result;
        }
        // KWin tells through a script of its own, printed to its output.
        const QStringList fields =
            kwin(title,
                 "print('state|' + c.minimized + '|' + c.active + '|' + c.demandsAttention);")
                .section("js: state|", -1)
                .section('\n', 0, 0)
                .split('|');
        if (fields.size() == 3)
            result = {true, fields[0] == "true", fields[1] == "true", fields[2] == "true"};
        return result;
    }

    // Runs a KWin script on the window titled so, as c; returns what it printed.
    QString kwin(const QString &title, const QString &body)
    {
        const QString done = "done-" + QString::number(++m_scripts);
        QFile script(m_dir.filePath(done + ".js"));
        script.open(QIODevice::WriteOnly);
        script.write(QString("for (const c of workspace.clientList()) if "
                             "(c.caption.split(/\\s+/).join(' ') == \"%1\") { %2 }"
                             " print('%3');")
                         .arg(title.simplified(), body, done)
                         .toUtf8());
        script.close();
        QDBusInterface scripting("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 QDBusConnection("private"));
        scripting.call("loadScript", script.fileName(), done);
        scripting.call("start");
        const bool ran =
            QTest::qWaitFor([&] { return m_shell.peek(1 << 22).contains(done.toUtf8()); }, 2000);
        scripting.call("unloadScript", done);
        return ran ? QString::fromUtf8(m_shell.readAll()) : QString();
    }

    void keys(const QStringList &names)
    {
        // The nested shell's window on the test X server takes the keys.
        run(m_host, "xdotool", {"windowfocus", "--sync", m_shellWindow});
        for (const QString &name : names)
            run(m_host, "xdotool", {"key", "--clearmodifiers", "--delay", "80", name});
    }

    // The shell's own minimize: GNOME's Super+H; KWin's, by its scripting.
    void minimize(const QString &title)
    {
        m_kind == "gnome" ? keys({"super+h"}) : void(kwin(title, "c.minimized = true;"));
    }

    void startShell(const QString &kind)
    {
        m_kind = kind;
        // XWayland's socket: the first besides the test's, once old ones are gone.
        const QString host = "X" + m_host.value("DISPLAY").mid(1);
        QDir sockets("/tmp/.X11-unix", "X*", QDir::Name, QDir::System);
        for (const QString &name : sockets.entryList())
            QVERIFY(name == host || sockets.remove(name));
        const QString runtime = m_dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkdir(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner));
        m_session = m_host;
        // On the path, as installed: an entry whose program is not found is hidden.
        m_session.insert("PATH", m_programDir + ':' + m_host.value("PATH"));
        for (const char *name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY"})
            m_session.remove(name);
        const QString address = busAddress(m_bus);
        QVERIFY(QDBusConnection::connectToBus(address, "private").isConnected());
        for (const auto &[name, value] : {std::pair{"XDG_RUNTIME_DIR", runtime},
                                          {"HOME", m_dir.filePath("home")},
                                          {"GSETTINGS_BACKEND", "memory"},
                                          {"DBUS_SESSION_BUS_ADDRESS", address}})
            m_session.insert(name, value);
        const QString socket = "wl-" + kind;
        QProcessEnvironment env = m_session;
        if (kind == "gnome") {
            // GNOME Shell needs a login manager on a system bus.
            env.insert("DBUS_SYSTEM_BUS_ADDRESS", busAddress(m_systemBus));
            started(m_mock, "/usr/bin/python3",
                    {"-m", "dbusmock", "--system", "--template", "logind"}, env);
            run(env, "gdbus", {"wait", "--system", "--timeout", "10", "org.freedesktop.login1"});
            // As if in a unit of the session's systemd, which then runs ibus (GNOME's
            // own spawn of it hangs now and then); XWayland starts with its first client.
            started(m_systemd, "/usr/bin/python3",
                    {"-m", "dbusmock", "--session", "--template", "systemd"}, env);
            run(env, "gdbus", {"wait", "--session", "--timeout", "10", "org.freedesktop.systemd1"});
            for (const char *unit :
                 {"org.freedesktop.IBus.session.GNOME.service",
                  "gnome-session-x11-services-ready.target", "gnome-session-x11-services.target"})
                run(env, "gdbus",
                    {"call", "--session", "--dest", "org.freedesktop.systemd1", "--object-path",
                     "/org/freedesktop/systemd1", "--method",
                     "org.freedesktop.DBus.Mock.AddMockUnit", unit});
            const QString cgroup = m_dir.filePath("cgroup");
            QVERIFY(writeBytes(
                cgroup,
                "0::/user@0.service/a.service\n1:name=systemd:/user@0.service/a.service\n"));
            started(m_shell, "sh",
                    {"-c", "mount --bind \"$0\" /proc/$$/cgroup && exec gnome-shell \"$@\"", cgroup,
                     "--nested", "--wayland", "--mode=user", "--wayland-display=" + socket},
                    env);
        } else {
            started(m_mock, "/usr/bin/python3",
                    {"-m", "dbusmock", "--template", "notification_daemon"}, env);
            // The packaged executable carries a capability that keeps it from
            // running nested; a copy carries none.
            const QString kwin = m_dir.filePath("kwin_wayland");
            QVERIFY(QFile::exists(kwin) || QFile::copy("/usr/bin/kwin_wayland", kwin));
            started(m_shell, kwin,
                    {"--x11-display", m_host.value("DISPLAY"), "--xwayland", "--socket", socket},
                    env);
        }
        const QStringList byPid = {"search", "--onlyvisible", "--limit",
                                   "1",      "--pid",         QString::number(m_shell.processId())};
        QStringList xwayland;
        const auto up = [&] {
            sockets.refresh();
            (xwayland = sockets.entryList()).removeOne(host);
            return !xwayland.isEmpty() && QFile::exists(runtime + '/' + socket) &&
                   QDBusConnection("private").interface()->isServiceRegistered(
                       "org.freedesktop.Notifications") &&
                   !(m_shellWindow = run(m_host, "xdotool", byPid)).isEmpty();
        };
        QVERIFY2(QTest::qWaitFor(up, 30000),
                 qPrintable(kind + " did not start:\n" + QString::fromUtf8(m_shell.peek(1 << 16))));
        m_session.insert("XDG_SESSION_TYPE", "wayland");
        m_session.insert("WAYLAND_DISPLAY", socket);
        m_session.insert("DISPLAY", ":" + xwayland.constFirst().mid(1));
        if (const QStringList cookies =
                QDir(runtime).entryList({".mutter-Xwaylandauth.*"}, QDir::Files | QDir::Hidden);
            !cookies.isEmpty())
            m_session.insert("XAUTHORITY", QDir(runtime).filePath(cookies.constFirst()));
        // The shell's introspection answers the names of portals only.
        if (kind == "gnome")
            QVERIFY(QDBusConnection("private").registerService(
                "org.freedesktop.impl.portal.desktop.gnome"));
        // The pointer off GNOME's hot corner.
        run(m_host, "xdotool", {"mousemove", "--window", m_shellWindow, "400", "590"});
        // GNOME starts in its overview, which it then leaves only when asked.
        QDBusInterface gnome("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell",
                             QDBusConnection("private"));
        const auto overview = [&gnome] { return gnome.property("OverviewActive"); };
        WAIT_FOR(kind != "gnome" || overview() == true, 10000);
        WAIT_FOR(kind != "gnome" ||
                     (gnome.setProperty("OverviewActive", false), overview() == false),
                 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString why = g_isolationProblem;
        for (const QString package : {"gnome-shell", "gjs", "kwin_wayland", "Xwayland", "xdotool"})
            if (why.isEmpty() && QStandardPaths::findExecutable(package).isEmpty())
                why = "needs the Debian package " + package.toLower().replace('_', '-');
        if (!why.isEmpty()) {
            if (qEnvironmentVariableIntValue("ROUSTABELL_REQUIRE_WAYLAND") == 1)
                QFAIL(qPrintable(why + ", but the desktop shells are required"));
            QSKIP(qPrintable(why));
        }
        // Installed as its package installs it: the shells name it by its entry.
        const QString data = m_dir.filePath("home/.local/share/");
        QVERIFY(QDir().mkpath(m_programDir) && QDir().mkpath(data + "applications") &&
                QDir().mkpath(data + "gnome-shell"));
        QVERIFY(QFile::copy(ROUSTABELL_SOURCE_DIR "/dist/linux/roustabell.desktop",
                            data + "applications/roustabell.desktop"));
        // GNOME's one-time warning of no lock screen, out of the banner's way.
        QVERIFY(QFile(data + "gnome-shell/lock-warning-shown").open(QIODevice::WriteOnly));
        const QFileInfo executable(QStringLiteral(ROUSTABELL_EXECUTABLE));
        for (const char *file : {"roustabell", "libroustabell-sound.so", "roustabell.wav"})
            QVERIFY(
                QFile::copy(executable.dir().filePath(file), QDir(m_programDir).filePath(file)));
        QVERIFY(writeToneWav(m_dir.filePath("tone.wav"), 1000.0, 1.0));
    }

    void cleanup()
    {
        for (QProcess *process :
             {&m_program, &m_other, &m_shell, &m_systemd, &m_mock, &m_systemBus, &m_bus})
            stop(*process);
        QDBusConnection::disconnectFromBus("private");
    }

    void cleanupTestCase()
    {
        if (!g_hostSockets.isEmpty() && ::umount2(g_hostSockets.constData(), MNT_DETACH) == 0)
            ::rmdir(g_hostSockets.constData());
    }

    void alarmComesToThePerson_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<bool>("native");
        // At the firing the window is behind another program's, or minimized.
        QTest::addColumn<QString>("at");
        // Whether the shell lets the firing take the focus (GNOME: now and then);
        // else one click on the notification (without plasmashell: the task) does.
        QTest::addColumn<bool>("byItself");
        // The shell's minimize on the awareness test: refused, or the test is back.
        QTest::addColumn<QString>("testMinimized");
        for (const QString at : {"behind", "minimized"})
            for (const bool native : {false, true}) {
                const QByteArray tag = (native ? "-native-" : "-xwayland-") + at.toLatin1();
                QTest::newRow("gnome" + tag)
                    << "gnome" << native << at << false << (native ? "back" : "refused");
                QTest::newRow("kwin" + tag) << "kwin" << native << at << !native << "back";
            }
    }

    void alarmComesToThePerson()
    {
        QFETCH(QString, shell);
        QFETCH(bool, native);
        QFETCH(QString, at);
        QFETCH(bool, byItself);
        QFETCH(QString, testMinimized);
        startShell(shell);
        if (QTest::currentTestFailed())
            return;
        if (native)
            m_session.insert("QT_QPA_PLATFORM", "wayland");
        // Set, five places after the test button that has the focus.
        const QDateTime moment = QDateTime::currentDateTime().addSecs(10);
        configstore::saveSettings(m_programDir, m_dir.filePath("tone.wav"),
                                  moment.toString("H:mm:ss"));
        configstore::saveQuestions(m_programDir, {{"Say yes", "yes"}});
        started(m_program, QDir(m_programDir).filePath("roustabell"), {}, m_session);
        WAIT_FOR(shown(kMain).focused, 20000);
        keys({"Tab", "Tab", "Tab", "Tab", "Tab", "space"});
        if (at == "minimized") {
            minimize(kMain);
            WAIT_FOR(shown(kMain).hidden, 5000);
        }
        started(m_other, "xmessage", {"-title", "other", "another program"}, m_session);
        WAIT_FOR(shown("other").focused, 10000);
        keys({"a"}); // the person's last input, which the shell weighs
        QVERIFY2(QDateTime::currentDateTime() < moment, "too slow to see the firing");

        // In front with the focus within two seconds (one more for the tick).
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(moment)));
        const bool came = QTest::qWaitFor([&] { return shown(kMain).front(); }, 3000);
        const bool above = run(m_session, "xprop", {"-name", kMain, "_NET_WM_STATE"})
                               .contains("_NET_WM_STATE_ABOVE");
        qInfo("%s: in front by itself: %d, kept above: %d", QTest::currentDataTag(), came, above);
        QVERIFY(came || !byItself);
        QCOMPARE(above, !native);
        if (!came) {
            QVERIFY(m_kind == "gnome" || shown(kMain).attention);
            // Picked as a person would: GNOME's banner, at the top of its
            // screen; without a notification server of its own (no plasmashell),
            // KWin's window on the task it marks, as its task manager would.
            if (m_kind == "gnome")
                run(m_host, "xdotool",
                    {"mousemove", "--window", m_shellWindow, "400", "60", "click", "1"});
            else
                kwin(kMain, "c.minimized = false; workspace.activeClient = c;");
            WAIT_FOR(shown(kMain).front(), 3000);
        }

        // Stop opens the test; the shell's minimize cannot hide it.
        keys({"shift+Tab", "shift+Tab", "space"});
        WAIT_FOR(shown(kTest).front(), 5000);
        minimize(kTest);
        QCOMPARE(QTest::qWaitFor([&] { return shown(kTest).hidden; }, 1000),
                 testMinimized == "back");
        WAIT_FOR(shown(kTest).front(), 1500);
        if (const QString folder = qEnvironmentVariable("ROUSTABELL_SCREENSHOT_DIR");
            QTest::currentDataTag() == QByteArray("gnome-xwayland-behind") && !folder.isEmpty())
            run(m_host, "import", {"-window", m_shellWindow, folder + "/gnome-shell.png"});
        keys({"y", "e", "s", "Tab", "space"});
        WAIT_FOR(!shown(kTest).found, 5000);
    }
};

int main(int argc, char *argv[])
{
    isolate();
    QCoreApplication app(argc, argv);
    tst_E2eShells test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_shells.moc"
