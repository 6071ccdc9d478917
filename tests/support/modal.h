#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

// Modal windows block inside exec(); these run test steps from inside that
// loop, once the window is up and active.
class ModalDriver
{
public:
    using Step = std::function<void(QWidget *)>;

    // Runs step on the next modal window that is shown. If none shows within
    // the time, or the step leaves it open past the time, every modal window is
    // closed by force so that the test can fail instead of hanging.
    // The sanitizer build runs several times slower; a step that closes its
    // window fails only when it hangs.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr int kDefaultTimeoutMs = 40000;
#else
    static constexpr int kDefaultTimeoutMs = 10000;
#endif
    void onNextModal(Step step, int timeoutMs = kDefaultTimeoutMs);

    bool ran() const
    {
        return m_state->ran;
    }
    bool timedOut() const
    {
        return m_state->timedOut;
    }
    QString title() const
    {
        return m_state->title;
    }

private:
    struct State
    {
        bool ran = false;
        bool timedOut = false;
        QString title;
    };
    // Shared with the timers, which may outlive the driver.
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// Closes every visible top-level window, so that the next test starts clean.
void closeAllWindows();

// Waits until keys typed now reach this window. QTest::qWaitForWindowActive
// does not: Qt counts a dialog active while its parent still holds the focus,
// and a key sent then is dropped by the blocked parent.
bool waitForFocus(QWidget *window, int timeoutMs = 5000);
