#include "support/programfolder.h"

#include "config/configstore.h"
#include "support/wavfile.h"

#include <QLocale>

ProgramFolder::ProgramFolder()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    m_valid = m_dir.isValid() && writeToneWav(wav(), 880, 0.1);
}

QString ProgramFolder::configPath() const
{
    return configstore::filePath(m_dir.path());
}
