// DirectDraw in system memory: locking, lost surfaces, colour fills, the
// flipping chain as the virtual display shows it, the windowed blit clipped
// to the client area, and every injected set-up failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ddraw/ddraw.h"
#include "platform/sys.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

namespace {

std::vector<uint32_t> g_shown(640 * 480);
int g_blanks = 0;

void watchDisplay() {
    vtSetFrameHook([](int64_t, const uint32_t* pixels) {
        memcpy(g_shown.data(), pixels, g_shown.size() * 4);
        g_blanks++;
    });
}

DDSURFACEDESC fullscreenPrimaryDesc() {
    DDSURFACEDESC d{};
    d.dwSize = 108;
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.dwBackBufferCount = 1;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    return d;
}

DDSURFACEDESC offscreenDesc() {
    DDSURFACEDESC d{};
    d.dwSize = 108;
    d.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    d.dwWidth = 640;
    d.dwHeight = 480;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    return d;
}

struct Chain {
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface* primary = nullptr;
    IDirectDrawSurface* back = nullptr;
    Chain() {
        EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
        EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN), DD_OK);
        EXPECT_EQ(dd->SetDisplayMode(640, 480, 32), DD_OK);
        DDSURFACEDESC d = fullscreenPrimaryDesc();
        EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        EXPECT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
    }
    ~Chain() {
        back->Release();
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

TEST(DirectDraw, LockGivesTheWholeSurfaceAndWritesStay) {
    Chain c;
    DDSURFACEDESC desc{};
    desc.dwSize = 108;
    ASSERT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.dwWidth, 640u);
    EXPECT_EQ(desc.dwHeight, 480u);
    EXPECT_EQ(desc.lPitch, 2560);
    ASSERT_NE(desc.lpSurface, nullptr);
    auto* px = (uint32_t*)desc.lpSurface;
    px[0] = 0x112233;
    px[640 * 480 - 1] = 0x445566;
    DDSURFACEDESC again{};
    EXPECT_EQ(c.back->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);
    EXPECT_EQ(at(c.back, 0, 0), 0x112233u);
    EXPECT_EQ(at(c.back, 639, 479), 0x445566u);
    RECT part{0, 0, 10, 10};
    EXPECT_NE(c.back->Lock(&part, &desc, DDLOCK_WAIT, nullptr), DD_OK);  // whole surface only
}

TEST(DirectDraw, LostSurfaceAnswersLostUntilRestored) {
    Chain c;
    DDSURFACEDESC desc{};
    vtFailStep("Lock:lost");
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(c.primary->Restore(), DD_OK);  // restores the whole chain
    EXPECT_EQ(c.back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(c.back->Unlock(nullptr), DD_OK);
}

TEST(DirectDraw, ColourFillCoversTheRectangleOrTheWholeSurface) {
    Chain c;
    fill(c.back, 0x00ABCDEF);
    EXPECT_EQ(at(c.back, 0, 0), 0x00ABCDEFu);
    EXPECT_EQ(at(c.back, 639, 479), 0x00ABCDEFu);
    RECT r{10, 20, 30, 25};
    fill(c.back, 0x0000FF00, &r);
    EXPECT_EQ(at(c.back, 10, 20), 0x0000FF00u);
    EXPECT_EQ(at(c.back, 29, 24), 0x0000FF00u);
    EXPECT_EQ(at(c.back, 30, 24), 0x00ABCDEFu);
    EXPECT_EQ(at(c.back, 29, 25), 0x00ABCDEFu);
    EXPECT_EQ(at(c.back, 9, 20), 0x00ABCDEFu);
    RECT outside{600, 460, 900, 900};  // clipped, not written past the end
    fill(c.back, 0x00000001, &outside);
    EXPECT_EQ(at(c.back, 639, 479), 1u);
}

TEST(DirectDraw, FlipShowsTheBackBufferAndSwapsTheChain) {
    watchDisplay();
    Chain c;
    fill(c.primary, 0x00000000);
    fill(c.back, 0x00FF0000);
    int blanks = g_blanks;
    int64_t before = vtNow();
    ASSERT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_GT(vtNow(), before);  // waited for a vertical blank
    EXPECT_GT(g_blanks, blanks);
    EXPECT_EQ(g_shown[0], 0x00FF0000u);
    EXPECT_EQ(g_shown[640 * 480 - 1], 0x00FF0000u);
    EXPECT_EQ(at(c.back, 5, 5), 0u);  // the old front is the new back
    fill(c.back, 0x000000FF);
    ASSERT_EQ(c.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(g_shown[1000], 0x000000FFu);
    EXPECT_EQ(at(c.back, 5, 5), 0x00FF0000u);

    IDirectDrawSurface* off = nullptr;
    DDSURFACEDESC d = offscreenDesc();
    ASSERT_EQ(c.dd->CreateSurface(&d, &off, nullptr), DD_OK);
    EXPECT_EQ(off->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
    EXPECT_EQ(c.back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
    off->Release();
    vtSetFrameHook(nullptr);
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
    IDirectDraw* dd = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    DDSURFACEDESC pd{};
    pd.dwSize = 108;
    pd.dwFlags = DDSD_CAPS;
    pd.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY;
    IDirectDrawSurface *primary = nullptr, *off = nullptr;
    ASSERT_EQ(dd->CreateSurface(&pd, &primary, nullptr), DD_OK);
    DDSURFACEDESC od = offscreenDesc();
    ASSERT_EQ(dd->CreateSurface(&od, &off, nullptr), DD_OK);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);

    // A picture whose pixels name their place.
    DDSURFACEDESC desc{};
    ASSERT_EQ(off->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    auto* px = (uint32_t*)desc.lpSurface;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) px[y * 640 + x] = (uint32_t)(y << 10 | x) + 1;
    off->Unlock(nullptr);
    std::vector<uint32_t> black(640 * 480, 0u);
    sysPresent(window, black.data(), 640, 480, 2560, 0, 0);  // a known display to start from
    // The show's destination: the client rectangle moved to its screen place.
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 634);
    ASSERT_EQ(client.bottom, 471);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT dest{client.left + origin.x, client.top + origin.y, client.right + origin.x, client.bottom + origin.y};
    ASSERT_EQ(primary->Blt(&dest, off, &client, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(g_shown[0], 1u);
    EXPECT_EQ(g_shown[470 * 640 + 633], (uint32_t)(470 << 10 | 633) + 1);
    EXPECT_EQ(g_shown[470 * 640 + 634], 0u);  // right of the client area: untouched
    EXPECT_EQ(g_shown[471 * 640 + 10], 0u);   // below it: untouched

    // A rectangle hanging off the client area's top-left is clipped too: a new
    // picture shows only in the part that falls inside, the rest keeps the old.
    ASSERT_EQ(off->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    px = (uint32_t*)desc.lpSurface;
    for (int i = 0; i < 640 * 480; i++) px[i] |= 0x800000;
    off->Unlock(nullptr);
    RECT src{0, 0, 100, 100};
    RECT shifted{origin.x - 30, origin.y - 40, origin.x + 70, origin.y + 60};
    ASSERT_EQ(primary->Blt(&shifted, off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(g_shown[0], ((uint32_t)(40 << 10 | 30) + 1) | 0x800000);
    EXPECT_EQ(g_shown[59 * 640 + 69], ((uint32_t)(99 << 10 | 99) + 1) | 0x800000);
    EXPECT_EQ(g_shown[60 * 640 + 0], (uint32_t)(60 << 10 | 0) + 1);
    EXPECT_EQ(g_shown[0 * 640 + 70], (uint32_t)(0 << 10 | 70) + 1);
    vtSetFrameHook(nullptr);
    clipper->Release();
    off->Release();
    primary->Release();
    dd->Release();
}

TEST(DirectDraw, CopyBetweenSurfacesIsClipped) {
    Chain c;
    IDirectDrawSurface* off = nullptr;
    DDSURFACEDESC d = offscreenDesc();
    ASSERT_EQ(c.dd->CreateSurface(&d, &off, nullptr), DD_OK);
    fill(off, 0x00123456);
    fill(c.back, 0);
    RECT src{0, 0, 100, 100}, dst{600, 450, 700, 550};
    ASSERT_EQ(c.back->Blt(&dst, off, &src, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(at(c.back, 639, 479), 0x00123456u);
    EXPECT_EQ(at(c.back, 599, 479), 0u);
    off->Release();
}

// Each set-up step can be made to fail; the failure is persistent, so each
// runs in a child process.
class DirectDrawFailure : public ::testing::TestWithParam<const char*> {};

// Makes the step fail and runs the set-up up to it: 0 when it reported an error.
int runFailingStep(const std::string& step) {
        vtFailStep(step);
        HRESULT result = DD_OK;
        IDirectDraw* dd = nullptr;
        HRESULT created = DirectDrawCreate(nullptr, &dd, nullptr);
        if (step == "DirectDrawCreate") {
            result = created;
            if (dd) return 3;
        } else if (step == "SetCooperativeLevel") {
            result = dd->SetCooperativeLevel(nullptr, 0x11);
        } else if (step == "SetDisplayMode") {
            result = dd->SetDisplayMode(640, 480, 32);
        } else {
            IDirectDrawSurface *primary = nullptr, *back = nullptr;
            DDSURFACEDESC pd = fullscreenPrimaryDesc();
            HRESULT p = dd->CreateSurface(&pd, &primary, nullptr);
            if (step == "CreateSurface:primary") {
                result = p;
            } else if (step == "CreateSurface:offscreen") {
                DDSURFACEDESC od = offscreenDesc();
                result = dd->CreateSurface(&od, &back, nullptr);
            } else if (step == "GetAttachedSurface") {
                DDSCAPS caps{DDSCAPS_BACKBUFFER};
                result = primary->GetAttachedSurface(&caps, &back);
            } else if (step == "Lock") {
                DDSURFACEDESC desc{};
                result = primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
            } else {
                IDirectDrawClipper* clipper = nullptr;
                HRESULT c = dd->CreateClipper(0, &clipper, nullptr);
                if (step == "CreateClipper") result = c;
                else if (step == "SetHWnd") result = clipper->SetHWnd(0, nullptr);
                else if (step == "SetClipper") result = primary->SetClipper(clipper);
            }
        }
        return result != DD_OK ? 0 : 1;
}

TEST_P(DirectDrawFailure, StepReportsAnError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string step = GetParam();
    EXPECT_EXIT(std::_Exit(runFailingStep(step)), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Steps, DirectDrawFailure,
                         ::testing::Values("DirectDrawCreate", "SetCooperativeLevel", "SetDisplayMode",
                                           "CreateSurface:primary", "CreateSurface:offscreen", "GetAttachedSurface",
                                           "CreateClipper", "SetHWnd", "SetClipper", "Lock"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& ch : name)
                                 if (ch == ':') ch = '_';
                             return name;
                         });

TEST(DirectDraw, DisplayModeOtherThan640x480x32Fails) {
    IDirectDraw* dd = nullptr;
    ASSERT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
    EXPECT_NE(dd->SetDisplayMode(800, 600, 16), DD_OK);
    EXPECT_EQ(dd->SetDisplayMode(640, 480, 32), DD_OK);
    dd->Release();
}
