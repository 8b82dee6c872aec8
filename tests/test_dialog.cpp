// The settings dialog: the linked template, its layout, the dialog manager's
// rules as a dialog procedure sees them, the headless script, and templates
// that are damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/virtual/virtual.h"
#include "platform/win/dialog.h"
#include "platform/win/win.h"
#include "stderr_lines.h"

namespace {

std::vector<BYTE> dialog1Bytes() {
    for (const ResourceEntry* e = g_resources; e->name; e++)
        if (strcmp(e->name, "DIALOG_1") == 0) return std::vector<BYTE>(e->data, e->data + e->size);
    return {};
}

DialogTemplate dialog1() {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, &error)) << error;
    return t;
}

// --- The template ---------------------------------------------------------------

// The fields no layout or input rule shows: caption, font, classes, texts
// (positions, ids and styles are seen through the layout and the manager).
TEST(DialogTemplate, ParsesToTheSettingsDialog) {
    ASSERT_EQ(g_resources[1].name, nullptr);  // one entry, then the null entry
    DialogTemplate t = dialog1();
    EXPECT_EQ(std::tuple(t.caption, t.pointSize, t.face), std::tuple("please configure settings", 8, "Helv"));
    std::string items;
    for (const DialogItemTemplate& c : t.items) items += c.windowClass + " " + c.text + "; ";
    EXPECT_EQ(items, "static Fullscreen; button ; button Windowed; button Launch!; button Exit; ");
}

// Laid out with 6 x 13 pixel base units: x is du * 6 / 4, y is du * 13 / 8,
// halves rounded up.
TEST(DialogTemplate, LayoutRoundsDialogUnitsAndHitTestFindsControls) {
    DialogTemplate t = dialog1();
    Dialog d;
    dialogLayout(t, 6, 13, &d);
    EXPECT_EQ(std::tuple(d.x, d.y, d.width, d.height), std::tuple(264, 146, 218, 63));
    ASSERT_EQ(d.controls.size(), 5u);
    const RECT& launch = d.controls[3].rect;  // 1.5, 40.625, + 60, + 22.75
    EXPECT_EQ(std::tuple(launch.left, launch.top, launch.right, launch.bottom), std::tuple(2, 41, 62, 64));
    EXPECT_EQ(d.controls[4].rect.left, 155);  // 154.5
    for (int i = 0; i < 5; i++) EXPECT_EQ(dialogControlAt(d, d.controls[i].rect.left, d.controls[i].rect.top), i);
    EXPECT_EQ(dialogControlAt(d, 100, 30), -1);  // between the rows
    EXPECT_EQ(dialogControlAt(d, -1, 5), -1);
    EXPECT_NE(dialogControlAt(d, d.controls[4].rect.right, d.controls[4].rect.top), 4);  // right edge is outside
    // Other metrics scale the same way.
    dialogLayout(t, 8, 16, &d);
    EXPECT_EQ(std::tuple(d.width, d.height, d.controls[2].rect.left), std::tuple(290, 78, 194));
}

// --- Damaged templates -----------------------------------------------------------

TEST(DialogTemplateDamage, EveryTruncationIsRejected) {
    std::vector<BYTE> bytes = dialog1Bytes();
    for (size_t n = 0; n < bytes.size(); n++) {
        // A copy of exactly n bytes so that a read past the end is caught.
        std::vector<BYTE> cut(bytes.begin(), bytes.begin() + n);
        std::string error;
        DialogTemplate t;
        EXPECT_TRUE(!dialogParseTemplate(cut.data(), cut.size(), &t, &error) && !error.empty()) << "length " << n;
    }
    std::string error;
    EXPECT_FALSE(dialogParseTemplate(nullptr, 100, nullptr, &error));
}

TEST(DialogTemplateDamage, BadFieldsAreNamed) {
    const std::vector<BYTE> bytes = dialog1Bytes();
    const struct { size_t at, length; std::vector<BYTE> written; const char* named; } cases[] = {
        {2, 320, {0}, "not an extended dialog template"},  // signature
        {100 + 26, 320, {0x99}, "control 1"},               // first control's class atom
        {232 + 44, 320, {0xFF, 0xFF}, "control 4"},         // "Launch!" creation data past the end
        {16, 320, {200}, "truncated"},                      // claims 200 controls
        {0, 60, {}, "title"},                               // the title's terminator cut off
    };
    for (const auto& c : cases) {
        std::vector<BYTE> b(bytes.begin(), bytes.begin() + c.length);
        std::copy(c.written.begin(), c.written.end(), b.begin() + c.at);
        std::string error;
        EXPECT_FALSE(dialogParseTemplate(b.data(), b.size(), nullptr, &error)) << c.named;
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

TEST(DialogTemplateDamage, UnknownTemplateNameOrStaleHandleIsHarmless) {
    INT_PTR r = 0;
    auto proc = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return 0; };
    auto lines = stderrLines([&] { r = DialogBoxParamA(nullptr, "DIALOG_9", nullptr, proc, 0); });
    EXPECT_EQ(r, -1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "DIALOG_9")) << lines[0];

    Dialog notRunning;
    EXPECT_EQ(EndDialog(dialogHandle(notRunning), 5), FALSE);
    EXPECT_FALSE(notRunning.ended);
    EXPECT_EQ(SendDlgItemMessageA(dialogHandle(notRunning), 100, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(nullptr, 100, BM_SETCHECK, 1, 0), 0);
}

// --- The dialog manager, as a dialog procedure sees it ---------------------------

// Each message the procedure saw: the message, its wParam (the lParam for
// WM_INITDIALOG) and the states of radio buttons 100 and 101 when it came.
using Events = std::vector<std::tuple<UINT, WPARAM, LRESULT, LRESULT>>;
Events g_events;
INT_PTR g_initAnswer = 0;

std::vector<WPARAM> commands() {
    std::vector<WPARAM> out;
    for (const auto& [message, wParam, check100, check101] : g_events)
        if (message == WM_COMMAND) out.push_back(wParam);
    return out;
}

// Behaves like the show's procedure, but ends the dialog instead of the
// process on "Exit" and cancel, so that the test can look afterwards.
INT_PTR recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SendDlgItemMessageA(dialog, 100, BM_SETCHECK, BST_CHECKED, 0);
    auto check = [&](int id) { return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0); };
    g_events.emplace_back(message, message == WM_INITDIALOG ? (WPARAM)lParam : wParam, check(100), check(101));
    if (message == WM_INITDIALOG) return g_initAnswer;
    if (message == WM_COMMAND && (wParam == 103 || wParam == 102 || wParam == (WPARAM)IDCANCEL))
        EndDialog(dialog, wParam == 103 ? 0 : (INT_PTR)wParam);
    return 0;
}

INT_PTR runScript(const std::vector<std::string>& script, INT_PTR initAnswer = 0) {
    g_events.clear();
    g_initAnswer = initAnswer;
    vtSetDialogScript(script);
    return DialogBoxParamA(nullptr, "DIALOG_1", nullptr, recordingProc, 1234);
}

using Commands = std::vector<WPARAM>;

TEST(DialogManager, KeysAndClicksSendTheirCommands) {
    const WPARAM ok = IDOK, cancel = (WPARAM)IDCANCEL;
    const struct { std::vector<std::string> script; INT_PTR initAnswer, result; Commands commands; } cases[] = {
        // Enter without a focused push button sends IDOK, which launches nothing;
        // a clicked radio button has the focus but is no push button.
        {{"enter", "click:103"}, 0, 0, {ok, 103}},
        {{"click:101", "enter", "click:103"}, 0, 0, {101, ok, 103}},
        // Tab goes through the tab stops and wraps; Enter presses the focused one.
        {{"tab", "enter"}, 0, 0, {103}},
        {{"tab", "tab", "enter"}, 0, 102, {102}},
        {{"tab", "tab", "tab", "enter"}, 0, 0, {103}},
        {{"click:100", "tab", "space"}, 0, 0, {100, 103}},
        // Space clicks the focused control only.
        {{"space", "tab", "space"}, 0, 0, {103}},
        {{"click:101", "space", "click:103"}, 0, 0, {101, 101, 103}},
        {{"escape"}, 0, IDCANCEL, {cancel}},
        // A non-zero answer to WM_INITDIALOG focuses the first tab stop.
        {{"enter"}, 1, 0, {103}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runScript(c.script, c.initAnswer), c.result) << testing::PrintToString(c.script);
        EXPECT_EQ(commands(), c.commands) << testing::PrintToString(c.script);
    }
}

// The procedure hears WM_INITDIALOG first, with the caller's value; a radio
// click unchecks the other button; "close" is offered as WM_CLOSE before
// IDCANCEL.
TEST(DialogManager, InitComesFirstLastRadioClickWinsCloseIsOffered) {
    runScript({"click:101", "click:100", "close"});
    const LRESULT on = BST_CHECKED, off = BST_UNCHECKED;
    EXPECT_EQ(g_events, (Events{{WM_INITDIALOG, 1234, on, off}, {WM_COMMAND, 101, off, on}, {WM_COMMAND, 100, on, off},
                                {WM_CLOSE, 0, on, off}, {WM_COMMAND, IDCANCEL, on, off}}));
}

TEST(DialogScriptDeathTest, ScriptThatRunsOutEndsTheRunAndTheDefaultLaunches) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runScript({"click:101", "bogus", "click:555"}), testing::ExitedWithCode(0),
                "unknown action \"bogus\"(.|\n)*no control with id 555(.|\n)*script ended");
    // A fresh process, so the script is the one the backend starts with.
    EXPECT_EXIT(
        {
            DialogBoxParamA(nullptr, "DIALOG_1", nullptr, recordingProc, 0);
            std::exit(commands() == Commands{103} ? 7 : 1);
        },
        testing::ExitedWithCode(7), "");
}

}  // namespace
