// DirectDraw in system memory: every surface is a 640 x 480 block of 32-bit
// 0x00RRGGBB pixels, rows 2560 bytes apart. A full-screen primary owns one
// back buffer and flips by swapping the two blocks; the windowed primary has
// no picture of its own: a copy onto it is shown in the clipper's window.
// Presentation goes through the backend (sysPresent), always called with no
// lock of this layer held, since it waits for the next vertical blank.
#include "platform/ddraw/ddraw.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/backend.h"
#include "platform/hooks/hooks.h"
#include "platform/win/wincore.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kPitch = kWidth * 4;

std::mutex g_ddLock;  // guards surface state (buffers, lost and lock flags)

struct DDraw;
struct Clipper;

void fillRow(uint32_t* p, LONG n, uint32_t colour);

enum class Kind { FlipPrimary, Back, WindowPrimary, Offscreen };

struct Surface final : IDirectDrawSurface {
    std::atomic<ULONG> refs{1};
    Kind kind;
    DDraw* owner;
    std::unique_ptr<uint32_t[]> pixels;
    Surface* back = nullptr;   // flipping primary: its back buffer
    Surface* front = nullptr;  // back buffer: its primary
    Clipper* clipper = nullptr;
    bool lost = false;
    bool locked = false;
    // The picture drawn larger, shown by the next flip (ddSetDetail).
    const uint32_t* detail = nullptr;
    int detailWidth = 0, detailHeight = 0;
    // A colour fill of the whole surface not yet written: done when the
    // pixels are next read or written, or handed to a device that draws every
    // pixel (ddTakeFill), which then writes it row by row as it draws.
    bool fillWaiting = false;
    uint32_t fillColour = 0;

    Surface(Kind k, DDraw* o);
    ~Surface() override;
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override;
    HRESULT GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** out) override;
    HRESULT SetClipper(IDirectDrawClipper* clipper) override;
    HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(void* rect) override;
    HRESULT Blt(RECT* dest, IDirectDrawSurface* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) override;
    HRESULT Flip(IDirectDrawSurface* override, DWORD flags) override;
    HRESULT Restore() override;
    HRESULT IsLost() override;
    HWND window() const;
    void settle();
};

struct Clipper final : IDirectDrawClipper {
    std::atomic<ULONG> refs{1};
    std::atomic<HWND> hwnd{nullptr};
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT SetHWnd(DWORD, HWND window) override {
        if (hookShouldFail("SetHWnd")) return DDERR_GENERIC;
        hwnd = window;
        return DD_OK;
    }
    HRESULT GetHWnd(HWND* window) override {
        if (!window) return DDERR_INVALIDPARAMS;
        *window = hwnd;
        return DD_OK;
    }
};

struct DDraw final : IDirectDraw {
    std::atomic<ULONG> refs{1};
    std::atomic<HWND> hwnd{nullptr};
    std::atomic<DWORD> level{0};
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
        if (hookShouldFail("SetCooperativeLevel")) return DDERR_GENERIC;
        hwnd = window;
        level = flags;
        return DD_OK;
    }
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp) override {
        if (hookShouldFail("SetDisplayMode")) return DDERR_GENERIC;
        if (!sysSetDisplayMode(winNative(hwnd), (int)width, (int)height, (int)bpp)) return DDERR_GENERIC;
        return DD_OK;
    }
    HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** out, void*) override {
        if (!desc || !out) return DDERR_INVALIDPARAMS;
        *out = nullptr;
        DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : 0;
        if (caps & DDSCAPS_PRIMARYSURFACE) {
            if (hookShouldFail("CreateSurface:primary")) return DDERR_GENERIC;
            bool flipping = (caps & DDSCAPS_FLIP) && (desc->dwFlags & DDSD_BACKBUFFERCOUNT) &&
                            desc->dwBackBufferCount >= 1;
            if (flipping) {
                auto* primary = new Surface(Kind::FlipPrimary, this);
                auto* back = new Surface(Kind::Back, this);
                primary->back = back;  // the chain's reference to its back buffer
                back->front = primary;
                *out = primary;
            } else {
                *out = new Surface(Kind::WindowPrimary, this);
            }
            return DD_OK;
        }
        if (hookShouldFail("CreateSurface:offscreen")) return DDERR_GENERIC;
        if ((desc->dwFlags & DDSD_WIDTH) && desc->dwWidth != (DWORD)kWidth) return DDERR_INVALIDPARAMS;
        if ((desc->dwFlags & DDSD_HEIGHT) && desc->dwHeight != (DWORD)kHeight) return DDERR_INVALIDPARAMS;
        *out = new Surface(Kind::Offscreen, this);
        return DD_OK;
    }
    HRESULT CreateClipper(DWORD, IDirectDrawClipper** out, void*) override {
        if (!out) return DDERR_INVALIDPARAMS;
        *out = nullptr;
        if (hookShouldFail("CreateClipper")) return DDERR_GENERIC;
        *out = new Clipper();
        return DD_OK;
    }
};

Surface::Surface(Kind k, DDraw* o) : kind(k), owner(o) {
    owner->AddRef();
    if (kind != Kind::WindowPrimary) pixels.reset(new uint32_t[kWidth * kHeight]());
}

Surface::~Surface() {
    if (clipper) clipper->Release();
    owner->Release();
}

ULONG Surface::Release() {
    ULONG left = --refs;
    if (left == 0) {
        if (kind == Kind::FlipPrimary && back) {
            {
                std::lock_guard<std::mutex> guard(g_ddLock);
                back->front = nullptr;
            }
            back->Release();
        }
        if (kind == Kind::Back) {
            std::lock_guard<std::mutex> guard(g_ddLock);
            if (front) front->back = nullptr;
        }
        delete this;
    }
    return left;
}

// Writes a waiting fill; with g_ddLock held.
void Surface::settle() {
    if (!fillWaiting) return;
    fillWaiting = false;
    for (LONG y = 0; y < kHeight; y++) fillRow(&pixels[y * kWidth], kWidth, fillColour);
}

HWND Surface::window() const {
    HWND w = nullptr;
    if (clipper) w = clipper->hwnd;
    if (!w) w = owner->hwnd;
    return w;
}

HRESULT Surface::GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** out) {
    if (!caps || !out) return DDERR_INVALIDPARAMS;
    *out = nullptr;
    if (hookShouldFail("GetAttachedSurface")) return DDERR_GENERIC;
    if (!(caps->dwCaps & DDSCAPS_BACKBUFFER) || kind != Kind::FlipPrimary || !back) return DDERR_GENERIC;
    back->AddRef();
    *out = back;
    return DD_OK;
}

HRESULT Surface::SetClipper(IDirectDrawClipper* c) {
    if (hookShouldFail("SetClipper")) return DDERR_GENERIC;
    auto* next = static_cast<Clipper*>(c);
    if (next) next->AddRef();
    if (clipper) clipper->Release();
    clipper = next;
    return DD_OK;
}

HRESULT Surface::Lock(RECT* rect, DDSURFACEDESC* desc, DWORD, HANDLE) {
    if (rect || !desc) return DDERR_INVALIDPARAMS;
    std::lock_guard<std::mutex> guard(g_ddLock);
    if (lost) return DDERR_SURFACELOST;
    if (hookShouldFail("Lock:lost")) {
        lost = true;
        if (front) front->lost = true;
        if (back) back->lost = true;
        return DDERR_SURFACELOST;
    }
    if (hookShouldFail("Lock")) return DDERR_GENERIC;
    if (!pixels) return DDERR_GENERIC;  // the desktop is not ours to write
    if (locked) return DDERR_SURFACEBUSY;
    settle();
    locked = true;
    detail = nullptr;
    desc->dwFlags = DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_LPSURFACE | DDSD_CAPS;
    desc->dwWidth = kWidth;
    desc->dwHeight = kHeight;
    desc->lPitch = kPitch;
    desc->lpSurface = pixels.get();
    desc->ddpfPixelFormat.dwSize = 32;
    desc->ddpfPixelFormat.dwFlags = 0x40;  // RGB
    desc->ddpfPixelFormat.dwRGBBitCount = 32;
    desc->ddpfPixelFormat.dwRBitMask = 0xFF0000;
    desc->ddpfPixelFormat.dwGBitMask = 0xFF00;
    desc->ddpfPixelFormat.dwBBitMask = 0xFF;
    desc->ddpfPixelFormat.dwRGBAlphaBitMask = 0;
    return DD_OK;
}

HRESULT Surface::Unlock(void*) {
    std::lock_guard<std::mutex> guard(g_ddLock);
    if (!locked) return DDERR_GENERIC;
    locked = false;
    return DD_OK;
}

// Intersects r with [0, w) x [0, h); false when nothing is left.
bool clipRect(RECT& r, int w, int h) {
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, w);
    r.bottom = std::min<LONG>(r.bottom, h);
    return r.right > r.left && r.bottom > r.top;
}

// Fills n pixels with one colour: memset when its four bytes are equal (black,
// white), otherwise eight bytes (two pixels) per store.
void fillRow(uint32_t* p, LONG n, uint32_t colour) {
    if ((colour & 0xFF) * 0x01010101u == colour) {
        memset(p, (int)(colour & 0xFF), (size_t)n * 4);
        return;
    }
    const uint64_t two = colour | (uint64_t)colour << 32;
    LONG i = 0;
    for (; i + 2 <= n; i += 2) memcpy(p + i, &two, 8);
    if (i < n) p[i] = colour;
}

HRESULT Surface::Blt(RECT* dest, IDirectDrawSurface* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) {
    if (flags & DDBLT_COLORFILL) {
        if (!fx) return DDERR_INVALIDPARAMS;
        std::lock_guard<std::mutex> guard(g_ddLock);
        if (lost) return DDERR_SURFACELOST;
        if (!pixels) return DD_OK;  // filling the desktop shows nothing of ours
        detail = nullptr;
        RECT r = dest ? *dest : RECT{0, 0, kWidth, kHeight};
        if (!clipRect(r, kWidth, kHeight)) return DD_OK;
        // A locked surface's pixels are being written: filled now, not later over them.
        if (!locked && r.left == 0 && r.top == 0 && r.right == kWidth && r.bottom == kHeight) {
            fillWaiting = true;
            fillColour = fx->dwFillColor;
            return DD_OK;
        }
        settle();
        for (LONG y = r.top; y < r.bottom; y++) fillRow(&pixels[y * kWidth + r.left], r.right - r.left, fx->dwFillColor);
        return DD_OK;
    }
    auto* src = static_cast<Surface*>(source);
    if (!src || src == this) return DDERR_INVALIDPARAMS;
    RECT s = sourceRect ? *sourceRect : RECT{0, 0, kWidth, kHeight};
    RECT d = dest ? *dest : RECT{0, 0, s.right - s.left, s.bottom - s.top};
    // Unscaled: the copy is as large as the smaller of the two rectangles.
    LONG w = std::min(s.right - s.left, d.right - d.left), h = std::min(s.bottom - s.top, d.bottom - d.top);
    if (w <= 0 || h <= 0) return DD_OK;

    if (kind == Kind::WindowPrimary) {
        // The destination is in screen coordinates: show the part that falls
        // inside the window's client area.
        HWND win = window();
        int cx = 0, cy = 0, cw = 0, ch = 0;
        winClientArea(win, &cx, &cy, &cw, &ch);
        LONG dx = d.left - cx, dy = d.top - cy;  // client coordinates
        LONG x0 = std::max<LONG>(dx, 0), y0 = std::max<LONG>(dy, 0);
        LONG x1 = std::min<LONG>(dx + w, cw), y1 = std::min<LONG>(dy + h, ch);
        LONG sx = s.left + (x0 - dx), sy = s.top + (y0 - dy);
        // ...and inside the source picture.
        if (sx < 0) { x0 -= sx; sx = 0; }
        if (sy < 0) { y0 -= sy; sy = 0; }
        x1 = std::min<LONG>(x1, x0 + (kWidth - sx));
        y1 = std::min<LONG>(y1, y0 + (kHeight - sy));
        if (x1 <= x0 || y1 <= y0) return DD_OK;
        const uint32_t* from;
        {
            std::lock_guard<std::mutex> guard(g_ddLock);
            if (src->lost || lost) return DDERR_SURFACELOST;
            if (!src->pixels) return DDERR_INVALIDPARAMS;
            src->settle();
            from = src->pixels.get() + sy * kWidth + sx;
        }
        sysPresent(winNative(win), from, x1 - x0, y1 - y0, kPitch, x0, y0);
        return DD_OK;
    }

    std::lock_guard<std::mutex> guard(g_ddLock);
    if (src->lost || lost) return DDERR_SURFACELOST;
    if (!src->pixels || !pixels) return DDERR_INVALIDPARAMS;
    src->settle();
    settle();
    detail = nullptr;
    // Clip the destination and move the source with it.
    LONG dx0 = d.left, dy0 = d.top;
    RECT cd{dx0, dy0, dx0 + w, dy0 + h};
    if (!clipRect(cd, kWidth, kHeight)) return DD_OK;
    RECT cs{s.left + (cd.left - dx0), s.top + (cd.top - dy0), s.left + (cd.right - dx0), s.top + (cd.bottom - dy0)};
    RECT cs2 = cs;
    if (!clipRect(cs2, kWidth, kHeight)) return DD_OK;
    cd.left += cs2.left - cs.left;
    cd.top += cs2.top - cs.top;
    LONG cw = cs2.right - cs2.left, chh = cs2.bottom - cs2.top;
    for (LONG y = 0; y < chh; y++)
        memmove(&pixels[(cd.top + y) * kWidth + cd.left], &src->pixels[(cs2.top + y) * kWidth + cs2.left], (size_t)cw * 4);
    return DD_OK;
}

HRESULT Surface::Flip(IDirectDrawSurface*, DWORD) {
    const uint32_t* shown;
    const uint32_t* drawn;
    int drawnWidth, drawnHeight;
    HWND win;
    {
        std::lock_guard<std::mutex> guard(g_ddLock);
        if (kind != Kind::FlipPrimary || !back) return DDERR_NOTFLIPPABLE;
        if (lost || back->lost) return DDERR_SURFACELOST;
        if (locked || back->locked) return DDERR_SURFACEBUSY;
        // The back buffer becomes the front one; the old front is drawn next.
        std::swap(pixels, back->pixels);
        std::swap(fillWaiting, back->fillWaiting);
        std::swap(fillColour, back->fillColour);
        settle();  // what is shown is written
        shown = pixels.get();
        win = owner->hwnd;
        drawn = back->detail;
        drawnWidth = back->detailWidth;
        drawnHeight = back->detailHeight;
        back->detail = nullptr;
    }
    // The front block (or the drawing in its place) stays until the next
    // flip, which only this (presenting) thread makes.
    if (drawn)
        sysPresentDetailed(winNative(win), drawn, drawnWidth, drawnHeight, drawnWidth * 4);
    else
        sysPresent(winNative(win), shown, kWidth, kHeight, kPitch, 0, 0);
    return DD_OK;
}

HRESULT Surface::Restore() {
    std::lock_guard<std::mutex> guard(g_ddLock);
    lost = false;
    if (back) back->lost = false;
    if (front) front->lost = false;
    return DD_OK;
}

HRESULT Surface::IsLost() {
    std::lock_guard<std::mutex> guard(g_ddLock);
    return lost ? DDERR_SURFACELOST : DD_OK;
}

}  // namespace

HRESULT DirectDrawCreate(GUID*, IDirectDraw** out, void*) {
    if (!out) return DDERR_INVALIDPARAMS;
    *out = nullptr;
    if (hookShouldFail("DirectDrawCreate")) return DDERR_GENERIC;
    *out = new DDraw();
    return DD_OK;
}

uint32_t* ddSurfacePixels(IDirectDrawSurface* surface, int* width, int* height, int* pitch) {
    auto* s = static_cast<Surface*>(surface);
    uint32_t* p = nullptr;
    if (s) {
        std::lock_guard<std::mutex> guard(g_ddLock);
        if (s->pixels) s->settle();
        p = s->pixels.get();
    }
    if (width) *width = p ? kWidth : 0;
    if (height) *height = p ? kHeight : 0;
    if (pitch) *pitch = p ? kPitch : 0;
    return p;
}

bool ddTakeFill(IDirectDrawSurface* surface, uint32_t* colour) {
    auto* s = static_cast<Surface*>(surface);
    if (!s) return false;
    std::lock_guard<std::mutex> guard(g_ddLock);
    if (!s->fillWaiting || s->locked) return false;
    s->fillWaiting = false;
    *colour = s->fillColour;
    return true;
}

void ddSetDetail(IDirectDrawSurface* surface, const uint32_t* pixels, int width, int height) {
    auto* s = static_cast<Surface*>(surface);
    if (!s) return;
    std::lock_guard<std::mutex> guard(g_ddLock);
    s->detail = pixels;
    s->detailWidth = width;
    s->detailHeight = height;
}
