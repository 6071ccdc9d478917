#pragma once

#include <QByteArray>
#include <QString>

namespace configstore::detail {

// The result of one attempt to put a file's bytes in place; on failure every
// name in the folder holds what it held before.
struct Written
{
    QString reason; // empty on success
    QString keptAside;
    QString dropped;
};

Written failedWrite(const QString &reason);

// Puts bytes at path, replacing the file there atomically where the folder
// allows, in place (space reserved first) where it does not; keepOldAside
// first keeps an unreadable old file aside as "<file>.unreadable".
Written writeReplacing(const QString &path, const QByteArray &bytes, bool keepOldAside);

} // namespace configstore::detail
