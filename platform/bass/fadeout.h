// The 5 ms fade-out with which a sound output closes, so that the sound never
// steps to silence (a click): the mixer plays on under a falling gain, then
// silence. Used by the backends' outputs.
#pragma once
#include <cmath>
#include <cstdint>

constexpr int kFadeOutFrames = 220;  // 5 ms at 44,100 Hz

// Gain of fade-out frame i (0 .. kFadeOutFrames - 1): a half cosine from 1 to
// 0, which never moves a full-scale sample by more than 1% of full scale a frame.
inline float fadeOutGain(int i) { return 0.5f + 0.5f * std::cos((float)M_PI * (float)(i + 1) / kFadeOutFrames); }

// The fade-out of one output, counted in the frames the output hands on.
class FadeOut {
public:
    void start() { done_ = 0, end_ = -1; }
    void stop() { done_ = -1, end_ = -1; }
    // Past the fade: the mixer need not be pulled any more.
    bool silent() const { return done_ >= kFadeOutFrames; }
    // `frames` stereo frames just mixed into `out`, which the output hands
    // on from frame `at` on, get their gains.
    void apply(int16_t* out, int frames, int64_t at) {
        if (done_ < 0) return;
        for (int i = 0; i < frames; i++) {
            const float gain = done_ < kFadeOutFrames ? fadeOutGain(done_++) : 0.0f;
            out[i * 2] = (int16_t)std::lrint(out[i * 2] * gain);
            out[i * 2 + 1] = (int16_t)std::lrint(out[i * 2 + 1] * gain);
        }
        if (end_ < 0 && done_ == kFadeOutFrames) end_ = at + frames;
    }
    // The output's frame at which the fade-out is complete; -1 until then.
    int64_t end() const { return end_; }

private:
    int done_ = -1;  // -1: playing; else fade-out frames played so far
    int64_t end_ = -1;
};
