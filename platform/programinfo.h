#pragma once

#include <QString>

// Who the program is: one place for its names, version and web address.
// The version numbers come from the build (the project's version in CMake).
namespace programinfo {

// The name it is installed, registered and looked up by.
inline constexpr auto kName = "roustabell";
// The title of every message box that names none of its own.
inline constexpr auto kTitle = "ROUSTABELL";
inline constexpr auto kWebSite = "https://roustabell.example.org/";

inline constexpr int kVersionMajor = ROUSTABELL_VERSION_MAJOR;
inline constexpr int kVersionMinor = ROUSTABELL_VERSION_MINOR;
inline constexpr int kVersionRevision = ROUSTABELL_VERSION_REVISION;

inline QString version()
{
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

} // namespace programinfo
