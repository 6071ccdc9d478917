// Setting, firing, sounding and stopping the alarm, with the awareness test,
// against fake clock, sound and message boxes.
#include "awareness/frmawaretest.h"
#include "config/configstore.h"
#include "support/captions.h"
#include "support/mainwindowcase.h"
#include "support/modal.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>
#include <memory>

namespace {

const QString kDateInPast = "Attempted to set alarm in the past.. I'm taking my best guess and "
                            "setting it ahead by a day.";
const QString kBadTime = "You should try entering a time...";
const QString kBadFile = "Sorry, I can't find the file you specified, or it doesn't appear to be "
                         "a WAV file.  I'm an old-fashioned kind of guy.. I expect the file "
                         "extension to be .WAV";

DateValue at(int y, int mo, int d, int h, int mi, int s = 0)
{
    return datevalue::fromDateAndTime(QDate(y, mo, d), QTime(h, mi, s));
}

QuestionRef pair(const QString &question, const QString &answer)
{
    auto record = std::make_shared<AwareTestQuestion>();
    record->setQuestion(question);
    record->setAnswer(answer);
    return record;
}

} // namespace

class tst_Alarm : public QObject, private MainWindowCase
{
    Q_OBJECT

private:
    void setAt(frmMain &main, const QString &time)
    {
        main.txtAlarmTime->setText(time);
        main.cmdSet_Click();
    }

    static bool touch(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init() { startCase(QTime(7, 29, 59)); }
    void cleanup() { endCase(); }

    void timeAloneArmsTheNextOccurrence_data()
    {
        QTest::addColumn<QTime>("now");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QString>("shown");
        const QString today = "12/7/2026 7:30:00 AM";
        const QString tomorrow = "12/8/2026 7:30:00 AM";
        QTest::newRow("a second before") << QTime(7, 29, 59) << at(2026, 12, 7, 7, 30) << today;
        QTest::newRow("the same second") << QTime(7, 30, 0) << at(2026, 12, 7, 7, 30) << today;
        QTest::newRow("a second after") << QTime(7, 30, 1) << at(2026, 12, 8, 7, 30) << tomorrow;
        QTest::newRow("late evening") << QTime(23, 59, 59) << at(2026, 12, 8, 7, 30) << tomorrow;
    }

    void timeAloneArmsTheNextOccurrence()
    {
        QFETCH(QTime, now);
        QFETCH(double, expected);
        QFETCH(QString, shown);
        m_fakes->clock.set(QDate(2026, 12, 7), now);
        frmMain &main = open();
        setAt(main, "7:30");
        QVERIFY(main.alarmSet());
        QCOMPARE(main.wakeyTime(), expected);
        QVERIFY(m_fakes->messages.texts.isEmpty());
        QCOMPARE(main.lblAlarmStatus->text(), "Alarm is SET for " + shown);
        QCOMPARE(main.sWakeyFileName, m_wav);
    }

    void dateInTheFutureIsConfirmed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QString>("shown");
        QTest::newRow("date and time")
            << "12/25/2030 7:00 AM" << at(2030, 12, 25, 7, 0) << "12/25/2030 7:00:00 AM";
        QTest::newRow("date alone") << "12/25/2030" << at(2030, 12, 25, 0, 0) << "12/25/2030";
    }

    void dateInTheFutureIsConfirmed()
    {
        QFETCH(QString, typed);
        QFETCH(double, expected);
        QFETCH(QString, shown);
        frmMain &main = open();
        setAt(main, typed);
        QCOMPARE(m_fakes->messages.texts,
                 QStringList{"I'm setting the alarm for " + shown +
                             "... I hope you really meant to include a date!"});
        QCOMPARE(m_fakes->messages.titles, QStringList{"ROUSTABELL"});
        QCOMPARE(main.wakeyTime(), expected);
        QCOMPARE(main.lblAlarmStatus->text(), "Alarm is SET for " + shown);
        QVERIFY(main.alarmSet());
    }

    void dateInThePastMovesOneDayOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("expected");
        QTest::addColumn<bool>("firesAtNextTick");
        QTest::newRow("an hour ago")
            << "12/7/2026 6:29:59 AM" << at(2026, 12, 8, 6, 29, 59) << false;
        QTest::newRow("a week ago") << "11/30/2026 7:00 AM" << at(2026, 12, 1, 7, 0) << true;
    }

    void dateInThePastMovesOneDayOnly()
    {
        QFETCH(QString, typed);
        QFETCH(double, expected);
        QFETCH(bool, firesAtNextTick);
        frmMain &main = open();
        setAt(main, typed);
        QCOMPARE(m_fakes->messages.texts, QStringList{kDateInPast});
        QCOMPARE(main.wakeyTime(), expected);
        QVERIFY(main.alarmSet());
        m_fakes->clock.advanceSeconds(1);
        main.Timer1_Timer();
        QCOMPARE(main.alarmSounding(), firesAtNextTick);
    }

    void datesBeforeTheEpochTakeTheTimePath()
    {
        frmMain &main = open();
        // 1899-12-30 is day 0: the typed value is added to today's midnight.
        setAt(main, "12/30/1899 7:30 AM");
        QVERIFY(m_fakes->messages.texts.isEmpty());
        QCOMPARE(main.wakeyTime(), at(2026, 12, 7, 7, 30));
        // Far before: stays in the past after one day and fires at once.
        setAt(main, "1/1/1800 8:00 AM");
        QVERIFY(m_fakes->messages.texts.isEmpty());
        const DateValue expected = std::floor(m_fakes->clock.value) + at(1800, 1, 1, 8, 0) + 1;
        QCOMPARE(main.wakeyTime(), expected);
        m_fakes->clock.advanceSeconds(1);
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
    }

    void soundFileCheck_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("made"); // "file", "folder" or nothing
        QTest::addColumn<bool>("accepted");
        QTest::newRow("lower case") << "a.wav"
                                    << "file" << true;
        QTest::newRow("mixed case extension") << "WAKE.Wav"
                                              << "file" << true;
        QTest::newRow("not a wav") << "wake.mp3"
                                   << "file" << false;
        QTest::newRow("missing") << "missing.wav"
                                 << "" << false;
        QTest::newRow("hidden") << ".hidden.wav"
                                << "file" << false;
        QTest::newRow("no extension at all") << "wav"
                                             << "file" << false;
        QTest::newRow("short name") << "w"
                                    << "file" << false;
        QTest::newRow("brackets are literal") << "[a].wav"
                                              << "file" << true;
        QTest::newRow("folder named like a wav") << "sub.wav"
                                                 << "folder" << false;
    }

    void soundFileCheck()
    {
        QFETCH(QString, name);
        QFETCH(QString, made);
        QFETCH(bool, accepted);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        if (made == "file")
            QVERIFY(touch(path));
        else if (made == "folder")
            QVERIFY(QDir(folder.path()).mkdir(name));
        frmMain &main = open();
        main.txtFileNameWAV->setText(path);
        setAt(main, "7:30");
        QCOMPARE(main.alarmSet(), accepted);
        if (accepted) {
            QCOMPARE(main.sWakeyFileName, path);
            QVERIFY(m_fakes->messages.texts.isEmpty());
        } else {
            QCOMPARE(m_fakes->messages.texts, QStringList{kBadFile});
            QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
            QVERIFY(!QFile::exists(m_dir.configPath()));
        }
    }

    void patternIsAcceptedAndStoredAsTyped()
    {
        QTemporaryDir folder;
        QVERIFY(touch(folder.filePath("notes.txt")));
        frmMain &main = open();
        const QString pattern = folder.path() + "/*.wav";
        main.txtFileNameWAV->setText(pattern);
        setAt(main, "7:30");
        QVERIFY(!main.alarmSet());
        QVERIFY(touch(folder.filePath("bell.WAV")));
        setAt(main, "7:30");
        QVERIFY(main.alarmSet());
        QCOMPARE(main.sWakeyFileName, pattern);
    }

    void badTimeIsRefused()
    {
        frmMain &main = open();
        setAt(main, "7:30");
        QVERIFY(main.alarmSet());
        const DateValue armed = main.wakeyTime();
        setAt(main, "nonsense");
        QCOMPARE(m_fakes->messages.texts, QStringList{kBadTime});
        QVERIFY(!main.alarmSet());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
        QCOMPARE(main.wakeyTime(), armed);
        // The cancelled alarm no longer sounds.
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 31));
        main.Timer1_Timer();
        QVERIFY(!main.alarmSounding());
    }

    void setSavesBothTextsAsTyped()
    {
        frmMain &main = open();
        // The texts are on disk before the sound is loaded, which may stall.
        std::optional<QString> savedWhenPrepared;
        m_fakes->sound.duringPrepare = [&] {
            savedWhenPrepared = configstore::load(m_dir.path()).wakeyTime;
        };
        setAt(main, " 7:30 ");
        const configstore::StoredSettings stored = configstore::load(m_dir.path());
        QCOMPARE(stored.wakeyTime.value_or("?"), QString(" 7:30 "));
        QCOMPARE(stored.wakeyFileName.value_or("?"), m_wav);
        // Prepared ahead so that the ring is heard at once.
        QVERIFY(m_fakes->sound.calls.contains(FakeSound::Call{"prepare", m_wav}));
        QCOMPARE(savedWhenPrepared.value_or("?"), QString(" 7:30 "));
    }

    void failedSaveIsReportedAndTheAlarmStaysArmed()
    {
        // A config folder whose parent is a file cannot be written, not even by root.
        QTemporaryDir folder;
        QVERIFY(touch(folder.filePath("file")));
        m_fakes->services.configDirectory = folder.filePath("file/sub");
        frmMain &main = open();
        setAt(main, "7:30");
        QVERIFY(main.alarmSet());
        QCOMPARE(m_fakes->messages.texts.size(), 1);
        QVERIFY2(m_fakes->messages.texts.first().contains(folder.filePath("file/sub")),
                 qPrintable(m_fakes->messages.texts.first()));
    }

    void timerFiresOnceAfterTheMoment()
    {
        frmMain &main = open();
        setAt(main, "7:30");
        m_fakes->sound.calls.clear();
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 0));
        main.Timer1_Timer();
        QVERIFY(!main.alarmSounding());
        QVERIFY(m_fakes->sound.calls.isEmpty());
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
        QVERIFY(!main.alarmSet());
        QCOMPARE(m_fakes->sound.calls, (QList<FakeSound::Call>{{"loop", m_wav}}));
        // The status keeps the moment while it sounds.
        QVERIFY(main.lblAlarmStatus->text().startsWith("Alarm is SET for "));
        for (int i = 0; i < 5; ++i) {
            m_fakes->clock.advanceSeconds(1);
            main.Timer1_Timer();
        }
        QCOMPARE(m_fakes->sound.calls.size(), 1);
    }

    void firingRestoresTheWindow_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("picked");
        QTest::newRow("minimized") << int(Qt::WindowMinimized) << false;
        QTest::newRow("maximized") << int(Qt::WindowMaximized) << false;
        QTest::newRow("behind another window") << int(Qt::WindowNoState) << false;
        QTest::newRow("minimized again, notification picked") << int(Qt::WindowMinimized) << true;
    }

    void firingRestoresTheWindow()
    {
        QFETCH(int, state);
        QFETCH(bool, picked);
        frmMain &main = open();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        setAt(main, "7:30");
        QWidget other;
        const auto putAway = [&] {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            main.setWindowState(Qt::WindowStates(state));
            QTRY_VERIFY(main.windowState() == Qt::WindowStates(state));
        };
        putAway();
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        if (picked) {
            putAway();
            QVERIFY(m_fakes->notifications.open);
            m_fakes->notifications.open(QString());
        }
        QVERIFY(!(main.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)));
        QVERIFY(main.isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), &main);
    }

    void notificationFollowsTheAlarm_data()
    {
        QTest::addColumn<bool>("withQuestion");
        QTest::newRow("stopped at once") << false;
        QTest::newRow("stopped by the answer") << true;
    }

    void notificationFollowsTheAlarm()
    {
        QFETCH(bool, withQuestion);
        FakeNotifications &notifications = m_fakes->notifications;
        frmMain &main = open();
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        // The test sound is no alarm firing.
        main.cmdAlarmTest_Click();
        main.cmdAlarmStop_Click();
        if (withQuestion)
            main.Questions.append(pair("q", "a"));
        setAt(main, "7:30");
        QVERIFY(!notifications.shown);
        QVERIFY(!notifications.calls.contains("show"));
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        for (int tick = 0; tick < 3; ++tick) {
            main.Timer1_Timer();
            m_fakes->clock.advanceSeconds(1);
        }
        const std::optional<QString> body = "Alarm for 7:30:00 AM 12/7/2026";
        QCOMPARE(notifications.shown, body);
        QCOMPARE(notifications.calls.count("show"), 1);

        std::optional<QString> shownDuringTest;
        ModalDriver driver;
        if (withQuestion)
            driver.onNextModal([&](QWidget *test) {
                shownDuringTest = notifications.shown;
                // Picked while the test is open: the test, not its blocked parent, comes forward.
                QWidget other;
                other.show();
                other.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&other));
                notifications.open(QString());
                QTRY_COMPARE(QApplication::activeWindow(), test);
                auto *aware = qobject_cast<frmAwareTest *>(test);
                QVERIFY(aware);
                QTest::keyClicks(aware->txtAnswer, "a");
                QTest::mouseClick(aware->cmdStopAlarm, Qt::LeftButton);
            });
        main.cmdAlarmStop_Click();
        QCOMPARE(driver.ran(), withQuestion);
        QVERIFY(!driver.timedOut());
        if (withQuestion)
            QCOMPARE(shownDuringTest, body);
        QVERIFY(!main.alarmSounding());
        QVERIFY(!notifications.shown);
        QCOMPARE(notifications.calls.last(), QString("withdraw"));
    }

    void realTimerRunsTheHandler()
    {
        frmMain &main = open();
        setAt(main, "7:30");
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        // The fake clock says the next second is 1000 ms away.
        QTRY_VERIFY_WITH_TIMEOUT(main.alarmSounding(), 2500);
    }

    // Stop silences and disarms in every state, and asks nothing unless an
    // alarm sounds with questions defined; the test sound leaves the alarm set.
    void stopSilencesAndDisarms_data()
    {
        QTest::addColumn<bool>("armed");
        QTest::addColumn<bool>("testSound");
        QTest::addColumn<bool>("question");
        QTest::newRow("idle") << false << false << false;
        QTest::newRow("armed, with a question") << true << false << true;
        QTest::newRow("test sound while armed") << true << true << false;
    }

    void stopSilencesAndDisarms()
    {
        QFETCH(bool, armed);
        QFETCH(bool, testSound);
        QFETCH(bool, question);
        frmMain &main = open();
        if (question)
            main.Questions.append(pair("q", "a"));
        if (armed)
            setAt(main, "7:30");
        if (testSound) {
            main.txtFileNameWAV->setText("/not/even/checked.mp3");
            main.cmdAlarmTest_Click();
            QVERIFY(main.alarmSounding() && main.alarmSet());
            QCOMPARE(m_fakes->sound.looping, QString("/not/even/checked.mp3"));
            QCOMPARE(main.sWakeyFileName, QString("/not/even/checked.mp3"));
        }
        ModalDriver driver;
        driver.onNextModal([](QWidget *) {}, 300);
        main.cmdAlarmStop_Click();
        QVERIFY(!driver.ran());
        QVERIFY(m_fakes->sound.kinds().endsWith("stop"));
        QVERIFY(m_fakes->sound.looping.isEmpty());
        QVERIFY(!main.alarmSet() && !main.alarmSounding());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 31));
        main.Timer1_Timer();
        QVERIFY(!main.alarmSounding());
    }

    void setWhileSoundingKeepsTheSound()
    {
        frmMain &main = open();
        setAt(main, "7:30");
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
        setAt(main, "8:00");
        QVERIFY(main.alarmSounding());
        QVERIFY(main.alarmSet());
        QCOMPARE(m_fakes->sound.looping, m_wav);
        QVERIFY(main.lblAlarmStatus->text().endsWith("8:00:00 AM"));
        main.cmdAlarmStop_Click();
        QVERIFY(!main.alarmSet());
        QVERIFY(!main.alarmSounding());
    }

    void alarmFiresBehindASetMessage()
    {
        // Armed for 07:30; at 07:45 a date an hour ago is typed. While the
        // past-date message is open, the new moment already lies in the past.
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 0));
        frmMain &main = open();
        setAt(main, "7:30");
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 45));
        bool soundingBehindTheBox = false;
        m_fakes->messages.whileShown = [&](const QString &) {
            main.Timer1_Timer();
            soundingBehindTheBox = main.alarmSounding();
        };
        setAt(main, "12/7/2026 6:45 AM");
        QVERIFY(soundingBehindTheBox);
        QVERIFY(main.alarmSet());
        QCOMPARE(main.wakeyTime(), at(2026, 12, 8, 6, 45));
    }

    void stopWithQuestionsNeedsTheRightAnswer()
    {
        frmMain &main = open();
        main.Questions.append(pair("Capital of France?", "Paris"));
        main.Questions.append(pair("Two plus two?", "4"));
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.cmdAlarmTest_Click();
        m_fakes->random.sequence = {0.0, 0.99};
        m_fakes->sound.calls.clear();

        QStringList questionsSeen;
        QList<QList<FakeSound::Call>> soundsAfterEachAnswer;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *test = qobject_cast<frmAwareTest *>(window);
            QVERIFY(test);
            questionsSeen.append(test->lblQuestion->text());
            QCOMPARE(QApplication::focusWidget(), test->txtAnswer);
            QTest::keyClicks(test->txtAnswer, "paris");
            QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
            soundsAfterEachAnswer.append(m_fakes->sound.calls);
            questionsSeen.append(test->lblQuestion->text());
            QCOMPARE(test->txtAnswer->text(), QString());
            QCOMPARE(QApplication::focusWidget(), test->txtAnswer);
            QTest::keyClicks(test->txtAnswer, "4");
            QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
        });
        main.cmdAlarmStop_Click();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QCOMPARE(driver.title(), QString("AWAKE???     AWARE???   PROVE IT!!!"));
        QCOMPARE(questionsSeen, (QStringList{"Capital of France?", "Two plus two?"}));
        // Wrong answer: the buzzer to its end, then the alarm again.
        QCOMPARE(soundsAfterEachAnswer.first(),
                 (QList<FakeSound::Call>{{"once", m_dir.path() + "/WRONG!.WAV"}, {"loop", m_wav}}));
        QCOMPARE(m_fakes->sound.calls.last().kind, QString("stop"));
        QVERIFY(!main.alarmSounding());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
    }

    void answerMustMatchExactly_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("right");
        QTest::newRow("same") << "Paris"
                              << "Paris" << true;
        QTest::newRow("case") << "Paris"
                              << "PARIS" << false;
        QTest::newRow("leading blank") << "Paris"
                                       << " Paris" << false;
        QTest::newRow("trailing blank") << "Paris"
                                        << "Paris " << false;
        QTest::newRow("blank kept in answer") << " Paris "
                                              << " Paris " << true;
        QTest::newRow("empty answer, empty box") << ""
                                                 << "" << true;
        QTest::newRow("empty answer, a blank") << ""
                                               << " " << false;
        QTest::newRow("accent") << "café"
                                << "cafe" << false;
    }

    void answerMustMatchExactly()
    {
        QFETCH(QString, answer);
        QFETCH(QString, typed);
        QFETCH(bool, right);
        frmMain &main = open();
        main.Questions.append(pair("q", answer));
        main.cmdAlarmTest_Click();
        frmAwareTest test(main.awareness(), &main);
        test.show();
        QVERIFY(waitForFocus(&test));
        test.txtAnswer->setText(typed);
        m_fakes->sound.calls.clear();
        test.cmdStopAlarm_Click();
        QCOMPARE(test.isVisible(), !right);
        QCOMPARE(m_fakes->sound.calls.isEmpty(), right);
    }

    void pickMapsTheRandomNumberToAPosition_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("position");
        QTest::newRow("zero") << 5 << 0.0 << 1;
        QTest::newRow("just below one") << 5 << std::nextafter(1.0, 0.0) << 5;
        QTest::newRow("just below a step") << 4 << std::nextafter(0.5, 0.0) << 2;
        QTest::newRow("on a step") << 4 << 0.5 << 3;
        QTest::newRow("single pair") << 1 << 0.7 << 1;
        QTest::newRow("beyond 16 bits") << 40000 << std::nextafter(1.0, 0.0) << 40000;
    }

    void pickMapsTheRandomNumberToAPosition()
    {
        QFETCH(int, count);
        QFETCH(double, r);
        QFETCH(int, position);
        frmMain &main = open();
        for (int i = 1; i <= count; ++i)
            main.Questions.append(pair(QString::number(i), QString()));
        m_fakes->random.sequence = {r};
        frmAwareTest test(main.awareness(), &main);
        QCOMPARE(test.currentQuestion(), main.Questions.item(position));
        QCOMPARE(test.lblQuestion->text(), QString::number(position));
    }

    void sameQuestionTextDifferentAnswers()
    {
        frmMain &main = open();
        main.Questions.append(pair("Which?", "first"));
        main.Questions.append(pair("Which?", "second"));
        m_fakes->random.sequence = {0.75};
        frmAwareTest test(main.awareness(), &main);
        test.show();
        test.txtAnswer->setText("first");
        test.cmdStopAlarm_Click();
        QVERIFY(test.isVisible());
        m_fakes->random.sequence = {0.75};
        test.txtAnswer->setText("second");
        test.cmdStopAlarm_Click();
        QVERIFY(!test.isVisible());
    }

    void noWayOutButTheAnswer()
    {
        frmMain &main = open();
        main.Questions.append(pair("q", "a"));
        frmAwareTest test(main.awareness(), &main);
        test.show();
        QVERIFY(waitForFocus(&test));
        QTest::keyClick(test.txtAnswer, Qt::Key_Escape);
        QVERIFY(test.isVisible());
        test.txtAnswer->setText("a");
        QTest::keyClick(test.txtAnswer, Qt::Key_Return);
        QTest::keyClick(test.txtAnswer, Qt::Key_Enter);
        QVERIFY2(test.isVisible(), "Enter must not submit");
        QVERIFY(!test.close());
        QVERIFY(test.isVisible());
        QVERIFY(!(test.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(test.windowFlags() & Qt::WindowSystemMenuHint));
        // The focused submit button takes Enter, as every focused button does.
        test.cmdStopAlarm->setFocus();
        QTest::keyClick(test.cmdStopAlarm, Qt::Key_Return);
        QVERIFY(!test.isVisible());
    }

    void awarenessWindowDesign()
    {
        frmMain &main = open();
        main.Questions.append(pair("A question long enough to need more than one line when it is "
                                   "shown in the large question font of the window",
                                   "a"));
        frmAwareTest test(main.awareness(), &main);
        QCOMPARE(test.size(), QSize(668, 335));
        QCOMPARE(test.Label1->text(), QString("QUESTION:"));
        QCOMPARE(test.Label2->text(),
                 QString("PROVE YOU ARE AWAKE -- Type your (case-sensitive) answer:"));
        QCOMPARE(test.cmdStopAlarm->text(),
                 QString("I submit my answer and await your approval, Alarm Clock!"));
        QCOMPARE(test.Label1->font().pointSizeF(), 12.0);
        QVERIFY(test.Label1->font().bold());
        QCOMPARE(test.lblQuestion->font().pointSizeF(), 18.0);
        QVERIFY(!test.lblQuestion->font().bold());
        QVERIFY(test.lblQuestion->wordWrap());
        QCOMPARE(test.txtAnswer->geometry(), QRect(8, 232, 649, 49));
        QCOMPARE(test.cmdStopAlarm->geometry(), QRect(168, 296, 337, 33));
        for (QWidget *control : std::initializer_list<QWidget *>{
                 test.Label1, test.Label2, test.cmdStopAlarm, test.lblQuestion})
            VERIFY_CAPTION_FITS(control);
        // The question is long enough to need its wrapping.
        QVERIFY(test.lblQuestion->fontMetrics().horizontalAdvance(test.lblQuestion->text()) >
                test.lblQuestion->width());
    }
};

QTEST_MAIN(tst_Alarm)
#include "tst_alarm.moc"
