// The windowing system of the headless backend: a virtual desktop of
// 1280 x 1024, windows that exist only as records, a message queue fed by
// scripted key presses and close-box clicks at virtual times, message boxes
// answered at once, threads and time on the virtual clock.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sys.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"
#include "platform/win/wininternal.h"

struct HWND__ {
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT outer{};
    RECT client{};  // in screen coordinates
    bool destroyed = false;
    bool shown = false;
};

namespace {

constexpr int kDesktopWidth = 1280, kDesktopHeight = 1024;
constexpr int kCaptionHeight = 20;

std::deque<HWND__> g_windows;
HWND g_foreground = nullptr;
int g_cursorCount = 0;

struct ScriptedInput {
    int64_t at;
    UINT message;
    WPARAM wParam;
};
std::vector<ScriptedInput> g_script;  // sorted by time, consumed from the front
std::deque<MSG> g_queue;
std::vector<std::string> g_boxes;

HWND mainWindow() {
    for (auto& w : g_windows)
        if (!w.destroyed) return &w;
    return nullptr;
}

void takeDueInput() {
    int64_t now = vtNow();
    while (!g_script.empty() && g_script.front().at <= now) {
        ScriptedInput in = g_script.front();
        g_script.erase(g_script.begin());
        HWND target = g_foreground ? g_foreground : mainWindow();
        if (!target) continue;
        vtTrace("input %s", in.message == WM_KEYDOWN ? "key" : "close");
        g_queue.push_back(MSG{target, in.message, in.wParam, 0, (DWORD)(now / 10000), {0, 0}});
    }
}

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

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, void*) {
    WNDPROC proc = winClassProcedure(className);
    if (!proc) return nullptr;
    g_windows.emplace_back();
    HWND w = &g_windows.back();
    w->proc = proc;
    w->style = style;
    w->exStyle = exStyle;
    w->outer = RECT{x, y, x + width, y + height};
    if (style & WS_POPUP)
        w->client = w->outer;
    else
        w->client = RECT{x, y + kCaptionHeight, x + width, y + height};
    vtTrace("window \"%s\" %d,%d %dx%d style 0x%X ex 0x%X", windowName ? windowName : "", x, y, width, height,
            style, exStyle);
    return w;
}

BOOL DestroyWindow(HWND window) {
    if (!window || window->destroyed) return FALSE;
    window->destroyed = true;
    if (g_foreground == window) g_foreground = nullptr;
    window->proc(window, WM_DESTROY, 0, 0);
    return TRUE;
}

BOOL ShowWindow(HWND window, int) {
    if (!window) return FALSE;
    bool was = window->shown;
    window->shown = true;
    g_foreground = window;
    return was;
}

HWND SetFocus(HWND window) {
    HWND previous = g_foreground;
    if (window) g_foreground = window;
    return previous;
}

int ShowCursor(BOOL show) {
    g_cursorCount += show ? 1 : -1;
    vtTrace("cursor %s", show ? "shown" : "hidden");
    return g_cursorCount;
}

int GetSystemMetrics(int index) {
    if (index == SM_CXSCREEN) return kDesktopWidth;
    if (index == SM_CYSCREEN) return kDesktopHeight;
    return 0;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!window || !rect) return FALSE;
    *rect = RECT{0, 0, window->client.right - window->client.left, window->client.bottom - window->client.top};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!window || !point) return FALSE;
    point->x += window->client.left;
    point->y += window->client.top;
    return TRUE;
}

HWND GetForegroundWindow() { return g_foreground; }

BOOL PeekMessageA(MSG* msg, HWND, UINT, UINT, UINT remove) {
    takeDueInput();
    if (g_queue.empty()) {
        vtCountPass();
        return FALSE;
    }
    *msg = g_queue.front();
    if (remove & PM_REMOVE) g_queue.pop_front();
    return TRUE;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    takeDueInput();
    while (g_queue.empty()) {
        int64_t next = g_script.empty() ? vtNow() + kVtTicksPerSecond : g_script.front().at;
        vtBlockUntil(next);
        takeDueInput();
    }
    *msg = g_queue.front();
    g_queue.pop_front();
    return msg->message != WM_QUIT;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || msg->hwnd->destroyed) return 0;
    vtTrace("message 0x%X 0x%llX", msg->message, (unsigned long long)msg->wParam);
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_queue.push_back(MSG{window, message, wParam, lParam, (DWORD)(vtNow() / 10000), {0, 0}});
    return TRUE;
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
    g_boxes.push_back(text ? text : "");
    vtTrace("messagebox \"%s\" \"%s\" 0x%X", caption ? caption : "", text ? text : "", type);
    fprintf(stderr, "%s %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* param, DWORD, DWORD* threadId) {
    HANDLE h = vtCreateThread(start, param);
    if (threadId) *threadId = 0;
    return h;
}

void ExitThread(DWORD) { vtExitThread(); }

void Sleep(DWORD milliseconds) { vtBlockUntil(vtNow() + (int64_t)milliseconds * 10000); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = vtNow();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = kVtTicksPerSecond;
    return TRUE;
}

void ExitProcess(UINT code) { vtExitProcess((int)code); }

void OutputDebugStringA(const char* text) { vtTrace("%s", text ? text : ""); }

// --- Video --------------------------------------------------------------------

bool sysSetDisplayMode(HWND, int width, int height, int bpp) {
    if (sysShouldFail("SetDisplayMode")) return false;
    return width == 640 && height == 480 && bpp == 32;
}

void sysPresent(HWND /*window*/, const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    vtShowPicture(pixels, width, height, pitch, x, y);
    vtWaitVblank();
}

void sysPresentDetailed(HWND, const uint32_t* pixels, int width, int height, int pitch) {
    vtShowDetailed(pixels, width, height, pitch);
    vtWaitVblank();
}

double sysRenderScale() { return vtRenderScale(); }

int sysRenderSamples() { return vtRenderSamples(); }

void sysClientRect(HWND window, int* screenX, int* screenY, int* width, int* height) {
    RECT r = window ? window->client : RECT{0, 0, 640, 480};
    if (screenX) *screenX = r.left;
    if (screenY) *screenY = r.top;
    if (width) *width = r.right - r.left;
    if (height) *height = r.bottom - r.top;
}
