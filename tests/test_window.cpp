// The window core on the headless backend: the message queue's order,
// destroying the focused window, posting from other threads, geometry and
// the cursor count.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/virtual/virtual.h"
#include "platform/win/win.h"
#include "platform/win/wincore.h"
#include "stderr_lines.h"

namespace {

using Seen = std::vector<std::tuple<HWND, UINT, WPARAM, LPARAM>>;
Seen g_seen;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.emplace_back(window, message, wParam, lParam);
    return (LRESULT)message + 1000;
}

HWND newWindow(DWORD style) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Recording";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "Recording", "test", style, 0, 0, 640, 500, nullptr, nullptr, nullptr, nullptr);
}

// Takes every queued message, dispatching each.
void drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

}  // namespace

TEST(WindowCore, MessagesComeInPostingOrderAndAnEmptyQueueIsAPass) {
    HWND a = newWindow(WS_SYSMENU), b = newWindow(WS_POPUP);
    drain();
    g_seen.clear();
    ASSERT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    for (int i = 0; i < 5; i++) PostMessageA(i % 2 ? b : a, WM_KEYDOWN, 'A' + i, i * 10);
    MSG msg;
    // Looking without removing leaves the message first; no pass is counted
    // while messages wait.
    const int64_t passes = winPassCount();
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, (WPARAM)'A');
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), (LRESULT)WM_KEYDOWN + 1000);  // the procedure's answer
    drain();
    EXPECT_EQ(winPassCount(), passes + 1);  // the one turn that found the queue empty
    EXPECT_EQ(g_seen, (Seen{{a, WM_KEYDOWN, 'A', 0}, {b, WM_KEYDOWN, 'B', 10}, {a, WM_KEYDOWN, 'C', 20},
                            {b, WM_KEYDOWN, 'D', 30}, {a, WM_KEYDOWN, 'E', 40}}));
    // Geometry: a window's client area lies below its caption; a popup's is the window.
    RECT r;
    POINT p{5, 5};
    ASSERT_TRUE(GetClientRect(a, &r) && ClientToScreen(a, &p));
    EXPECT_EQ(std::tuple(r.right, r.bottom, p.x, p.y), std::tuple(640, 480, 5, 25));
    p = {5, 5};
    ASSERT_TRUE(GetClientRect(b, &r) && ClientToScreen(b, &p));
    EXPECT_EQ(std::tuple(r.right, r.bottom, p.x, p.y), std::tuple(640, 500, 5, 5));
    // The cursor is shown while its count is not negative, as the system counts it.
    std::vector<int> counts;
    for (BOOL show : {FALSE, FALSE, TRUE, TRUE}) counts.push_back(ShowCursor(show));
    EXPECT_EQ(counts, (std::vector<int>{-1, -2, -1, 0}));
}

TEST(WindowCore, DestroyingTheFocusedWindowTellsItOnceAndDropsItsMessages) {
    HWND first = newWindow(WS_POPUP), second = newWindow(WS_POPUP);
    ShowWindow(second, SW_SHOW);
    SetFocus(second);
    PostMessageA(second, WM_KEYDOWN, VK_SPACE, 0);  // queued before it goes
    g_seen.clear();
    ASSERT_EQ(GetForegroundWindow(), second);
    EXPECT_TRUE(DestroyWindow(second));
    EXPECT_EQ(g_seen, (Seen{{second, WM_DESTROY, 0, 0}}));
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(second));
    EXPECT_FALSE(ShowWindow(second, SW_SHOW));
    SetFocus(second);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(winNative(second), nullptr);
    drain();
    EXPECT_EQ(g_seen.size(), 1u);  // the queued key is not dispatched to the gone window
    // The close box of the first window: DefWindowProcA destroys it.
    g_seen.clear();
    DefWindowProcA(first, WM_CLOSE, 0, 0);
    EXPECT_EQ(g_seen, (Seen{{first, WM_DESTROY, 0, 0}}));
}

// Scripted input without a focused window goes to the oldest window there is.
TEST(WindowCore, InputWithoutFocusGoesToTheFirstWindowLeft) {
    HWND w = newWindow(WS_POPUP);
    while (winFirstWindow() != w) DestroyWindow(winFirstWindow());
    g_seen.clear();
    vtScheduleKey(vtNow() / 1e7, (int)VK_ESCAPE);
    drain();
    EXPECT_EQ(g_seen, (Seen{{w, WM_KEYDOWN, VK_ESCAPE, 0}}));
}

// Messages posted by the show's own threads and by threads the virtual clock
// does not know come to GetMessageA whole and, from one thread, in order.
TEST(WindowCore, MessagesPostedFromOtherThreadsArriveInOrder) {
    HWND w = newWindow(WS_POPUP);
    drain();
    static HWND target;
    target = w;
    CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            for (int i = 0; i < 50; i++) {
                PostMessageA(target, WM_KEYDOWN, (WPARAM)i, 1);
                if (i % 10 == 9) Sleep(5);
            }
            return 0;
        },
        nullptr, 0, nullptr);
    std::atomic<bool> go{false};
    std::thread outside([&] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 50; i++) PostMessageA(target, WM_KEYDOWN, (WPARAM)i, 2);
    });
    go = true;
    std::vector<WPARAM> fromClock, fromOutside;
    MSG msg;
    while (fromClock.size() + fromOutside.size() < 100) {
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        (msg.lParam == 1 ? fromClock : fromOutside).push_back(msg.wParam);
    }
    outside.join();
    std::vector<WPARAM> expected(50);
    for (int i = 0; i < 50; i++) expected[i] = (WPARAM)i;
    EXPECT_EQ(fromClock, expected);
    EXPECT_EQ(fromOutside, expected);
}

// A message box writes its one line and is recorded; the run goes on.
TEST(WindowCore, MessageBoxSaysItsLineOnce) {
    int answer = 0;
    auto lines = stderrLines([&] { answer = MessageBoxA(nullptr, "Set Display Mode failed!", "Error!", 0x30); });
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(lines, std::vector<std::string>{"Error! Set Display Mode failed!"});
    EXPECT_EQ(vtMessageBoxes().back(), "Set Display Mode failed!");
}
