// The page's `?shot=T`: the show on the headless backend in virtual time, the
// dialog answered as velkor-capture answers it, up to the frame the virtual
// display shows at T seconds, which goes onto the page's canvas as it is.
// Arguments (from the page): --shot SECONDS [--windowed] [--scale N] [--aa].
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "assets/files.h"
#include "platform/render_scale.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

extern "C" {
void webShotShow(const uint32_t* pixels, int width, int height);  // shot.js
void webShotEnded(int code);  // stops all threads, this one too
}

namespace {

int64_t g_at = -1;
bool g_taken = false;

[[noreturn]] void usage(const char* problem) {
    fprintf(stderr, "velkor-shot: %s (the page's address takes ?shot=SECONDS, and ?windowed, ?scale=N, ?aa)\n",
            problem);
    exit(2);
}

double number(const char* text, double lo, double hi, const char* what) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= lo && v <= hi)) usage(what);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    bool windowed = false, aa = false;
    double scale = 1;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--shot" && i + 1 < argc)
            g_at = (int64_t)(number(argv[++i], 0, 1e6, "shot= takes a time in seconds") * kVtTicksPerSecond);
        else if (a == "--windowed")
            windowed = true;
        else if (a == "--scale" && i + 1 < argc)
            scale = number(argv[++i], 1, kMaxRenderScale, "scale= takes a size from 1 to 4.5");
        else if (a == "--aa")
            aa = true;
        else
            usage(("cannot use " + a).c_str());
    }
    if (g_at < 0) usage("shot= needs a time in seconds");
    warnIfNoAssetFolder("velkor-shot");

    vtSetRenderScale(scale);
    vtSetRenderSamples(aa ? 2 : 1);
    vtSetDialogScript(windowed ? std::vector<std::string>{"click:101", "click:103"}
                               : std::vector<std::string>{"click:103"});
    vtSetFrameHook([](int64_t ticks, const uint32_t* pixels, int width, int height) {
        if (g_taken || ticks < g_at) return;
        g_taken = true;
        webShotShow(pixels, width, height);
        vtRequestExit(0);
    });
    // A page's thread cannot end the process as natively (_exit returns into
    // a trap): the page stops all the threads, this one with them.
    vtSetExitHook([](int code) {
        if (!g_taken) fprintf(stderr, "velkor-shot: no frame at %.3f s: the show ended at %.3f s\n", g_at / 1e7, vtNow() / 1e7);
        fflush(stdout);
        fflush(stderr);
        webShotEnded(code);
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    });
    static char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, SW_SHOW);
}
