// The headless dialog: fixed font metrics and a script of clicks and keys
// instead of a viewer. A script that runs out before the dialog ends stops
// the run, so an unattended run never waits forever.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/dialog.h"

namespace {

std::vector<std::string> g_dialogScript{"click:103"};

// The control a scripted click means: the button with that id (a label may
// share it), else any control with it.
int controlForId(const Dialog& d, int id) {
    int any = -1;
    for (int i = 0; i < (int)d.controls.size(); i++) {
        if (d.controls[i].id != id) continue;
        if (d.controls[i].windowClass == "button") return i;
        if (any < 0) any = i;
    }
    return any;
}

// Parses "click:ID" strictly: digits only, in int range.
bool clickTarget(const std::string& action, int* id) {
    const std::string prefix = "click:";
    if (action.compare(0, prefix.size(), prefix) != 0) return false;
    std::string digits = action.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *id = std::atoi(digits.c_str());
    return true;
}

}  // namespace

void vtSetDialogScript(const std::vector<std::string>& actions) { g_dialogScript = actions; }

// The metrics of an 8-point sans serif at 96 dpi.
void sysDialogBaseUnits(const char*, int, int* baseX, int* baseY) {
    if (baseX) *baseX = 6;
    if (baseY) *baseY = 13;
}

void sysRunDialog(Dialog& dialog) {
    for (const std::string& action : g_dialogScript) {
        if (dialog.ended) break;
        int id = 0;
        if (clickTarget(action, &id)) {
            vtTrace("dialog click %d", id);
            int index = controlForId(dialog, id);
            if (index < 0)
                fprintf(stderr, "dialog script: no control with id %d\n", id);
            else
                dialogClick(dialog, index);
        } else if (action == "tab" || action == "space" || action == "enter" || action == "escape") {
            vtTrace("dialog %s", action.c_str());
            WPARAM key = action == "tab" ? VK_TAB : action == "space" ? VK_SPACE : action == "enter" ? VK_RETURN : VK_ESCAPE;
            dialogKey(dialog, key);
        } else if (action == "close") {
            vtTrace("dialog close");
            dialogClose(dialog);
        } else {
            fprintf(stderr, "dialog script: unknown action \"%s\"\n", action.c_str());
        }
    }
    if (!dialog.ended) {
        fprintf(stderr, "dialog script: the script ended while the dialog \"%s\" was still open\n",
                dialog.caption.c_str());
        ExitProcess(0);
    }
}
