// Two simulated days of one-second ticks through the window's own timer, with
// a hundred alarms set, fired and stopped at varied moments.
#include "awareness/frmawaretest.h"
#include "support/mainwindowcase.h"
#include "support/modal.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <functional>
#include <malloc.h>
#include <memory>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ROUSTABELL_ASAN 1
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr qint64 kRunSeconds = 48 * 3600;
constexpr int kCycles = 100;
const QDate kFirstDay(2026, 12, 31); // the run crosses a new year

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

// Bytes the program holds on the heap, freed blocks not counted.
qint64 heapBytes()
{
#ifdef ROUSTABELL_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = ::mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

QDate dayOf(qint64 second)
{
    return kFirstDay.addDays(second / 86400);
}

QTime timeOf(qint64 second)
{
    return QTime(0, 0).addSecs(int(second % 86400));
}

DateValue valueAt(qint64 second)
{
    return datevalue::fromDateAndTime(dayOf(second), timeOf(second));
}

// The window's timer is due and runs as the event loop would run it,
// rescheduling itself.
void runTimer(frmMain &main)
{
    QTimerEvent due(main.Timer1.timerId());
    QCoreApplication::sendEvent(&main.Timer1, &due);
}

// What the system clock reads: local date and time, from an instant that a
// time service or a sleep can move, in a zone that is at one offset from
// UTC before a change and at another after it (Central Europe: +1 h, +2 h).
struct WallClock
{
    qint64 instant = 0; // seconds since 1970 UTC, as the clock has it
    qint64 change = 0;
    int before = 0;
    int after = 0;

    QDateTime reading() const
    {
        return QDateTime::fromSecsSinceEpoch(instant + (instant < change ? before : after),
                                             Qt::UTC);
    }
    DateValue value() const { return valueOf(reading()); }
    static DateValue valueOf(const QDateTime &wall)
    {
        return datevalue::fromDateAndTime(wall.date(), wall.time());
    }
};

// At the tick with this number the clock moves by the seconds given, on top
// of the one second that each tick passes.
struct ClockJump
{
    int tick;
    qint64 seconds;
};
using ClockJumps = QList<ClockJump>;

QDateTime utc(const char *text)
{
    QDateTime made = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    made.setTimeSpec(Qt::UTC);
    return made;
}

} // namespace

Q_DECLARE_METATYPE(ClockJumps)

class tst_LongRun : public QObject, private MainWindowCase
{
    Q_OBJECT

private:
    QRandomGenerator m_random{20261231};

    qint64 m_now = 0; // seconds since the run began
    qsizetype m_seenCalls = 0;
    int m_fires = 0;
    int m_wrongAnswers = 0;
    int m_messages = 0;
    int m_sets = 0;
    QHash<QString, int> m_callTotals;  // by kind, over the records already let go
    QHash<QString, QString> m_answers; // by question

    // One second passes.
    void tick()
    {
        ++m_now;
        m_fakes->clock.value = valueAt(m_now);
        runTimer(*m_main);
    }

    // Ticks up to and including the given second; only at fireAt may the
    // alarm start, and then exactly once.
    void tickUntil(qint64 last, qint64 fireAt = -1)
    {
        frmMain &main = *m_main;
        while (m_now < last) {
            tick();
            const qsizetype calls = m_fakes->sound.calls.size();
            if (m_now == fireAt) {
                if (calls != m_seenCalls + 1 ||
                    m_fakes->sound.calls.last() != FakeSound::Call{"loop", m_wav})
                    QFAIL(qPrintable(QString("no single ring at second %1").arg(m_now)));
                if (!main.alarmSounding() || main.alarmSet())
                    QFAIL("fired but not sounding, or still armed");
                m_seenCalls = calls;
                ++m_fires;
            } else if (calls != m_seenCalls) {
                QFAIL(qPrintable(QString("sound call %1 at second %2, fire expected at %3")
                                     .arg(m_fakes->sound.calls.last().kind)
                                     .arg(m_now)
                                     .arg(fireAt)));
            }
            if (!main.Timer1.isActive())
                QFAIL(qPrintable(QString("timer stopped at second %1").arg(m_now)));
            if (m_fakes->inhibitor.held != (main.alarmSet() || main.alarmSounding()))
                QFAIL(qPrintable(QString("sleep lock out of step at second %1").arg(m_now)));
        }
    }

    // Types a moment the given seconds ahead, as a time of day or with its
    // date, and presses Set.
    void setAhead(qint64 delay, bool withDate)
    {
        frmMain &main = *m_main;
        const qint64 moment = m_now + delay;
        const QString time = timeOf(moment).toString("h:mm:ss AP");
        const QString day = dayOf(moment).toString("M/d/yyyy");
        main.txtAlarmTime->setText(withDate ? day + ' ' + time : time);
        QVERIFY(main.cmdSet->isEnabled());
        main.cmdSet->click();
        QVERIFY(main.alarmSet());
        QCOMPARE(main.wakeyTime(), valueAt(moment));
        if (withDate) {
            ++m_messages;
            QCOMPARE(m_fakes->messages.texts.size(), m_messages);
            QCOMPARE(m_fakes->messages.texts.last(),
                     "I'm setting the alarm for " + day +
                         (timeOf(moment) == QTime(0, 0) ? QString() : ' ' + time) +
                         "... I hope you really meant to include a date!");
        }
        QCOMPARE(m_fakes->messages.texts.size(), m_messages);
        QCOMPARE(m_fakes->sound.calls.size(), m_seenCalls + 1);
        QCOMPARE(m_fakes->sound.calls.last(), (FakeSound::Call{"prepare", m_wav}));
        m_seenCalls = m_fakes->sound.calls.size();
        ++m_sets;
    }

    // The fakes record every call; kept for two days, those records would
    // be the growth measured. Tallied, then let go after every cycle.
    void forgetRecords()
    {
        for (const QString &kind : m_fakes->sound.kinds())
            ++m_callTotals[kind];
        m_fakes->sound.calls.clear();
        m_seenCalls = 0;
        m_fakes->messages.texts.clear();
        m_fakes->messages.titles.clear();
        m_messages = 0;
        m_fakes->inhibitor.reasons.clear();
    }

    void useQuestions(int cycle, int count)
    {
        QuestionSet &questions = m_main->Questions;
        while (!questions.isEmpty())
            questions.remove(1);
        m_answers.clear();
        for (int i = 0; i < count; ++i) {
            auto record = std::make_shared<AwareTestQuestion>();
            record->setQuestion(QString("Question %1.%2?").arg(cycle).arg(i));
            record->setAnswer(QString("answer %1.%2").arg(cycle).arg(i));
            m_answers.insert(record->Question(), record->Answer());
            questions.append(record);
        }
        m_fakes->random.sequence = {m_random.generateDouble(), m_random.generateDouble()};
    }

    // Stop, and the awareness test when there are questions: the answer is
    // read off the question shown, after one wrong try if asked.
    void stop(bool sounding, bool wrongFirst)
    {
        frmMain &main = *m_main;
        const bool challenged = sounding && !main.Questions.isEmpty();
        ModalDriver driver;
        bool wrongKeptItOpen = false;
        if (challenged) {
            driver.onNextModal([&](QWidget *window) {
                auto *test = qobject_cast<frmAwareTest *>(window);
                QVERIFY(test);
                if (wrongFirst) {
                    QTest::keyClicks(test->txtAnswer, "not it");
                    QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
                    wrongKeptItOpen = test->isVisible();
                }
                QVERIFY(m_answers.contains(test->lblQuestion->text()));
                QTest::keyClicks(test->txtAnswer, m_answers.value(test->lblQuestion->text()));
                QTest::mouseClick(test->cmdStopAlarm, Qt::LeftButton);
            });
        }
        main.cmdAlarmStop->click();
        QList<FakeSound::Call> expected;
        if (challenged) {
            QVERIFY(driver.ran());
            QVERIFY(!driver.timedOut());
            if (wrongFirst) {
                QVERIFY(wrongKeptItOpen);
                ++m_wrongAnswers;
                expected << FakeSound::Call{"once",
                                            m_fakes->services.programDirectory + "/WRONG!.WAV"}
                         << FakeSound::Call{"loop", m_wav};
            }
        }
        expected << FakeSound::Call{"stop", QString()};
        QCOMPARE(m_fakes->sound.calls.mid(m_seenCalls), expected);
        m_seenCalls = m_fakes->sound.calls.size();
        QVERIFY(!main.alarmSounding());
        QVERIFY(!main.alarmSet());
        QCOMPARE(main.lblAlarmStatus->text(), QString(kStatusNotSet));
        QVERIFY(!m_fakes->inhibitor.held);
    }

    qint64 delayFor(int cycle)
    {
        // The same second, the next, whole minutes, hours, and anything up to
        // a quarter of an hour.
        static const qint64 special[] = {0, 1, 59, 60, 3600, 7200};
        if (cycle % 10 == 3)
            return special[(cycle / 10) % std::size(special)];
        return 2 + m_random.bounded(900);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void init() { startCase(); }
    void cleanup() { endCase(); }

    void fortyEightHours()
    {
        QElapsedTimer elapsed;
        elapsed.start();
        m_fakes->clock.value = valueAt(0);
        frmMain &main = open();
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const qsizetype windowsAtStart = QApplication::topLevelWidgets().size();

        qint64 residentAfterWarmUp = 0;
        qint64 heapAfterWarmUp = 0;
        int cancelled = 0;
        int challenged = 0;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            forgetRecords();
            if (cycle == 10) {
                residentAfterWarmUp = residentBytes();
                heapAfterWarmUp = heapBytes();
            }
            // Idle: nothing is armed, so nothing may sound. Once, until just
            // before midnight, for a time of day that today has already passed.
            const bool overMidnight = cycle == kCycles / 2;
            tickUntil(overMidnight ? (m_now / 86400 + 1) * 86400 - 60
                                   : m_now + 1 + m_random.bounded(600));
            if (QTest::currentTestFailed())
                return;

            const int questions = cycle % 2 == 0 ? 0 : 1 + cycle % 3;
            useQuestions(cycle, questions);
            qint64 delay = overMidnight ? 120 : delayFor(cycle);
            setAhead(delay, cycle % 4 == 1);
            if (QTest::currentTestFailed())
                return;
            qint64 moment = m_now + delay;

            // Some are set again, later, before they fire; the first moment
            // then passes in silence.
            if (cycle % 7 == 5 && delay > 1) {
                const qint64 early = moment;
                tickUntil(m_now + delay / 2);
                delay = early - m_now + 1 + m_random.bounded(600);
                setAhead(delay, cycle % 3 == 0);
                moment = m_now + delay;
                if (QTest::currentTestFailed())
                    return;
            }
            // Some are stopped while armed and must then stay silent.
            if (cycle % 7 == 2 && delay > 1) {
                tickUntil(m_now + delay / 2);
                stop(false, false);
                tickUntil(moment + 60);
                ++cancelled;
                if (QTest::currentTestFailed())
                    return;
                continue;
            }
            // Due once the clock has passed the moment.
            tickUntil(moment + 1, moment + 1);
            if (QTest::currentTestFailed())
                return;
            QVERIFY(main.alarmSounding());
            tickUntil(m_now + m_random.bounded(120));
            stop(true, questions > 0 && cycle % 5 == 1);
            if (QTest::currentTestFailed())
                return;
            if (questions > 0)
                ++challenged;
        }
        QVERIFY2(m_now <= kRunSeconds, qPrintable(QString::number(m_now)));
        tickUntil(kRunSeconds);
        if (QTest::currentTestFailed())
            return;

        const qint64 residentAtEnd = residentBytes();
        const qint64 heapAtEnd = heapBytes();
        qInfo("%lld ticks, %d fires, %d cancelled, %d challenged, %d wrong answers, %lld ms; "
              "resident %lld -> %lld KiB, heap %lld -> %lld KiB",
              m_now, m_fires, cancelled, challenged, m_wrongAnswers, elapsed.elapsed(),
              residentAfterWarmUp / 1024, residentAtEnd / 1024, heapAfterWarmUp / 1024,
              heapAtEnd / 1024);

        QCOMPARE(m_now, kRunSeconds);
        QCOMPARE(m_fires + cancelled, kCycles);
        QVERIFY(cancelled > 0 && challenged > 0 && m_wrongAnswers > 0);
        // Every ring is one fire or one wrong answer.
        forgetRecords();
        QCOMPARE(m_callTotals.value("loop"), m_fires + m_wrongAnswers);
        QCOMPARE(m_callTotals.value("once"), m_wrongAnswers);
        QCOMPARE(m_callTotals.value("stop"), kCycles);
        QCOMPARE(m_callTotals.value("prepare"), m_sets);
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsAtStart);

        // The heap in use is the finer measure; the resident size also holds
        // what the allocator keeps once freed (one window's backing store of
        // about 870 KiB, at some cycle or other).
        QVERIFY2(heapAtEnd - heapAfterWarmUp < 512 * 1024,
                 qPrintable(QString::number(heapAtEnd - heapAfterWarmUp)));
#ifdef ROUSTABELL_ASAN
        qInfo("Resident size not bounded: the sanitizer's quarantine keeps freed memory.");
#else
        QVERIFY2(residentAtEnd - residentAfterWarmUp < 2 * 1024 * 1024,
                 qPrintable(QString::number(residentAtEnd - residentAfterWarmUp)));
#endif
    }

    void clockJumps_data()
    {
        QTest::addColumn<QDateTime>("start");  // the clock's instant as Set is pressed
        QTest::addColumn<QDateTime>("change"); // when the zone's offset changes
        QTest::addColumn<int>("before");       // the offset east of UTC before it, in hours
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QDateTime>("moment"); // the local date and time Set arms
        QTest::addColumn<ClockJumps>("jumps");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QDateTime>("rings"); // the clock's instant at the one ring, if any

        // Central Europe: clocks go from 02:00 to 03:00 on 29 March 2026 and
        // from 03:00 back to 02:00 on 25 October, both at 01:00 UTC.
        const QDateTime spring = utc("2026-03-29T01:00:00");
        const QDateTime autumn = utc("2026-10-25T01:00:00");
        const QDateTime none = utc("2100-01-01T00:00:00");
        const QDateTime never;
        QTest::newRow("spring forward: a time that does not exist rings at 03:00:00")
            << utc("2026-03-29T00:30:00") << spring << 1 << 2 << "2:30:00 AM"
            << utc("2026-03-29T02:30:00") << ClockJumps{} << 3600 << spring;
        QTest::newRow("spring forward: the last second before the gap")
            << utc("2026-03-29T00:30:00") << spring << 1 << 2 << "1:59:59 AM"
            << utc("2026-03-29T01:59:59") << ClockJumps{} << 3600 << spring;
        QTest::newRow("spring forward: 03:00:00 itself rings a second later")
            << utc("2026-03-29T00:30:00") << spring << 1 << 2 << "3:00:00 AM"
            << utc("2026-03-29T03:00:00") << ClockJumps{} << 3600 << spring.addSecs(1);
        // 02:30 CEST comes at 00:30 UTC, 02:30 CET an hour later.
        QTest::newRow("fall back: a time that occurs twice rings the first time only")
            << utc("2026-10-24T23:30:00") << autumn << 2 << 1 << "2:30:00 AM"
            << utc("2026-10-25T02:30:00") << ClockJumps{} << 3 * 3600 << utc("2026-10-25T00:30:01");
        QTest::newRow("fall back: set in the second hour for a time still to come in it")
            << utc("2026-10-25T01:10:00") << autumn << 2 << 1 << "2:20:00 AM"
            << utc("2026-10-25T02:20:00") << ClockJumps{} << 3600 << utc("2026-10-25T01:20:01");
        QTest::newRow("fall back: set in the first hour for a time it has shown waits a day")
            << utc("2026-10-25T00:40:00") << autumn << 2 << 1 << "2:20:00 AM"
            << utc("2026-10-26T02:20:00") << ClockJumps{} << 2 * 3600 << never;

        QTest::newRow("stepped back minutes before the moment")
            << utc("2026-06-01T07:20:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{300, -600}} << 1800
            << utc("2026-06-01T07:30:01");
        QTest::newRow("stepped back minutes after the ring")
            << utc("2026-06-01T07:29:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{120, -600}} << 1800
            << utc("2026-06-01T07:30:01");
        QTest::newRow("stepped forward minutes short of the moment")
            << utc("2026-06-01T07:20:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{60, 300}} << 1200
            << utc("2026-06-01T07:30:01");
        QTest::newRow("stepped forward minutes past the moment")
            << utc("2026-06-01T07:20:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{60, 900}} << 600
            << utc("2026-06-01T07:36:00");
        QTest::newRow("stepped back a day before the moment")
            << utc("2026-06-01T07:29:00") << none << 0 << 0 << "6/1/2026 7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{30, -86400}} << 86400 + 120
            << utc("2026-06-01T07:30:01");
        QTest::newRow("stepped back a day after the ring")
            << utc("2026-06-01T07:29:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{120, -86400}} << 86400 + 600
            << utc("2026-06-01T07:30:01");
        QTest::newRow("stepped forward a day past the moment")
            << utc("2026-06-01T07:00:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-01T07:30:00") << ClockJumps{{60, 86400}} << 600
            << utc("2026-06-02T07:01:00");
        QTest::newRow("eight hours asleep past the moment")
            << utc("2026-06-01T23:00:00") << none << 0 << 0 << "6:30:00 AM"
            << utc("2026-06-02T06:30:00") << ClockJumps{{60, 8 * 3600}} << 600
            << utc("2026-06-02T07:01:00");
        QTest::newRow("eight hours asleep short of the moment")
            << utc("2026-06-01T22:00:00") << none << 0 << 0 << "7:30:00 AM"
            << utc("2026-06-02T07:30:00") << ClockJumps{{60, 8 * 3600}} << 6000
            << utc("2026-06-02T07:30:01");
    }

    // The alarm rings once, at the first tick whose reading has passed the
    // moment set, and stays silent when the clock comes back over it.
    void clockJumps()
    {
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, change);
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, typed);
        QFETCH(QDateTime, moment);
        QFETCH(ClockJumps, jumps);
        QFETCH(int, ticks);
        QFETCH(QDateTime, rings);

        WallClock clock{start.toSecsSinceEpoch(), change.toSecsSinceEpoch(), before * 3600,
                        after * 3600};
        m_fakes->clock.value = clock.value();
        frmMain &main = open();
        main.txtAlarmTime->setText(typed);
        main.cmdSet->click();
        QVERIFY(main.alarmSet());
        QCOMPARE(main.wakeyTime(), WallClock::valueOf(moment));

        const QList<FakeSound::Call> &calls = m_fakes->sound.calls;
        qsizetype seen = calls.size();
        QList<QDateTime> rang;
        for (int tick = 1; tick <= ticks; ++tick) {
            clock.instant += 1;
            for (const ClockJump &jump : jumps) {
                if (jump.tick == tick)
                    clock.instant += jump.seconds;
            }
            m_fakes->clock.value = clock.value();
            runTimer(main);
            if (calls.size() == seen)
                continue;
            QCOMPARE(calls.mid(seen), (QList<FakeSound::Call>{{"loop", m_wav}}));
            const QDateTime at = QDateTime::fromSecsSinceEpoch(clock.instant, Qt::UTC);
            QVERIFY2(
                clock.value() > main.wakeyTime(),
                qPrintable("rang at local " + clock.reading().toString("yyyy-MM-dd hh:mm:ss")));
            rang << at;
            // Woken, and stopped at once: only a new Set may ring again.
            main.cmdAlarmStop->click();
            QVERIFY(!main.alarmSounding());
            seen = calls.size();
        }
        QCOMPARE(rang, rings.isValid() ? QList<QDateTime>{rings} : QList<QDateTime>{});
    }
};

QTEST_MAIN(tst_LongRun)
#include "tst_longrun.moc"
