// Block copy and clear, the frame clock, and the display set-up's failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "display/display.h"
#include "platform/virtual/virtual.h"
#include "shell/shell.h"
#include "shell/state.h"

// Copy and clear touch whole 64-byte blocks only, at any address. (Whole
// pictures are copied in test_images and cleared in test_direction.)
TEST(Blocks, CopyAndClearTouchWholeBlocksOnly) {
    std::vector<uint8_t> src(1100), dst(1100, 0xEE);
    for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(i * 7 + 3);
    copyBlocks64(dst.data() + 3, src.data() + 5, 1000);  // 15 blocks
    EXPECT_EQ(memcmp(dst.data() + 3, src.data() + 5, 960), 0);
    EXPECT_EQ(std::tuple(dst[2], dst[963]), std::tuple(0xEE, 0xEE));
    clearBuffer(dst.data() + 1, 100);  // one block
    EXPECT_EQ(std::tuple(dst[0], std::count(dst.begin() + 1, dst.begin() + 65, 0), dst[65]), std::tuple(0xEE, 64, src[67]));
}

// Only the low halves of the counter count, as an unsigned difference: a
// previous reading 2^32 ticks further back (a wrap of the low half in
// between) still gives the 25 ms since.
TEST(FrameClock, MeasuresHundredthsOfASecondAcrossAWrap) {
    for (int64_t back : {(int64_t)0, (int64_t)1 << 32}) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        g_lastCounter = now.QuadPart - back;
        Sleep(25);
        updateFrameClock();
        EXPECT_FLOAT_EQ(g_frameDelta, 2.5f) << back;
    }
}

struct Failure { bool fullscreen; const char *step, *message; };
class DisplayFailure : public ::testing::TestWithParam<Failure> {};

// Each failing step shows its own message in the error box and the process
// ends with exit code 1 (a failure); nothing after the failing step runs.
TEST_P(DisplayFailure, ShowsItsMessageAndEndsWithOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Failure f = GetParam();
    EXPECT_EXIT(
        {
            vtFailStep(f.step);
            // The show's window for each mode.
            WNDCLASSA wc = {};
            wc.lpfnWndProc = mainWindowProc;
            wc.lpszClassName = "Orrindale";
            RegisterClassA(&wc);
            g_hwnd = f.fullscreen ? CreateWindowExA(WS_EX_TOPMOST, "Orrindale", "Velkor 2001", WS_POPUP, 0, 0, 1280,
                                                    1024, nullptr, nullptr, nullptr, nullptr)
                                  : CreateWindowExA(0, "Orrindale", "Velkor 2001", WS_SYSMENU, 0, 0, 640, 500,
                                                    nullptr, nullptr, nullptr, nullptr);
            f.fullscreen ? initDisplayFullscreen(g_hwnd) : initDisplayWindowed(g_hwnd);
            if (std::string(f.step) == "Lock") present2DWindowed(g_hwnd);
            fprintf(stderr, "set-up went on\n");
            ExitProcess(7);
        },
        ::testing::ExitedWithCode(1), std::string("^Error! ") + f.message + "\n$");
}

INSTANTIATE_TEST_SUITE_P(
    AllMessages, DisplayFailure,
    ::testing::Values(Failure{true, "DirectDrawCreate", "Cannot create DirectDraw object!"},
                      Failure{true, "SetCooperativeLevel", "Cannot set exclusive cooperative level!"},
                      Failure{true, "SetDisplayMode", "Set Display Mode failed!"},
                      Failure{true, "CreateSurface:primary", "Cannot create primary surface!"},
                      Failure{true, "GetAttachedSurface", "Cannot Get Attached Surface!"},
                      Failure{false, "DirectDrawCreate", "Cannot create DirectDraw object!"},
                      Failure{false, "SetCooperativeLevel", "Cannot set exclusive cooperative level!"},
                      Failure{false, "CreateSurface:primary", "Cannot create primary surface!"},
                      Failure{false, "CreateSurface:offscreen", "Cannot create back surface!"},
                      Failure{false, "CreateClipper", "Cannot create clipper!"},
                      Failure{false, "SetHWnd", "Cannot set Clipper to hWnd!"},
                      Failure{false, "SetClipper", "Cannot attach front buffer!"},
                      Failure{false, "Lock", "Lock sucks!"}),
    [](const ::testing::TestParamInfo<Failure>& info) {
        std::string name = std::string(info.param.fullscreen ? "Fullscreen_" : "Windowed_") + info.param.step;
        std::replace(name.begin(), name.end(), ':', '_');
        return name;
    });
