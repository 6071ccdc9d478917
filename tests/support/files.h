#pragma once

#include "config/configstore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

#include <optional>

// Writes the file whole, replacing what it held.
bool writeBytes(const QString &path, const QByteArray &bytes);
// Nothing when the file cannot be opened.
std::optional<QByteArray> readBytes(const QString &path);

// What a load found, one line a value, absent values left out.
QStringList describe(const configstore::StoredSettings &stored);

// A "Name:   123 kB" line of /proc/self/status, in KiB; -1 when missing.
long statusKiB(const char *name);

// Lowers the process's file size limit for one scope, so that writing fails
// with EFBIG even for root. SIGXFSZ would end the process; it is ignored.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
};
