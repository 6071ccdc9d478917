#include "support/fakes.h"

void FakeSound::startLoop(const QString &path)
{
    calls.append({QStringLiteral("loop"), path});
    looping = path;
}

void FakeSound::playOnce(const QString &path)
{
    calls.append({QStringLiteral("once"), path});
    looping.clear();
    if (duringPlayOnce)
        duringPlayOnce();
}

void FakeSound::stop()
{
    calls.append({QStringLiteral("stop"), QString()});
    looping.clear();
}

void FakeSound::prepare(const QString &path)
{
    calls.append({QStringLiteral("prepare"), path});
    if (duringPrepare)
        duringPrepare();
}

SoundProblem FakeSound::check(const QString &path)
{
    checked.append(path);
    return problem;
}

QStringList FakeSound::kinds() const
{
    QStringList result;
    for (const Call &call : calls)
        result.append(call.kind);
    return result;
}

void FakeMessages::show(QWidget *, const QString &text, const QString &title)
{
    texts.append(text);
    titles.append(title);
    if (whileShown)
        whileShown(text);
}

QString FakeFileDialog::showOpen(QWidget *, const QString &filter, const QString &fileName)
{
    filters.append(filter);
    fileNames.append(fileName);
    return choice.value_or(fileName);
}

bool FakeLauncher::startProgram(const QString &path)
{
    started.append(path);
    return startSucceeds && !path.isEmpty();
}

void FakeLauncher::openUrl(const QString &url)
{
    urls.append(url);
}

bool FakeLauncher::fileExists(const QString &path)
{
    return existing.contains(path);
}

long FakeRegistry::openKey(std::uint32_t root, const QString &keyName, std::uint32_t access,
                           Handle *key)
{
    openedKeys.append(keyName);
    accessRequested.append(access);
    if (root != kHkeyLocalMachine)
        return kFileNotFound;
    for (const Value &value : values) {
        if (value.key == keyName) {
            *key = static_cast<Handle>(openedKeys.size());
            return kSuccess;
        }
    }
    return kFileNotFound;
}

long FakeRegistry::queryValue(Handle key, const QString &valueName, std::uint32_t *type,
                              QByteArray &buffer, std::uint32_t *size)
{
    bufferSizesOffered.append(static_cast<int>(*size));
    const QString keyName = openedKeys.value(static_cast<int>(key) - 1);
    for (const Value &value : values) {
        if (value.key != keyName || value.name != valueName)
            continue;
        if (static_cast<std::uint32_t>(value.data.size()) > *size)
            return kMoreData;
        *type = value.type;
        buffer.replace(0, value.data.size(), value.data);
        *size = static_cast<std::uint32_t>(value.data.size());
        return kSuccess;
    }
    return kFileNotFound;
}

void FakeRegistry::closeKey(Handle key)
{
    closed.append(key);
}

double FakeRandom::next()
{
    const double value = sequence.isEmpty() ? 0.0 : sequence.at(draws % sequence.size());
    ++draws;
    return value;
}

FakeServices::FakeServices(const QString &directory)
    : services{clock,   sound,     messages, fileDialog,    launcher,  registry, random,
               control, inhibitor, wake,     notifications, directory, directory}
{
}
