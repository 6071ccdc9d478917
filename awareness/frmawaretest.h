#pragma once

#include "awareness/awarenesscontext.h"
#include "platform/widgets/dialogs.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The challenge between a sounding alarm and silence: only the exact answer
// to a randomly picked question closes it.
class frmAwareTest : public ControlBoxlessDialog
{
    Q_OBJECT
public:
    explicit frmAwareTest(const AwarenessContext &context, QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *lblQuestion = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtAnswer = nullptr;
    QPushButton *cmdStopAlarm = nullptr;

    // The pair on screen; shared with the question set.
    QuestionRef currentQuestion() const { return CurrentQuestion; }

    // Shows the test modally until it is answered (or the program quits).
    void run();

public Q_SLOTS:
    void cmdStopAlarm_Click();
    void Form_Load();

protected:
    void changeEvent(QEvent *event) override;

private:
    void comeBack();

    AwarenessContext m_context;
    QuestionRef CurrentQuestion;
    bool m_mappedAnew = false;
};
