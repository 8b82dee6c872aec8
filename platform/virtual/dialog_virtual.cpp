// The headless dialog: a script of clicks and keys instead of a viewer, and
// the picture of the dialog as it opens for --dialog-shot. A click is the
// left button pressed and released at the centre of the control. A script
// that runs out before the dialog ends stops the run, so an unattended run
// never waits forever.
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/hooks/hooks.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

std::vector<std::string> g_dialogScript{"click:103"};
std::string g_dialogShot;
bool g_dialogShotWritten = false;

size_t g_nextAction = 0;
std::deque<DialogInput> g_pending;  // the second half of a click
int g_width = 0, g_height = 0;
std::string g_caption;

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

// The input the next action of the script stands for; false for an action
// that stands for none (said in a line) and at the end of the script.
bool nextAction(const Dialog& d, DialogInput* in) {
    const std::string& action = g_dialogScript[g_nextAction++];
    int id = 0;
    *in = DialogInput{};
    if (clickTarget(action, &id)) {
        hookTrace("dialog click %d", id);
        int index = controlForId(d, id);
        if (index < 0) {
            fprintf(stderr, "dialog script: no control with id %d\n", id);
            return false;
        }
        const RECT& r = d.controls[index].rect;
        int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
        *in = DialogInput{DialogInput::Press, x, y};
        g_pending.push_back(DialogInput{DialogInput::Release, x, y});
        return true;
    }
    const struct { const char* name; WPARAM key; } keys[] = {
        {"tab", VK_TAB}, {"space", VK_SPACE}, {"enter", VK_RETURN}, {"escape", VK_ESCAPE}};
    for (const auto& k : keys)
        if (action == k.name) {
            hookTrace("dialog %s", k.name);
            in->kind = DialogInput::Key;
            in->key = k.key;
            return true;
        }
    if (action == "close") {
        hookTrace("dialog close");
        in->kind = DialogInput::Close;
        return true;
    }
    fprintf(stderr, "dialog script: unknown action \"%s\"\n", action.c_str());
    return false;
}

}  // namespace

void vtSetDialogScript(const std::vector<std::string>& actions) { g_dialogScript = actions; }
void vtSetDialogShot(const std::string& path) { g_dialogShot = path; }

bool sysDialogOpen(const char* caption, int, int, int width, int height) {
    g_nextAction = 0;
    g_pending.clear();
    g_width = width;
    g_height = height;
    g_caption = caption;
    return true;
}

void sysDialogShow(const uint32_t* pixels) {
    if (g_dialogShot.empty() || g_dialogShotWritten) return;
    g_dialogShotWritten = true;
    vtWritePng(g_dialogShot, pixels, g_width, g_height);
}

bool sysDialogInput(const Dialog& d, DialogInput* in) {
    if (!g_pending.empty()) {
        *in = g_pending.front();
        g_pending.pop_front();
        return true;
    }
    while (g_nextAction < g_dialogScript.size())
        if (nextAction(d, in)) return true;
    fprintf(stderr, "dialog script: the script ended while the dialog \"%s\" was still open\n", g_caption.c_str());
    ExitProcess(0);
}

void sysDialogClose() {}
