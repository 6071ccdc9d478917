// Where the settings file lives: beside a copy of the program its user owns,
// while a save can succeed there; otherwise, and always for an installed
// program, in the user's configuration folder.
#include "config/configlocation.h"
#include "config/configstore.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

enum class Holds { Nothing, WritableFile, StuckFile };
enum class Result { ProgramFolder, UserFolder, UserFolderWithCopy };

const QByteArray kBeside = "<AlarmClockConfig><WakeyTime>7:30</WakeyTime></AlarmClockConfig>";

bool setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(time, QFileDevice::FileModificationTime);
}

// Without the numbered folders of /proc, which come and go with every
// process on the machine.
QStringList entries(const QString &directory)
{
    QStringList names = QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot);
    if (directory == QLatin1String("/proc"))
        names.removeIf([](const QString &name) { return name.toUInt() != 0; });
    return names;
}

} // namespace

class tst_ConfigLocation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_userFolder;
    QByteArray m_home = qgetenv("HOME");

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("roustabell"));
        QCoreApplication::setOrganizationName(QString());
        QVERIFY(m_work.isValid());
    }

    void init()
    {
        const QString configHome = m_work.filePath(QStringLiteral("xdg-config"));
        QDir(configHome).removeRecursively();
        qputenv("XDG_CONFIG_HOME", configHome.toUtf8());
        m_userFolder = configHome + QStringLiteral("/roustabell");
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation), m_userFolder);
    }

    void cleanup() { qputenv("HOME", m_home); }

    // The XDG rules, and a folder only when it is the effective user's own
    // (root hands one of its own to nobody; anyone else finds /usr root's).
    void userFolder_data()
    {
        QTest::addColumn<QByteArray>("xdg"); // "-" for unset
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QString>("expected");
        const QString own = "<work>/.config/roustabell";
        QTest::newRow("relative XDG_CONFIG_HOME")
            << QByteArray("rel") << QByteArray("<work>") << own;
        QTest::newRow("empty XDG_CONFIG_HOME") << QByteArray("") << QByteArray("<work>") << own;
        QTest::newRow("XDG_CONFIG_HOME of another user")
            << QByteArray("<foreign>") << QByteArray("<work>") << own;
        QTest::newRow("HOME unset") << QByteArray("-") << QByteArray("-") << "<passwd>";
        QTest::newRow("HOME of another user, as sudo keeps it")
            << QByteArray("-") << QByteArray("<foreign>") << "<passwd>";
    }

    void userFolder()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QByteArray, home);
        QFETCH(QString, expected);
        const bool root = ::geteuid() == 0;
        const QByteArray foreign = root ? QFile::encodeName(m_work.filePath("foreign")) : "/usr";
        QVERIFY(!root ||
                (QDir().mkpath(foreign) && ::chown(foreign.constData(), 65534, 65534) == 0));
        for (const auto &[name, value] : {std::pair{"XDG_CONFIG_HOME", xdg}, {"HOME", home}}) {
            if (value == "-")
                qunsetenv(name);
            else
                qputenv(name, QByteArray(value)
                                  .replace("<work>", QFile::encodeName(m_work.path()))
                                  .replace("<foreign>", foreign));
        }
        const QString passwd = QFile::decodeName(::getpwuid(::geteuid())->pw_dir);
        QCOMPARE(userConfigDirectory(), expected.replace("<work>", m_work.path())
                                            .replace("<passwd>", passwd + "/.config/roustabell"));
    }

    // A pipe or a folder where the file goes loads as nothing, as a damaged
    // file does; the choice never waits for a pipe's other end (an alarm ends
    // a run that would), and a save says why it cannot write.
    void notAFileBeside_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::addColumn<QString>("reason");
        QTest::newRow("named pipe") << true << QString("it is a named pipe, not a file");
        QTest::newRow("folder") << false << qt_error_string(EISDIR);
    }

    void notAFileBeside()
    {
        QFETCH(bool, pipe);
        QFETCH(QString, reason);
        QTemporaryDir program;
        const QByteArray beside = QFile::encodeName(program.filePath(configstore::kFileName));
        QVERIFY(pipe ? ::mkfifo(beside, 0600) == 0 : ::mkdir(beside, 0700) == 0);
        QElapsedTimer elapsed;
        elapsed.start();
        ::alarm(10);
        const QString chosen = chooseConfigDirectory(program.path());
        const configstore::StoredSettings loaded = configstore::load(chosen);
        const configstore::SaveResult saved = configstore::saveSettings(chosen, "f", "9:00");
        ::alarm(0);
        QVERIFY2(elapsed.elapsed() < 1000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(chosen, program.path());
        QVERIFY(!loaded.wakeyTime && loaded.pairs.isEmpty());
        QCOMPARE(saved.reason, reason);
        QCOMPARE(entries(program.path()), QStringList{configstore::kFileName});
    }

    // The checks are staged; the files are real.
    void choice_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<Holds>("holds");
        QTest::addColumn<bool>("canCreate");
        QTest::addColumn<bool>("userHasFile");
        QTest::addColumn<Result>("expected");

        QTest::newRow("own copy, empty")
            << false << Holds::Nothing << true << false << Result::ProgramFolder;
        QTest::newRow("own copy, its file")
            << false << Holds::WritableFile << false << false << Result::ProgramFolder;
        QTest::newRow("own copy, folder takes nothing")
            << false << Holds::Nothing << false << false << Result::UserFolder;
        QTest::newRow("own copy, file cannot take a save")
            << false << Holds::StuckFile << true << false << Result::UserFolderWithCopy;
        QTest::newRow("own copy, stuck file, user already has one")
            << false << Holds::StuckFile << true << true << Result::UserFolder;
        QTest::newRow("installed, a file left there")
            << true << Holds::WritableFile << true << false << Result::UserFolder;
        QTest::newRow("installed, empty")
            << true << Holds::Nothing << true << false << Result::UserFolder;
    }

    void choice()
    {
        QFETCH(bool, installed);
        QFETCH(Holds, holds);
        QFETCH(bool, canCreate);
        QFETCH(bool, userHasFile);
        QFETCH(Result, expected);

        QTemporaryDir program;
        QVERIFY(program.isValid());
        const QString beside = program.filePath(QString::fromLatin1(configstore::kFileName));
        if (holds != Holds::Nothing)
            QVERIFY(writeBytes(beside, kBeside));
        const QByteArray own = "<AlarmClockConfig><WakeyTime>own</WakeyTime></AlarmClockConfig>";
        const QString userFile = m_userFolder + QLatin1Char('/') + configstore::kFileName;
        if (userHasFile)
            QVERIFY(QDir().mkpath(m_userFolder) && writeBytes(userFile, own));

        QStringList asked;
        const FolderChecks checks{[&](const QString &) { return installed; },
                                  [&](const QString &where) {
                                      asked << where;
                                      return canCreate;
                                  },
                                  [&](const QString &file) {
                                      asked << file;
                                      return holds == Holds::WritableFile;
                                  }};
        const QString chosen = chooseConfigDirectory(program.path(), checks);

        // An installed program does not even look at its folder.
        if (installed)
            QCOMPARE(asked, QStringList());
        QCOMPARE(chosen, expected == Result::ProgramFolder ? program.path() : m_userFolder);
        QCOMPARE(QFileInfo(m_userFolder).isDir(), expected != Result::ProgramFolder);
        if (holds != Holds::Nothing)
            QCOMPARE(readBytes(beside).value_or("(unreadable)"), kBeside);
        if (expected == Result::UserFolderWithCopy) {
            QCOMPARE(readBytes(userFile).value_or("(unreadable)"), kBeside);
            QVERIFY(QFileInfo(userFile).isWritable());
        } else if (expected == Result::UserFolder) {
            QCOMPARE(readBytes(userFile).value_or("(unreadable)"),
                     userHasFile ? own : QByteArray("(unreadable)"));
        }
    }

    // The settings move while the file beside the program takes no save; then
    // it can be written again. No file is written over, and nothing is lost.
    void newerFileWins_data()
    {
        QTest::addColumn<bool>("olderUserFile");
        QTest::addColumn<bool>("savedSince");
        QTest::newRow("moved, nothing saved since") << false << false;
        QTest::newRow("moved, saved since") << false << true;
        QTest::newRow("older per-user file, nothing saved since") << true << false;
        QTest::newRow("older per-user file, saved since") << true << true;
    }

    void newerFileWins()
    {
        QFETCH(bool, olderUserFile);
        QFETCH(bool, savedSince);
        QTemporaryDir program;
        const QString beside = program.filePath(configstore::kFileName);
        const QString userFile = m_userFolder + QLatin1Char('/') + configstore::kFileName;
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(writeBytes(beside, kBeside));
        QVERIFY(setModified(beside, now.addSecs(-3600)));
        if (olderUserFile) {
            QVERIFY(QDir().mkpath(m_userFolder) && writeBytes(userFile, "<r/>"));
            QVERIFY(setModified(userFile, now.addSecs(-7200)));
        }
        bool writable = false;
        const FolderChecks checks{[](const QString &) { return false; },
                                  [](const QString &) { return true; },
                                  [&](const QString &) { return writable; }};
        QCOMPARE(chooseConfigDirectory(program.path(), checks), m_userFolder);
        QCOMPARE(readBytes(userFile).value_or("(unreadable)"),
                 olderUserFile ? QByteArray("<r/>") : kBeside);
        if (savedSince)
            QVERIFY(configstore::saveSettings(m_userFolder, "f", "9:00").ok);

        writable = true;
        const QString chosen = chooseConfigDirectory(program.path(), checks);
        QCOMPARE(chosen, savedSince ? m_userFolder : program.path());
        QCOMPARE(configstore::load(chosen).wakeyTime, savedSince ? "9:00" : "7:30");
        QCOMPARE(readBytes(beside).value_or("(unreadable)"), kBeside);
    }

    // The real checks on folders whose answer does not depend on who runs this.
    void realChecks_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<bool>("programFolderChosen");

        QTest::newRow("own temporary folder") << QStringLiteral("<temp>") << true;
        QTest::newRow("missing") << QStringLiteral("<temp>/missing") << false;
        QTest::newRow("below a regular file") << QStringLiteral("<temp>/file/below") << false;
        // procfs refuses new files even to root.
        QTest::newRow("/proc") << QStringLiteral("/proc") << false;
        QTest::newRow("under /usr") << QStringLiteral("/usr/lib") << false;
        QTest::newRow("folder root may write, of another user") << QString("<foreign>") << false;
        QTest::newRow("empty path") << QString() << false;
    }

    void realChecks()
    {
        QFETCH(QString, directory);
        QFETCH(bool, programFolderChosen);
        QTemporaryDir temp;
        QVERIFY(temp.isValid());
        QVERIFY(writeBytes(temp.filePath(QStringLiteral("file")), "x"));
        directory.replace(QLatin1String("<temp>"), temp.path());
        if (directory == QLatin1String("<foreign>") &&
            (!QDir().mkdir(directory = temp.filePath("foreign")) ||
             ::chown(QFile::encodeName(directory).constData(), 65534, 65534) != 0))
            QSKIP("Handing a folder to another user needs root");
        const QStringList before = directory.isEmpty() ? QStringList() : entries(directory);

        const QString chosen = chooseConfigDirectory(directory);

        QCOMPARE(chosen, programFolderChosen ? directory : m_userFolder);
        QVERIFY(!QFileInfo::exists(
            QDir(directory).filePath(QString::fromLatin1(configstore::kFileName))));
        if (!directory.isEmpty())
            QCOMPARE(entries(directory), before);
        QVERIFY(!QFileInfo::exists(temp.filePath(QStringLiteral("missing"))));
    }

    void writableFileInReadOnlyFolder_data()
    {
        QTest::addColumn<bool>("ramfs"); // no fallocate: glibc's stand-in reads
        QTest::newRow("disk") << false;
        QTest::newRow("ramfs") << true;
    }

    // A writable file in a folder that takes no new files: chosen, and saved
    // in place. Root may write any folder, so there the choice and the save
    // run in a child that gives up root first.
    void writableFileInReadOnlyFolder()
    {
        QFETCH(bool, ramfs);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString program = work.filePath(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(program));
        const QByteArray at = QFile::encodeName(program);
        if (ramfs && ::mount("ramfs", at.constData(), "ramfs", 0, nullptr) != 0)
            QSKIP("Mounting a ramfs needs root");
        const auto unmount = qScopeGuard([&] { ::umount2(at.constData(), MNT_DETACH); });
        const QString path = QDir(program).filePath(QString::fromLatin1(configstore::kFileName));
        QVERIFY(writeBytes(path, "<!--" + QByteArray(5000, 'c') + "-->" + kBeside)); // > a block
        const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                         QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        const auto enter = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                           QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
        QVERIFY(QFile::setPermissions(path, all));
        QVERIFY(QFile::setPermissions(work.path(), enter));
        // The folder stays its user's own, as an unpacked copy's would.
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(QFile::encodeName(program).constData(), 65534, 65534) == 0);
        QVERIFY(QFile::setPermissions(program, enter));

        const pid_t child = root ? ::fork() : 0;
        QVERIFY(child >= 0);
        if (child == 0) {
            // 65534 is nobody, whom the folder's bits hold to them.
            if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(10);
            int outcome = 0;
            if (chooseConfigDirectory(program) != program)
                outcome = 11;
            else if (!configstore::saveSettings(program, QStringLiteral("f"),
                                                QStringLiteral("9:00"))
                          .ok)
                outcome = 12;
            if (root)
                ::_exit(outcome);
            QCOMPARE(outcome, 0);
        } else {
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        QFile::setPermissions(program, enter | QFileDevice::WriteOwner);
        QFile::setPermissions(work.path(), enter | QFileDevice::WriteOwner);
        const QByteArray saved = readBytes(path).value_or("(unreadable)");
        QVERIFY2(saved.contains("<WakeyTime>9:00</WakeyTime>"), saved.constData());
        QCOMPARE(entries(program), QStringList{QString::fromLatin1(configstore::kFileName)});
    }
};

QTEST_GUILESS_MAIN(tst_ConfigLocation)
#include "tst_configlocation.moc"
