// Entry points of the sound module that LazySoundService loads.
#include "sound/engine/pulsesoundservice.h"

extern "C" {

Q_DECL_EXPORT SoundService *roustabell_create_sound_service()
{
    return new PulseSoundService;
}

Q_DECL_EXPORT void roustabell_destroy_sound_service(SoundService *service)
{
    delete service;
}
}
