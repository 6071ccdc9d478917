#pragma once

#include "awareness/awarenesscontext.h"
#include "platform/widgets/dialogs.h"
#include "platform/widgets/listcontrol.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Editor of the question set. Works on the main window's set in place, at
// every keystroke; Done writes the set to the configuration file.
class frmQuestions : public ControlBoxlessDialog
{
    Q_OBJECT
public:
    explicit frmQuestions(const AwarenessContext &context, QWidget *parent = nullptr);

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

    AwarenessContext m_context;
};
