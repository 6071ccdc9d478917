#include "shell/frmqueryminimize.h"

#include "platform/widgets/layout.h"

#include <QLabel>
#include <QPushButton>

frmQueryMinimize::frmQueryMinimize(Services &services, QWidget &window, QWidget *parent)
    : ControlBoxlessDialog(parent), m_services(services), m_window(window)
{
    // A blank, not an empty text: for an empty title Qt shows the program's name.
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(QIcon());
    setFont(defaultDialogFont());
    resize(twips(4965), twips(3045));

    Label1 = makeLabel(
        this,
        QStringLiteral("Do you really want to close the Alarm Clock program?  (If you do, the "
                       "alarm will NOT go off.)    If you want your alarm to remain set, you "
                       "should minimize the window instead of closing it."),
        twipsRect(240, 120, 4455, 975));
    cmdMinimize = makeButton(this, QStringLiteral("You're right.. Minimize it please."),
                             twipsRect(240, 1320, 4575, 495));
    cmdExitForReal = makeButton(this, QStringLiteral("I SAID EXIT AND I MEANT EXIT!!!!!"),
                                twipsRect(240, 1920, 4575, 495));

    setTabOrder(cmdMinimize, cmdExitForReal);
    cmdMinimize->setFocus();
    connect(cmdMinimize, &QPushButton::clicked, this, &frmQueryMinimize::cmdMinimize_Click);
    connect(cmdExitForReal, &QPushButton::clicked, this, &frmQueryMinimize::cmdExitForReal_Click);
}

void frmQueryMinimize::cmdExitForReal_Click()
{
    m_services.control.endProgram();
}

void frmQueryMinimize::cmdMinimize_Click()
{
    m_window.setWindowState((m_window.windowState() & ~Qt::WindowMaximized) | Qt::WindowMinimized);
    unload();
}
