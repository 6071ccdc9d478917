#pragma once

#include "awareness/awarenesscontext.h"
#include "platform/services.h"

#include <QMainWindow>
#include <QTimer>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class frmAwareTest;
class frmQueryMinimize;

// The main window: owner of the alarm state and of the question set.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit frmMain(Services &services, QWidget *parent = nullptr);
    ~frmMain() override;

    // Read by the awareness test to restart the sound after a wrong answer.
    QString sWakeyFileName;
    // Never replaced; the editor changes it in place.
    QuestionSet Questions;

    // What the question editor and the awareness test reach of this window.
    AwarenessContext awareness() { return {m_services, Questions, sWakeyFileName}; }

    // Read-only views of the alarm state, for tests.
    bool alarmSet() const { return bAlarmSet; }
    bool alarmSounding() const { return bAlarmSounding; }
    DateValue wakeyTime() const { return dtWakeyTime; }

    // Controls, in the window's design order.
    QLabel *Label1 = nullptr;
    QLineEdit *txtFileNameWAV = nullptr;
    QPushButton *cmdBrowse = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtAlarmTime = nullptr;
    QPushButton *cmdSet = nullptr;
    QPushButton *cmdAwakeTestQuestions = nullptr;
    QLabel *lblAlarmStatus = nullptr;
    QPushButton *cmdAlarmTest = nullptr;
    QPushButton *cmdAlarmStop = nullptr;
    QTimer Timer1;

    QMenu *mnuFile = nullptr;
    QAction *mnuFileExit = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuHelpAbout = nullptr;
    QAction *mnuHelpLicenseInfo = nullptr;

public Q_SLOTS:
    void cmdAwakeTestQuestions_Click();
    void cmdBrowse_Click();
    void cmdSet_Click();
    void cmdAlarmTest_Click();
    void cmdAlarmStop_Click();
    void Form_Load();
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();
    void mnuHelpLicenseInfo_Click();
    void Timer1_Timer();
    void txtAlarmTime_Change();
    void txtFileNameWAV_Change();

    // The alarm this program armed before it died, handed back by its check:
    // armed again at its moment with its sound, so that it fires as set.
    void ringHandedOver(DateValue moment, const QString &soundFile);

    // The one gate of every close request; true when the close is cancelled.
    bool Form_QueryUnload();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void LoadSettings();
    void SaveSettings();
    void UpdateSetButton();
    void setStatusNotSet();
    void scheduleNextTick();
    // The tick's work, at once, and the next tick re-aligned.
    void checkAlarmNow();
    void updateSleepInhibitor();
    // The window, or the test open on it, brought in front for the person who
    // picked the notification.
    void comeForward(const QString &activationToken);
    // One message when the alarm file would not be heard as itself.
    void tellSoundProblem();

    Services &m_services;
    DateValue dtWakeyTime = 0;
    bool bAlarmSet = false;
    bool bAlarmSounding = false;
    frmAwareTest *m_awareTest = nullptr;
    frmQueryMinimize *m_queryMinimize = nullptr;
};

inline constexpr auto kStatusNotSet = "Alarm is NOT set!";
