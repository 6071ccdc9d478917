// Starts a program and times how long it takes until the window manager lists
// a client window with a given title; then, optionally, keeps it running and
// reads its memory, CPU time and context switches from /proc. Prints
// key=value lines on stdout. Plain Xlib, so that it measures every program the
// same way and adds no toolkit of its own to the timing.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

volatile pid_t g_child = 0;

// Interrupted, the program goes with us: it runs in a process group of its own
// and would not see the terminal's signal.
void onSignal(int signal)
{
    if (g_child > 0)
        kill(-g_child, SIGTERM);
    _exit(128 + signal);
}

struct Options
{
    std::string title;
    int timeoutMs = 20000;
    std::vector<std::string> env;
    std::string chdirTo;
    std::string afterMap;
    std::string log;
    int rssAtMs = 3000;
    double windowS = 0;
    std::vector<std::string> argv;
};

[[noreturn]] void usage()
{
    std::fprintf(
        stderr,
        "usage: mapprobe --title TEXT [options] -- PROGRAM [ARGS...]\n"
        "  --timeout-ms N     give up waiting for the window after N ms (20000)\n"
        "  --env NAME=VALUE   set a variable in the program's environment (repeatable)\n"
        "  --chdir DIR        the program's working directory\n"
        "  --log FILE         the program's stdout and stderr (default: our stderr)\n"
        "  --after-map CMD    run 'sh -c CMD' once the window is listed, and wait for it;\n"
        "                     it sees MAPPROBE_PID and MAPPROBE_WINDOW, and its stdout is ours\n"
        "  --rss-at-ms N      read VmRSS N ms after the start (3000; 0: not at all)\n"
        "  --window-s S       then count CPU time and context switches over S s (0: not)\n");
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    int i = 1;
    auto value = [&](const char *name) -> std::string {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "mapprobe: %s needs a value\n", name);
            usage();
        }
        return argv[++i];
    };
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--title")
            o.title = value("--title");
        else if (a == "--timeout-ms")
            o.timeoutMs = std::atoi(value("--timeout-ms").c_str());
        else if (a == "--env")
            o.env.push_back(value("--env"));
        else if (a == "--chdir")
            o.chdirTo = value("--chdir");
        else if (a == "--log")
            o.log = value("--log");
        else if (a == "--after-map")
            o.afterMap = value("--after-map");
        else if (a == "--rss-at-ms")
            o.rssAtMs = std::atoi(value("--rss-at-ms").c_str());
        else if (a == "--window-s")
            o.windowS = std::atof(value("--window-s").c_str());
        else
            usage();
    }
    for (; i < argc; ++i)
        o.argv.emplace_back(argv[i]);
    if (o.title.empty() || o.argv.empty())
        usage();
    return o;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Windows vanish between listing and asking; that is not an error here.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

struct Atoms
{
    Atom clientList, netWmName, utf8, netWmPid;
};

std::vector<Window> clientList(Display *dpy, Window root, const Atoms &atoms)
{
    std::vector<Window> out;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(dpy, root, atoms.clientList, 0, 1 << 16, False, XA_WINDOW, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto *ids = reinterpret_cast<const unsigned long *>(data);
        out.assign(ids, ids + count);
    }
    if (data)
        XFree(data);
    return out;
}

std::optional<std::string> stringProperty(Display *dpy, Window w, Atom property, Atom wanted)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    std::optional<std::string> out;
    if (XGetWindowProperty(dpy, w, property, 0, 4096, False, wanted, &type, &format, &count, &after,
                           &data) == Success &&
        data && type == wanted && format == 8)
        out = std::string(reinterpret_cast<const char *>(data), count);
    if (data)
        XFree(data);
    return out;
}

std::optional<long> pidOf(Display *dpy, Window w, const Atoms &atoms)
{
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    std::optional<long> out;
    if (XGetWindowProperty(dpy, w, atoms.netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && format == 32 && count == 1)
        out = static_cast<long>(*reinterpret_cast<const unsigned long *>(data));
    if (data)
        XFree(data);
    return out;
}

bool isTheWindow(Display *dpy, Window w, const Atoms &atoms, const std::string &title, pid_t pid)
{
    // Another program's window of the same title does not count.
    if (const auto owner = pidOf(dpy, w, atoms); owner && *owner != pid)
        return false;
    if (const auto name = stringProperty(dpy, w, atoms.netWmName, atoms.utf8); name == title)
        return true;
    return stringProperty(dpy, w, XA_WM_NAME, XA_STRING) == title;
}

std::map<std::string, std::string> readStatus(const std::string &path)
{
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        auto v = line.substr(colon + 1);
        v.erase(0, v.find_first_not_of(" \t"));
        out[line.substr(0, colon)] = v;
    }
    return out;
}

struct Counters
{
    long long cpuTicks = 0; // utime + stime of the whole process
    long long schedNs = 0;  // run time summed over the live threads
    long long vcswMain = 0; // main thread, as /proc/<pid>/status gives it
    long long nvcswMain = 0;
    long long cswThreads = 0; // both kinds summed over the live threads
    int threads = 0;
    bool ok = false;
};

Counters readCounters(pid_t pid)
{
    Counters c;
    const std::string base = "/proc/" + std::to_string(pid);
    {
        std::ifstream in(base + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The command name may hold blanks and parentheses; fields follow the last ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            return c;
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        // After the name, state is field 3; utime and stime are fields 14 and 15.
        for (int n = 3; n <= 15 && fields >> field; ++n) {
            if (n == 14)
                c.cpuTicks = std::atoll(field.c_str());
            else if (n == 15)
                c.cpuTicks += std::atoll(field.c_str());
        }
    }
    const auto status = readStatus(base + "/status");
    c.vcswMain = std::atoll(status.count("voluntary_ctxt_switches")
                                ? status.at("voluntary_ctxt_switches").c_str()
                                : "0");
    c.nvcswMain = std::atoll(status.count("nonvoluntary_ctxt_switches")
                                 ? status.at("nonvoluntary_ctxt_switches").c_str()
                                 : "0");
    if (DIR *tasks = opendir((base + "/task").c_str())) {
        while (dirent *entry = readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string task = base + "/task/" + entry->d_name;
            const auto ts = readStatus(task + "/status");
            if (ts.empty())
                continue;
            ++c.threads;
            for (const char *key : {"voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"})
                if (ts.count(key))
                    c.cswThreads += std::atoll(ts.at(key).c_str());
            std::ifstream sched(task + "/schedstat");
            long long ns = 0;
            if (sched >> ns)
                c.schedNs += ns;
        }
        closedir(tasks);
    }
    c.ok = true;
    return c;
}

long rssKb(pid_t pid)
{
    const auto status = readStatus("/proc/" + std::to_string(pid) + "/status");
    return status.count("VmRSS") ? std::atol(status.at("VmRSS").c_str()) : -1;
}

bool alive(pid_t pid, int *status)
{
    return waitpid(pid, status, WNOHANG) == 0;
}

void sleepUntil(Clock::time_point when)
{
    std::this_thread::sleep_until(when);
}

void finish(pid_t pid)
{
    int status;
    if (!alive(pid, &status))
        return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 60; ++i) {
        if (!alive(pid, &status))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
}

std::vector<char *> environment(const Options &o, std::vector<std::string> &storage)
{
    std::map<std::string, std::string> vars;
    for (char **e = environ; *e; ++e) {
        const std::string kv = *e;
        vars[kv.substr(0, kv.find('='))] = kv;
    }
    for (const auto &kv : o.env)
        vars[kv.substr(0, kv.find('='))] = kv;
    for (auto &[name, kv] : vars)
        storage.push_back(kv);
    std::vector<char *> out;
    for (auto &kv : storage)
        out.push_back(kv.data());
    out.push_back(nullptr);
    return out;
}

int runHook(const std::string &command, pid_t pid, Window window)
{
    const pid_t hook = fork();
    if (hook == 0) {
        setenv("MAPPROBE_PID", std::to_string(pid).c_str(), 1);
        setenv("MAPPROBE_WINDOW", std::to_string(window).c_str(), 1);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(hook, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The root window's client list, watched from before the start, so that a
// window listed at once is not missed.
struct Watch
{
    Display *dpy;
    Window root;
    Atoms atoms;
    std::set<Window> seen;
};

Watch watchClients(Display *dpy)
{
    Watch w{dpy,
            DefaultRootWindow(dpy),
            Atoms{XInternAtom(dpy, "_NET_CLIENT_LIST", False),
                  XInternAtom(dpy, "_NET_WM_NAME", False), XInternAtom(dpy, "UTF8_STRING", False),
                  XInternAtom(dpy, "_NET_WM_PID", False)},
            {}};
    XSelectInput(dpy, w.root, PropertyChangeMask);
    for (Window c : clientList(dpy, w.root, w.atoms))
        w.seen.insert(c);
    XSync(dpy, False);
    return w;
}

struct Child
{
    pid_t pid = -1;
    Clock::time_point start;
};

// Everything the child needs is made before the clock starts, so that only
// fork and exec count in its start-up.
Child launch(const Options &o, Display *dpy)
{
    std::vector<std::string> envStorage;
    std::vector<char *> envp = environment(o, envStorage);
    std::vector<char *> args;
    for (const auto &a : o.argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int logFd = -1;
    if (!o.log.empty()) {
        logFd = open(o.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (logFd < 0) {
            std::perror("mapprobe: log");
            return {};
        }
    }

    Child child;
    child.start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("mapprobe: fork");
        return {};
    }
    if (pid == 0) {
        // Its own process group, so that whatever it starts ends with it.
        setpgid(0, 0);
        if (logFd >= 0) {
            dup2(logFd, 1);
            dup2(logFd, 2);
        } else {
            dup2(2, 1);
        }
        if (!o.chdirTo.empty() && chdir(o.chdirTo.c_str()) != 0)
            _exit(126);
        close(ConnectionNumber(dpy));
        execvpe(args[0], args.data(), envp.data());
        std::perror("mapprobe: exec");
        _exit(127);
    }
    setpgid(pid, pid);
    g_child = pid;
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    child.pid = pid;
    return child;
}

struct Mapped
{
    Window window;
    double ms;
};

// The program's window, from the moment the window manager lists it with its
// title; nothing when the program ends first or the time runs out.
std::optional<Mapped> waitForWindow(const Options &o, Watch &watch, const Child &child)
{
    Display *dpy = watch.dpy;
    Window found = 0;
    auto check = [&](Window w) {
        if (!found && isTheWindow(dpy, w, watch.atoms, o.title, child.pid))
            found = w;
    };
    auto scanList = [&] {
        for (Window w : clientList(dpy, watch.root, watch.atoms)) {
            if (watch.seen.insert(w).second) {
                // Titles set after the listing count from the moment they are set.
                XSelectInput(dpy, w, PropertyChangeMask);
                check(w);
            }
        }
    };
    scanList();
    int status = 0;
    while (!found) {
        while (!found && XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type != PropertyNotify)
                continue;
            if (ev.xproperty.window == watch.root && ev.xproperty.atom == watch.atoms.clientList)
                scanList();
            else if (ev.xproperty.window != watch.root &&
                     (ev.xproperty.atom == XA_WM_NAME ||
                      ev.xproperty.atom == watch.atoms.netWmName))
                check(ev.xproperty.window);
        }
        if (found)
            break;
        if (!alive(child.pid, &status)) {
            std::fprintf(stderr, "mapprobe: the program ended before its window was listed\n");
            return std::nullopt;
        }
        if (msSince(child.start) > o.timeoutMs) {
            std::fprintf(stderr, "mapprobe: no window titled \"%s\" within %d ms\n",
                         o.title.c_str(), o.timeoutMs);
            finish(child.pid);
            return std::nullopt;
        }
        pollfd pfd{ConnectionNumber(dpy), POLLIN, 0};
        poll(&pfd, 1, 20);
    }
    return Mapped{found, msSince(child.start)};
}

// What the program costs once its window is there: run time up to the map,
// then what --after-map, --rss-at-ms and --window-s ask for. Returns the exit
// status.
int sample(const Options &o, const Child &child, const Mapped &mapped)
{
    const pid_t pid = child.pid;
    const Clock::time_point start = child.start;
    int exitStatus = 0;
    // Run time up to the map, less disturbed by other work than the wall clock.
    const Counters atMap = readCounters(pid);
    std::printf("map_ms=%.1f\nwindow=%lu\npid=%d\n", mapped.ms, mapped.window, pid);
    if (atMap.ok)
        std::printf("cpu_to_map_ms=%.2f\n", static_cast<double>(atMap.schedNs) / 1e6);
    std::fflush(stdout);

    int rc = 0;
    if (!o.afterMap.empty()) {
        const int hookRc = runHook(o.afterMap, pid, mapped.window);
        std::printf("after_map_rc=%d\n", hookRc);
        if (hookRc != 0)
            rc = 1;
    }
    if (rc == 0 && o.rssAtMs > 0) {
        const auto at = start + std::chrono::milliseconds(o.rssAtMs);
        if (Clock::now() > at)
            std::fprintf(stderr, "mapprobe: VmRSS read late, %.0f ms after the start\n",
                         msSince(start));
        sleepUntil(at);
        const auto status = readStatus("/proc/" + std::to_string(pid) + "/status");
        const auto kb = [&status](const char *key) {
            return status.count(key) ? std::atol(status.at(key).c_str()) : -1L;
        };
        const long rss = kb("VmRSS");
        std::printf("rss_at_ms=%.0f\nrss_kb=%ld\n", msSince(start), rss);
        // Shared libraries' pages count in full; the anonymous part is the program's own.
        std::printf("rss_anon_kb=%ld\nrss_file_kb=%ld\n", kb("RssAnon"), kb("RssFile"));
        if (rss < 0)
            rc = 1;
    }
    if (rc == 0 && o.windowS > 0) {
        const Counters before = readCounters(pid);
        const auto from = Clock::now();
        sleepUntil(from + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(o.windowS)));
        const Counters after = readCounters(pid);
        const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
        if (!before.ok || !after.ok || !alive(pid, &exitStatus)) {
            std::fprintf(stderr, "mapprobe: the program ended during the window\n");
            rc = 1;
        } else {
            const double tick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
            const long long vcsw = after.vcswMain - before.vcswMain;
            const long long nvcsw = after.nvcswMain - before.nvcswMain;
            std::printf("window_s=%.3f\n", seconds);
            std::printf("cpu_ms=%.0f\n",
                        static_cast<double>(after.cpuTicks - before.cpuTicks) * tick);
            std::printf("cpu_sched_ms=%.2f\n",
                        static_cast<double>(after.schedNs - before.schedNs) / 1e6);
            std::printf("vcsw_main=%lld\nnvcsw_main=%lld\n", vcsw, nvcsw);
            std::printf("csw_main_per_s=%.3f\n", static_cast<double>(vcsw + nvcsw) / seconds);
            std::printf("csw_threads_per_s=%.3f\n",
                        static_cast<double>(after.cswThreads - before.cswThreads) / seconds);
            std::printf("threads=%d\n", after.threads);
            std::printf("rss_end_kb=%ld\n", rssKb(pid));
        }
    }
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    const Options o = parse(argc, argv);
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "mapprobe: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    Watch watch = watchClients(dpy);
    const Child child = launch(o, dpy);
    if (child.pid < 0)
        return 1;
    const auto mapped = waitForWindow(o, watch, child);
    if (!mapped)
        return 1;
    const int rc = sample(o, child, *mapped);
    finish(child.pid);
    XCloseDisplay(dpy);
    return rc;
}
