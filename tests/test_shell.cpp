// The shell: the settings dialog's choices, the ways out of the dialog, the
// main loop's turns and the finale's fade.
// (Escape during the show is checked on the whole show, in test_e2e.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "direction/direction.h"
#include "display/display.h"
#include "platform/virtual/virtual.h"
#include "recording_rm.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

namespace {

// A trace file both the test and its death-test child can name: the pass
// number and the text of each line (after the time column).
std::string tempPath(const char* name) { return std::string(::testing::TempDir()) + "velkor-" + name; }

std::vector<std::pair<long, std::string>> readTrace(const std::string& path) {
    std::vector<std::pair<long, std::string>> lines;
    std::ifstream in(path);
    double ms;
    long pass;
    for (std::string text; in >> ms >> pass && std::getline(in, text);) lines.emplace_back(pass, text.erase(0, 1));
    std::remove(path.c_str());
    return lines;
}

void runWinMain(const std::string& trace, const std::vector<std::string>& dialog) {
    vtSetTraceFile(trace);
    vtSetDialogScript(dialog);
    static char none[] = "";
    WinMain(nullptr, nullptr, none, SW_SHOW);
}

// The show's window and scene graph, as WinMain makes them.
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

}  // namespace

// The last radio button clicked before Launch! wins; Enter launches nothing.
TEST(SettingsDialog, TheLastRadioClickWinsAndEnterDoesNothing) {
    const struct { std::vector<std::string> script; int before, after; } runs[] = {{{"click:101", "enter", "click:103"}, 1, 0},
                {{"click:101", "click:100", "click:103"}, 0, 1},
                {{"click:103"}, 1, 1}};
    for (const auto& r : runs) {
        g_fullscreen = r.before;
        vtSetDialogScript(r.script);
        DialogBoxParamA(nullptr, "DIALOG_1", nullptr, settingsDialogProc, 0);
        EXPECT_EQ(g_fullscreen, r.after) << r.script[0] << " " << r.script.size();
    }
}

TEST(SettingsDialogDeath, EscapeCloseAndExitEndTheProcessBeforeAnyWindow) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Every child first: a threadsafe death test's child runs the test again
    // up to its statement, and reading a trace removes it.
    const char* const ways[] = {"escape", "close", "click:102"};
    for (const char* way : ways)
        EXPECT_EXIT((runWinMain(tempPath(way), {way}), ExitProcess(5)), ::testing::ExitedWithCode(0), "") << way;
    for (const char* way : ways) {
        auto lines = readTrace(tempPath(way));
        ASSERT_FALSE(lines.empty()) << way;  // the dialog's action is traced
        for (auto& [pass, text] : lines) EXPECT_NE(text.rfind("window", 0), 0u) << text;
    }
}

// The whole start-up on the headless backend, without data: key presses that
// arrive together are handled one per turn, and no pass runs in between.
TEST(MainLoopDeath, HandlesOneMessagePerTurnAndNoPassWhileMessagesWait) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string trace = tempPath("pump-trace");
    EXPECT_EXIT(
        {
            for (int i = 0; i < 4; i++) vtScheduleKey(0.5, 'A' + i);
            vtEndAt(0.6);
            runWinMain(trace, {"click:103"});
        },
        ::testing::ExitedWithCode(0), "");
    std::vector<long> passes;
    auto lines = readTrace(trace);
    for (auto& [pass, text] : lines)
        if (text.rfind("message 0x100", 0) == 0) passes.push_back(pass);
    ASSERT_EQ(passes.size(), 4u);
    EXPECT_EQ(passes, std::vector<long>(4, passes[0]));  // no pass between the four
    EXPECT_GT(passes[0], 0);                            // passes ran before them
    EXPECT_GT(lines.back().first, passes[0]);           // and after them
}

// The finale: the two st meshes fade from alpha 0x7F to 0 over the first 101
// passes, and the process ends by itself (the music's slow-down is checked on
// the whole show's trace).
TEST(FinaleDeath, FadesTheStMeshesAndEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static fake::Mesh st, stShell;
    EXPECT_EXIT(
        {
            openWindowAndScene();
            st.name = "meshSt";
            stShell.name = "meshStShell";
            meshSt = &st;
            meshStShell = &stShell;
            g_scene = 4;
            g_show3D = g_finale = g_timelineDone = 1;
            g_show2D = g_sceneReady = 0;
            vtSetExitHook([](int) {
                if (auto& log = fake::g_log; !log.empty())
                    fprintf(stderr, "colours=%zu first=%s last=%s\n", log.size(), log[0].c_str(), log.back().c_str());
            });
            for (;;) runShowPass();
        },
        ::testing::ExitedWithCode(0),
        "colours=202 first=meshSt.SetColor\\(7fffffff\\) last=meshStShell.SetColor\\(00ffffff\\)");
}
