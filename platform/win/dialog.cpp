// The modal dialog engine: reads an extended dialog template (DLGTEMPLATEEX)
// from the linked resources, lays it out in pixels from the dialog font's
// metrics and applies the dialog manager's rules to its input. The modal
// loop is dialog_run.cpp; the painting, dialog_paint.cpp.
#include "platform/win/dialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kButtonTypeMask = 0x0F;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_AUTO3STATE = 0x6;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr WORD BN_CLICKED = 0;

// Dialogs whose DialogBoxParamA is running, innermost last. Handles are
// checked against it so that a stale or foreign handle is harmless.
std::vector<Dialog*> g_activeDialogs;

// Rounds half away from zero like the system's MulDiv; -1 on division by 0.
int mulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    int64_t p = (int64_t)a * b;
    bool negative = (p < 0) != (c < 0);
    int64_t q = (std::llabs(p) + std::llabs((int64_t)c) / 2) / std::llabs((int64_t)c);
    return (int)(negative ? -q : q);
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xC0 | (cp >> 6));
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += (char)(0xE0 | (cp >> 12));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    } else {
        out += (char)(0xF0 | (cp >> 18));
        out += (char)(0x80 | ((cp >> 12) & 0x3F));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    }
}

// Bounds-checked little-endian reader. The first failure sticks: later reads
// return zeros and `error` keeps the first reason.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : data_(data), size_(data ? size : 0) {}

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    void fail(const std::string& reason) {
        if (error_.empty()) error_ = reason;
    }

    BYTE byte(const char* field) {
        if (!need(1, field)) return 0;
        return data_[pos_++];
    }
    WORD word(const char* field) {
        if (!need(2, field)) return 0;
        WORD v = (WORD)(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    DWORD dword(const char* field) {
        if (!need(4, field)) return 0;
        DWORD v = (DWORD)data_[pos_] | ((DWORD)data_[pos_ + 1] << 8) | ((DWORD)data_[pos_ + 2] << 16) |
                  ((DWORD)data_[pos_ + 3] << 24);
        pos_ += 4;
        return v;
    }
    int16_t coord(const char* field) { return (int16_t)word(field); }

    // A zero-terminated UTF-16 string, as UTF-8 (lone surrogates become U+FFFD).
    std::string text(const char* field) {
        std::string out;
        while (ok()) {
            if (size_ - pos_ < 2) {
                fail(std::string(field) + " is not terminated");
                break;
            }
            WORD unit = word(field);
            if (unit == 0) break;
            uint32_t cp = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF && size_ - pos_ >= 2) {
                WORD low = (WORD)(data_[pos_] | (data_[pos_ + 1] << 8));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    pos_ += 2;
                    cp = 0x10000 + (((uint32_t)unit - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    cp = 0xFFFD;
                }
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                cp = 0xFFFD;
            }
            appendUtf8(out, cp);
        }
        return out;
    }

    // The "string or ordinal" field: 0 (none), 0xFFFF followed by a 16-bit
    // ordinal, or a zero-terminated string.
    std::string textOrOrdinal(const char* field, WORD* ordinal) {
        *ordinal = 0;
        if (!need(2, field)) return {};
        WORD first = (WORD)(data_[pos_] | (data_[pos_ + 1] << 8));
        if (first == 0) {
            pos_ += 2;
            return {};
        }
        if (first == 0xFFFF) {
            pos_ += 2;
            *ordinal = word(field);
            return {};
        }
        return text(field);
    }

    void skip(size_t n, const char* field) {
        if (need(n, field)) pos_ += n;
    }
    void alignDword() { pos_ = std::min(size_, (pos_ + 3) & ~(size_t)3); }
    size_t pos() const { return pos_; }

private:
    bool need(size_t n, const char* field) {
        if (!ok()) return false;
        if (size_ - pos_ < n) {
            fail("truncated at byte " + std::to_string(pos_) + " (" + field + ")");
            return false;
        }
        return true;
    }

    const BYTE* data_;
    size_t size_;
    size_t pos_ = 0;
    std::string error_;
};

const char* predefinedClass(WORD atom) {
    switch (atom) {
        case 0x0080: return "button";
        case 0x0081: return "edit";
        case 0x0082: return "static";
        case 0x0083: return "listbox";
        case 0x0084: return "scrollbar";
        case 0x0085: return "combobox";
        default: return nullptr;
    }
}

bool isButton(const DialogControl& c) { return c.windowClass == "button"; }
DWORD buttonType(const DialogControl& c) { return c.style & kButtonTypeMask; }
bool isPushButton(const DialogControl& c) {
    return isButton(c) && (buttonType(c) == BS_PUSHBUTTON || buttonType(c) == BS_DEFPUSHBUTTON);
}
bool isAutoRadio(const DialogControl& c) { return isButton(c) && buttonType(c) == BS_AUTORADIOBUTTON; }
bool validIndex(const Dialog& d, int index) { return index >= 0 && index < (int)d.controls.size(); }

INT_PTR sendToProc(Dialog& d, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!d.proc) return 0;
    return d.proc(dialogHandle(d), message, wParam, lParam);
}

void sendCommand(Dialog& d, int id, WORD code) {
    sendToProc(d, WM_COMMAND, (WPARAM)(((DWORD)code << 16) | ((DWORD)id & 0xFFFF)), 0);
}

// Checks an automatic radio button and unchecks the other automatic radio
// buttons of its group: from the nearest WS_GROUP control at or before it
// (or the first control) up to the next WS_GROUP control.
void checkRadioInGroup(Dialog& d, int index) {
    int start = index;
    while (start > 0 && !(d.controls[start].style & WS_GROUP)) start--;
    int end = index + 1;
    while (end < (int)d.controls.size() && !(d.controls[end].style & WS_GROUP)) end++;
    for (int i = start; i < end; i++)
        if (i != index && isAutoRadio(d.controls[i])) d.controls[i].checked = (int)BST_UNCHECKED;
    d.controls[index].checked = (int)BST_CHECKED;
}

bool caseInsensitiveEqual(const char* a, const char* b) {
    for (; *a && *b; a++, b++) {
        char x = (*a >= 'a' && *a <= 'z') ? (char)(*a - 32) : *a;
        char y = (*b >= 'a' && *b <= 'z') ? (char)(*b - 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

}  // namespace

bool dialogParseTemplate(const BYTE* data, size_t size, DialogTemplate* out, std::string* error) {
    TemplateReader r(data, size);
    DialogTemplate t;
    t.version = r.word("dlgVer");
    t.signature = r.word("signature");
    if (r.ok() && (t.version != 1 || t.signature != 0xFFFF)) r.fail("not an extended dialog template");
    t.helpId = r.dword("helpID");
    t.exStyle = r.dword("exStyle");
    t.style = r.dword("style");
    WORD count = r.word("cDlgItems");
    t.x = r.coord("x");
    t.y = r.coord("y");
    t.cx = r.coord("cx");
    t.cy = r.coord("cy");
    WORD ordinal = 0;
    t.menu = r.textOrOrdinal("menu", &ordinal);
    if (ordinal) t.menu = "#" + std::to_string(ordinal);
    t.windowClass = r.textOrOrdinal("windowClass", &ordinal);
    if (ordinal) t.windowClass = "#" + std::to_string(ordinal);
    t.caption = r.text("title");
    if (t.style & DS_SETFONT) {
        t.pointSize = r.word("pointsize");
        t.weight = r.word("weight");
        t.italic = r.byte("italic");
        t.charset = r.byte("charset");
        t.face = r.text("typeface");
    }
    for (int i = 0; i < count && r.ok(); i++) {
        std::string field = "control " + std::to_string(i + 1);
        r.alignDword();
        DialogItemTemplate item;
        item.helpId = r.dword(field.c_str());
        item.exStyle = r.dword(field.c_str());
        item.style = r.dword(field.c_str());
        item.x = r.coord(field.c_str());
        item.y = r.coord(field.c_str());
        item.cx = r.coord(field.c_str());
        item.cy = r.coord(field.c_str());
        item.id = r.dword(field.c_str());
        std::string className = r.textOrOrdinal((field + " class").c_str(), &ordinal);
        if (ordinal) {
            const char* name = predefinedClass(ordinal);
            if (!name && r.ok()) {
                char reason[80];
                snprintf(reason, sizeof reason, "%s has the unknown class atom 0x%04X", field.c_str(), ordinal);
                r.fail(reason);
            }
            item.classAtom = ordinal;
            item.windowClass = name ? name : "";
        } else {
            for (char& ch : className)
                if (ch >= 'A' && ch <= 'Z') ch = (char)(ch + 32);
            item.windowClass = className;
        }
        item.text = r.textOrOrdinal((field + " title").c_str(), &ordinal);
        item.extraCount = r.word((field + " extraCount").c_str());
        r.skip(item.extraCount, (field + " creation data").c_str());
        t.items.push_back(std::move(item));
    }
    if (!r.ok()) {
        if (error) *error = r.error();
        return false;
    }
    if (out) *out = std::move(t);
    return true;
}

void dialogLayout(const DialogTemplate& t, int baseX, int baseY, Dialog* out) {
    Dialog& d = *out;
    d.caption = t.caption;
    d.style = t.style;
    d.x = mulDiv(t.x, baseX, 4);
    d.y = mulDiv(t.y, baseY, 8);
    d.width = mulDiv(t.cx, baseX, 4);
    d.height = mulDiv(t.cy, baseY, 8);
    d.fontFace = t.face;
    d.fontPoints = t.pointSize;
    d.controls.clear();
    for (const DialogItemTemplate& item : t.items) {
        DialogControl c;
        c.windowClass = item.windowClass;
        c.id = (int)item.id;
        c.style = item.style;
        c.text = item.text;
        c.rect.left = mulDiv(item.x, baseX, 4);
        c.rect.top = mulDiv(item.y, baseY, 8);
        c.rect.right = c.rect.left + mulDiv(item.cx, baseX, 4);
        c.rect.bottom = c.rect.top + mulDiv(item.cy, baseY, 8);
        d.controls.push_back(std::move(c));
    }
    d.focus = -1;
    d.pressed = -1;
}

HWND dialogHandle(Dialog& dialog) { return reinterpret_cast<HWND>(&dialog); }

Dialog* dialogFromHandle(HWND handle) {
    for (Dialog* d : g_activeDialogs)
        if (dialogHandle(*d) == handle) return d;
    return nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char* templateName, HWND, DLGPROC proc, LPARAM param) {
    const char* name = templateName ? templateName : "(no name)";
    const ResourceEntry* entry = nullptr;
    for (const ResourceEntry* e = g_resources; templateName && e->name; e++)
        if (caseInsensitiveEqual(e->name, templateName)) {
            entry = e;
            break;
        }
    if (!entry) {
        fprintf(stderr, "%s: no such dialog template among the resources\n", name);
        return -1;
    }
    if (!proc) {
        fprintf(stderr, "%s: dialog has no dialog procedure\n", name);
        return -1;
    }
    DialogTemplate tmpl;
    std::string error;
    if (!dialogParseTemplate(entry->data, entry->size, &tmpl, &error)) {
        fprintf(stderr, "%s: bad dialog template: %s\n", name, error.c_str());
        return -1;
    }
    Dialog dialog;
    dialogLayoutInFont(tmpl, &dialog);
    dialog.proc = proc;
    g_activeDialogs.push_back(&dialog);
    // A non-zero answer asks the manager to focus the first tab stop; zero
    // means the procedure took care of the focus itself.
    if (sendToProc(dialog, WM_INITDIALOG, 0, param) != 0 && dialog.focus < 0) {
        for (int i = 0; i < (int)dialog.controls.size(); i++)
            if ((dialog.controls[i].style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE)) {
                dialog.focus = i;
                break;
            }
    }
    dialogRun(dialog);  // returns at once if the procedure already ended it
    g_activeDialogs.erase(std::find(g_activeDialogs.begin(), g_activeDialogs.end(), &dialog));
    return dialog.result;
}

LRESULT SendDlgItemMessageA(HWND handle, int id, UINT message, WPARAM wParam, LPARAM) {
    Dialog* d = dialogFromHandle(handle);
    if (!d) return 0;
    // Two controls may share an id (a label and a button); button messages go
    // to the button.
    DialogControl* target = nullptr;
    bool buttonMessage = message == BM_GETCHECK || message == BM_SETCHECK;
    for (DialogControl& c : d->controls)
        if (c.id == id && (!buttonMessage || isButton(c))) {
            target = &c;
            break;
        }
    if (!target) return 0;
    switch (message) {
        case BM_SETCHECK:
            target->checked = (int)(wParam & 3);
            return 0;
        case BM_GETCHECK:
            return target->checked;
        default:
            return 0;
    }
}

BOOL EndDialog(HWND handle, INT_PTR result) {
    Dialog* d = dialogFromHandle(handle);
    if (!d) return FALSE;
    d->ended = true;
    d->result = result;
    return TRUE;
}

void dialogClick(Dialog& d, int index) {
    if (d.ended || !validIndex(d, index)) return;
    DialogControl& c = d.controls[index];
    if (!isButton(c) || buttonType(c) == BS_GROUPBOX) return;  // labels and frames do nothing
    d.focus = index;
    DWORD type = buttonType(c);
    if (type == BS_AUTORADIOBUTTON)
        checkRadioInGroup(d, index);
    else if (type == BS_AUTOCHECKBOX)
        c.checked = c.checked == (int)BST_CHECKED ? (int)BST_UNCHECKED : (int)BST_CHECKED;
    else if (type == BS_AUTO3STATE)
        c.checked = (c.checked + 1) % 3;
    sendCommand(d, c.id, BN_CLICKED);
}

void dialogKey(Dialog& d, WPARAM key) {
    if (d.ended) return;
    int n = (int)d.controls.size();
    switch (key) {
        case VK_TAB:
            for (int step = 1; step <= n; step++) {
                int i = ((d.focus < 0 ? -1 : d.focus) + step) % n;
                if ((d.controls[i].style & (WS_TABSTOP | WS_VISIBLE)) == (WS_TABSTOP | WS_VISIBLE)) {
                    d.focus = i;
                    break;
                }
            }
            break;
        case VK_SPACE:
            if (validIndex(d, d.focus)) dialogClick(d, d.focus);
            break;
        case VK_RETURN:
            if (validIndex(d, d.focus) && isPushButton(d.controls[d.focus]))
                sendCommand(d, d.controls[d.focus].id, BN_CLICKED);
            else
                sendCommand(d, IDOK, BN_CLICKED);
            break;
        case VK_ESCAPE:
            sendCommand(d, IDCANCEL, BN_CLICKED);
            break;
        default:
            break;
    }
}

void dialogClose(Dialog& d) {
    if (d.ended) return;
    // Unhandled, the close request becomes the cancel command.
    if (sendToProc(d, WM_CLOSE, 0, 0) == 0 && !d.ended) sendCommand(d, IDCANCEL, BN_CLICKED);
}

int dialogControlAt(const Dialog& d, int x, int y) {
    for (int i = 0; i < (int)d.controls.size(); i++) {
        const DialogControl& c = d.controls[i];
        if (!(c.style & WS_VISIBLE)) continue;
        if (x >= c.rect.left && x < c.rect.right && y >= c.rect.top && y < c.rect.bottom) return i;
    }
    return -1;
}
