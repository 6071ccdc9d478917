// Times the question editor with the largest set the program expects: opening
// it (construct and show, up to its first paint) and Done (saving the set and
// closing). Prints the median of five runs of each.
#include "app/frmmain.h"
#include "awareness/frmquestions.h"
#include "support/fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kPairs = 32767;
constexpr int kRuns = 5;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double elapsedMs(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    FakeServices fakes(dir.path());
    frmMain main(fakes.services);
    for (int i = 0; i < kPairs; ++i) {
        auto pair = std::make_shared<AwareTestQuestion>();
        pair->setQuestion(QStringLiteral("Question number %1: what is %1 plus one?").arg(i));
        pair->setAnswer(QString::number(i + 1));
        main.Questions.append(pair);
    }

    std::vector<double> opening;
    std::vector<double> popup;
    std::vector<double> done;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        auto editor = std::make_unique<frmQuestions>(main.awareness(), &main);
        editor->show();
        QCoreApplication::processEvents();
        opening.push_back(elapsedMs(timer));

        timer.restart();
        editor->cboQA_List->showPopup();
        QCoreApplication::processEvents();
        editor->cboQA_List->hidePopup();
        QCoreApplication::processEvents();
        popup.push_back(elapsedMs(timer));

        timer.restart();
        editor->cmdOK->click();
        done.push_back(elapsedMs(timer));
        if (editor->isVisible() || !fakes.messages.texts.isEmpty()) {
            std::fprintf(stderr, "Done did not save and close\n");
            return 1;
        }
    }

    std::printf("platform %s, %d pairs, median of %d runs\n",
                qPrintable(QGuiApplication::platformName()), kPairs, kRuns);
    std::printf("open editor (construct + show + first paint): %8.1f ms\n", median(opening));
    std::printf("open and close the list popup:                %8.1f ms\n", median(popup));
    std::printf("Done (save %d pairs + close):              %8.1f ms\n", kPairs, median(done));
    return 0;
}
