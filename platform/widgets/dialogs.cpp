#include "platform/widgets/dialogs.h"

#include "platform/linux/motifhints.h"
#include "platform/widgets/framehints.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QShowEvent>

ControlBoxlessDialog::ControlBoxlessDialog(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   noWindowButtonsFlags());
}

void ControlBoxlessDialog::unload()
{
    done(QDialog::Accepted);
}

void ControlBoxlessDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ControlBoxlessDialog::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void ControlBoxlessDialog::showEvent(QShowEvent *event)
{
    // Before the window is mapped, so that the window manager reads it at once.
    if (!event->spontaneous())
        offerNoWindowButtons(this);
    QDialog::showEvent(event);
}

ReloadingDialog::ReloadingDialog(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

void ReloadingDialog::showEvent(QShowEvent *event)
{
    if (!event->spontaneous() && !m_loaded) {
        m_loaded = true;
        Form_Load();
        if (m_focusAtOpening)
            m_focusAtOpening->setFocus();
    }
    QDialog::showEvent(event);
}

void ReloadingDialog::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        m_loaded = false;
    QDialog::hideEvent(event);
}
