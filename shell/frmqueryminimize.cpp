#include "shell/frmqueryminimize.h"

#include "app/frmmain.h"

#include <QLabel>
#include <QPushButton>

frmQueryMinimize::frmQueryMinimize(frmMain &main, QWidget *parent)
    : ControlBoxlessDialog(parent), m_main(main)
{
    // A blank, not an empty text: for an empty title Qt shows the program's name.
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(QIcon());
    setFont(defaultDialogFont());
    resize(twips(4965), twips(3045));

    Label1 = new QLabel(
        QStringLiteral("Do you really want to close the Alarm Clock program?  (If you do, the "
                       "alarm will NOT go off.)    If you want your alarm to remain set, you "
                       "should minimize the window instead of closing it."),
        this);
    Label1->setGeometry(twipsRect(240, 120, 4455, 975));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cmdMinimize = new QPushButton(QStringLiteral("You're right.. Minimize it please."), this);
    cmdMinimize->setGeometry(twipsRect(240, 1320, 4575, 495));
    cmdExitForReal = new QPushButton(QStringLiteral("I SAID EXIT AND I MEANT EXIT!!!!!"), this);
    cmdExitForReal->setGeometry(twipsRect(240, 1920, 4575, 495));

    setTabOrder(cmdMinimize, cmdExitForReal);
    cmdMinimize->setFocus();
    connect(cmdMinimize, &QPushButton::clicked, this, &frmQueryMinimize::cmdMinimize_Click);
    connect(cmdExitForReal, &QPushButton::clicked, this, &frmQueryMinimize::cmdExitForReal_Click);
}

void frmQueryMinimize::cmdExitForReal_Click()
{
    m_main.services().control.endProgram();
}

void frmQueryMinimize::cmdMinimize_Click()
{
    m_main.setWindowState((m_main.windowState() & ~Qt::WindowMaximized) | Qt::WindowMinimized);
    unload();
}
