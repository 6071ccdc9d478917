#include "platform/sound/module/effectcache.h"

#include <QAudioDevice>
#include <QSoundEffect>

#include <algorithm>

namespace {

// Room for the alarm file and the wrong-answer file, each as a loop and as a
// single play, and the two built-ins.
constexpr qsizetype kMaxEntries = 8;

// A held effect is good for a request when the file is unchanged, the device
// the same, and it has not failed.
template <typename Entry>
bool stillFits(const Entry &entry, const sound::Source &source, const QByteArray &deviceId)
{
    return entry.source.fileSize == source.fileSize && entry.source.modified == source.modified &&
           entry.deviceId == deviceId && entry.effect->status() != QSoundEffect::Error;
}

} // namespace

EffectCache::EffectCache(QObject *owner) : m_owner(owner) {}

EffectCache::~EffectCache()
{
    for (const Entry &entry : std::as_const(m_entries))
        destroy(entry.effect);
}

QSoundEffect *EffectCache::newEffect(const sound::Source &source, const QAudioDevice &device) const
{
    const QUrl url = sound::urlFor(source);
    if (url.isEmpty())
        return nullptr;
    auto *effect = new QSoundEffect(device, m_owner);
    effect->setLoopCount(source.loop ? QSoundEffect::Infinite : 1);
    effect->setSource(url);
    return effect;
}

qsizetype EffectCache::indexOf(const QString &key) const
{
    const auto found = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                    [&](const Entry &entry) { return entry.source.key == key; });
    return found == m_entries.cend() ? -1 : found - m_entries.cbegin();
}

QSoundEffect *EffectCache::take(const sound::Source &source, const QAudioDevice &device)
{
    QSoundEffect *effect = nullptr;
    if (const qsizetype i = indexOf(source.key); i >= 0) {
        const Entry entry = m_entries.takeAt(i);
        if (stillFits(entry, source, device.id()))
            effect = entry.effect;
        else
            retire(entry.effect);
    }
    if (effect == nullptr)
        effect = newEffect(source, device);
    // The next start of this sound is as quick as this one.
    keepPrepared(source, device);
    return effect;
}

void EffectCache::keepPrepared(const sound::Source &source, const QAudioDevice &device)
{
    if (device.isNull())
        return;
    if (const qsizetype i = indexOf(source.key); i >= 0) {
        Entry &entry = m_entries[i];
        if (stillFits(entry, source, device.id())) {
            entry.lastUse = ++m_useCounter;
            return;
        }
        retire(m_entries.takeAt(i).effect);
    }
    if (QSoundEffect *effect = newEffect(source, device)) {
        m_entries.append(Entry{source, device.id(), effect, ++m_useCounter});
        trim();
    }
}

bool EffectCache::isPrepared(const sound::Source &source, const QByteArray &deviceId) const
{
    const qsizetype i = indexOf(source.key);
    return i >= 0 && stillFits(m_entries[i], source, deviceId) &&
           m_entries[i].effect->status() == QSoundEffect::Ready;
}

void EffectCache::trim()
{
    while (m_entries.size() > kMaxEntries) {
        const auto oldest =
            std::min_element(m_entries.cbegin(), m_entries.cend(),
                             [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
        retire(m_entries.takeAt(oldest - m_entries.cbegin()).effect);
    }
}

void EffectCache::retire(QSoundEffect *effect)
{
    if (effect == nullptr)
        return;
    // Disconnected first, so that its own stop is not taken for a failure.
    QObject::disconnect(effect, nullptr, nullptr, nullptr);
    effect->stop();
    effect->deleteLater();
}

void EffectCache::destroy(QSoundEffect *effect)
{
    if (effect == nullptr)
        return;
    QObject::disconnect(effect, nullptr, nullptr, nullptr);
    delete effect;
}
