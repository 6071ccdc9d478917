#include "app/program.h"

#include "app/desktopservices.h"
#include "platform/programinfo.h"
#include "platform/widgets/layout.h"
#include "platform/widgets/menuarrowstyle.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>

Program::Program(Services &services) : m_services(services), m_window(services) {}

bool Program::sessionEnding()
{
    return m_window.Form_QueryUnload();
}

void Program::soundUnavailable(const QString &reason)
{
    QPointer<QWidget> parent = &m_window;
    MessageBoxService &messages = m_services.messages;
    QTimer::singleShot(0, &m_window, [&messages, parent, reason] {
        messages.show(parent.data(),
                      QStringLiteral("The sound system could not be loaded, so no alarm can be "
                                     "heard.\n\n") +
                          reason);
    });
}

void configureApplication()
{
    QApplication::setApplicationName(QString::fromLatin1(programinfo::kName));
    QApplication::setApplicationVersion(programinfo::version());
    QApplication::setDesktopFileName(QString::fromLatin1(programinfo::kName));
    QApplication::setFont(defaultDialogFont());
    QApplication::setStyle(new MenuArrowStyle);
}

int runProgram(int argc, char *argv[])
{
    QApplication app(argc, argv);
    configureApplication();

    Program *program = nullptr;
    DesktopServices desktop([&program](const QString &reason) {
        if (program)
            program->soundUnavailable(reason);
    });
    Program running(desktop.services());
    program = &running;
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &running.window(),
                     [&running](QSessionManager &manager) {
                         // Without leave to ask, the session ends as it will.
                         if (manager.allowsInteraction()) {
                             if (running.sessionEnding())
                                 manager.cancel();
                             manager.release();
                         }
                     });
    running.window().show();
    return app.exec();
}
