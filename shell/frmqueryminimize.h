#pragma once

#include "platform/services.h"
#include "platform/widgets/dialogs.h"

class QLabel;
class QPushButton;

// Asked when the main window is closed while an alarm is set: exit and lose
// the alarm, or minimize and keep it.
class frmQueryMinimize : public ControlBoxlessDialog
{
    Q_OBJECT
public:
    // window is the one that "Minimize" minimizes.
    frmQueryMinimize(Services &services, QWidget &window, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QPushButton *cmdMinimize = nullptr;
    QPushButton *cmdExitForReal = nullptr;

public Q_SLOTS:
    void cmdExitForReal_Click();
    void cmdMinimize_Click();

private:
    Services &m_services;
    QWidget &m_window;
};
