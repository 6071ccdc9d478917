#pragma once

#include "platform/services.h"

#include <QLibrary>
#include <QString>

#include <functional>

// The sound service, loaded from its module on the first request that needs
// it. The sound server's client library (which links libsndfile and its
// codecs) and the WAV decoder weigh a few megabytes; a clock that waits all
// day with no alarm set should not carry them.
class LazySoundService : public SoundService
{
public:
    static constexpr auto kModuleFileName = "libroustabell-sound.so";
    static constexpr auto kCreateSymbol = "roustabell_create_sound_service";
    static constexpr auto kDestroySymbol = "roustabell_destroy_sound_service";
    using CreateFunction = SoundService *(*)();
    using DestroyFunction = void (*)(SoundService *);

    // unavailable is told once, with the reason, when the module cannot be
    // loaded; every request is then ignored.
    LazySoundService(const QString &modulePath, std::function<void(const QString &)> unavailable);
    ~LazySoundService() override;

    void startLoop(const QString &path) override;
    void playOnce(const QString &path) override;
    void stop() override;
    void prepare(const QString &path) override;
    // SoundProblem::None when the module cannot be loaded: that is told once,
    // by unavailable.
    SoundProblem check(const QString &path) override;

    bool isLoaded() const { return m_service != nullptr; }

private:
    SoundService *service();

    QLibrary m_library;
    std::function<void(const QString &)> m_unavailable;
    SoundService *m_service = nullptr;
    DestroyFunction m_destroy = nullptr;
    bool m_failed = false;
};
