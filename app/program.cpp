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

QByteArray preferredPlatform(const std::function<std::optional<QString>(const char *)> &variable)
{
    // Empty is no choice: Qt takes it for unset too.
    if (!variable("QT_QPA_PLATFORM").value_or(QString()).isEmpty())
        return {};
    const bool waylandSession = variable("XDG_SESSION_TYPE").value_or(QString()) == u"wayland" ||
                                !variable("WAYLAND_DISPLAY").value_or(QString()).isEmpty();
    if (!waylandSession || variable("DISPLAY").value_or(QString()).isEmpty())
        return {};
    // Wayland after it, should the X server named not answer.
    return QByteArrayLiteral("xcb;wayland");
}

void withPlatformChoice(const QByteArray &platform, const std::function<void()> &build)
{
    if (platform.isEmpty()) {
        build();
        return;
    }
    qputenv("QT_QPA_PLATFORM", platform);
    build();
    // The programs it starts choose for themselves.
    qunsetenv("QT_QPA_PLATFORM");
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
    // Started by the session's timer at the alarm's moment: without a
    // display no window can ring, so nothing is done at all.
    const std::optional<HandedOverAlarm> handedOver = parseCheckArgument(argc, argv);
    if (handedOver && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return 0;
    // The windows' places, their frames without buttons and their coming to
    // the front need X11; in a Wayland session, XWayland offers all three.
    // Read straight from the environment: a copy of all of it would cost
    // pages of memory that an idle clock then keeps.
    const QByteArray platform = preferredPlatform([](const char *name) -> std::optional<QString> {
        if (!qEnvironmentVariableIsSet(name))
            return std::nullopt;
        return qEnvironmentVariable(name);
    });
    std::optional<QApplication> app;
    withPlatformChoice(platform, [&] { app.emplace(argc, argv); });
    configureApplication();

    Program *program = nullptr;
    DesktopServices desktop([&program](const QString &reason) {
        if (program)
            program->soundUnavailable(reason);
    });
    // The program that armed the alarm still runs, and rings it itself.
    if (handedOver && !desktop.takeAlarmLock())
        return 0;
    Program running(desktop.services());
    program = &running;
    QObject::connect(&*app, &QGuiApplication::commitDataRequest, &running.window(),
                     [&running](QSessionManager &manager) {
                         // Without leave to ask, the session ends as it will.
                         if (manager.allowsInteraction()) {
                             if (running.sessionEnding())
                                 manager.cancel();
                             manager.release();
                         }
                     });
    running.window().show();
    if (handedOver)
        running.window().ringHandedOver(datevalue::fromDateTime(handedOver->moment.toLocalTime()),
                                        handedOver->soundFile);
    return QApplication::exec();
}
