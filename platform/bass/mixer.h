// Inside the audio library: the mixer, exposed for measurement.
#pragma once
#include <cstdint>

// Mixes every playing stream into `count` stereo frames; to be called with
// sysAudioLock held (the output's pull does so).
void bassMix(int16_t* out, int count);
