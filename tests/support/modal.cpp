#include "support/modal.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

void forceCloseModals()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->hide();
        QCoreApplication::processEvents();
    }
}

} // namespace

void ModalDriver::onNextModal(Step step, int timeoutMs)
{
    m_state = std::make_shared<State>();
    auto state = m_state;
    // Deleted once done with; a shared pointer to it in its own slot would
    // keep it alive for ever.
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [state, timer, clock, step, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && !state->ran) {
            timer->stop();
            timer->deleteLater();
            state->ran = true;
            state->title = modal->windowTitle();
            modal->activateWindow();
            (void)waitForFocus(modal, timeoutMs);
            step(modal);
            // A step that leaves the window open must not hang the test. Tied
            // to the window: a later dialog may be built at the same address.
            QTimer::singleShot(timeoutMs, modal, [state, modal] {
                if (QApplication::activeModalWidget() == modal) {
                    state->timedOut = true;
                    forceCloseModals();
                }
            });
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            state->timedOut = true;
            forceCloseModals();
        }
    });
    timer->start();
}

bool waitForFocus(QWidget *window, int timeoutMs)
{
    const QPointer<QWidget> guard(window);
    return QTest::qWaitFor(
        [&] {
            return guard && guard->windowHandle() &&
                   QGuiApplication::focusWindow() == guard->windowHandle();
        },
        timeoutMs);
}

void closeAllWindows()
{
    forceCloseModals();
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            widget->hide();
    }
    QCoreApplication::processEvents();
}
