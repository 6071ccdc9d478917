#pragma once

#include "app/frmmain.h"
#include "support/fakes.h"
#include "support/programfolder.h"

#include <QTime>

#include <memory>

// What the suites that drive the main window share: a program folder, a
// fresh set of fakes for each case and the window on them. The window always
// goes before the services it holds, at the start of a case too: a window left
// by a case whose init() failed would otherwise outlive its services, and its
// destructor would crash the suite and hide every later result.
class MainWindowCase
{
protected:
    // No settings file, new fakes, and the clock on 7 December 2026 at now.
    void startCase(QTime now = QTime(7, 0));
    void endCase();

    // A window as its settings load it.
    frmMain &openAsLoaded();
    // A window with the folder's sound in its box.
    frmMain &open();
    // That window, shown and active.
    frmMain &openActive();

    ProgramFolder m_dir;
    const QString m_wav = m_dir.wav();
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<frmMain> m_main;
};
