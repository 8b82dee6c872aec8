// The live program on a machine without a display: it refuses at once with
// one line that says what to do, rather than waiting on a dialog nobody can
// see; a video driver the user forces still takes the show's own error path.
#include <gtest/gtest.h>

#include "platform/live/scale_chooser.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "stderr_lines.h"

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
