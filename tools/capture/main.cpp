// velkor-capture: the show on the headless backend, in virtual time, in the
// current directory. Takes shots of the virtual screen, writes a trace of
// cues, scene starts and audio calls, and can script Escape and the close box.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "assets/files.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"
#include "tools/capture/capture.h"

namespace {

struct Shot {
    int64_t at;
    std::string file;
    bool taken = false;
};

std::vector<Shot> g_shots;

[[noreturn]] void usage(const char* problem) {
    if (problem) fprintf(stderr, "velkor-capture: %s\n", problem);
    fprintf(stderr,
            "usage: velkor-capture [--windowed] [--fps N] [--scale N] [--aa] [--shot SECONDS:FILE.png]... [--trace FILE]\n"
            "                      [--escape-at SECONDS] [--close-at SECONDS] [--until SECONDS] [--dialog-shot FILE.png]\n"
            "                      [--out FILE.mkv [--lossless]]\n"
            "Plays the show headless in virtual time from the DATA folder of the current directory.\n");
    exit(2);
}

// Whether `path` can be written: an existing file that is writable, or a new
// one in a folder that exists and is writable. Otherwise one line and false.
bool checkWritable(const std::string& path, const char* what) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string problem;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            problem = "it is a folder";
        else if (access(path.c_str(), W_OK) != 0)
            problem = strerror(errno);
    } else if (stat(folder.c_str(), &st) != 0) {
        problem = "no folder " + folder;
    } else if (!S_ISDIR(st.st_mode)) {
        problem = folder + " is not a folder";
    } else if (access(folder.c_str(), W_OK | X_OK) != 0) {
        problem = folder + ": " + strerror(errno);
    }
    if (!problem.empty())
        fprintf(stderr, "velkor-capture: cannot write the %s %s (%s)\n", what, path.c_str(), problem.c_str());
    return problem.empty();
}

bool parseSeconds(const char* text, double* out) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0) || v > 1e6) return false;
    *out = v;
    return true;
}

bool parseInt(const char* text, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi) return false;
    *out = (int)v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool windowed = false;
    int fps = 60;
    std::string trace, dialogShot;
    bool aa = false;
    CaptureOptions video;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) usage((std::string(name) + " needs a value").c_str());
            return argv[++i];
        };
        double seconds = 0;
        if (a == "--windowed") {
            windowed = true;
        } else if (a == "--fps") {
            if (!parseInt(value("--fps"), 1, 1000, &fps)) usage("--fps takes a whole number from 1 to 1000");
        } else if (a == "--shot") {
            std::string s = value("--shot");
            size_t colon = s.find(':');
            if (colon == std::string::npos || colon + 1 >= s.size() ||
                !parseSeconds(s.substr(0, colon).c_str(), &seconds))
                usage("--shot takes SECONDS:FILE.png");
            g_shots.push_back(Shot{(int64_t)(seconds * kVtTicksPerSecond), s.substr(colon + 1)});
        } else if (a == "--trace") {
            trace = value("--trace");
        } else if (a == "--dialog-shot") {
            dialogShot = value("--dialog-shot");
        } else if (a == "--escape-at") {
            if (!parseSeconds(value("--escape-at"), &seconds)) usage("--escape-at takes a time in seconds");
            vtScheduleKey(seconds, (int)VK_ESCAPE);
        } else if (a == "--close-at") {
            if (!parseSeconds(value("--close-at"), &seconds)) usage("--close-at takes a time in seconds");
            vtScheduleClose(seconds);
        } else if (a == "--until") {
            if (!parseSeconds(value("--until"), &seconds)) usage("--until takes a time in seconds");
            vtEndAt(seconds);
            video.until = seconds;
        } else if (a == "--out") {
            video.out = value("--out");
        } else if (a == "--lossless") {
            video.lossless = true;
        } else if (a == "--scale") {
            if (!parseSeconds(value("--scale"), &video.scale) || video.scale < 1 || video.scale > 4)
                usage("--scale takes a number from 1 to 4 (2.25: 1440 x 1080)");
        } else if (a == "--aa") {
            aa = true;
        } else if (a == "--help" || a == "-h") {
            usage(nullptr);
        } else {
            usage(("unknown option " + a).c_str());
        }
    }
    if (!video.out.empty() && (fps < 30 || fps > 240)) usage("with --out, --fps takes 30 to 240");
    if (video.out.empty() && video.lossless) usage("--lossless goes with --out");

    // Every output is checked before the show starts, not found unwritable at its end.
    bool writable = trace.empty() || checkWritable(trace, "trace");
    for (const auto& shot : g_shots) writable = checkWritable(shot.file, "shot") && writable;
    if (!dialogShot.empty()) writable = checkWritable(dialogShot, "dialog shot") && writable;
    if (!video.out.empty()) writable = checkWritable(video.out, "video") && writable;
    if (!writable) return 2;
    if (!trace.empty()) vtSetTraceFile(trace);
    warnIfNoAssetFolder("velkor-capture");

    vtSetDisplayRate(fps);
    vtSetRenderScale(video.scale);
    vtSetRenderSamples(aa ? 2 : 1);
    video.fps = fps;
    vtSetDialogShot(dialogShot);
    vtSetDialogScript(windowed ? std::vector<std::string>{"click:101", "click:103"}
                               : std::vector<std::string>{"click:103"});

    std::sort(g_shots.begin(), g_shots.end(), [](const Shot& a, const Shot& b) { return a.at < b.at; });
    if (!video.out.empty() && !captureStart(video)) return 2;
    if (!g_shots.empty() || !video.out.empty())  // only then is a frame looked at
        vtSetFrameHook([](int64_t ticks, const uint32_t* pixels, int width, int height) {
            for (auto& shot : g_shots)
                if (!shot.taken && shot.at <= ticks) {
                    shot.taken = true;
                    vtWritePng(shot.file, pixels, width, height);
                }
            captureFrame(ticks, pixels, width, height);
        });
    vtSetAudioSink([](const int16_t* frames, int count) { captureAudio(frames, count); });
    vtSetExitHook([](int code) {
        captureFinish(code);
        for (auto& shot : g_shots)
            if (!shot.taken)
                fprintf(stderr, "velkor-capture: %s not taken: the show ended at %.3f s\n", shot.file.c_str(),
                        vtNow() / 1e7);
    });

    static char commandLine[] = "";
    int result = WinMain(nullptr, nullptr, commandLine, SW_SHOW);
    vtExitProcess(result);
}
