#pragma once

#include "platform/services.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <optional>
#include <type_traits>

// Recording fakes of the platform services, for fast window tests.

class FakeClock : public Clock
{
public:
    DateValue now() const override
    {
        ++reads;
        return value;
    }
    int msecsToNextSecond() const override { return toNextSecondMs; }
    void set(const QDate &date, const QTime &time)
    {
        value = datevalue::fromDateAndTime(date, time);
    }
    void advanceSeconds(int seconds) { value += seconds / 86400.0; }

    DateValue value = 0;
    int toNextSecondMs = 1000;
    mutable int reads = 0;
};

class FakeSound : public SoundService
{
public:
    struct Call
    {
        QString kind; // "loop", "once", "stop", "prepare"
        QString path;
        bool operator==(const Call &other) const = default;
    };

    void startLoop(const QString &path) override;
    void playOnce(const QString &path) override;
    void stop() override;
    void prepare(const QString &path) override;
    // Answers problem; kept apart from calls, which tell what was heard.
    SoundProblem check(const QString &path) override;

    QStringList kinds() const;
    // What is sounding now, as the calls so far leave it; empty when silent.
    QString looping;
    QList<Call> calls;
    std::function<void()> duringPlayOnce;
    std::function<void()> duringPrepare;
    SoundProblem problem = SoundProblem::None;
    QStringList checked;
};

class FakeMessages : public MessageBoxService
{
public:
    void show(QWidget *parent, const QString &text, const QString &title) override;

    QStringList texts;
    QStringList titles;
    // Runs while the box would be open, to let tests act "behind" it.
    std::function<void(const QString &)> whileShown;
};

class FakeFileDialog : public FileDialogService
{
public:
    QString showOpen(QWidget *parent, const QString &filter, const QString &fileName) override;

    QStringList filters;
    QStringList fileNames;
    // The path the person picks, or nothing to cancel.
    std::optional<QString> choice;
};

class FakeLauncher : public Launcher
{
public:
    bool startProgram(const QString &path) override;
    void openUrl(const QString &url) override;
    bool fileExists(const QString &path) override;

    QStringList started;
    QStringList urls;
    QStringList existing;
    bool startSucceeds = true;
};

class FakeRegistry : public RegistryLookup
{
public:
    struct Value
    {
        QString key;
        QString name;
        std::uint32_t type = kTypeString;
        QByteArray data;
    };

    long openKey(std::uint32_t root, const QString &keyName, std::uint32_t access,
                 Handle *key) override;
    long queryValue(Handle key, const QString &valueName, std::uint32_t *type, QByteArray &buffer,
                    std::uint32_t *size) override;
    void closeKey(Handle key) override;
    QString toolFileName() const override { return QStringLiteral("MSINFO32.EXE"); }

    QList<Value> values;
    QStringList openedKeys;
    QList<std::uint32_t> accessRequested;
    QList<Handle> closed;
    QList<int> bufferSizesOffered;
};

class FakeRandom : public RandomSource
{
public:
    double next() override;

    QList<double> sequence;
    int draws = 0;
};

class FakeControl : public ProgramControl
{
public:
    void endProgram() override { ++ends; }
    int ends = 0;
};

class FakeInhibitor : public SleepInhibitor
{
public:
    void hold(const QString &why) override
    {
        held = true;
        reasons.append(why);
    }
    void release() override
    {
        held = false;
        ++releases;
    }
    void setResumeHandler(std::function<void()> handler) override { resumed = std::move(handler); }
    bool held = false;
    QStringList reasons;
    int releases = 0;
    // What the window asked to have run when the machine wakes.
    std::function<void()> resumed;
};

class FakeWakeScheduler : public WakeScheduler
{
public:
    void schedule(const QDateTime &moment, const QString &) override
    {
        scheduled = moment;
        calls.append(QStringLiteral("schedule"));
    }
    void cancel() override
    {
        scheduled.reset();
        calls.append(QStringLiteral("cancel"));
    }
    void cancelBeforeExit() override
    {
        scheduled.reset();
        calls.append(QStringLiteral("cancelBeforeExit"));
    }
    // The wake-up in place as the calls so far leave it.
    std::optional<QDateTime> scheduled;
    QStringList calls;
};

class FakeNotifications : public NotificationService
{
public:
    void show(const QString &text) override
    {
        shown = text;
        calls.append(QStringLiteral("show"));
    }
    void withdraw() override
    {
        shown.reset();
        calls.append(QStringLiteral("withdraw"));
    }
    void withdrawBeforeExit() override
    {
        shown.reset();
        calls.append(QStringLiteral("withdrawBeforeExit"));
    }
    void setOpenHandler(std::function<void(const QString &)> handler) override
    {
        open = std::move(handler);
    }
    // The body of the notification on screen as the calls so far leave it.
    std::optional<QString> shown;
    QStringList calls;
    // What the window asked to have run when the person picks the notification.
    std::function<void(const QString &)> open;
};

// A full set of fakes wired into one Services, with a program directory.
struct FakeServices
{
    explicit FakeServices(const QString &directory);

    FakeClock clock;
    FakeSound sound;
    FakeMessages messages;
    FakeFileDialog fileDialog;
    FakeLauncher launcher;
    FakeRegistry registry;
    FakeRandom random;
    FakeControl control;
    FakeInhibitor inhibitor;
    FakeWakeScheduler wake;
    FakeNotifications notifications;
    Services services;
};

// The one of services that is a Base, or kept when none is.
template <typename Base, typename... Swapped> Base &swapped(Base &kept, Swapped &...services)
{
    Base *chosen = &kept;
    const auto take = [&]<typename T>(T &service) {
        if constexpr (std::is_base_of_v<Base, T>)
            chosen = &service;
    };
    (take(services), ...);
    return *chosen;
}

// base with the services given put in place of those of their kinds, so that
// a case that swaps one names only that one.
template <typename... Swapped> Services swapServices(const Services &base, Swapped &...s)
{
    return Services{swapped(base.clock, s...),
                    swapped(base.sound, s...),
                    swapped(base.messages, s...),
                    swapped(base.fileDialog, s...),
                    swapped(base.launcher, s...),
                    swapped(base.registry, s...),
                    swapped(base.random, s...),
                    swapped(base.control, s...),
                    swapped(base.inhibitor, s...),
                    swapped(base.wake, s...),
                    swapped(base.notifications, s...),
                    base.programDirectory,
                    base.configDirectory};
}
