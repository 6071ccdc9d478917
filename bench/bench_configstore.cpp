// Times the configuration store with the largest question set the program
// expects (32,767 pairs): loading the file, Done (saving the set over a file
// that already holds it) and Set (saving the two texts into that file). Prints
// the median and the slowest wall time of several runs of each, and the median
// processor time, beside a bare pass of Qt's XML reader over the same file.
#include "awareness/questionset.h"
#include "config/configstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kPairs = 32767;
constexpr int kRuns = 7;

struct Figures
{
    double median;
    double slowest;
    double cpuMedian;
};

// Other work on a shared machine stretches wall time; processor time shows
// what the operation itself costs.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

Figures measure(const std::function<bool()> &operation)
{
    std::vector<double> times;
    std::vector<double> cpu;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        const double cpuStart = cpuMs();
        timer.start();
        if (!operation()) {
            std::fprintf(stderr, "operation failed\n");
            std::exit(1);
        }
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(cpuMs() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    return {times[times.size() / 2], times.back(), cpu[cpu.size() / 2]};
}

void print(const char *what, const Figures &figures)
{
    std::printf("%-40s wall: median %6.1f ms, slowest %6.1f ms; processor: median %6.1f ms\n", what,
                figures.median, figures.slowest, figures.cpuMedian);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    QuestionSet questions;
    for (int i = 0; i < kPairs; ++i) {
        auto pair = std::make_shared<AwareTestQuestion>();
        pair->setQuestion(QStringLiteral("Question number %1: what is %1 plus one?").arg(i));
        pair->setAnswer(QString::number(i + 1));
        questions.append(pair);
    }
    const QString path = dir.path();
    if (!configstore::saveSettings(path, "/usr/share/sounds/wake up.wav", "7:30").ok)
        return 1;

    print("Done, 32,767 pairs over the same set",
          measure([&] { return configstore::saveQuestions(path, questions.storedPairs()).ok; }));
    print("Set, into a file of 32,767 pairs", measure([&] {
              return configstore::saveSettings(path, "/usr/share/sounds/wake up.wav", "7:30").ok;
          }));
    qsizetype loaded = 0;
    print("load, 32,767 pairs", measure([&] {
              loaded = configstore::load(path).pairs.size();
              return loaded == kPairs;
          }));
    // What Qt's reader alone takes over the same file: the floor for a load.
    QFile file(configstore::filePath(path));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    print("bare QXmlStreamReader pass, same file", measure([&] {
              QXmlStreamReader reader(bytes);
              while (!reader.atEnd())
                  reader.readNext();
              return !reader.hasError();
          }));
    std::printf("file size %lld bytes, %lld pairs loaded\n",
                static_cast<long long>(QFileInfo(configstore::filePath(path)).size()),
                static_cast<long long>(loaded));
    return 0;
}
