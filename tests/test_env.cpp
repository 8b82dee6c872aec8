// Settings from the environment, and threads the system will not give: a
// value not understood is named with what is used instead; the renderer
// draws with the workers it can have; the show ends with one line when it
// cannot start a thread of its own.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/rm/workers.h"
#include "platform/win/env.h"
#include "platform/win/win.h"
#include "stderr_lines.h"

TEST(Environment, ValuesNotUnderstoodAreNamedWithWhatIsUsedInstead) {
    const struct { const char* value; double lo, hi; bool whole; double result; } cases[] = {
        {"3", 1, 64, true, 3},       {"64", 1, 64, true, 64},     {"0", 1, 64, true, -1},
        {"-1", 1, 64, true, -1},     {"1000", 1, 64, true, -1},   {"abc", 1, 64, true, -1},
        {" 2", 1, 64, true, -1},     {"2x", 1, 64, true, -1},     {"2.5", 1, 64, true, -1},
        {"2.25", 1, 4.5, false, 2.25}, {"4.5", 1, 4.5, false, 4.5}, {"4.51", 1, 4.5, false, -1},
        {"9", 1, 4.5, false, -1},      {"1e0", 1, 4.5, false, -1},
        {"1", 0, 1, true, 1},        {"yes", 0, 1, true, -1},     {"", 1, 64, true, -1},
    };
    for (const auto& c : cases) {
        setenv("VELKOR_TEST_SETTING", c.value, 1);
        double got = 0;
        auto lines = stderrLines([&] { got = envSetting("VELKOR_TEST_SETTING", c.lo, c.hi, c.whole, -1, "using -1"); });
        EXPECT_EQ(got, c.result) << '"' << c.value << '"';
        // Only a value that is set and not understood is said, in one line.
        const bool said = c.result == -1 && *c.value;
        ASSERT_EQ(lines.size(), said ? 1u : 0u) << '"' << c.value << '"';
        if (said) {
            EXPECT_EQ(lines[0].rfind("VELKOR_TEST_SETTING=\"" + std::string(c.value) + "\" is not ", 0), 0u);
            EXPECT_TRUE(contains(lines[0], "; using -1")) << lines[0];
        }
    }
    unsetenv("VELKOR_TEST_SETTING");
    EXPECT_EQ(envSetting("VELKOR_TEST_SETTING", 1, 4, false, 7, "x"), 7);
}

namespace {

// In a child process: no more threads for this user (an ordinary user's
// limit; as root the child first becomes nobody, since root has none).
void noMoreThreads() {
    if (geteuid() == 0 && setuid(65534) != 0) std::_Exit(3);
    rlimit none{1, 1};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) std::_Exit(4);
}

std::atomic<int> g_parts{0};

}  // namespace

TEST(NoThreadsDeathTest, TheRendererDrawsWithTheThreadsItCanHave) {
    EXPECT_EXIT(
        {
            noMoreThreads();
            rm::setRenderThreads(4);
            rm::runParts(16, [](void*, int) { g_parts++; }, nullptr);
            rm::runParts(16, [](void*, int) { g_parts++; }, nullptr);  // without trying again
            std::_Exit(g_parts == 32 && rm::renderThreads() == 1 ? 7 : 1);
        },
        testing::ExitedWithCode(7), "^renderer: cannot start more than 0 worker threads \\(.*\\); drawing with 1\n$");
}

TEST(NoThreadsDeathTest, TheShowEndsWithOneLineWhenItCannotStartAThread) {
    EXPECT_EXIT(
        {
            noMoreThreads();
            CreateThread(nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, nullptr);
            std::_Exit(7);
        },
        testing::ExitedWithCode(1), "velkor: cannot start a thread \\(.*\\)\n$");
}
