#include "app/frmmain.h"
#include "platform/configlocation.h"
#include "platform/lazysoundservice.h"
#include "platform/logindinhibitor.h"
#include "platform/systemservices.h"
#include "platform/windowsystem.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("roustabell"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.1"));
    QApplication::setDesktopFileName(QStringLiteral("roustabell"));
    QApplication::setFont(defaultDialogFont());

    SystemClock clock;
    QtMessageBoxService messages;
    QPointer<QWidget> mainWindow;
    // Told later, not from inside the request: that may be the alarm's tick.
    LazySoundService sound(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                               QString::fromLatin1(LazySoundService::kModuleFileName),
                           [&messages, &mainWindow](const QString &reason) {
                               qCritical("roustabell: no sound: %s", qPrintable(reason));
                               QTimer::singleShot(0, [&messages, &mainWindow, reason] {
                                   messages.show(mainWindow.data(),
                                                 QStringLiteral("The sound system could not be "
                                                                "loaded, so no alarm can be "
                                                                "heard.\n\n") +
                                                     reason,
                                                 kProgramTitle);
                               });
                           });
    QtFileDialogService fileDialog;
    DesktopLauncher launcher;
    LinuxRegistryLookup registry;
    FixedStartRandom random;
    ProcessControl control(sound);
    LogindSleepInhibitor inhibitor;
    const QString directory = programDirectory();
    // Installed in a folder it cannot write, the program keeps its file per user.
    const QString configDirectory = chooseConfigDirectory(directory);
    Services services{clock,  sound,   messages,  fileDialog, launcher,       registry,
                      random, control, inhibitor, directory,  configDirectory};

    frmMain window(services);
    mainWindow = &window;
    // Logging out asks the same question as closing the window.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &manager) {
                         if (manager.allowsInteraction()) {
                             if (window.Form_QueryUnload())
                                 manager.cancel();
                             manager.release();
                         }
                     });
    window.show();
    return app.exec();
}
