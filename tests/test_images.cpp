// JPEG pictures into texture blocks and screen pictures, the raw wave map,
// and what damaged picture files do.
#include <gtest/gtest.h>

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

// Rows top-down, pixels R, G, B; each selector copies its picture size and
// nothing past it; an unknown selector copies nothing.
TEST_F(Pictures, SelectorsCopyTheirSizesTopDownInRgbOrder) {
    dir.write("q.jpg", makeJpeg(512, 512, [](int x, int y) {
                  if (y < 256) return x < 256 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
                  return x < 256 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
              }));
    loadJpegTexture("DATA\\q.jpg", block.data(), 4);
    auto near = [&](int x, int y, int r, int g, int b) {
        const uint8_t* px = block.data() + (y * 512 + x) * 3;
        return std::abs(px[0] - r) <= 3 && std::abs(px[1] - g) <= 3 && std::abs(px[2] - b) <= 3;
    };
    EXPECT_TRUE(near(0, 0, 255, 0, 0) && near(400, 100, 0, 255, 0) && near(100, 400, 0, 0, 255) &&
                near(511, 511, 255, 255, 255));

    const int sizes[6][2] = {{256, 256}, {640, 480}, {320, 320}, {64, 64}, {512, 512}, {512, 512}};
    for (int selector = 0; selector < 6; selector++) {
        dir.write("p.jpg", solidJpeg(sizes[selector][0], sizes[selector][1], {255, 255, 255}));
        std::fill(block.begin(), block.end(), 0);
        EXPECT_TRUE(stderrLines([&] { loadJpegTexture("DATA\\p.jpg", block.data(), selector); }).empty());
        size_t n = (size_t)sizes[selector][0] * sizes[selector][1] * 3;
        EXPECT_EQ(std::tuple(block[n - 1] >= 250, block[n]), std::tuple(true, 0)) << selector;
    }
    for (int selector : {-1, 6, 100}) {
        std::fill(block.begin(), block.end(), 0x11);
        loadJpegTexture("DATA\\p.jpg", block.data(), selector);
        EXPECT_EQ(std::count(block.begin(), block.end(), 0x11), (long)block.size()) << selector;
    }
}

// A screen picture is 0x00RRGGBB words in row order; the fourth byte stays.
TEST(ScreenPicture, KeepsRowOrderAndLeavesTheFourthByte) {
    std::vector<uint8_t> rgb(921600);
    for (size_t i = 0; i < rgb.size(); i++) rgb[i] = (uint8_t)(i * 7 + i / 921);
    std::vector<uint32_t> screen(640 * 480, 0x5A000000u);
    convertScreenPicture(rgb.data(), screen.data());
    for (size_t i : {size_t(0), size_t(639), size_t(640), size_t(123456), size_t(307199)})
        EXPECT_EQ(screen[i], 0x5A000000u | rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]) << i;
}

// Every damaged, missing or oversized picture: one line naming the file and
// the problem, and a black block of the selector's size.
TEST_F(Pictures, DamagedFilesGiveOneLineAndABlackTexture) {
    std::vector<uint8_t> good = solidJpeg(256, 256, {200, 100, 50}), huge = solidJpeg(16, 16, {1, 2, 3});
    // Patch the frame header (SOF) to claim 60000 x 60000 pixels.
    for (size_t i = 0; i + 8 < huge.size(); i++)
        if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC1)) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    dir.write("empty.jpg", {});
    dir.write("garbage.jpg", std::vector<uint8_t>(5000, 0x42));
    dir.write("header.jpg", std::vector<uint8_t>(good.begin(), good.begin() + 20));
    dir.write("small.jpg", solidJpeg(128, 128, {255, 255, 255}));
    dir.write("wide.jpg", solidJpeg(512, 256, {255, 255, 255}));
    dir.write("huge.jpg", huge);
    dir.write("big.jpg", good);
    std::filesystem::resize_file(dir.data / "big.jpg", kPictureBufferBytes + 1);
    const struct {
        const char* name;
        int selector;
        const char* problem;
    } cases[] = {{"empty.jpg", 0, "empty"},           {"garbage.jpg", 0, "JPEG"},
                 {"header.jpg", 0, "JPEG"},           {"small.jpg", 0, "expected 256 x 256"},
                 {"wide.jpg", 0, "expected 256 x 256"}, {"huge.jpg", 0, "too large"},
                 {"none.jpg", 4, ""},                 {"big.jpg", 4, ""}};
    for (const auto& c : cases) {
        std::string name = std::string("DATA/") + c.name;
        std::fill(block.begin(), block.end(), 0xAB);
        auto lines = stderrLines([&] { loadJpegTexture(name.c_str(), block.data(), c.selector); });
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_TRUE(contains(lines[0], name) && contains(lines[0], c.problem)) << lines[0];
        long n = c.selector == 0 ? 196608 : 786432;
        EXPECT_EQ(std::count(block.begin(), block.begin() + n, 0), n) << name;
        EXPECT_EQ(block[n], 0xAB) << name;
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

TEST(DecodeJpeg, RefusesPicturesBeyondTheCapacityWithoutWriting) {
    std::vector<uint8_t> file = solidJpeg(64, 64, {10, 20, 30});
    std::vector<uint8_t> out(64 * 64 * 3, 0x77);
    int w = -1, h = -1;
    auto lines = stderrLines([&] {
        EXPECT_FALSE(decodeJpeg(file.data(), out.data(), (uint32_t)file.size(), 64 * 64 * 3 - 1, &w, &h, "x.jpg"));
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "x.jpg")) << lines[0];
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x77), (long)out.size());
    EXPECT_TRUE(decodeJpeg(file.data(), out.data(), (uint32_t)file.size(), 64 * 64 * 3, &w, &h, "x.jpg"));
    EXPECT_EQ(std::tuple(w, h), std::tuple(64, 64));
    EXPECT_TRUE(std::abs(out[0] - 10) <= 2 && std::abs(out[1] - 20) <= 2 && std::abs(out[2] - 30) <= 2);
}

// The wave map: the first 307,200 bytes; a short file fills what it holds and
// says so; a missing or empty file leaves the map zero.
TEST_F(Pictures, WaveMapReadsWhatTheFileHolds) {
    std::vector<uint8_t> raw(307200 + 100);
    for (size_t i = 0; i < raw.size(); i++) raw[i] = (uint8_t)(i * 31 + 7);
    dir.write("wave.raw", raw);
    dir.write("short.raw", std::vector<uint8_t>(1000, 0x99));
    dir.write("empty.raw", {});
    std::memset(g_waveMap, 0, sizeof g_waveMap);
    EXPECT_TRUE(stderrLines([] { loadRawPicture("DATA\\wave.raw"); }).empty());
    EXPECT_EQ(0, std::memcmp(g_waveMap, raw.data(), 307200));
    for (const char* name : {"DATA\\short.raw", "DATA\\none.raw", "DATA\\empty.raw"}) {
        std::memset(g_waveMap, 0, sizeof g_waveMap);
        auto lines = stderrLines([&] { loadRawPicture(name); });
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_TRUE(contains(lines[0], "DATA/" + std::string(name + 5) + ": ")) << lines[0];
        long held = name[5] == 's' ? 1000 : 0;
        EXPECT_TRUE(!held || contains(lines[0], "1000")) << lines[0];
        EXPECT_EQ(std::count(g_waveMap, g_waveMap + held, 0x99), held);
        EXPECT_EQ(std::count(g_waveMap + held, g_waveMap + 307200, 0), 307200 - held);
    }
}
