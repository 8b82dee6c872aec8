// The virtual clock: threads take turns in wake-up order, work costs no
// virtual time, the display blanks at its rate, and ExitProcess ends the run.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

namespace {

std::vector<std::string> g_log;

DWORD sleeper(void* param) {
    int ms = (int)(intptr_t)param;
    for (int i = 0; i < 3; i++) {
        Sleep(ms);
        g_log.push_back(std::to_string(ms) + "@" + std::to_string(vtNow() / 10000));
    }
    return 0;
}

DWORD exiter(void*) {
    Sleep(5);
    g_log.push_back("exiting");
    ExitThread(0);
}

}  // namespace

TEST(VirtualClock, ThreadsRunInWakeOrderAndTimeOnlyMovesWhenAllWait) {
    g_log.clear();
    int64_t start = vtNow();
    CreateThread(nullptr, 0, sleeper, (void*)(intptr_t)7, 0, nullptr);
    CreateThread(nullptr, 0, sleeper, (void*)(intptr_t)10, 0, nullptr);
    EXPECT_EQ(vtNow(), start);  // creating threads costs nothing
    Sleep(100);
    EXPECT_EQ(vtNow() - start, 100 * 10000);
    std::vector<std::string> expected;
    int64_t base = start / 10000;
    for (auto [ms, t] : std::vector<std::pair<int, int>>{{7, 7}, {10, 10}, {7, 14}, {7, 21}, {10, 20}, {10, 30}})
        expected.push_back(std::to_string(ms) + "@" + std::to_string(base + t));
    std::sort(expected.begin(), expected.end(), [&](const std::string& a, const std::string& b) {
        return std::stoi(a.substr(a.find('@') + 1)) < std::stoi(b.substr(b.find('@') + 1));
    });
    EXPECT_EQ(g_log, expected);
}

TEST(VirtualClock, ExitThreadEndsOnlyThatThread) {
    g_log.clear();
    CreateThread(nullptr, 0, exiter, nullptr, 0, nullptr);
    Sleep(20);
    ASSERT_EQ(g_log, std::vector<std::string>{"exiting"});
}

TEST(VirtualClock, CounterRunsAtTenMegahertz) {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    EXPECT_EQ(f.QuadPart, 10000000);
    QueryPerformanceCounter(&a);
    Sleep(25);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(b.QuadPart - a.QuadPart, 250000);
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
            CreateThread(
                nullptr, 0, [](void*) -> DWORD { ExitProcess(0); }, nullptr, 0, nullptr);
            Sleep(1000);
            ExitProcess(3);
        },
        ::testing::ExitedWithCode(0), "");
}
