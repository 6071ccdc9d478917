#pragma once

#include <QString>
#include <QTemporaryDir>

// A program folder of a suite's own: a temporary directory holding a short
// wake-up sound, wake.wav, with the US English locale that the texts the
// suites expect are written in.
class ProgramFolder
{
public:
    ProgramFolder();

    // The folder was made and the sound written.
    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString wav() const { return m_dir.filePath(QStringLiteral("wake.wav")); }
    // Where the settings file of this folder goes.
    QString configPath() const;

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
