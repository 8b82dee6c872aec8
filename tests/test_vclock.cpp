// The virtual clock: threads take turns in wake-up order, work costs no
// virtual time, the display blanks at its rate, and ExitProcess ends the run.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

namespace {

std::vector<std::string> g_log;

// Three naps of `param` ms, each logged as "ms@time".
DWORD sleeper(void* param) {
    const int ms = (int)(intptr_t)param;
    for (int i = 0; i < 3; i++) Sleep(ms), g_log.push_back(std::to_string(ms) + "@" + std::to_string(vtNow() / 10000));
    return 0;
}

}  // namespace

// Time moves only while every thread waits; the counter runs at 10 MHz.
TEST(VirtualClock, ThreadsRunInWakeOrderAndTimeOnlyMovesWhenAllWait) {
    g_log.clear();
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    const int64_t start = vtNow(), base = start / 10000;
    CreateThread(nullptr, 0, sleeper, (void*)(intptr_t)7, 0, nullptr);
    CreateThread(nullptr, 0, sleeper, (void*)(intptr_t)10, 0, nullptr);
    CreateThread(nullptr, 0, [](void*) -> DWORD { Sleep(5), g_log.push_back("exiting"), ExitThread(0); }, nullptr, 0,
                 nullptr);
    EXPECT_EQ(vtNow(), start);  // creating threads costs nothing
    Sleep(100);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(std::tuple(f.QuadPart, b.QuadPart - a.QuadPart, vtNow() - start), std::tuple(10000000, 1000000, 1000000));
    std::vector<std::string> expected{"exiting"};
    for (auto [ms, t] : {std::pair{7, 7}, {10, 10}, {7, 14}, {10, 20}, {7, 21}, {10, 30}})
        expected.push_back(std::to_string(ms) + "@" + std::to_string(base + t));
    EXPECT_EQ(g_log, expected);
}

TEST(VirtualClock, PresentationWaitsForTheNextBlank) {
    std::vector<int64_t> blanks;
    vtSetFrameHook([&](int64_t t, const uint32_t*, int, int) { blanks.push_back(t); });
    uint32_t pixel = 0x00FF0000;
    for (int i = 0; i < 3; i++) {
        int64_t before = vtNow();
        vtShowPicture(&pixel, 1, 1, 4, 0, 0);
        vtWaitVblank();
        EXPECT_GT(vtNow(), before);
        EXPECT_LE(vtNow() - before, kVtTicksPerSecond / 60 + 1);
    }
    vtSetFrameHook(nullptr);
    ASSERT_EQ(blanks.size(), 3u);
    EXPECT_NEAR((double)(blanks[2] - blanks[1]), kVtTicksPerSecond / 60.0, 1.0);
}

TEST(VirtualClockDeath, ExitProcessEndsWithItsCodeFromAnyThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CreateThread(nullptr, 0, [](void*) -> DWORD { ExitProcess(0); }, nullptr, 0, nullptr);
            Sleep(1000);
            ExitProcess(3);
        },
        ::testing::ExitedWithCode(0), "");
}
