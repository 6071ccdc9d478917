#pragma once

#include "platform/services.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

inline constexpr auto kMakerWebSite = "https://roustabell.example.org/";

// The About window: title, version, description, disclaimer, the maker's web
// link and a launcher for the system information tool.
class frmAbout : public QDialog
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
    void Form_Load();
    void lblURL_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Esc and the close button come here: both press cmdOK.
    void reject() override;
    // Each opening loads the window afresh, as if it had been unloaded.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    Services &m_services;
    // The etched separator: [0] the white line, [1] the grey one above it.
    QFrame *Line1[2] = {};
    bool m_loaded = false;
};
