// The core of the Windows slice, on top of the backend (platform/backend.h):
// window classes and records, the main thread's message queue and dispatch,
// window geometry, the cursor, message boxes, threads, sleep, the
// performance counter and process exit. A backend adds only its native
// windows, events, presentation, clock and sound.
#include <atomic>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/backend.h"
#include "platform/hooks/hooks.h"
#include "platform/win/win.h"
#include "platform/win/wincore.h"

struct HWND__ {
    WNDPROC proc = nullptr;
    SysWindow* native = nullptr;
    bool shown = false;
    bool destroyed = false;
};

namespace {

// Kept for the whole process and never destroyed: threads that are never
// joined may still post or look while the process ends.
std::map<std::string, WNDPROC>& g_classes = *new std::map<std::string, WNDPROC>;
std::deque<HWND__>& g_windows = *new std::deque<HWND__>;  // stable addresses: handles point here
HWND g_foreground = nullptr;
int g_cursorCount = 0;
std::atomic<int64_t> g_passes{0};

// Posted from any thread, taken on the main thread.
std::mutex g_queueLock;
std::deque<MSG>& g_queue = *new std::deque<MSG>;

bool takeMessage(MSG* msg, bool remove) {
    std::lock_guard<std::mutex> guard(g_queueLock);
    if (g_queue.empty()) return false;
    *msg = g_queue.front();
    if (remove) g_queue.pop_front();
    return true;
}

struct ThreadExitSignal {};
std::mutex g_threadLock;
std::deque<void*>& g_threadHandles = *new std::deque<void*>;  // what CreateThread hands out; never closed

}  // namespace

// --- Classes and windows ------------------------------------------------------------

WORD RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName) return 0;
    g_classes[wc->lpszClassName] = wc->lpfnWndProc;
    return (WORD)g_classes.size();
}

HICON LoadIconA(HINSTANCE, const char*) { return nullptr; }  // the program carries no icon
HGDIOBJ GetStockObject(int) { return nullptr; }

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, void*) {
    auto it = g_classes.find(className ? className : "");
    if (it == g_classes.end() || !it->second) return nullptr;
    const char* title = windowName ? windowName : "";
    hookTrace("window \"%s\" %d,%d %dx%d style 0x%X ex 0x%X", title, x, y, width, height, style, exStyle);
    g_windows.emplace_back();
    HWND w = &g_windows.back();
    w->proc = it->second;
    // A window the backend cannot make is still a window to the show: its
    // display set-up then fails and says so.
    w->native = sysWindowCreate(w, title, style, exStyle, x, y, width, height);
    return w;
}

BOOL DestroyWindow(HWND window) {
    if (!window || window->destroyed) return FALSE;
    window->destroyed = true;
    if (g_foreground == window) g_foreground = nullptr;
    window->proc(window, WM_DESTROY, 0, 0);
    if (window->native) sysWindowDestroy(window->native);
    window->native = nullptr;
    return TRUE;
}

BOOL ShowWindow(HWND window, int) {
    if (!window || window->destroyed) return FALSE;
    bool was = window->shown;
    window->shown = true;
    if (window->native) sysWindowShow(window->native);
    g_foreground = window;
    return was;
}

HWND SetFocus(HWND window) {
    HWND previous = g_foreground;
    if (window && !window->destroyed) g_foreground = window;
    return previous;
}

HWND GetForegroundWindow() { return g_foreground; }

int ShowCursor(BOOL show) {
    g_cursorCount += show ? 1 : -1;
    hookTrace("cursor %s", show ? "shown" : "hidden");
    sysShowCursor(g_cursorCount >= 0);
    return g_cursorCount;
}

int GetSystemMetrics(int index) {
    int w = 0, h = 0;
    if (!sysDesktopSize(&w, &h)) return 0;
    return index == SM_CXSCREEN ? w : index == SM_CYSCREEN ? h : 0;
}

void winClientArea(HWND window, int* screenX, int* screenY, int* width, int* height) {
    RECT r{0, 0, 640, 480};
    if (window && window->native) sysWindowClientArea(window->native, &r);
    if (screenX) *screenX = r.left;
    if (screenY) *screenY = r.top;
    if (width) *width = r.right - r.left;
    if (height) *height = r.bottom - r.top;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!window || !rect) return FALSE;
    int w = 0, h = 0;
    winClientArea(window, nullptr, nullptr, &w, &h);
    *rect = RECT{0, 0, w, h};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!window || !point) return FALSE;
    int x = 0, y = 0;
    winClientArea(window, &x, &y, nullptr, nullptr);
    point->x += x;
    point->y += y;
    return TRUE;
}

SysWindow* winNative(HWND window) { return window && !window->destroyed ? window->native : nullptr; }

HWND winFirstWindow() {
    for (auto& w : g_windows)
        if (!w.destroyed) return &w;
    return nullptr;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    // The close box: the window goes, and its WM_DESTROY with it.
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

// --- The message queue -------------------------------------------------------------

void winQueueMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{window, message, wParam, lParam, (DWORD)(sysTicks() / 10000), {0, 0}};
    std::lock_guard<std::mutex> guard(g_queueLock);
    g_queue.push_back(msg);
}

int64_t winPassCount() { return g_passes.load(); }

BOOL PeekMessageA(MSG* msg, HWND, UINT, UINT, UINT remove) {
    sysPumpEvents();
    if (takeMessage(msg, remove & PM_REMOVE)) return TRUE;
    g_passes++;
    return FALSE;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    sysPumpEvents();
    while (!takeMessage(msg, true)) {
        sysWaitEvents();
        sysPumpEvents();
    }
    return msg->message != WM_QUIT;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || msg->hwnd->destroyed) return 0;
    hookTrace("message 0x%X 0x%llX", msg->message, (unsigned long long)msg->wParam);
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    winQueueMessage(window, message, wParam, lParam);
    return TRUE;
}

// --- Message box -----------------------------------------------------------------------

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
    const char* c = caption ? caption : "";
    const char* t = text ? text : "";
    hookTrace("messagebox \"%s\" \"%s\" 0x%X", c, t, type);
    fprintf(stderr, "%s %s\n", c, t);  // the line stays where no box can be shown
    sysMessageBox(c, t, type);
    return IDOK;
}

// --- Threads, time, the end ---------------------------------------------------------------

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* param, DWORD, DWORD* threadId) {
    void* token = sysThreadCreated();
    try {
        std::thread([start, param, token] {
            sysThreadBegins(token);
            try {
                start(param);
            } catch (const ThreadExitSignal&) {
            }
            sysThreadEnds(token);
        }).detach();  // never joined: the show never waits for a thread
    } catch (const std::system_error& e) {
        // The show cannot go on without its loader, fade and poller threads.
        fprintf(stderr, "velkor: cannot start a thread (%s)\n", e.what());
        ExitProcess(1);
    }
    if (threadId) *threadId = 0;
    std::lock_guard<std::mutex> guard(g_threadLock);
    g_threadHandles.push_back(token);
    return &g_threadHandles.back();
}

void ExitThread(DWORD) { throw ThreadExitSignal{}; }

void Sleep(DWORD milliseconds) { sysSleepUntil(sysTicks() + (int64_t)milliseconds * 10000); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = sysTicks();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 10000000;
    return TRUE;
}

void ExitProcess(UINT code) {
    static std::atomic<bool> ending{false};
    if (!ending.exchange(true)) sysShutdown((int)code);
    fflush(stdout);
    fflush(stderr);
    _exit((int)code);
}

void OutputDebugStringA(const char* text) { hookTrace("%s", text ? text : ""); }
