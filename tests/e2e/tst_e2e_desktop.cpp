// The real windows with the real platform services on a real X server with a
// window manager, judged by what the sound server really played.
#include "app/frmmain.h"
#include "awareness/frmawaretest.h"
#include "awareness/frmquestions.h"
#include "platform/linux/linuxservices.h"
#include "platform/systemservices.h"
#include "shell/frmqueryminimize.h"
#include "sound/lazysoundservice.h"
#include "support/fakes.h"
#include "support/modal.h"
#include "support/programfolder.h"
#include "support/soundrecorder.h"
#include "support/wavfile.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

constexpr double kAlarmTone = 1000.0;

qint64 epochMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// What the window manager says of the window, not what Qt believes.
QString windowProperty(QWidget *window, const char *name)
{
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(window->winId()), name});
    xprop.waitForFinished(5000);
    return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

QString netWmState(QWidget *window)
{
    return windowProperty(window, "_NET_WM_STATE");
}

} // namespace

class tst_E2eDesktop : public QObject
{
    Q_OBJECT

private:
    ProgramFolder m_dir;
    QString m_alarm;
    SystemClock m_clock;
    std::unique_ptr<LazySoundService> m_sound;
    QtMessageBoxService m_messages;
    QtFileDialogService m_fileDialog;
    DesktopLauncher m_launcher;
    LinuxRegistryLookup m_registry;
    FixedStartRandom m_random;
    FakeControl m_control;
    FakeInhibitor m_inhibitor;
    FakeWakeScheduler m_wake;
    FakeNotifications m_notifications;
    std::unique_ptr<Services> m_services;
    std::unique_ptr<frmMain> m_main;
    SoundRecorder m_recorder;

    // Types a time a few seconds ahead and presses Set; returns the moment
    // on the recorder's clock.
    qint64 setAlarmSecondsAhead(int seconds)
    {
        const QDateTime target =
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + seconds);
        m_main->txtAlarmTime->setFocus();
        m_main->txtAlarmTime->selectAll();
        QTest::keyClicks(m_main->txtAlarmTime, target.time().toString("H:mm:ss"));
        QTest::mouseClick(m_main->cmdSet, Qt::LeftButton);
        return m_recorder.now() + (target.toMSecsSinceEpoch() - epochMs());
    }

private Q_SLOTS:
    void initTestCase()
    {
        const bool required = qEnvironmentVariableIntValue("ROUSTABELL_REQUIRE_DESKTOP") == 1;
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QGuiApplication::platformName() != "xcb") {
            if (required)
                QFAIL("no X server, but a desktop is required");
            QSKIP("needs an X server with a window manager (scripts/desktop.sh)");
        }
        const QString noSound = SoundRecorder::unavailableReason();
        if (!noSound.isEmpty()) {
            if (qEnvironmentVariableIntValue("ROUSTABELL_REQUIRE_SOUND") == 1)
                QFAIL(qPrintable(noSound));
            QSKIP(qPrintable(noSound));
        }
        QVERIFY(m_dir.isValid());
        m_alarm = m_dir.filePath("tone.wav");
        QVERIFY(writeToneWav(m_alarm, kAlarmTone, 1.0));
        QVERIFY(QFile::copy(QStringLiteral(ROUSTABELL_SOURCE_DIR "/resources/sounds/WRONG!.WAV"),
                            m_dir.filePath("WRONG!.WAV")));
        QString error;
        QVERIFY2(m_recorder.start(&error), qPrintable(error));
    }

    void init()
    {
        QFile::remove(m_dir.filePath("AlarmClockConfig.xml"));
        m_sound =
            std::make_unique<LazySoundService>(QStringLiteral(ROUSTABELL_SOUND_MODULE),
                                               [](const QString &why) { QFAIL(qPrintable(why)); });
        m_services = std::make_unique<Services>(
            Services{m_clock, *m_sound, m_messages, m_fileDialog, m_launcher, m_registry, m_random,
                     m_control, m_inhibitor, m_wake, m_notifications, m_dir.path(), m_dir.path()});
        m_main = std::make_unique<frmMain>(*m_services);
        m_main->txtFileNameWAV->setText(m_alarm);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    }

    void cleanup()
    {
        m_main.reset();
        m_sound.reset();
        closeAllWindows();
        QTest::qWait(200);
    }

    // The windows that have no minimize, maximize or close button: what the
    // window manager offers on them, and no icon on the awareness window.
    void boxlessWindowsOfferOnlyMove_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("awareness test") << "frmAwareTest";
        QTest::newRow("question editor") << "frmQuestions";
        QTest::newRow("exit question") << "frmQueryMinimize";
    }

    void boxlessWindowsOfferOnlyMove()
    {
        QFETCH(QString, window);
        auto question = std::make_shared<AwareTestQuestion>();
        question->setQuestion("q");
        m_main->Questions.append(question);
        std::unique_ptr<QDialog> dialog;
        if (window == "frmAwareTest")
            dialog = std::make_unique<frmAwareTest>(m_main->awareness(), m_main.get());
        else if (window == "frmQuestions")
            dialog = std::make_unique<frmQuestions>(m_main->awareness(), m_main.get());
        else
            dialog = std::make_unique<frmQueryMinimize>(*m_services, *m_main, m_main.get());
        dialog->show();
        QVERIFY(waitForFocus(dialog.get()));
        QString actions;
        QTRY_VERIFY((actions = windowProperty(dialog.get(), "_NET_WM_ALLOWED_ACTIONS"))
                        .contains("_NET_WM_ACTION_MOVE"));
        // Openbox keeps minimize and close on every window whatever the hints
        // say; maximize and resize it drops (but still draws a maximize button).
        for (const char *offered : {"MAXIMIZE", "RESIZE"})
            QVERIFY2(!actions.contains(offered), qPrintable(actions));
        QVERIFY2(
            windowProperty(dialog.get(), "_MOTIF_WM_HINTS").contains("= 0x3, 0x4, 0xa, 0x0, 0x0"),
            qPrintable(windowProperty(dialog.get(), "_MOTIF_WM_HINTS")));
        if (window == "frmAwareTest")
            QVERIFY(!windowProperty(dialog.get(), "_NET_WM_ICON").contains("Icon"));
    }

    // The real dialog takes a name that does not exist yet; Esc leaves the box.
    void browseTakesANewName_data()
    {
        QTest::addColumn<bool>("picks");
        QTest::newRow("typed a new name") << true;
        QTest::newRow("Esc") << false;
    }

    void browseTakesANewName()
    {
        QFETCH(bool, picks);
        const QString newName = m_dir.filePath("not yet recorded.wav");
        QVERIFY(!QFile::exists(newName));
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *edit = window->findChild<QLineEdit *>("fileNameEdit");
            QVERIFY(edit);
            if (picks) {
                // As a person does: once the folder is listed with the old
                // name selected, the new one typed over it.
                auto *list = window->findChild<QAbstractItemView *>("listView");
                QVERIFY(list);
                QTRY_VERIFY(list->selectionModel()->hasSelection());
                edit->selectAll();
                QTest::keyClicks(edit, "not yet recorded.wav");
                QTest::keyClick(edit, Qt::Key_Return);
            } else {
                QTest::keyClick(window, Qt::Key_Escape);
            }
        });
        QTest::mouseClick(m_main->cmdBrowse, Qt::LeftButton);
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QCOMPARE(m_main->txtFileNameWAV->text(), picks ? newName : m_alarm);
    }

    void ringsAtItsMomentAndStopsAtOnce()
    {
        const qint64 armedAt = m_recorder.now();
        const qint64 moment = setAlarmSecondsAhead(3);
        QVERIFY(m_main->alarmSet());
        QTRY_VERIFY_WITH_TIMEOUT(m_main->alarmSounding(), 6000);
        const std::optional<qint64> heard = m_recorder.waitForSound(armedAt, 500);
        QVERIFY(heard);
        qInfo("alarm heard %lld ms after its moment", static_cast<long long>(*heard - moment));
        QVERIFY2(*heard > moment, "nothing may sound before the moment");
        // 35 runs beside a -j2 rebuild (docs/reliability.md): 1013 to 1043 ms.
        QVERIFY2(*heard - moment <= 2200, qPrintable(QString::number(*heard - moment)));
        QVERIFY(std::abs(m_recorder.medianCrossings(*heard, m_recorder.now()) - 2 * kAlarmTone) <
                200);

        const qint64 stopAt = m_recorder.now();
        QTest::mouseClick(m_main->cmdAlarmStop, Qt::LeftButton);
        const std::optional<qint64> silent = m_recorder.waitForSilence(stopAt, 400);
        QVERIFY(silent);
        qInfo("silent %lld ms after Stop", static_cast<long long>(*silent - stopAt));
        // 35 runs beside a -j2 rebuild (docs/reliability.md): 17 to 48 ms.
        QVERIFY2(*silent - stopAt <= 300, qPrintable(QString::number(*silent - stopAt)));
        QCOMPARE(m_main->lblAlarmStatus->text(), QString("Alarm is NOT set!"));
    }

    void minimizedWindowIsRestoredWhenItFires()
    {
        setAlarmSecondsAhead(3);
        m_main->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(netWmState(m_main.get()).contains("_NET_WM_STATE_HIDDEN"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(m_main->alarmSounding(), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(!netWmState(m_main.get()).contains("_NET_WM_STATE_HIDDEN"), 3000);
        QVERIFY(m_main->isVisible());
        QVERIFY(!m_main->isMinimized());
        m_main->cmdAlarmStop_Click();
    }

    void wrongAnswerBuzzesThenRingsAgain()
    {
        auto question = std::make_shared<AwareTestQuestion>();
        question->setQuestion("Say yes");
        question->setAnswer("yes");
        m_main->Questions.append(question);
        const qint64 pressedAt = m_recorder.now();
        QTest::mouseClick(m_main->cmdAlarmTest, Qt::LeftButton);
        const std::optional<qint64> ringing = m_recorder.waitForSound(pressedAt, 300);
        QVERIFY(ringing);
        QVERIFY(m_recorder.soundingShare(*ringing, *ringing + 300) > 0.9);

        qint64 wrongAt = 0;
        qint64 wrongDone = 0;
        qint64 rightAt = 0;
        ModalDriver driver;
        driver.onNextModal(
            [&](QWidget *window) {
                auto *test = qobject_cast<frmAwareTest *>(window);
                QVERIFY(test);
                QTest::keyClicks(test->txtAnswer, "no");
                wrongAt = m_recorder.now();
                // Returns when the buzzer has played to its end.
                QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
                wrongDone = m_recorder.now();
                QVERIFY(m_recorder.waitForSound(wrongDone + 200, 400));
                QTest::keyClicks(test->txtAnswer, "yes");
                rightAt = m_recorder.now();
                QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
            },
            20000);
        QTest::mouseClick(m_main->cmdAlarmStop, Qt::LeftButton);
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        const std::optional<qint64> silent = m_recorder.waitForSilence(rightAt, 400);

        qInfo("wrong-answer sound took %lld ms", static_cast<long long>(wrongDone - wrongAt));
        // 35 runs beside a -j2 rebuild (docs/reliability.md): 715 to 754 ms.
        QVERIFY(wrongDone - wrongAt >= 500);
        // The buzzer is a low sound, the test alarm a 1 kHz tone.
        const double buzz = m_recorder.medianCrossings(wrongAt + 150, wrongDone - 100);
        QVERIFY2(buzz > 0 && buzz < 1200, qPrintable(QString::number(buzz)));
        const double again = m_recorder.medianCrossings(wrongDone + 200, rightAt);
        QVERIFY2(std::abs(again - 2 * kAlarmTone) < 200, qPrintable(QString::number(again)));
        QVERIFY(silent);
        qInfo("silent %lld ms after the right answer", static_cast<long long>(*silent - rightAt));
        // 35 runs beside a -j2 rebuild (docs/reliability.md): 20 to 110 ms.
        QVERIFY2(*silent - rightAt <= 300, qPrintable(QString::number(*silent - rightAt)));
        QVERIFY(!m_main->alarmSounding());
    }

    // A Done that cannot save tells why with the real message box, closes the
    // editor all the same, and the set typed there is what the alarm asks.
    void failedDoneClosesTheEditorAndKeepsTheSet()
    {
        // A folder where the file's name is taken by a folder: no save, even as root.
        const QString blocked = m_dir.filePath("blocked");
        QVERIFY(QDir().mkpath(blocked + "/AlarmClockConfig.xml"));
        m_services->configDirectory = blocked;
        QString told;
        ModalDriver editorDriver;
        ModalDriver messageDriver;
        editorDriver.onNextModal(
            [&](QWidget *window) {
                auto *editor = qobject_cast<frmQuestions *>(window);
                QVERIFY(editor);
                QTest::mouseClick(editor->cmdAdd, Qt::LeftButton);
                // Over the placeholder text that Add puts there.
                QTest::keyClick(editor->txtQuestion, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(editor->txtQuestion, "Capital of Peru?");
                QTest::mouseClick(editor->txtAnswer, Qt::LeftButton);
                QTest::keyClicks(editor->txtAnswer, "Lima");
                messageDriver.onNextModal([&](QWidget *box) {
                    auto *label = box->findChild<QLabel *>("qt_msgbox_label");
                    QVERIFY(label);
                    told = label->text();
                    QTest::keyClick(box, Qt::Key_Return);
                });
                QTest::mouseClick(editor->cmdOK, Qt::LeftButton);
            },
            20000);
        QTest::mouseClick(m_main->cmdAwakeTestQuestions, Qt::LeftButton);
        QVERIFY(editorDriver.ran() && messageDriver.ran());
        QVERIFY(!editorDriver.timedOut() && !messageDriver.timedOut());
        QVERIFY2(told.contains(blocked) && told.contains("stay in use"), qPrintable(told));
        QVERIFY(!QApplication::activeModalWidget());

        QTest::mouseClick(m_main->cmdAlarmTest, Qt::LeftButton);
        QString asked;
        ModalDriver testDriver;
        testDriver.onNextModal([&](QWidget *window) {
            auto *test = qobject_cast<frmAwareTest *>(window);
            QVERIFY(test);
            asked = test->lblQuestion->text();
            QTest::keyClicks(test->txtAnswer, "Lima");
            QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
        });
        QTest::mouseClick(m_main->cmdAlarmStop, Qt::LeftButton);
        QVERIFY(testDriver.ran());
        QVERIFY(!testDriver.timedOut());
        QCOMPARE(asked, QString("Capital of Peru?"));
        QVERIFY(!m_main->alarmSounding());
    }

    // The alarm is still set when its sound will not be heard as itself,
    // and the person is told once why and what to do.
    void soundProblemIsToldAndTheAlarmStaysSet_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<QString>("told");
        QTest::newRow("muted output") << QByteArray() << true << "muted";
        QTest::newRow("unplayable file") << riff({chunk("fmt ", fmtBody(0x1234, 1, 22050, 16)),
                                                  chunk("data", QByteArray(4000, 'x'))})
                                         << false << "built-in ring";
    }

    void soundProblemIsToldAndTheAlarmStaysSet()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, mute);
        QFETCH(QString, told);
        if (!file.isEmpty()) {
            const QString name = m_dir.filePath("unplayable.wav");
            QFile out(name);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
            out.close();
            m_main->txtFileNameWAV->setText(name);
        }
        bool ok = !mute;
        if (mute)
            runTool(QStringLiteral("pactl"), {"set-sink-mute", "@DEFAULT_SINK@", "1"}, &ok);
        QVERIFY(ok);
        QStringList shown;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            for (const QLabel *label : window->findChildren<QLabel *>())
                shown.append(label->text());
            window->close();
        });
        const qint64 moment = setAlarmSecondsAhead(3);
        if (mute)
            runTool(QStringLiteral("pactl"), {"set-sink-mute", "@DEFAULT_SINK@", "0"});
        QVERIFY(driver.ran());
        QVERIFY2(shown.join(' ').contains(told), qPrintable(shown.join(' ')));
        QVERIFY(m_main->alarmSet());
        QVERIFY(m_main->lblAlarmStatus->text().startsWith("Alarm is SET for "));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->alarmSounding(), 6000);
        // The built-in ring stands in for the file; unmuted, the output plays.
        const std::optional<qint64> heard = m_recorder.waitForSound(moment, 100);
        QVERIFY(heard);
        m_main->cmdAlarmStop_Click();
    }

    void deletedFileStillRings()
    {
        const QString doomed = m_dir.filePath("doomed.wav");
        QVERIFY(writeToneWav(doomed, kAlarmTone, 1.0));
        m_main->txtFileNameWAV->setText(doomed);
        const qint64 moment = setAlarmSecondsAhead(3);
        QVERIFY(m_main->alarmSet());
        QVERIFY(QFile::remove(doomed));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->alarmSounding(), 6000);
        const std::optional<qint64> heard = m_recorder.waitForSound(moment, 1000);
        QVERIFY(heard);
        qInfo("ring heard %lld ms after its moment", static_cast<long long>(*heard - moment));
        // 35 runs beside a -j2 rebuild (docs/reliability.md): 1006 to 1038 ms.
        QVERIFY(*heard - moment <= 2200);
        QVERIFY(m_recorder.soundingShare(*heard, *heard + 1000) > 0.5);
        m_main->cmdAlarmStop_Click();
    }
};

QTEST_MAIN(tst_E2eDesktop)
#include "tst_e2e_desktop.moc"
