#include "app/frmmain.h"

#include "awareness/frmawaretest.h"
#include "awareness/frmquestions.h"
#include "config/configstore.h"
#include "platform/filelookup.h"
#include "platform/linux/windowfront.h"
#include "platform/widgets/layout.h"
#include "shell/frmabout.h"
#include "shell/frmlicense.h"
#include "shell/frmqueryminimize.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace {

// Ticks land this long after each wall-clock second begins, so that the
// second read at the tick is the one that just started.
constexpr int kTickOffsetMs = 5;

const char *const kQuestionsTip =
    "If you define \"Awareness Test\" questions, the alarm will not shut off until you answer a "
    "question correctly.  If you do not define any \"Awareness Test\" questions, you'll be able to "
    "kill the alarm by simply clicking the \"STOP!\" button.";

const char *const kBadTime = "You should try entering a time...";
const char *const kBadSoundFile =
    "Sorry, I can't find the file you specified, or it doesn't appear to be a WAV file.  I'm an "
    "old-fashioned kind of guy.. I expect the file extension to be .WAV";
const char *const kDateInPast = "Attempted to set alarm in the past.. I'm taking my best guess and "
                                "setting it ahead by a day.";

// Told once the alarm is set or the test sounds; neither is held back by it.
QString soundProblemText(SoundProblem problem)
{
    switch (problem) {
    case SoundProblem::None:
        break;
    case SoundProblem::FileReplaced:
        return QStringLiteral(
            "This sound file cannot be played, so the alarm will ring with the built-in ring "
            "instead.\n\nTo hear your own sound, choose a WAV file that plays in other programs, "
            "or save it again as WAV from an audio editor.");
    case SoundProblem::OutputSilent:
        return QStringLiteral(
            "The sound output is muted or its volume is at zero, so the alarm will ring but will "
            "not be heard.\n\nUnmute it or turn the volume up in the desktop's sound settings.");
    case SoundProblem::NoServer:
        return QStringLiteral(
            "No sound server answers, so the alarm will not be heard.\n\nStart the desktop's "
            "sound service (PulseAudio or PipeWire), or check its sound settings.");
    }
    return {};
}

} // namespace

frmMain::frmMain(Services &services, QWidget *parent) : QMainWindow(parent), m_services(services)
{
    buildWindow();
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer1.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &frmMain::checkAlarmNow);
    // The tick's timer stands still while the machine sleeps: on waking, the
    // alarm whose moment passed meanwhile sounds at once.
    m_services.inhibitor.setResumeHandler([this] { checkAlarmNow(); });
    m_services.notifications.setOpenHandler([this](const QString &token) { comeForward(token); });
    scheduleNextTick();
    Form_Load();
}

frmMain::~frmMain()
{
    m_services.inhibitor.setResumeHandler({});
    m_services.notifications.setOpenHandler({});
}

void frmMain::buildWindow()
{
    setWindowTitle(QStringLiteral("Quillon's Clamorific Alarm Clock Thingy"));
    setWindowIcon(drawnIcon(QStringLiteral("alarmclock")));
    setFont(defaultDialogFont());

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    Label1 = makeLabel(client, "Wakey noise (.WAV) file", twipsRect(120, 240, 2055, 255));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
    txtFileNameWAV = makeTextBox(client, twipsRect(2280, 120, 3015, 375));
    cmdBrowse = makeButton(client, "Browse", twipsRect(5400, 120, 1095, 375));
    Label2 = makeLabel(client, "Wakey time", twipsRect(1080, 720, 1095, 255));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    txtAlarmTime = makeTextBox(client, twipsRect(2280, 600, 2055, 375));
    cmdSet = makeButton(client, "Set", twipsRect(4440, 600, 855, 375));
    cmdSet->setEnabled(false);
    cmdAwakeTestQuestions =
        makeButton(client, "Define \"Awareness Test\" Questions", twipsRect(1680, 1200, 3615, 495));
    cmdAwakeTestQuestions->setToolTip(QString::fromUtf8(kQuestionsTip));
    lblAlarmStatus = makeLabel(client, kStatusNotSet, twipsRect(120, 1920, 6735, 855));
    lblAlarmStatus->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblAlarmStatus->setWordWrap(true);
    lblAlarmStatus->setFont(arialFont(15.75, true));
    cmdAlarmTest = makeButton(client, "Alarm (test)", twipsRect(1320, 3000, 1215, 495));
    cmdAlarmStop = makeButton(client, "STOP! I'M UP!!!", twipsRect(3720, 3000, 2175, 495));

    // Screen readers name each box by the label beside it.
    Label1->setBuddy(txtFileNameWAV);
    Label2->setBuddy(txtAlarmTime);
    txtFileNameWAV->setAccessibleName(Label1->text());
    txtAlarmTime->setAccessibleName(Label2->text());

    setTabOrder(cmdAlarmTest, txtFileNameWAV);
    setTabOrder(txtFileNameWAV, cmdBrowse);
    setTabOrder(cmdBrowse, cmdAlarmStop);
    setTabOrder(cmdAlarmStop, txtAlarmTime);
    setTabOrder(txtAlarmTime, cmdSet);
    setTabOrder(cmdSet, cmdAwakeTestQuestions);
    cmdAlarmTest->setFocus();

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileExit = mnuFile->addAction(QStringLiteral("E&xit"));
    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuHelpLicenseInfo = mnuHelp->addAction(QStringLiteral("&License Info"));

    connect(txtAlarmTime, &QLineEdit::textChanged, this, &frmMain::txtAlarmTime_Change);
    connect(txtFileNameWAV, &QLineEdit::textChanged, this, &frmMain::txtFileNameWAV_Change);
    connect(cmdSet, &QPushButton::clicked, this, &frmMain::cmdSet_Click);
    connect(cmdAlarmTest, &QPushButton::clicked, this, &frmMain::cmdAlarmTest_Click);
    connect(cmdAlarmStop, &QPushButton::clicked, this, &frmMain::cmdAlarmStop_Click);
    connect(cmdAwakeTestQuestions, &QPushButton::clicked, this,
            &frmMain::cmdAwakeTestQuestions_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::cmdBrowse_Click);
    connect(mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
    connect(mnuHelpLicenseInfo, &QAction::triggered, this, &frmMain::mnuHelpLicenseInfo_Click);

    // The client area is 466 x 253 at 117, 162 on the screen; the menu bar
    // stands above it, as a title bar's menu would.
    const QSize clientSize(twips(6990), twips(3795));
    const int menuHeight = menuBar()->sizeHint().height();
    client->setMinimumSize(clientSize);
    setGeometry(QRect(QPoint(twips(1755), twips(2430) - menuHeight),
                      QSize(clientSize.width(), clientSize.height() + menuHeight)));
}

void frmMain::cmdAwakeTestQuestions_Click()
{
    frmQuestions editor(awareness(), this);
    editor.exec();
}

void frmMain::cmdBrowse_Click()
{
    const QString chosen =
        m_services.fileDialog.showOpen(this, QStringLiteral("*.wav"), txtFileNameWAV->text());
    txtFileNameWAV->setText(chosen);
}

void frmMain::cmdSet_Click()
{
    const std::optional<DateValue> typed = datevalue::parse(txtAlarmTime->text());
    if (!typed) {
        m_services.messages.show(this, QString::fromUtf8(kBadTime));
        setStatusNotSet();
        bAlarmSet = false;
        updateSleepInhibitor();
        return;
    }
    const QString found = firstMatchingFileName(txtFileNameWAV->text());
    if (found.right(4).toUpper() != QLatin1String(".WAV")) {
        m_services.messages.show(this, QString::fromUtf8(kBadSoundFile));
        setStatusNotSet();
        bAlarmSet = false;
        updateSleepInhibitor();
        return;
    }

    dtWakeyTime = *typed;
    if (dtWakeyTime > 1.0) {
        if (dtWakeyTime < m_services.clock.now()) {
            m_services.messages.show(this, QString::fromUtf8(kDateInPast));
            dtWakeyTime += 1;
        } else {
            m_services.messages.show(this, QStringLiteral("I'm setting the alarm for ") +
                                               datevalue::formatGeneral(dtWakeyTime) +
                                               QStringLiteral("... I hope you really meant to "
                                                              "include a date!"));
        }
    } else {
        dtWakeyTime = datevalue::integerPart(m_services.clock.now()) + dtWakeyTime;
        if (dtWakeyTime < m_services.clock.now())
            dtWakeyTime += 1;
    }

    sWakeyFileName = txtFileNameWAV->text();
    bAlarmSet = true;
    lblAlarmStatus->setText(QStringLiteral("Alarm is SET for ") +
                            datevalue::formatGeneral(dtWakeyTime));
    m_services.wake.schedule(datevalue::toDateTime(dtWakeyTime), sWakeyFileName);
    updateSleepInhibitor();
    // Saved before the sound is loaded: loading may stall on a large file.
    SaveSettings();
    // Loaded now so that the alarm is heard the moment it fires.
    m_services.sound.prepare(sWakeyFileName);
    tellSoundProblem();
}

void frmMain::tellSoundProblem()
{
    const QString text = soundProblemText(m_services.sound.check(sWakeyFileName));
    if (!text.isEmpty())
        m_services.messages.show(this, text);
}

void frmMain::cmdAlarmTest_Click()
{
    sWakeyFileName = txtFileNameWAV->text();
    m_services.sound.startLoop(sWakeyFileName);
    bAlarmSounding = true;
    updateSleepInhibitor();
    // Told while it sounds, so that what is said is what is heard.
    tellSoundProblem();
}

void frmMain::cmdAlarmStop_Click()
{
    // Reached again from inside the open test (a close or logout request):
    // only the test's own answer may go on to silence the alarm.
    if (m_awareTest)
        return;
    if (Questions.count() > 0 && bAlarmSounding) {
        frmAwareTest test(awareness(), this);
        m_awareTest = &test;
        test.run();
        m_awareTest = nullptr;
    }
    m_services.sound.stop();
    m_services.notifications.withdraw();
    keepAbove(this, false);
    bAlarmSounding = false;
    bAlarmSet = false;
    setStatusNotSet();
    updateSleepInhibitor();
}

void frmMain::Form_Load()
{
    bAlarmSet = false;
    bAlarmSounding = false;
    LoadSettings();
}

void frmMain::LoadSettings()
{
    const configstore::StoredSettings stored = configstore::load(m_services.configDirectory);
    if (stored.wakeyFileName)
        txtFileNameWAV->setText(*stored.wakeyFileName);
    if (stored.wakeyTime)
        txtAlarmTime->setText(*stored.wakeyTime);
    Questions.appendStored(stored.pairs);
    if (txtFileNameWAV->text().isEmpty())
        txtFileNameWAV->setText(m_services.programDirectory + QStringLiteral("/roustabell.wav"));
}

void frmMain::SaveSettings()
{
    const configstore::SaveResult result = configstore::saveSettings(
        m_services.configDirectory, txtFileNameWAV->text(), txtAlarmTime->text());
    // The alarm is already armed; a failed save only means the texts are not kept.
    if (const QString message = result.message(); !message.isEmpty())
        m_services.messages.show(this, message);
}

bool frmMain::Form_QueryUnload()
{
    // A request that arrives while the awareness test or the question is open
    // waits for the person's answer there: it changes nothing and is refused.
    if (m_awareTest || m_queryMinimize)
        return true;
    bool cancel = false;
    if (bAlarmSounding) {
        cancel = true;
        cmdAlarmStop_Click();
    }
    if (bAlarmSet) {
        frmQueryMinimize question(m_services, *this, this);
        m_queryMinimize = &question;
        question.exec();
        m_queryMinimize = nullptr;
        cancel = true;
    }
    return cancel;
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (Form_QueryUnload())
        event->ignore();
    else
        event->accept();
}

void frmMain::mnuFileExit_Click()
{
    close();
}

void frmMain::mnuHelpAbout_Click()
{
    frmAbout about(m_services, this);
    about.exec();
}

void frmMain::mnuHelpLicenseInfo_Click()
{
    frmLicense terms(this);
    terms.exec();
}

void frmMain::Timer1_Timer()
{
    if (!(m_services.clock.now() > dtWakeyTime && bAlarmSet))
        return;
    bAlarmSounding = true;
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    showNormal();
    // Where the shell refuses the focus (GNOME), it still keeps the sounding
    // window above the one the person was using.
    keepAbove(this, true);
    requestActivation(this, QString());
    // Where the window cannot come forward by itself, the desktop shows that
    // it wants attention; the notification reaches a locked screen, where no
    // window is seen.
    QApplication::alert(this);
    m_services.sound.startLoop(sWakeyFileName);
    m_services.notifications.show(QStringLiteral("Alarm for ") +
                                  datevalue::formatTimeFirst(dtWakeyTime));
    bAlarmSet = false;
    updateSleepInhibitor();
}

void frmMain::ringHandedOver(DateValue moment, const QString &soundFile)
{
    dtWakeyTime = moment;
    sWakeyFileName = soundFile;
    bAlarmSet = true;
    lblAlarmStatus->setText(QStringLiteral("Alarm is SET for ") +
                            datevalue::formatGeneral(dtWakeyTime));
    updateSleepInhibitor();
    checkAlarmNow();
}

void frmMain::comeForward(const QString &activationToken)
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    // An open awareness test stays in front of the window it blocks.
    QWidget *front = QApplication::activeModalWidget();
    requestActivation(front ? front : this, activationToken);
}

void frmMain::txtAlarmTime_Change()
{
    UpdateSetButton();
}

void frmMain::UpdateSetButton()
{
    cmdSet->setEnabled(!txtFileNameWAV->text().isEmpty() &&
                       datevalue::parse(txtAlarmTime->text()).has_value());
}

void frmMain::txtFileNameWAV_Change()
{
    UpdateSetButton();
}

void frmMain::setStatusNotSet()
{
    lblAlarmStatus->setText(QString::fromUtf8(kStatusNotSet));
}

void frmMain::updateSleepInhibitor()
{
    if (bAlarmSet)
        m_services.inhibitor.hold(QStringLiteral("Alarm set for ") +
                                  datevalue::formatGeneral(dtWakeyTime));
    else if (bAlarmSounding)
        m_services.inhibitor.hold(QStringLiteral("Alarm sounding"));
    else
        m_services.inhibitor.release();
    // Nothing is left to wake the machine for once the alarm is not armed.
    if (!bAlarmSet)
        m_services.wake.cancel();
}

void frmMain::checkAlarmNow()
{
    Timer1_Timer();
    scheduleNextTick();
}

void frmMain::scheduleNextTick()
{
    // Re-aligned at every tick, so the ticks never drift from the clock's seconds.
    Timer1.start(m_services.clock.msecsToNextSecond() + kTickOffsetMs);
}
