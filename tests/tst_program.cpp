// The program as main() builds it, sent what the desktop sends: a logout, a
// sound module that cannot be loaded, and requests that arrive while one of
// its modal windows is open.
#include "app/program.h"
#include "awareness/frmawaretest.h"
#include "awareness/frmquestions.h"
#include "config/configstore.h"
#include "shell/frmqueryminimize.h"
#include "sound/lazysoundservice.h"
#include "support/fakes.h"
#include "support/modal.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class tst_Program : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_wav;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Program> m_program;

    frmMain &start()
    {
        m_program = std::make_unique<Program>(m_fakes->services);
        frmMain &main = m_program->window();
        main.txtFileNameWAV->setText(m_wav);
        main.show();
        if (!QTest::qWaitForWindowActive(&main))
            qWarning("main window did not become active");
        return main;
    }

    // Armed for 7:30 and fired at 7:30:01, with one question defined.
    frmMain &sounding()
    {
        frmMain &main = start();
        auto question = std::make_shared<AwareTestQuestion>();
        question->setQuestion("Say yes");
        question->setAnswer("yes");
        main.Questions.append(question);
        main.txtAlarmTime->setText("7:30");
        main.cmdSet_Click();
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 30, 1));
        main.Timer1_Timer();
        return main;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_dir.isValid());
        m_wav = m_dir.filePath("wake.wav");
        QFile file(m_wav);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void init()
    {
        m_program.reset();
        m_fakes = std::make_unique<FakeServices>(m_dir.path());
        m_fakes->clock.set(QDate(2026, 12, 7), QTime(7, 0));
    }

    void cleanup()
    {
        m_program.reset();
        closeAllWindows();
    }

    void logoutWhileIdleGoesAhead()
    {
        start();
        QVERIFY(!m_program->sessionEnding());
    }

    // A second logout (or close) while the first one's question is open asks
    // nothing more and is refused.
    void logoutWhileArmedAsksOnce()
    {
        frmMain &main = start();
        main.txtAlarmTime->setText("7:30");
        main.cmdSet_Click();
        bool innerCancelled = false;
        int nested = 0;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *question = qobject_cast<frmQueryMinimize *>(window);
            QVERIFY(question);
            // Counts and closes any second question, so that a fault fails
            // the test instead of hanging it.
            auto *guard = new QTimer(question);
            connect(guard, &QTimer::timeout, [&nested, question] {
                auto *other = qobject_cast<frmQueryMinimize *>(QApplication::activeModalWidget());
                if (other && other != question) {
                    ++nested;
                    other->unload();
                }
            });
            guard->start(50);
            innerCancelled = m_program->sessionEnding();
            main.close();
            QTest::mouseClick(question->cmdMinimize, Qt::LeftButton);
        });
        QVERIFY(m_program->sessionEnding());
        QVERIFY(driver.ran());
        QVERIFY(innerCancelled);
        QCOMPARE(nested, 0);
        QVERIFY(main.alarmSet());
    }

    void requestsInsideTheTestChangeNothing_data()
    {
        QTest::addColumn<QString>("request");
        QTest::newRow("logout") << "logout";
        QTest::newRow("window closed") << "close";
        QTest::newRow("File, Exit") << "exit";
        QTest::newRow("Stop pressed from code") << "stop";
    }

    // Only the exact answer silences: whatever reaches the main window while
    // the awareness test is open leaves the test, the sound and the flags.
    void requestsInsideTheTestChangeNothing()
    {
        QFETCH(QString, request);
        frmMain &main = sounding();
        QVERIFY(main.alarmSounding());
        bool cancelled = false, stillLooping = false, stillSounding = false, testShowing = false;
        bool secondWindow = false;
        QString status;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *test = qobject_cast<frmAwareTest *>(window);
            QVERIFY(test);
            // A request that opened a second test would wait in it for ever:
            // whatever opens over this one is closed within a second instead.
            QTimer::singleShot(1000, test, [&secondWindow, test] {
                if (auto *other = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                    other && other != test) {
                    secondWindow = true;
                    other->done(QDialog::Rejected);
                }
            });
            if (request == "logout")
                cancelled = m_program->sessionEnding();
            else if (request == "close")
                cancelled = !main.close();
            else if (request == "exit")
                main.mnuFileExit->trigger();
            else
                main.cmdAlarmStop_Click();
            stillLooping = m_fakes->sound.looping == m_wav;
            stillSounding = main.alarmSounding();
            testShowing = test->isVisible();
            status = main.lblAlarmStatus->text();
            test->txtAnswer->setText("yes");
            QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
        });
        main.cmdAlarmStop_Click();
        QVERIFY(driver.ran());
        QVERIFY2(!secondWindow, "the request opened a window over the test");
        if (request == "logout" || request == "close")
            QVERIFY(cancelled);
        QVERIFY(stillLooping);
        QVERIFY(stillSounding);
        QVERIFY(testShowing);
        QVERIFY(status != "Alarm is NOT set!");
        QVERIFY(main.isVisible());
        // The answer given, the one Stop that opened the test silences.
        QVERIFY(!main.alarmSounding());
        QVERIFY(m_fakes->sound.looping.isEmpty());
    }

    void longTextsPassEveryBoxWhole_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("kept");
        QTest::newRow("plain") << QString("z") << QString("z");
        QTest::newRow("what XML cannot hold, never in a box, never lost")
            << QString("\x01z") + QChar(0xFFFE) + QChar(0xDC00) + "!" + QChar(0xD83D) << "z!";
    }

    // Texts longer than a text box's default maximum, through every box that
    // shows them: loaded, selected, edited beside, saved and answered.
    void longTextsPassEveryBoxWhole()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, kept);
        const QString question = QString(40000, 'q') + "?";
        const QString answer = QString(40000, 'a');
        const QString longName = m_dir.filePath(QString(40000, 'n') + ".wav");
        QVERIFY(configstore::saveSettings(m_dir.path(), longName, QString(40000, '7')).ok);
        QVERIFY(configstore::saveQuestions(m_dir.path(), {{question, answer}}).ok);
        m_program = std::make_unique<Program>(m_fakes->services);
        frmMain &main = m_program->window();
        QCOMPARE(main.txtFileNameWAV->text(), longName);
        QCOMPARE(main.txtAlarmTime->text().size(), 40000);

        ModalDriver editing;
        editing.onNextModal([&](QWidget *window) {
            auto *editor = qobject_cast<frmQuestions *>(window);
            QVERIFY(editor);
            editor->cboQA_List->setListIndex(0);
            editor->txtAnswer->setFocus();
            QTest::keyClick(editor->txtAnswer, Qt::Key_End);
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(editor->txtAnswer, Qt::Key_V, Qt::ControlModifier);
            editor->cmdOK->click();
        });
        main.cmdAwakeTestQuestions_Click();
        QVERIFY(editing.ran());
        const QList<configstore::QuestionPair> stored = configstore::load(m_dir.path()).pairs;
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().question, question);
        QCOMPARE(stored.first().answer, answer + kept);

        main.txtFileNameWAV->setText(m_wav);
        main.cmdAlarmTest_Click();
        ModalDriver answering;
        answering.onNextModal([&](QWidget *window) {
            auto *test = qobject_cast<frmAwareTest *>(window);
            QVERIFY(test);
            test->txtAnswer->setText(answer + kept);
            test->cmdStopAlarm->click();
        });
        main.cmdAlarmStop_Click();
        QVERIFY(answering.ran());
        QVERIFY(!answering.timedOut());
        QVERIFY(!main.alarmSounding());
    }

    // The real loader on a module that is not there: the person is told once,
    // after the request that found it, with the reason.
    void platformChoice_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray throughX = "xcb;wayland";
        QTest::newRow("Wayland session with XWayland")
            << QStringList{"XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"}
            << throughX;
        QTest::newRow("Wayland display alone, with XWayland, platform empty")
            << QStringList{"WAYLAND_DISPLAY=wayland-1", "DISPLAY=:1", "QT_QPA_PLATFORM="}
            << throughX;
        QTest::newRow("Wayland without XWayland")
            << QStringList{"XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY=wayland-0"} << QByteArray();
        QTest::newRow("platform chosen")
            << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0", "QT_QPA_PLATFORM=wayland"}
            << QByteArray();
        QTest::newRow("X11 session")
            << QStringList{"XDG_SESSION_TYPE=x11", "DISPLAY=:0"} << QByteArray();
    }

    void platformChoice()
    {
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, expected);
        const auto given = [&](const char *name) -> std::optional<QString> {
            for (const QString &entry : std::as_const(environment)) {
                if (entry.section('=', 0, 0) == QLatin1StringView(name))
                    return entry.section('=', 1);
            }
            return std::nullopt;
        };
        QCOMPARE(preferredPlatform(given), expected);
        // The application sees the choice, the programs it starts do not.
        const QByteArray before = qgetenv("QT_QPA_PLATFORM");
        const auto restore = qScopeGuard([&] { qputenv("QT_QPA_PLATFORM", before); });
        QByteArray seen = "(not built)";
        withPlatformChoice(expected, [&] { seen = qgetenv("QT_QPA_PLATFORM"); });
        QCOMPARE(seen, expected.isEmpty() ? before : expected);
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), expected.isEmpty() ? before : QByteArray());
    }

    void missingSoundModuleIsToldOnce()
    {
        Program *program = nullptr;
        LazySoundService sound(m_dir.filePath("no-such-module.so"), [&program](const QString &why) {
            if (program)
                program->soundUnavailable(why);
        });
        Services withLoader = swapServices(m_fakes->services, sound);
        m_program = std::make_unique<Program>(withLoader);
        // Gone before the services it holds, also when a check fails.
        const auto endProgram = qScopeGuard([this] { m_program.reset(); });
        program = m_program.get();
        frmMain &main = m_program->window();
        main.txtFileNameWAV->setText(m_wav);
        main.cmdAlarmTest_Click();
        main.cmdAlarmTest_Click();
        QVERIFY(m_fakes->messages.texts.isEmpty());
        QTRY_COMPARE(m_fakes->messages.texts.size(), 1);
        QVERIFY(m_fakes->messages.texts.first().startsWith(
            "The sound system could not be loaded, so no alarm can be heard."));
        QVERIFY(m_fakes->messages.texts.first().contains("no-such-module.so"));
        QCOMPARE(m_fakes->messages.titles.first(), QString("ROUSTABELL"));
    }
};

QTEST_MAIN(tst_Program)
#include "tst_program.moc"
