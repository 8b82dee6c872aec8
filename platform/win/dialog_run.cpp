// The settings dialog on screen, the same on every backend: laid out in the
// dialog font, painted into pixels (dialog_paint.cpp) and shown in the
// backend's dialog window, which reports the mouse and keys; a push button
// is pressed while the left button is held over it and clicked when it is
// released over it again.
#include <cstdio>
#include <vector>

#include "platform/backend.h"
#include "platform/win/dialog.h"
#include "platform/win/dialog_paint.h"

namespace {

int scaleForDesktop() {
    int w = 0, h = 0;
    if (!sysDesktopSize(&w, &h)) return 1;
    if (w >= 3840 && h >= 2160) return 3;
    if (w >= 1920 && h >= 1080) return 2;
    return 1;
}

void giveUp(Dialog& d) {
    d.ended = true;
    d.result = -1;
}

bool isButton(const Dialog& d, int index) { return index >= 0 && d.controls[index].windowClass == "button"; }

}  // namespace

void dialogLayoutInFont(const DialogTemplate& tmpl, Dialog* out) {
    const int scale = scaleForDesktop();
    int baseX = 0, baseY = 0;
    if (dialogFontOpen(tmpl.pointSize > 0 ? tmpl.pointSize : 8, scale)) dialogFontBaseUnits(&baseX, &baseY);
    if (baseX <= 0 || baseY <= 0) {
        baseX = 6 * scale;
        baseY = 13 * scale;
    }
    dialogLayout(tmpl, baseX, baseY, out);
    out->scale = scale;
}

void dialogRun(Dialog& d) {
    if (d.ended) return;  // ended by its procedure while it was being set up
    const int w = d.width > 0 ? d.width : 1, h = d.height > 0 ? d.height : 1;
    if (!sysDialogOpen(d.caption.c_str(), d.x, d.y, w, h)) {
        giveUp(d);
        return;
    }
    std::vector<uint32_t> pixels((size_t)w * h);
    auto show = [&] {
        dialogPaint(d, d.scale, pixels.data());
        sysDialogShow(pixels.data());
    };
    show();
    int captured = -1;  // the button under a held left mouse button
    DialogInput in;
    while (!d.ended && sysDialogInput(d, &in)) {
        switch (in.kind) {
            case DialogInput::Press: {
                int i = dialogControlAt(d, in.x, in.y);
                if (isButton(d, i)) {
                    captured = i;
                    d.pressed = i;
                    d.focus = i;  // a button takes the focus when pressed
                }
                break;
            }
            case DialogInput::Move:
                if (captured >= 0) d.pressed = dialogControlAt(d, in.x, in.y) == captured ? captured : -1;
                break;
            case DialogInput::Release:
                if (captured >= 0) {
                    int i = captured;
                    captured = -1;
                    d.pressed = -1;
                    if (dialogControlAt(d, in.x, in.y) == i) dialogClick(d, i);
                }
                break;
            case DialogInput::Key:
                if (in.key == VK_TAB || !in.repeat) dialogKey(d, in.key);
                break;
            case DialogInput::Close:
                dialogClose(d);
                break;
        }
        if (!d.ended) show();
    }
    if (!d.ended) giveUp(d);  // no more input can come
    sysDialogClose();
}
