// The headless audio output: no device. The mixer is pulled as the virtual
// clock moves on, 44,100 frames per virtual second, so the position heard is
// exact; the mixed samples go to the audio sink (the capture), silence while
// no output is open.
//
// Closing fades out: the mixer is pulled for 5 ms more at once and that tail,
// faded to silence, is added to what the sink gets next, so the sound never
// steps to silence and the clock is not held up. At the end of the process
// the rest of the tail goes to the sink before the exit hooks run.
#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/backend.h"
#include "platform/bass/fadeout.h"
#include "platform/hooks/hooks.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

constexpr int64_t kRate = 44100;

std::recursive_mutex g_audioLock;
SysAudioMix g_mix = nullptr;
void* g_user = nullptr;
int64_t g_openFrame = 0;    // output frame at which the device opened
int64_t g_mixedFrame = 0;   // output frames consumed so far, from time 0
std::function<void(const int16_t*, int)> g_sink;
std::vector<int16_t> g_buffer;
std::vector<int16_t> g_tail;  // a closed output's fade-out, heard from g_tailFrame on
int64_t g_tailFrame = 0;

int64_t frameAt(int64_t ticks) { return ticks * kRate / kVtTicksPerSecond; }

// Hands the sink the output frames up to `target`.
void mixTo(int64_t target) {
    while (g_mixedFrame < target) {
        int n = (int)std::min<int64_t>(target - g_mixedFrame, 4096);
        g_buffer.assign((size_t)n * 2, 0);
        if (g_mix) g_mix(g_buffer.data(), n, g_user);
        int64_t tailEnd = g_tailFrame + (int64_t)g_tail.size() / 2;
        for (int64_t f = std::max(g_mixedFrame, g_tailFrame); f < std::min(g_mixedFrame + n, tailEnd); f++)
            for (int c = 0; c < 2; c++) {
                int16_t& out = g_buffer[(size_t)(f - g_mixedFrame) * 2 + c];
                out = (int16_t)std::clamp(out + g_tail[(size_t)(f - g_tailFrame) * 2 + c], -32768, 32767);
            }
        if (g_mixedFrame + n >= tailEnd) g_tail.clear();
        if (g_sink) g_sink(g_buffer.data(), n);
        g_mixedFrame += n;
    }
}

}  // namespace

// A new sink hears what plays from now on, not the end of an earlier output.
void vtSetAudioSink(std::function<void(const int16_t*, int)> sink) {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    g_sink = std::move(sink);
    g_tail.clear();
}

void vtAudioAdvance(int64_t ticks) {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    mixTo(frameAt(ticks));
}

void vtAudioEnd() {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    sysAudioClose();
    mixTo(g_tailFrame + (int64_t)g_tail.size() / 2);
}

bool sysAudioOpen(int rate, SysAudioMix mix, void* user) {
    if (hookShouldFail("AudioDevice") || rate != kRate) return false;
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    vtAudioAdvance(vtNow());
    g_mix = mix;
    g_user = user;
    g_openFrame = g_mixedFrame;
    return true;
}

void sysAudioClose() {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    vtAudioAdvance(vtNow());
    if (g_mix) {
        std::vector<int16_t> fade((size_t)kFadeOutFrames * 2, 0);
        g_mix(fade.data(), kFadeOutFrames, g_user);
        for (int i = 0; i < kFadeOutFrames; i++) {
            // What is left of an earlier fade-out still plays under this one.
            int64_t earlier = (g_mixedFrame + i - g_tailFrame) * 2;
            for (int c = 0; c < 2; c++) {
                int v = (int)std::lrint(fade[(size_t)i * 2 + c] * fadeOutGain(i));
                if (earlier >= 0 && earlier + c < (int64_t)g_tail.size()) v += g_tail[(size_t)(earlier + c)];
                fade[(size_t)i * 2 + c] = (int16_t)std::clamp(v, -32768, 32767);
            }
        }
        g_tail = std::move(fade);
        g_tailFrame = g_mixedFrame;
    }
    g_mix = nullptr;
    g_user = nullptr;
}

int64_t sysAudioFramesHeard() {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    vtAudioAdvance(vtNow());
    return g_mixedFrame - g_openFrame;
}

void sysAudioLock() { g_audioLock.lock(); }
void sysAudioUnlock() { g_audioLock.unlock(); }
