// The live program on a machine without a display: it refuses at once with
// one line that says what to do, rather than waiting on a dialog nobody can
// see; a video driver the user forces still takes the show's own error path.
#include <gtest/gtest.h>

#include "platform/live/scale_chooser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "stderr_lines.h"

namespace {

const std::string kLive = std::string(VELKOR_BINARY_DIR) + "/velkor";

struct Outcome {
    int status = -1;  // exit status; 124 when the time limit ended it
    std::vector<std::string> lines;  // stderr
};

// Runs the live program with no display in its environment (no X, no
// Wayland, not even Wayland's default socket) and the given video driver, or
// SDL's own choice when `driver` is empty; its stderr, line by line.
Outcome runWithoutDisplay(const std::string& driver) {
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u SDL_VIDEODRIVER";
    if (!driver.empty()) command += " SDL_VIDEODRIVER=" + driver;
    FILE* errors = popen((command + " timeout 20 " + kLive + " </dev/null 2>&1 >/dev/null").c_str(), "r");
    Outcome run;
    char line[1024];
    while (errors && fgets(line, sizeof line, errors)) run.lines.emplace_back(line, strcspn(line, "\n"));
    int status = errors ? pclose(errors) : -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (auto& l : lines) text += l + "\n";
    return text;
}

class LiveWithoutDisplay : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        struct stat st;
        ASSERT_EQ(stat(kLive.c_str(), &st), 0) << kLive;
    }
};

}  // namespace

TEST_P(LiveWithoutDisplay, RefusesAtOnceWithOneLineSayingWhatToDo) {
    Outcome run = runWithoutDisplay(GetParam());
    EXPECT_NE(run.status, 124) << "still running after 20 s";
    EXPECT_NE(run.status, 0);
    ASSERT_EQ(run.lines.size(), 1u) << joined(run.lines);
    EXPECT_TRUE(contains(run.lines[0], "display")) << run.lines[0];
    EXPECT_TRUE(contains(run.lines[0], "xvfb-run")) << run.lines[0];
    EXPECT_TRUE(contains(run.lines[0], "velkor-capture")) << run.lines[0];
}

INSTANTIATE_TEST_SUITE_P(Drivers, LiveWithoutDisplay, ::testing::Values("", "offscreen", "dummy"),
                         [](const auto& info) { return info.param.empty() ? std::string("SdlsChoice") : info.param; });

// A real driver asked for by name that cannot open goes the show's way: the
// dialog and the display fail and the show reports it, without the advice.
TEST(LiveForcedDriver, UnavailableRealDriverKeepsTheShowsOwnErrors) {
    Outcome run = runWithoutDisplay("x11");
    EXPECT_NE(run.status, 124) << "still running after 20 s";
    std::string text = joined(run.lines);
    EXPECT_FALSE(contains(text, "xvfb-run")) << text;
    EXPECT_TRUE(contains(text, "Set Display Mode failed")) << text;
}

// The full-screen size steps down when 3D passes run long, three in a row,
// and back up only after two seconds of passes that would fit at the larger
// size; it never goes below 640 x 480.
TEST(ScaleChooser, StepsDownWhenPassesRunLongAndUpOnlyAfterACalmStretch) {
    const double frame = 1000.0 / 60;
    ScaleChooser c(2.25);
    EXPECT_EQ(c.scale(), 2.25);
    c.passed(20, frame);
    c.passed(20, frame);
    c.passed(10, frame);  // one in time: the count starts again
    c.passed(20, frame);
    c.passed(20, frame);
    EXPECT_EQ(c.scale(), 2.25);
    c.passed(20, frame);
    EXPECT_DOUBLE_EQ(c.scale(), 1.8);
    // 10 ms at 1.8 would be 15.6 ms at 2.25: no room to grow, however long.
    for (int i = 0; i < 1000; i++) c.passed(10, frame);
    EXPECT_DOUBLE_EQ(c.scale(), 1.8);
    // 5 ms would be 7.8: after two seconds of it, one step up.
    for (int i = 0; i < 119; i++) c.passed(5, frame);
    EXPECT_DOUBLE_EQ(c.scale(), 1.8);
    c.passed(5, frame);
    EXPECT_EQ(c.scale(), 2.25);
    // Always late: down to 1 and no further.
    for (int i = 0; i < 100; i++) c.passed(40, frame);
    EXPECT_EQ(c.scale(), 1.0);
}
