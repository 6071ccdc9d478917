#include "support/files.h"

#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

std::optional<QByteArray> readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QStringList describe(const configstore::StoredSettings &stored)
{
    QStringList lines;
    if (stored.wakeyFileName)
        lines << "file:" + *stored.wakeyFileName;
    if (stored.wakeyTime)
        lines << "time:" + *stored.wakeyTime;
    for (const configstore::QuestionPair &pair : stored.pairs)
        lines << "Q:" + pair.question << "A:" + pair.answer;
    return lines;
}

long statusKiB(const char *name)
{
    FILE *status = std::fopen("/proc/self/status", "r");
    long value = -1;
    char line[256];
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, name, std::strlen(name)) == 0)
            value = std::atol(line + std::strlen(name));
    }
    if (status)
        std::fclose(status);
    return value;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit lowered = m_old;
    lowered.rlim_cur = std::min(bytes, m_old.rlim_max);
    setrlimit(RLIMIT_FSIZE, &lowered);
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_handler);
}
