#pragma once

#include <QString>

#include <functional>

// Folder for AlarmClockConfig.xml: the program directory when it already holds
// the file or a file can be created there; otherwise the user's configuration
// folder for the application (created if missing), so that an installed copy
// under a read-only prefix still keeps its settings.
QString chooseConfigDirectory(const QString &programDirectory);

// The same choice with the writability test handed in, for tests that need a
// folder even root cannot write.
QString chooseConfigDirectory(const QString &programDirectory,
                              const std::function<bool(const QString &)> &canCreateFiles);

// True when a file can really be created and removed in directory. Permission
// bits alone say nothing for root or on read-only mounts, so this tries it.
bool canCreateFilesIn(const QString &directory);
