#pragma once

#include "app/frmmain.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The program as a person meets it: the main window on the services it is
// given, and the desktop's requests wired to it. main() builds one on the
// real services (runProgram); tests build one on fakes and send it what the
// desktop would.
class Program
{
public:
    explicit Program(Services &services);

    frmMain &window() { return m_window; }

    // Logging out or shutting down, with leave to ask the person: asks what
    // closing the window asks. Returns whether the session's end is cancelled.
    bool sessionEnding();

    // Told by the sound loader when its module cannot be loaded. The message
    // is shown after the request that found it has returned: that request may
    // be the alarm's tick, inside another window's modal loop.
    void soundUnavailable(const QString &reason);

private:
    Services &m_services;
    frmMain m_window;
};

// The Qt platform to ask for before the application is built, or empty for
// Qt's own choice: X11 through XWayland in a Wayland session that has an X
// server, unless the person chose a platform. variable answers an environment
// variable's value, nothing when it is not set.
QByteArray preferredPlatform(const std::function<std::optional<QString>(const char *)> &variable);

// Runs build (which makes the application) with QT_QPA_PLATFORM set to
// platform, unless that is empty, and takes the variable away afterwards.
void withPlatformChoice(const QByteArray &platform, const std::function<void()> &build);

// The application's names, version and font, set once before any window.
void configureApplication();

// main(): the real services, the program, the event loop.
int runProgram(int argc, char *argv[]);
