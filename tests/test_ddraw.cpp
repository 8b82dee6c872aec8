// DirectDraw in system memory: locking, lost surfaces, colour fills and
// copies, and the windowed blit clipped to the client area. (Flips are seen
// through the renderer's tests, each injected set-up failure through the
// show's own messages in test_display.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ddraw/ddraw.h"
#include "platform/sys.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

namespace {

std::vector<uint32_t> g_shown(640 * 480);

void watchDisplay() {
    vtSetFrameHook([](int64_t, const uint32_t* pixels, int, int) { memcpy(g_shown.data(), pixels, g_shown.size() * 4); });
}

DDSURFACEDESC surfaceDesc(DWORD flags, DWORD caps, DWORD width = 0, DWORD height = 0, DWORD backBuffers = 0) {
    DDSURFACEDESC d{};
    d.dwSize = 108, d.dwFlags = flags, d.dwWidth = width, d.dwHeight = height;
    d.dwBackBufferCount = backBuffers, d.ddsCaps.dwCaps = caps;
    return d;
}

// A fullscreen flipping chain, or (given a window) a windowed primary with a
// clipper on that window.
struct Chain {
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface *primary = nullptr, *back = nullptr;
    IDirectDrawClipper* clipper = nullptr;
    explicit Chain(HWND window = nullptr) {
        EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
        EXPECT_EQ(dd->SetCooperativeLevel(window, window ? DDSCL_NORMAL : DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN), DD_OK);
        DDSURFACEDESC d = surfaceDesc(DDSD_CAPS | DDSD_BACKBUFFERCOUNT,
                                      DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE, 0, 0, 1);
        if (window) {
            d = surfaceDesc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY);
            EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
            EXPECT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
            EXPECT_EQ(clipper->SetHWnd(0, window), DD_OK);
            EXPECT_EQ(primary->SetClipper(clipper), DD_OK);
            return;
        }
        EXPECT_EQ(dd->SetDisplayMode(640, 480, 32), DD_OK);
        EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        EXPECT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
    }
    IDirectDrawSurface* offscreen() {
        IDirectDrawSurface* off = nullptr;
        DDSURFACEDESC d = surfaceDesc(DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY,
                                      640, 480);
        EXPECT_EQ(dd->CreateSurface(&d, &off, nullptr), DD_OK);
        return off;
    }
    ~Chain() {
        if (clipper) clipper->Release();
        if (back) back->Release();
        primary->Release();
        dd->Release();
    }
};

void fill(IDirectDrawSurface* s, uint32_t colour, RECT* rect = nullptr) {
    DDBLTFX fx{100, colour};
    ASSERT_EQ(s->Blt(rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
}

uint32_t at(IDirectDrawSurface* s, int x, int y) {
    int w, h, pitch;
    uint32_t* p = ddSurfacePixels(s, &w, &h, &pitch);
    return p[y * (pitch / 4) + x];
}

}  // namespace

TEST(DirectDraw, LockGivesTheWholeSurfaceAndAnswersBusyAndLostUntilRestored) {
    Chain c;
    EXPECT_NE(c.dd->SetDisplayMode(800, 600, 16), DD_OK);  // 640 x 480 x 32 only
    DDSURFACEDESC desc{};
    desc.dwSize = 108;
    ASSERT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(std::tuple(desc.dwWidth, desc.dwHeight, desc.lPitch), std::tuple(640u, 480u, 2560));
    ASSERT_NE(desc.lpSurface, nullptr);
    ((uint32_t*)desc.lpSurface)[0] = 0x112233;
    ((uint32_t*)desc.lpSurface)[640 * 480 - 1] = 0x445566;
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);
    EXPECT_EQ(std::tuple(at(c.back, 0, 0), at(c.back, 639, 479)), std::tuple(0x112233u, 0x445566u));
    RECT part{0, 0, 10, 10};
    EXPECT_NE(c.back->Lock(&part, &desc, DDLOCK_WAIT, nullptr), DD_OK);  // whole surface only
    // Lost: every lock and flip says so until the primary restores the whole chain.
    vtFailStep("Lock:lost");
    for (int i = 0; i < 2; i++) EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->Restore(), DD_OK);
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);
    EXPECT_EQ(c.back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);  // only the primary flips
}

TEST(DirectDraw, FillAndCopyCoverTheirRectangleClipped) {
    Chain c;
    fill(c.back, 0x00ABCDEF);
    EXPECT_EQ(at(c.back, 639, 479), 0x00ABCDEFu);
    RECT r{10, 20, 30, 25};
    fill(c.back, 0x0000FF00, &r);
    EXPECT_EQ(at(c.back, 10, 20), 0x0000FF00u);
    EXPECT_EQ(at(c.back, 29, 24), 0x0000FF00u);
    for (auto [x, y] : {std::pair{30, 24}, {29, 25}, {9, 20}}) EXPECT_EQ(at(c.back, x, y), 0x00ABCDEFu) << x << "," << y;
    RECT outside{600, 460, 900, 900};  // clipped, not written past the end
    fill(c.back, 0x00000001, &outside);
    EXPECT_EQ(at(c.back, 639, 479), 1u);

    IDirectDrawSurface* off = c.offscreen();
    fill(off, 0x00123456);
    fill(c.back, 0);
    RECT src{0, 0, 100, 100}, dst{600, 450, 700, 550};
    ASSERT_EQ(c.back->Blt(&dst, off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(at(c.back, 639, 479), 0x00123456u);
    EXPECT_EQ(at(c.back, 599, 479), 0u);
    off->Release();
}

TEST(DirectDraw, WindowedBlitIsClippedToTheClientArea) {
    watchDisplay();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DDrawTest";
    RegisterClassA(&wc);
    // A captioned 634 x 491 window: its client area is 634 x 471.
    HWND window = CreateWindowExA(0, "DDrawTest", "t", WS_OVERLAPPED | WS_CAPTION, 100, 50, 634, 491, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Chain c(window);
    IDirectDrawSurface *primary = c.primary, *off = c.offscreen();
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);

    // A picture whose pixels name their place, marked or not.
    auto tag = [](int x, int y, uint32_t mark = 0) { return ((uint32_t)(y << 10 | x) + 1) | mark; };
    auto paint = [&](uint32_t mark) {
        DDSURFACEDESC desc{};
        ASSERT_EQ(off->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++) ((uint32_t*)desc.lpSurface)[y * 640 + x] = tag(x, y, mark);
        off->Unlock(nullptr);
    };
    paint(0);
    std::vector<uint32_t> black(640 * 480, 0u);
    sysPresent(window, black.data(), 640, 480, 2560, 0, 0);  // a known display to start from
    // The show's destination: the client rectangle moved to its screen place.
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(std::tuple(client.right, client.bottom), std::tuple(634, 471));
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT dest{client.left + origin.x, client.top + origin.y, client.right + origin.x, client.bottom + origin.y};
    ASSERT_EQ(primary->Blt(&dest, off, &client, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(std::tuple(g_shown[0], g_shown[470 * 640 + 633]), std::tuple(1u, tag(633, 470)));
    // Right of the client area and below it: untouched.
    EXPECT_EQ(std::tuple(g_shown[470 * 640 + 634], g_shown[471 * 640 + 10]), std::tuple(0u, 0u));

    // A rectangle hanging off the client area's top-left is clipped too: a new
    // picture shows only in the part that falls inside, the rest keeps the old.
    paint(0x800000);
    RECT src{0, 0, 100, 100};
    RECT shifted{origin.x - 30, origin.y - 40, origin.x + 70, origin.y + 60};
    ASSERT_EQ(primary->Blt(&shifted, off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(std::tuple(g_shown[0], g_shown[59 * 640 + 69], g_shown[60 * 640], g_shown[70]),
              std::tuple(tag(30, 40, 0x800000), tag(99, 99, 0x800000), tag(0, 60), tag(70, 0)));
    vtSetFrameHook(nullptr);
    off->Release();
}
