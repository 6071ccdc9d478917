#pragma once

#include "datetime/datevalue.h"
#include "platform/programinfo.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

// Everything a window needs of the world outside it goes through these small
// interfaces, handed over at construction, so tests can put fakes in.

class Clock
{
public:
    virtual ~Clock() = default;
    // Local wall-clock date and time, whole seconds.
    virtual DateValue now() const = 0;
    // Milliseconds until the wall clock's next whole second begins.
    virtual int msecsToNextSecond() const = 0;
};

// What stands between the alarm and the person it should wake, as far as
// the sound side can tell; the worst one when there are several.
enum class SoundProblem {
    None,
    // The file cannot be read as a sound: the built-in ring plays instead.
    FileReplaced,
    // The default output is muted or its volume is at zero.
    OutputSilent,
    // No sound server answers, so nothing can be heard.
    NoServer,
};

class SoundService
{
public:
    virtual ~SoundService() = default;
    // Start the file looping and return at once; replaces what plays.
    virtual void startLoop(const QString &path) = 0;
    // Play the file once and return when it has ended; replaces what plays.
    virtual void playOnce(const QString &path) = 0;
    // End whatever plays; return at once.
    virtual void stop() = 0;
    // Load the file ahead so that a later startLoop is heard at once.
    virtual void prepare(const QString &path) = 0;
    // Whether the file would be heard as itself on the default output now;
    // asks the sound server, so it may take a moment.
    virtual SoundProblem check(const QString &path) = 0;
};

class MessageBoxService
{
public:
    virtual ~MessageBoxService() = default;
    // Modal, one OK button, no icon; returns when closed.
    virtual void show(QWidget *parent, const QString &text,
                      const QString &title = programinfo::kTitle) = 0;
};

class FileDialogService
{
public:
    virtual ~FileDialogService() = default;
    // Modal open dialog starting from fileName (its folder and its name),
    // offering files that match filter. Returns the chosen full path, or
    // fileName unchanged when cancelled.
    virtual QString showOpen(QWidget *parent, const QString &filter, const QString &fileName) = 0;
};

class Launcher
{
public:
    virtual ~Launcher() = default;
    // Start a program in a normal window without waiting; false if it cannot start.
    virtual bool startProgram(const QString &path) = 0;
    // Open an address in the default browser; failures are silent.
    virtual void openUrl(const QString &url) = 0;
    virtual bool fileExists(const QString &path) = 0;
};

// A key and value lookup with handles, value types and status codes, so that
// the About window's byte rules (string or number, size, terminator) are
// written once, whatever answers the lookup.
class RegistryLookup
{
public:
    using Handle = std::uintptr_t;
    static constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;
    static constexpr std::uint32_t kTypeString = 1;
    static constexpr std::uint32_t kTypeDword = 4;
    static constexpr long kSuccess = 0;
    static constexpr long kFileNotFound = 2;
    static constexpr long kMoreData = 234;

    virtual ~RegistryLookup() = default;
    virtual long openKey(std::uint32_t root, const QString &keyName, std::uint32_t access,
                         Handle *key) = 0;
    // buffer holds *size bytes on entry; on success *size is the count copied.
    virtual long queryValue(Handle key, const QString &valueName, std::uint32_t *type,
                            QByteArray &buffer, std::uint32_t *size) = 0;
    virtual void closeKey(Handle key) = 0;
    // Name of the tool's executable inside the folder the second value names.
    virtual QString toolFileName() const = 0;
};

class RandomSource
{
public:
    virtual ~RandomSource() = default;
    // Uniform on [0, 1); every run starts from the same state.
    virtual double next() = 0;
};

// Keeps the machine from going to sleep by itself through an armed or
// sounding alarm; a sleep the person asks for is let through. Says when the
// machine wakes again.
class SleepInhibitor
{
public:
    virtual ~SleepInhibitor() = default;
    // Takes the lock, or renews its reason; silently does nothing where no
    // login manager answers.
    virtual void hold(const QString &why) = 0;
    virtual void release() = 0;
    // Called each time the machine has woken from sleep, from the first
    // hold() on: before that no alarm is armed, so nothing needs to know.
    virtual void setResumeHandler(std::function<void()> handler) = 0;
};

// Asks the desktop to wake a sleeping machine at the alarm's moment, and to
// ring the alarm then with soundFile should this program no longer run.
// Silently does nothing where the desktop offers no such thing.
class WakeScheduler
{
public:
    virtual ~WakeScheduler() = default;
    // Replaces the wake-up asked for before, if any; returns at once.
    virtual void schedule(const QDateTime &moment, const QString &soundFile) = 0;
    // Withdraws the wake-up asked for, if any; returns at once.
    virtual void cancel() = 0;
    // cancel(), sent before it returns (within a short bound): the program
    // is about to end and would take the unsent request with it.
    virtual void cancelBeforeExit() = 0;
};

// One desktop notification for the sounding alarm, meant to reach a locked
// screen. Silently does nothing where no notification server answers: the
// alarm rings all the same.
class NotificationService
{
public:
    virtual ~NotificationService() = default;
    // Shows text as the notification's one line, replacing the one shown
    // before; returns at once.
    virtual void show(const QString &text) = 0;
    // Withdraws the notification shown, if any; returns at once.
    virtual void withdraw() = 0;
    // withdraw(), sent before it returns (within a short bound): the program
    // is about to end and would take the unsent request with it.
    virtual void withdrawBeforeExit() = 0;
    // Called when the person picks the notification's action, with the
    // activation token the server handed over, or an empty one.
    virtual void setOpenHandler(std::function<void(const QString &token)> handler) = 0;
};

class ProgramControl
{
public:
    virtual ~ProgramControl() = default;
    // Ends the program at once: no handler resumes, nothing is saved.
    virtual void endProgram() = 0;
};

struct Services
{
    Clock &clock;
    SoundService &sound;
    MessageBoxService &messages;
    FileDialogService &fileDialog;
    Launcher &launcher;
    RegistryLookup &registry;
    RandomSource &random;
    ProgramControl &control;
    SleepInhibitor &inhibitor;
    WakeScheduler &wake;
    NotificationService &notifications;
    // Folder of the executable, no trailing separator.
    QString programDirectory;
    // Folder that holds AlarmClockConfig.xml (the program directory unless it cannot be written).
    QString configDirectory;
};
