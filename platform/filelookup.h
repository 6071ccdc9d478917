#pragma once

#include <QString>

// Looks a path up as a file name pattern ('*' and '?' in its last part) over
// ordinary files only: no directories, no hidden files. Wildcards ignore case. Returns the name,
// without its folder, of the first match in name order, or an empty text.
QString firstMatchingFileName(const QString &pattern);
