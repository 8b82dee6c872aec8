// The web backend's windows, events, presentation and clock: the page's
// canvas is the window's client area (640 x 480 in a window; the whole screen,
// letterboxed, in full screen), the page's keys become window messages,
// pictures are drawn at the browser's animation frames (the display's own
// rate) and the clock is the page's.
#include <emscripten.h>
#include <emscripten/threading.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "assets/files.h"
#include "platform/backend.h"
#include "platform/web/web.h"
#include "platform/win/render_size.h"
#include "platform/win/wincore.h"

struct SysWindow {
    HWND owner = nullptr;
    RECT client{};
    bool fullscreen = false;
};

namespace {

const auto g_start = std::chrono::steady_clock::now();

std::mutex g_inputLock;
std::condition_variable g_inputCame;
std::deque<WebInput> g_input;

SysWindow* g_window = nullptr;  // the show's window, the target of its keys
WebFrame g_frame;
std::vector<uint32_t> g_rgba;           // what the page shows next, RGBA bytes
std::vector<uint32_t> g_picture(640 * 480);  // the 640 x 480 display, as presented so far

// Waits for the page's next animation frame (a quarter second at most: a
// hidden page has none, and the show keeps its time by the music anyway).
void waitForVblank() {
    const int32_t seen = __atomic_load_n(&g_frame.vblank, __ATOMIC_SEQ_CST);
    for (int i = 0; i < 25 && __atomic_load_n(&g_frame.vblank, __ATOMIC_SEQ_CST) == seen; i++)
        emscripten_futex_wait(&g_frame.vblank, (uint32_t)seen, 10.0);
}

// Hands a 0x00RRGGBB picture to the page as RGBA bytes, then waits for the
// animation frame that draws it.
void show(const uint32_t* pixels, int width, int height, int pitch) {
    static bool started = false;
    if (!started) {
        webPresentInit(&g_frame);
        started = true;
    }
    // RGBA bytes are, as little-endian words, 0xFFBBGGRR: red and blue swap
    // places. Whole words, which the compiler turns into wasm SIMD.
    g_rgba.resize((size_t)width * height);
    uint32_t* out = g_rgba.data();
    for (int y = 0; y < height; y++, out += width) {
        const uint32_t* row = (const uint32_t*)((const uint8_t*)pixels + (size_t)y * pitch);
        for (int x = 0; x < width; x++) {
            const uint32_t p = row[x];
            out[x] = 0xFF000000u | (p & 0x0000FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
        }
    }
    g_frame.width = width, g_frame.height = height, g_frame.pixels = (int32_t)(intptr_t)g_rgba.data();
    __atomic_add_fetch(&g_frame.seq, 1, __ATOMIC_SEQ_CST);
    waitForVblank();
}

}  // namespace

// --- Input from the page -----------------------------------------------------

extern "C" EMSCRIPTEN_KEEPALIVE void webInput(int kind, int a, int b) {
    {
        std::lock_guard<std::mutex> guard(g_inputLock);
        g_input.push_back(WebInput{(WebInput::Kind)kind, a, b});
    }
    g_inputCame.notify_all();
}

bool webNextInput(WebInput* input, double timeoutMs) {
    std::unique_lock<std::mutex> guard(g_inputLock);
    if (g_input.empty() && timeoutMs > 0)
        g_inputCame.wait_for(guard, std::chrono::microseconds((int64_t)(timeoutMs * 1000)),
                             [] { return !g_input.empty(); });
    if (g_input.empty()) return false;
    *input = g_input.front();
    g_input.pop_front();
    return true;
}

// --- Windows and events --------------------------------------------------------

SysWindow* sysWindowCreate(HWND owner, const char*, DWORD style, DWORD, int x, int y, int width, int height) {
    auto* w = new SysWindow;
    w->owner = owner;
    w->fullscreen = (style & WS_POPUP) != 0;
    // A window's caption is the page's: its client area is the canvas.
    w->client = w->fullscreen ? RECT{x, y, x + width, y + height} : RECT{x, y + 20, x + width, y + height};
    g_window = w;
    return w;
}

void sysWindowShow(SysWindow*) { webSetState("playing"); }

void sysWindowDestroy(SysWindow* w) {
    if (g_window == w) g_window = nullptr;
    delete w;
}

void sysWindowClientArea(SysWindow* w, RECT* screen) { *screen = w->client; }

bool sysDesktopSize(int* width, int* height) {
    const int packed = webDesktopSize();
    *width = packed >> 16;
    *height = packed & 0xFFFF;
    return *width > 0 && *height > 0;
}

void sysShowCursor(bool) {}

// Keys go to the show's window; the page's close (leaving it) is not a message.
void sysPumpEvents() {
    WebInput in;
    while (webNextInput(&in, 0))
        if (g_window && in.kind == WebInput::Key && in.a) winQueueMessage(g_window->owner, WM_KEYDOWN, (WPARAM)in.a, 0);
        else if (g_window && in.kind == WebInput::Close) winQueueMessage(g_window->owner, WM_CLOSE, 0, 0);
}

void sysWaitEvents() {
    std::unique_lock<std::mutex> guard(g_inputLock);
    g_inputCame.wait_for(guard, std::chrono::milliseconds(100), [] { return !g_input.empty(); });
}

// The box is shown on the page; it returns when the viewer closes it.
void sysMessageBox(const char* caption, const char* text, UINT) {
    webMessageBox(caption, text);
    WebInput in;
    for (;;)
        if (webNextInput(&in, 1000) && in.kind == WebInput::BoxClosed) return;
}

// --- Presentation ------------------------------------------------------------------

// Full screen is asked of the browser; if it refuses, the picture plays in
// the page, letterboxed in the same way.
bool sysSetDisplayMode(SysWindow* w, int width, int height, int bpp) {
    if (!w || width != 640 || height != 480 || bpp != 32) return false;
    webFullscreen();
    return true;
}

namespace {

// Full-screen 3D at the screen's own size in device pixels; `?scale=N` and
// `?aa` come as VELKOR_SCALE and VELKOR_AA.
RenderSize g_renderSize;

double framePeriodMs() { return std::clamp(__atomic_load_n(&g_frame.periodUs, __ATOMIC_SEQ_CST), 4000, 50000) / 1000.0; }

}  // namespace

double sysRenderScale() { return g_renderSize.startPass(sysTicks(), sysDesktopSize); }

int sysRenderSamples() { return g_renderSize.samples(); }

void sysPresentDetailed(SysWindow* w, const uint32_t* pixels, int width, int height, int pitch) {
    if (!w || !w->fullscreen) return;
    g_renderSize.presented(sysTicks(), framePeriodMs());
    show(pixels, width, height, pitch);
}

void sysPresent(SysWindow* w, const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    if (!w) return;
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, 640), y1 = std::min(y + height, 480);
    for (int row = y0; row < y1; row++) {
        const uint32_t* src = (const uint32_t*)((const uint8_t*)pixels + (size_t)(row - y) * pitch) + (x0 - x);
        std::copy(src, src + (x1 - x0), &g_picture[(size_t)row * 640 + x0]);
    }
    show(g_picture.data(), 640, 480, 640 * 4);
}

// --- Clock, threads, the end ------------------------------------------------------------

int64_t sysTicks() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - g_start);
    return ns.count() / 100;
}

void sysSleepUntil(int64_t ticks) { std::this_thread::sleep_until(g_start + std::chrono::nanoseconds(ticks * 100)); }

void* sysThreadCreated() { return nullptr; }
void sysThreadBegins(void*) {}
void sysThreadEnds(void*) {}

// The process ends here: the page shows `code` and stops all the program's
// threads where they are, this one with them, which waits for that. (On a
// page's thread _exit would return into a trap, and the runtime's own exit
// unwinds this thread while the others run on into a runtime that is gone.)
void sysShutdown(int code) {
    sysAudioClose();  // the sound fades out rather than stopping with a click
    fflush(stdout);
    fflush(stderr);
    webEnded(code);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// The page has written DATA/ and the dialog's font into the program's files
// before it starts this.
int main() {
    warnIfNoAssetFolder("velkor");
    static char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOW);
}
