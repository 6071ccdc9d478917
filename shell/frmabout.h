#pragma once

#include "platform/services.h"
#include "platform/widgets/dialogs.h"

class QFrame;
class QLabel;
class QPushButton;

// The About window: title, version, description, disclaimer, the maker's web
// link and a launcher for the system information tool.
class frmAbout : public ReloadingDialog
{
    Q_OBJECT
public:
    explicit frmAbout(Services &services, QWidget *parent = nullptr);

    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblURL = nullptr;

    void StartSysInfo();
    bool GetKeyValue(std::uint32_t &KeyRoot, QString &KeyName, QString &SubKeyRef, QString &KeyVal);

public Q_SLOTS:
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Form_Load() override;
    void lblURL_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Esc and the close button come here: both press cmdOK.
    void reject() override;

    Services &m_services;
    // The etched separator: [0] the white line, [1] the grey one above it.
    QFrame *Line1[2] = {};
};
