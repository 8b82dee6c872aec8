// The live program: on a machine without a display it refuses at once with
// one line that says what to do, rather than waiting on a dialog nobody can
// see; a video driver the user forces still takes the show's own error path.
// On an X server its settings dialog shows the pixels the headless
// --dialog-shot writes.
#include <gtest/gtest.h>
#include <png.h>

#include "platform/win/render_size.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "stderr_lines.h"
// Xlib last: its macros (None, Bool, Status) would clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

struct Outcome {
    int status;          // exit status; 124 when the time limit ended it
    std::string errors;  // stderr
};

// Runs the live program with no display in its environment (no X, no
// Wayland, not even Wayland's default socket) and the given video driver, or
// SDL's own choice when `driver` is empty.
Outcome runWithoutDisplay(const std::string& driver) {
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u SDL_VIDEODRIVER";
    if (!driver.empty()) command += " SDL_VIDEODRIVER=" + driver;
    command += " timeout 20 " + std::string(VELKOR_BINARY_DIR) + "/velkor </dev/null 2>&1 >/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    Outcome run{-1, ""};
    char buffer[1024];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.errors.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class LiveWithoutDisplay : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(LiveWithoutDisplay, RefusesAtOnceWithOneLineSayingWhatToDo) {
    const Outcome run = runWithoutDisplay(GetParam());
    EXPECT_TRUE(run.status != 0 && run.status != 124) << "status " << run.status << " (124: still running after 20 s)";
    ASSERT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    for (const char* says : {"display", "xvfb-run", "velkor-capture"})
        EXPECT_TRUE(contains(run.errors, says)) << says << " in: " << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Drivers, LiveWithoutDisplay, ::testing::Values("", "offscreen", "dummy"),
                         [](const auto& info) { return info.param.empty() ? std::string("SdlsChoice") : info.param; });

// A real driver asked for by name that cannot open goes the show's way: the
// dialog and the display fail and the show reports it, without the advice.
TEST(LiveForcedDriver, UnavailableRealDriverKeepsTheShowsOwnErrors) {
    const Outcome run = runWithoutDisplay("x11");
    EXPECT_NE(run.status, 124) << "still running after 20 s";
    EXPECT_FALSE(contains(run.errors, "xvfb-run")) << run.errors;
    EXPECT_TRUE(contains(run.errors, "Set Display Mode failed")) << run.errors;
    EXPECT_EQ(run.status, 1);  // a failure, not a success
}

// The full-screen size steps down when 3D passes run long, three in a row,
// and back up only after two seconds of passes that would fit at the larger
// size; it never goes below 640 x 480.
TEST(ScaleChooser, StepsDownWhenPassesRunLongAndUpOnlyAfterACalmStretch) {
    ScaleChooser c(2.25);
    auto passes = [&c](double ms, int times) {
        for (int i = 0; i < times; i++) c.passed(ms, 1000.0 / 60);
        return c.scale();
    };
    passes(20, 2);
    passes(10, 1);  // one in time: the count starts again
    EXPECT_EQ(passes(20, 2), 2.25);
    EXPECT_DOUBLE_EQ(passes(20, 1), 1.8);
    // 10 ms at 1.8 would be 15.6 ms at 2.25: no room to grow, however long.
    EXPECT_DOUBLE_EQ(passes(10, 1000), 1.8);
    // 5 ms would be 7.8: after two seconds of it, one step up.
    EXPECT_DOUBLE_EQ(passes(5, 119), 1.8);
    EXPECT_EQ(passes(5, 1), 2.25);
    // Always late: down to 1 and no further.
    EXPECT_EQ(passes(40, 100), 1.0);
}

// Full screen starts at 640 x 480 enlarged as far as the display holds it,
// 2880 x 2160 at most: 4.5 on a 3840 x 2160 screen, and no more on a larger one.
TEST(RenderSize, FollowsTheDisplayUpTo2880x2160) {
    EXPECT_EQ(RenderSize::displayScale(1920, 1080), 2.25);
    EXPECT_EQ(RenderSize::displayScale(2560, 1440), 3.0);
    EXPECT_EQ(RenderSize::displayScale(2560, 2048), 4.0);  // 5:4: the width decides
    EXPECT_EQ(RenderSize::displayScale(3840, 2160), 4.5);
    EXPECT_EQ(RenderSize::displayScale(3840, 2400), 4.5);  // 16:10: 6 across, 5 down
    EXPECT_EQ(RenderSize::displayScale(5120, 2880), 4.5);
    EXPECT_EQ(RenderSize::displayScale(800, 400), 1.0);  // smaller than 640 x 480: never below
    unsetenv("VELKOR_SCALE");
    // Kept for the run, as the backends keep theirs (with its size chooser).
    static RenderSize* const uhd = new RenderSize;
    EXPECT_EQ(uhd->startPass(1, [](int* w, int* h) { return *w = 3840, *h = 2160, true; }), 4.5);
}

// VELKOR_SCALE fixes the size from 1 to 4.5 without asking the display; a
// larger value is named in one line.
TEST(RenderSize, VelkorScaleFixesTheSizeUpTo4Point5) {
    for (const char* value : {"1", "2.25", "4.5"}) {
        setenv("VELKOR_SCALE", value, 1);
        RenderSize fixed;
        const double scale = fixed.startPass(1, [](int*, int*) {
            ADD_FAILURE() << "the display was asked";
            return false;
        });
        EXPECT_EQ(scale, atof(value));
    }
    setenv("VELKOR_SCALE", "4.6", 1);
    const auto lines = stderrLines([] { RenderSize refused; });
    unsetenv("VELKOR_SCALE");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("VELKOR_SCALE=\"4.6\" is not ", 0), 0u) << lines[0];
}

namespace {

// A child process, ended (SIGTERM) and reaped when this goes.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
};

// Starts Xvfb on a free display number of its own choosing; -1 without Xvfb.
// `resets`: as xvfb-run starts it, resetting whenever its last client leaves.
int startXvfb(Child& server, bool resets = false) {
    int fds[2];
    if (access("/usr/bin/Xvfb", X_OK) != 0 || pipe(fds) != 0) return -1;
    server.pid = fork();
    if (server.pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
              resets ? (char*)nullptr : "-noreset", (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    // The number, then a newline in a write of its own: read to the newline
    // (closing the pipe before it comes ends the server).
    std::string text;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') text += c;
    close(fds[0]);
    return text.empty() ? -1 : atoi(text.c_str());
}

// The mapped top-level window titled `title`, or 0.
Window findWindow(Display* x, const char* title) {
    Window root = DefaultRootWindow(x), parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(x, root, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; i++) {
        char* name = nullptr;
        XWindowAttributes a;
        if (XFetchName(x, children[i], &name) && name && strcmp(name, title) == 0 &&
            XGetWindowAttributes(x, children[i], &a) && a.map_state == IsViewable)
            found = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// Starts the live program on `display`; its stderr comes through *errors
// (the read end of a pipe) when asked for.
void startLive(Child& live, const std::string& display, int* errors = nullptr) {
    int fds[2] = {-1, -1};
    if (errors && pipe(fds) != 0) return;
    live.pid = fork();
    if (live.pid == 0) {
        if (errors) dup2(fds[1], STDERR_FILENO), close(fds[0]), close(fds[1]);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        const std::string program = std::string(VELKOR_BINARY_DIR) + "/velkor";
        execl(program.c_str(), "velkor", (char*)nullptr);
        _exit(127);
    }
    if (errors) close(fds[1]), *errors = fds[0];
}

// An X server of its own that does not reset, and a connection to it that
// is made before the program starts, so that the server never sees its last
// client leave while the program checks the display. Null without Xvfb.
Display* startServer(Child& server, std::string* name) {
    const int display = startXvfb(server);
    if (display < 0) return nullptr;
    *name = ":" + std::to_string(display);
    return XOpenDisplay(name->c_str());
}

// The dialog's window, waited for up to `seconds`; 0 if it does not come.
Window waitForDialog(Display* x, double seconds) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (Window w = findWindow(x, "please configure settings")) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

std::vector<uint32_t> readPng(const std::string& path, int* width, int* height) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> pixels;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return pixels;
    image.format = PNG_FORMAT_BGRA;
    pixels.resize((size_t)image.width * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    for (auto& p : pixels) p &= 0xFFFFFF;
    *width = (int)image.width;
    *height = (int)image.height;
    return pixels;
}

}  // namespace

// The same dialog engine paints both: the live window's client area on a
// 1280 x 1024 X server holds exactly the pixels of the headless dialog shot
// (whose virtual desktop has that size too).
TEST(LiveDialog, ShowsThePixelsOfTheHeadlessDialogShot) {
    const std::string shot = testing::TempDir() + "velkor-dialog-" + std::to_string(getpid()) + ".png";
    ASSERT_EQ(system((std::string(VELKOR_BINARY_DIR) + "/velkor-capture --until 0 --dialog-shot " + shot).c_str()), 0);
    int width = 0, height = 0;
    const std::vector<uint32_t> expected = readPng(shot, &width, &height);
    remove(shot.c_str());
    ASSERT_FALSE(expected.empty());

    Child server, live;
    std::string name;
    Display* x = startServer(server, &name);
    if (!x) GTEST_SKIP() << "no Xvfb";
    startLive(live, name);
    // Waits for the window and its first picture: a few seconds at most.
    size_t differing = expected.size();
    int shownWidth = 0, shownHeight = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (differing > 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Window dialog = findWindow(x, "please configure settings");
        XWindowAttributes a;
        if (!dialog || !XGetWindowAttributes(x, dialog, &a)) continue;
        shownWidth = a.width, shownHeight = a.height;
        if (a.width != width || a.height != height) continue;
        XImage* image = XGetImage(x, dialog, 0, 0, width, height, AllPlanes, ZPixmap);
        if (!image) continue;
        differing = 0;
        for (int py = 0; py < height; py++)
            for (int px = 0; px < width; px++)
                differing += (XGetPixel(image, px, py) & 0xFFFFFF) != expected[(size_t)py * width + px];
        XDestroyImage(image);
    }
    XCloseDisplay(x);
    EXPECT_EQ(std::tuple(shownWidth, shownHeight), std::tuple(width, height));
    EXPECT_EQ(differing, 0u) << "of " << expected.size() << " pixels";
}

// On a server that resets whenever its last client leaves (as xvfb-run
// starts one), the program's check of the display must not leave it: the
// dialog shows at every start, none falls back to a driver that shows
// nothing. The test connects only once the start is over.
TEST(LiveDialog, ShowsAtEveryStartOnAServerThatResets) {
    Child server;
    const int display = startXvfb(server, true);
    if (display < 0) GTEST_SKIP() << "no Xvfb";
    const std::string name = ":" + std::to_string(display);
    for (int start = 0; start < 20; start++) {
        Child live;
        startLive(live, name);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        Display* x = XOpenDisplay(name.c_str());
        ASSERT_NE(x, nullptr);
        EXPECT_NE(waitForDialog(x, 10), 0u) << "start " << start;
        XCloseDisplay(x);
    }
}

// The X server going away, during the dialog or the show, ends the program
// at once with one line and status 1, never with a crash in its teardown.
TEST(LiveDisplayLoss, EndsWithOneLineAndStatusOne) {
    for (bool launched : {false, true, true}) {
        Child server, live;
        std::string name;
        Display* x = startServer(server, &name);
        if (!x) GTEST_SKIP() << "no Xvfb";
        int errors = -1;
        startLive(live, name, &errors);
        ASSERT_NE(waitForDialog(x, 20), 0u);
        if (launched) {  // Tab to Launch! and Enter: the show plays a few seconds
            for (KeySym key : {XK_Tab, XK_Return}) {
                XTestFakeKeyEvent(x, XKeysymToKeycode(x, key), True, 0);
                XTestFakeKeyEvent(x, XKeysymToKeycode(x, key), False, 0);
                XFlush(x);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            std::this_thread::sleep_for(std::chrono::seconds(3));
            ASSERT_EQ(waitpid(live.pid, nullptr, WNOHANG), 0) << "the show ended early";
        }
        XCloseDisplay(x);
        kill(server.pid, SIGTERM);
        waitpid(server.pid, nullptr, 0);
        server.pid = -1;
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = read(errors, buffer, sizeof buffer)) > 0;) said.append(buffer, (size_t)n);
        close(errors);
        int status = 0;
        waitpid(live.pid, &status, 0);
        live.pid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "launched " << launched << ", status " << status;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_TRUE(contains(said, "display went away")) << said;
    }
}
