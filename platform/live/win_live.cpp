// The windowing system of the live program on SDL2: the main window (a
// borderless desktop-sized window in full screen, a 640 x 500 window with a
// close box otherwise), SDL events as window messages, a real message box,
// threads, the performance counter and process exit; and the video half of
// the backend seam (presentation with vsync, scaled to fit in full screen).
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/sys.h"
#include "platform/live/scale_chooser.h"
#include "platform/win/win.h"
#include "platform/win/wininternal.h"

struct HWND__ {
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string title;
    int x = 0, y = 0, width = 0, height = 0;  // outer rectangle asked for
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;  // the 640 x 480 picture
    SDL_Texture* detail = nullptr;   // full screen: the 3D drawn larger
    int detailWidth = 0, detailHeight = 0;
    bool fullscreenPicture = false;  // scaled to fit with black bars
    bool destroyed = false;
};

namespace {

const auto g_start = std::chrono::steady_clock::now();
std::deque<HWND__> g_windows;
std::deque<MSG> g_queue;
HWND g_foreground = nullptr;
std::thread::id g_mainThread = std::this_thread::get_id();

struct ThreadExitSignal {};

bool ensureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "velkor: cannot open the display: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

HWND windowFor(Uint32 id) {
    for (auto& w : g_windows)
        if (!w.destroyed && w.window && SDL_GetWindowID(w.window) == id) return &w;
    return nullptr;
}

WPARAM virtualKey(SDL_Keycode key) {
    switch (key) {
    case SDLK_ESCAPE:
        return VK_ESCAPE;
    case SDLK_RETURN:
        return VK_RETURN;
    case SDLK_TAB:
        return VK_TAB;
    case SDLK_SPACE:
        return VK_SPACE;
    default:
        if (key >= SDLK_a && key <= SDLK_z) return (WPARAM)('A' + (key - SDLK_a));
        if (key >= SDLK_0 && key <= SDLK_9) return (WPARAM)('0' + (key - SDLK_0));
        return 0;
    }
}

// SDL's events become the messages the show handles; the rest are dropped,
// which is what DefWindowProcA would make of them.
void pumpEvents() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        HWND target = nullptr;
        if (e.type == SDL_KEYDOWN) {
            target = windowFor(e.key.windowID);
            WPARAM vk = virtualKey(e.key.keysym.sym);
            if (target && vk) g_queue.push_back(MSG{target, WM_KEYDOWN, vk, 0, e.key.timestamp, {0, 0}});
        } else if (e.type == SDL_WINDOWEVENT) {
            target = windowFor(e.window.windowID);
            if (!target) continue;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE)
                g_queue.push_back(MSG{target, WM_CLOSE, 0, 0, e.window.timestamp, {0, 0}});
            else if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED)
                g_queue.push_back(MSG{target, WM_ACTIVATEAPP, 1, 0, e.window.timestamp, {0, 0}});
            else if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
                g_queue.push_back(MSG{target, WM_ACTIVATEAPP, 0, 0, e.window.timestamp, {0, 0}});
        } else if (e.type == SDL_QUIT) {
            for (auto& w : g_windows)
                if (!w.destroyed && w.window) {
                    g_queue.push_back(MSG{&w, WM_CLOSE, 0, 0, e.quit.timestamp, {0, 0}});
                    break;
                }
        }
    }
}

void createRenderer(HWND w) {
    if (w->renderer || !w->window) return;
    w->renderer = SDL_CreateRenderer(w->window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (!w->renderer) w->renderer = SDL_CreateRenderer(w->window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!w->renderer) w->renderer = SDL_CreateRenderer(w->window, -1, 0);
    if (!w->renderer) {
        fprintf(stderr, "velkor: cannot draw into the window: %s\n", SDL_GetError());
        return;
    }
    w->texture = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, 640, 480);
    SDL_SetRenderDrawColor(w->renderer, 0, 0, 0, 255);
    SDL_RenderClear(w->renderer);
    SDL_RenderPresent(w->renderer);
}

// Renderers without a real vertical-blank wait (software, some virtual
// displays) would let passes run far faster than the display shows them;
// keep one presentation per refresh period in any case.
void paceToRefresh(HWND window) {
    static int64_t last = 0;
    int refresh = 60;
    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(window->window, &mode) == 0 && mode.refresh_rate >= 30) refresh = mode.refresh_rate;
    int64_t period = 10000000 / refresh;
    int64_t now = sysTicks();
    if (last != 0 && now - last < period - 5000) {
        std::this_thread::sleep_for(std::chrono::microseconds((period - (now - last)) / 10));
        now = sysTicks();
    }
    last = now;
}

}  // namespace

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, void*) {
    WNDPROC proc = winClassProcedure(className);
    if (!proc || !ensureVideo()) return nullptr;
    g_windows.emplace_back();
    HWND w = &g_windows.back();
    w->proc = proc;
    w->style = style;
    w->exStyle = exStyle;
    w->title = windowName ? windowName : "";
    w->x = x, w->y = y, w->width = width, w->height = height;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (style & WS_POPUP) {
        // Full screen: a borderless topmost window over the whole desktop;
        // the desktop's own resolution is left as it is.
        flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_FULLSCREEN_DESKTOP;
        w->fullscreenPicture = true;
        w->window = SDL_CreateWindow(w->title.c_str(), x, y, width, height, flags);
    } else {
        // The outer size includes the frame; ask for the client area that
        // leaves, then settle the decorations the window manager reports.
        w->window = SDL_CreateWindow(w->title.c_str(), x, y, width, height - 20, flags);
        int top = 0, left = 0, bottom = 0, right = 0;
        if (w->window && SDL_GetWindowBordersSize(w->window, &top, &left, &bottom, &right) == 0 &&
            width - left - right > 0 && height - top - bottom > 0) {
            SDL_SetWindowSize(w->window, width - left - right, height - top - bottom);
            SDL_SetWindowPosition(w->window, x + left, y + top);
        }
    }
    if (!w->window) fprintf(stderr, "velkor: cannot create the window: %s\n", SDL_GetError());
    return w;
}

BOOL DestroyWindow(HWND window) {
    if (!window || window->destroyed) return FALSE;
    window->destroyed = true;
    if (g_foreground == window) g_foreground = nullptr;
    window->proc(window, WM_DESTROY, 0, 0);
    if (window->texture) SDL_DestroyTexture(window->texture);
    if (window->detail) SDL_DestroyTexture(window->detail);
    window->detail = nullptr;
    if (window->renderer) SDL_DestroyRenderer(window->renderer);
    if (window->window) SDL_DestroyWindow(window->window);
    window->texture = nullptr, window->renderer = nullptr, window->window = nullptr;
    return TRUE;
}

BOOL ShowWindow(HWND window, int) {
    if (!window || !window->window) return FALSE;
    SDL_ShowWindow(window->window);
    SDL_RaiseWindow(window->window);
    createRenderer(window);
    g_foreground = window;
    return TRUE;
}

HWND SetFocus(HWND window) {
    HWND previous = g_foreground;
    if (window && window->window) SDL_SetWindowInputFocus(window->window);
    if (window) g_foreground = window;
    return previous;
}

int ShowCursor(BOOL show) {
    ensureVideo();
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
    return show ? 0 : -1;
}

int GetSystemMetrics(int index) {
    if (!ensureVideo()) return 0;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 0;
    if (index == SM_CXSCREEN) return mode.w;
    if (index == SM_CYSCREEN) return mode.h;
    return 0;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!window || !rect) return FALSE;
    int w = 0, h = 0;
    if (window->window) SDL_GetWindowSize(window->window, &w, &h);
    *rect = RECT{0, 0, w, h};
    return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!window || !point) return FALSE;
    int x = 0, y = 0;
    if (window->window) SDL_GetWindowPosition(window->window, &x, &y);
    point->x += x;
    point->y += y;
    return TRUE;
}

HWND GetForegroundWindow() { return g_foreground; }

BOOL PeekMessageA(MSG* msg, HWND, UINT, UINT, UINT remove) {
    if (g_queue.empty()) pumpEvents();
    if (g_queue.empty()) return FALSE;
    *msg = g_queue.front();
    if (remove & PM_REMOVE) g_queue.pop_front();
    return TRUE;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    while (g_queue.empty()) {
        SDL_WaitEventTimeout(nullptr, 100);
        pumpEvents();
    }
    *msg = g_queue.front();
    g_queue.pop_front();
    return msg->message != WM_QUIT;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd || msg->hwnd->destroyed) return 0;
    return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_queue.push_back(MSG{window, message, wParam, lParam, SDL_GetTicks(), {0, 0}});
    return TRUE;
}

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
    fprintf(stderr, "%s %s\n", caption ? caption : "", text ? text : "");
    SDL_MessageBoxButtonData ok = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                                   IDOK, "OK"};
    SDL_MessageBoxData box = {};
    box.flags = (type & MB_ICONWARNING) ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
    box.window = nullptr;
    box.title = caption ? caption : "";
    box.message = text ? text : "";
    box.numbuttons = 1;
    box.buttons = &ok;
    int pressed = IDOK;
    SDL_ShowMessageBox(&box, &pressed);  // no display: the line on stderr stays
    return IDOK;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* param, DWORD, DWORD* threadId) {
    auto* t = new std::thread([start, param] {
        try {
            start(param);
        } catch (const ThreadExitSignal&) {
        }
    });
    t->detach();
    if (threadId) *threadId = 0;
    return t;  // kept as the handle; never joined, as the show never waits
}

void ExitThread(DWORD) { throw ThreadExitSignal{}; }

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

int64_t sysTicks() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - g_start);
    return ns.count() / 100;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = sysTicks();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 10000000;
    return TRUE;
}

void ExitProcess(UINT code) {
    sysAudioClose();  // the sound fades out rather than stopping with a click
    // The windows go with SDL on the main thread; from any other thread the
    // display server takes them down with the process.
    fflush(stdout);
    fflush(stderr);
    if (std::this_thread::get_id() == g_mainThread) SDL_Quit();
    _exit((int)code);
}

void OutputDebugStringA(const char*) {}

void sysTrace(const char*, ...) {}

bool sysShouldFail(const char*) { return false; }

// --- Video --------------------------------------------------------------------

bool sysSetDisplayMode(HWND window, int width, int height, int bpp) {
    if (!window || !window->window || width != 640 || height != 480 || bpp != 32) return false;
    createRenderer(window);
    if (!window->renderer) return false;
    SDL_RenderSetLogicalSize(window->renderer, 640, 480);  // keeps the aspect, black bars
    // The 640 x 480 picture is enlarged to the screen smoothly.
    if (window->texture) SDL_SetTextureScaleMode(window->texture, SDL_ScaleModeLinear);
    return true;
}

void noteDrawingTime(HWND window);

void sysPresentDetailed(HWND window, const uint32_t* pixels, int width, int height, int pitch) {
    if (!window || !window->renderer || !window->fullscreenPicture) return;
    noteDrawingTime(window);
    if (!window->detail || window->detailWidth != width || window->detailHeight != height) {
        if (window->detail) SDL_DestroyTexture(window->detail);
        window->detail =
            SDL_CreateTexture(window->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        window->detailWidth = width;
        window->detailHeight = height;
        if (!window->detail) return;
        SDL_SetTextureScaleMode(window->detail, SDL_ScaleModeLinear);
    }
    SDL_UpdateTexture(window->detail, nullptr, pixels, pitch);
    SDL_SetRenderDrawColor(window->renderer, 0, 0, 0, 255);
    SDL_RenderClear(window->renderer);
    SDL_RenderCopy(window->renderer, window->detail, nullptr, nullptr);  // over the 640 x 480 logical screen
    SDL_RenderPresent(window->renderer);
    paceToRefresh(window);
}

// Full-screen 3D is drawn at the desktop's own size (2.25 times 640 x 480 on a
// 1080-line screen), smaller while passes run long (ScaleChooser); VELKOR_SCALE
// (1 to 4) fixes the size.
struct RenderSize {
    double fixed = 0;  // VELKOR_SCALE, or 0
    ScaleChooser* chooser = nullptr;
    int64_t passStart = 0;
};
static RenderSize g_renderSize = [] {
    RenderSize r;
    const char* text = getenv("VELKOR_SCALE");
    double v = text && *text ? strtod(text, nullptr) : 0.0;
    if (v >= 1.0 && v <= 4.0) r.fixed = v;
    return r;
}();

double sysRenderScale() {
    g_renderSize.passStart = sysTicks();
    if (g_renderSize.fixed > 0) return g_renderSize.fixed;
    if (!g_renderSize.chooser) {
        SDL_DisplayMode mode;
        double largest = 1.0;
        if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetDesktopDisplayMode(0, &mode) == 0)
            largest = std::clamp(std::min(mode.w / 640.0, mode.h / 480.0), 1.0, 4.0);
        g_renderSize.chooser = new ScaleChooser(largest);
    }
    return g_renderSize.chooser->scale();
}

// How long the 3D pass that is being presented drew, against the display's frame.
void noteDrawingTime(HWND window) {
    if (!g_renderSize.chooser || g_renderSize.passStart == 0) return;
    int refresh = 60;
    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(window->window, &mode) == 0 && mode.refresh_rate >= 30) refresh = mode.refresh_rate;
    g_renderSize.chooser->passed((sysTicks() - g_renderSize.passStart) / 10000.0, 1000.0 / refresh);
}

// VELKOR_AA=1 smooths polygon edges (2 x 2 samples a pixel).
int sysRenderSamples() {
    static const int samples = [] {
        const char* text = getenv("VELKOR_AA");
        return text && strcmp(text, "1") == 0 ? 2 : 1;
    }();
    return samples;
}

void sysPresent(HWND window, const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    if (!window || !window->renderer || !window->texture) return;
    // Clip the rectangle to the 640 x 480 picture the texture holds.
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int x1 = x + width > 640 ? 640 : x + width, y1 = y + height > 480 ? 480 : y + height;
    if (x1 > x0 && y1 > y0) {
        SDL_Rect r = {x0, y0, x1 - x0, y1 - y0};
        const uint8_t* src = (const uint8_t*)pixels + (size_t)(y0 - y) * pitch + (size_t)(x0 - x) * 4;
        SDL_UpdateTexture(window->texture, &r, src, pitch);
    }
    SDL_SetRenderDrawColor(window->renderer, 0, 0, 0, 255);
    SDL_RenderClear(window->renderer);
    if (window->fullscreenPicture) {
        SDL_RenderCopy(window->renderer, window->texture, nullptr, nullptr);
    } else {
        SDL_Rect dst = {0, 0, 640, 480};  // unscaled at the client's top-left
        SDL_RenderCopy(window->renderer, window->texture, nullptr, &dst);
    }
    SDL_RenderPresent(window->renderer);
    paceToRefresh(window);
}

void sysClientRect(HWND window, int* screenX, int* screenY, int* width, int* height) {
    int x = 0, y = 0, w = 640, h = 480;
    if (window && window->window) {
        SDL_GetWindowPosition(window->window, &x, &y);
        SDL_GetWindowSize(window->window, &w, &h);
    }
    if (screenX) *screenX = x;
    if (screenY) *screenY = y;
    if (width) *width = w;
    if (height) *height = h;
}
