// JPEG pictures into texture blocks and screen pictures, the raw wave map,
// and what damaged picture files do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "asset_files.h"
#include "assets/assets.h"
#include "recording_rm.h"
#include "stderr_lines.h"

using namespace assetfiles;

namespace {

const D3DRMIMAGE* const kRecords[14] = {&imageLoading, &imageArrow1, &imageArrow2, &imageText2, &imageText,
                                        &imageBack,    &imageGrass,  &imageText3,  &imageSuba,  &imageTe,
                                        &imageText1,   &imageText4,  &image123,    &imageZug};

class Pictures : public testing::Test {
protected:
    ScratchDir dir;
    std::vector<uint8_t> block = std::vector<uint8_t>(512 * 512 * 3 + 64, 0xAB);
};

}  // namespace

TEST(ImageRecords, AreTwentyFourBitRgbWithTheirOwnBlocks) {
    for (int i = 0; i < 14; i++) {
        const D3DRMIMAGE& r = *kRecords[i];
        int size = i < 12 ? 256 : 512;
        SCOPED_TRACE(i);
        EXPECT_EQ(r.width, size);
        EXPECT_EQ(r.height, size);
        EXPECT_EQ(r.aspectx, 1);
        EXPECT_EQ(r.aspecty, 1);
        EXPECT_EQ(r.depth, 24);
        EXPECT_EQ(r.rgb, 1);
        EXPECT_EQ(r.bytes_per_line, size * 3);
        EXPECT_NE(r.buffer1, nullptr);
        EXPECT_EQ(r.buffer2, nullptr);
        EXPECT_EQ(r.red_mask, 0xFFu);
        EXPECT_EQ(r.green_mask, 0xFF00u);
        EXPECT_EQ(r.blue_mask, 0xFF0000u);
        EXPECT_EQ(r.alpha_mask, 0xFF000000u);
        EXPECT_EQ(r.palette_size, 0);
        EXPECT_EQ(r.palette, nullptr);
        // Blocks do not overlap: each is at least its picture's size away from every other.
        for (int j = 0; j < 14; j++) {
            if (j == i) continue;
            auto a = (uintptr_t)r.buffer1, b = (uintptr_t)kRecords[j]->buffer1;
            if (a < b) {
                EXPECT_GE(b - a, (uintptr_t)size * size * 3) << j;
            }
        }
    }
}

TEST_F(Pictures, PureRedFillsTheTextureBlockWithRedBytes) {
    dir.write("red.jpg", rgbSpaceJpeg(256, 256, [](int, int) { return Rgb{255, 0, 0}; }));
    auto lines = stderrLines([&] { loadJpegTexture("DATA\\red.jpg", block.data(), 0); });
    EXPECT_TRUE(lines.empty());
    for (size_t i = 0; i < 196608; i += 3) {
        ASSERT_EQ(block[i], 255) << i;
        ASSERT_EQ(block[i + 1], 0) << i;
        ASSERT_EQ(block[i + 2], 0) << i;
    }
    EXPECT_EQ(block[196608], 0xAB);  // nothing past the selector's size
}

TEST_F(Pictures, PureRedBecomesBlueGreenRedZeroInAScreenPicture) {
    dir.write("red.jpg", rgbSpaceJpeg(640, 480, [](int, int) { return Rgb{255, 0, 0}; }));
    std::vector<uint8_t> rgb(921600);
    loadJpegTexture("DATA\\red.jpg", rgb.data(), 1);
    std::vector<uint32_t> screen(640 * 480, 0);
    convertScreenPicture(rgb.data(), screen.data());
    auto* bytes = reinterpret_cast<const uint8_t*>(screen.data());
    for (size_t i = 0; i < 640 * 480; i++) {
        ASSERT_EQ(bytes[4 * i], 0) << i;
        ASSERT_EQ(bytes[4 * i + 1], 0) << i;
        ASSERT_EQ(bytes[4 * i + 2], 255) << i;
        ASSERT_EQ(bytes[4 * i + 3], 0) << i;
    }
}

TEST(ScreenPicture, KeepsRowOrderAndLeavesTheFourthByte) {
    std::vector<uint8_t> rgb(921600);
    for (size_t i = 0; i < rgb.size(); i++) rgb[i] = (uint8_t)(i * 7 + i / 921);
    std::vector<uint32_t> screen(640 * 480, 0x5A000000u);
    convertScreenPicture(rgb.data(), screen.data());
    for (size_t i : {size_t(0), size_t(639), size_t(640), size_t(123456), size_t(307199)}) {
        EXPECT_EQ(screen[i], 0x5A000000u | rgb[3 * i] << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]) << i;
    }
}

TEST_F(Pictures, RowsAreTopDownAndPixelsRedGreenBlue) {
    // Quadrants: red top left, green top right, blue bottom left, white bottom right.
    dir.write("q.jpg", makeJpeg(512, 512, [](int x, int y) {
                  if (y < 256) return x < 256 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
                  return x < 256 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
              }));
    loadJpegTexture("DATA\\q.jpg", image123.buffer1, 4);
    auto* p = static_cast<const uint8_t*>(image123.buffer1);
    auto at = [&](int x, int y) { return p + (y * 512 + x) * 3; };
    auto near = [](const uint8_t* px, int r, int g, int b) {
        return std::abs(px[0] - r) <= 3 && std::abs(px[1] - g) <= 3 && std::abs(px[2] - b) <= 3;
    };
    EXPECT_TRUE(near(at(0, 0), 255, 0, 0));
    EXPECT_TRUE(near(at(100, 100), 255, 0, 0));
    EXPECT_TRUE(near(at(400, 100), 0, 255, 0));
    EXPECT_TRUE(near(at(100, 400), 0, 0, 255));
    EXPECT_TRUE(near(at(511, 511), 255, 255, 255));
}

TEST_F(Pictures, TopHalfWhiteStaysInTheFirstHalfOfTheBlock) {
    dir.write("half.jpg", makeJpeg(256, 256, [](int, int y) { return y < 128 ? Rgb{255, 255, 255} : Rgb{0, 0, 0}; }));
    loadJpegTexture("DATA\\half.jpg", block.data(), 0);
    for (size_t i = 0; i < 196608; i++) {
        if (i < 196608 / 2) {
            ASSERT_GE(block[i], 250) << i;
        } else {
            ASSERT_LE(block[i], 5) << i;
        }
    }
}

TEST_F(Pictures, ALaterFullScreenPictureLeavesLoadedTexturesAlone) {
    dir.write("green.jpg", solidJpeg(256, 256, {0, 255, 0}));
    dir.write("scream.jpg", solidJpeg(640, 480, {255, 0, 0}));
    loadJpegTexture("DATA\\green.jpg", imageText2.buffer1, 0);
    std::vector<uint8_t> before(static_cast<uint8_t*>(imageText2.buffer1),
                                static_cast<uint8_t*>(imageText2.buffer1) + 196608);
    std::vector<uint8_t> rgb(921600);
    loadJpegTexture("DATA\\scream.jpg", rgb.data(), 1);
    convertScreenPicture(rgb.data(), g_screamPicture);
    EXPECT_EQ(0, std::memcmp(before.data(), imageText2.buffer1, 196608));
    EXPECT_EQ(g_screamPicture[1000] & 0x00F0F0F0u, 0x00F00000u);
}

TEST_F(Pictures, SelectorsCopyTheirSizesAndOthersNothing) {
    const struct {
        int selector, width, height;
    } cases[] = {{0, 256, 256}, {1, 640, 480}, {2, 320, 320}, {3, 64, 64}, {4, 512, 512}, {5, 512, 512}};
    std::vector<uint8_t> big(921600 + 64);
    for (auto c : cases) {
        SCOPED_TRACE(c.selector);
        dir.write("p.jpg", solidJpeg(c.width, c.height, {255, 255, 255}));
        std::fill(big.begin(), big.end(), 0);
        auto lines = stderrLines([&] { loadJpegTexture("DATA\\p.jpg", big.data(), c.selector); });
        EXPECT_TRUE(lines.empty());
        size_t n = (size_t)c.width * c.height * 3;
        EXPECT_GE(big[n - 1], 250);
        EXPECT_EQ(big[n], 0);
    }
    dir.write("p.jpg", solidJpeg(256, 256, {255, 255, 255}));
    for (int selector : {-1, 6, 100}) {
        std::fill(big.begin(), big.end(), 0x11);
        loadJpegTexture("DATA\\p.jpg", big.data(), selector);
        EXPECT_EQ(std::count(big.begin(), big.end(), 0x11), (long)big.size()) << selector;
    }
}

// Every damaged picture: one line naming the file and a black block.
TEST_F(Pictures, DamagedFilesGiveOneLineAndABlackTexture) {
    std::vector<uint8_t> good = solidJpeg(256, 256, {200, 100, 50});
    std::vector<uint8_t> huge = solidJpeg(16, 16, {1, 2, 3});
    // Patch the frame header (SOF) to claim 60000 x 60000 pixels.
    for (size_t i = 0; i + 8 < huge.size(); i++)
        if (huge[i] == 0xFF && (huge[i + 1] == 0xC0 || huge[i + 1] == 0xC1)) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* problem;
    } cases[] = {
        {"empty.jpg", {}, "empty"},
        {"garbage.jpg", std::vector<uint8_t>(5000, 0x42), "JPEG"},
        {"header.jpg", std::vector<uint8_t>(good.begin(), good.begin() + 20), "JPEG"},
        {"small.jpg", solidJpeg(128, 128, {255, 255, 255}), "expected 256 x 256"},
        {"wide.jpg", solidJpeg(512, 256, {255, 255, 255}), "expected 256 x 256"},
        {"huge.jpg", huge, "too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write(c.name, c.bytes);
        std::fill(block.begin(), block.end(), 0xAB);
        std::string name = std::string("DATA\\") + c.name;
        auto lines = stderrLines([&] { loadJpegTexture(name.c_str(), block.data(), 0); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(std::string(lines[0]).find(name), std::string::npos) << lines[0];
        EXPECT_NE(std::string(lines[0]).find(c.problem), std::string::npos) << lines[0];
        EXPECT_EQ(std::count(block.begin(), block.begin() + 196608, 0), 196608);
        EXPECT_EQ(block[196608], 0xAB);
    }
}

TEST_F(Pictures, MissingAndOversizedFilesGiveOneLineAndABlackTexture) {
    std::vector<uint8_t> good = solidJpeg(256, 256, {200, 100, 50});
    dir.write("big.jpg", good);
    std::filesystem::resize_file(dir.data / "big.jpg", kPictureBufferBytes + 1);
    for (const char* name : {"DATA\\none.jpg", "DATA\\big.jpg"}) {
        SCOPED_TRACE(name);
        std::fill(block.begin(), block.end(), 0xAB);
        auto lines = stderrLines([&] { loadJpegTexture(name, block.data(), 4); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(std::string(lines[0]).find(name), std::string::npos) << lines[0];
        EXPECT_EQ(std::count(block.begin(), block.begin() + 786432, 0), 786432);
        EXPECT_EQ(block[786432], 0xAB);
    }
}

TEST_F(Pictures, TruncatedFileGivesOneLineAndKeepsWhatWasDecoded) {
    std::vector<uint8_t> good = makeJpeg(256, 256, [](int x, int y) { return Rgb{(uint8_t)x, (uint8_t)y, 9}; });
    for (size_t keep : {good.size() / 2, good.size() - 3}) {
        SCOPED_TRACE(keep);
        dir.write("cut.jpg", std::vector<uint8_t>(good.begin(), good.begin() + keep));
        auto lines = stderrLines([&] { loadJpegTexture("DATA\\cut.jpg", block.data(), 0); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(std::string(lines[0]).find("DATA\\cut.jpg"), std::string::npos) << lines[0];
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
    EXPECT_NE(std::string(lines[0]).find("x.jpg"), std::string::npos) << lines[0];
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x77), (long)out.size());
    EXPECT_TRUE(decodeJpeg(file.data(), out.data(), (uint32_t)file.size(), 64 * 64 * 3, &w, &h, "x.jpg"));
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 64);
    EXPECT_NEAR(out[0], 10, 2);
    EXPECT_NEAR(out[1], 20, 2);
    EXPECT_NEAR(out[2], 30, 2);
}

class WaveMap : public Pictures {
protected:
    void SetUp() override { std::memset(g_waveMap, 0, sizeof g_waveMap); }
};

TEST_F(WaveMap, ReadsTheFirst307200Bytes) {
    std::vector<uint8_t> raw(307200 + 100);
    for (size_t i = 0; i < raw.size(); i++) raw[i] = (uint8_t)(i * 31 + 7);
    dir.write("wave.raw", raw);
    auto lines = stderrLines([] { loadRawPicture("DATA\\wave.raw"); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(0, std::memcmp(g_waveMap, raw.data(), 307200));
}

TEST_F(WaveMap, ShortFileFillsWhatItHoldsAndSaysSo) {
    std::vector<uint8_t> raw(1000, 0x99);
    dir.write("wave.raw", raw);
    auto lines = stderrLines([] { loadRawPicture("DATA\\wave.raw"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(std::string(lines[0]).find("DATA\\wave.raw"), std::string::npos) << lines[0];
    EXPECT_NE(std::string(lines[0]).find("1000"), std::string::npos) << lines[0];
    EXPECT_EQ(std::count(g_waveMap, g_waveMap + 1000, 0x99), 1000);
    EXPECT_EQ(std::count(g_waveMap + 1000, g_waveMap + 307200, 0), 307200 - 1000);
}

TEST_F(WaveMap, MissingOrEmptyFileLeavesTheMapZero) {
    dir.write("empty.raw", {});
    for (const char* name : {"DATA\\wave.raw", "DATA\\empty.raw"}) {
        auto lines = stderrLines([&] { loadRawPicture(name); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(std::string(lines[0]).find(name), std::string::npos) << lines[0];
        EXPECT_EQ(std::count(g_waveMap, g_waveMap + 307200, 0), 307200);
    }
}
