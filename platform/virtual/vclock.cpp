// The virtual clock: a discrete-event scheduler for the show's threads.
//
// Exactly one registered thread runs at a time. A thread gives up its turn
// only when it waits (Sleep, the next vertical blank, the end of the thread);
// the waiting thread with the earliest wake-up (then the lowest id) runs next,
// and the clock jumps to its wake-up time. Work therefore costs no virtual
// time, and a run is the same on every machine: same frames, same trace.
#include "platform/virtual/vclock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>
#include <unistd.h>

#include "platform/backend.h"
#include "platform/hooks/hooks.h"
#include "platform/win/wincore.h"
#include "platform/virtual/virtual.h"

namespace {

struct VThread {
    int id = 0;
    int64_t wake = 0;
    bool done = false;
    std::condition_variable cv;
};

std::mutex g_lock;
std::deque<VThread> g_threadStore;  // stable addresses; handles point here
std::vector<VThread*> g_waiting;     // threads not running and not done
// The thread whose turn it is. Set under g_lock; read without it only by a
// waiting thread looking for its turn.
std::atomic<VThread*> g_current{nullptr};
int g_nextId = 0;
std::atomic<int64_t> g_now{0};
thread_local VThread* t_self = nullptr;

int g_fps = 60;
int64_t g_endAt = -1;
std::atomic<int> g_exitRequest{-1};  // vtRequestExit, from a signal handler
std::atomic<bool> g_ending{false};   // the process is ending: no more requests
std::atomic<bool> g_outputFailed{false};
uint32_t g_display[640 * 480];
std::function<void(int64_t, const uint32_t*, int, int)> g_frameHook;
// At a render scale above 1 the display is that much larger: it shows the 3D
// device's drawing (g_detail) or the 640 x 480 picture enlarged smoothly.
double g_renderScale = 1.0;
int g_renderSamples = 1;
int g_detailWidth = 640, g_detailHeight = 480;
std::vector<uint32_t> g_detail, g_enlarged;
bool g_showingDetail = false;

bool g_enlargedStale = true;  // the 640 x 480 display changed since it was enlarged

// The 640 x 480 display enlarged to the detail size, bilinear, in 8-bit
// fixed point: each output pixel's source columns and weight are found once
// per size.
const uint32_t* enlargedDisplay() {
    const int W = g_detailWidth, H = g_detailHeight;
    static std::vector<int> column0, column1, columnWeight;
    if ((int)column0.size() != W || g_enlarged.size() != (size_t)W * H) {
        g_enlarged.resize((size_t)W * H);
        column0.resize(W), column1.resize(W), columnWeight.resize(W);
        for (int x = 0; x < W; x++) {
            const double fx = std::clamp((x + 0.5) * 640.0 / W - 0.5, 0.0, 639.0);
            column0[x] = (int)fx;
            column1[x] = std::min(column0[x] + 1, 639);
            columnWeight[x] = (int)((fx - column0[x]) * 256);
        }
        g_enlargedStale = true;
    }
    if (!g_enlargedStale) return g_enlarged.data();
    g_enlargedStale = false;
    for (int y = 0; y < H; y++) {
        const double fy = std::clamp((y + 0.5) * 480.0 / H - 0.5, 0.0, 479.0);
        const int y0 = (int)fy, wy = (int)((fy - y0) * 256);
        const uint32_t* top = &g_display[y0 * 640];
        const uint32_t* low = &g_display[std::min(y0 + 1, 479) * 640];
        uint32_t* out = &g_enlarged[(size_t)y * W];
        for (int x = 0; x < W; x++) {
            const int wx = columnWeight[x];
            const uint32_t a = top[column0[x]], b = top[column1[x]], c = low[column0[x]], d = low[column1[x]];
            uint32_t pixel = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int t = (int)((a >> shift) & 255) * (256 - wx) + (int)((b >> shift) & 255) * wx;
                const int l = (int)((c >> shift) & 255) * (256 - wx) + (int)((d >> shift) & 255) * wx;
                pixel |= (uint32_t)((t * (256 - wy) + l * wy + 32768) >> 16) << shift;
            }
            out[x] = pixel;
        }
    }
    return g_enlarged.data();
}

void showFrame(int64_t vblank) {
    if (!g_frameHook) return;
    if (g_showingDetail)
        g_frameHook(vblank, g_detail.data(), g_detailWidth, g_detailHeight);
    else if (g_renderScale > 1.0)
        g_frameHook(vblank, enlargedDisplay(), g_detailWidth, g_detailHeight);
    else
        g_frameHook(vblank, g_display, 640, 480);
}
std::vector<std::function<void(int)>> g_exitHooks;

// Threads other than the one that first touched the clock are registered by
// vtCreateThread; the first one (the process's main thread) registers here.
VThread* self(std::unique_lock<std::mutex>&) {
    if (!t_self) {
        g_threadStore.emplace_back();
        t_self = &g_threadStore.back();
        t_self->id = g_nextId++;
        if (!g_current) g_current = t_self;
    }
    return t_self;
}

int64_t vblankTick(int64_t n) { return n * kVtTicksPerSecond / g_fps; }

int64_t nextVblankAfter(int64_t t) {
    int64_t n = t * g_fps / kVtTicksPerSecond;
    while (vblankTick(n) <= t) n++;
    return n ? vblankTick(n) : vblankTick(1);
}

// Moves the clock to t: every vertical blank on the way shows the display
// picture, and the audio output consumes its samples up to there.
void advanceTo(int64_t t) {
    int64_t now = g_now.load();
    while (true) {
        int64_t vblank = nextVblankAfter(now);
        if (vblank > t) break;
        vtAudioAdvance(vblank);
        g_now.store(vblank);
        now = vblank;
        showFrame(vblank);
    }
    vtAudioAdvance(t);
    g_now.store(t);
}

// Hands the turn to the waiting thread that is due first. Called with the
// lock held by the thread that gives up its turn.
void scheduleNext(std::unique_lock<std::mutex>& lock) {
    if (int code = g_exitRequest.load(); code >= 0 && !g_ending.load()) {
        lock.unlock();
        ExitProcess((UINT)code);
    }
    if (g_waiting.empty()) {
        g_current = nullptr;  // nothing left to run: the process is ending
        return;
    }
    auto it = std::min_element(g_waiting.begin(), g_waiting.end(), [](VThread* a, VThread* b) {
        return a->wake != b->wake ? a->wake < b->wake : a->id < b->id;
    });
    VThread* next = *it;
    g_waiting.erase(it);
    if (g_endAt >= 0 && next->wake >= g_endAt) {
        advanceTo(std::max(g_endAt, g_now.load()));
        lock.unlock();
        ExitProcess(0);
    }
    if (next->wake > g_now.load()) advanceTo(next->wake);
    g_current = next;
    next->cv.notify_one();
}

}  // namespace

// Threads that sleep a millisecond at a time hand the turn back and forth
// thousands of times a second of the show, each in microseconds of real
// time: a waiting thread looks for its turn this long before it sleeps,
// since waking a sleeping thread costs far more than the turn itself. It
// gives up its processor while it looks, for the threads that have work.
constexpr auto kTurnSpin = std::chrono::microseconds(100);

void waitForTurn(std::unique_lock<std::mutex>& lock, VThread* me) {
    if (g_current.load() != me) {
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kTurnSpin;
        while (g_current.load(std::memory_order_acquire) != me && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        lock.lock();
    }
    me->cv.wait(lock, [me] { return g_current.load() == me; });
}

void vtBlockUntil(int64_t wake) {
    std::unique_lock<std::mutex> lock(g_lock);
    VThread* me = self(lock);
    me->wake = std::max(wake, g_now.load());
    g_waiting.push_back(me);
    scheduleNext(lock);
    waitForTurn(lock, me);
}

void vtWaitVblank() {
    int64_t next;
    {
        std::unique_lock<std::mutex> lock(g_lock);
        next = nextVblankAfter(g_now.load());
    }
    vtBlockUntil(next);
}

// A new thread is registered at once, due now, so that it takes its first
// turn in order with the others.
void* sysThreadCreated() {
    std::unique_lock<std::mutex> lock(g_lock);
    self(lock);
    g_threadStore.emplace_back();
    VThread* t = &g_threadStore.back();
    t->id = g_nextId++;
    t->wake = g_now.load();
    g_waiting.push_back(t);
    return t;
}

void sysThreadBegins(void* token) {
    auto* t = (VThread*)token;
    std::unique_lock<std::mutex> lock(g_lock);
    t_self = t;
    t->cv.wait(lock, [t] { return g_current.load() == t; });
}

void sysThreadEnds(void* token) {
    auto* t = (VThread*)token;
    std::unique_lock<std::mutex> lock(g_lock);
    t->done = true;
    scheduleNext(lock);
}

void sysSleepUntil(int64_t ticks) { vtBlockUntil(ticks); }

void vtExitProcess(int code) { ExitProcess((UINT)code); }

// The end of the process: the sound fades out before the exit hooks (the
// capture) finish, and the trace is closed last. A run that ends well but
// left an output unwritten exits with 1.
void sysShutdown(int code) {
    g_ending.store(true);
    hookTrace("exit %d", code);
    vtAudioEnd();
    for (auto& hook : g_exitHooks) hook(code);
    vtCloseTrace();
    if (code == 0 && g_outputFailed.load()) {
        fflush(stdout);
        fflush(stderr);
        _exit(1);
    }
}

void vtRequestExit(int code) { g_exitRequest.store(code); }
void vtOutputFailed() { g_outputFailed.store(true); }

// Nothing looks at the display without a frame hook: presentations are then
// not kept, and a hook set later sees the display from the next one on.
void vtShowDetailed(const uint32_t* pixels, int width, int height, int pitch) {
    if (width != g_detailWidth || height != g_detailHeight) return;  // not this display's size
    if (!g_frameHook) return;
    g_detail.resize((size_t)width * height);
    for (int row = 0; row < height; row++)
        memcpy(&g_detail[(size_t)row * width], (const uint8_t*)pixels + (size_t)row * pitch, (size_t)width * 4);
    g_showingDetail = true;
}

void vtShowPicture(const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    g_showingDetail = false;
    g_enlargedStale = true;
    if (!g_frameHook) return;
    // Clip to the 640 x 480 display; the picture appears at the next blank.
    for (int row = 0; row < height; row++) {
        int dy = y + row;
        if (dy < 0 || dy >= 480) continue;
        const uint32_t* src = (const uint32_t*)((const uint8_t*)pixels + (size_t)row * pitch);
        int x0 = std::max(0, x), x1 = std::min(640, x + width);
        if (x1 > x0) memcpy(&g_display[dy * 640 + x0], src + (x0 - x), (size_t)(x1 - x0) * 4);
    }
}

// --- Control ------------------------------------------------------------------

void vtSetDisplayRate(int fps) { g_fps = std::clamp(fps, 1, 1000); }
void vtEndAt(double seconds) { g_endAt = (int64_t)(seconds * kVtTicksPerSecond); }
void vtSetFrameHook(std::function<void(int64_t, const uint32_t*, int, int)> hook) { g_frameHook = std::move(hook); }
void vtSetRenderScale(double scale) {
    g_renderScale = scale > 1.0 ? std::min(scale, kMaxRenderScale) : 1.0;
    g_detailWidth = (int)std::lround(640 * g_renderScale);
    g_detailHeight = (int)std::lround(480 * g_renderScale);
    g_detail.assign((size_t)g_detailWidth * g_detailHeight, 0);
}
double vtRenderScale() { return g_renderScale; }
void vtSetRenderSamples(int samples) { g_renderSamples = samples == 2 ? 2 : 1; }
int vtRenderSamples() { return g_renderSamples; }
void vtSetExitHook(std::function<void(int)> hook) { g_exitHooks.push_back(std::move(hook)); }
int64_t vtNow() { return g_now.load(); }
int64_t vtPassCount() { return winPassCount(); }

int64_t sysTicks() { return g_now.load(); }
