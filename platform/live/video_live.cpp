// The live backend's windows, events, presentation and clock on SDL2: the
// main window (a borderless desktop-sized window in full screen, a 640 x 500
// window with a close box otherwise), SDL events as window messages, a real
// message box, presentation with vsync (scaled to fit in full screen), the
// size full-screen 3D is drawn at, and the end of the process.
#include <SDL.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/backend.h"
#include "platform/live/live.h"
#include "platform/win/render_size.h"
#include "platform/win/wincore.h"

struct SysWindow {
    HWND owner = nullptr;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;  // the 640 x 480 picture
    SDL_Texture* detail = nullptr;   // full screen: the 3D drawn larger
    int detailWidth = 0, detailHeight = 0;
    bool fullscreenPicture = false;  // scaled to fit with black bars
};

namespace {

const auto g_start = std::chrono::steady_clock::now();
const std::thread::id g_mainThread = std::this_thread::get_id();

// The video subsystem is opened once, for the dialog or the first window,
// and kept until the process ends.
bool ensureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "velkor: cannot open the display: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

// SDL video drivers that open without a display and show nothing: with one
// of them the settings dialog would wait for a click nobody can give.
bool showsNothing(const char* driver) {
    for (const char* name : {"offscreen", "dummy", "evdev"})
        if (strcasecmp(driver, name) == 0) return true;
    return false;
}

// The X server went away. Xlib's own handler would call exit(), whose
// teardown runs while the show's threads still work: end at once instead.
int displayLost(Display*) {
    static const char line[] = "velkor: the display went away; the show ends\n";
    ssize_t written = write(STDERR_FILENO, line, sizeof line - 1);
    (void)written;
    _exit(1);
}

HWND ownerOf(Uint32 windowId) {
    SDL_Window* window = SDL_GetWindowFromID(windowId);
    auto* w = window ? (SysWindow*)SDL_GetWindowData(window, "velkor") : nullptr;
    return w ? w->owner : nullptr;
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

void createRenderer(SysWindow* w) {
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

int refreshRate(SysWindow* w) {
    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(w->window, &mode) == 0 && mode.refresh_rate >= 30) return mode.refresh_rate;
    return 60;
}

// Renderers without a real vertical-blank wait (software, some virtual
// displays) would let passes run far faster than the display shows them;
// keep one presentation per refresh period in any case.
void paceToRefresh(SysWindow* w) {
    static int64_t last = 0;
    int64_t period = 10000000 / refreshRate(w);
    int64_t now = sysTicks();
    if (last != 0 && now - last < period - 5000) {
        std::this_thread::sleep_for(std::chrono::microseconds((period - (now - last)) / 10));
        now = sysTicks();
    }
    last = now;
}

}  // namespace

std::string liveOpenDisplay() {
    // Probing the drivers makes libraries print their own complaints (Wayland
    // about XDG_RUNTIME_DIR); the real start-up repeats them where they matter.
    fflush(stderr);
    int saved = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);

    std::string reason;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        const char* driver = SDL_GetCurrentVideoDriver();
        if (driver && showsNothing(driver)) {
            reason = std::string("SDL's \"") + driver + "\" video driver shows nothing";
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        } else if (driver && strcmp(driver, "x11") == 0) {
            XSetIOErrorHandler(displayLost);
        }
    } else {
        const char* forced = getenv("SDL_VIDEODRIVER");
        if (!forced || !*forced) reason = std::string("SDL finds no video device: ") + SDL_GetError();
    }

    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    return reason;
}

// --- Windows and events --------------------------------------------------------

SysWindow* sysWindowCreate(HWND owner, const char* title, DWORD style, DWORD, int x, int y, int width, int height) {
    if (!ensureVideo()) return nullptr;
    auto* w = new SysWindow;
    w->owner = owner;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (style & WS_POPUP) {
        // Full screen: a borderless topmost window over the whole desktop;
        // the desktop's own resolution is left as it is.
        flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_FULLSCREEN_DESKTOP;
        w->fullscreenPicture = true;
        w->window = SDL_CreateWindow(title, x, y, width, height, flags);
    } else {
        // The outer size includes the frame; ask for the client area that
        // leaves, then settle the decorations the window manager reports.
        w->window = SDL_CreateWindow(title, x, y, width, height - 20, flags);
        int top = 0, left = 0, bottom = 0, right = 0;
        if (w->window && SDL_GetWindowBordersSize(w->window, &top, &left, &bottom, &right) == 0 &&
            width - left - right > 0 && height - top - bottom > 0) {
            SDL_SetWindowSize(w->window, width - left - right, height - top - bottom);
            SDL_SetWindowPosition(w->window, x + left, y + top);
        }
    }
    if (!w->window) {
        fprintf(stderr, "velkor: cannot create the window: %s\n", SDL_GetError());
        delete w;
        return nullptr;
    }
    SDL_SetWindowData(w->window, "velkor", w);
    return w;
}

void sysWindowShow(SysWindow* w) {
    SDL_ShowWindow(w->window);
    SDL_RaiseWindow(w->window);
    createRenderer(w);
}

void sysWindowDestroy(SysWindow* w) {
    if (w->texture) SDL_DestroyTexture(w->texture);
    if (w->detail) SDL_DestroyTexture(w->detail);
    if (w->renderer) SDL_DestroyRenderer(w->renderer);
    SDL_DestroyWindow(w->window);
    delete w;
}

void sysWindowClientArea(SysWindow* w, RECT* screen) {
    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(w->window, &x, &y);
    SDL_GetWindowSize(w->window, &width, &height);
    *screen = RECT{x, y, x + width, y + height};
}

bool sysDesktopSize(int* width, int* height) {
    SDL_DisplayMode mode;
    if (!ensureVideo() || SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
    *width = mode.w;
    *height = mode.h;
    return true;
}

void sysShowCursor(bool show) {
    if (ensureVideo()) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

// SDL's events become the messages the show handles; the rest are dropped,
// which is what DefWindowProcA would make of them.
void sysPumpEvents() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_KEYDOWN) {
            HWND target = ownerOf(e.key.windowID);
            WPARAM vk = virtualKey(e.key.keysym.sym);
            if (target && vk) winQueueMessage(target, WM_KEYDOWN, vk, 0);
        } else if (e.type == SDL_WINDOWEVENT) {
            HWND target = ownerOf(e.window.windowID);
            if (!target) continue;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE)
                winQueueMessage(target, WM_CLOSE, 0, 0);
            else if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED)
                winQueueMessage(target, WM_ACTIVATEAPP, 1, 0);
            else if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
                winQueueMessage(target, WM_ACTIVATEAPP, 0, 0);
        } else if (e.type == SDL_QUIT) {
            if (HWND first = winFirstWindow()) winQueueMessage(first, WM_CLOSE, 0, 0);
        }
    }
}

void sysWaitEvents() { SDL_WaitEventTimeout(nullptr, 100); }

void sysMessageBox(const char* caption, const char* text, UINT type) {
    SDL_MessageBoxButtonData ok = {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
                                   IDOK, "OK"};
    SDL_MessageBoxData box = {};
    box.flags = (type & MB_ICONWARNING) ? SDL_MESSAGEBOX_WARNING : SDL_MESSAGEBOX_INFORMATION;
    box.title = caption;
    box.message = text;
    box.numbuttons = 1;
    box.buttons = &ok;
    int pressed = IDOK;
    SDL_ShowMessageBox(&box, &pressed);  // no display: the line on stderr stays
}

// --- Presentation ------------------------------------------------------------------

bool sysSetDisplayMode(SysWindow* w, int width, int height, int bpp) {
    if (!w || width != 640 || height != 480 || bpp != 32) return false;
    createRenderer(w);
    if (!w->renderer) return false;
    SDL_RenderSetLogicalSize(w->renderer, 640, 480);  // keeps the aspect, black bars
    // The 640 x 480 picture is enlarged to the screen smoothly.
    if (w->texture) SDL_SetTextureScaleMode(w->texture, SDL_ScaleModeLinear);
    return true;
}

namespace {
RenderSize g_renderSize;
}

double sysRenderScale() {
    return g_renderSize.startPass(sysTicks(), [](int* w, int* h) {
        return SDL_WasInit(SDL_INIT_VIDEO) && sysDesktopSize(w, h);
    });
}

int sysRenderSamples() { return g_renderSize.samples(); }

void sysPresentDetailed(SysWindow* w, const uint32_t* pixels, int width, int height, int pitch) {
    if (!w || !w->renderer || !w->fullscreenPicture) return;
    g_renderSize.presented(sysTicks(), 1000.0 / refreshRate(w));
    if (!w->detail || w->detailWidth != width || w->detailHeight != height) {
        if (w->detail) SDL_DestroyTexture(w->detail);
        w->detail = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        w->detailWidth = width;
        w->detailHeight = height;
        if (!w->detail) return;
        SDL_SetTextureScaleMode(w->detail, SDL_ScaleModeLinear);
    }
    SDL_UpdateTexture(w->detail, nullptr, pixels, pitch);
    SDL_SetRenderDrawColor(w->renderer, 0, 0, 0, 255);
    SDL_RenderClear(w->renderer);
    SDL_RenderCopy(w->renderer, w->detail, nullptr, nullptr);  // over the 640 x 480 logical screen
    SDL_RenderPresent(w->renderer);
    paceToRefresh(w);
}

void sysPresent(SysWindow* w, const uint32_t* pixels, int width, int height, int pitch, int x, int y) {
    if (!w || !w->renderer || !w->texture) return;
    // Clip the rectangle to the 640 x 480 picture the texture holds.
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, 640), y1 = std::min(y + height, 480);
    if (x1 > x0 && y1 > y0) {
        SDL_Rect r = {x0, y0, x1 - x0, y1 - y0};
        const uint8_t* src = (const uint8_t*)pixels + (size_t)(y0 - y) * pitch + (size_t)(x0 - x) * 4;
        SDL_UpdateTexture(w->texture, &r, src, pitch);
    }
    SDL_SetRenderDrawColor(w->renderer, 0, 0, 0, 255);
    SDL_RenderClear(w->renderer);
    SDL_Rect unscaled = {0, 0, 640, 480};  // a window shows it at the client's top-left
    SDL_RenderCopy(w->renderer, w->texture, nullptr, w->fullscreenPicture ? nullptr : &unscaled);
    SDL_RenderPresent(w->renderer);
    paceToRefresh(w);
}

// --- Clock, threads, the end ------------------------------------------------------------

int64_t sysTicks() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - g_start);
    return ns.count() / 100;
}

void sysSleepUntil(int64_t ticks) {
    std::this_thread::sleep_until(g_start + std::chrono::nanoseconds(ticks * 100));
}

void* sysThreadCreated() { return nullptr; }
void sysThreadBegins(void*) {}
void sysThreadEnds(void*) {}

void sysShutdown(int) {
    sysAudioClose();  // the sound fades out rather than stopping with a click
    // The windows go with SDL on the main thread; from any other thread the
    // display server takes them down with the process.
    if (std::this_thread::get_id() == g_mainThread) SDL_Quit();
}
