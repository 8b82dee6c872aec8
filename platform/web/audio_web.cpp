// The web audio output: the page's AudioWorklet plays 44,100 Hz stereo from a
// ring in the program's memory (shared with it), which a mixer thread keeps
// filled a little ahead, as SDL's callback is pulled natively. When the
// browser will not play sound (no audio device, the page never allowed it),
// the program says so in one line, once, and the mixer is pulled on the
// clock instead, so the show keeps its time without sound.
//
// Frames heard: what the worklet took, less what the browser still holds
// after it, running on with the clock between the worklet's turns; slewed
// towards each new figure, never beyond what was taken, never backwards.
//
// Closing fades out over 5 ms, as natively, and waits until that is heard.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/backend.h"
#include "platform/bass/fadeout.h"
#include "platform/web/web.h"

namespace {

constexpr int kRate = 44100;
constexpr int kRingFrames = 8192;  // a power of two
constexpr int kAheadFrames = 2048;  // mixed ahead of the worklet: 46 ms
constexpr int kChunk = 128;         // the worklet's turn
constexpr int64_t kStartWait = 10000000 / 2;  // the worklet must play within half a second
constexpr int64_t kFadeWait = 2500000;        // longest wait for the fade-out to be heard

int16_t g_ring[kRingFrames * 2];
WebAudioState g_state;

std::mutex g_openClose;
std::recursive_mutex g_lock;  // held while the mixer runs
SysAudioMix g_mix = nullptr;
void* g_user = nullptr;
bool g_open = false;
bool g_worklet = false;  // false: the clock pulls the mixer (no sound)
std::thread g_thread;
std::atomic<bool> g_run{false};

// Guarded by g_lock.
int64_t g_openTicks = 0;
int64_t g_pulled = 0;        // frames pulled from the mixer since it opened
int32_t g_readBase = 0;      // g_state.read when it opened
int64_t g_anchorFrame = 0, g_anchorTicks = 0;
int32_t g_lastRead = 0;
bool g_anchored = false;
int64_t g_lastHeard = 0;
FadeOut g_fade;

int32_t load(const int32_t& word) { return __atomic_load_n(&word, __ATOMIC_SEQ_CST); }
void store(int32_t& word, int32_t value) { __atomic_store_n(&word, value, __ATOMIC_SEQ_CST); }

void pull(int16_t* out, int frames) {
    if (g_mix && !g_fade.silent())
        g_mix(out, frames, g_user);
    else
        memset(out, 0, (size_t)frames * 4);
    g_fade.apply(out, frames, g_pulled);
    g_pulled += frames;
}

// Frames the worklet took since the output opened (it plays what an earlier
// opening left in the ring first: silence after its fade-out).
int64_t taken() { return std::max<int32_t>(0, (int32_t)((uint32_t)load(g_state.read) - (uint32_t)g_readBase)); }

void mixerThread() {
    int16_t chunk[kChunk * 2];
    while (g_run.load()) {
        {
            std::lock_guard<std::recursive_mutex> guard(g_lock);
            if (g_worklet) {
                while (g_pulled - taken() < kAheadFrames) {
                    pull(chunk, kChunk);
                    int32_t at = load(g_state.written);
                    for (int i = 0; i < kChunk; i++) {
                        const int slot = (int)((uint32_t)(at + i) & (kRingFrames - 1));
                        g_ring[slot * 2] = chunk[i * 2];
                        g_ring[slot * 2 + 1] = chunk[i * 2 + 1];
                    }
                    store(g_state.written, at + kChunk);
                }
                if (!load(g_state.running) && sysTicks() - g_openTicks > kStartWait) {
                    static bool told = false;
                    if (!told)
                        fprintf(stderr, "audio: no sound device (the browser does not play the page's sound); "
                                        "the show plays without sound\n");
                    told = true;
                    g_worklet = false;
                    g_openTicks = sysTicks() - g_pulled * 10000000 / kRate;  // the clock goes on from here
                }
            } else {
                const int64_t due = (sysTicks() - g_openTicks) * kRate / 10000000;
                while (g_pulled < due + kChunk) pull(chunk, kChunk);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void closeOutput() {
    if (!g_open) return;
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        g_fade.start();
    }
    const int64_t giveUp = sysTicks() + kFadeWait;
    while (sysTicks() < giveUp) {
        {
            std::lock_guard<std::recursive_mutex> guard(g_lock);
            if (g_fade.end() >= 0 && sysAudioFramesHeard() >= g_fade.end()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    g_run = false;
    if (g_thread.joinable()) g_thread.join();
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_mix = nullptr;
    g_user = nullptr;
    g_open = false;
    g_fade.stop();
}

}  // namespace

bool sysAudioOpen(int rate, SysAudioMix mix, void* user) {
    if (rate != kRate) return false;
    std::lock_guard<std::mutex> once(g_openClose);
    closeOutput();
    const bool sound = webAudioStart(g_ring, kRingFrames, &g_state) != 0;
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        g_mix = mix, g_user = user;
        g_pulled = 0;
        g_readBase = load(g_state.written);
        g_lastRead = load(g_state.read);
        g_anchored = false;
        g_lastHeard = 0;
        g_openTicks = sysTicks();
        g_worklet = sound;
        g_open = true;
    }
    if (!sound) {
        static bool told = false;
        if (!told) fprintf(stderr, "audio: no sound device (the browser has no audio output); the show plays without sound\n");
        told = true;
    }
    g_run = true;
    g_thread = std::thread(mixerThread);
    return true;
}

void sysAudioClose() {
    std::lock_guard<std::mutex> once(g_openClose);
    closeOutput();
}

int64_t sysAudioFramesHeard() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_open) return g_lastHeard;
    const int64_t now = sysTicks();
    int64_t heard, limit;
    if (!g_worklet) {
        heard = limit = (now - g_openTicks) * kRate / 10000000;
    } else {
        const int64_t got = taken();
        limit = std::max<int64_t>(0, got - load(g_state.latencyFrames));
        const int32_t read = load(g_state.read);
        if (read != g_lastRead) {  // the worklet had a turn since we last looked
            g_lastRead = read;
            const int64_t predicted = g_anchorFrame + (now - g_anchorTicks) * kRate / 10000000;
            const int64_t error = limit - predicted;
            // Turns come in bursts of a few at a time: follow them gently,
            // but jump when the output has clearly stalled or raced ahead.
            g_anchorFrame = !g_anchored || std::llabs(error) > 4 * kChunk * 8 ? limit : predicted + error / 8;
            g_anchorTicks = now;
            g_anchored = true;
        }
        heard = g_anchored ? g_anchorFrame + (now - g_anchorTicks) * kRate / 10000000 : 0;
    }
    heard = std::clamp<int64_t>(heard, g_lastHeard, std::max(g_lastHeard, limit));
    g_lastHeard = heard;
    return heard;
}

void sysAudioLock() { g_lock.lock(); }
void sysAudioUnlock() { g_lock.unlock(); }
