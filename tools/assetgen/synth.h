// Offline synthesis: voices render straight into a stereo mix with reverb and
// delay sends; the master is loudness-normalised and peak-limited.
#pragma once

#include <vector>

#include "tools/assetgen/assetgen.h"

namespace assetgen {

constexpr int kRate = 44100;

struct Mix {
    explicit Mix(size_t frames)
        : l(frames), r(frames), revL(frames), revR(frames), dlyL(frames), dlyR(frames) {}
    size_t frames() const { return l.size(); }
    std::vector<float> l, r, revL, revR, dlyL, dlyR;
    // Adds one stereo sample at frame n with pan -1..1 and send amounts.
    void add(long n, float v, float pan, float rev, float dly) {
        if (n < 0 || static_cast<size_t>(n) >= l.size()) return;
        float gl = std::cos((pan + 1) * kPi / 4), gr = std::sin((pan + 1) * kPi / 4);
        l[n] += v * gl; r[n] += v * gr;
        revL[n] += v * gl * rev; revR[n] += v * gr * rev;
        dlyL[n] += v * gl * dly; dlyR[n] += v * gr * dly;
    }
};

// Zero-delay-feedback state-variable filter (low, band, high outputs).
// run() retunes at every sample; tune() then step() keep a slowly moving
// cutoff's coefficients for several samples, which saves the tangent.
struct Svf {
    float ic1 = 0, ic2 = 0;
    float k = 1, a1 = 0, a2 = 0, a3 = 0;
    struct Out { float low, band, high; };
    void tune(float cutoff, float q) {
        cutoff = std::min(cutoff, kRate * 0.45f);
        float g = std::tan(kPi * cutoff / kRate);
        k = 1 / q;
        a1 = 1 / (1 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    Out step(float x) {
        float v3 = x - ic2, v1 = a1 * ic1 + a2 * v3, v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        return {v2, v1, x - k * v1 - v2};
    }
    Out run(float x, float cutoff, float q) {
        tune(cutoff, q);
        return step(x);
    }
};

inline float midiHz(float m) { return 440.0f * std::pow(2.0f, (m - 69) / 12); }

// Band-limited sawtooth (polyBLEP) with its own phase.
struct Saw {
    double phase = 0;
    float next(float hz) {
        float dt = hz / kRate;
        float t = static_cast<float>(phase);
        float v = 2 * t - 1;
        if (t < dt) { float x = t / dt; v -= x + x - x * x - 1; }
        else if (t > 1 - dt) { float x = (t - 1) / dt; v -= x * x + x + x + 1; }
        phase += dt;
        if (phase >= 1) phase -= 1;
        return v;
    }
};

// Instruments. Times in seconds, gains linear.
void kick(Mix& m, double t, float vel);
void snare(Mix& m, double t, float vel, Rng& rng);
void hat(Mix& m, double t, float vel, bool open, Rng& rng);
void crash(Mix& m, double t, float vel, Rng& rng);
void tom(Mix& m, double t, float midi, float vel);
void bass(Mix& m, double t, double dur, float midi, float vel, const std::vector<float>* duck);
// Held for `dur`, then dies away at `release` (exp(-release * seconds)).
void pad(Mix& m, double t, double dur, const std::vector<float>& midis, float vel, float bright,
         const std::vector<float>* duck, float release = 4);
void lead(Mix& m, double t, double dur, float midi, float fromMidi, float vel, float pan);
void pluck(Mix& m, double t, float midi, float vel, float pan, Rng& rng);
void stab(Mix& m, double t, const std::vector<float>& midis, float vel, Rng& rng);
void bell(Mix& m, double t, float midi, float vel, float pan);
void sweep(Mix& m, double t0, double t1, float vel, bool rising, Rng& rng);
void boom(Mix& m, double t, float vel);
void clap(Mix& m, double t, float vel, Rng& rng);
// A resonant, squelchy saw bass note; accented notes open the filter wider.
void acid(Mix& m, double t, double dur, float midi, float vel, bool accent, const std::vector<float>* duck);

// Effects and mastering.
void applyEffects(Mix& m, float delaySeconds, float reverbMix);
float integratedLoudness(const std::vector<float>& l, const std::vector<float>& r);
// Scales to the target loudness and limits sample peaks to the ceiling.
void master(std::vector<float>& l, std::vector<float>& r, float targetLufs, float ceiling);

}  // namespace assetgen
