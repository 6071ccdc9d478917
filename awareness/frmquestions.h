#pragma once

#include "awareness/questionset.h"
#include "platform/windowsystem.h"

class QLabel;
class QLineEdit;
class QPushButton;
class frmMain;

// Editor of the question set. Works on the main window's set in place, at
// every keystroke; Done writes the set to the configuration file.
class frmQuestions : public ControlBoxlessDialog
{
    Q_OBJECT
public:
    explicit frmQuestions(frmMain &main, QWidget *parent = nullptr);

    // Controls, in tab order.
    QPushButton *cmdOK = nullptr;
    ListControl *cboQA_List = nullptr;
    QLineEdit *txtQuestion = nullptr;
    QLineEdit *txtAnswer = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdAdd = nullptr;
    QLabel *Label3 = nullptr;

public Q_SLOTS:
    void cboQA_List_Click();
    void cmdAdd_Click();
    void cmdDelete_Click();
    void cmdOK_Click();
    void Form_Load();
    void txtAnswer_Change();
    void txtQuestion_Change();
    void txtQuestion_GotFocus();
    void txtQuestion_LostFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The pair behind the list's selection; only while there is one.
    QuestionRef selectedPair() const;

    frmMain &m_main;
};
