#include "sound/lazysoundservice.h"

#include <QCoreApplication>

LazySoundService::LazySoundService(const QString &modulePath,
                                   std::function<void(const QString &)> unavailable)
    : m_library(modulePath), m_unavailable(std::move(unavailable))
{
}

LazySoundService::~LazySoundService()
{
    if (m_service != nullptr)
        m_destroy(m_service);
    // Left loaded: Qt may still hold objects of the module's types until exit.
}

SoundService *LazySoundService::service()
{
    if (m_service != nullptr || m_failed)
        return m_service;
    QString reason;
    if (m_library.load()) {
        const auto create = reinterpret_cast<CreateFunction>(m_library.resolve(kCreateSymbol));
        m_destroy = reinterpret_cast<DestroyFunction>(m_library.resolve(kDestroySymbol));
        if (create != nullptr && m_destroy != nullptr)
            m_service = create();
        if (m_service == nullptr)
            reason = QCoreApplication::translate("LazySoundService",
                                                 "%1 is not a sound module of this program.")
                         .arg(m_library.fileName());
    } else {
        reason = m_library.errorString();
    }
    if (m_service == nullptr) {
        m_failed = true;
        if (m_unavailable)
            m_unavailable(reason);
    }
    return m_service;
}

void LazySoundService::startLoop(const QString &path)
{
    if (SoundService *sound = service())
        sound->startLoop(path);
}

void LazySoundService::playOnce(const QString &path)
{
    if (SoundService *sound = service())
        sound->playOnce(path);
}

void LazySoundService::stop()
{
    // Nothing can sound before the module is loaded.
    if (m_service != nullptr)
        m_service->stop();
}

void LazySoundService::prepare(const QString &path)
{
    if (SoundService *sound = service())
        sound->prepare(path);
}

SoundProblem LazySoundService::check(const QString &path)
{
    SoundService *sound = service();
    return sound != nullptr ? sound->check(path) : SoundProblem::None;
}
