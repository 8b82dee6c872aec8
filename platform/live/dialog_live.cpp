// The settings dialog's window on SDL2: shows the dialog as the engine
// painted it and reports the left mouse button, Tab, Space, Enter, Escape
// and the close box.
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"

namespace {

SDL_Window* g_window = nullptr;
SDL_Surface* g_picture = nullptr;  // the painted pixels, as SDL sees them
bool g_captured = false;           // the mouse is held over a button
bool g_closeSeen = false;

bool ours(Uint32 windowId) { return g_window && windowId == SDL_GetWindowID(g_window); }

}  // namespace

bool sysDialogOpen(const char* caption, int x, int y, int width, int height) {
    int desktopW = 0, desktopH = 0;
    if (!sysDesktopSize(&desktopW, &desktopH)) {
        fprintf(stderr, "settings dialog: cannot use the display (%s)\n", SDL_GetError());
        return false;
    }
    // The template's position if the dialog fits there, else centred.
    if (x + width > desktopW || y + height + 40 > desktopH) x = y = SDL_WINDOWPOS_CENTERED;
    g_window = SDL_CreateWindow(caption, x, y, width, height, SDL_WINDOW_SHOWN);
    g_picture = g_window ? SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGB888) : nullptr;
    if (!g_window || !g_picture) {
        fprintf(stderr, "settings dialog: cannot open the dialog window (%s)\n", SDL_GetError());
        sysDialogClose();
        return false;
    }
    SDL_SetSurfaceBlendMode(g_picture, SDL_BLENDMODE_NONE);
    SDL_RaiseWindow(g_window);
    g_captured = g_closeSeen = false;
    return true;
}

void sysDialogShow(const uint32_t* pixels) {
    for (int row = 0; row < g_picture->h; row++)
        memcpy((uint8_t*)g_picture->pixels + (size_t)row * g_picture->pitch, pixels + (size_t)row * g_picture->w,
               (size_t)g_picture->w * 4);
    SDL_Surface* target = SDL_GetWindowSurface(g_window);
    if (!target) return;
    SDL_BlitSurface(g_picture, nullptr, target, nullptr);
    SDL_UpdateWindowSurface(g_window);
}

bool sysDialogInput(const Dialog&, DialogInput* in) {
    SDL_Event e;
    while (SDL_WaitEvent(&e)) {
        *in = DialogInput{};
        switch (e.type) {
            case SDL_MOUSEBUTTONDOWN:
                if (e.button.button != SDL_BUTTON_LEFT || !ours(e.button.windowID)) break;
                SDL_CaptureMouse(SDL_TRUE);  // the release counts even outside the window
                g_captured = true;
                *in = DialogInput{DialogInput::Press, e.button.x, e.button.y};
                return true;
            case SDL_MOUSEMOTION:
                if (!g_captured) break;
                *in = DialogInput{DialogInput::Move, e.motion.x, e.motion.y};
                return true;
            case SDL_MOUSEBUTTONUP:
                if (e.button.button != SDL_BUTTON_LEFT || !g_captured) break;
                SDL_CaptureMouse(SDL_FALSE);
                g_captured = false;
                *in = DialogInput{DialogInput::Release, e.button.x, e.button.y};
                return true;
            case SDL_KEYDOWN: {
                SDL_Keycode key = e.key.keysym.sym;
                in->kind = DialogInput::Key;
                in->repeat = e.key.repeat != 0;
                in->key = key == SDLK_TAB ? VK_TAB : key == SDLK_SPACE ? VK_SPACE
                        : key == SDLK_RETURN || key == SDLK_KP_ENTER ? VK_RETURN : key == SDLK_ESCAPE ? VK_ESCAPE : 0;
                if (in->key) return true;
                break;
            }
            case SDL_WINDOWEVENT:
                if (e.window.event != SDL_WINDOWEVENT_CLOSE || !ours(e.window.windowID)) break;
                g_closeSeen = true;
                in->kind = DialogInput::Close;
                return true;
            case SDL_QUIT:  // also a terminal's interrupt; the close box already counted
                if (g_closeSeen) break;
                g_closeSeen = true;
                in->kind = DialogInput::Close;
                return true;
            default:
                break;
        }
    }
    fprintf(stderr, "settings dialog: lost the event queue (%s)\n", SDL_GetError());
    return false;
}

void sysDialogClose() {
    if (g_captured) SDL_CaptureMouse(SDL_FALSE);
    g_captured = false;
    if (g_picture) SDL_FreeSurface(g_picture);
    if (g_window) SDL_DestroyWindow(g_window);
    g_picture = nullptr;
    g_window = nullptr;
}
