// libFuzzer target for the dialog engine: the template parser and, for a
// template it accepts, the layout and the dialog manager's input rules.
//
// Input: bytes 0 and 1 are the horizontal and vertical base units less one
// (1 to 256 pixels), the rest is the template.
//
// Checks on a template the parser accepts:
//   - one item per announced control, texts as valid UTF-8 without NUL, class
//     names in lower case, a class atom always with its predefined name, no
//     font fields without DS_SETFONT;
//   - the same answer without output arguments, and with bytes appended;
//   - laid out with base units 4 x 8 the pixels are the dialog units; with
//     the input's base units each value is du * base / 4 (or / 8) rounded to
//     the nearest, halves away from zero;
//   - clicks, Tab, Enter and Escape keep the focus on a control that may have
//     it, check automatic radio buttons alone in their group and send the
//     commands the rules name;
//   - painting it, focused and pressed anywhere, writes only its pixels.
// A template it refuses must come with a reason.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win/dialog.h"

#include "platform/win/dialog_paint.h"

// The modal loop and the layout in the dialog font, unused here (no dialog
// is run: DialogBoxParamA is not called).
void dialogLayoutInFont(const DialogTemplate&, Dialog*) {}
void dialogRun(Dialog&) {}

namespace {

// Painted with the real font: every write stays in the client area (ASan
// sees the buffer's ends), whatever the controls' rectangles and states.
void paint(const Dialog& d, int scale) {
    static const bool font = dialogFontOpen(8, 1);
    (void)font;
    if (d.width <= 0 || d.height <= 0 || (int64_t)d.width * d.height > (1 << 22)) return;
    std::vector<uint32_t> pixels((size_t)d.width * d.height);
    dialogPaint(d, scale, pixels.data());
}

void check(bool ok) {
    if (!ok) abort();
}

// Valid UTF-8 without NUL.
bool validUtf8(const std::string& s) {
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < s.size();) {
        uint8_t b = (uint8_t)s[i];
        int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0 || s.size() - i <= (size_t)n) return false;
        uint32_t cp = b & (0x7F >> n);
        for (int k = 1; k <= n; k++) {
            if (((uint8_t)s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | ((uint8_t)s[i + k] & 0x3F);
        }
        if (cp == 0 || cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

auto fields(const DialogItemTemplate& a) {
    return std::tie(a.helpId, a.exStyle, a.style, a.x, a.y, a.cx, a.cy, a.id, a.classAtom, a.windowClass, a.text,
                    a.extraCount);
}

bool same(const DialogTemplate& a, const DialogTemplate& b) {
    auto head = [](const DialogTemplate& t) {
        return std::tie(t.version, t.signature, t.helpId, t.exStyle, t.style, t.x, t.y, t.cx, t.cy, t.menu,
                        t.windowClass, t.caption, t.pointSize, t.weight, t.italic, t.charset, t.face);
    };
    if (head(a) != head(b) || a.items.size() != b.items.size()) return false;
    for (size_t i = 0; i < a.items.size(); i++)
        if (fields(a.items[i]) != fields(b.items[i])) return false;
    return true;
}

// `pixels` is du * base / unit rounded to the nearest, halves away from zero.
void checkScaled(int du, int base, int unit, LONG pixels) {
    int64_t exact = (int64_t)du * base;  // pixels * unit, before rounding
    int64_t error = (int64_t)pixels * unit - exact;
    check(2 * error <= unit && 2 * error >= -unit);
    check(!(2 * error == unit && exact < 0) && !(2 * error == -unit && exact > 0));
}

bool isButton(const DialogControl& c) { return c.windowClass == "button"; }
bool isAutoRadio(const DialogControl& c) { return isButton(c) && (c.style & 0x0F) == BS_AUTORADIOBUTTON; }
bool canFocusByTab(const DialogControl& c) { return (c.style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE); }

std::vector<int> g_commands;  // WM_COMMAND ids sent to the procedure

INT_PTR recordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND) {
        check(wParam >> 16 == 0);  // only BN_CLICKED is sent
        g_commands.push_back((int)(wParam & 0xFFFF));
    }
    return 0;
}

void runInput(Dialog& d) {
    int n = (int)d.controls.size(), clicks = n < 64 ? n : 64;
    // Every control clicked in order, then again from the last one back.
    for (int click = 0; click < 2 * clicks; click++) {
        int i = click < clicks ? click : n - 1 - (click - clicks), focus = d.focus;
        g_commands.clear();
        dialogClick(d, i);
        const DialogControl& c = d.controls[i];
        bool acts = isButton(c) && (c.style & 0x0F) != 0x7;  // not a group box
        check(acts == (g_commands.size() == 1) && (!acts || g_commands[0] == (c.id & 0xFFFF)));
        check(d.focus == (acts ? i : focus));
        if (!isAutoRadio(c)) continue;
        check(c.checked == (int)BST_CHECKED);
        // The group: from the nearest WS_GROUP control at or before it (or
        // the first) to the next WS_GROUP control.
        int start = i;
        while (start > 0 && !(d.controls[start].style & WS_GROUP)) start--;
        for (int k = start; k < n && (k == start || !(d.controls[k].style & WS_GROUP)); k++)
            check(k == i || !isAutoRadio(d.controls[k]) || d.controls[k].checked == (int)BST_UNCHECKED);
    }
    g_commands.clear();
    dialogClick(d, -1);
    dialogClick(d, n);
    check(g_commands.empty());

    bool anyTabStop = false;
    for (const DialogControl& c : d.controls) anyTabStop |= canFocusByTab(c);
    for (int i = 0; i < clicks + 1; i++) {
        int focus = d.focus;
        dialogKey(d, VK_TAB);
        check(anyTabStop ? d.focus >= 0 && d.focus < n && canFocusByTab(d.controls[d.focus]) : d.focus == focus);
    }
    for (WPARAM key : {VK_ESCAPE, VK_RETURN, (WPARAM)0}) {
        g_commands.clear();
        key ? dialogKey(d, key) : dialogClose(d);
        check(g_commands.size() == 1 && (key == VK_RETURN || g_commands[0] == IDCANCEL));
    }
    // A point inside a visible control hits the first visible control there.
    for (int i = 0; i < n; i++) {
        const RECT& r = d.controls[i].rect;
        if (!(d.controls[i].style & WS_VISIBLE) || r.right <= r.left || r.bottom <= r.top) continue;
        int x = (int)(r.left + (r.right - r.left) / 2), y = (int)(r.top + (r.bottom - r.top) / 2);
        int hit = dialogControlAt(d, x, y);
        check(hit >= 0 && hit <= i && (d.controls[hit].style & WS_VISIBLE));
        const RECT& h = d.controls[hit].rect;
        check(x >= h.left && x < h.right && y >= h.top && y < h.bottom);
    }
    check(!EndDialog(dialogHandle(d), 1));  // the dialog is not running
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int baseX = data[0] + 1, baseY = data[1] + 1;
    const BYTE* bytes = data + 2;
    size_t length = size - 2;

    DialogTemplate t;
    std::string error = "(untouched)";
    bool ok = dialogParseTemplate(bytes, length, &t, &error);
    check(dialogParseTemplate(bytes, length, nullptr, nullptr) == ok);
    if (!ok) return check(!error.empty() && error != "(untouched)"), 0;
    check(error == "(untouched)");

    check(t.version == 1 && t.signature == 0xFFFF && t.items.size() == (size_t)(bytes[16] | bytes[17] << 8));
    for (const std::string* s : {&t.menu, &t.windowClass, &t.caption, &t.face}) check(validUtf8(*s));
    check((t.style & DS_SETFONT) || (!t.pointSize && !t.weight && !t.italic && !t.charset && t.face.empty()));
    for (const DialogItemTemplate& item : t.items) {
        check(validUtf8(item.text) && validUtf8(item.windowClass) && !(item.classAtom && item.windowClass.empty()));
        for (char c : item.windowClass) check(c < 'A' || c > 'Z');
    }
    std::vector<BYTE> longer(bytes, bytes + length);
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    DialogTemplate again;
    check(dialogParseTemplate(longer.data(), longer.size(), &again, nullptr) && same(t, again));

    Dialog d;
    dialogLayout(t, 4, 8, &d);
    check(std::tie(d.x, d.y, d.width, d.height) == std::tuple<LONG, LONG, LONG, LONG>(t.x, t.y, t.cx, t.cy));
    check(d.caption == t.caption && d.fontFace == t.face && d.fontPoints == t.pointSize &&
          d.controls.size() == t.items.size());
    for (size_t i = 0; i < t.items.size(); i++) {
        const DialogItemTemplate& item = t.items[i];
        const DialogControl& c = d.controls[i];
        check(c.rect.left == item.x && c.rect.top == item.y && c.rect.right - c.rect.left == item.cx &&
              c.rect.bottom - c.rect.top == item.cy && c.id == (int)item.id && c.style == item.style &&
              c.text == item.text && c.windowClass == item.windowClass && c.checked == 0);
    }
    dialogLayout(t, baseX, baseY, &d);
    checkScaled(t.x, baseX, 4, d.x);
    checkScaled(t.y, baseY, 8, d.y);
    checkScaled(t.cx, baseX, 4, d.width);
    checkScaled(t.cy, baseY, 8, d.height);
    for (size_t i = 0; i < t.items.size(); i++) {
        const RECT& r = d.controls[i].rect;
        checkScaled(t.items[i].x, baseX, 4, r.left);
        checkScaled(t.items[i].y, baseY, 8, r.top);
        checkScaled(t.items[i].cx, baseX, 4, r.right - r.left);
        checkScaled(t.items[i].cy, baseY, 8, r.bottom - r.top);
    }
    check(d.focus == -1 && d.pressed == -1);
    d.proc = recordingProc;
    paint(d, 1 + data[0] % 3);
    d.pressed = d.controls.empty() ? -1 : data[1] % (int)d.controls.size();
    runInput(d);
    paint(d, 1 + data[1] % 3);
    return 0;
}
