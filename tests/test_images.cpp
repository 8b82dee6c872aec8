// JPEG pictures into texture blocks and screen pictures, the raw wave map,
// and what damaged picture files do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "asset_files.h"
#include "assets/assets.h"
#include "recording_rm.h"
#include "stderr_lines.h"

using namespace assetfiles;

namespace {

class Pictures : public testing::Test {
protected:
    ScratchDir dir;
    std::vector<uint8_t> block = std::vector<uint8_t>(512 * 512 * 3 + 64, 0xAB);
};

}  // namespace

TEST(ImageRecords, AreTwentyFourBitRgbWithTheirOwnBlocks) {
    const D3DRMIMAGE* const records[14] = {&imageLoading, &imageArrow1, &imageArrow2, &imageText2, &imageText,
                                           &imageBack,    &imageGrass,  &imageText3,  &imageSuba,  &imageTe,
                                           &imageText1,   &imageText4,  &image123,    &imageZug};
    for (int i = 0; i < 14; i++) {
        const D3DRMIMAGE& r = *records[i];
        int size = i < 12 ? 256 : 512;
        EXPECT_EQ(std::tuple(r.width, r.height, r.bytes_per_line, r.depth, r.rgb, r.aspectx, r.aspecty),
                  std::tuple(size, size, size * 3, 24, 1, 1, 1)) << i;
        EXPECT_EQ(std::tuple(r.red_mask, r.green_mask, r.blue_mask, r.alpha_mask, r.palette_size),
                  std::tuple(0xFFu, 0xFF00u, 0xFF0000u, 0xFF000000u, 0)) << i;
        ASSERT_NE(r.buffer1, nullptr) << i;
        // Blocks do not overlap: each is at least its picture's size away from every other.
        for (int j = 0; j < 14; j++) {
            auto a = (uintptr_t)r.buffer1, b = (uintptr_t)records[j]->buffer1;
            EXPECT_TRUE(a >= b || b - a >= (uintptr_t)size * size * 3) << i << " " << j;
        }
    }
}

TEST_F(Pictures, PureRedIsRedGreenBlueInATextureAndBlueGreenRedZeroOnScreen) {
    dir.write("red.jpg", rgbSpaceJpeg(256, 256, [](int, int) { return Rgb{255, 0, 0}; }));
    auto lines = stderrLines([&] { loadJpegTexture("DATA\\red.jpg", block.data(), 0); });
    EXPECT_TRUE(lines.empty());
    for (size_t i = 0; i < 196608; i += 3)
        ASSERT_EQ(std::tuple(block[i], block[i + 1], block[i + 2]), std::tuple(255, 0, 0)) << i;
    EXPECT_EQ(block[196608], 0xAB);  // nothing past the selector's size

    dir.write("red.jpg", rgbSpaceJpeg(640, 480, [](int, int) { return Rgb{255, 0, 0}; }));
    std::vector<uint8_t> rgb(921600);
    loadJpegTexture("DATA\\red.jpg", rgb.data(), 1);
    std::vector<uint32_t> screen(640 * 480, 0);
    convertScreenPicture(rgb.data(), screen.data());
    const uint8_t bgr0[4] = {0, 0, 255, 0};
    EXPECT_EQ(std::memcmp(screen.data(), bgr0, 4), 0);
    EXPECT_EQ(std::count(screen.begin(), screen.end(), screen[0]), 640 * 480);
}

TEST(ScreenPicture, KeepsRowOrderAndLeavesTheFourthByte) {
    std::vector<uint8_t> rgb(921600);
    for (size_t i = 0; i < rgb.size(); i++) rgb[i] = (uint8_t)(i * 7 + i / 921);
    std::vector<uint32_t> screen(640 * 480, 0x5A000000u);
    convertScreenPicture(rgb.data(), screen.data());
    for (size_t i : {size_t(0), size_t(639), size_t(640), size_t(123456), size_t(307199)})
        EXPECT_EQ(screen[i], 0x5A000000u | rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]) << i;
}

TEST_F(Pictures, RowsAreTopDownAndPixelsRedGreenBlue) {
    // Quadrants: red top left, green top right, blue bottom left, white bottom right.
    dir.write("q.jpg", makeJpeg(512, 512, [](int x, int y) {
                  if (y < 256) return x < 256 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
                  return x < 256 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
              }));
    loadJpegTexture("DATA\\q.jpg", image123.buffer1, 4);
    auto near = [](int x, int y, int r, int g, int b) {
        const uint8_t* px = static_cast<const uint8_t*>(image123.buffer1) + (y * 512 + x) * 3;
        return std::abs(px[0] - r) <= 3 && std::abs(px[1] - g) <= 3 && std::abs(px[2] - b) <= 3;
    };
    EXPECT_TRUE(near(0, 0, 255, 0, 0));
    EXPECT_TRUE(near(400, 100, 0, 255, 0));
    EXPECT_TRUE(near(100, 400, 0, 0, 255));
    EXPECT_TRUE(near(511, 511, 255, 255, 255));
}

TEST_F(Pictures, ALaterFullScreenPictureLeavesLoadedTexturesAlone) {
    dir.write("green.jpg", solidJpeg(256, 256, {0, 255, 0}));
    dir.write("scream.jpg", solidJpeg(640, 480, {255, 0, 0}));
    loadJpegTexture("DATA\\green.jpg", imageText2.buffer1, 0);
    auto* text2 = static_cast<uint8_t*>(imageText2.buffer1);
    std::vector<uint8_t> before(text2, text2 + 196608), rgb(921600);
    loadJpegTexture("DATA\\scream.jpg", rgb.data(), 1);
    convertScreenPicture(rgb.data(), g_screamPicture);
    EXPECT_EQ(0, std::memcmp(before.data(), text2, 196608));
    EXPECT_EQ(g_screamPicture[1000] & 0x00F0F0F0u, 0x00F00000u);
}

TEST_F(Pictures, SelectorsCopyTheirSizesAndOthersNothing) {
    const int sizes[6][2] = {{256, 256}, {640, 480}, {320, 320}, {64, 64}, {512, 512}, {512, 512}};
    std::vector<uint8_t> big(921600 + 64);
    for (int selector = 0; selector < 6; selector++) {
        dir.write("p.jpg", solidJpeg(sizes[selector][0], sizes[selector][1], {255, 255, 255}));
        std::fill(big.begin(), big.end(), 0);
        auto lines = stderrLines([&] { loadJpegTexture("DATA\\p.jpg", big.data(), selector); });
        EXPECT_TRUE(lines.empty()) << selector;
        size_t n = (size_t)sizes[selector][0] * sizes[selector][1] * 3;
        EXPECT_GE(big[n - 1], 250) << selector;
        EXPECT_EQ(big[n], 0) << selector;
    }
    dir.write("p.jpg", solidJpeg(256, 256, {255, 255, 255}));
    for (int selector : {-1, 6, 100}) {
        std::fill(big.begin(), big.end(), 0x11);
        loadJpegTexture("DATA\\p.jpg", big.data(), selector);
        EXPECT_EQ(std::count(big.begin(), big.end(), 0x11), (long)big.size()) << selector;
    }
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
        EXPECT_LE(block[0], 3);
        EXPECT_LE(block[1], 3);
        EXPECT_NEAR(block[2], 9, 3);
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
    EXPECT_NEAR(out[0], 10, 2);
    EXPECT_NEAR(out[1], 20, 2);
    EXPECT_NEAR(out[2], 30, 2);
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
