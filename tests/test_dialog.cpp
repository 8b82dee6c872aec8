// The settings dialog: the linked template, its layout, the dialog manager's
// rules as a dialog procedure sees them, the headless script, and templates
// that are damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/virtual/virtual.h"
#include "platform/win/dialog.h"
#include "platform/win/win.h"

namespace {

std::vector<BYTE> dialog1Bytes() {
    for (const ResourceEntry* e = g_resources; e->name; e++)
        if (strcmp(e->name, "DIALOG_1") == 0) return std::vector<BYTE>(e->data, e->data + e->size);
    return {};
}

DWORD readDword(const std::vector<BYTE>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((DWORD)b[at + 3] << 24);
}

// The linked template, parsed and laid out with 6 x 13 pixel base units.
Dialog laidOut(DialogTemplate* t = nullptr) {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate parsed;
    EXPECT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &parsed, nullptr));
    Dialog d;
    dialogLayout(parsed, 6, 13, &d);
    if (t) *t = parsed;
    return d;
}

// --- The template ---------------------------------------------------------------

TEST(DialogTemplate, ParsesToTheSettingsDialog) {
    // One entry, then the null entry.
    ASSERT_NE(g_resources[0].name, nullptr);
    EXPECT_EQ(g_resources[1].name, nullptr);
    EXPECT_EQ(g_resources[1].data, nullptr);
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    std::string error;
    ASSERT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, &error)) << error;
    EXPECT_EQ(std::tuple(t.version, t.signature, t.helpId, t.exStyle, t.style), std::tuple(1, 0xFFFF, 0u, 0u,
              WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(std::tuple(t.x, t.y, t.cx, t.cy), std::tuple(176, 90, 145, 39));
    EXPECT_EQ(std::tuple(t.menu, t.windowClass, t.caption), std::tuple("", "", "please configure settings"));
    EXPECT_EQ(std::tuple(t.pointSize, t.weight, t.italic, t.charset, t.face), std::tuple(8, 0, 0, 1, "Helv"));

    using Item = std::tuple<std::string, WORD, DWORD, std::string, DWORD, int, int, int, int>;
    const Item expected[] = {
        {"static", 0x82, 101, "Fullscreen", 0x50000000, 0, 1, 37, 8},
        {"button", 0x80, 100, "", 0x50000009, 37, 1, 11, 10},
        {"button", 0x80, 101, "Windowed", 0x50000009, 97, 1, 48, 10},
        {"button", 0x80, 103, "Launch!", 0x50010000, 1, 25, 40, 14},
        {"button", 0x80, 102, "Exit", 0x50010000, 103, 25, 40, 14},
    };
    ASSERT_EQ(t.items.size(), 5u);
    for (size_t i = 0; i < 5; i++) {
        const DialogItemTemplate& c = t.items[i];
        EXPECT_EQ(Item(c.windowClass, c.classAtom, c.id, c.text, c.style, c.x, c.y, c.cx, c.cy), expected[i]) << i;
        EXPECT_EQ(std::tuple(c.helpId, c.exStyle, c.extraCount), std::tuple(0u, 0u, 0)) << i;
    }
    // Read without the parser: 320 bytes, ids are DWORDs at DWORD-aligned items.
    ASSERT_EQ(bytes.size(), 320u);
    EXPECT_EQ(readDword(bytes, 100 + 20), 101u);
    EXPECT_EQ(readDword(bytes, 280 + 20), 102u);
}

TEST(DialogTemplate, LayoutRoundsDialogUnitsAndHitTestFindsControls) {
    DialogTemplate t;
    Dialog d = laidOut(&t);
    // x: du * 6 / 4, y: du * 13 / 8, halves rounded up.
    EXPECT_EQ(std::tuple(d.x, d.y, d.width, d.height), std::tuple(264, 146, 218, 63));
    EXPECT_EQ(std::tuple(d.caption, d.fontFace, d.fontPoints), std::tuple("please configure settings", "Helv", 8));
    ASSERT_EQ(d.controls.size(), 5u);
    const RECT& launch = d.controls[3].rect;  // 1.5, 40.625, + 60, + 22.75
    EXPECT_EQ(std::tuple(launch.left, launch.top, launch.right, launch.bottom), std::tuple(2, 41, 62, 64));
    EXPECT_EQ(d.controls[4].rect.left, 155);  // 154.5
    for (const DialogControl& c : d.controls) EXPECT_EQ(c.checked, 0);
    EXPECT_EQ(d.focus, -1);

    for (int i = 0; i < 5; i++) {
        const RECT& r = d.controls[i].rect;
        EXPECT_EQ(dialogControlAt(d, r.left, r.top), i);
        EXPECT_EQ(dialogControlAt(d, (r.left + r.right) / 2, (r.top + r.bottom) / 2), i);
    }
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
        EXPECT_FALSE(dialogParseTemplate(cut.data(), cut.size(), &t, &error)) << "length " << n;
        EXPECT_FALSE(error.empty()) << "length " << n;
    }
    std::string error;
    EXPECT_FALSE(dialogParseTemplate(nullptr, 100, nullptr, &error));
}

TEST(DialogTemplateDamage, BadFieldsAreNamed) {
    const std::vector<BYTE> bytes = dialog1Bytes();
    const struct {
        size_t at, length;
        std::vector<BYTE> written;
        const char* named;
    } cases[] = {
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

TEST(DialogTemplateDamage, TemplateWithoutFontHasNoFontFields) {
    // Header without DS_SETFONT and without controls, then the title.
    std::vector<BYTE> t = dialog1Bytes();
    t.resize(82);
    t[12] &= (BYTE)~DS_SETFONT;
    t[16] = 0;
    DialogTemplate parsed;
    std::string error;
    ASSERT_TRUE(dialogParseTemplate(t.data(), t.size(), &parsed, &error)) << error;
    EXPECT_EQ(std::tuple(parsed.caption, parsed.face, parsed.items.size()),
              std::tuple("please configure settings", "", 0u));
}

TEST(DialogTemplateDamage, UnknownTemplateNameOrStaleHandleIsHarmless) {
    testing::internal::CaptureStderr();
    INT_PTR r = DialogBoxParamA(nullptr, "DIALOG_9", nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return 0; }, 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, -1);
    EXPECT_NE(err.find("DIALOG_9"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    Dialog notRunning;
    EXPECT_EQ(EndDialog(dialogHandle(notRunning), 5), FALSE);
    EXPECT_FALSE(notRunning.ended);
    EXPECT_EQ(SendDlgItemMessageA(dialogHandle(notRunning), 100, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(nullptr, 100, BM_SETCHECK, 1, 0), 0);
}

// --- The dialog manager, as a dialog procedure sees it ---------------------------

struct Event {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT check100, check101;  // radio states when the message arrived
};
std::vector<Event> g_events;
INT_PTR g_initAnswer = 0;

std::vector<WPARAM> commands() {
    std::vector<WPARAM> out;
    for (const Event& e : g_events)
        if (e.message == WM_COMMAND) out.push_back(e.wParam);
    return out;
}

// Behaves like the show's procedure, but ends the dialog instead of the
// process on "Exit" and cancel, so that the test can look afterwards.
INT_PTR recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SendDlgItemMessageA(dialog, 100, BM_SETCHECK, BST_CHECKED, 0);
    g_events.push_back(Event{message, wParam, lParam, SendDlgItemMessageA(dialog, 100, BM_GETCHECK, 0, 0),
                             SendDlgItemMessageA(dialog, 101, BM_GETCHECK, 0, 0)});
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
    const struct {
        std::vector<std::string> script;
        INT_PTR initAnswer, result;
        Commands commands;
    } cases[] = {
        {{"click:103"}, 0, 0, {103}},
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
        {{"close"}, 0, IDCANCEL, {cancel}},
        // A non-zero answer to WM_INITDIALOG focuses the first tab stop.
        {{"enter"}, 1, 0, {103}},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const std::string& action : c.script) name += action + " ";
        EXPECT_EQ(runScript(c.script, c.initAnswer), c.result) << name;
        EXPECT_EQ(commands(), c.commands) << name;
    }
}

TEST(DialogManager, InitComesFirstLastRadioClickWinsCloseIsOffered) {
    runScript({"click:101", "click:100", "close"});
    ASSERT_EQ(g_events.size(), 5u);
    auto seen = [](const Event& e) { return std::tuple(e.message, e.wParam, e.check100, e.check101); };
    const LRESULT on = BST_CHECKED, off = BST_UNCHECKED;
    EXPECT_EQ(g_events[0].lParam, 1234);
    EXPECT_EQ(seen(g_events[0]), std::tuple((UINT)WM_INITDIALOG, (WPARAM)0, on, off));
    EXPECT_EQ(seen(g_events[1]), std::tuple((UINT)WM_COMMAND, (WPARAM)101, off, on));
    EXPECT_EQ(seen(g_events[2]), std::tuple((UINT)WM_COMMAND, (WPARAM)100, on, off));
    EXPECT_EQ(g_events[3].message, (UINT)WM_CLOSE);  // offered to the procedure before IDCANCEL
    EXPECT_EQ(seen(g_events[4]), std::tuple((UINT)WM_COMMAND, (WPARAM)IDCANCEL, on, off));
}

TEST(DialogManager, LabelIgnoresClicksAndSetCheckReachesTheButton) {
    Dialog d = laidOut();
    d.proc = recordingProc;
    g_events.clear();
    dialogClick(d, 0);  // the "Fullscreen" label
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(std::tuple(d.focus, d.controls[0].checked), std::tuple(-1, 0));
    dialogClick(d, 2);
    // The label sharing id 101 stays as it was.
    EXPECT_EQ(std::tuple(d.focus, d.controls[2].checked, d.controls[0].checked), std::tuple(2, (int)BST_CHECKED, 0));
    dialogClick(d, 99);
    dialogClick(d, -1);
    EXPECT_EQ(commands(), Commands{101});

    vtSetDialogScript({"click:103"});
    static Dialog* seen = nullptr;
    DialogBoxParamA(nullptr, "DIALOG_1", nullptr,
                    [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
                        if (message == WM_INITDIALOG) {
                            seen = dialogFromHandle(dialog);
                            SendDlgItemMessageA(dialog, 101, BM_SETCHECK, BST_CHECKED, 0);
                            EXPECT_EQ(seen->controls[2].checked, (int)BST_CHECKED);
                            EXPECT_EQ(seen->controls[0].checked, 0);
                        }
                        if (message == WM_COMMAND && wParam == 103) EndDialog(dialog, 7);
                        return 0;
                    },
                    0);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(dialogFromHandle(reinterpret_cast<HWND>(seen)), nullptr);  // gone once the dialog ended
}

TEST(DialogScript, DialogEndedDuringInitRunsNoScript) {
    vtSetDialogScript({"escape"});
    static std::vector<UINT> seen;
    INT_PTR r = DialogBoxParamA(nullptr, "DIALOG_1", nullptr,
                                [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
                                    seen.push_back(message);
                                    if (message == WM_INITDIALOG) EndDialog(dialog, 42);
                                    return 0;
                                },
                                0);
    EXPECT_EQ(r, 42);
    EXPECT_EQ(seen, std::vector<UINT>{WM_INITDIALOG});
}

TEST(DialogScript, ActionsAreTraced) {
    std::string path = ::testing::TempDir() + "dialog_trace.txt";
    vtSetTraceFile(path);
    runScript({"click:101", "tab", "escape"});
    vtSetTraceFile("");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::string s = text.str();
    size_t click = s.find("dialog click 101"), tab = s.find("dialog tab"), esc = s.find("dialog escape");
    EXPECT_LT(click, tab) << s;
    EXPECT_LT(tab, esc) << s;
    EXPECT_NE(esc, std::string::npos) << s;
    std::remove(path.c_str());
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
