// velkor-capture: the show on the headless backend, in virtual time, in the
// current directory. Takes shots of the virtual screen, writes a trace of
// cues, scene starts and audio calls, and can script Escape and the close box.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "assets/files.h"
#include "platform/hooks/hooks.h"
#include "platform/render_scale.h"
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
std::atomic<bool> g_showFailed{false};  // the show threw: the video is not finished

// The first SIGINT, SIGTERM or SIGHUP: the run ends at the scheduler's next
// turn with 128 + its number.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int number) {
    int none = 0;
    if (g_signal.compare_exchange_strong(none, number)) vtRequestExit(128 + number);
}

const char* signalName(int number) {
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : number == SIGHUP ? "SIGHUP" : "a signal";
}

// A signal ignored when we start (nohup, a background job) stays ignored. A
// closed pipe on stderr, or a file over the size limit, is a failed write
// (said and handled), not the end of the run.
void catchSignals() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old = {};
        if (sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

[[noreturn]] void usage(const char* problem) {
    if (problem) fprintf(stderr, "velkor-capture: %s\n", problem);
    fprintf(stderr,
            "usage: velkor-capture [--windowed] [--fps N] [--scale N] [--aa] [--shot SECONDS:FILE.png]... [--trace FILE]\n"
            "                      [--escape-at SECONDS] [--close-at SECONDS] [--until SECONDS] [--dialog-shot FILE.png]\n"
            "                      [--out FILE.mkv [--lossless]] [--audio FILE.wav]\n"
            "Plays the show headless in virtual time from the DATA folder of the current directory.\n");
    exit(2);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Whether `path` can be written: a device or pipe that is writable, or a
// regular file (new, or writable) in a folder where its replacement can be
// made. Otherwise one line and false.
bool checkWritable(const std::string& path, const char* what) {
    std::string problem;
    struct stat st;
    int missing = stat(path.c_str(), &st) == 0 ? 0 : errno;
    if (missing == 0 && S_ISDIR(st.st_mode)) {
        problem = "it is a folder";
    } else if (missing == 0 && access(path.c_str(), W_OK) != 0) {
        problem = strerror(errno);
    } else if (missing != 0 && missing != ENOENT) {
        problem = strerror(missing);  // a name too long, a loop of links, ...
    } else if (missing != 0 || S_ISREG(st.st_mode)) {
        std::string folder = folderOf(vtOutputTarget(path));
        if (stat(folder.c_str(), &st) != 0)
            problem = "no folder " + folder;
        else if (!S_ISDIR(st.st_mode))
            problem = folder + " is not a folder";
        else if (access(folder.c_str(), W_OK | X_OK) != 0)
            problem = folder + ": " + strerror(errno);
    }
    if (!problem.empty())
        fprintf(stderr, "velkor-capture: cannot write the %s %s (%s)\n", what, path.c_str(), problem.c_str());
    return problem.empty();
}

// Two names for one file: the same device and inode where both exist, else
// the same name once links are followed.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    bool hasA = stat(a.c_str(), &sa) == 0, hasB = stat(b.c_str(), &sb) == 0;
    if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return hasA == hasB && vtOutputTarget(a) == vtOutputTarget(b);
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
    // Descriptors 0 to 2 stay taken (by /dev/null when closed), so that no
    // file opened later becomes stderr and gets the messages.
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", fd ? O_WRONLY : O_RDONLY) != fd) return 1;
    catchSignals();

    bool windowed = false;
    int fps = 60;
    std::string trace, dialogShot;
    static std::string sound;
    bool aa = false;
    CaptureOptions video;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) usage((std::string(name) + " needs a value").c_str());
            return argv[++i];
        };
        auto file = [&](const char* name) -> std::string {
            std::string path = value(name);
            if (path.empty()) usage((std::string(name) + " needs a file name").c_str());
            return path;
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
            trace = file("--trace");
        } else if (a == "--dialog-shot") {
            dialogShot = file("--dialog-shot");
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
            video.out = file("--out");
        } else if (a == "--audio") {
            sound = file("--audio");
        } else if (a == "--lossless") {
            video.lossless = true;
        } else if (a == "--scale") {
            if (!parseSeconds(value("--scale"), &video.scale) || video.scale < 1 || video.scale > kMaxRenderScale)
                usage("--scale takes a number from 1 to 4.5 (2.25: 1440 x 1080, 4.5: 2880 x 2160)");
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
    for (const auto& shot : g_shots)
        if (video.until >= 0 && shot.at > (int64_t)(video.until * kVtTicksPerSecond))
            usage(("the shot " + shot.file + " comes after --until").c_str());
    // Each output its own file: two writers of one file would leave neither.
    std::vector<std::pair<const char*, std::string>> outputs;
    if (!trace.empty()) outputs.emplace_back("--trace", trace);
    for (const auto& shot : g_shots) outputs.emplace_back("--shot", shot.file);
    if (!dialogShot.empty()) outputs.emplace_back("--dialog-shot", dialogShot);
    if (!video.out.empty()) outputs.emplace_back("--out", video.out);
    if (!sound.empty()) outputs.emplace_back("--audio", sound);
    for (size_t i = 0; i < outputs.size(); i++)
        for (size_t j = i + 1; j < outputs.size(); j++)
            if (sameFile(outputs[i].second, outputs[j].second))
                usage((std::string(outputs[i].first) + " and " + outputs[j].first + " name the same file " +
                       outputs[j].second).c_str());

    // Every output is checked before the show starts, not found unwritable at its end.
    bool writable = trace.empty() || checkWritable(trace, "trace");
    for (const auto& shot : g_shots) writable = checkWritable(shot.file, "shot") && writable;
    if (!dialogShot.empty()) writable = checkWritable(dialogShot, "dialog shot") && writable;
    if (!video.out.empty()) writable = checkWritable(video.out, "video") && writable;
    if (!sound.empty()) writable = checkWritable(sound, "sound") && writable;
    if (!writable) return 2;
    warnIfNoAssetFolder("velkor-capture");

    vtSetDisplayRate(fps);
    vtSetRenderScale(video.scale);
    vtSetRenderSamples(aa ? 2 : 1);
    video.fps = fps;
    vtSetDialogShot(dialogShot);
    vtSetDialogScript(windowed ? std::vector<std::string>{"click:101", "click:103"}
                               : std::vector<std::string>{"click:103"});

    std::sort(g_shots.begin(), g_shots.end(), [](const Shot& a, const Shot& b) { return a.at < b.at; });
    if (!video.out.empty() && !captureStart(video)) return 1;
    if (!sound.empty() && !soundStart(sound)) return captureFinish(false), 1;
    if (!trace.empty() && !vtSetTraceFile(trace)) return captureFinish(false), soundFinish(false), 1;
    if (!g_shots.empty() || !video.out.empty())  // only then is a frame looked at
        vtSetFrameHook([](int64_t ticks, const uint32_t* pixels, int width, int height) {
            for (auto& shot : g_shots)
                if (!shot.taken && shot.at <= ticks) {
                    shot.taken = true;
                    vtWritePng(shot.file, pixels, width, height);
                }
            captureFrame(ticks, pixels, width, height);
        });
    vtSetAudioSink([](const int16_t* frames, int count) {
        captureAudio(frames, count);
        soundWrite(frames, count);
    });
    static std::string out = video.out;
    vtSetExitHook([](int code) {
        // Cut short by a signal: the video's temporary file goes, the trace
        // keeps what it has and says so.
        const int number = g_signal.load();
        const bool interrupted = number != 0 && code == 128 + number;
        captureFinish(!interrupted && !g_showFailed);
        soundFinish(!interrupted && !g_showFailed);
        if (interrupted) {
            hookTrace("interrupted by %s", signalName(number));
            fprintf(stderr, "velkor-capture: interrupted by %s%s%s\n", signalName(number), out.empty() ? "" : ": ",
                    out.empty() ? "" : (out + " was not written").c_str());
            return;
        }
        for (auto& shot : g_shots)
            if (!shot.taken) {
                fprintf(stderr, "velkor-capture: %s not taken: the show ended at %.3f s\n", shot.file.c_str(),
                        vtNow() / 1e7);
                vtOutputFailed();
            }
    });

    static char commandLine[] = "";
    int result = 1;
    try {
        result = WinMain(nullptr, nullptr, commandLine, SW_SHOW);
    } catch (const std::exception& e) {
        // Out of memory or threads in the show: the run ends as failed.
        g_showFailed = true;
        fprintf(stderr, "velkor-capture: the show stopped (%s)%s%s\n", e.what(), out.empty() ? "" : ": ",
                out.empty() ? "" : (out + " was not written").c_str());
        vtOutputFailed();
    }
    vtExitProcess(result);
}
