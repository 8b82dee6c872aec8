// Inside the audio library: sample-rate conversion of interleaved stereo to
// 16-bit, by band-limited (Kaiser-windowed sinc) interpolation.
#pragma once
#include <cstdint>
#include <vector>

// Frames that `frames` frames at `from` Hz last at `to` Hz, to the nearest.
int64_t bassResampledFrames(int64_t frames, int from, int to);

// Converts `frames` interleaved stereo frames at `from` Hz to `to` Hz,
// rounded to 16-bit and clipped: bassResampledFrames(frames, from, to) frames
// in `out`, output frame 0 at input frame 0. Float input is full scale at
// ±1. At the same rate the frames are only rounded, not filtered.
void bassResample(const float* stereo, int64_t frames, int from, int to, std::vector<int16_t>& out);
void bassResample(const int16_t* stereo, int64_t frames, int from, int to, std::vector<int16_t>& out);
