// Our audio library: streams decoded whole at creation or, for MP3 files at
// 44,100 Hz, decoded a window at a time inside the mixer (decode.cpp), mixed by
// the output's pull (platform/backend.h) through a fractional-step linear
// resampler, with a smoothed master gain and the position as heard.
//
// Every piece of state the mixer touches is guarded by sysAudioLock, which
// the backend also holds while it runs the mixer, so the mixer itself takes
// no lock. The position as heard: each stream keeps a short list of anchors
// (output frame, source position, step) written whenever playback starts or
// the rate changes; the output's "frames heard" is mapped back through them.
#include "platform/bass/bass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/bass/decode.h"
#include "platform/bass/mixer.h"
#include "platform/backend.h"
#include "platform/hooks/hooks.h"

namespace {

constexpr int kRate = 44100;
constexpr int64_t kOne = int64_t(1) << 32;  // source positions are Q32.32 frames
constexpr DWORD kVersion = 0x80000;
constexpr size_t kMaxAnchors = 256;
constexpr float kGainSlew = 1.0f / 441.0f;  // full-scale gain change takes 10 ms

struct Anchor {
    int64_t outFrame;  // output frame (since the output opened) ...
    int64_t srcFx;     // ... at which the source stood here ...
    int64_t stepFx;    // ... and moved on by this much per output frame
};

struct Stream {
    DWORD handle = 0;
    std::vector<int16_t> pcm;  // interleaved stereo, 44,100 Hz, when decoded whole
    BassMp3ReaderPtr reader;   // otherwise: decoded while it plays
    int64_t frames = 0;
    bool playing = false;
    bool loop = false;
    int64_t posFx = 0;   // next source position to read, not wrapped by loops
    int64_t wrapped = 0; // (posFx >> 32) modulo frames when looping
    int64_t stepFx = kOne;
    float volume = 1.0f, pan = 0.0f;      // attributes
    float gainL = 1.0f, gainR = 1.0f;     // smoothed channel gains
    std::deque<Anchor> anchors;
    int64_t lastHeardFx = 0;
    SYNCPROC endSync = nullptr;
    DWORD endSyncUser = 0;
    HSYNC endSyncHandle = 0;
};

// Guarded by sysAudioLock.
bool g_initialised = false;
std::vector<std::unique_ptr<Stream>> g_streams;
DWORD g_nextHandle = 1;  // handles are never reused in a process
HSYNC g_nextSync = 1;
int64_t g_outFrames = 0;  // frames mixed since the output opened
float g_masterTarget = 1.0f, g_masterGain = 1.0f;
std::vector<float> g_accumulator;

// Serialises the calls that open, fill and close the library (they may run
// long: decoding) so that two of them never interleave.
std::mutex g_apiLock;

struct AudioGuard {
    AudioGuard() { sysAudioLock(); }
    ~AudioGuard() { sysAudioUnlock(); }
};

Stream* findStream(DWORD handle) {
    for (auto& s : g_streams)
        if (s->handle == handle) return s.get();
    return nullptr;
}

void addAnchor(Stream& s, int64_t outFrame) {
    if (!s.anchors.empty() && s.anchors.back().outFrame == outFrame) s.anchors.pop_back();
    s.anchors.push_back({outFrame, s.posFx, s.playing ? s.stepFx : 0});
    while (s.anchors.size() > kMaxAnchors) s.anchors.pop_front();
}

// Source position (Q32.32, unwrapped) that the listener hears at output frame `heard`.
int64_t sourceHeardAt(const Stream& s, int64_t heard) {
    if (s.anchors.empty()) return 0;
    auto it = std::upper_bound(s.anchors.begin(), s.anchors.end(), heard,
                               [](int64_t h, const Anchor& a) { return h < a.outFrame; });
    if (it == s.anchors.begin()) return s.anchors.front().srcFx;
    const Anchor& a = *(it - 1);
    __int128 fx = (__int128)a.srcFx + (__int128)(heard - a.outFrame) * a.stepFx;
    return (int64_t)std::min<__int128>(fx, s.posFx);
}

// Adds one stream's next `count` frames to the accumulator.
// A streamed sound is read by its unwrapped source frame (posFx >> 32), which
// the reader's window numbers in play order, so a looping stream reads on
// across the seam exactly as from the whole decoded sound.
void renderStream(Stream& s, float* acc, int count) {
    const int16_t* pcm = s.pcm.data();
    BassMp3Reader* reader = s.reader.get();
    BassMp3Window window = {nullptr, 0, 0};
    const int64_t frames = s.frames;
    const float targetL = s.volume * std::min(1.0f, 1.0f - s.pan);
    const float targetR = s.volume * std::min(1.0f, 1.0f + s.pan);
    float gl = s.gainL, gr = s.gainR;
    int64_t pos = s.posFx, index = s.wrapped;
    const int64_t step = s.stepFx;
    for (int i = 0; i < count; i++) {
        if (!s.loop && index >= frames) {
            // Played once to the end: the stream stops here.
            s.playing = false;
            s.posFx = (int64_t)frames << 32;
            s.wrapped = frames;
            addAnchor(s, g_outFrames + i);
            if (s.endSync) s.endSync(s.endSyncHandle, s.handle, 0, s.endSyncUser);
            s.gainL = gl;
            s.gainR = gr;
            return;
        }
        const int16_t *here, *after;
        if (reader) {
            int64_t at = pos >> 32;
            if (at + 1 >= window.end) window = bassMp3Read(*reader, at, s.loop);
            here = window.frames + (at - window.first) * 2;
            after = !s.loop && index + 1 >= frames ? here : here + 2;
        } else {
            int64_t next = index + 1;
            if (next >= frames) next = s.loop ? 0 : frames - 1;  // looping reads on into the start: no gap
            here = pcm + index * 2;
            after = pcm + next * 2;
        }
        float t = (float)(uint32_t)pos * (1.0f / 4294967296.0f);
        float l0 = here[0], r0 = here[1];
        float l = l0 + (after[0] - l0) * t;
        float r = r0 + (after[1] - r0) * t;
        gl += std::clamp(targetL - gl, -kGainSlew, kGainSlew);
        gr += std::clamp(targetR - gr, -kGainSlew, kGainSlew);
        acc[i * 2] += l * gl;
        acc[i * 2 + 1] += r * gr;
        int64_t advanced = ((pos + step) >> 32) - (pos >> 32);
        pos += step;
        index += advanced;
        if (s.loop && index >= frames) {
            index %= frames;
            if (s.endSync) s.endSync(s.endSyncHandle, s.handle, 0, s.endSyncUser);
        }
    }
    s.posFx = pos;
    s.wrapped = index;
    s.gainL = gl;
    s.gainR = gr;
}

// The output's pull; runs with sysAudioLock held.
void mixCallback(int16_t* out, int count, void*) { bassMix(out, count); }

// Brings a pulled-in-time output up to date so that g_outFrames is the
// frame now being heard (live: the next frame to be mixed).
void syncOutput() { (void)sysAudioFramesHeard(); }

}  // namespace

void bassMix(int16_t* out, int count) {
    if (count <= 0) return;
    g_accumulator.assign((size_t)count * 2, 0.0f);
    float* acc = g_accumulator.data();
    for (auto& s : g_streams)
        if (s->playing && s->frames > 0) renderStream(*s, acc, count);
    float g = g_masterGain;
    const float target = g_masterTarget;
    for (int i = 0; i < count; i++) {
        g += std::clamp(target - g, -kGainSlew, kGainSlew);
        for (int c = 0; c < 2; c++) {
            float v = acc[i * 2 + c] * g;
            out[i * 2 + c] = (int16_t)std::lrint(std::clamp(v, -32768.0f, 32767.0f));
        }
    }
    g_masterGain = g;
    g_outFrames += count;
}

DWORD BASS_GetVersion() {
    DWORD version = hookShouldFail("BASS_GetVersion") ? 0x70000 : kVersion;
    hookTrace("BASS_GetVersion() = 0x%X", version);
    return version;
}

BOOL BASS_Init(int device, DWORD rate, DWORD flags, HWND window) {
    std::lock_guard<std::mutex> api(g_apiLock);
    BOOL ok = FALSE;
    bool already;
    {
        AudioGuard guard;
        already = g_initialised;
    }
    if (!already && !hookShouldFail("BASS_Init")) {
        {
            AudioGuard guard;
            g_outFrames = 0;
            g_masterTarget = g_masterGain = 1.0f;
        }
        // The output always runs at 44,100 Hz, 16-bit stereo.
        if (sysAudioOpen(kRate, mixCallback, nullptr)) {
            AudioGuard guard;
            g_initialised = true;
            ok = TRUE;
        }
    }
    hookTrace("BASS_Init(%d, %u, %u, %s) = %d", device, rate, flags, window ? "window" : "0", ok);
    return ok;
}

BOOL BASS_Free() {
    std::lock_guard<std::mutex> api(g_apiLock);
    std::vector<std::unique_ptr<Stream>> released;
    bool was;
    {
        AudioGuard guard;
        was = g_initialised;
        g_initialised = false;
    }
    // Closed without the lock: a live output waits for its callback to end.
    // The streams play on into the output's fade-out, so the sound falls
    // smoothly to silence rather than stepping there (a click).
    if (was) sysAudioClose();
    {
        AudioGuard guard;
        released.swap(g_streams);
    }
    released.clear();
    hookTrace("BASS_Free() = %d", was ? 1 : 0);
    return was ? TRUE : FALSE;
}

BOOL BASS_Start() {
    BOOL ok;
    {
        AudioGuard guard;
        ok = g_initialised ? TRUE : FALSE;
    }
    hookTrace("BASS_Start() = %d", ok);
    return ok;
}

BOOL BASS_SetVolume(DWORD volume) {
    BOOL ok = FALSE;
    if (volume <= 100) {
        AudioGuard guard;
        if (g_initialised) {
            syncOutput();
            g_masterTarget = (float)volume / 100.0f;
            ok = TRUE;
        }
    }
    hookTrace("BASS_SetVolume(%u) = %d", volume, ok);
    return ok;
}

HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, DWORD offset, DWORD length, DWORD flags) {
    std::lock_guard<std::mutex> api(g_apiLock);
    std::string shown = memory ? "memory" : (file ? (const char*)file : "");
    HSTREAM handle = 0;
    bool initialised;
    {
        AudioGuard guard;
        initialised = g_initialised;
    }
    if (memory || offset != 0 || length != 0) {
        fprintf(stderr, "%s: only whole sound files are read\n", shown.c_str());
    } else if (initialised && file) {
        auto s = std::make_unique<Stream>();
        // Opened (or decoded whole) outside the lock: the output keeps playing meanwhile.
        BassSound sound;
        if (bassOpenSound((const char*)file, sound)) {
            s->pcm = std::move(sound.pcm);
            s->reader = std::move(sound.reader);
            s->frames = sound.frames;
            AudioGuard guard;
            if (g_initialised) {
                s->handle = handle = g_nextHandle++;
                g_streams.push_back(std::move(s));
            }
        }
    }
    hookTrace("BASS_StreamCreateFile(%d, \"%s\", %u, %u, %u) = %u", memory, shown.c_str(), offset, length, flags,
             handle);
    return handle;
}

BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags) {
    BOOL ok = FALSE;
    {
        AudioGuard guard;
        syncOutput();
        if (Stream* s = findStream(handle)) {
            s->playing = true;
            s->loop = (flags & BASS_SAMPLE_LOOP) != 0;
            s->posFx = 0;
            s->wrapped = 0;
            s->lastHeardFx = 0;
            s->anchors.clear();
            if (s->reader) bassMp3Rewind(*s->reader);
            addAnchor(*s, g_outFrames);
            ok = TRUE;
        }
    }
    hookTrace("BASS_StreamPlay(%u, %d, %u) = %d", handle, flush, flags, ok);
    return ok;
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, DWORD param, SYNCPROC proc, DWORD user) {
    HSYNC sync = 0;
    {
        AudioGuard guard;
        Stream* s = findStream(handle);
        if (s && type == BASS_SYNC_END && proc) {
            s->endSync = proc;
            s->endSyncUser = user;
            s->endSyncHandle = sync = g_nextSync++;
        }
    }
    hookTrace("BASS_ChannelSetSync(%u, %u, %u, %s, %u) = %u", handle, type, param, proc ? "proc" : "0", user, sync);
    return sync;
}

DWORD BASS_StreamGetLength(HSTREAM handle) {
    int64_t frames = -1;
    {
        AudioGuard guard;
        if (Stream* s = findStream(handle)) frames = s->frames;
    }
    DWORD length = frames < 0 ? 0xFFFFFFFFu : (DWORD)std::min<int64_t>(frames * 4, 0xFFFFFFFCu);
    hookTrace("BASS_StreamGetLength(%u) = %u", handle, length);
    return length;
}

DWORD BASS_ChannelGetPosition(DWORD handle) {
    AudioGuard guard;
    Stream* s = findStream(handle);
    if (!s) return 0xFFFFFFFFu;
    int64_t heard = sysAudioFramesHeard();
    int64_t fx = std::max(sourceHeardAt(*s, heard), s->lastHeardFx);
    s->lastHeardFx = fx;
    int64_t frame = fx >> 32;
    frame = s->loop ? frame % s->frames : std::min(frame, s->frames);
    return (DWORD)(frame * 4);
}

BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan) {
    BOOL ok = FALSE;
    {
        AudioGuard guard;
        syncOutput();
        Stream* s = findStream(handle);
        bool valid = s && (freq == -1 || freq == 0 || (freq >= 100 && freq <= 100000)) &&
                     (volume == -1 || (volume >= 0 && volume <= 100)) && (pan == -101 || (pan >= -100 && pan <= 100));
        if (valid) {
            if (freq != -1) {
                s->stepFx = ((int64_t)(freq == 0 ? kRate : freq) << 32) / kRate;
                addAnchor(*s, g_outFrames);
            }
            if (volume != -1) s->volume = (float)volume / 100.0f;
            if (pan != -101) s->pan = (float)pan / 100.0f;
            ok = TRUE;
        }
    }
    hookTrace("BASS_ChannelSetAttributes(%u, %d, %d, %d) = %d", handle, freq, volume, pan, ok);
    return ok;
}
