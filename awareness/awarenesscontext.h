#pragma once

#include "awareness/questionset.h"
#include "platform/services.h"

#include <QString>

// What the awareness windows reach of the alarm's owner: its question set,
// edited in place, and the name of the alarm's sound, read when a wrong answer
// starts the alarm again. Both stay the owner's; the windows see them live.
struct AwarenessContext
{
    Services &services;
    QuestionSet &Questions;
    const QString &sWakeyFileName;
};
