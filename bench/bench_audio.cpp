// Cost of the mixer per second of output: one looping stream at the normal
// rate, at a fractional rate (the finale), and with the master gain moving;
// then a looping MP3 decoded while it plays (decoding, resampling, mixing and
// the seek back to the start at every loop).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/bass/bass.h"
#include "tests/audio_files.h"
#include "platform/bass/mixer.h"
#include "platform/backend.h"

namespace {

// A ten-second stereo WAV in /tmp.
std::string makeSound() {
    static std::string path;
    if (!path.empty()) return path;
    char name[] = "/tmp/velkor-bench-XXXXXX.wav";
    int fd = mkstemps(name, 4);
    if (fd < 0) return "";
    close(fd);
    path = name;
    const int frames = 441000;
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++) s[i * 2] = s[i * 2 + 1] = (int16_t)(10000 * std::sin(i * 0.0628));
    auto put = [](FILE* f, uint32_t v, int n) { fwrite(&v, 1, n, f); };
    FILE* f = fopen(name, "wb");
    fwrite("RIFF", 1, 4, f);
    put(f, 36 + frames * 4, 4);
    fwrite("WAVEfmt ", 1, 8, f);
    put(f, 16, 4), put(f, 1, 2), put(f, 2, 2), put(f, 44100, 4), put(f, 176400, 4), put(f, 4, 2), put(f, 16, 2);
    fwrite("data", 1, 4, f);
    put(f, frames * 4, 4);
    fwrite(s.data(), 2, s.size(), f);
    fclose(f);
    return path;
}

// A ten-second stereo MP3 at 44,100 Hz, 192 kbit/s, in /tmp: a chord under
// noise, so that the encoder has work in every band.
std::string makeMp3() {
    static std::string path;
    if (!path.empty()) return path;
    char name[] = "/tmp/velkor-bench-XXXXXX.mp3";
    int fd = mkstemps(name, 4);
    if (fd < 0) return "";
    close(fd);
    const int frames = 441000;
    std::vector<int16_t> s((size_t)frames * 2);
    uint32_t noise = 1;
    for (int i = 0; i < frames; i++) {
        noise = noise * 1664525u + 1013904223u;
        double v = 6000 * std::sin(i * 0.0628) + 4000 * std::sin(i * 0.0941) + (double)(noise >> 20) - 2048;
        s[i * 2] = (int16_t)v;
        s[i * 2 + 1] = (int16_t)(v * 0.7);
    }
    if (audiotest::writeMp3(name, 44100, 2, s)) path = name;
    return path;
}

// Mixes one second of output in blocks of 1024 frames (a live device's pull).
void mixOneSecond(benchmark::State& state, int rate, bool fading, bool mp3 = false) {
    BASS_Free();
    BASS_Init(-1, 44100, 16, nullptr);
    HSTREAM h = BASS_StreamCreateFile(0, (mp3 ? makeMp3() : makeSound()).c_str(), 0, 0, 0);
    if (!h) {
        state.SkipWithError("no sound to play");
        return;
    }
    BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP);
    BASS_ChannelSetAttributes(h, rate, -1, -101);
    std::vector<int16_t> out(1024 * 2);
    int volume = 100;
    for (auto _ : state) {
        for (int block = 0; block < 44100 / 1024 + 1; block++) {
            if (fading) BASS_SetVolume(volume = volume == 0 ? 100 : volume - 1);
            sysAudioLock();
            bassMix(out.data(), 1024);
            sysAudioUnlock();
            benchmark::DoNotOptimize(out.data());
        }
    }
    // Seconds of sound mixed per second of processor time; its inverse is the
    // share of one core that playback costs.
    state.counters["sound_s_per_cpu_s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    BASS_Free();
}

void BM_MixSecondAtNormalRate(benchmark::State& state) { mixOneSecond(state, 44100, false); }
void BM_MixSecondAtFractionalRate(benchmark::State& state) { mixOneSecond(state, 31700, false); }
void BM_MixSecondWhileFading(benchmark::State& state) { mixOneSecond(state, 44100, true); }
void BM_DecodeAndMixMp3SecondAtNormalRate(benchmark::State& state) { mixOneSecond(state, 44100, false, true); }
void BM_DecodeAndMixMp3SecondAtFractionalRate(benchmark::State& state) { mixOneSecond(state, 31700, false, true); }
void BM_DecodeAndMixMp3SecondAtDoubleRate(benchmark::State& state) { mixOneSecond(state, 88200, false, true); }

}  // namespace

BENCHMARK(BM_MixSecondAtNormalRate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MixSecondAtFractionalRate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MixSecondWhileFading)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAndMixMp3SecondAtNormalRate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAndMixMp3SecondAtFractionalRate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAndMixMp3SecondAtDoubleRate)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
