#pragma once

#include <QString>

// Writes a plain 16-bit mono PCM WAV of a sine tone, faded at both ends so
// that it loops without a click.
bool writeToneWav(const QString &path, double frequencyHz, double seconds, int rate = 22050,
                  double amplitude = 0.5);
