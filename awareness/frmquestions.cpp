#include "awareness/frmquestions.h"

#include "config/configstore.h"
#include "platform/widgets/layout.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStringList>

namespace {

const char *const kBlankQuestion = "(blank question)";
const char *const kKeptInUse =
    "\n\nThe questions as you left them stay in use until the program ends.";

// Switching to another window or opening a context menu is no change of
// focus between the window's controls.
bool movesFocusBetweenControls(const QEvent *event)
{
    const Qt::FocusReason reason = static_cast<const QFocusEvent *>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

} // namespace

frmQuestions::frmQuestions(const AwarenessContext &context, QWidget *parent)
    : ControlBoxlessDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("Define AwareTest Questions and Answers"));
    setWindowIcon(drawnIcon(QStringLiteral("questionmark")));
    setFont(defaultDialogFont());
    setFixedSize(twips(7965), twips(3450));

    cmdOK = makeButton(this, "Done", twipsRect(6600, 3000, 1215, 375));
    cboQA_List = new ListControl(this);
    cboQA_List->setGeometry(twipsRect(360, 600, 5295, 315));
    // Entries are all one line high; the popup need not measure each one.
    if (auto *view = qobject_cast<QListView *>(cboQA_List->view()))
        view->setUniformItemSizes(true);
    txtQuestion = makeTextBox(this, twipsRect(360, 1320, 5295, 615));
    txtQuestion->setEnabled(false);
    txtAnswer = makeTextBox(this, twipsRect(360, 2520, 5295, 615));
    txtAnswer->setEnabled(false);
    Label1 = makeLabel(this, "Question:", twipsRect(360, 1080, 1335, 255));
    Label2 = makeLabel(this,
                       "Answer (NOTE: This is case-sensitive.  Don't do anything stupid with "
                       "capitalization that you'll regret in the morning.)",
                       twipsRect(360, 2040, 6615, 495));
    cmdDelete = makeButton(this, "Delete", twipsRect(5880, 600, 1455, 375));
    cmdAdd = makeButton(this, "Add", twipsRect(5880, 120, 1455, 375));
    Label3 = makeLabel(this,
                       "Select a question to edit, or click \"Add\" button to add a new "
                       "question/answer:",
                       twipsRect(120, 120, 5775, 375));

    // Screen readers name each box by the label above it.
    Label1->setBuddy(txtQuestion);
    Label2->setBuddy(txtAnswer);
    txtQuestion->setAccessibleName(QStringLiteral("Question"));
    txtAnswer->setAccessibleName(QStringLiteral("Answer"));
    cboQA_List->setAccessibleName(QStringLiteral("Questions"));

    setTabOrder(cmdOK, cboQA_List);
    setTabOrder(cboQA_List, txtQuestion);
    setTabOrder(txtQuestion, txtAnswer);
    setTabOrder(txtAnswer, cmdDelete);
    setTabOrder(cmdDelete, cmdAdd);

    txtQuestion->installEventFilter(this);
    cboQA_List->installEventFilter(this);

    connect(cboQA_List, &ListControl::clicked, this, &frmQuestions::cboQA_List_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmQuestions::cmdAdd_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmQuestions::cmdDelete_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmQuestions::cmdOK_Click);
    connect(txtAnswer, &QLineEdit::textChanged, this, &frmQuestions::txtAnswer_Change);
    connect(txtQuestion, &QLineEdit::textChanged, this, &frmQuestions::txtQuestion_Change);

    Form_Load();
    cmdOK->setFocus();
}

bool frmQuestions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtQuestion) {
        if (event->type() == QEvent::FocusIn && movesFocusBetweenControls(event))
            txtQuestion_GotFocus();
        else if (event->type() == QEvent::FocusOut && movesFocusBetweenControls(event))
            txtQuestion_LostFocus();
    } else if (watched == cboQA_List) {
        // A wheel turned over the list would change the pair behind the focused
        // question box without its entry ever catching up.
        if (event->type() == QEvent::Wheel && !cboQA_List->hasFocus())
            return true;
    }
    return ControlBoxlessDialog::eventFilter(watched, event);
}

void frmQuestions::cboQA_List_Click()
{
    if (cboQA_List->listIndex() < 0) {
        txtQuestion->setText(QString());
        txtAnswer->setText(QString());
        txtQuestion->setEnabled(false);
        txtAnswer->setEnabled(false);
        return;
    }
    txtQuestion->setEnabled(true);
    txtAnswer->setEnabled(true);
    // Read the pair afresh for each box: the first assignment's change handler
    // writes into the same pair.
    txtQuestion->setText(selectedPair()->Question());
    txtAnswer->setText(selectedPair()->Answer());
}

void frmQuestions::cmdAdd_Click()
{
    auto question = std::make_shared<AwareTestQuestion>();
    question->setQuestion(QString::fromUtf8(kBlankQuestion));
    question->setAnswer(QString());
    m_context.Questions.append(question);
    cboQA_List->addEntry(question->Question());
    cboQA_List->setListIndex(cboQA_List->listCount() - 1);
}

void frmQuestions::cmdDelete_Click()
{
    const int deleted = cboQA_List->listIndex();
    if (deleted >= 0) {
        m_context.Questions.remove(deleted + 1);
        cboQA_List->setListIndex(-1);
        cboQA_List->removeEntry(deleted);
        txtQuestion->setText(QString());
        txtAnswer->setText(QString());
    }
    if (cboQA_List->listCount() > 0) {
        if (cboQA_List->listCount() > deleted)
            cboQA_List->setListIndex(deleted);
        else
            cboQA_List->setListIndex(deleted - 1);
    }
}

void frmQuestions::cmdOK_Click()
{
    Services &services = m_context.services;
    const configstore::SaveResult result =
        configstore::saveQuestions(services.configDirectory, m_context.Questions.storedPairs());
    // A failed save closes the window too: staying open while the save keeps
    // failing would trap the person (and an alarm firing behind it).
    if (!result.ok)
        services.messages.show(this, result.message() + QString::fromUtf8(kKeptInUse));
    else if (!result.keptAside.isEmpty())
        services.messages.show(this, result.message());
    unload();
}

void frmQuestions::Form_Load()
{
    QStringList entries;
    entries.reserve(m_context.Questions.count());
    for (const QuestionRef &question : m_context.Questions)
        entries.append(question->Question());
    cboQA_List->addEntries(entries);
}

void frmQuestions::txtAnswer_Change()
{
    if (cboQA_List->listIndex() < 0)
        return;
    selectedPair()->setAnswer(txtAnswer->text());
}

void frmQuestions::txtQuestion_Change()
{
    if (cboQA_List->listIndex() < 0)
        return;
    selectedPair()->setQuestion(txtQuestion->text());
}

void frmQuestions::txtQuestion_GotFocus()
{
    if (txtQuestion->text() == QLatin1String(kBlankQuestion))
        txtQuestion->setText(QString());
}

void frmQuestions::txtQuestion_LostFocus()
{
    if (txtQuestion->text().isEmpty())
        txtQuestion->setText(QString::fromUtf8(kBlankQuestion));
    const int selected = cboQA_List->listIndex();
    if (selected < 0)
        return;
    cboQA_List->removeEntry(selected);
    cboQA_List->insertEntry(selected, txtQuestion->text());
    cboQA_List->setListIndex(selected);
}

QuestionRef frmQuestions::selectedPair() const
{
    return m_context.Questions.item(cboQA_List->listIndex() + 1);
}
