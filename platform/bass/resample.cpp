// Sample-rate conversion: each output frame is the input convolved with a
// low-pass sinc under a Kaiser window, centred on the output frame's time.
// The cutoff lies below the Nyquist frequency of the lower of the two rates,
// so upsampling leaves no images and downsampling folds nothing back.
//
// The kernel is tabulated once (kSteps points per zero crossing, linearly
// interpolated between them) and, when the two rates have a short common
// period, evaluated once per phase of that period. Everything is plain
// double arithmetic, the table included (no libm sin), so the output is the
// same on every processor.
#include "platform/bass/resample.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int kZeros = 32;        // zero crossings of the sinc on each side
constexpr int kSteps = 256;       // table points per zero crossing
constexpr double kBeta = 8.0;     // Kaiser window: side lobes about 80 dB down
constexpr double kCutoff = 0.92;  // half-amplitude point, as a fraction of the lower Nyquist frequency
constexpr int64_t kMaxBank = 1 << 19;  // phase weights kept at most (4 MB)
constexpr double kPi = 3.14159265358979323846;

// sin(pi x) for 0 <= x <= 1/2, by its Taylor series.
double sinPi(double x) {
    double y = kPi * x, y2 = y * y, term = y, sum = y;
    for (int k = 1; k <= 12; k++) {
        term *= -y2 / ((2.0 * k) * (2.0 * k + 1));
        sum += term;
    }
    return sum;
}

// The modified Bessel function of order 0, by its power series.
double besselI0(double x) {
    double q = x * x / 4, term = 1, sum = 1;
    for (int k = 1; k < 500 && term > sum * 1e-17; k++) {
        term *= q / ((double)k * k);
        sum += term;
    }
    return sum;
}

// sinc(x) * kaiser(x / kZeros) at x = j / kSteps, j = 0 .. kZeros * kSteps.
const std::vector<double>& kernelTable() {
    static const std::vector<double> table = [] {
        std::vector<double> t((size_t)kZeros * kSteps + 1);
        double i0Beta = besselI0(kBeta);
        for (int j = 0; j <= kZeros * kSteps; j++) {
            int r = j % kSteps;  // sin(pi (m + r/S)) = (-1)^m sin(pi r/S)
            double s = sinPi((double)std::min(r, kSteps - r) / kSteps) * ((j / kSteps) % 2 ? -1 : 1);
            double x = (double)j / kSteps, v = x / kZeros;
            double sinc = j == 0 ? 1 : s / (kPi * x);
            t[(size_t)j] = sinc * besselI0(kBeta * std::sqrt(1 - v * v)) / i0Beta;
        }
        return t;
    }();
    return table;
}

// The kernel `u` zero crossings from its centre (u >= 0).
double kernelAt(const std::vector<double>& table, double u) {
    double at = u * kSteps;
    if (!(at < kZeros * kSteps)) return 0;
    int k = (int)at;
    return table[k] + (at - k) * (table[k + 1] - table[k]);
}

int16_t toInt16(double v) {
    if (v != v) return 0;
    return (int16_t)std::lrint(std::clamp(v, -32768.0, 32767.0));
}

// `scale` takes the input to 16-bit full scale.
template <typename T>
void resample(const T* in, int64_t frames, int from, int to, double scale, std::vector<int16_t>& out) {
    const int64_t n = bassResampledFrames(frames, from, to);
    out.assign((size_t)n * 2, 0);
    if (from == to) {
        for (int64_t i = 0; i < n * 2; i++) out[i] = toInt16(in[i] * scale);
        return;
    }
    const std::vector<double>& table = kernelTable();
    // The cutoff in cycles per input frame, over 1/2; the kernel spans
    // kZeros / rho input frames each side of an output frame's time.
    const double rho = kCutoff * std::min(1.0, (double)to / from);
    const int64_t half = (int64_t)(kZeros / rho) + 1, taps = 2 * half;
    // Output frame j lies at input time j * from / to: input frame i and a
    // fraction that is one of `phases` steps.
    const int64_t common = std::gcd(from, to), phases = to / common;
    auto weights = [&](int64_t phase, double* w) {
        double f = (double)phase / (double)phases;
        for (int64_t k = 0; k < taps; k++)
            w[k] = rho * scale * kernelAt(table, std::fabs((double)(half - 1 - k) + f) * rho);
    };
    std::vector<double> bank, scratch;
    if (phases * taps <= kMaxBank) {
        bank.resize((size_t)(phases * taps));
        for (int64_t p = 0; p < phases; p++) weights(p, &bank[(size_t)(p * taps)]);
    } else {
        scratch.resize((size_t)taps);
    }
    for (int64_t j = 0; j < n; j++) {
        int64_t at = j * from, i = at / to, phase = at % to / common;
        const double* w = scratch.data();
        if (bank.empty())
            weights(phase, scratch.data());
        else
            w = &bank[(size_t)(phase * taps)];
        // Taps on input frames first .. first + taps - 1; none outside the input.
        int64_t first = i - half + 1;
        int64_t k0 = std::max<int64_t>(0, -first), k1 = std::min<int64_t>(taps, frames - first);
        double l = 0, r = 0;
        for (int64_t k = k0; k < k1; k++) {
            const T* s = in + (first + k) * 2;
            l += w[k] * s[0];
            r += w[k] * s[1];
        }
        out[(size_t)j * 2] = toInt16(l);
        out[(size_t)j * 2 + 1] = toInt16(r);
    }
}

}  // namespace

int64_t bassResampledFrames(int64_t frames, int from, int to) {
    if (frames <= 0 || from <= 0 || to <= 0) return 0;
    return (frames * to + from / 2) / from;
}

void bassResample(const float* stereo, int64_t frames, int from, int to, std::vector<int16_t>& out) {
    resample(stereo, frames, from, to, 32768.0, out);
}

void bassResample(const int16_t* stereo, int64_t frames, int from, int to, std::vector<int16_t>& out) {
    resample(stereo, frames, from, to, 1.0, out);
}
