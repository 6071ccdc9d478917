#include "support/mainwindowcase.h"

#include "support/modal.h"

#include <QFile>
#include <QLineEdit>
#include <QTest>

void MainWindowCase::startCase(QTime now)
{
    m_main.reset();
    QFile::remove(m_dir.configPath());
    m_fakes = std::make_unique<FakeServices>(m_dir.path());
    m_fakes->clock.set(QDate(2026, 12, 7), now);
}

void MainWindowCase::endCase()
{
    m_main.reset();
    closeAllWindows();
}

frmMain &MainWindowCase::openAsLoaded()
{
    m_main.reset();
    m_main = std::make_unique<frmMain>(m_fakes->services);
    return *m_main;
}

frmMain &MainWindowCase::open()
{
    openAsLoaded().txtFileNameWAV->setText(m_wav);
    return *m_main;
}

frmMain &MainWindowCase::openActive()
{
    open().show();
    if (!QTest::qWaitForWindowActive(m_main.get()))
        qWarning("main window did not become active");
    return *m_main;
}
