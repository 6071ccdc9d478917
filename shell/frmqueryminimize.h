#pragma once

#include "platform/windowsystem.h"

class QLabel;
class QPushButton;
class frmMain;

// Asked when the main window is closed while an alarm is set: exit and lose
// the alarm, or minimize and keep it.
class frmQueryMinimize : public ControlBoxlessDialog
{
    Q_OBJECT
public:
    explicit frmQueryMinimize(frmMain &main, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QPushButton *cmdMinimize = nullptr;
    QPushButton *cmdExitForReal = nullptr;

public Q_SLOTS:
    void cmdExitForReal_Click();
    void cmdMinimize_Click();

private:
    frmMain &m_main;
};
