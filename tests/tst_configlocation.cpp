// Where the settings file lives: the program folder while it can be written
// or holds the file, else the user's configuration folder.
#include "config/configlocation.h"
#include "config/configstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

enum class Folder {
    WritableEmpty,
    WritableWithFile,
    ReadOnlyBitsWithFile,
    ReadOnlyBitsEmpty,
    Missing,
    BelowRegularFile,
    Proc,
    EmptyPath,
};

} // namespace

class tst_ConfigLocation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("roustabell"));
        QCoreApplication::setOrganizationName(QString());
    }

    void configDirectory_data()
    {
        QTest::addColumn<Folder>("folder");
        QTest::addColumn<bool>("probeRefuses");
        QTest::addColumn<bool>("programDirectoryChosen");

        // Root writes through permission bits, so there the probe must find the
        // folder writable; only an attempt tells.
        const bool root = ::geteuid() == 0;
        QTest::newRow("writable, empty") << Folder::WritableEmpty << false << true;
        QTest::newRow("writable, holds the file") << Folder::WritableWithFile << false << true;
        QTest::newRow("read-only bits, holds the file")
            << Folder::ReadOnlyBitsWithFile << false << true;
        QTest::newRow("read-only bits, empty") << Folder::ReadOnlyBitsEmpty << false << root;
        QTest::newRow("missing") << Folder::Missing << false << false;
        QTest::newRow("below a regular file") << Folder::BelowRegularFile << false << false;
        // procfs refuses new files even to root.
        QTest::newRow("/proc") << Folder::Proc << false << false;
        QTest::newRow("empty path") << Folder::EmptyPath << false << false;
        // What no folder root can be kept out of would show: the file wins over
        // an unwritable folder, and without it the user's folder is taken.
        QTest::newRow("unwritable, holds the file") << Folder::WritableWithFile << true << true;
        QTest::newRow("unwritable, empty") << Folder::WritableEmpty << true << false;
    }

    void configDirectory()
    {
        QFETCH(Folder, folder);
        QFETCH(bool, probeRefuses);
        QFETCH(bool, programDirectoryChosen);

        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString configHome = work.filePath(QStringLiteral("xdg-config"));
        qputenv("XDG_CONFIG_HOME", configHome.toUtf8());
        const QString fallback = configHome + QStringLiteral("/roustabell");
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation), fallback);

        const QByteArray content = "<AlarmClockConfig />";
        QString directory = work.filePath(QStringLiteral("program"));
        bool readOnly = false;
        bool holdsFile = false;
        switch (folder) {
        case Folder::WritableEmpty:
            QVERIFY(QDir().mkpath(directory));
            break;
        case Folder::WritableWithFile:
        case Folder::ReadOnlyBitsWithFile:
            holdsFile = true;
            readOnly = folder == Folder::ReadOnlyBitsWithFile;
            break;
        case Folder::ReadOnlyBitsEmpty:
            readOnly = true;
            QVERIFY(QDir().mkpath(directory));
            break;
        case Folder::Missing:
            break;
        case Folder::BelowRegularFile: {
            QFile blocker(work.filePath(QStringLiteral("file")));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            directory = blocker.fileName() + QStringLiteral("/program");
            break;
        }
        case Folder::Proc:
            directory = QStringLiteral("/proc");
            break;
        case Folder::EmptyPath:
            directory.clear();
            break;
        }
        if (holdsFile) {
            QVERIFY(QDir().mkpath(directory));
            QFile config(QDir(directory).filePath(QString::fromLatin1(configstore::kFileName)));
            QVERIFY(config.open(QIODevice::WriteOnly));
            QCOMPARE(config.write(content), content.size());
        }
        if (readOnly)
            QVERIFY(
                QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QStringList before =
            directory.isEmpty()
                ? QStringList()
                : QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);

        QStringList probed;
        const QString chosen = probeRefuses
                                   ? chooseConfigDirectory(directory,
                                                           [&probed](const QString &where) {
                                                               probed << where;
                                                               return false;
                                                           })
                                   : chooseConfigDirectory(directory);
        if (probeRefuses)
            QCOMPARE(probed, holdsFile ? QStringList() : QStringList{directory});

        if (readOnly)
            QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        if (programDirectoryChosen) {
            QCOMPARE(chosen, directory);
            QVERIFY2(!QFileInfo::exists(fallback), "the fallback folder was created needlessly");
        } else {
            QCOMPARE(chosen, fallback);
            QVERIFY2(QFileInfo(fallback).isDir(), "the fallback folder was not created");
            QVERIFY(canCreateFilesIn(fallback));
        }
        // The probe leaves nothing behind, creates nothing that was missing, and
        // does not touch an existing file.
        if (!directory.isEmpty()) {
            QCOMPARE(QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System),
                     before);
            if (folder == Folder::Missing)
                QVERIFY(!QFileInfo::exists(directory));
        }
        if (holdsFile) {
            QFile config(QDir(directory).filePath(QString::fromLatin1(configstore::kFileName)));
            QVERIFY(config.open(QIODevice::ReadOnly));
            QCOMPARE(config.readAll(), content);
        }
    }
};

QTEST_GUILESS_MAIN(tst_ConfigLocation)
#include "tst_configlocation.moc"
