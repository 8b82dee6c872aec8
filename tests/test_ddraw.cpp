// DirectDraw in system memory: locking, lost surfaces, colour fills and
// copies, and the windowed blit clipped to the client area. (Flips are seen
// through the renderer's tests, each injected set-up failure through the
// show's own messages in test_display.)
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "platform/ddraw/ddraw.h"
#include "platform/backend.h"
#include "platform/win/wincore.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

namespace {

DDSURFACEDESC surfaceDesc(DWORD flags, DWORD caps, DWORD backBuffers = 0) {
    DDSURFACEDESC d{};
    d.dwSize = 108, d.dwFlags = flags, d.dwWidth = 640, d.dwHeight = 480, d.dwBackBufferCount = backBuffers;
    d.ddsCaps.dwCaps = caps;
    return d;
}

// A fullscreen flipping chain, or (given a window) a windowed primary with a
// clipper on that window; and a 640 x 480 off-screen surface.
struct Chain {
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface *primary = nullptr, *back = nullptr, *off = nullptr;
    IDirectDrawClipper* clipper = nullptr;
    explicit Chain(HWND window = nullptr) {
        EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
        EXPECT_EQ(dd->SetCooperativeLevel(window, window ? DDSCL_NORMAL : DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN), DD_OK);
        DDSURFACEDESC d = surfaceDesc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY);
        if (window) {
            EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
            EXPECT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
            EXPECT_EQ(clipper->SetHWnd(0, window), DD_OK);
            EXPECT_EQ(primary->SetClipper(clipper), DD_OK);
        } else {
            d = surfaceDesc(DDSD_CAPS | DDSD_BACKBUFFERCOUNT,
                            DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE, 1);
            EXPECT_EQ(dd->SetDisplayMode(640, 480, 32), DD_OK);
            EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
            DDSCAPS caps{DDSCAPS_BACKBUFFER};
            EXPECT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
        }
        d = surfaceDesc(DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY);
        EXPECT_EQ(dd->CreateSurface(&d, &off, nullptr), DD_OK);
    }
    ~Chain() {
        off->Release();
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

uint32_t at(IDirectDrawSurface* s, int x, int y) { return ddSurfacePixels(s, nullptr, nullptr, nullptr)[y * 640 + x]; }

}  // namespace

TEST(DirectDraw, LockGivesTheWholeSurfaceAndAnswersBusyAndLostUntilRestored) {
    Chain c;
    DDSURFACEDESC desc{};
    ASSERT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    ASSERT_EQ(std::tuple(desc.dwWidth, desc.dwHeight, desc.lPitch, desc.lpSurface != nullptr),
              std::tuple(640u, 480u, 2560, true));
    ((uint32_t*)desc.lpSurface)[0] = 0x112233;
    ((uint32_t*)desc.lpSurface)[640 * 480 - 1] = 0x445566;
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);
    EXPECT_EQ(std::tuple(at(c.back, 0, 0), at(c.back, 639, 479)), std::tuple(0x112233u, 0x445566u));
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
    RECT r{10, 20, 30, 25};
    fill(c.back, 0x0000FF00, &r);
    for (auto [x, y, colour] : {std::tuple{10, 20, 0x0000FF00u}, {29, 24, 0x0000FF00u}, {30, 24, 0x00ABCDEFu},
                                {29, 25, 0x00ABCDEFu}, {9, 20, 0x00ABCDEFu}})
        EXPECT_EQ(at(c.back, x, y), colour) << x << "," << y;
    RECT outside{600, 460, 900, 900};  // clipped, not written past the end
    fill(c.back, 0x00000001, &outside);
    EXPECT_EQ(at(c.back, 639, 479), 1u);

    fill(c.off, 0x00123456);
    fill(c.back, 0);
    RECT src{0, 0, 100, 100}, dst{600, 450, 700, 550};
    ASSERT_EQ(c.back->Blt(&dst, c.off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(std::tuple(at(c.back, 639, 479), at(c.back, 599, 479)), std::tuple(0x00123456u, 0u));
}

// A fill of the whole surface is written when the surface is next read,
// locked, copied or flipped, or handed once to a device that draws it all.
TEST(DirectDraw, AWholeFillWaitsUntilThePixelsAreUsedOrHandedOver) {
    Chain c;
    uint32_t* back = ddSurfacePixels(c.back, nullptr, nullptr, nullptr);
    back[5] = 7;
    fill(c.back, 0x00102030);
    uint32_t colour = 0;
    ASSERT_TRUE(ddTakeFill(c.back, &colour));
    EXPECT_EQ(std::tuple(colour, back[5]), std::tuple(0x00102030u, 7u)) << "handed over, not written";
    EXPECT_FALSE(ddTakeFill(c.back, &colour)) << "only once";
    EXPECT_FALSE(ddTakeFill(c.off, &colour));

    fill(c.back, 0x00405060);
    DDSURFACEDESC desc{};
    ASSERT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(((uint32_t*)desc.lpSurface)[640 * 480 - 1], 0x00405060u);
    EXPECT_FALSE(ddTakeFill(c.back, &colour));
    fill(c.back, 0x00111111);  // while locked: written at once
    EXPECT_EQ(((uint32_t*)desc.lpSurface)[0], 0x00111111u);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);

    // Flipped while waiting: the front shows the fill; the old front comes back as it was.
    ddSurfacePixels(c.primary, nullptr, nullptr, nullptr)[0] = 9;
    fill(c.back, 0x00708090);
    ASSERT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(std::tuple(at(c.primary, 0, 0), at(c.primary, 639, 479), at(c.back, 0, 0)),
              std::tuple(0x00708090u, 0x00708090u, 9u));
    EXPECT_FALSE(ddTakeFill(c.back, &colour));
}

TEST(DirectDraw, WindowedBlitIsClippedToTheClientArea) {
    static std::vector<uint32_t> shown;
    vtSetFrameHook([](int64_t, const uint32_t* pixels, int, int) { shown.assign(pixels, pixels + 640 * 480); });
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "DDrawTest";
    RegisterClassA(&wc);
    // A captioned 634 x 491 window: its client area is 634 x 471.
    HWND window = CreateWindowExA(0, "DDrawTest", "t", WS_OVERLAPPED | WS_CAPTION, 100, 50, 634, 491, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Chain c(window);
    EXPECT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
    // A picture whose pixels name their place.
    auto tag = [](int x, int y) { return (uint32_t)(y << 10 | x) + 1; };
    DDSURFACEDESC desc{};
    ASSERT_EQ(c.off->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) ((uint32_t*)desc.lpSurface)[y * 640 + x] = tag(x, y);
    c.off->Unlock(nullptr);
    const std::vector<uint32_t> black(640 * 480, 0u);
    sysPresent(winNative(window), black.data(), 640, 480, 2560, 0, 0);  // a known display to start from
    // The show's destination: the client rectangle moved to its screen place.
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(std::tuple(client.right, client.bottom), std::tuple(634, 471));
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT dest{client.left + origin.x, client.top + origin.y, client.right + origin.x, client.bottom + origin.y};
    ASSERT_EQ(c.primary->Blt(&dest, c.off, &client, DDBLT_WAIT, nullptr), DD_OK);
    // Right of the client area and below it: untouched.
    EXPECT_EQ(std::tuple(shown[0], shown[470 * 640 + 633], shown[470 * 640 + 634], shown[471 * 640 + 10]),
              std::tuple(tag(0, 0), tag(633, 470), 0u, 0u));
    // A rectangle hanging off the client area's top-left is clipped too: the
    // part of another source rectangle that falls inside shows, with its
    // source moved alike; the rest keeps the picture before.
    RECT src{200, 100, 300, 200}, shifted{origin.x - 30, origin.y - 40, origin.x + 70, origin.y + 60};
    ASSERT_EQ(c.primary->Blt(&shifted, c.off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(std::tuple(shown[0], shown[59 * 640 + 69], shown[60 * 640], shown[70]),
              std::tuple(tag(230, 140), tag(299, 199), tag(0, 60), tag(70, 0)));
    vtSetFrameHook(nullptr);
}
