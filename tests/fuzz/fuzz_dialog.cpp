// libFuzzer target for the dialog engine: the template parser and, for a
// template it accepts, the layout and the dialog manager's input rules.
//
// Input: bytes 0 and 1 are the horizontal and vertical base units less one
// (1 to 256 pixels), the rest is the template.
//
// Checks on a template the parser accepts:
//   - the header fields it must have, one item per announced control, texts
//     as valid UTF-8 without NUL, class names in lower case, a class atom
//     always with its predefined name, no font fields without DS_SETFONT;
//   - the same answer without output arguments, and with bytes appended;
//   - written out again as a template (texts as UTF-16), it reads back equal;
//   - laid out with base units 4 x 8 the pixels are the dialog units; with
//     the input's base units each value is du * base / 4 (or / 8) rounded to
//     the nearest, halves away from zero;
//   - clicks, Tab, Space, Enter and Escape keep the focus on a control that
//     may have it, check automatic radio buttons alone in their group and
//     send the commands the rules name.
// A template it refuses must come with a reason.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win/dialog.h"

// The backend calls of the modal loop, unused here (no dialog is run).
void sysDialogBaseUnits(const char*, int, int* baseX, int* baseY) { *baseX = *baseY = 0; }
void sysRunDialog(Dialog&) {}

namespace {

constexpr DWORD kButtonTypeMask = 0x0F;
constexpr DWORD kGroupBox = 0x7;

// Code points of valid UTF-8 without NUL; false otherwise.
bool decodeUtf8(const std::string& s, std::vector<uint32_t>* out) {
    for (size_t i = 0; i < s.size();) {
        uint8_t b = (uint8_t)s[i];
        int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (n < 0 || s.size() - i <= (size_t)n) return false;
        uint32_t cp = n == 0 ? b : n == 1 ? b & 0x1F : n == 2 ? b & 0x0F : b & 0x07;
        for (int k = 1; k <= n; k++) {
            uint8_t c = (uint8_t)s[i + k];
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp == 0 || cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (out) out->push_back(cp);
        i += n + 1;
    }
    return true;
}

struct Writer {
    std::vector<BYTE> bytes;
    void word(WORD v) {
        bytes.push_back((BYTE)v);
        bytes.push_back((BYTE)(v >> 8));
    }
    void dword(DWORD v) {
        word((WORD)v);
        word((WORD)(v >> 16));
    }
    void text(const std::string& s) {
        std::vector<uint32_t> cps;
        if (!decodeUtf8(s, &cps)) abort();
        for (uint32_t cp : cps) {
            if (cp >= 0x10000) {
                word((WORD)(0xD800 + ((cp - 0x10000) >> 10)));
                word((WORD)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                word((WORD)cp);
            }
        }
        word(0);
    }
};

// The template written out again; an ordinal menu or class ("#5") becomes
// the same text as a string.
std::vector<BYTE> writeTemplate(const DialogTemplate& t) {
    Writer w;
    w.word(t.version);
    w.word(t.signature);
    w.dword(t.helpId);
    w.dword(t.exStyle);
    w.dword(t.style);
    w.word((WORD)t.items.size());
    w.word((WORD)t.x);
    w.word((WORD)t.y);
    w.word((WORD)t.cx);
    w.word((WORD)t.cy);
    w.text(t.menu);
    w.text(t.windowClass);
    w.text(t.caption);
    if (t.style & DS_SETFONT) {
        w.word(t.pointSize);
        w.word(t.weight);
        w.bytes.push_back(t.italic);
        w.bytes.push_back(t.charset);
        w.text(t.face);
    }
    for (const DialogItemTemplate& item : t.items) {
        while (w.bytes.size() % 4) w.bytes.push_back(0);
        w.dword(item.helpId);
        w.dword(item.exStyle);
        w.dword(item.style);
        w.word((WORD)item.x);
        w.word((WORD)item.y);
        w.word((WORD)item.cx);
        w.word((WORD)item.cy);
        w.dword(item.id);
        if (item.classAtom) {
            w.word(0xFFFF);
            w.word(item.classAtom);
        } else {
            w.text(item.windowClass);
        }
        w.text(item.text);
        w.word(item.extraCount);
        w.bytes.insert(w.bytes.end(), item.extraCount, 0x5A);
    }
    return w.bytes;
}

bool sameItem(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.helpId == b.helpId && a.exStyle == b.exStyle && a.style == b.style && a.x == b.x && a.y == b.y &&
           a.cx == b.cx && a.cy == b.cy && a.id == b.id && a.classAtom == b.classAtom &&
           a.windowClass == b.windowClass && a.text == b.text && a.extraCount == b.extraCount;
}

bool sameTemplate(const DialogTemplate& a, const DialogTemplate& b) {
    if (a.version != b.version || a.signature != b.signature || a.helpId != b.helpId || a.exStyle != b.exStyle ||
        a.style != b.style || a.x != b.x || a.y != b.y || a.cx != b.cx || a.cy != b.cy || a.menu != b.menu ||
        a.windowClass != b.windowClass || a.caption != b.caption || a.pointSize != b.pointSize ||
        a.weight != b.weight || a.italic != b.italic || a.charset != b.charset || a.face != b.face ||
        a.items.size() != b.items.size())
        return false;
    for (size_t i = 0; i < a.items.size(); i++)
        if (!sameItem(a.items[i], b.items[i])) return false;
    return true;
}

// `pixels` is du * base / unit rounded to the nearest, halves away from zero.
void checkScaled(int du, int base, int unit, LONG pixels) {
    int64_t exact = (int64_t)du * base;  // pixels * unit, before rounding
    int64_t error = (int64_t)pixels * unit - exact;
    if (2 * error > unit || 2 * error < -unit) abort();
    // A half rounds up only above zero, down only below it.
    if (2 * error == unit && exact < 0) abort();
    if (2 * error == -unit && exact > 0) abort();
}

bool isButton(const DialogControl& c) { return c.windowClass == "button"; }
DWORD buttonType(const DialogControl& c) { return c.style & kButtonTypeMask; }
bool isAutoRadio(const DialogControl& c) { return isButton(c) && buttonType(c) == BS_AUTORADIOBUTTON; }
bool canFocusByTab(const DialogControl& c) {
    return (c.style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE);
}

std::vector<int> g_commands;  // WM_COMMAND ids sent to the procedure

INT_PTR recordingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND) {
        if (wParam >> 16 != 0) abort();  // only BN_CLICKED is sent
        g_commands.push_back((int)(wParam & 0xFFFF));
    }
    return 0;
}

void runInput(Dialog& d) {
    int n = (int)d.controls.size();
    int clicks = n < 64 ? n : 64;
    // Every control clicked in order, then again from the last one back.
    for (int click = 0; click < 2 * clicks; click++) {
        int i = click < clicks ? click : n - 1 - (click - clicks);
        g_commands.clear();
        int focus = d.focus;
        dialogClick(d, i);
        const DialogControl& c = d.controls[i];
        bool acts = isButton(c) && buttonType(c) != kGroupBox;
        if (acts != (g_commands.size() == 1) || (acts && g_commands[0] != (c.id & 0xFFFF))) abort();
        if (d.focus != (acts ? i : focus)) abort();
        if (isAutoRadio(c)) {
            if (c.checked != (int)BST_CHECKED) abort();
            // The group: from the nearest WS_GROUP control at or before it
            // (or the first) to the next WS_GROUP control.
            int start = i;
            while (start > 0 && !(d.controls[start].style & WS_GROUP)) start--;
            for (int k = start; k < n && (k == start || !(d.controls[k].style & WS_GROUP)); k++)
                if (k != i && isAutoRadio(d.controls[k]) && d.controls[k].checked != (int)BST_UNCHECKED) abort();
        }
    }
    g_commands.clear();
    dialogClick(d, -1);
    dialogClick(d, n);
    if (!g_commands.empty()) abort();

    bool anyTabStop = false;
    for (const DialogControl& c : d.controls) anyTabStop |= canFocusByTab(c);
    for (int i = 0; i < clicks + 1; i++) {
        int focus = d.focus;
        dialogKey(d, VK_TAB);
        if (anyTabStop ? d.focus < 0 || d.focus >= n || !canFocusByTab(d.controls[d.focus]) : d.focus != focus)
            abort();
    }
    g_commands.clear();
    dialogKey(d, VK_ESCAPE);
    if (g_commands != std::vector<int>{IDCANCEL}) abort();
    g_commands.clear();
    dialogKey(d, VK_RETURN);
    if (g_commands.size() != 1) abort();
    g_commands.clear();
    dialogClose(d);
    if (g_commands != std::vector<int>{IDCANCEL}) abort();

    for (int i = 0; i < n; i++) {
        const RECT& r = d.controls[i].rect;
        if (!(d.controls[i].style & WS_VISIBLE) || r.right <= r.left || r.bottom <= r.top) continue;
        int x = (int)(r.left + (r.right - r.left) / 2), y = (int)(r.top + (r.bottom - r.top) / 2);
        int hit = dialogControlAt(d, x, y);
        if (hit < 0 || hit > i) abort();  // the first visible control under the point
        const RECT& h = d.controls[hit].rect;
        if (x < h.left || x >= h.right || y < h.top || y >= h.bottom || !(d.controls[hit].style & WS_VISIBLE))
            abort();
    }
    dialogClose(d);
    if (EndDialog(dialogHandle(d), 1)) abort();  // the dialog is not running
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
    if (dialogParseTemplate(bytes, length, nullptr, nullptr) != ok) abort();
    if (!ok) {
        if (error.empty() || error == "(untouched)") abort();
        return 0;
    }
    if (error != "(untouched)") abort();

    if (t.version != 1 || t.signature != 0xFFFF) abort();
    if (t.items.size() != (size_t)(bytes[16] | bytes[17] << 8)) abort();
    for (const std::string* s : {&t.menu, &t.windowClass, &t.caption, &t.face})
        if (!decodeUtf8(*s, nullptr)) abort();
    if (!(t.style & DS_SETFONT) && (t.pointSize || t.weight || t.italic || t.charset || !t.face.empty())) abort();
    for (const DialogItemTemplate& item : t.items) {
        if (!decodeUtf8(item.text, nullptr) || !decodeUtf8(item.windowClass, nullptr)) abort();
        for (char c : item.windowClass)
            if (c >= 'A' && c <= 'Z') abort();
        if (item.classAtom && item.windowClass.empty()) abort();
    }

    std::vector<BYTE> longer(bytes, bytes + length);
    longer.insert(longer.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    DialogTemplate again;
    if (!dialogParseTemplate(longer.data(), longer.size(), &again, nullptr) || !sameTemplate(t, again)) abort();
    std::vector<BYTE> written = writeTemplate(t);
    again = DialogTemplate();
    if (!dialogParseTemplate(written.data(), written.size(), &again, nullptr) || !sameTemplate(t, again)) abort();

    Dialog d;
    dialogLayout(t, 4, 8, &d);
    if (d.x != t.x || d.y != t.y || d.width != t.cx || d.height != t.cy || d.caption != t.caption ||
        d.fontFace != t.face || d.fontPoints != t.pointSize || d.controls.size() != t.items.size())
        abort();
    for (size_t i = 0; i < t.items.size(); i++) {
        const DialogItemTemplate& item = t.items[i];
        const DialogControl& c = d.controls[i];
        if (c.rect.left != item.x || c.rect.top != item.y || c.rect.right - c.rect.left != item.cx ||
            c.rect.bottom - c.rect.top != item.cy || c.id != (int)item.id || c.style != item.style ||
            c.text != item.text || c.windowClass != item.windowClass || c.checked != 0)
            abort();
    }

    dialogLayout(t, baseX, baseY, &d);
    checkScaled(t.x, baseX, 4, d.x);
    checkScaled(t.y, baseY, 8, d.y);
    checkScaled(t.cx, baseX, 4, d.width);
    checkScaled(t.cy, baseY, 8, d.height);
    for (size_t i = 0; i < t.items.size(); i++) {
        const DialogItemTemplate& item = t.items[i];
        const RECT& r = d.controls[i].rect;
        checkScaled(item.x, baseX, 4, r.left);
        checkScaled(item.y, baseY, 8, r.top);
        checkScaled(item.cx, baseX, 4, r.right - r.left);
        checkScaled(item.cy, baseY, 8, r.bottom - r.top);
    }
    if (d.focus != -1 || d.pressed != -1) abort();
    d.proc = recordingProc;
    runInput(d);
    return 0;
}
