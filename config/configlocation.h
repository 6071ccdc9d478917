#pragma once

#include <QString>

#include <functional>

// What the choice of settings folder rests on, handed in so that tests can
// stage what even root cannot (a folder it may not write).
struct FolderChecks
{
    // Whether the program folder belongs to an installation rather than to a
    // copy its user unpacked or built.
    std::function<bool(const QString &directory)> isInstalled;
    std::function<bool(const QString &directory)> canCreateFiles;
    std::function<bool(const QString &file)> canWriteInPlace;
};

// Folder for AlarmClockConfig.xml. A copy of the program that its user
// unpacked or built keeps the file beside itself, as long as a save can
// succeed there; an installed program, or a copy whose folder cannot take a
// save, uses the user's configuration folder (created if missing). An
// installed program never reads or writes its own folder: another user, root
// say, may have left a file there. A per-user file saved since the settings
// moved there keeps being used; a file beside the copy that can no longer
// take a save is copied only where the per-user folder holds none, since the
// file there may be another copy's.
QString chooseConfigDirectory(const QString &programDirectory);
QString chooseConfigDirectory(const QString &programDirectory, const FolderChecks &checks);

// The per-user folder, $XDG_CONFIG_HOME/roustabell or ~/.config/roustabell,
// as long as it is the effective user's own.
QString userConfigDirectory();

// The checks the program makes. A folder is installed when it lies under /usr
// or the user running the program does not own it.
FolderChecks systemFolderChecks();

// True when a file can really be created and removed in directory. Permission
// bits alone say nothing for root or on read-only mounts, so this tries it.
bool canCreateFilesIn(const QString &directory);
