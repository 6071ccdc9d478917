#include "awareness/frmawaretest.h"

#include "platform/widgets/layout.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

// Long enough for the shell to finish hiding the window, short enough that
// the question is back within a second.
constexpr int kComeBackMs = 250;

} // namespace

frmAwareTest::frmAwareTest(const AwarenessContext &context, QWidget *parent)
    : ControlBoxlessDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("AWAKE???     AWARE???   PROVE IT!!!"));
    // Its own null icon, or it would show the main window's.
    setWindowIcon(QIcon());
    setFont(defaultDialogFont());
    setFixedSize(twips(10020), twips(5025));

    Label1 = new QLabel(QStringLiteral("QUESTION:"), this);
    Label1->setGeometry(twipsRect(240, 120, 1575, 375));
    Label1->setFont(arialFont(12, true));
    lblQuestion = new QLabel(this);
    lblQuestion->setGeometry(twipsRect(240, 720, 9615, 2175));
    lblQuestion->setFont(arialFont(18));
    lblQuestion->setWordWrap(true);
    lblQuestion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblQuestion->setTextFormat(Qt::PlainText);
    Label2 = new QLabel(QStringLiteral("PROVE YOU ARE AWAKE -- Type your (case-sensitive) answer:"),
                        this);
    Label2->setGeometry(twipsRect(240, 3000, 9615, 375));
    Label2->setFont(arialFont(12, true));
    txtAnswer = makeTextBox(this, twipsRect(120, 3480, 9735, 735));
    txtAnswer->setAccessibleName(QStringLiteral("Answer"));
    Label2->setBuddy(txtAnswer);
    // Enter in the answer box must not submit; on the focused button it does.
    cmdStopAlarm =
        makeButton(this, QStringLiteral("I submit my answer and await your approval, Alarm Clock!"),
                   twipsRect(2520, 4440, 5055, 495));

    setTabOrder(txtAnswer, cmdStopAlarm);
    connect(cmdStopAlarm, &QPushButton::clicked, this, &frmAwareTest::cmdStopAlarm_Click);

    Form_Load();
    txtAnswer->setFocus();
}

void frmAwareTest::Form_Load()
{
    const qsizetype n = m_context.Questions.count();
    const double r = m_context.services.random.next();
    // Guard the top end against rounding; positions are not limited to 16 bits.
    const qsizetype k = std::clamp<qsizetype>(
        static_cast<qsizetype>(std::floor(r * static_cast<double>(n))) + 1, 1, n);
    CurrentQuestion = m_context.Questions.item(k);
    lblQuestion->setText(CurrentQuestion->Question());
    txtAnswer->setText(QString());
}

void frmAwareTest::cmdStopAlarm_Click()
{
    if (CurrentQuestion->Answer() == txtAnswer->text()) {
        unload();
        return;
    }
    Services &services = m_context.services;
    services.sound.playOnce(services.programDirectory + QStringLiteral("/WRONG!.WAV"));
    services.sound.startLoop(m_context.sWakeyFileName);
    Form_Load();
    txtAnswer->setFocus();
}

void frmAwareTest::changeEvent(QEvent *event)
{
    ControlBoxlessDialog::changeEvent(event);
    // The window is open only while the alarm sounds, and nothing but the
    // answer may hide it then: not a shell's minimize (which native Wayland
    // does not report; there the focus passes to the window this one blocks).
    const bool minimized = event->type() == QEvent::WindowStateChange && isMinimized();
    const QWindow *focus = QGuiApplication::focusWindow();
    const bool passedOn = event->type() == QEvent::ActivationChange && focus &&
                          focus != windowHandle() && focus->type() != Qt::Popup &&
                          QApplication::activeModalWidget() == this;
    if (minimized || passedOn)
        QTimer::singleShot(kComeBackMs, this, &frmAwareTest::comeBack);
}

void frmAwareTest::run()
{
    do {
        m_mappedAnew = false;
        exec();
    } while (m_mappedAnew);
}

void frmAwareTest::comeBack()
{
    if (!isVisible())
        return;
    if (QGuiApplication::platformName().startsWith(u"wayland")) {
        // A Wayland client cannot undo the shell's minimize, and GNOME refuses
        // it the focus; a window mapped anew is shown in front with it. Hiding
        // ends exec(), which run() enters again; it passes the focus on too,
        // so a test already in front stays as it is.
        if (isActiveWindow())
            return;
        m_mappedAnew = true;
        hide();
        show();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
