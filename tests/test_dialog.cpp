// The settings dialog: the linked template, its layout, the dialog manager's
// rules as a dialog procedure sees them, the headless script, and templates
// that are damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/virtual/virtual.h"
#include "platform/win/dialog.h"
#include "platform/win/win.h"

namespace {

const ResourceEntry* findResource(const char* name) {
    for (const ResourceEntry* e = g_resources; e->name; e++)
        if (strcmp(e->name, name) == 0) return e;
    return nullptr;
}

std::vector<BYTE> dialog1Bytes() {
    const ResourceEntry* e = findResource("DIALOG_1");
    return e ? std::vector<BYTE>(e->data, e->data + e->size) : std::vector<BYTE>{};
}

DWORD readDword(const std::vector<BYTE>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((DWORD)b[at + 3] << 24);
}
WORD readWord(const std::vector<BYTE>& b, size_t at) { return (WORD)(b[at] | (b[at + 1] << 8)); }

// --- The template ---------------------------------------------------------------

TEST(DialogTemplate, ResourceTableHoldsDialog1AndEndsWithNull) {
    ASSERT_NE(findResource("DIALOG_1"), nullptr);
    int n = 0;
    while (g_resources[n].name) n++;
    EXPECT_EQ(n, 1);
    EXPECT_EQ(g_resources[n].data, nullptr);
    EXPECT_EQ(g_resources[n].size, 0u);
}

TEST(DialogTemplate, ParsesToTheSettingsDialog) {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    std::string error;
    ASSERT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, &error)) << error;
    EXPECT_EQ(t.version, 1);
    EXPECT_EQ(t.signature, 0xFFFF);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.style, 0x10C800C0u);
    EXPECT_EQ(t.style, WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    EXPECT_EQ(t.x, 176);
    EXPECT_EQ(t.y, 90);
    EXPECT_EQ(t.cx, 145);
    EXPECT_EQ(t.cy, 39);
    EXPECT_EQ(t.menu, "");
    EXPECT_EQ(t.windowClass, "");
    EXPECT_EQ(t.caption, "please configure settings");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
    EXPECT_EQ(t.face, "Helv");

    struct Expected {
        const char* cls;
        WORD atom;
        DWORD id;
        const char* text;
        DWORD style;
        int x, y, cx, cy;
    };
    const Expected expected[] = {
        {"static", 0x82, 101, "Fullscreen", 0x50000000, 0, 1, 37, 8},
        {"button", 0x80, 100, "", 0x50000009, 37, 1, 11, 10},
        {"button", 0x80, 101, "Windowed", 0x50000009, 97, 1, 48, 10},
        {"button", 0x80, 103, "Launch!", 0x50010000, 1, 25, 40, 14},
        {"button", 0x80, 102, "Exit", 0x50010000, 103, 25, 40, 14},
    };
    ASSERT_EQ(t.items.size(), 5u);
    for (size_t i = 0; i < 5; i++) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const DialogItemTemplate& item = t.items[i];
        EXPECT_EQ(item.windowClass, expected[i].cls);
        EXPECT_EQ(item.classAtom, expected[i].atom);
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(item.text, expected[i].text);
        EXPECT_EQ(item.style, expected[i].style);
        EXPECT_EQ(item.x, expected[i].x);
        EXPECT_EQ(item.y, expected[i].y);
        EXPECT_EQ(item.cx, expected[i].cx);
        EXPECT_EQ(item.cy, expected[i].cy);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.extraCount, 0);
        EXPECT_EQ(item.style & WS_GROUP, 0u);  // the two radio buttons form one group
    }
}

// The byte layout read without the parser: header fields, the DWORD-aligned
// first item and the padding before the fourth.
TEST(DialogTemplate, BytesFollowTheExtendedLayout) {
    std::vector<BYTE> b = dialog1Bytes();
    ASSERT_EQ(b.size(), 320u);
    EXPECT_EQ(readWord(b, 0), 1);
    EXPECT_EQ(readWord(b, 2), 0xFFFF);
    EXPECT_EQ(readDword(b, 12), 0x10C800C0u);
    EXPECT_EQ(readWord(b, 16), 5);
    EXPECT_EQ(readWord(b, 26), 0);  // no menu
    EXPECT_EQ(readWord(b, 28), 0);  // default class
    std::u16string title;
    for (size_t at = 30; readWord(b, at); at += 2) title += (char16_t)readWord(b, at);
    EXPECT_EQ(title, u"please configure settings");
    EXPECT_EQ(readWord(b, 82), 8);        // point size
    EXPECT_EQ(b[86], 0);                  // italic
    EXPECT_EQ(b[87], 1);                  // charset
    EXPECT_EQ(readWord(b, 88), u'H');     // "Helv" up to byte 98, then padding
    EXPECT_EQ(readWord(b, 96), 0);
    EXPECT_EQ(readDword(b, 100 + 8), 0x50000000u);  // first item's style at offset 100
    EXPECT_EQ(readDword(b, 100 + 20), 101u);        // its id is a DWORD
    EXPECT_EQ(readDword(b, 100 + 24), 0x0082FFFFu); // 0xFFFF then the static atom
    // "Launch!" at 232 is 46 bytes long; "Exit" follows after 2 bytes of padding.
    EXPECT_EQ(readDword(b, 232 + 20), 103u);
    EXPECT_EQ(readWord(b, 278), 0);
    EXPECT_EQ(readDword(b, 280 + 20), 102u);
}

TEST(DialogTemplate, LayoutConvertsDialogUnitsWithRounding) {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    ASSERT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, nullptr));
    Dialog d;
    dialogLayout(t, 6, 13, &d);
    // x: du * 6 / 4, y: du * 13 / 8, halves rounded up.
    EXPECT_EQ(d.x, 264);
    EXPECT_EQ(d.y, 146);     // 90 * 13 / 8 = 146.25
    EXPECT_EQ(d.width, 218);  // 145 * 6 / 4 = 217.5
    EXPECT_EQ(d.height, 63);  // 39 * 13 / 8 = 63.375
    EXPECT_EQ(d.caption, "please configure settings");
    EXPECT_EQ(d.fontFace, "Helv");
    EXPECT_EQ(d.fontPoints, 8);
    ASSERT_EQ(d.controls.size(), 5u);
    const DialogControl& launch = d.controls[3];
    EXPECT_EQ(launch.text, "Launch!");
    EXPECT_EQ(launch.rect.left, 2);     // 1.5
    EXPECT_EQ(launch.rect.top, 41);     // 40.625
    EXPECT_EQ(launch.rect.right, 62);   // + 60
    EXPECT_EQ(launch.rect.bottom, 64);  // + 22.75
    EXPECT_EQ(d.controls[4].rect.left, 155);  // 154.5
    for (const DialogControl& c : d.controls) EXPECT_EQ(c.checked, 0);
    EXPECT_EQ(d.focus, -1);

    // Other metrics scale the same way.
    dialogLayout(t, 8, 16, &d);
    EXPECT_EQ(d.width, 290);
    EXPECT_EQ(d.height, 78);
    EXPECT_EQ(d.controls[2].rect.left, 194);
}

TEST(DialogTemplate, HitTestFindsControlsInTemplateOrder) {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    ASSERT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, nullptr));
    Dialog d;
    dialogLayout(t, 6, 13, &d);
    for (int i = 0; i < 5; i++) {
        const RECT& r = d.controls[i].rect;
        EXPECT_EQ(dialogControlAt(d, r.left, r.top), i);
        EXPECT_EQ(dialogControlAt(d, (r.left + r.right) / 2, (r.top + r.bottom) / 2), i);
    }
    EXPECT_EQ(dialogControlAt(d, 100, 30), -1);  // between the rows
    EXPECT_EQ(dialogControlAt(d, -1, 5), -1);
    // Right and bottom edges are outside.
    EXPECT_NE(dialogControlAt(d, d.controls[4].rect.right, d.controls[4].rect.top), 4);
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
    std::vector<BYTE> bytes = dialog1Bytes();
    std::string error;

    auto wrongSignature = bytes;
    wrongSignature[2] = 0;
    EXPECT_FALSE(dialogParseTemplate(wrongSignature.data(), wrongSignature.size(), nullptr, &error));
    EXPECT_NE(error.find("not an extended dialog template"), std::string::npos) << error;

    auto unknownAtom = bytes;
    unknownAtom[100 + 26] = 0x99;  // first control's class atom
    EXPECT_FALSE(dialogParseTemplate(unknownAtom.data(), unknownAtom.size(), nullptr, &error));
    EXPECT_NE(error.find("control 1"), std::string::npos) << error;

    auto hugeExtra = bytes;
    hugeExtra[232 + 44] = 0xFF;  // "Launch!" extraCount: creation data past the end
    hugeExtra[232 + 45] = 0xFF;
    EXPECT_FALSE(dialogParseTemplate(hugeExtra.data(), hugeExtra.size(), nullptr, &error));
    EXPECT_NE(error.find("control 4"), std::string::npos) << error;

    auto moreItems = bytes;
    moreItems[16] = 200;  // claims 200 controls
    EXPECT_FALSE(dialogParseTemplate(moreItems.data(), moreItems.size(), nullptr, &error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;

    // A title whose terminator is cut off.
    std::vector<BYTE> unterminated(bytes.begin(), bytes.begin() + 60);
    EXPECT_FALSE(dialogParseTemplate(unterminated.data(), unterminated.size(), nullptr, &error));
    EXPECT_NE(error.find("title"), std::string::npos) << error;
}

TEST(DialogTemplateDamage, TemplateWithoutFontHasNoFontFields) {
    std::vector<BYTE> bytes = dialog1Bytes();
    // Header without DS_SETFONT and without controls, then the title.
    std::vector<BYTE> t(bytes.begin(), bytes.begin() + 82);
    t[12] &= (BYTE)~DS_SETFONT;
    t[16] = 0;
    DialogTemplate parsed;
    std::string error;
    ASSERT_TRUE(dialogParseTemplate(t.data(), t.size(), &parsed, &error)) << error;
    EXPECT_EQ(parsed.caption, "please configure settings");
    EXPECT_EQ(parsed.face, "");
    EXPECT_TRUE(parsed.items.empty());
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

struct Recorder {
    std::vector<Event> events;
    INT_PTR initAnswer = 0;
    std::vector<WPARAM> commands() const {
        std::vector<WPARAM> out;
        for (const Event& e : events)
            if (e.message == WM_COMMAND) out.push_back(e.wParam);
        return out;
    }
};
Recorder g_rec;

// Behaves like the show's procedure, but ends the dialog instead of the
// process on "Exit" and cancel, so that the test can look afterwards.
INT_PTR recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SendDlgItemMessageA(dialog, 100, BM_SETCHECK, BST_CHECKED, 0);
    g_rec.events.push_back(Event{message, wParam, lParam, SendDlgItemMessageA(dialog, 100, BM_GETCHECK, 0, 0),
                                 SendDlgItemMessageA(dialog, 101, BM_GETCHECK, 0, 0)});
    if (message == WM_INITDIALOG) return g_rec.initAnswer;
    if (message == WM_COMMAND && (wParam == 103 || wParam == 102 || wParam == (WPARAM)IDCANCEL))
        EndDialog(dialog, wParam == 103 ? 0 : (INT_PTR)wParam);
    return 0;
}

INT_PTR runScript(const std::vector<std::string>& script, INT_PTR initAnswer = 0) {
    g_rec = Recorder{};
    g_rec.initAnswer = initAnswer;
    vtSetDialogScript(script);
    return DialogBoxParamA(nullptr, "DIALOG_1", nullptr, recordingProc, 1234);
}

using Commands = std::vector<WPARAM>;

TEST(DialogManager, InitDialogArrivesFirstWithTheParameter) {
    EXPECT_EQ(runScript({"click:103"}), 0);
    ASSERT_FALSE(g_rec.events.empty());
    EXPECT_EQ(g_rec.events[0].message, WM_INITDIALOG);
    EXPECT_EQ(g_rec.events[0].lParam, 1234);
    EXPECT_EQ(g_rec.commands(), Commands{103});
    // The full-screen button was checked by the procedure, "Windowed" not.
    EXPECT_EQ(g_rec.events.back().check100, (LRESULT)BST_CHECKED);
    EXPECT_EQ(g_rec.events.back().check101, (LRESULT)BST_UNCHECKED);
}

TEST(DialogManager, LastRadioClickWinsWithinTheGroup) {
    runScript({"click:101", "click:100", "click:103"});
    ASSERT_EQ(g_rec.commands(), (Commands{101, 100, 103}));
    const Event& windowed = g_rec.events[1];
    EXPECT_EQ(windowed.check101, (LRESULT)BST_CHECKED);
    EXPECT_EQ(windowed.check100, (LRESULT)BST_UNCHECKED);
    const Event& full = g_rec.events[2];
    EXPECT_EQ(full.check100, (LRESULT)BST_CHECKED);
    EXPECT_EQ(full.check101, (LRESULT)BST_UNCHECKED);

    runScript({"click:100", "click:101", "click:103"});
    EXPECT_EQ(g_rec.commands(), (Commands{100, 101, 103}));
    EXPECT_EQ(g_rec.events.back().check101, (LRESULT)BST_CHECKED);
    EXPECT_EQ(g_rec.events.back().check100, (LRESULT)BST_UNCHECKED);
}

TEST(DialogManager, EnterWithoutFocusedPushButtonSendsIdok) {
    EXPECT_EQ(runScript({"enter", "click:103"}), 0);
    EXPECT_EQ(g_rec.commands(), (Commands{IDOK, 103}));
    // A clicked radio button has the focus, but it is no push button.
    runScript({"click:101", "enter", "click:103"});
    EXPECT_EQ(g_rec.commands(), (Commands{101, IDOK, 103}));
}

TEST(DialogManager, TabMovesThroughTabStopsAndWraps) {
    runScript({"tab", "enter"});
    EXPECT_EQ(g_rec.commands(), Commands{103});
    EXPECT_EQ(runScript({"tab", "tab", "enter"}), 102);
    EXPECT_EQ(g_rec.commands(), Commands{102});
    runScript({"tab", "tab", "tab", "enter"});
    EXPECT_EQ(g_rec.commands(), Commands{103});
    // From a clicked radio button, Tab goes on to the next tab stop.
    runScript({"click:100", "tab", "space"});
    EXPECT_EQ(g_rec.commands(), (Commands{100, 103}));
}

TEST(DialogManager, SpaceClicksTheFocusedControlOnly) {
    runScript({"space", "tab", "space"});
    EXPECT_EQ(g_rec.commands(), Commands{103});
    runScript({"click:101", "space", "click:103"});
    EXPECT_EQ(g_rec.commands(), (Commands{101, 101, 103}));
}

TEST(DialogManager, EscapeAndCloseCancel) {
    EXPECT_EQ(runScript({"escape"}), IDCANCEL);
    EXPECT_EQ(g_rec.commands(), Commands{(WPARAM)IDCANCEL});

    EXPECT_EQ(runScript({"close"}), IDCANCEL);
    EXPECT_EQ(g_rec.commands(), Commands{(WPARAM)IDCANCEL});
    ASSERT_GE(g_rec.events.size(), 3u);
    EXPECT_EQ(g_rec.events[1].message, WM_CLOSE);  // offered to the procedure first
}

TEST(DialogManager, ClickOnTheLabelDoesNothing) {
    std::vector<BYTE> bytes = dialog1Bytes();
    DialogTemplate t;
    ASSERT_TRUE(dialogParseTemplate(bytes.data(), bytes.size(), &t, nullptr));
    Dialog d;
    dialogLayout(t, 6, 13, &d);
    d.proc = recordingProc;
    g_rec = Recorder{};
    dialogClick(d, 0);  // the "Fullscreen" label
    EXPECT_TRUE(g_rec.events.empty());
    EXPECT_EQ(d.focus, -1);
    EXPECT_EQ(d.controls[0].checked, 0);
    dialogClick(d, 2);
    EXPECT_EQ(d.controls[2].checked, (int)BST_CHECKED);
    EXPECT_EQ(d.controls[0].checked, 0);  // the label sharing id 101 stays as it was
    EXPECT_EQ(d.focus, 2);
    dialogClick(d, 99);
    dialogClick(d, -1);
    EXPECT_EQ(g_rec.commands(), Commands{101});
}

TEST(DialogManager, NonZeroInitAnswerFocusesTheFirstTabStop) {
    runScript({"enter"}, 1);
    EXPECT_EQ(g_rec.commands(), Commands{103});
}

TEST(DialogManager, SetCheckReachesTheButtonNotTheLabel) {
    g_rec = Recorder{};
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
    std::vector<UINT> seen;
    static std::vector<UINT>* log = nullptr;
    log = &seen;
    INT_PTR r = DialogBoxParamA(nullptr, "DIALOG_1", nullptr,
                                [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
                                    log->push_back(message);
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
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    size_t click = s.find("dialog click 101"), tab = s.find("dialog tab"), esc = s.find("dialog escape");
    ASSERT_NE(click, std::string::npos) << s;
    ASSERT_NE(tab, std::string::npos) << s;
    ASSERT_NE(esc, std::string::npos) << s;
    EXPECT_LT(click, tab);
    EXPECT_LT(tab, esc);
    std::remove(path.c_str());
}

TEST(DialogScriptDeathTest, ScriptThatRunsOutEndsTheRun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runScript({"click:101", "bogus", "click:555"}), testing::ExitedWithCode(0),
                "unknown action \"bogus\"(.|\n)*no control with id 555(.|\n)*script ended");
}

TEST(DialogScriptDeathTest, DefaultScriptLaunches) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process, so the script is the one the backend starts with.
    EXPECT_EXIT(
        {
            g_rec = Recorder{};
            DialogBoxParamA(nullptr, "DIALOG_1", nullptr, recordingProc, 0);
            std::exit(g_rec.commands() == Commands{103} ? 7 : 1);
        },
        testing::ExitedWithCode(7), "");
}

}  // namespace
