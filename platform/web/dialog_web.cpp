// The settings dialog's window in the page: a window drawn over the canvas
// with the dialog's caption, showing the dialog as the engine painted it, and
// reporting the left mouse button (held buttons follow the pointer outside it
// too), Tab, Space, Enter, Escape and its close box.
#include "platform/backend.h"
#include "platform/web/web.h"

namespace {
int g_width = 0, g_height = 0;
}

bool sysDialogOpen(const char* caption, int, int, int width, int height) {
    g_width = width, g_height = height;
    webDialogOpen(caption, width, height);
    webSetState("dialog");
    return true;
}

void sysDialogShow(const uint32_t* pixels) { webDialogShow(pixels, g_width, g_height); }

bool sysDialogInput(const Dialog&, DialogInput* in) {
    WebInput e;
    for (;;) {
        if (!webNextInput(&e, 1000)) continue;
        *in = DialogInput{};
        switch (e.kind) {
        case WebInput::Press:
            *in = DialogInput{DialogInput::Press, e.a, e.b};
            return true;
        case WebInput::Move:
            *in = DialogInput{DialogInput::Move, e.a, e.b};
            return true;
        case WebInput::Release:
            *in = DialogInput{DialogInput::Release, e.a, e.b};
            return true;
        case WebInput::Key:
            if (e.a != (int)VK_TAB && e.a != (int)VK_SPACE && e.a != (int)VK_RETURN && e.a != (int)VK_ESCAPE) break;
            in->kind = DialogInput::Key;
            in->key = (WPARAM)e.a;
            in->repeat = e.b != 0;
            return true;
        case WebInput::Close:
            in->kind = DialogInput::Close;
            return true;
        default:
            break;
        }
    }
}

void sysDialogClose() { webDialogClose(); }
