// The modal dialog engine: reads a DLGTEMPLATEEX, lays its controls out in
// pixels, runs the dialog manager's rules (automatic radio group, focus and
// Tab, Space, Enter, Escape, close box) and the modal loop, and paints the
// dialog (dialog_paint.h). The backend shows the pixels and reports input.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/win.h"

struct DialogControl {
    std::string windowClass;  // "button", "static", ...
    int id = 0;
    DWORD style = 0;
    std::string text;
    RECT rect{};              // pixels, relative to the client area
    int checked = 0;          // buttons: BST_CHECKED or BST_UNCHECKED
};

struct Dialog {
    std::string caption;
    DWORD style = 0;
    int x = 0, y = 0;              // pixels on the screen
    int width = 0, height = 0;     // client area in pixels
    std::string fontFace;
    int fontPoints = 0;
    std::vector<DialogControl> controls;
    int focus = -1;                // index of the focused control, -1 none
    int pressed = -1;              // push button held down (drawing)
    int scale = 1;                 // drawn this many times larger (large desktops)
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};

// A DLGTEMPLATEEX as stored, in dialog units (texts converted to UTF-8).
struct DialogItemTemplate {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    WORD classAtom = 0;       // 0x0080 button, 0x0082 static, ...; 0 when named
    std::string windowClass;  // lower-case name: "button", "static", ...
    std::string text;
    WORD extraCount = 0;
};

struct DialogTemplate {
    WORD version = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string menu;         // empty: none
    std::string windowClass;  // empty: the default dialog class
    std::string caption;
    WORD pointSize = 0, weight = 0;  // font fields exist only with DS_SETFONT
    BYTE italic = 0, charset = 0;
    std::string face;
    std::vector<DialogItemTemplate> items;
};

// Reads a DLGTEMPLATEEX of `size` bytes. False with a short reason in
// `error` when the bytes are not a complete, well-formed template.
bool dialogParseTemplate(const BYTE* data, size_t size, DialogTemplate* out, std::string* error);
// Lays the template out in pixels for the given base units:
// x = MulDiv(du, baseX, 4), y = MulDiv(du, baseY, 8).
void dialogLayout(const DialogTemplate& tmpl, int baseX, int baseY, Dialog* out);
// Lays the template out in the dialog font (dialog_paint.h) at the scale the
// desktop asks for: 1, 2 from 1920 x 1080, 3 from 3840 x 2160. Without the
// font, the classic 8-point metrics (6 x 13 base units).
void dialogLayoutInFont(const DialogTemplate& tmpl, Dialog* out);
// The dialog an HWND from dialogHandle stands for, while its DialogBoxParamA
// runs; nullptr otherwise.
Dialog* dialogFromHandle(HWND handle);

// Input to the dialog's window, as the backend reports it (sysDialogInput).
struct DialogInput {
    enum Kind { Press, Move, Release, Key, Close };
    Kind kind = Close;
    int x = 0, y = 0;     // Press, Move, Release: the left button, client pixels
    WPARAM key = 0;       // Key: VK_TAB, VK_SPACE, VK_RETURN or VK_ESCAPE
    bool repeat = false;  // Key: held down (only Tab repeats)
};

// The modal loop: shows the dialog in the backend's window, painted anew after
// each input, until it ends (the procedure may end the process meanwhile).
// A dialog that cannot be shown, or loses its input, ends with -1.
void dialogRun(Dialog& dialog);

// Input, as the dialog manager handles it.
void dialogClick(Dialog& dialog, int controlIndex);
void dialogKey(Dialog& dialog, WPARAM virtualKey);
void dialogClose(Dialog& dialog);
int dialogControlAt(const Dialog& dialog, int x, int y);
HWND dialogHandle(Dialog& dialog);
