// The headless audio output: no device. The mixer is pulled as the virtual
// clock moves on, 44,100 frames per virtual second, so the position heard is
// exact; the mixed samples go to the audio sink (the capture), silence while
// no output is open.
#include <functional>
#include <mutex>
#include <vector>

#include "platform/sys.h"
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

int64_t frameAt(int64_t ticks) { return ticks * kRate / kVtTicksPerSecond; }

}  // namespace

void vtSetAudioSink(std::function<void(const int16_t*, int)> sink) { g_sink = std::move(sink); }

void vtAudioAdvance(int64_t ticks) {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    int64_t target = frameAt(ticks);
    while (g_mixedFrame < target) {
        int n = (int)std::min<int64_t>(target - g_mixedFrame, 4096);
        g_buffer.assign((size_t)n * 2, 0);
        if (g_mix) g_mix(g_buffer.data(), n, g_user);
        if (g_sink) g_sink(g_buffer.data(), n);
        g_mixedFrame += n;
    }
}

bool sysAudioOpen(int rate, SysAudioMix mix, void* user) {
    if (sysShouldFail("AudioDevice") || rate != kRate) return false;
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
