// Start-up of the main window: design, settings loaded into the boxes, the
// rule that enables Set, and how the alarm meets the machine's sleep.
#include "config/configstore.h"
#include "support/captions.h"
#include "support/mainwindowcase.h"
#include "support/modal.h"
#include "support/wavfile.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <memory>

class tst_frmMain : public QObject, private MainWindowCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init() { startCase(); }
    void cleanup() { endCase(); }

    void noConfigurationFile()
    {
        frmMain &main = openAsLoaded();
        QCOMPARE(main.txtFileNameWAV->text(), m_dir.path() + "/roustabell.wav");
        QCOMPARE(main.txtAlarmTime->text(), QString());
        QVERIFY(!main.cmdSet->isEnabled());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));
        QCOMPARE(main.Questions.count(), 0);
        QVERIFY(!main.alarmSet());
        QVERIFY(!main.alarmSounding());
        QVERIFY(m_fakes->messages.texts.isEmpty());
        // Loading never writes the file.
        QVERIFY(!QFile::exists(m_dir.configPath()));
    }

    void storedSettingsFillTheBoxesButDoNotArm()
    {
        QVERIFY(configstore::saveSettings(m_dir.path(), "/sounds/wake.wav", "7:30").ok);
        QuestionSet stored;
        for (const char *text : {"one", "two"}) {
            auto question = std::make_shared<AwareTestQuestion>();
            question->setQuestion(text);
            question->setAnswer(QString(text).toUpper());
            stored.append(question);
        }
        QVERIFY(configstore::saveQuestions(m_dir.path(), stored.storedPairs()).ok);

        frmMain &main = openAsLoaded();
        QCOMPARE(main.txtFileNameWAV->text(), QString("/sounds/wake.wav"));
        QCOMPARE(main.txtAlarmTime->text(), QString("7:30"));
        QVERIFY(main.cmdSet->isEnabled());
        QCOMPARE(main.Questions.count(), 2);
        QCOMPARE(main.Questions.item(2)->Question(), QString("two"));
        QCOMPARE(main.Questions.item(2)->Answer(), QString("TWO"));
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is NOT set!"));

        // The stored time comes and goes without a sound: only Set arms.
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 5));
        main.Timer1_Timer();
        QVERIFY(!main.alarmSounding());
        QVERIFY(m_fakes->sound.calls.isEmpty());
    }

    void storedTimeThatDoesNotParseStillLoads()
    {
        QVERIFY(configstore::saveSettings(m_dir.path(), "", "half past seven").ok);
        frmMain &main = openAsLoaded();
        QCOMPARE(main.txtAlarmTime->text(), QString("half past seven"));
        // An empty stored path gets the default.
        QCOMPARE(main.txtFileNameWAV->text(), m_dir.path() + "/roustabell.wav");
        QVERIFY(!main.cmdSet->isEnabled());
    }

    void design()
    {
        frmMain &main = openAsLoaded();
        QCOMPARE(main.windowTitle(), QString("Quillon's Clamorific Alarm Clock Thingy"));
        // A red clock with a white dial on a clear ground: pixels in another
        // order or row length would not read so.
        const QImage icon = main.windowIcon()
                                .pixmap(QSize(32, 32))
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        int red = 0, white = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb p = icon.pixel(x, y);
                red += qAlpha(p) == 255 && qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
                white += qAlpha(p) == 255 && qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
            }
        }
        QVERIFY2(red > 60 && white > 30,
                 qPrintable(QString("%1 red, %2 white").arg(red).arg(white)));
        QCOMPARE(main.centralWidget()->size(), QSize(466, 253));
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QCOMPARE(main.centralWidget()->mapToGlobal(QPoint(0, 0)), QPoint(117, 162));
        QCOMPARE(main.cmdAwakeTestQuestions->toolTip(),
                 QString("If you define \"Awareness Test\" questions, the alarm will not shut off "
                         "until you answer a question correctly.  If you do not define any "
                         "\"Awareness Test\" questions, you'll be able to kill the alarm by simply "
                         "clicking the \"STOP!\" button."));
        const QFont status = main.lblAlarmStatus->font();
        QCOMPARE(status.pointSizeF(), 15.75);
        QVERIFY(status.bold());
        QVERIFY(main.lblAlarmStatus->wordWrap());
        QVERIFY(main.lblAlarmStatus->alignment() & Qt::AlignHCenter);
        QVERIFY(main.Label1->alignment() & Qt::AlignRight);
        QVERIFY(main.Label2->alignment() & Qt::AlignRight);
    }

    void controlGeometry_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("pixels");
        // Twips divided by 15; each row is named after its control.
        QTest::newRow("Label1") << "Wakey noise (.WAV) file" << QRect(8, 16, 137, 17);
        QTest::newRow("txtFileNameWAV") << "" << QRect(152, 8, 201, 25);
        QTest::newRow("cmdBrowse") << "Browse" << QRect(360, 8, 73, 25);
        QTest::newRow("Label2") << "Wakey time" << QRect(72, 48, 73, 17);
        QTest::newRow("txtAlarmTime") << "" << QRect(152, 40, 137, 25);
        QTest::newRow("cmdSet") << "Set" << QRect(296, 40, 57, 25);
        QTest::newRow("cmdAwakeTestQuestions")
            << "Define \"Awareness Test\" Questions" << QRect(112, 80, 241, 33);
        QTest::newRow("lblAlarmStatus") << "Alarm is NOT set!" << QRect(8, 128, 449, 57);
        QTest::newRow("cmdAlarmTest") << "Alarm (test)" << QRect(88, 200, 81, 33);
        QTest::newRow("cmdAlarmStop") << "STOP! I'M UP!!!" << QRect(248, 200, 145, 33);
    }

    void controlGeometry()
    {
        QFETCH(QString, caption);
        QFETCH(QRect, pixels);
        frmMain &main = openAsLoaded();
        const std::map<QString, QWidget *> controls{
            {"Label1", main.Label1},
            {"txtFileNameWAV", main.txtFileNameWAV},
            {"cmdBrowse", main.cmdBrowse},
            {"Label2", main.Label2},
            {"txtAlarmTime", main.txtAlarmTime},
            {"cmdSet", main.cmdSet},
            {"cmdAwakeTestQuestions", main.cmdAwakeTestQuestions},
            {"lblAlarmStatus", main.lblAlarmStatus},
            {"cmdAlarmTest", main.cmdAlarmTest},
            {"cmdAlarmStop", main.cmdAlarmStop}};
        QWidget *widget = controls.at(QTest::currentDataTag());
        QCOMPARE(widget->geometry(), pixels);
        QCOMPARE(widget->parentWidget(), main.centralWidget());
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), caption);
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            QCOMPARE(button->text(), caption);
        else
            QVERIFY2(caption.isEmpty() && qobject_cast<QLineEdit *>(widget), "not an edit box");
    }

    void browse_data()
    {
        QTest::addColumn<bool>("picks");
        QTest::newRow("a name that does not exist yet") << true;
        QTest::newRow("cancelled") << false;
    }

    void browse()
    {
        QFETCH(bool, picks);
        frmMain &main = openAsLoaded();
        main.txtFileNameWAV->setText("/sounds/old.wav");
        if (picks)
            m_fakes->fileDialog.choice = QString("/sounds/not yet there.WAV");
        main.cmdBrowse->click();
        QCOMPARE(m_fakes->fileDialog.filters, QStringList{"*.wav"});
        QCOMPARE(m_fakes->fileDialog.fileNames, QStringList{"/sounds/old.wav"});
        QCOMPARE(main.txtFileNameWAV->text(),
                 QString(picks ? "/sounds/not yet there.WAV" : "/sounds/old.wav"));
    }

    void captionsFitTheirControls()
    {
        frmMain &main = openAsLoaded();
        main.lblAlarmStatus->setText("Alarm is SET for 12/25/2030 10:00:00 AM");
        for (QWidget *control : std::initializer_list<QWidget *>{
                 main.cmdBrowse, main.cmdSet, main.cmdAwakeTestQuestions, main.cmdAlarmTest,
                 main.cmdAlarmStop, main.Label1, main.Label2, main.lblAlarmStatus})
            VERIFY_CAPTION_FITS(control);
    }

    void tabOrderAndInitialFocus()
    {
        frmMain &main = openAsLoaded();
        // A disabled Set would be skipped.
        main.txtAlarmTime->setText("7:30");
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QCOMPARE(QApplication::focusWidget(), main.cmdAlarmTest);
        const QList<QWidget *> expected{main.txtFileNameWAV, main.cmdBrowse,
                                        main.cmdAlarmStop,   main.txtAlarmTime,
                                        main.cmdSet,         main.cmdAwakeTestQuestions,
                                        main.cmdAlarmTest};
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void menus()
    {
        frmMain &main = openAsLoaded();
        const QList<QAction *> top = main.menuBar()->actions();
        QCOMPARE(top.size(), 2);
        QCOMPARE(top.at(0)->text(), QString("&File"));
        QCOMPARE(top.at(1)->text(), QString("&Help"));
        QCOMPARE(main.mnuFile->actions().size(), 1);
        QCOMPARE(main.mnuFileExit->text(), QString("E&xit"));
        QCOMPARE(main.mnuHelp->actions().size(), 2);
        QCOMPARE(main.mnuHelpAbout->text(), QString("&About"));
        QCOMPARE(main.mnuHelpLicenseInfo->text(), QString("&License Info"));
        for (QAction *action : {main.mnuFileExit, main.mnuHelpAbout, main.mnuHelpLicenseInfo}) {
            QVERIFY(action->isEnabled());
            QVERIFY(!action->isCheckable());
            QVERIFY(action->shortcut().isEmpty());
        }
    }

    void setButtonRule_data()
    {
        QTest::addColumn<QString>("sound");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("time and path") << "/x/wake.wav"
                                       << "7:30" << true;
        QTest::newRow("date and time") << "/x/wake.wav"
                                       << "12/25/2030 7:00 AM" << true;
        QTest::newRow("date alone") << "/x/wake.wav"
                                    << "12/25/2030" << true;
        QTest::newRow("blank path still enables") << " "
                                                  << "7:30" << true;
        QTest::newRow("missing file still enables") << "/nowhere/x.mp3"
                                                    << "7:30" << true;
        QTest::newRow("empty path") << ""
                                    << "7:30" << false;
        QTest::newRow("empty time") << "/x/wake.wav"
                                    << "" << false;
        QTest::newRow("not a time") << "/x/wake.wav"
                                    << "soon" << false;
        QTest::newRow("hour out of range") << "/x/wake.wav"
                                           << "25:00" << false;
    }

    void setButtonRule()
    {
        QFETCH(QString, sound);
        QFETCH(QString, time);
        QFETCH(bool, enabled);
        frmMain &main = openAsLoaded();
        main.txtFileNameWAV->setText(sound);
        main.txtAlarmTime->setText(time);
        QCOMPARE(main.cmdSet->isEnabled(), enabled);
        // Either box may change last.
        main.txtAlarmTime->setText(QString());
        main.txtFileNameWAV->setText(QString());
        main.txtAlarmTime->setText(time);
        main.txtFileNameWAV->setText(sound);
        QCOMPARE(main.cmdSet->isEnabled(), enabled);
    }

    void typingEnablesSetAsSoonAsItReadsAsATime()
    {
        frmMain &main = openAsLoaded();
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        main.txtAlarmTime->setFocus();
        QList<bool> states;
        for (const QChar c : QString("7:30")) {
            QTest::keyClick(main.txtAlarmTime, c.toLatin1());
            states.append(main.cmdSet->isEnabled());
        }
        QCOMPARE(main.txtAlarmTime->text(), QString("7:30"));
        // "7:3" is not yet a time: minutes take two digits.
        QCOMPARE(states, (QList<bool>{false, false, false, true}));
        main.txtFileNameWAV->setFocus();
        main.txtFileNameWAV->selectAll();
        QTest::keyClick(main.txtFileNameWAV, Qt::Key_Delete);
        QCOMPARE(main.txtFileNameWAV->text(), QString());
        QVERIFY(!main.cmdSet->isEnabled());
    }

    void inputsCarryTheirLabelsAsAccessibleNames()
    {
        frmMain &main = openAsLoaded();
        QAccessibleInterface *sound = QAccessible::queryAccessibleInterface(main.txtFileNameWAV);
        QAccessibleInterface *time = QAccessible::queryAccessibleInterface(main.txtAlarmTime);
        QVERIFY(sound && time);
        QCOMPARE(sound->text(QAccessible::Name), QString("Wakey noise (.WAV) file"));
        QCOMPARE(time->text(QAccessible::Name), QString("Wakey time"));
    }

    // Set and "Alarm (test)" tell, once, why the file will not be heard as
    // itself; the alarm is set, and the test sounds, all the same.
    void soundProblemIsTold_data()
    {
        QTest::addColumn<int>("problem");
        QTest::addColumn<bool>("test");
        QTest::addColumn<QString>("told");
        const struct
        {
            const char *name;
            SoundProblem problem;
            const char *told;
        } cases[] = {{"file replaced", SoundProblem::FileReplaced, "built-in ring"},
                     {"muted", SoundProblem::OutputSilent, "muted"},
                     {"no server", SoundProblem::NoServer, "No sound server answers"},
                     {"none", SoundProblem::None, ""}};
        for (const auto &c : cases) {
            QTest::newRow(qPrintable(QString("Set, ") + c.name))
                << int(c.problem) << false << QString(c.told);
            QTest::newRow(qPrintable(QString("test, ") + c.name))
                << int(c.problem) << true << QString(c.told);
        }
    }

    void soundProblemIsTold()
    {
        QFETCH(int, problem);
        QFETCH(bool, test);
        QFETCH(QString, told);
        m_fakes->sound.problem = SoundProblem(problem);
        frmMain &main = openAsLoaded();
        const QString file = m_dir.path() + "/roustabell.wav";
        QVERIFY(writeToneWav(file, 440, 0.2));
        main.txtAlarmTime->setText("7:30");
        if (test)
            QTest::mouseClick(main.cmdAlarmTest, Qt::LeftButton);
        else
            QTest::mouseClick(main.cmdSet, Qt::LeftButton);
        QCOMPARE(m_fakes->sound.checked, QStringList{file});
        if (told.isEmpty()) {
            QVERIFY(m_fakes->messages.texts.isEmpty());
        } else {
            QCOMPARE(m_fakes->messages.texts.size(), 1);
            QVERIFY2(m_fakes->messages.texts.first().contains(told),
                     qPrintable(m_fakes->messages.texts.first()));
        }
        QCOMPARE(main.alarmSet(), !test);
        QCOMPARE(main.alarmSounding(), test);
        QCOMPARE(m_fakes->sound.looping, test ? file : QString());
        if (!test)
            QVERIFY(main.lblAlarmStatus->text().startsWith("Alarm is SET for "));
    }

    void timerTicksOnTheClocksSecond()
    {
        // Far from a whole second, so that a tick on a fixed period would show.
        m_fakes->clock.toNextSecondMs = 300;
        QElapsedTimer elapsed;
        elapsed.start();
        frmMain &main = openAsLoaded();
        const int before = m_fakes->clock.reads;
        QTRY_VERIFY_WITH_TIMEOUT(m_fakes->clock.reads > before, 2000);
        QVERIFY2(elapsed.elapsed() >= 290 && elapsed.elapsed() < 900,
                 qPrintable(QString::number(elapsed.elapsed())));
        // And again from there.
        const int afterFirst = m_fakes->clock.reads;
        QTRY_VERIFY_WITH_TIMEOUT(m_fakes->clock.reads > afterFirst, 2000);
        QVERIFY(main.Timer1.isActive());
    }

    void wakeUpFollowsTheAlarm_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QDateTime>("wakeUp"); // invalid: none in place
        QTest::addColumn<QStringList>("calls");
        const QDateTime halfPast(QDate(2026, 12, 7), QTime(7, 30));
        const QDateTime none;
        QTest::newRow("set") << QStringList{"set 7:30"} << halfPast << QStringList{"schedule"};
        QTest::newRow("set for tomorrow")
            << QStringList{"set 6:30"} << QDateTime(QDate(2026, 12, 8), QTime(6, 30))
            << QStringList{"schedule"};
        QTest::newRow("stopped") << QStringList{"set 7:30", "stop"} << none
                                 << QStringList{"schedule", "cancel"};
        QTest::newRow("refused time")
            << QStringList{"set 7:30", "set soon"} << none << QStringList{"schedule", "cancel"};
        QTest::newRow("refused file") << QStringList{"set 7:30", "file", "set 7:30"} << none
                                      << QStringList{"schedule", "cancel"};
        QTest::newRow("set again")
            << QStringList{"set 7:30", "set 8:00"} << QDateTime(QDate(2026, 12, 7), QTime(8, 0))
            << QStringList{"schedule", "schedule"};
        QTest::newRow("fired") << QStringList{"set 7:30", "tick 7:30:01"} << none
                               << QStringList{"schedule", "cancel"};
        QTest::newRow("test sound while armed")
            << QStringList{"set 7:30", "test"} << halfPast << QStringList{"schedule"};
    }

    void wakeUpFollowsTheAlarm()
    {
        QFETCH(QStringList, steps);
        QFETCH(QDateTime, wakeUp);
        QFETCH(QStringList, calls);
        frmMain &main = open();
        for (const QString &step : steps) {
            const QString argument = step.section(' ', 1);
            if (step.startsWith("set ")) {
                main.txtAlarmTime->setText(argument);
                main.cmdSet_Click();
            } else if (step == "stop") {
                main.cmdAlarmStop_Click();
            } else if (step == "file") {
                main.txtFileNameWAV->setText(m_dir.filePath("wake.mp3"));
            } else if (step.startsWith("tick ")) {
                m_fakes->clock.set(QDate(2026, 12, 7), QTime::fromString(argument, "H:mm:ss"));
                main.Timer1_Timer();
            } else if (step == "test") {
                main.cmdAlarmTest_Click();
            }
        }
        QCOMPARE(m_fakes->wake.scheduled.value_or(QDateTime()), wakeUp);
        QCOMPARE(m_fakes->wake.calls, calls);
    }

    void wakingChecksTheAlarmAtOnce_data()
    {
        QTest::addColumn<QString>("armedFor"); // empty: nothing armed
        QTest::addColumn<QTime>("wokenAt");
        QTest::addColumn<bool>("sounds");
        QTest::newRow("moment passed while asleep") << "7:30" << QTime(9, 15) << true;
        QTest::newRow("a second after the moment") << "7:30" << QTime(7, 30, 1) << true;
        QTest::newRow("the moment's own second") << "7:30" << QTime(7, 30) << false;
        QTest::newRow("moment still ahead") << "7:30" << QTime(7, 20) << false;
        QTest::newRow("nothing armed") << "" << QTime(9, 15) << false;
    }

    void wakingChecksTheAlarmAtOnce()
    {
        QFETCH(QString, armedFor);
        QFETCH(QTime, wokenAt);
        QFETCH(bool, sounds);
        frmMain &main = open();
        if (!armedFor.isEmpty()) {
            main.txtAlarmTime->setText(armedFor);
            main.cmdSet_Click();
            QVERIFY(main.alarmSet());
        }
        m_fakes->sound.calls.clear();
        QVERIFY(m_fakes->inhibitor.resumed);

        m_fakes->clock.set(QDate(2026, 12, 7), wokenAt);
        // No event loop runs in between, so no tick can be what sounds it.
        m_fakes->inhibitor.resumed();
        QCOMPARE(main.alarmSounding(), sounds);
        QCOMPARE(m_fakes->sound.kinds(), sounds ? QStringList{"loop"} : QStringList());
        QCOMPARE(main.alarmSet(), !armedFor.isEmpty() && !sounds);
        QVERIFY(main.Timer1.isActive());
    }

    void closedWindowIsNotToldOfWaking()
    {
        open();
        QVERIFY(m_fakes->inhibitor.resumed);
        m_main.reset();
        QVERIFY(!m_fakes->inhibitor.resumed);
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
