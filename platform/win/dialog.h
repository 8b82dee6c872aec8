// The modal dialog engine shared by both backends: reads a DLGTEMPLATEEX,
// lays its controls out in pixels and runs the dialog manager's rules
// (automatic radio group, focus and Tab, Space, Enter, Escape, close box).
// The backend runs the modal loop and feeds it input.
#pragma once
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
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};

// Dialog base units in pixels of the template's font (the backend measures).
void sysDialogBaseUnits(const char* face, int points, int* baseX, int* baseY);
// Runs the modal loop until dialog.ended (the backend feeds dialogClick,
// dialogKey and dialogClose); the procedure may end the process meanwhile.
void sysRunDialog(Dialog& dialog);

// Input, as the dialog manager handles it.
void dialogClick(Dialog& dialog, int controlIndex);
void dialogKey(Dialog& dialog, WPARAM virtualKey);
void dialogClose(Dialog& dialog);
int dialogControlAt(const Dialog& dialog, int x, int y);
HWND dialogHandle(Dialog& dialog);
