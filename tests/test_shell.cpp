// The shell: the settings dialog's choices, the ways out of the dialog and the
// main window, the show pass's block selection and the finale's sequence.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "direction/direction.h"
#include "display/display.h"
#include "platform/bass/bass.h"
#include "platform/virtual/virtual.h"
#include "recording_rm.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

namespace {

// A file both the test and its death-test child (another process) can name.
std::string tempPath(const char* name) {
    return std::string(::testing::TempDir()) + "velkor-" + name;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The text after the time and pass columns of a trace line.
std::string event(const std::string& line) {
    size_t a = line.find(' ');
    size_t b = line.find(' ', a + 1);
    return b == std::string::npos ? "" : line.substr(b + 1);
}

long passOf(const std::string& line) {
    size_t a = line.find(' ');
    return strtol(line.c_str() + a + 1, nullptr, 10);
}

}  // namespace

TEST(SettingsDialog, TheLastRadioClickWinsAndEnterDoesNothing) {
    g_fullscreen = 1;
    vtSetDialogScript({"click:101", "enter", "click:103"});
    DialogBoxParamA(nullptr, "DIALOG_1", nullptr, settingsDialogProc, 0);
    EXPECT_EQ(g_fullscreen, 0);

    vtSetDialogScript({"click:101", "click:100", "click:103"});
    DialogBoxParamA(nullptr, "DIALOG_1", nullptr, settingsDialogProc, 0);
    EXPECT_EQ(g_fullscreen, 1);

    g_fullscreen = 1;  // launching at once keeps full screen
    vtSetDialogScript({"click:103"});
    DialogBoxParamA(nullptr, "DIALOG_1", nullptr, settingsDialogProc, 0);
    EXPECT_EQ(g_fullscreen, 1);
}

TEST(SettingsDialogDeath, EscapeCloseAndExitEndTheProcessBeforeAnyWindow) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* way : {"escape", "close", "click:102"}) {
        std::string trace = tempPath("dialog-trace");
        EXPECT_EXIT(
            {
                vtSetTraceFile(trace);
                vtSetDialogScript({way});
                static char none[] = "";
                WinMain(nullptr, nullptr, none, SW_SHOW);
                ExitProcess(5);
            },
            ::testing::ExitedWithCode(0), "")
            << way;
        for (auto& line : readLines(trace)) EXPECT_EQ(event(line).rfind("window", 0), std::string::npos) << line;
        std::remove(trace.c_str());
    }
}

TEST(MainWindowDeath, EscapeFreesTheAudioStopsThePollersAndExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            BASS_Init(-1, 44100, 16, nullptr);
            g_musicPolling = 1;
            vtSetExitHook([](int) {
                // A freed library opens again; one still open refuses.
                fprintf(stderr, "polling=%d reinit=%d\n", g_musicPolling.load(),
                        BASS_Init(-1, 44100, 16, nullptr));
            });
            mainWindowProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
            ExitProcess(9);
        },
        ::testing::ExitedWithCode(0), "polling=0 reinit=1");
}

TEST(MainWindow, OtherKeysGoToTheDefaultProcedure) {
    g_musicPolling = 1;
    EXPECT_EQ(mainWindowProc(nullptr, WM_KEYDOWN, 'A', 0), 0);
    EXPECT_EQ(mainWindowProc(nullptr, WM_ACTIVATEAPP, 1, 0), 0);
    EXPECT_EQ(g_musicPolling.load(), 1);
}

// The whole start-up on the headless backend, without data: key presses that
// arrive together are handled one per turn, and no pass runs in between.
TEST(MainLoopDeath, HandlesOneMessagePerTurnAndNoPassWhileMessagesWait) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string trace = tempPath("pump-trace");
    EXPECT_EXIT(
        {
            vtSetTraceFile(trace);
            vtSetDialogScript({"click:103"});
            for (int i = 0; i < 4; i++) vtScheduleKey(0.5, 'A' + i);
            vtEndAt(0.6);
            static char none[] = "";
            WinMain(nullptr, nullptr, none, SW_SHOW);
        },
        ::testing::ExitedWithCode(0), "");
    std::vector<long> passes;
    auto lines = readLines(trace);
    for (auto& line : lines)
        if (event(line).rfind("message 0x100", 0) == 0) passes.push_back(passOf(line));
    std::remove(trace.c_str());
    ASSERT_EQ(passes.size(), 4u);
    for (long p : passes) EXPECT_EQ(p, passes[0]);  // no pass between the four
    EXPECT_GT(passes[0], 0);                        // passes ran before them
    ASSERT_FALSE(lines.empty());
    EXPECT_GT(passOf(lines.back()), passes[0]);     // and after them
}

namespace {

void openWindowAndScene() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = mainWindowProc;
    wc.lpszClassName = "Orrindale";
    RegisterClassA(&wc);
    g_hwnd = CreateWindowExA(WS_EX_TOPMOST, "Orrindale", "Velkor 2001", WS_POPUP, 0, 0, 1280, 1024, nullptr,
                             nullptr, nullptr, nullptr);
    initDisplayFullscreen(g_hwnd);
    buildSceneGraph();
}

fake::Mesh g_st, g_stShell;

}  // namespace

// The finale: 441 passes slow the music from 44100 to 100 in steps of 100;
// the two st meshes fade over the first 101; the process ends right after
// the rate of 100.
TEST(FinaleDeath, SlowsTheMusicFadesTheMeshesAndEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string trace = tempPath("finale-trace");
    EXPECT_EXIT(
        {
            vtSetTraceFile(trace);
            openWindowAndScene();
            g_st.name = "meshSt";
            g_stShell.name = "meshStShell";
            meshSt = &g_st;
            meshStShell = &g_stShell;
            g_scene = 4;
            g_show3D = 1;
            g_show2D = 0;
            g_finale = 1;
            g_sceneReady = 0;
            g_timelineDone = 1;
            vtSetExitHook([](int) {
                auto& log = fake::g_log;
                fprintf(stderr, "colours=%zu first=%s last=%s\n", log.size(), log.empty() ? "" : log.front().c_str(),
                        log.empty() ? "" : log.back().c_str());
            });
            for (;;) runShowPass();
        },
        ::testing::ExitedWithCode(0),
        "colours=202 first=meshSt.SetColor\\(7fffffff\\) last=meshStShell.SetColor\\(00ffffff\\)");
    std::vector<int> rates;
    for (auto& line : readLines(trace)) {
        std::string e = event(line);
        size_t at = e.find("BASS_ChannelSetAttributes(");
        if (at == std::string::npos) continue;
        size_t comma = e.find(',', at);
        rates.push_back(atoi(e.c_str() + comma + 1));
        EXPECT_NE(e.find(", -1, -101)"), std::string::npos) << e;
    }
    std::remove(trace.c_str());
    ASSERT_EQ(rates.size(), 441u);
    for (int i = 0; i < 441; i++) ASSERT_EQ(rates[i], 44100 - 100 * i);
}

// A flag holding another value than 1 selects no block.
TEST(ShowPass, AFlagOfTwoEnablesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            openWindowAndScene();
            static fake::Animation knot;
            knot.name = "knotAnim";
            g_knotAnim = &knot;
            g_timelineDone = 1;
            g_scene = 2;
            g_show3D = 1;
            g_sceneReady = 2;
            g_shake = 0;
            g_extraSpin = 1;
            runShowPass();
            g_sceneReady = 1;
            g_shake = 2;
            g_extraSpin = 2;
            size_t before = fake::g_log.size();
            runShowPass();  // a shake of 2 is neither 0 nor 1: no scene 2 update runs
            fprintf(stderr, "calls=%zu then=%zu\n", before, fake::g_log.size());
            ExitProcess(0);
        },
        ::testing::ExitedWithCode(0), "calls=0 then=0");
}
