// Times opening the awareness test window in front of a shown main window:
// construction (which picks the question), show, up to the end of its first
// paint. With one pair and with the largest set the program expects, so that
// any cost that grows with the set shows as the difference.
//   bench_awaretest [--runs N] [--pairs N]
// Prints, per set size, the first (cold) opening and the warm ones:
//   awaretest_first_open_ms pairs=P ms=T
//   awaretest_open_ms pairs=P runs=N median=M min=A max=B
#include "app/frmmain.h"
#include "awareness/frmawaretest.h"
#include "support/fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Notes the first paint of the window it watches.
class PaintWatch : public QObject
{
public:
    bool painted = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

struct Figures
{
    double median = 0, min = 0, max = 0;
};

Figures summarize(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

void fill(frmMain &main, int pairs)
{
    while (main.Questions.count() > 0)
        main.Questions.remove(main.Questions.count());
    for (int i = 0; i < pairs; ++i) {
        auto pair = std::make_shared<AwareTestQuestion>();
        pair->setQuestion(QStringLiteral("Question number %1: what is %1 plus one?").arg(i));
        pair->setAnswer(QString::number(i + 1));
        main.Questions.append(pair);
    }
}

// One opening; negative when the window never painted.
double openOnce(frmMain &main)
{
    QElapsedTimer timer;
    timer.start();
    auto test = std::make_unique<frmAwareTest>(main.awareness(), &main);
    PaintWatch watch;
    test->installEventFilter(&watch);
    test->setModal(true);
    test->show();
    while (!watch.painted && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const bool asked = test->isVisible() && !test->lblQuestion->text().isEmpty();
    test->removeEventFilter(&watch);
    test->unload();
    test.reset();
    QCoreApplication::processEvents();
    return watch.painted && asked ? ms : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 7;
    int largest = 32767;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--pairs") == 0)
            largest = std::max(1, std::atoi(argv[++i]));
    }
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    FakeServices fakes(dir.path());
    // Different picks each time, the last pair among them.
    fakes.random.sequence = {0.0, 0.5, 0.999999};
    frmMain main(fakes.services);
    main.show();
    if (!QTest::qWaitForWindowExposed(&main, 10000)) {
        std::fprintf(stderr, "the main window was never exposed\n");
        return 1;
    }

    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    for (int pairs : {1, largest}) {
        fill(main, pairs);
        // A first opening warms caches (fonts, styles) that later ones reuse;
        // the very first one is what the person waits for at the first alarm.
        const double first = openOnce(main);
        if (first < 0) {
            std::fprintf(stderr, "the awareness test window did not open and paint\n");
            return 1;
        }
        std::printf("awaretest_first_open_ms pairs=%d ms=%.2f\n", pairs, first);
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            const double ms = openOnce(main);
            if (ms < 0) {
                std::fprintf(stderr, "the awareness test window did not open and paint\n");
                return 1;
            }
            times.push_back(ms);
        }
        const Figures f = summarize(times);
        std::printf("awaretest_open_ms pairs=%d runs=%d median=%.2f min=%.2f max=%.2f\n", pairs,
                    runs, f.median, f.min, f.max);
        std::fflush(stdout);
    }
    return 0;
}
