// JPEG pictures into texture blocks, the raw wave map, and what damaged
// picture files do. (The screen pictures' conversion is seen in test_loading
// and in the whole show's interlude picture, test_e2e.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "asset_files.h"
#include "assets/assets.h"
#include "stderr_lines.h"

using namespace assetfiles;

namespace {

class Pictures : public testing::Test {
protected:
    ScratchDir dir;
    std::vector<uint8_t> block = std::vector<uint8_t>(921600 + 64, 0xAB);
};

}  // namespace

// Each selector copies its picture size and nothing past it; an unknown
// selector copies nothing. (Rows top-down and pixels R, G, B: the whole show's
// interlude picture in test_e2e, and every picture's colour in test_loading.)
TEST_F(Pictures, SelectorsCopyTheirSizes) {
    const int sizes[6][2] = {{256, 256}, {640, 480}, {320, 320}, {64, 64}, {512, 512}, {512, 512}};
    for (int selector = 0; selector < 6; selector++) {
        dir.write("p.jpg", solidJpeg(sizes[selector][0], sizes[selector][1], {255, 255, 255}));
        std::fill(block.begin(), block.end(), 0);
        EXPECT_TRUE(stderrLines([&] { loadJpegTexture("DATA\\p.jpg", block.data(), selector); }).empty());
        size_t n = (size_t)sizes[selector][0] * sizes[selector][1] * 3;
        EXPECT_EQ(std::tuple(block[n - 1] >= 250, block[n]), std::tuple(true, 0)) << selector;
    }
    std::fill(block.begin(), block.end(), 0x11);
    for (int selector : {-1, 6, 100}) loadJpegTexture("DATA\\p.jpg", block.data(), selector);
    EXPECT_EQ(std::count(block.begin(), block.end(), 0x11), (long)block.size());
}

// Every damaged, missing or oversized picture: one line naming the file and
// the problem, and a black block of the selector's size.
TEST_F(Pictures, DamagedFilesGiveOneLineAndABlackTexture) {
    std::vector<uint8_t> good = solidJpeg(256, 256, {200, 100, 50}), huge = solidJpeg(16, 16, {1, 2, 3});
    // Patch the (baseline) frame header to claim 60000 x 60000 pixels.
    const uint8_t frameHeader[] = {0xFF, 0xC0};  // then length, precision, height, width
    auto sof = std::search(huge.begin(), huge.end(), frameHeader, frameHeader + 2);
    ASSERT_NE(sof, huge.end());
    sof[5] = sof[7] = 0xEA, sof[6] = sof[8] = 0x60;
    dir.write("empty.jpg", {});
    dir.write("garbage.jpg", std::vector<uint8_t>(5000, 0x42));
    dir.write("header.jpg", std::vector<uint8_t>(good.begin(), good.begin() + 20));
    dir.write("small.jpg", solidJpeg(128, 128, {255, 255, 255}));
    dir.write("wide.jpg", solidJpeg(512, 256, {255, 255, 255}));
    dir.write("huge.jpg", huge);
    dir.write("big.jpg", good);
    std::filesystem::resize_file(dir.data / "big.jpg", kPictureBufferBytes + 1);
    // Not files: a FIFO nobody writes to (an ordinary open would wait for
    // ever) and a folder.
    ASSERT_EQ(mkfifo((dir.data / "fifo.jpg").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.data / "folder.jpg");
    const struct { const char* name; int selector; const char* problem; } cases[] = {
        {"empty.jpg", 0, "empty"}, {"garbage.jpg", 0, "JPEG"}, {"header.jpg", 0, "JPEG"},
        {"small.jpg", 0, "expected 256 x 256"}, {"wide.jpg", 0, "expected 256 x 256"}, {"huge.jpg", 0, "too large"},
        {"none.jpg", 4, ""}, {"big.jpg", 4, ""}, {"fifo.jpg", 0, "not a regular file"},
        {"folder.jpg", 4, "not a regular file"}};
    for (const auto& c : cases) {
        std::string name = std::string("DATA/") + c.name;
        std::fill(block.begin(), block.end(), 0xAB);
        auto lines = stderrLines([&] { loadJpegTexture(name.c_str(), block.data(), c.selector); });
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_TRUE(contains(lines[0], name) && contains(lines[0], c.problem)) << lines[0];
        long n = c.selector == 0 ? 196608 : 786432;
        EXPECT_EQ(std::tuple(std::count(block.begin(), block.begin() + n, 0), block[n]), std::tuple(n, 0xAB)) << name;
    }
}

TEST_F(Pictures, TruncatedFileGivesOneLineAndKeepsWhatWasDecoded) {
    std::vector<uint8_t> good = makeJpeg(256, 256, [](int x, int y) { return Rgb{(uint8_t)x, (uint8_t)y, 9}; });
    for (size_t keep : {good.size() / 2, good.size() - 3}) {
        dir.write("cut.jpg", std::vector<uint8_t>(good.begin(), good.begin() + keep));
        auto lines = stderrLines([&] { loadJpegTexture("DATA\\cut.jpg", block.data(), 0); });
        ASSERT_EQ(lines.size(), 1u) << keep;
        EXPECT_TRUE(contains(lines[0], "DATA/cut.jpg")) << lines[0];
        // The top-left pixel was in the part the file still holds.
        EXPECT_TRUE(block[0] <= 3 && block[1] <= 3 && std::abs(block[2] - 9) <= 3) << keep;
    }
}

// The wave map: the first 307,200 bytes; a short file fills what it holds and
// says so; a missing or empty file leaves the map as it was.
TEST_F(Pictures, WaveMapReadsWhatTheFileHolds) {
    std::vector<uint8_t> raw(307200 + 100);
    for (size_t i = 0; i < raw.size(); i++) raw[i] = (uint8_t)(i * 31 + 7);
    dir.write("wave.raw", raw);
    dir.write("short.raw", std::vector<uint8_t>(1000, 0x99));
    dir.write("empty.raw", {});
    ASSERT_EQ(mkfifo((dir.data / "fifo.raw").c_str(), 0600), 0);
    EXPECT_TRUE(stderrLines([] { loadRawPicture("DATA\\wave.raw"); }).empty());
    EXPECT_EQ(0, std::memcmp(g_waveMap, raw.data(), 307200));
    for (auto [name, held] : {std::pair{"short.raw", 1000L}, {"none.raw", 0L}, {"empty.raw", 0L}, {"fifo.raw", 0L}}) {
        std::memset(g_waveMap, 0, sizeof g_waveMap);
        auto lines = stderrLines([&, name = name] { loadRawPicture((std::string("DATA\\") + name).c_str()); });
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_TRUE(contains(lines[0], std::string("DATA/") + name + ": ") && (!held || contains(lines[0], "1000")))
            << lines[0];
        EXPECT_EQ(std::count(g_waveMap, g_waveMap + held, 0x99), held) << name;
        EXPECT_EQ(std::count(g_waveMap + held, g_waveMap + 307200, 0), 307200 - held) << name;
    }
}
