// The sound module is loaded on the first request for sound, never at start,
// and a missing module is reported once instead of failing silently later.
#include "sound/lazysoundservice.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {

bool soundLibrariesLoaded()
{
    // RTLD_NOLOAD only finds what is already in the process.
    bool any = false;
    for (const char *name : {"libpulse.so.0"}) {
        void *handle = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
        if (handle != nullptr)
            dlclose(handle);
        any = any || handle != nullptr;
    }
    return any;
}

} // namespace

class tst_LazySound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // First, while nothing has loaded the module into this process yet.
    void nothingLoadedUntilSoundIsWanted()
    {
        QVERIFY2(!soundLibrariesLoaded(), "the test itself must not link the sound libraries");
        QStringList reasons;
        LazySoundService sound(QStringLiteral(ROUSTABELL_SOUND_MODULE),
                               [&](const QString &reason) { reasons << reason; });
        sound.stop();
        QVERIFY(!sound.isLoaded());
        QVERIFY(!soundLibrariesLoaded());

        sound.prepare(QStringLiteral("/nonexistent/alarm.wav"));
        QVERIFY(sound.isLoaded());
        QVERIFY(soundLibrariesLoaded());
        sound.stop();
        QVERIFY(reasons.isEmpty());
    }

    void unusableModuleIsReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("create");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("not a library") << QByteArray("not an ELF file") << true;
    }

    void unusableModuleIsReportedOnce()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, create);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QString::fromLatin1(LazySoundService::kModuleFileName));
        if (create) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        }
        QStringList reasons;
        LazySoundService sound(path, [&](const QString &reason) { reasons << reason; });
        sound.prepare(QStringLiteral("/a.wav"));
        sound.startLoop(QStringLiteral("/a.wav"));
        sound.playOnce(QStringLiteral("/a.wav"));
        sound.stop();
        QVERIFY(!sound.isLoaded());
        QCOMPARE(reasons.size(), 1);
        QVERIFY2(!reasons.first().isEmpty(), "the reason must say what went wrong");
    }

    void libraryWithoutEntryPointsIsRefused()
    {
        // Any shared library that is not the module: the C library.
        QStringList reasons;
        LazySoundService sound(QStringLiteral("libc.so.6"),
                               [&](const QString &reason) { reasons << reason; });
        sound.startLoop(QStringLiteral("/a.wav"));
        QVERIFY(!sound.isLoaded());
        QCOMPARE(reasons.size(), 1);
        QVERIFY2(reasons.first().contains(QStringLiteral("libc.so.6")),
                 qPrintable(reasons.first()));
    }
};

QTEST_GUILESS_MAIN(tst_LazySound)
#include "tst_lazysound.moc"
