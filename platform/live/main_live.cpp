// The live program: the show on an SDL2 window and audio device.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <unistd.h>

#include "assets/files.h"
#include "platform/win/win.h"

namespace {

// SDL video drivers that open without a display and show nothing: with one
// of them the settings dialog would wait for a click nobody can give.
bool showsNothing(const char* driver) {
    for (const char* name : {"offscreen", "dummy", "evdev"})
        if (strcasecmp(driver, name) == 0) return true;
    return false;
}

// Why the live program has nowhere to show the show, or "" when SDL opens a
// video driver that shows pictures. A driver the user names that cannot open
// (SDL_VIDEODRIVER=x11 without an X server) is left to the show's own error
// handling, as is every later failure.
std::string noDisplayReason() {
    // Probing the drivers makes libraries print their own complaints (Wayland
    // about XDG_RUNTIME_DIR); the real start-up repeats them where they matter.
    fflush(stderr);
    int saved = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY);
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);

    std::string reason;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
        const char* driver = SDL_GetCurrentVideoDriver();
        if (driver && showsNothing(driver))
            reason = std::string("SDL's \"") + driver + "\" video driver shows nothing";
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    } else {
        const char* forced = getenv("SDL_VIDEODRIVER");
        if (!forced || !*forced) reason = std::string("SDL finds no video device: ") + SDL_GetError();
    }

    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    return reason;
}

}  // namespace

int main(int argc, char** argv) {
    std::string reason = noDisplayReason();
    if (!reason.empty()) {
        const char* self = argc > 0 && argv[0] ? argv[0] : "velkor";
        fprintf(stderr,
                "velkor: no display to show on (%s); run it under xvfb-run (xvfb-run -a %s), "
                "or use velkor-capture for a headless run or a video\n",
                reason.c_str(), self);
        return 1;
    }
    warnIfNoAssetFolder("velkor");
    static char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOW);
}
