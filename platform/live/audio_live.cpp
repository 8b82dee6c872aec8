// The live audio output: an SDL2 device at 44,100 Hz, 16-bit stereo, with a
// small buffer. When no device can be opened (no sound card, no sound
// server), SDL's "dummy" driver is tried, and failing that our own silent
// output: a thread that pulls the mixer at 44,100 frames per second on the
// real clock, so that the show still runs in time without sound.
//
// Without a device the program says so in one line, once, with SDL's
// reason, and alsa-lib's own error messages (its search for a card) are kept
// off the terminal through its error handler.
//
// Frames heard: at each callback the device still holds `g_latencyFrames`
// of what it was given before (one buffer for a real device, none for the
// dummy and disk drivers, which consume at the callback). Between callbacks
// the count runs on with the performance counter; it is slewed towards each
// new callback's figure, kept at or below what was consumed, and never goes
// backwards.
//
// Closing fades out: the callback plays the mixer on for 5 ms under a falling
// gain, then silence, and the device is closed once that has been heard, so
// the sound never steps to silence (a click). The end of the process closes
// the output the same way (ExitProcess).
#include <SDL.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/backend.h"
#include "platform/bass/fadeout.h"

namespace {

constexpr int kRate = 44100;
constexpr int kBufferFrames = 1024;
constexpr int kSilentChunk = 256;
// Longest wait for the fade-out to be heard: a stalled device is closed anyway.
constexpr auto kFadeWait = std::chrono::milliseconds(250);

std::mutex g_openClose;       // one open or close at a time, from any thread
std::recursive_mutex g_lock;  // held while the mixer runs
SysAudioMix g_mix = nullptr;
void* g_user = nullptr;
bool g_open = false;

enum class Output { None, Device, Dummy, Silent };
Output g_output = Output::None;
SDL_AudioDeviceID g_device = 0;
std::thread g_silentThread;
std::atomic<bool> g_silentRun{false};

// Guarded by g_lock.
int64_t g_consumed = 0;       // frames handed to the output since it opened
int64_t g_latencyFrames = 0;  // frames the device holds beyond the callback
int64_t g_anchorFrame = 0;    // estimated frame heard at g_anchorCounter
uint64_t g_anchorCounter = 0;
bool g_anchored = false;
int64_t g_lastHeard = 0;
uint64_t g_openCounter = 0;
FadeOut g_fade;

double counterFrequency() {
    static const double f = (double)SDL_GetPerformanceFrequency();
    return f;
}

int64_t predictedAt(uint64_t counter) {
    double elapsed = (double)(int64_t)(counter - g_anchorCounter) / counterFrequency();
    return g_anchorFrame + (int64_t)(elapsed * kRate);
}

// Called with g_lock held, before the output takes `frames` more frames.
void noteCallback(uint64_t now) {
    int64_t measured = g_consumed - g_latencyFrames;
    if (!g_anchored) {
        g_anchorFrame = measured;
        g_anchored = true;
    } else {
        int64_t predicted = predictedAt(now);
        int64_t error = measured - predicted;
        // Callback times jitter by a few milliseconds: follow them gently,
        // but jump when the device has clearly stalled or raced ahead.
        g_anchorFrame = std::llabs(error) > 2 * kBufferFrames ? measured : predicted + error / 8;
    }
    g_anchorCounter = now;
}

void pull(int16_t* out, int frames) {
    if (g_mix && !g_fade.silent())
        g_mix(out, frames, g_user);
    else
        memset(out, 0, (size_t)frames * 4);
    g_fade.apply(out, frames, g_consumed);
    g_consumed += frames;
}

void SDLCALL deviceCallback(void*, Uint8* stream, int len) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    noteCallback(SDL_GetPerformanceCounter());
    pull((int16_t*)stream, len / 4);
}

void silentOutput() {
    int16_t buffer[kSilentChunk * 2];
    while (g_silentRun.load()) {
        {
            std::lock_guard<std::recursive_mutex> guard(g_lock);
            uint64_t now = SDL_GetPerformanceCounter();
            int64_t due = (int64_t)((double)(now - g_openCounter) / counterFrequency() * kRate);
            // Stay one chunk ahead of the clock, as a device buffer would.
            while (g_consumed < due + kSilentChunk) pull(buffer, kSilentChunk);
        }
        SDL_Delay(2);
    }
}

// Opens SDL's default device of the current driver; false with SDL's error set.
bool openDevice() {
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kBufferFrames;
    want.callback = deviceCallback;
    g_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!g_device) return false;
    const char* name = SDL_GetCurrentAudioDriver();
    bool synchronous = name && (strcmp(name, "dummy") == 0 || strcmp(name, "disk") == 0);
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_latencyFrames = synchronous ? 0 : have.samples;
    return true;
}

// alsa-lib's error handler: its messages say nothing SDL's error does not.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Lets the device play the fade-out and waits until it has been heard (or
// the device has stalled for kFadeWait).
void fadeOut() {
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        if (!g_mix) return;
        g_fade.start();
    }
    auto giveUp = std::chrono::steady_clock::now() + kFadeWait;
    while (std::chrono::steady_clock::now() < giveUp) {
        {
            std::lock_guard<std::recursive_mutex> guard(g_lock);
            if (g_fade.end() >= 0 && sysAudioFramesHeard() >= g_fade.end()) return;
        }
        SDL_Delay(1);
    }
}

void closeOutput() {
    if (g_output == Output::Device) fadeOut();
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        g_mix = nullptr;
        g_user = nullptr;
        g_open = false;
        g_fade.stop();
    }
    // Without the lock: closing waits for a running callback.
    switch (g_output) {
    case Output::Device:
        SDL_CloseAudioDevice(g_device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        break;
    case Output::Dummy:
        SDL_CloseAudioDevice(g_device);
        SDL_AudioQuit();
        break;
    case Output::Silent:
        g_silentRun = false;
        if (g_silentThread.joinable()) g_silentThread.join();
        break;
    case Output::None:
        break;
    }
    g_device = 0;
    g_output = Output::None;
}

}  // namespace

bool sysAudioOpen(int rate, SysAudioMix mix, void* user) {
    if (rate != kRate) return false;
    std::lock_guard<std::mutex> once(g_openClose);
    closeOutput();
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        g_mix = mix;
        g_user = user;
        g_consumed = 0;
        g_anchored = false;
        g_anchorFrame = 0;
        g_lastHeard = 0;
        g_latencyFrames = 0;
        g_openCounter = SDL_GetPerformanceCounter();
        g_open = true;
    }
    std::string why;
    snd_lib_error_set_handler(quietAlsa);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        why = SDL_GetError();
    } else if (openDevice()) {
        g_output = Output::Device;
    } else {
        why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    if (g_output == Output::None && SDL_AudioInit("dummy") == 0) {
        if (openDevice()) g_output = Output::Dummy;
        else SDL_AudioQuit();
    }
    // Said once: the music opens the output again after the jingle.
    static bool told = false;
    if (g_output != Output::Device && !told) {
        fprintf(stderr, "audio: no sound device (%s); the show plays without sound\n", why.c_str());
        told = true;
    }
    if (g_output == Output::Device || g_output == Output::Dummy) {
        SDL_PauseAudioDevice(g_device, 0);
    } else {
        // Our own silent output keeps the music's clock running.
        g_output = Output::Silent;
        g_silentRun = true;
        g_silentThread = std::thread(silentOutput);
    }
    return true;
}

void sysAudioClose() {
    std::lock_guard<std::mutex> once(g_openClose);
    closeOutput();
}

int64_t sysAudioFramesHeard() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_open) return g_lastHeard;
    uint64_t now = SDL_GetPerformanceCounter();
    int64_t heard;
    if (g_output == Output::Silent) {
        heard = (int64_t)((double)(now - g_openCounter) / counterFrequency() * kRate);
    } else {
        heard = g_anchored ? predictedAt(now) : 0;
    }
    heard = std::clamp<int64_t>(heard, g_lastHeard, std::max(g_lastHeard, g_consumed - g_latencyFrames));
    g_lastHeard = heard;
    return heard;
}

void sysAudioLock() { g_lock.lock(); }
void sysAudioUnlock() { g_lock.unlock(); }
