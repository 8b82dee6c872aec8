// What both backends' window layers share: the registered window classes and
// the default handling of messages.
#include <map>
#include <string>

#include "platform/win/win.h"
#include "platform/win/wininternal.h"

namespace {
std::map<std::string, WNDPROC> g_classes;
}

WORD RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName) return 0;
    g_classes[wc->lpszClassName] = wc->lpfnWndProc;
    return (WORD)g_classes.size();
}

WNDPROC winClassProcedure(const char* className) {
    auto it = g_classes.find(className ? className : "");
    return it == g_classes.end() ? nullptr : it->second;
}

HICON LoadIconA(HINSTANCE, const char*) { return nullptr; }  // the program carries no icon
HGDIOBJ GetStockObject(int) { return nullptr; }

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    // The close box: the window goes, and its WM_DESTROY with it.
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }
