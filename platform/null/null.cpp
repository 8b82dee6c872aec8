// The null backend, the template for a port: every function of
// platform/backend.h, doing the least that lets the show run to its end on
// the real clock, with no window and no sound. A port starts from a copy of
// this file and fills in one group at a time: the clock, then presentation
// (the pictures), the windows and events, the dialog, the sound.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/backend.h"

struct SysWindow {
    RECT client;  // a port keeps its native window here
};

namespace {
const auto g_start = std::chrono::steady_clock::now();
std::recursive_mutex g_audioLock;
SysAudioMix g_mix = nullptr;
void* g_mixUser = nullptr;
int64_t g_audioOpened = 0, g_framesMixed = 0;
int g_dialogStep = 0;

void waitForVblank() {  // a 60 Hz display
    const int64_t frame = 10000000 / 60;
    sysSleepUntil((sysTicks() / frame + 1) * frame);
}
}  // namespace

// Windows and events: one desktop of 640 x 480, windows only as rectangles,
// no input ever comes.
SysWindow* sysWindowCreate(HWND, const char*, DWORD, DWORD, int x, int y, int width, int height) {
    return new SysWindow{RECT{x, y, x + width, y + height}};
}
void sysWindowShow(SysWindow*) {}
void sysWindowDestroy(SysWindow* window) { delete window; }
void sysWindowClientArea(SysWindow* window, RECT* screen) { *screen = window->client; }
bool sysDesktopSize(int* width, int* height) { return *width = 640, *height = 480, true; }
void sysShowCursor(bool) {}
void sysPumpEvents() {}
void sysWaitEvents() { sysSleepUntil(sysTicks() + 100000); }
void sysMessageBox(const char*, const char*, UINT) {}

// Presentation: nothing is shown, but every presentation waits for the next
// vertical blank, as a real display's would.
bool sysSetDisplayMode(SysWindow*, int width, int height, int bpp) { return width == 640 && height == 480 && bpp == 32; }
void sysPresent(SysWindow*, const uint32_t*, int, int, int, int, int) { waitForVblank(); }
void sysPresentDetailed(SysWindow*, const uint32_t*, int, int, int) { waitForVblank(); }
double sysRenderScale() { return 1.0; }
int sysRenderSamples() { return 1; }

// The dialog: answered at once with Tab (the focus to Launch!) and Enter.
bool sysDialogOpen(const char*, int, int, int, int) { return g_dialogStep = 0, true; }
void sysDialogShow(const uint32_t*) {}
bool sysDialogInput(const Dialog&, DialogInput* input) {
    *input = DialogInput{};
    input->kind = DialogInput::Key;
    input->key = g_dialogStep++ == 0 ? VK_TAB : VK_RETURN;
    return true;
}
void sysDialogClose() {}

// The clock and threads: the real clock; threads need nothing more.
int64_t sysTicks() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - g_start).count() / 100;
}
void sysSleepUntil(int64_t ticks) { std::this_thread::sleep_until(g_start + std::chrono::nanoseconds(ticks * 100)); }
void* sysThreadCreated() { return nullptr; }
void sysThreadBegins(void*) {}
void sysThreadEnds(void*) {}

// Sound: no device, but the mixer is pulled as the real clock runs (each
// time the position is asked), so the music's position moves on and the
// show keeps its time.
bool sysAudioOpen(int rate, SysAudioMix mix, void* user) {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    g_mix = mix, g_mixUser = user, g_audioOpened = sysTicks(), g_framesMixed = 0;
    return rate == 44100;
}
void sysAudioClose() {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    g_mix = nullptr;
}
int64_t sysAudioFramesHeard() {
    std::lock_guard<std::recursive_mutex> guard(g_audioLock);
    const int64_t due = (sysTicks() - g_audioOpened) * 44100 / 10000000;
    int16_t discarded[2 * 1024];
    for (int n; g_mix && (n = (int)std::min<int64_t>(due - g_framesMixed, 1024)) > 0; g_framesMixed += n)
        g_mix(discarded, n, g_mixUser);
    return g_framesMixed;
}
void sysAudioLock() { g_audioLock.lock(); }
void sysAudioUnlock() { g_audioLock.unlock(); }

void sysShutdown(int) { sysAudioClose(); }

int main() {
    static char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOW);
}
