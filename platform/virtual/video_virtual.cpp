// The headless backend's windows, input and presentation: a virtual desktop
// of 1280 x 1024, windows that exist only as their client rectangles, key
// presses and close-box clicks scripted at virtual times, message boxes
// answered at once, and the virtual display.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/hooks/hooks.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/wincore.h"

struct SysWindow {
    RECT client;  // in screen coordinates
};

namespace {

constexpr int kDesktopWidth = 1280, kDesktopHeight = 1024;
constexpr int kCaptionHeight = 20;

struct ScriptedInput {
    int64_t at;
    UINT message;
    WPARAM wParam;
};
std::vector<ScriptedInput> g_script;  // sorted by time, consumed from the front
std::vector<std::string> g_boxes;

void schedule(double seconds, UINT message, WPARAM wParam) {
    ScriptedInput in{(int64_t)(seconds * kVtTicksPerSecond), message, wParam};
    auto pos = std::upper_bound(g_script.begin(), g_script.end(), in,
                                [](const ScriptedInput& a, const ScriptedInput& b) { return a.at < b.at; });
    g_script.insert(pos, in);
}

}  // namespace

void vtScheduleKey(double seconds, int virtualKey) { schedule(seconds, WM_KEYDOWN, (WPARAM)virtualKey); }
void vtScheduleClose(double seconds) { schedule(seconds, WM_CLOSE, 0); }
const std::vector<std::string>& vtMessageBoxes() { return g_boxes; }

// --- Windows and events --------------------------------------------------------

SysWindow* sysWindowCreate(HWND, const char*, DWORD style, DWORD, int x, int y, int width, int height) {
    auto* w = new SysWindow;
    w->client = (style & WS_POPUP) ? RECT{x, y, x + width, y + height}
                                   : RECT{x, y + kCaptionHeight, x + width, y + height};
    return w;
}

void sysWindowShow(SysWindow*) {}
void sysWindowDestroy(SysWindow* w) { delete w; }
void sysWindowClientArea(SysWindow* w, RECT* screen) { *screen = w->client; }

bool sysDesktopSize(int* width, int* height) {
    *width = kDesktopWidth;
    *height = kDesktopHeight;
    return true;
}

void sysShowCursor(bool) {}

// Scripted input that is due goes to the focused window (else the first).
void sysPumpEvents() {
    const int64_t now = vtNow();
    while (!g_script.empty() && g_script.front().at <= now) {
        ScriptedInput in = g_script.front();
        g_script.erase(g_script.begin());
        HWND target = GetForegroundWindow() ? GetForegroundWindow() : winFirstWindow();
        if (!target) continue;
        hookTrace("input %s", in.message == WM_KEYDOWN ? "key" : "close");
        winQueueMessage(target, in.message, in.wParam, 0);
    }
}

// Waits for the next scripted input, or a second.
void sysWaitEvents() { vtBlockUntil(g_script.empty() ? vtNow() + kVtTicksPerSecond : g_script.front().at); }

void sysMessageBox(const char*, const char* text, UINT) { g_boxes.push_back(text); }

// --- Presentation ------------------------------------------------------------------

bool sysSetDisplayMode(SysWindow*, int width, int height, int bpp) {
    if (hookShouldFail("SetDisplayMode")) return false;
    return width == 640 && height == 480 && bpp == 32;
}

void sysPresent(SysWindow*, const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    vtShowPicture(pixels, width, height, pitch, x, y);
    vtWaitVblank();
}

void sysPresentDetailed(SysWindow*, const uint32_t* pixels, int width, int height, int pitch) {
    vtShowDetailed(pixels, width, height, pitch);
    vtWaitVblank();
}

double sysRenderScale() { return vtRenderScale(); }

int sysRenderSamples() { return vtRenderSamples(); }
