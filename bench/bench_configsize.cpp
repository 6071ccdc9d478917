// Memory and time of the configuration store on large files: attribute-heavy
// ones (elements with 64 attributes each), ones holding one long question and
// ones of elements that all have names of their own.
// Each load, Set (saveSettings) and Done (saveQuestions over the loaded set)
// runs in a child of its own, so that its peak resident size is its own; the
// child's wall time covers only the operation. Sizes in MiB are the arguments
// (default 1, 4 and just under the size a load reads); a bare child gives
// the fixed base.
#include "config/configstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kHead = "<AlarmClockConfig><WakeyFileName>/tmp/wake.wav</WakeyFileName>"
                         "<WakeyTime>7:30</WakeyTime>\n";
const QByteArray kTail = "<AwareTestQuestions><QA_Pair><Question>q</Question><Answer>a</Answer>"
                         "</QA_Pair></AwareTestQuestions></AlarmClockConfig>\n";

QByteArray attributeElement()
{
    // Short names and values: the cost per attribute is what grows.
    QByteArray element = "<e";
    for (int i = 0; i < 64; ++i)
        element += " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i) + "\"";
    return element + "/>\n";
}

enum class Kind { Attributes, Text, Names };

const char *kindName(Kind kind)
{
    return kind == Kind::Attributes ? "attr" : kind == Kind::Text ? "text" : "names";
}

// Each name used once: every one is new to the name interner.
QByteArray namedElements(qint64 &counter, qsizetype size)
{
    QByteArray block;
    block.reserve(size + 32);
    while (block.size() < size)
        block += "<n" + QByteArray::number(counter++) + "/>\n";
    return block;
}

bool writeFile(const QString &path, Kind kind, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const bool text = kind == Kind::Text;
    const QByteArray prefix = text ? kHead + "<AwareTestQuestions><QA_Pair><Question>" : kHead;
    const QByteArray suffix = text ? "</Question><Answer>a</Answer></QA_Pair>"
                                     "</AwareTestQuestions></AlarmClockConfig>\n"
                                   : kTail;
    const QByteArray unit =
        kind == Kind::Attributes ? attributeElement() : QByteArray("lorem ipsum dolor ");
    qint64 left = size - prefix.size() - suffix.size();
    bool ok = file.write(prefix) == prefix.size();
    const QByteArray block = unit.repeated(qsizetype(65536 / unit.size()));
    qint64 counter = 0;
    while (ok && left >= block.size()) {
        const QByteArray next = kind == Kind::Names ? namedElements(counter, 65536) : block;
        ok = file.write(next) == next.size();
        left -= next.size();
    }
    const QByteArray rest = text ? unit.repeated(64).left(left) : QByteArray(left, '\n');
    return ok && file.write(rest) == rest.size() && file.write(suffix) == suffix.size();
}

struct Run
{
    double ms[2] = {-1, -1}; // wall, processor
    long maxRssKiB = -1;
};

double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Other work on a shared machine stretches wall time; processor time shows
// what the operation itself costs.
struct Stopwatch
{
    QElapsedTimer wall;
    double cpuStart = 0;
    void start()
    {
        cpuStart = cpuMs();
        wall.start();
    }
};

// The child reports its operation's times through a pipe; its peak size
// comes from wait4.
Run inChild(const std::function<bool(Stopwatch &)> &operation)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        Stopwatch timer;
        const bool ok = operation(timer);
        const double ms[2] = {ok ? double(timer.wall.nsecsElapsed()) / 1e6 : -1,
                              ok ? cpuMs() - timer.cpuStart : -1};
        const ssize_t written = ::write(fds[1], ms, sizeof ms);
        ::_exit(written == sizeof ms ? 0 : 1);
    }
    ::close(fds[1]);
    Run run;
    if (::read(fds[0], run.ms, sizeof run.ms) != sizeof run.ms)
        run.ms[0] = run.ms[1] = -1;
    ::close(fds[0]);
    int status = 0;
    rusage usage = {};
    if (::wait4(child, &status, 0, &usage) == child)
        run.maxRssKiB = usage.ru_maxrss;
    return run;
}

void print(const char *what, const Run &run)
{
    std::printf("  %-5s %8.0f ms %7.0f MB %8.0f ms processor\n", what, run.ms[0],
                double(run.maxRssKiB) / 1024.0, run.ms[1]);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList sizes = app.arguments().mid(1);
    if (sizes.isEmpty())
        sizes = {"1", "4", "7.9"};
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.path();
    print("base", inChild([](Stopwatch &timer) {
              timer.start();
              return true;
          }));
    for (const Kind kind : {Kind::Attributes, Kind::Text, Kind::Names}) {
        for (const QString &size : std::as_const(sizes)) {
            const qint64 bytes = qint64(size.toDouble() * 1024 * 1024);
            std::printf("%s MiB %s\n", qPrintable(size), kindName(kind));
            if (!writeFile(configstore::filePath(path), kind, bytes))
                return 1;
            print("load", inChild([&](Stopwatch &timer) {
                      timer.start();
                      return !configstore::load(path).pairs.isEmpty();
                  }));
            print("Set", inChild([&](Stopwatch &timer) {
                      timer.start();
                      return configstore::saveSettings(path, "/tmp/wake.wav", "7:30").ok;
                  }));
            print("Done", inChild([&](Stopwatch &timer) {
                      const auto pairs = configstore::load(path).pairs;
                      timer.start();
                      return configstore::saveQuestions(path, pairs).ok;
                  }));
        }
    }
    return 0;
}
