// Instruments, effects and mastering for the music and the jingle.
#include "tools/assetgen/synth.h"

#include <algorithm>

namespace assetgen {

static long frameAt(double t) { return std::lround(t * kRate); }

static float duckAt(const std::vector<float>* duck, long n) {
    if (!duck || n < 0 || static_cast<size_t>(n) >= duck->size()) return 1;
    return (*duck)[n];
}

void kick(Mix& m, double t, float vel) {
    long n0 = frameAt(t);
    double phase = 0;
    for (long i = 0; i < kRate * 0.45; ++i) {
        float s = static_cast<float>(i) / kRate;
        float hz = 46 + 110 * std::exp(-s * 28);
        phase += hz / kRate;
        float env = std::exp(-s * 7.5f) * std::min(1.0f, s * 2000);
        float click = std::exp(-s * 350) * 0.35f;
        m.add(n0 + i, vel * (std::sin(2 * kPi * static_cast<float>(phase)) * env + click), 0, 0.02f, 0);
    }
}

void snare(Mix& m, double t, float vel, Rng& rng) {
    long n0 = frameAt(t);
    Svf f;
    f.tune(5200, 0.7f);
    double ph = 0;
    for (long i = 0; i < kRate * 0.35; ++i) {
        float s = static_cast<float>(i) / kRate;
        float noise = f.step(rng.range(-1, 1)).band;
        ph += (185 - 40 * std::min(1.0f, s * 30)) / kRate;
        float tone = std::sin(2 * kPi * static_cast<float>(ph)) * std::exp(-s * 30);
        float v = vel * (0.75f * noise * std::exp(-s * 15) * 1.8f + 0.5f * tone);
        m.add(n0 + i, v, 0.05f, 0.22f, 0.0f);
    }
}

void hat(Mix& m, double t, float vel, bool open, Rng& rng) {
    long n0 = frameAt(t);
    Svf f;
    f.tune(8500, 0.9f);
    float decay = open ? 9.0f : 55.0f;
    for (long i = 0; i < kRate * (open ? 0.4 : 0.09); ++i) {
        float s = static_cast<float>(i) / kRate;
        float v = f.step(rng.range(-1, 1)).high * std::exp(-s * decay);
        m.add(n0 + i, vel * v * 0.55f, 0.3f, 0.06f, 0.0f);
    }
}

void crash(Mix& m, double t, float vel, Rng& rng) {
    long n0 = frameAt(t);
    Svf f1, f2;
    f1.tune(6200, 0.6f);
    f2.tune(6800, 0.6f);
    for (long i = 0; i < kRate * 2.6; ++i) {
        float s = static_cast<float>(i) / kRate;
        float env = std::exp(-s * 1.9f) * std::min(1.0f, s * 800);
        float a = f1.step(rng.range(-1, 1)).high;
        float b = f2.step(rng.range(-1, 1)).high;
        m.add(n0 + i, vel * a * env * 0.45f, -0.45f, 0.25f, 0);
        m.add(n0 + i, vel * b * env * 0.45f, 0.45f, 0.25f, 0);
    }
}

void tom(Mix& m, double t, float midi, float vel) {
    long n0 = frameAt(t);
    const float hz = midiHz(midi);
    double ph = 0;
    for (long i = 0; i < kRate * 0.5; ++i) {
        float s = static_cast<float>(i) / kRate;
        ph += hz * (1 + 0.6f * std::exp(-s * 20)) / kRate;
        float v = std::sin(2 * kPi * static_cast<float>(ph)) * std::exp(-s * 7);
        m.add(n0 + i, vel * v, (midi - 50) / 20.0f, 0.25f, 0);
    }
}

void bass(Mix& m, double t, double dur, float midi, float vel, const std::vector<float>* duck) {
    long n0 = frameAt(t), len = frameAt(dur) + kRate / 20;
    Saw a, b;
    Svf f;
    double sub = 0;
    float hz = midiHz(midi);
    for (long i = 0; i < len; ++i) {
        float s = static_cast<float>(i) / kRate;
        float gate = s < dur ? 1.0f : std::exp(-(s - static_cast<float>(dur)) * 60);
        float env = std::min(1.0f, s * 400) * gate * (0.75f + 0.25f * std::exp(-s * 6));
        float x = 0.5f * (a.next(hz) + b.next(hz * 1.006f));
        float cut = 180 + 1500 * std::exp(-s * 11);
        float y = f.run(x, cut, 1.4f).low;
        sub += hz / kRate;
        float v = (y * 0.8f + 0.55f * std::sin(2 * kPi * static_cast<float>(sub))) * env;
        m.add(n0 + i, vel * v * duckAt(duck, n0 + i), 0, 0.02f, 0);
    }
}

void pad(Mix& m, double t, double dur, const std::vector<float>& midis, float vel, float bright,
         const std::vector<float>* duck, float release) {
    // The tail is cut 42 dB down, over the last 50 ms.
    long n0 = frameAt(t), len = frameAt(dur + 4.8 / release), fade = kRate / 20;
    const float det[3] = {-0.11f, 0.0f, 0.13f};
    for (size_t k = 0; k < midis.size(); ++k) {
        Saw osc[2][3];
        Svf fl, fr;
        // Each voice starts at a distinct phase so the unison does not cancel.
        for (int c = 0; c < 2; ++c)
            for (int j = 0; j < 3; ++j) osc[c][j].phase = std::fmod(0.17 * (k + 1) + 0.31 * j + 0.43 * c, 1.0);
        float hz[2][3];
        for (int j = 0; j < 3; ++j) {
            hz[0][j] = midiHz(midis[k] + det[j] + 0.03f);
            hz[1][j] = midiHz(midis[k] - det[j] - 0.03f);
        }
        for (long i = 0; i < len; ++i) {
            float s = static_cast<float>(i) / kRate;
            float env = std::min(1.0f, s / 0.35f) *
                        (s < dur ? 1.0f : std::exp(-(s - static_cast<float>(dur)) * release)) *
                        std::min(1.0f, static_cast<float>(len - i) / fade);
            float xl = 0, xr = 0;
            for (int j = 0; j < 3; ++j) {
                xl += osc[0][j].next(hz[0][j]);
                xr += osc[1][j].next(hz[1][j]);
            }
            // The cutoff drifts slowly: retuned every 16 samples.
            if (i % 16 == 0) {
                float cut = (900 + 1600 * bright) * (1 + 0.15f * std::sin(s * 1.3f + k));
                fl.tune(cut, 0.8f);
                fr.tune(cut, 0.8f);
            }
            float l = fl.step(xl).low, r = fr.step(xr).low;
            float g = vel * env * 0.16f * duckAt(duck, n0 + i);
            m.add(n0 + i, l * g, -0.8f, 0.45f, 0.05f);
            m.add(n0 + i, r * g, 0.8f, 0.45f, 0.05f);
        }
    }
}

void lead(Mix& m, double t, double dur, float midi, float fromMidi, float vel, float pan) {
    long n0 = frameAt(t), len = frameAt(dur + 0.25);
    Saw a, b;
    Svf f;
    for (long i = 0; i < len; ++i) {
        float s = static_cast<float>(i) / kRate;
        float glide = fromMidi > 0 ? fromMidi + (midi - fromMidi) * std::min(1.0f, s / 0.09f) : midi;
        float vib = 0.18f * std::min(1.0f, std::max(0.0f, s - 0.25f) * 2) * std::sin(2 * kPi * 5.2f * s);
        float hz = midiHz(glide + vib);
        float x = 0.6f * a.next(hz) + 0.4f * b.next(hz * 2.003f);
        float env = std::min(1.0f, s * 120) * (s < dur ? 0.85f + 0.15f * std::exp(-s * 5) : std::exp(-(s - static_cast<float>(dur)) * 18));
        float y = f.run(x, 2400 + 1400 * std::exp(-s * 4), 1.1f).low;
        m.add(n0 + i, vel * y * env * 0.3f, pan, 0.3f, 0.35f);
    }
}

// Karplus-Strong string: a noise burst circulating in a damped delay line.
void pluck(Mix& m, double t, float midi, float vel, float pan, Rng& rng) {
    long n0 = frameAt(t);
    int period = std::max(2, static_cast<int>(std::lround(kRate / midiHz(midi))));
    std::vector<float> line(period);
    for (float& x : line) x = rng.range(-1, 1);
    float prev = 0;
    for (long i = 0; i < kRate * 0.9; ++i) {
        float& x = line[i % period];
        float out = x;
        x = 0.5f * (x + prev) * 0.996f;
        prev = out;
        m.add(n0 + i, vel * out * 0.35f, pan, 0.25f, 0.45f);
    }
}

void stab(Mix& m, double t, const std::vector<float>& midis, float vel, Rng& rng) {
    long n0 = frameAt(t);
    for (size_t k = 0; k < midis.size(); ++k) {
        Saw a, b;
        a.phase = 0.1 * k;
        b.phase = 0.37 + 0.1 * k;
        Svf f;
        const float hz = midiHz(midis[k]);
        for (long i = 0; i < kRate * 0.7; ++i) {
            float s = static_cast<float>(i) / kRate;
            float x = a.next(hz * 0.997f) + b.next(hz * 1.004f);
            float env = std::min(1.0f, s * 600) * std::exp(-s * 5.5f);
            float y = f.run(x, 600 + 5000 * std::exp(-s * 9), 0.9f).low;
            m.add(n0 + i, vel * y * env * 0.2f, (k % 2 ? 0.35f : -0.35f), 0.5f, 0.1f);
        }
    }
    Svf nf;
    nf.tune(2500, 0.7f);
    for (long i = 0; i < kRate * 0.25; ++i) {
        float s = static_cast<float>(i) / kRate;
        m.add(n0 + i, vel * nf.step(rng.range(-1, 1)).band * std::exp(-s * 22) * 0.8f, 0, 0.4f, 0);
    }
}

void bell(Mix& m, double t, float midi, float vel, float pan) {
    long n0 = frameAt(t);
    float hz = midiHz(midi);
    for (long i = 0; i < kRate * 2.2; ++i) {
        float s = static_cast<float>(i) / kRate;
        float mod = 2.2f * std::exp(-s * 3) * std::sin(2 * kPi * hz * 3.5f * s);
        float v = std::sin(2 * kPi * hz * s + mod) * std::exp(-s * 2.2f) * std::min(1.0f, s * 1000);
        m.add(n0 + i, vel * v * 0.25f, pan, 0.5f, 0.4f);
    }
}

void sweep(Mix& m, double t0, double t1, float vel, bool rising, Rng& rng) {
    long n0 = frameAt(t0), len = frameAt(t1 - t0);
    Svf f;
    for (long i = 0; i < len; ++i) {
        float p = static_cast<float>(i) / len;
        float k = rising ? p : 1 - p;
        float cut = 300 * std::pow(30.0f, k);
        float env = rising ? p * p : (1 - p) * std::min(1.0f, p * 40);
        float v = f.run(rng.range(-1, 1), cut, 2.5f).band * env;
        m.add(n0 + i, vel * v, std::sin(p * 6) * 0.6f, 0.35f, 0);
    }
}

void boom(Mix& m, double t, float vel) {
    long n0 = frameAt(t);
    double ph = 0;
    for (long i = 0; i < kRate * 2.5; ++i) {
        float s = static_cast<float>(i) / kRate;
        ph += (38 + 50 * std::exp(-s * 8)) / kRate;
        float env = std::exp(-s * 1.6f) * std::min(1.0f, s * 500) * std::min(1.0f, (2.5f - s) * 5);
        m.add(n0 + i, vel * std::sin(2 * kPi * static_cast<float>(ph)) * env, 0, 0.1f, 0);
    }
}

// Hand claps: three quick noise bursts, then a short, roomy tail.
void clap(Mix& m, double t, float vel, Rng& rng) {
    long n0 = frameAt(t);
    Svf f;
    f.tune(1300, 1.1f);
    for (long i = 0; i < kRate * 0.3; ++i) {
        float s = static_cast<float>(i) / kRate;
        float env = s < 0.027f ? std::exp(-std::fmod(s, 0.009f) * 350) : 0.8f * std::exp(-(s - 0.027f) * 22);
        float v = f.step(rng.range(-1, 1)).band * env * std::min(1.0f, s * 3000);
        m.add(n0 + i, vel * v * 1.6f, -0.1f, 0.35f, 0.05f);
    }
}

void acid(Mix& m, double t, double dur, float midi, float vel, bool accent, const std::vector<float>* duck) {
    long n0 = frameAt(t), len = frameAt(dur) + kRate / 40;
    Saw osc;
    Svf f;
    const float hz = midiHz(midi), sweep = accent ? 2600.0f : 1300.0f;
    for (long i = 0; i < len; ++i) {
        float s = static_cast<float>(i) / kRate;
        if (i % 8 == 0) f.tune(220 + sweep * std::exp(-s * (accent ? 9.0f : 16.0f)), accent ? 7.0f : 5.0f);
        float gate = s < dur ? 1.0f : std::exp(-(s - static_cast<float>(dur)) * 150);
        float env = std::min(1.0f, s * 500) * gate * (accent ? 1.0f : 0.8f);
        float y = std::tanh(1.8f * f.step(osc.next(hz)).low) * env;
        m.add(n0 + i, vel * y * 0.5f * duckAt(duck, n0 + i), 0.1f, 0.05f, 0.15f);
    }
}

// Freeverb-style reverb (eight damped combs, four allpasses per side) and a
// ping-pong delay with a darkening feedback path; both are added to the dry mix.
void applyEffects(Mix& m, float delaySeconds, float reverbMix) {
    const size_t n = m.frames();
    const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    const int allp[4] = {556, 441, 341, 225};
    for (int side = 0; side < 2; ++side) {
        std::vector<float>& in = side ? m.revR : m.revL;
        std::vector<float>& out = side ? m.r : m.l;
        int spread = side ? 23 : 0;
        std::vector<std::vector<float>> cb(8), ab(4);
        std::vector<size_t> ci(8, 0), ai(4, 0);
        std::vector<float> store(8, 0);
        for (int k = 0; k < 8; ++k) cb[k].assign(combs[k] + spread, 0);
        for (int k = 0; k < 4; ++k) ab[k].assign(allp[k] + spread, 0);
        const float feedback = 0.86f, damp = 0.3f;
        for (size_t i = 0; i < n; ++i) {
            float x = in[i] * 0.015f, acc = 0;
            for (int k = 0; k < 8; ++k) {
                float y = cb[k][ci[k]];
                store[k] = y * (1 - damp) + store[k] * damp;
                cb[k][ci[k]] = x + store[k] * feedback;
                if (++ci[k] == cb[k].size()) ci[k] = 0;
                acc += y;
            }
            for (int k = 0; k < 4; ++k) {
                float b = ab[k][ai[k]];
                ab[k][ai[k]] = acc + b * 0.5f;
                acc = b - acc;
                if (++ai[k] == ab[k].size()) ai[k] = 0;
            }
            out[i] += acc * reverbMix;
        }
    }
    size_t d = static_cast<size_t>(std::lround(delaySeconds * kRate));
    std::vector<float> bl(d, 0), br(d, 0);
    float lpL = 0, lpR = 0;
    for (size_t i = 0; i < n; ++i) {
        size_t k = i % d;
        float ol = bl[k], orr = br[k];
        lpL += 0.35f * (ol - lpL);
        lpR += 0.35f * (orr - lpR);
        // Ping-pong: each side feeds the other.
        bl[k] = m.dlyL[i] + 0.5f * m.dlyR[i] + lpR * 0.42f;
        br[k] = lpL * 0.42f;
        m.l[i] += ol * 0.55f;
        m.r[i] += orr * 0.55f;
    }
}

// ITU-R BS.1770 integrated loudness: K-weighting, 400 ms blocks every 100 ms,
// absolute gate at -70 LUFS and relative gate 10 LU below.
float integratedLoudness(const std::vector<float>& l, const std::vector<float>& r) {
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double run(double x) {
            double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    auto kweight = [] {
        double K = std::tan(M_PI * 1681.974450955533 / kRate), Q = 0.7071752369554196;
        double Vh = std::pow(10.0, 3.999843853973347 / 20), Vb = std::pow(Vh, 0.4996667741545416);
        double a0 = 1 + K / Q + K * K;
        Biquad shelf{(Vh + Vb * K / Q + K * K) / a0, 2 * (K * K - Vh) / a0, (Vh - Vb * K / Q + K * K) / a0,
                     2 * (K * K - 1) / a0, (1 - K / Q + K * K) / a0};
        K = std::tan(M_PI * 38.13547087602444 / kRate);
        Q = 0.5003270373238773;
        a0 = 1 + K / Q + K * K;
        Biquad hp{1, -2, 1, 2 * (K * K - 1) / a0, (1 - K / Q + K * K) / a0};
        return std::make_pair(shelf, hp);
    };
    auto [s1, h1] = kweight();
    auto [s2, h2] = kweight();
    size_t n = l.size(), step = kRate / 10;
    std::vector<double> power(n / step + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        double a = h1.run(s1.run(l[i])), b = h2.run(s2.run(r[i]));
        power[i / step] += a * a + b * b;
    }
    std::vector<double> blocks;
    for (size_t k = 0; k + 4 <= n / step; ++k)
        blocks.push_back((power[k] + power[k + 1] + power[k + 2] + power[k + 3]) / (4.0 * step));
    auto lufs = [](double z) { return -0.691 + 10 * std::log10(std::max(z, 1e-20)); };
    double sum = 0;
    int count = 0;
    for (double z : blocks)
        if (lufs(z) > -70) { sum += z; ++count; }
    if (!count) return -70;
    double gate = lufs(sum / count) - 10;
    sum = 0;
    count = 0;
    for (double z : blocks)
        if (lufs(z) > gate) { sum += z; ++count; }
    return static_cast<float>(lufs(sum / count));
}

static void limit(std::vector<float>& l, std::vector<float>& r, float ceiling) {
    const long n = static_cast<long>(l.size()), look = 96, release = kRate / 8;
    std::vector<float> need(n), held(n);
    for (long i = 0; i < n; ++i) {
        float p = std::max(std::abs(l[i]), std::abs(r[i]));
        need[i] = p > ceiling ? ceiling / p : 1.0f;
    }
    // Sliding minimum over +-look, then a moving average over look samples:
    // the gain is never above what any sample in reach needs.
    std::vector<long> dq;
    size_t head = 0;
    for (long i = 0, j = 0; i < n; ++i) {
        for (; j < n && j <= i + look; ++j) {
            while (dq.size() > head && need[dq.back()] >= need[j]) dq.pop_back();
            dq.push_back(j);
        }
        while (dq[head] < i - look) ++head;
        held[i] = need[dq[head]];
    }
    double acc = look;  // the window starts full of unity gain
    float env = 1;
    const float rel = 1.0f / release;
    std::vector<float> g(n);
    for (long i = 0; i < n + look / 2; ++i) {
        acc += i < n ? held[i] : 1.0f;
        acc -= i - look >= 0 ? held[i - look] : 1.0f;
        long c = i - look / 2;
        if (c < 0) continue;
        float avg = static_cast<float>(acc / look);
        env = std::min(avg, env + (1 - env) * rel * 4);
        g[c] = std::min(env, need[c]);
    }
    for (long i = 0; i < n; ++i) { l[i] *= g[i]; r[i] *= g[i]; }
}

void master(std::vector<float>& l, std::vector<float>& r, float targetLufs, float ceiling) {
    // Gentle DC blocking first.
    float xl = 0, yl = 0, xr = 0, yr = 0;
    for (size_t i = 0; i < l.size(); ++i) {
        float a = l[i], b = r[i];
        yl = a - xl + 0.9995f * yl; xl = a; l[i] = yl;
        yr = b - xr + 0.9995f * yr; xr = b; r[i] = yr;
    }
    std::vector<float> srcL = l, srcR = r;
    float gainDb = targetLufs - integratedLoudness(l, r);
    for (int pass = 0; pass < 4; ++pass) {
        float g = std::pow(10.0f, gainDb / 20);
        for (size_t i = 0; i < l.size(); ++i) { l[i] = srcL[i] * g; r[i] = srcR[i] * g; }
        limit(l, r, ceiling);
        float err = targetLufs - integratedLoudness(l, r);
        if (std::abs(err) < 0.05f) break;
        gainDb += err;
    }
}

}  // namespace assetgen
