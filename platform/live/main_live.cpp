// The live program: the show on an SDL2 window and audio device.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <string>

#include "assets/files.h"
#include "platform/live/live.h"
#include "platform/win/win.h"

int main(int argc, char** argv) {
    std::string reason = liveOpenDisplay();
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
