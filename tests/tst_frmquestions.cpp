// The question editor, driven as a person would: real focus changes, clicks
// and keystrokes on the shown window, working on the main window's set.
#include "awareness/frmquestions.h"
#include "config/configstore.h"
#include "support/captions.h"
#include "support/mainwindowcase.h"
#include "support/modal.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QWheelEvent>

#include <climits>
#include <memory>

namespace {

const QString kBlank = "(blank question)";

using Pairs = QList<QPair<QString, QString>>;

QStringList numbered(const QString &prefix, int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts.append(prefix + QString::number(i));
    return texts;
}

Pairs numberedPairs(int count)
{
    Pairs pairs;
    for (int i = 0; i < count; ++i)
        pairs.append({"q" + QString::number(i), "a" + QString::number(i)});
    return pairs;
}

QStringList entries(const frmQuestions &editor)
{
    QStringList texts;
    for (int i = 0; i < editor.cboQA_List->listCount(); ++i)
        texts.append(editor.cboQA_List->list(i));
    return texts;
}

QStringList questionsOf(const QuestionSet &set)
{
    QStringList texts;
    for (const QuestionRef &question : set)
        texts.append(question->Question());
    return texts;
}

QStringList answersOf(const QuestionSet &set)
{
    QStringList texts;
    for (const QuestionRef &question : set)
        texts.append(question->Answer());
    return texts;
}

QStringList storedQuestions(const configstore::StoredSettings &stored)
{
    QStringList texts;
    for (const configstore::QuestionPair &pair : stored.pairs)
        texts.append(pair.question);
    return texts;
}

QStringList storedAnswers(const configstore::StoredSettings &stored)
{
    QStringList texts;
    for (const configstore::QuestionPair &pair : stored.pairs)
        texts.append(pair.answer);
    return texts;
}

void click(QWidget *widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget();
    QVERIFY(target);
    QTest::keyClick(target, key, modifiers);
}

void typeKeys(const QString &text)
{
    QWidget *target = QApplication::focusWidget();
    QVERIFY(target);
    QTest::keyClicks(target, text);
}

// Empties the focused box with the keyboard, as a person would.
void clearByKeyboard()
{
    press(Qt::Key_A, Qt::ControlModifier);
    press(Qt::Key_Delete);
}

} // namespace

class tst_frmQuestions : public QObject, private MainWindowCase
{
    Q_OBJECT

private:
    // A child of the main window, so it goes first.
    std::unique_ptr<frmQuestions> m_editor;

    frmMain &makeMain(const Pairs &pairs)
    {
        m_editor.reset();
        openAsLoaded();
        for (const auto &[question, answer] : pairs) {
            auto record = std::make_shared<AwareTestQuestion>();
            record->setQuestion(question);
            record->setAnswer(answer);
            m_main->Questions.append(record);
        }
        return *m_main;
    }

    // The editor on its own, shown and active, over a main window with pairs.
    bool openEditor(const Pairs &pairs)
    {
        makeMain(pairs);
        m_editor = std::make_unique<frmQuestions>(m_main->awareness(), m_main.get());
        m_editor->show();
        return waitForFocus(m_editor.get());
    }

    frmQuestions &editor() { return *m_editor; }

    // Entry i stands for set position i + 1, in the same order.
    void verifyListMatchesSet() { QCOMPARE(entries(editor()), questionsOf(m_main->Questions)); }

    void verifyNothingSelected()
    {
        QCOMPARE(editor().cboQA_List->listIndex(), -1);
        QCOMPARE(editor().txtQuestion->text(), QString());
        QCOMPARE(editor().txtAnswer->text(), QString());
        QVERIFY(!editor().txtQuestion->isEnabled());
        QVERIFY(!editor().txtAnswer->isEnabled());
    }

    QWidget *control(const QString &name)
    {
        const QHash<QString, QWidget *> byName{{"cmdOK", editor().cmdOK},
                                               {"cboQA_List", editor().cboQA_List},
                                               {"txtQuestion", editor().txtQuestion},
                                               {"txtAnswer", editor().txtAnswer},
                                               {"Label1", editor().Label1},
                                               {"Label2", editor().Label2},
                                               {"cmdDelete", editor().cmdDelete},
                                               {"cmdAdd", editor().cmdAdd},
                                               {"Label3", editor().Label3}};
        return byName.value(name);
    }

    bool clickIntoQuestion()
    {
        click(editor().txtQuestion);
        return editor().txtQuestion->hasFocus();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init()
    {
        m_editor.reset();
        startCase();
    }

    void cleanup()
    {
        m_editor.reset();
        endCase();
    }

    void windowDesign()
    {
        QVERIFY(openEditor({}));
        QCOMPARE(editor().windowTitle(), QString("Define AwareTest Questions and Answers"));
        QVERIFY(!editor().windowIcon().pixmap(32, 32).isNull());
        const QSize client(531, 230);
        QCOMPARE(editor().size(), client);
        QCOMPARE(editor().minimumSize(), client);
        QCOMPARE(editor().maximumSize(), client);
        const Qt::WindowFlags flags = editor().windowFlags();
        QVERIFY(!(flags & Qt::WindowSystemMenuHint));
        QVERIFY(!(flags & Qt::WindowCloseButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!editor().cboQA_List->isEditable());
        QVERIFY(!editor().txtQuestion->isEnabled());
        QVERIFY(!editor().txtAnswer->isEnabled());
        for (QPushButton *button : {editor().cmdOK, editor().cmdDelete, editor().cmdAdd}) {
            QVERIFY(button->isEnabled());
            QVERIFY(!button->isDefault());
        }
    }

    void controls_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::newRow("cmdOK") << "cmdOK" << QRect(440, 200, 81, 25) << "Done";
        QTest::newRow("cboQA_List") << "cboQA_List" << QRect(24, 40, 353, 21) << "";
        QTest::newRow("txtQuestion") << "txtQuestion" << QRect(24, 88, 353, 41) << "";
        QTest::newRow("txtAnswer") << "txtAnswer" << QRect(24, 168, 353, 41) << "";
        QTest::newRow("Label1") << "Label1" << QRect(24, 72, 89, 17) << "Question:";
        QTest::newRow("Label2") << "Label2" << QRect(24, 136, 441, 33)
                                << "Answer (NOTE: This is case-sensitive.  Don't do anything "
                                   "stupid with capitalization that you'll regret in the "
                                   "morning.)";
        QTest::newRow("cmdDelete") << "cmdDelete" << QRect(392, 40, 97, 25) << "Delete";
        QTest::newRow("cmdAdd") << "cmdAdd" << QRect(392, 8, 97, 25) << "Add";
        QTest::newRow("Label3") << "Label3" << QRect(8, 8, 385, 25)
                                << "Select a question to edit, or click \"Add\" button to add a "
                                   "new question/answer:";
    }

    void controls()
    {
        QFETCH(QString, control);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QVERIFY(openEditor({}));
        QWidget *widget = this->control(control);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);

        if (auto *label = qobject_cast<QLabel *>(widget)) {
            QCOMPARE(label->text(), caption);
            VERIFY_CAPTION_FITS(label);
        } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
            QCOMPARE(button->text(), caption);
            VERIFY_CAPTION_FITS(button);
        } else if (auto *box = qobject_cast<QLineEdit *>(widget)) {
            QCOMPARE(box->text(), caption);
        } else {
            QCOMPARE(editor().cboQA_List->listCount(), 0);
        }
    }

    void tabOrder()
    {
        QVERIFY(openEditor(numberedPairs(1)));
        editor().cboQA_List->setListIndex(0);
        QCOMPARE(QApplication::focusWidget(), editor().cmdOK);
        const QList<QWidget *> expected{editor().cboQA_List, editor().txtQuestion,
                                        editor().txtAnswer,  editor().cmdDelete,
                                        editor().cmdAdd,     editor().cmdOK};
        for (QWidget *next : expected) {
            press(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void opening_data()
    {
        QTest::addColumn<Pairs>("pairs");
        QTest::newRow("empty set") << Pairs{};
        QTest::newRow("three pairs in set order")
            << Pairs{{"zeta", "1"}, {"alpha", "2"}, {"mid", "3"}};
        QTest::newRow("empty question, duplicates, placeholder")
            << Pairs{{"", "x"}, {"same", "y"}, {"same", "y"}, {kBlank, ""}};
    }

    void opening()
    {
        QFETCH(Pairs, pairs);
        QVERIFY(openEditor(pairs));
        QStringList expected;
        for (const auto &pair : pairs)
            expected.append(pair.first);
        QCOMPARE(entries(editor()), expected);
        verifyNothingSelected();
        QCOMPARE(QApplication::focusWidget(), editor().cmdOK);
        // Opening neither writes the file nor touches the set.
        QVERIFY(!QFile::exists(m_dir.configPath()));
        QCOMPARE(questionsOf(m_main->Questions), expected);
    }

    void openedFromTheMainWindow()
    {
        frmMain &main = makeMain(numberedPairs(2));
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *opened = qobject_cast<frmQuestions *>(window);
            QVERIFY(opened);
            QCOMPARE(QApplication::focusWidget(), opened->cmdOK);
            QCOMPARE(opened->cboQA_List->listCount(), 2);
            click(opened->cmdOK);
        });
        main.cmdAwakeTestQuestions->click();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QCOMPARE(driver.title(), QString("Define AwareTest Questions and Answers"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void add_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("empty set") << 0;
        QTest::newRow("behind two pairs") << 2;
    }

    void add()
    {
        QFETCH(int, before);
        QVERIFY(openEditor(numberedPairs(before)));
        click(editor().cmdAdd);
        QStringList expected = numbered("q", before);
        expected.append(kBlank);
        QCOMPARE(entries(editor()), expected);
        QCOMPARE(questionsOf(m_main->Questions), expected);
        QCOMPARE(m_main->Questions.item(before + 1)->Answer(), QString());
        QCOMPARE(editor().cboQA_List->listIndex(), before);
        QVERIFY(editor().txtQuestion->isEnabled());
        QVERIFY(editor().txtAnswer->isEnabled());
        QCOMPARE(editor().txtQuestion->text(), kBlank);
        QCOMPARE(editor().txtAnswer->text(), QString());
        QCOMPARE(QApplication::focusWidget(), editor().cmdAdd);
        // Nothing is saved before Done.
        QVERIFY(!QFile::exists(m_dir.configPath()));
    }

    void placeholderOnFocus_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("whileFocused");
        QTest::addColumn<QString>("afterLeaving");
        QTest::newRow("placeholder is emptied") << kBlank << "" << kBlank;
        QTest::newRow("other case stays") << "(Blank question)"
                                          << "(Blank question)"
                                          << "(Blank question)";
        QTest::newRow("trailing blank stays") << "(blank question) "
                                              << "(blank question) "
                                              << "(blank question) ";
        QTest::newRow("leading blank stays") << " (blank question)"
                                             << " (blank question)"
                                             << " (blank question)";
        QTest::newRow("shorter text stays") << "(blank questio"
                                            << "(blank questio"
                                            << "(blank questio";
        QTest::newRow("ordinary question stays") << "Capital of Peru?"
                                                 << "Capital of Peru?"
                                                 << "Capital of Peru?";
    }

    void placeholderOnFocus()
    {
        QFETCH(QString, question);
        QFETCH(QString, whileFocused);
        QFETCH(QString, afterLeaving);
        QVERIFY(openEditor({{"first", "1"}, {question, "2"}}));
        editor().cboQA_List->setListIndex(1);
        QVERIFY(clickIntoQuestion());
        QCOMPARE(editor().txtQuestion->text(), whileFocused);
        QCOMPARE(m_main->Questions.item(2)->Question(), whileFocused);
        QCOMPARE(editor().cboQA_List->list(1), question);

        click(editor().txtAnswer);
        QCOMPARE(editor().txtQuestion->text(), afterLeaving);
        QCOMPARE(m_main->Questions.item(2)->Question(), afterLeaving);
        QCOMPARE(editor().cboQA_List->list(1), afterLeaving);
        QCOMPARE(editor().cboQA_List->listIndex(), 1);
        QCOMPARE(m_main->Questions.item(1)->Question(), QString("first"));
        verifyListMatchesSet();
    }

    void leavingEmptyRestoresPlaceholder_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Tab") << "tab";
        QTest::newRow("Shift+Tab") << "backtab";
        QTest::newRow("click on the answer box") << "answer";
    }

    void leavingEmptyRestoresPlaceholder()
    {
        QFETCH(QString, how);
        QVERIFY(openEditor({{"old", "kept"}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        clearByKeyboard();
        QCOMPARE(m_main->Questions.item(1)->Question(), QString());
        QCOMPARE(editor().cboQA_List->list(0), QString("old"));

        if (how == "tab")
            press(Qt::Key_Tab);
        else if (how == "backtab")
            press(Qt::Key_Backtab, Qt::ShiftModifier);
        else
            click(editor().txtAnswer);
        QVERIFY(!editor().txtQuestion->hasFocus());
        QCOMPARE(editor().txtQuestion->text(), kBlank);
        QCOMPARE(m_main->Questions.item(1)->Question(), kBlank);
        QCOMPARE(editor().cboQA_List->list(0), kBlank);
        QCOMPARE(editor().cboQA_List->listIndex(), 0);
        QCOMPARE(editor().txtAnswer->text(), QString("kept"));
    }

    // Focus leaves on the mouse press; the button's click comes on release.
    void lostFocusEndsBeforeButtonClick_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Add after a new question") << "add"
                                                  << "new" << QStringList{"new", kBlank};
        QTest::newRow("Add after emptying") << "add"
                                            << "" << QStringList{kBlank, kBlank};
        QTest::newRow("Done after a new question") << "done"
                                                   << "new" << QStringList{"new"};
        QTest::newRow("Done after emptying") << "done"
                                             << "" << QStringList{kBlank};
    }

    void lostFocusEndsBeforeButtonClick()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        QVERIFY(openEditor({{"old", "answer"}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        clearByKeyboard();
        typeKeys(typed);

        QTest::mouseClick(button == "add" ? editor().cmdAdd : editor().cmdOK, Qt::LeftButton);
        QCOMPARE(entries(editor()), expected);
        QCOMPARE(questionsOf(m_main->Questions), expected);
        if (button == "add") {
            QCOMPARE(editor().cboQA_List->listIndex(), 1);
            QVERIFY(editor().isVisible());
        } else {
            QVERIFY(!editor().isVisible());
            QCOMPARE(storedQuestions(configstore::load(m_dir.path())), expected);
        }
    }

    void typingUpdatesPairAtEveryKeystroke_data()
    {
        QTest::addColumn<bool>("questionBox");
        QTest::addColumn<QString>("typed");
        QTest::newRow("question") << true << "Name?";
        QTest::newRow("question, blanks and case kept") << true << " Mixed CASE & <b> ";
        QTest::newRow("answer") << false << "Lima";
        QTest::newRow("answer, blanks and case kept") << false << " tRiCkY \"answer\" ";
    }

    void typingUpdatesPairAtEveryKeystroke()
    {
        QFETCH(bool, questionBox);
        QFETCH(QString, typed);
        QVERIFY(openEditor({{"q0", "a0"}, {"q1", "a1"}, {"q2", "a2"}}));
        editor().cboQA_List->setListIndex(1);
        QLineEdit *box = questionBox ? editor().txtQuestion : editor().txtAnswer;
        click(box);
        QVERIFY(box->hasFocus());
        clearByKeyboard();
        const QuestionRef pair = m_main->Questions.item(2);
        QString sofar;
        for (const QChar character : typed) {
            typeKeys(QString(character));
            sofar += character;
            QCOMPARE(box->text(), sofar);
            QCOMPARE(questionBox ? pair->Question() : pair->Answer(), sofar);
            // The list lags until the question box loses the focus.
            QCOMPARE(entries(editor()), QStringList({"q0", "q1", "q2"}));
        }
        QCOMPARE(questionBox ? pair->Answer() : pair->Question(),
                 questionBox ? QString("a1") : QString("q1"));

        press(Qt::Key_Tab);
        QCOMPARE(entries(editor()),
                 questionBox ? QStringList({"q0", typed, "q2"}) : QStringList({"q0", "q1", "q2"}));
        QCOMPARE(questionsOf(m_main->Questions), entries(editor()));
        QCOMPARE(answersOf(m_main->Questions),
                 questionBox ? QStringList({"a0", "a1", "a2"}) : QStringList({"a0", typed, "a2"}));
    }

    void retypedPlaceholderIsEmptiedAgain()
    {
        QVERIFY(openEditor({{"q0", "a0"}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        clearByKeyboard();
        typeKeys(kBlank);
        press(Qt::Key_Tab);
        QCOMPARE(editor().cboQA_List->list(0), kBlank);
        QCOMPARE(QApplication::focusWidget(), editor().txtAnswer);
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(editor().txtQuestion->hasFocus());
        QCOMPARE(editor().txtQuestion->text(), QString());
        QCOMPARE(m_main->Questions.item(1)->Question(), QString());
    }

    void pickingWithTheKeyboardLoadsThePair()
    {
        QVERIFY(openEditor({{"q0", "a0"}, {"q1", "a1"}}));
        press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), editor().cboQA_List);
        press(Qt::Key_Down);
        QCOMPARE(editor().cboQA_List->listIndex(), 0);
        QCOMPARE(editor().txtQuestion->text(), QString("q0"));
        QCOMPARE(editor().txtAnswer->text(), QString("a0"));
        QVERIFY(editor().txtQuestion->isEnabled());
        press(Qt::Key_Down);
        QCOMPARE(editor().txtQuestion->text(), QString("q1"));
        QCOMPARE(editor().txtAnswer->text(), QString("a1"));
        // Loading the boxes wrote nothing foreign into either pair.
        QCOMPARE(questionsOf(m_main->Questions), QStringList({"q0", "q1"}));
        QCOMPARE(answersOf(m_main->Questions), QStringList({"a0", "a1"}));
    }

    void selectingNoneEmptiesAndDisables()
    {
        QVERIFY(openEditor({{"q0", "a0"}}));
        editor().cboQA_List->setListIndex(0);
        QCOMPARE(editor().txtAnswer->text(), QString("a0"));
        editor().cboQA_List->setListIndex(-1);
        verifyNothingSelected();
        QCOMPARE(questionsOf(m_main->Questions), QStringList{"q0"});
        QCOMPARE(answersOf(m_main->Questions), QStringList{"a0"});
    }

    void deletePair_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<int>("selectedAfter");
        QTest::newRow("first of 3") << 3 << 0 << QStringList{"q1", "q2"} << 0;
        QTest::newRow("middle of 3") << 3 << 1 << QStringList{"q0", "q2"} << 1;
        QTest::newRow("last of 3") << 3 << 2 << QStringList{"q0", "q1"} << 1;
        QTest::newRow("only pair") << 1 << 0 << QStringList{} << -1;
        QTest::newRow("nothing selected") << 3 << -1 << QStringList{"q0", "q1", "q2"} << -1;
        QTest::newRow("empty list") << 0 << -1 << QStringList{} << -1;
    }

    void deletePair()
    {
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(QStringList, remaining);
        QFETCH(int, selectedAfter);
        QVERIFY(openEditor(numberedPairs(count)));
        editor().cboQA_List->setListIndex(selected);
        click(editor().cmdDelete);

        QCOMPARE(entries(editor()), remaining);
        QCOMPARE(questionsOf(m_main->Questions), remaining);
        QStringList answers = remaining;
        answers.replaceInStrings("q", "a");
        QCOMPARE(answersOf(m_main->Questions), answers);
        QCOMPARE(editor().cboQA_List->listIndex(), selectedAfter);
        if (selectedAfter < 0) {
            verifyNothingSelected();
        } else {
            QVERIFY(editor().txtQuestion->isEnabled());
            QCOMPARE(editor().txtQuestion->text(), remaining.at(selectedAfter));
            QCOMPARE(editor().txtAnswer->text(), answers.at(selectedAfter));
        }
        QVERIFY(m_fakes->messages.texts.isEmpty());
        QVERIFY(editor().isVisible());
    }

    void deleteWhileEditingRemovesTheEditedPair()
    {
        QVERIFY(openEditor(numberedPairs(3)));
        editor().cboQA_List->setListIndex(1);
        QVERIFY(clickIntoQuestion());
        typeKeys("changed");
        click(editor().cmdDelete);
        QCOMPARE(entries(editor()), QStringList({"q0", "q2"}));
        QCOMPARE(questionsOf(m_main->Questions), QStringList({"q0", "q2"}));
        QCOMPARE(editor().txtQuestion->text(), QString("q2"));
    }

    void enterPressesOnlyTheFocusedButton_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("pairsAfter");
        QTest::addColumn<bool>("closed");
        QTest::newRow("question box") << "txtQuestion" << 2 << false;
        QTest::newRow("answer box") << "txtAnswer" << 2 << false;
        QTest::newRow("list") << "cboQA_List" << 2 << false;
        QTest::newRow("Add") << "cmdAdd" << 3 << false;
        QTest::newRow("Delete") << "cmdDelete" << 1 << false;
        QTest::newRow("Done") << "cmdOK" << 2 << true;
    }

    void enterPressesOnlyTheFocusedButton()
    {
        QFETCH(QString, focus);
        QFETCH(int, pairsAfter);
        QFETCH(bool, closed);
        QVERIFY(openEditor(numberedPairs(2)));
        editor().cboQA_List->setListIndex(0);
        // Visit every control first, as Qt promotes a default button on the way.
        for (int i = 0; i < 6; ++i)
            press(Qt::Key_Tab);
        QWidget *target = control(focus);
        QVERIFY(target);
        target->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), target);

        press(Qt::Key_Return);
        QCOMPARE(m_main->Questions.count(), pairsAfter);
        QCOMPARE(editor().cboQA_List->listCount(), pairsAfter);
        QCOMPARE(!editor().isVisible(), closed);
        QCOMPARE(QFile::exists(m_dir.configPath()), closed);
    }

    void cannotBeClosedByThePerson_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Esc on Done") << "esc";
        QTest::newRow("Esc in the answer box") << "esc-answer";
        QTest::newRow("close request") << "close";
        QTest::newRow("window manager close") << "window";
    }

    void cannotBeClosedByThePerson()
    {
        QFETCH(QString, how);
        QVERIFY(openEditor(numberedPairs(1)));
        if (how == "esc") {
            press(Qt::Key_Escape);
        } else if (how == "esc-answer") {
            editor().cboQA_List->setListIndex(0);
            click(editor().txtAnswer);
            press(Qt::Key_Escape);
        } else if (how == "close") {
            QVERIFY(!editor().close());
        } else {
            QVERIFY(editor().windowHandle());
            editor().windowHandle()->close();
        }
        QCoreApplication::processEvents();
        QVERIFY(editor().isVisible());
        QVERIFY(!QFile::exists(m_dir.configPath()));
        QCOMPARE(m_main->Questions.count(), 1);
    }

    void doneWithoutChangesWritesTheFile()
    {
        QVERIFY(openEditor({{"q0", "a0"}, {"", ""}, {"a & <b>", "\"c\""}}));
        click(editor().cmdOK);
        QVERIFY(!editor().isVisible());
        QCOMPARE(editor().result(), int(QDialog::Accepted));
        QVERIFY(QFile::exists(m_dir.configPath()));
        const configstore::StoredSettings stored = configstore::load(m_dir.path());
        QCOMPARE(storedQuestions(stored), QStringList({"q0", "", "a & <b>"}));
        QCOMPARE(storedAnswers(stored), QStringList({"a0", "", "\"c\""}));
        QVERIFY(m_fakes->messages.texts.isEmpty());
    }

    void doneTwiceDoesNotDoublePairs()
    {
        frmMain &main = makeMain(numberedPairs(3));
        for (int round = 0; round < 2; ++round) {
            ModalDriver driver;
            driver.onNextModal([](QWidget *window) {
                auto *opened = qobject_cast<frmQuestions *>(window);
                QVERIFY(opened);
                // Every opening builds the list afresh from the set.
                QCOMPARE(opened->cboQA_List->listCount(), 3);
                click(opened->cmdOK);
            });
            main.cmdAwakeTestQuestions->click();
            QVERIFY(driver.ran());
            QVERIFY(!driver.timedOut());
        }
        const configstore::StoredSettings stored = configstore::load(m_dir.path());
        QCOMPARE(storedQuestions(stored), numbered("q", 3));
        QCOMPARE(storedAnswers(stored), numbered("a", 3));
        QCOMPARE(main.Questions.count(), 3);
    }

    void failedDoneClosesAndKeepsTheSetInUse()
    {
        // A directory below a regular file cannot be made, not even by root.
        const QString blocker = m_dir.filePath("not-a-directory");
        {
            QFile file(blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString unwritable = blocker + "/config";
        m_fakes->services.configDirectory = unwritable;
        QVERIFY(openEditor({{"q0", "a0"}}));
        editor().cboQA_List->setListIndex(0);
        click(editor().txtAnswer);
        clearByKeyboard();
        typeKeys("typed");
        click(editor().cmdOK);

        QCOMPARE(m_fakes->messages.texts.size(), 1);
        QVERIFY2(m_fakes->messages.texts.first().contains(configstore::filePath(unwritable)),
                 qPrintable(m_fakes->messages.texts.first()));
        QVERIFY(m_fakes->messages.texts.first().endsWith(
            "\n\nThe questions as you left them stay in use until the program ends."));
        QCOMPARE(m_fakes->messages.titles.first(), QString("ROUSTABELL"));
        QVERIFY(!editor().isVisible());
        QCOMPARE(m_main->Questions.item(1)->Answer(), QString("typed"));
    }

    void deletingEveryPairWhileSoundingLetsStopEndIt()
    {
        frmMain &main = makeMain(numberedPairs(2));
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        click(main.cmdAlarmTest);
        QVERIFY(main.alarmSounding());

        ModalDriver editing;
        editing.onNextModal([](QWidget *window) {
            auto *opened = qobject_cast<frmQuestions *>(window);
            QVERIFY(opened);
            opened->cboQA_List->setListIndex(0);
            click(opened->cmdDelete);
            QCOMPARE(opened->cboQA_List->listIndex(), 0);
            click(opened->cmdDelete);
            QCOMPARE(opened->cboQA_List->listCount(), 0);
            click(opened->cmdOK);
        });
        click(main.cmdAwakeTestQuestions);
        QVERIFY(editing.ran());
        QVERIFY(!editing.timedOut());
        QCOMPARE(main.Questions.count(), 0);
        QVERIFY(main.alarmSounding());
        QVERIFY(configstore::load(m_dir.path()).pairs.isEmpty());
        QVERIFY(QFile::exists(m_dir.configPath()));

        ModalDriver challenge;
        challenge.onNextModal([](QWidget *) {}, 500);
        const qsizetype callsBefore = m_fakes->sound.calls.size();
        click(main.cmdAlarmStop);
        QTest::qWait(600);
        QVERIFY(!challenge.ran());
        QCOMPARE(m_fakes->sound.calls.size(), callsBefore + 1);
        QCOMPARE(m_fakes->sound.calls.last().kind, QString("stop"));
        QVERIFY(!main.alarmSounding());
    }

    void wheelOverTheUnfocusedListChangesNothing()
    {
        QVERIFY(openEditor({{"q0", "a0"}, {"q1", "a1"}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        typeKeys("!");
        const QPoint centre = editor().cboQA_List->rect().center();
        QWheelEvent wheel(centre, editor().cboQA_List->mapToGlobal(centre), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(editor().cboQA_List, &wheel);
        QCOMPARE(editor().cboQA_List->listIndex(), 0);
        QVERIFY(editor().txtQuestion->hasFocus());
        press(Qt::Key_Tab);
        QCOMPARE(entries(editor()), QStringList({"q0!", "q1"}));
        verifyListMatchesSet();
    }

    void contextMenuIsNoFocusChange()
    {
        QVERIFY(openEditor({{kBlank, ""}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        QCOMPARE(editor().txtQuestion->text(), QString());

        // What a right click or the menu key delivers to the box.
        const QPoint centre = editor().txtQuestion->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Mouse, centre,
                                  editor().txtQuestion->mapToGlobal(centre));
        QApplication::sendEvent(editor().txtQuestion, &request);
        QTRY_VERIFY(QApplication::activePopupWidget());
        // While the menu is up, the box is as the person left it.
        QCOMPARE(editor().txtQuestion->text(), QString());
        QCOMPARE(m_main->Questions.item(1)->Question(), QString());
        QApplication::activePopupWidget()->close();
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QTRY_VERIFY(editor().txtQuestion->hasFocus());
        QCOMPARE(editor().txtQuestion->text(), QString());
        QCOMPARE(m_main->Questions.item(1)->Question(), QString());
    }

    void switchingWindowsIsNoFocusChange()
    {
        QVERIFY(openEditor({{kBlank, ""}}));
        editor().cboQA_List->setListIndex(0);
        QVERIFY(clickIntoQuestion());
        QCOMPARE(editor().txtQuestion->text(), QString());

        QWidget other;
        other.setWindowTitle("other");
        other.show();
        const auto activate = [](QWidget &window) {
            window.activateWindow();
            return waitForFocus(&window);
        };
        QVERIFY(activate(other));
        // Going to another window leaves the box as it was: no placeholder.
        QCOMPARE(editor().txtQuestion->text(), QString());
        QCOMPARE(m_main->Questions.item(1)->Question(), QString());

        QVERIFY(activate(editor()));
        QVERIFY(editor().txtQuestion->hasFocus());
        typeKeys(kBlank);
        QVERIFY(activate(other));
        QVERIFY(activate(editor()));
        // Coming back is no entering of the box either: the text stays.
        QCOMPARE(editor().txtQuestion->text(), kBlank);
        QCOMPARE(m_main->Questions.item(1)->Question(), kBlank);

        // Leaving for another control still runs the lost-focus step.
        clearByKeyboard();
        press(Qt::Key_Tab);
        QCOMPARE(editor().txtQuestion->text(), kBlank);
        QCOMPARE(editor().cboQA_List->list(0), kBlank);
    }
};

QTEST_MAIN(tst_frmQuestions)
#include "tst_frmquestions.moc"
