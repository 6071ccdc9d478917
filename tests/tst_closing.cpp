// Every way the main window can be asked to close, in every alarm state.
#include "awareness/frmawaretest.h"
#include "shell/frmqueryminimize.h"
#include "support/captions.h"
#include "support/mainwindowcase.h"
#include "support/modal.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

class tst_Closing : public QObject, private MainWindowCase
{
    Q_OBJECT

private:
    bool arm(frmMain &main)
    {
        main.txtAlarmTime->setText("7:30");
        main.cmdSet_Click();
        return main.alarmSet();
    }

    void addQuestion(frmMain &main)
    {
        auto question = std::make_shared<AwareTestQuestion>();
        question->setQuestion("Say yes");
        question->setAnswer("yes");
        main.Questions.append(question);
    }

    // How the close request arrives.
    enum Route { TitleBar, FileExit };

    void requestClose(frmMain &main, int route)
    {
        if (route == TitleBar)
            main.close();
        else
            main.mnuFileExit->trigger();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init() { startCase(); }
    void cleanup() { endCase(); }

    // Nothing is asked unless an alarm is set and silent: a sounding one is
    // stopped and disarmed, and the window stays until the next close.
    void closesWithoutAQuestion_data()
    {
        QTest::addColumn<int>("route");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("sounding");
        QTest::newRow("idle, title bar") << int(TitleBar) << false << false;
        QTest::newRow("idle, File, Exit") << int(FileExit) << false << false;
        QTest::newRow("test sound") << int(TitleBar) << false << true;
        QTest::newRow("test sound while armed") << int(TitleBar) << true << true;
    }

    void closesWithoutAQuestion()
    {
        QFETCH(int, route);
        QFETCH(bool, armed);
        QFETCH(bool, sounding);
        frmMain &main = openActive();
        if (armed)
            QVERIFY(arm(main));
        if (sounding)
            main.cmdAlarmTest_Click();
        ModalDriver driver;
        driver.onNextModal([](QWidget *) {}, 300);
        requestClose(main, route);
        QTest::qWait(400);
        QVERIFY(!driver.ran());
        QCOMPARE(main.isVisible(), sounding);
        QVERIFY(!main.alarmSet() && !main.alarmSounding());
        QVERIFY(m_fakes->sound.looping.isEmpty());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
        main.close();
        QVERIFY(!main.isVisible());
    }

    void setAsksAndMinimizeKeepsTheAlarm_data()
    {
        QTest::addColumn<int>("route");
        QTest::newRow("title bar") << int(TitleBar);
        QTest::newRow("File, Exit") << int(FileExit);
    }
    void setAsksAndMinimizeKeepsTheAlarm()
    {
        QFETCH(int, route);
        frmMain &main = openActive();
        QVERIFY(arm(main));
        const QString status = main.lblAlarmStatus->text();
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *question = qobject_cast<frmQueryMinimize *>(window);
            QVERIFY(question);
            QVERIFY(main.isVisible());
            QCOMPARE(QApplication::focusWidget(), question->cmdMinimize);
            QTest::mouseClick(question->cmdMinimize, Qt::LeftButton);
        });
        requestClose(main, route);
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QVERIFY(main.isVisible());
        QTRY_VERIFY(main.windowState() & Qt::WindowMinimized);
        QVERIFY(main.alarmSet());
        QCOMPARE(main.lblAlarmStatus->text(), status);
        QCOMPARE(m_fakes->control.ends, 0);

        // The alarm still fires, and brings the window back.
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
        QVERIFY(!(main.windowState() & Qt::WindowMinimized));
    }

    void setAndExitEndsTheProgram()
    {
        frmMain &main = openActive();
        QVERIFY(arm(main));
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *question = qobject_cast<frmQueryMinimize *>(window);
            QVERIFY(question);
            QTest::mouseClick(question->cmdExitForReal, Qt::LeftButton);
            // The real service never returns; the fake does, so close it here.
            question->close();
            if (question->isVisible())
                static_cast<ControlBoxlessDialog *>(question)->unload();
        });
        main.close();
        QCOMPARE(m_fakes->control.ends, 1);
    }

    void soundingWithQuestionsNeedsTheAnswerFirst()
    {
        frmMain &main = openActive();
        addQuestion(main);
        QVERIFY(arm(main));
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
        bool stillSoundingDuringTest = false;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *test = qobject_cast<frmAwareTest *>(window);
            QVERIFY(test);
            stillSoundingDuringTest = !m_fakes->sound.looping.isEmpty();
            test->txtAnswer->setText("yes");
            QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
        });
        main.close();
        QVERIFY(driver.ran());
        QVERIFY(stillSoundingDuringTest);
        QVERIFY(main.isVisible());
        QVERIFY(!main.alarmSounding());
        QVERIFY(!main.alarmSet());
        QVERIFY(m_fakes->sound.looping.isEmpty());
    }

    void alarmFiresBehindTheQuestion()
    {
        frmMain &main = openActive();
        QVERIFY(arm(main));
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *question = qobject_cast<frmQueryMinimize *>(window);
            QVERIFY(question);
            m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
            main.Timer1_Timer();
            QTest::mouseClick(question->cmdMinimize, Qt::LeftButton);
        });
        main.close();
        QVERIFY(driver.ran());
        QVERIFY(main.alarmSounding());
        QCOMPARE(m_fakes->sound.looping, m_wav);
        QTRY_VERIFY(main.windowState() & Qt::WindowMinimized);
    }

    void questionClosedOtherwiseStillCancels()
    {
        frmMain &main = openActive();
        QVERIFY(arm(main));
        ModalDriver driver;
        driver.onNextModal([](QWidget *window) {
            // Neither button: the window goes away by other means.
            static_cast<QDialog *>(window)->done(QDialog::Rejected);
        });
        main.close();
        QVERIFY(driver.ran());
        QVERIFY(main.isVisible());
        QVERIFY(!(main.windowState() & Qt::WindowMinimized));
        QVERIFY(main.alarmSet());
    }

    void questionIgnoresEscAndCloseRequests()
    {
        frmMain &main = openActive();
        frmQueryMinimize question(m_fakes->services, main, &main);
        question.show();
        QVERIFY(waitForFocus(&question));
        QTest::keyClick(&question, Qt::Key_Escape);
        QVERIFY(question.isVisible());
        QVERIFY(!question.close());
        QVERIFY(question.isVisible());
    }

    void questionDesign()
    {
        frmMain &main = openActive();
        frmQueryMinimize question(m_fakes->services, main, &main);
        QCOMPARE(question.windowTitle().trimmed(), QString());
        QCOMPARE(question.size(), QSize(331, 203));
        QCOMPARE(question.Label1->text(),
                 QString("Do you really want to close the Alarm Clock program?  (If you do, the "
                         "alarm will NOT go off.)    If you want your alarm to remain set, you "
                         "should minimize the window instead of closing it."));
        QCOMPARE(question.cmdMinimize->text(), QString("You're right.. Minimize it please."));
        QCOMPARE(question.cmdExitForReal->text(), QString("I SAID EXIT AND I MEANT EXIT!!!!!"));
        QCOMPARE(question.cmdMinimize->geometry(), QRect(16, 88, 305, 33));
        QCOMPARE(question.cmdExitForReal->geometry(), QRect(16, 128, 305, 33));
        QVERIFY(!question.cmdMinimize->isDefault());
        QVERIFY(!question.cmdExitForReal->isDefault());
        for (QWidget *control : std::initializer_list<QWidget *>{
                 question.Label1, question.cmdMinimize, question.cmdExitForReal})
            VERIFY_CAPTION_FITS(control);
        QVERIFY(!(question.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(question.windowFlags() & Qt::WindowMinimizeButtonHint));
    }
};

QTEST_MAIN(tst_Closing)
#include "tst_closing.moc"
