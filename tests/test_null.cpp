// The null backend, the template for a port: with no window, no input and
// no sound device, on the real clock, the show plays to its end by itself,
// ends with status 0 and says nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/wait.h>

TEST(NullBackend, PlaysTheWholeShowOnTheRealClockAndSaysNothing) {
    const std::string command = "timeout 400 " + std::string(VELKOR_BINARY_DIR) + "/velkor-null </dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string said;
    char buffer[1024];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) said.append(buffer, n);
    const int status = pclose(pipe);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "124: still running after 400 s";
    EXPECT_EQ(said, "");
    // The music's clock is the real one: the show's two and a half minutes
    // cannot pass sooner (the last cue falls at 125.9 s of music).
    EXPECT_GT(seconds, 125.0);
}
