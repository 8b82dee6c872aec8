// The settings dialog on screen: an SDL2 window drawn as a classic grey
// dialog, text set in a real font found through fontconfig and rendered by
// SDL2_ttf. Mouse clicks, Tab, Space, Enter, Escape and the close box go to
// the dialog engine, which applies the dialog manager's rules.
//
// On large desktops everything is drawn at an integer scale (the font at a
// higher resolution, lines thicker), so the dialog stays legible; the base
// units are measured with the scaled font, so the engine's layout is in real
// screen pixels.
#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/win/dialog.h"

namespace {

// The classic three-dimensional colours.
constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kHighlight = 0xFFFFFF;
constexpr uint32_t kLight = 0xDFDFDF;
constexpr uint32_t kShadow = 0x808080;
constexpr uint32_t kDarkShadow = 0x000000;
constexpr uint32_t kWindow = 0xFFFFFF;
constexpr uint32_t kText = 0x000000;

bool g_videoHeld = false;
bool g_ttfHeld = false;
TTF_Font* g_font = nullptr;
int g_scale = 1;

bool holdVideo() {
    if (g_videoHeld) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "settings dialog: cannot use the display (%s)\n", SDL_GetError());
        return false;
    }
    g_videoHeld = true;
    return true;
}

void releaseAll() {
    if (g_font) TTF_CloseFont(g_font);
    g_font = nullptr;
    if (g_ttfHeld) TTF_Quit();
    g_ttfHeld = false;
    if (g_videoHeld) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_videoHeld = false;
}

// 1 on ordinary desktops, 2 from 1920 pixels wide, 3 from 3840.
int scaleForDesktop() {
    SDL_DisplayMode mode;
    if (!g_videoHeld || SDL_GetDesktopDisplayMode(0, &mode) != 0) return 1;
    if (mode.w >= 3840 && mode.h >= 2160) return 3;
    if (mode.w >= 1920 && mode.h >= 1080) return 2;
    return 1;
}

// The font file fontconfig offers for the template's face. "Helv" is the old
// name of the Helvetica-like system sans serif; any sans serif will do.
std::string findFontFile(const char* face) {
    std::string name = (!face || !*face || std::string(face) == "Helv") ? "Helvetica" : face;
    std::string file;
    FcPattern* pattern = FcNameParse((const FcChar8*)name.c_str());
    if (!pattern) return file;
    FcPatternAddString(pattern, FC_FAMILY, (const FcChar8*)"sans-serif");
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcChar8* path = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) file = (const char*)path;
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return file;
}

bool openFont(const char* face, int points) {
    if (g_font) return true;
    if (!g_ttfHeld) {
        if (TTF_Init() != 0) {
            fprintf(stderr, "settings dialog: cannot start the font renderer (%s)\n", TTF_GetError());
            return false;
        }
        g_ttfHeld = true;
    }
    std::string file = findFontFile(face);
    if (file.empty()) {
        fprintf(stderr, "settings dialog: fontconfig finds no font for \"%s\"\n", face ? face : "");
        return false;
    }
    // The template's point size at 96 dots per inch, times the scale.
    unsigned dpi = 96u * (unsigned)g_scale;
    g_font = TTF_OpenFontDPI(file.c_str(), points > 0 ? points : 8, dpi, dpi);
    if (!g_font) {
        fprintf(stderr, "%s: cannot open the font (%s)\n", file.c_str(), TTF_GetError());
        return false;
    }
    TTF_SetFontHinting(g_font, TTF_HINTING_LIGHT);
    return true;
}

// --- Drawing -----------------------------------------------------------------

struct Canvas {
    SDL_Surface* surface = nullptr;
    int s = 1;  // scale

    void fill(int x, int y, int w, int h, uint32_t rgb) {
        SDL_Rect r{x, y, w, h};
        SDL_FillRect(surface, &r, SDL_MapRGB(surface->format, rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
    }
    // Top and left edges in one colour, bottom and right in another, each
    // `s` pixels thick, `inset` lines of that thickness inside the rectangle.
    void bevel(const RECT& r, int inset, uint32_t topLeft, uint32_t bottomRight) {
        int x0 = r.left + inset * s, y0 = r.top + inset * s;
        int x1 = r.right - inset * s, y1 = r.bottom - inset * s;
        if (x1 - x0 < 2 * s || y1 - y0 < 2 * s) return;
        fill(x0, y0, x1 - x0 - s, s, topLeft);
        fill(x0, y0, s, y1 - y0 - s, topLeft);
        fill(x0, y1 - s, x1 - x0, s, bottomRight);
        fill(x1 - s, y0, s, y1 - y0, bottomRight);
    }
    // Dotted rectangle: dots of s x s, every other one.
    void focusRect(int x0, int y0, int x1, int y1) {
        for (int x = x0; x < x1; x += 2 * s) {
            fill(x, y0, s, s, kText);
            fill(x, y1 - s, s, s, kText);
        }
        for (int y = y0; y < y1; y += 2 * s) {
            fill(x0, y, s, s, kText);
            fill(x1 - s, y, s, s, kText);
        }
    }
    void blend(int x, int y, uint32_t rgb, double alpha) {
        if (x < 0 || y < 0 || x >= surface->w || y >= surface->h || alpha <= 0) return;
        uint32_t* p = (uint32_t*)((uint8_t*)surface->pixels + y * surface->pitch) + x;
        uint32_t d = *p;
        auto mix = [&](int shift) {
            double a = (rgb >> shift) & 0xFF, b = (d >> shift) & 0xFF;
            return (uint32_t)std::lround(b + (a - b) * std::min(alpha, 1.0)) << shift;
        };
        *p = 0xFF000000u | mix(16) | mix(8) | mix(0);
    }
    // Text in the dialog font; returns its width. Clipped to `clip`.
    int text(const std::string& s8, int x, int y, const SDL_Rect* clip) {
        if (!g_font || s8.empty()) return 0;
        SDL_Surface* glyphs = TTF_RenderUTF8_Blended(g_font, s8.c_str(), SDL_Color{0, 0, 0, 255});
        if (!glyphs) return 0;
        SDL_Rect dst{x, y, glyphs->w, glyphs->h};
        SDL_SetClipRect(surface, clip);
        SDL_BlitSurface(glyphs, nullptr, surface, &dst);
        SDL_SetClipRect(surface, nullptr);
        int w = glyphs->w;
        SDL_FreeSurface(glyphs);
        return w;
    }
};

int textWidth(const std::string& s8) {
    int w = 0, h = 0;
    if (!g_font || s8.empty() || TTF_SizeUTF8(g_font, s8.c_str(), &w, &h) != 0) return 0;
    return w;
}

int fontHeight() { return g_font ? TTF_FontHeight(g_font) : 13; }

SDL_Rect toSdl(const RECT& r) { return SDL_Rect{r.left, r.top, r.right - r.left, r.bottom - r.top}; }

// A classic radio button circle, edges split on the diagonal (shadowed at
// the top left, lit at the bottom right), drawn with 4 x 4 samples a pixel.
void drawRadioCircle(Canvas& c, int left, int top, int size, bool checked, bool pressed) {
    const double R = size / 2.0, ring = c.s;
    for (int py = 0; py < size; py++)
        for (int px = 0; px < size; px++) {
            double r = 0, g = 0, b = 0;
            int covered = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    double dx = px + (sx + 0.5) / 4 - R, dy = py + (sy + 0.5) / 4 - R;
                    double dist = std::sqrt(dx * dx + dy * dy);
                    if (dist > R) continue;
                    bool upperLeft = dx + dy < 0;
                    uint32_t col;
                    if (dist > R - ring)
                        col = upperLeft ? kShadow : kHighlight;
                    else if (dist > R - 2 * ring)
                        col = upperLeft ? kDarkShadow : kLight;
                    else if (checked && dist < 2.0 * c.s)
                        col = kText;
                    else
                        col = pressed ? kFace : kWindow;
                    r += col >> 16;
                    g += (col >> 8) & 0xFF;
                    b += col & 0xFF;
                    covered++;
                }
            if (!covered) continue;
            uint32_t avg = ((uint32_t)std::lround(r / covered) << 16) | ((uint32_t)std::lround(g / covered) << 8) |
                           (uint32_t)std::lround(b / covered);
            c.blend(left + px, top + py, avg, covered / 16.0);
        }
}

void drawControl(Canvas& c, const Dialog& d, int index) {
    const DialogControl& ctl = d.controls[index];
    if (!(ctl.style & WS_VISIBLE)) return;
    const RECT& r = ctl.rect;
    SDL_Rect clip = toSdl(r);
    bool focused = d.focus == index, pressed = d.pressed == index;
    int h = r.bottom - r.top, th = fontHeight();

    if (ctl.windowClass == "static") {
        c.text(ctl.text, r.left, r.top, &clip);
        return;
    }
    if (ctl.windowClass != "button") return;
    DWORD type = ctl.style & 0x0F;
    if (type == BS_AUTORADIOBUTTON || type == 4 /* BS_RADIOBUTTON */) {
        int size = 12 * c.s;
        int top = r.top + (h - size) / 2;
        drawRadioCircle(c, r.left, top, size, ctl.checked == (int)BST_CHECKED, pressed);
        int tx = r.left + size + 4 * c.s, ty = r.top + (h - th) / 2;
        int tw = c.text(ctl.text, tx, ty, &clip);
        if (focused) {
            if (tw > 0)
                c.focusRect(tx - c.s, std::max((int)r.top, ty - c.s), std::min((int)r.right, tx + tw + 2 * c.s),
                            std::min((int)r.bottom, ty + th + c.s));
            else
                c.focusRect(r.left, std::max((int)r.top, top - c.s), std::min((int)r.right, r.left + size + c.s),
                            std::min((int)r.bottom, top + size + c.s));
        }
        return;
    }
    // Push button: a raised bevel; pressed it sinks; with the focus it gets
    // the black frame of the default button and a dotted focus rectangle.
    RECT face = r;
    c.fill(r.left, r.top, r.right - r.left, h, kFace);
    int inset = 0;
    if (focused || pressed) {
        c.bevel(face, 0, kDarkShadow, kDarkShadow);
        inset = 1;
    }
    if (pressed) {
        c.bevel(face, inset, kShadow, kShadow);
    } else {
        c.bevel(face, inset, kHighlight, kDarkShadow);
        c.bevel(face, inset + 1, kLight, kShadow);
    }
    int shift = pressed ? c.s : 0;
    int tw = textWidth(ctl.text);
    c.text(ctl.text, r.left + (r.right - r.left - tw) / 2 + shift, r.top + (h - th) / 2 + shift, &clip);
    if (focused) c.focusRect(r.left + 3 * c.s, r.top + 3 * c.s, r.right - 3 * c.s, r.bottom - 3 * c.s);
}

void drawDialog(SDL_Window* window, Canvas& c, const Dialog& d) {
    c.fill(0, 0, c.surface->w, c.surface->h, kFace);
    for (int i = 0; i < (int)d.controls.size(); i++) drawControl(c, d, i);
    SDL_Surface* target = SDL_GetWindowSurface(window);
    if (!target) return;
    SDL_BlitSurface(c.surface, nullptr, target, nullptr);
    SDL_UpdateWindowSurface(window);
}

bool isOurWindow(SDL_Window* window, Uint32 windowId) { return windowId == SDL_GetWindowID(window); }

}  // namespace

void sysDialogBaseUnits(const char* face, int points, int* baseX, int* baseY) {
    int bx = 0, by = 0;
    g_scale = holdVideo() ? scaleForDesktop() : 1;
    if (openFont(face, points)) {
        static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        int w = 0, h = 0;
        if (TTF_SizeUTF8(g_font, kAlphabet, &w, &h) == 0) {
            bx = (w + 26) / 52;
            by = TTF_FontHeight(g_font);
        }
    }
    if (bx <= 0 || by <= 0) {  // no font: the classic 8-point metrics
        bx = 6 * g_scale;
        by = 13 * g_scale;
    }
    if (baseX) *baseX = bx;
    if (baseY) *baseY = by;
}

namespace {

// Ends a dialog that cannot go on (no video, no window, no events) with -1.
void giveUp(Dialog& d) {
    d.ended = true;
    d.result = -1;
}

// Shows the dialog in its own window and runs it until it ends.
void runDialogWindow(Dialog& d) {
    if (!g_font) openFont(d.fontFace.c_str(), d.fontPoints);  // drawn without text if this fails

    // The template's position if the dialog fits there, else centred.
    int x = d.x, y = d.y;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && (x + d.width > mode.w || y + d.height + 40 > mode.h)) {
        x = SDL_WINDOWPOS_CENTERED;
        y = SDL_WINDOWPOS_CENTERED;
    }
    int w = std::max(d.width, 1), h = std::max(d.height, 1);
    SDL_Window* window = SDL_CreateWindow(d.caption.c_str(), x, y, w, h, SDL_WINDOW_SHOWN);
    SDL_Surface* surface = window ? SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888) : nullptr;
    if (!window || !surface) {
        fprintf(stderr, "settings dialog: cannot open the dialog window (%s)\n", SDL_GetError());
        if (window) SDL_DestroyWindow(window);
        giveUp(d);
        return;
    }
    SDL_SetSurfaceBlendMode(surface, SDL_BLENDMODE_NONE);
    SDL_RaiseWindow(window);
    Canvas canvas{surface, g_scale};

    int captured = -1;  // button under a held left mouse button
    bool closeSeen = false;
    drawDialog(window, canvas, d);
    SDL_Event e;
    while (!d.ended && SDL_WaitEvent(&e)) {
        switch (e.type) {
            case SDL_MOUSEBUTTONDOWN:
                if (e.button.button == SDL_BUTTON_LEFT && isOurWindow(window, e.button.windowID)) {
                    int i = dialogControlAt(d, e.button.x, e.button.y);
                    if (i >= 0 && d.controls[i].windowClass == "button") {
                        captured = i;
                        d.pressed = i;
                        d.focus = i;  // a button takes the focus when pressed
                        SDL_CaptureMouse(SDL_TRUE);
                    }
                }
                break;
            case SDL_MOUSEMOTION:
                if (captured >= 0)
                    d.pressed = dialogControlAt(d, e.motion.x, e.motion.y) == captured ? captured : -1;
                break;
            case SDL_MOUSEBUTTONUP:
                if (e.button.button == SDL_BUTTON_LEFT && captured >= 0) {
                    int i = captured;
                    captured = -1;
                    d.pressed = -1;
                    SDL_CaptureMouse(SDL_FALSE);
                    // A click counts when the button is released over the same control.
                    if (dialogControlAt(d, e.button.x, e.button.y) == i) dialogClick(d, i);
                }
                break;
            case SDL_KEYDOWN: {
                SDL_Keycode key = e.key.keysym.sym;
                if (key == SDLK_TAB) {
                    dialogKey(d, VK_TAB);
                } else if (!e.key.repeat) {
                    if (key == SDLK_SPACE) dialogKey(d, VK_SPACE);
                    else if (key == SDLK_RETURN || key == SDLK_KP_ENTER) dialogKey(d, VK_RETURN);
                    else if (key == SDLK_ESCAPE) dialogKey(d, VK_ESCAPE);
                }
                break;
            }
            case SDL_WINDOWEVENT:
                if (e.window.event == SDL_WINDOWEVENT_CLOSE && isOurWindow(window, e.window.windowID)) {
                    closeSeen = true;
                    dialogClose(d);
                }
                break;
            case SDL_QUIT:  // also a terminal's interrupt; the close box already counted
                if (!closeSeen) dialogClose(d);
                closeSeen = true;
                break;
            default:
                break;
        }
        if (!d.ended) drawDialog(window, canvas, d);
    }
    if (!d.ended) {  // the event queue failed: give up like a dialog that cannot open
        fprintf(stderr, "settings dialog: lost the event queue (%s)\n", SDL_GetError());
        giveUp(d);
    }
    if (captured >= 0) SDL_CaptureMouse(SDL_FALSE);
    SDL_FreeSurface(surface);
    SDL_DestroyWindow(window);
}
}  // namespace

void sysRunDialog(Dialog& d) {
    // A dialog may have been ended by its procedure while it was being set up.
    if (!d.ended) {
        if (holdVideo())
            runDialogWindow(d);
        else
            giveUp(d);
    }
    releaseAll();
}
