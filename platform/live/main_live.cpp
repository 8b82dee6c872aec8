// The live program: the show on an SDL2 window and audio device.
#include "platform/win/win.h"

int main(int argc, char** argv) {
    static char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOW);
}
