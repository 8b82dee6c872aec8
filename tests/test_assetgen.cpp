// Reads back every file the asset generator writes into DATA/ and checks it
// against what the show's readers expect; runs the generator twice for byte
// equality. Run from the repository root (make test generates DATA/ first).
#include <SDL.h>
#include <gtest/gtest.h>
#include <mpg123.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "assets/assets.h"
#include "platform/rm/objects.h"
#include "stderr_lines.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Data : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists("DATA/.complete"))
            << "DATA/ is missing or incomplete: generate it with `make data` (build/assetgen DATA) "
               "and run the tests from the repository root";
    }
};

// ---------- pictures ----------

// size: 256, 512, or 640 for 640 x 480; keyed: black is transparent in the show.
struct Picture { const char* name; int size; bool keyed; };
const Picture kPictures[] = {
    {"loading.jpg", 256, true}, {"arrow1.jpg", 256, true}, {"arrow2.jpg", 256, true}, {"text2.jpg", 256, false},
    {"text.jpg", 256, false},   {"back.jpg", 256, false},  {"grass.jpg", 256, false}, {"text3.jpg", 256, false},
    {"suba.jpg", 256, false},   {"te.jpg", 256, true},     {"text1.jpg", 256, false}, {"text4.jpg", 256, false},
    {"123.jpg", 512, true},     {"zug.jpg", 512, true},    {"scream.jpg", 640, false}, {"girls.jpg", 640, false}};

// A square n x n picture, decoded as the show decodes it: each pixel's
// brightest channel, row by row.
std::vector<int> peaks(const std::vector<uint8_t>& jpeg, int n) {
    std::vector<uint8_t> rgb(static_cast<size_t>(n) * n * 3);
    tjhandle tj = tjInitDecompress();
    EXPECT_EQ(tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), n, 0, n, TJPF_RGB, TJFLAG_ACCURATEDCT), 0);
    tjDestroy(tj);
    std::vector<int> peak(rgb.size() / 3);
    for (size_t i = 0; i < peak.size(); ++i) peak[i] = std::max({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
    return peak;
}

// Every picture: its size, full colour, baseline. Black is transparent in
// the keyed ones: every pixel is key (within the renderer's tolerance of
// black) or shape, and a pixel that is neither (dark, yet drawn) may only lie
// on a shape's 2-pixel rim and make up under 0.1 % of the picture. The share
// is printed, so this is also the measurement.
TEST_F(Data, PicturesHaveTheirSizesBaselineEncodingAndKeyedOnesBrightShapesOnKeyBlack) {
    const int kDark = 40;  // brighter than this, a drawn pixel reads as shape
    for (const Picture& p : kPictures) {
        SCOPED_TRACE(p.name);
        std::vector<uint8_t> jpeg = readAll(std::string("DATA/") + p.name);
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsamp = -1, colorspace = -1;
        ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &subsamp, &colorspace), 0);
        tjDestroy(tj);
        EXPECT_EQ(std::tuple(w, h, subsamp, colorspace),
                  std::tuple(p.size, p.size == 640 ? 480 : p.size, (int)TJSAMP_444, (int)TJCS_YCbCr));
        // Baseline: a SOF0 marker and no progressive SOF2.
        auto has = [&](uint8_t m) {
            const uint8_t marker[] = {0xFF, m};
            return std::search(jpeg.begin(), jpeg.end(), marker, marker + 2) != jpeg.end();
        };
        EXPECT_EQ(std::tuple(has(0xC0), has(0xC2)), std::tuple(true, false));
        if (!p.keyed) continue;
        const int n = p.size;
        const std::vector<int> peak = peaks(jpeg, n);
        auto nearShape = [&](int x, int y) {  // a shape pixel within 2 either way
            for (int v = std::max(0, y - 2); v <= std::min(n - 1, y + 2); ++v)
                for (int u = std::max(0, x - 2); u <= std::min(n - 1, x + 2); ++u)
                    if (peak[v * n + u] > kDark) return true;
            return false;
        };
        double shapeSum = 0;
        size_t shape = 0, key = 0, dark = 0, darkOffRim = 0, border = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                int v = peak[y * n + x];
                if (v <= rm::kKeyTolerance) { ++key; continue; }
                border += x < 3 || y < 3 || x >= n - 3 || y >= n - 3;
                if (v > kDark) { shapeSum += v, ++shape; continue; }
                ++dark;
                darkOffRim += !nearShape(x, y);
            }
        const size_t total = static_cast<size_t>(n) * n;
        double share = 100.0 * dark / total;
        std::printf("%-12s dark but drawn: %zu of %zu pixels (%.3f %%), %zu off a shape's rim\n", p.name, dark, total,
                    share, darkOffRim);
        EXPECT_LT(share, 0.1);
        EXPECT_EQ(darkOffRim, 0u) << "dark specks away from the shapes";
        EXPECT_EQ(border, 0u) << "shapes must keep a key margin (texture coordinates wrap)";
        EXPECT_GT(key, total / 4) << "too little transparent area";
        ASSERT_GT(shape, total / 50) << "too little bright shape";
        EXPECT_GT(shapeSum / shape, 170.0) << "shapes should stay bright";
    }
}

// Nine tiles, each whole inside its third of the sheet with a key margin
// along the cell's edges, where the show's quads cut the sheet.
TEST_F(Data, TileSheetHasNineSeparateTiles) {
    const std::vector<int> peak = peaks(readAll("DATA/123.jpg"), 512);
    const int edge[4] = {0, 171, 341, 512};  // 512 / 3 = 170.7
    for (int n = 0; n < 9; ++n) {
        int x0 = edge[n % 3], x1 = edge[n % 3 + 1], y0 = edge[n / 3], y1 = edge[n / 3 + 1];
        int ink = 0, margin = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                ink += peak[y * 512 + x] > 60;
                margin += (x < x0 + 3 || x >= x1 - 3 || y < y0 + 3 || y >= y1 - 3) && peak[y * 512 + x] > rm::kKeyTolerance;
            }
        EXPECT_GT(ink, 2500) << "tile " << n + 1 << ": at least 50 x 50 texels";
        EXPECT_EQ(margin, 0) << "tile " << n + 1;
    }
}

// ---------- meshes ----------

// The sections the show reads from each file.
struct MeshFile { const char* name; int keys, uv; };
const MeshFile kMeshes[] = {{"zag.3d", 0, 1},  {"zlin.3d", 0, 0}, {"s_t.3d", 0, 1}, {"knot.3d", 1, 1},
                            {"blin.3d", 1, 1}, {"box.3d", 1, 1},  {"pyr.3d", 0, 0}, {"flower.3d", 0, 0}};

D3DVECTOR sub(D3DVECTOR a, D3DVECTOR b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3DVECTOR cross(D3DVECTOR a, D3DVECTOR b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(D3DVECTOR a, D3DVECTOR b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float len(D3DVECTOR a) { return std::sqrt(dot(a, a)); }

// Every mesh reads whole with the show's reader, which says nothing and finds
// a use for every byte, within the tables' capacities, and faces outwards;
// the key tracks share their bound and loop around the scene.
TEST_F(Data, MeshesReadWholeFaceOutwardsAndKeyTracksLoopAroundTheScene) {
    int bound = -1;
    for (const MeshFile& f : kMeshes) {
        SCOPED_TRACE(f.name);
        std::vector<uint8_t> bytes = readAll(std::string("DATA/") + f.name);
        auto lines = stderrLines([&] { readMeshBytes(f.name, bytes.data(), (uint32_t)bytes.size(), f.keys, f.uv); });
        EXPECT_TRUE(lines.empty()) << lines.at(0);
        EXPECT_EQ(bytes.size(), 4 + 12u * g_meshVertexCount + 8u * g_meshFaceCount +
                                    (f.keys ? 18 + 18u * g_keyStoredCount : 0) + (f.uv ? 2 + 8u * g_meshTexCoordCount : 0))
            << "the file holds sections the reader does not expect";
        ASSERT_GE(g_meshVertexCount, 4);
        if (f.uv) { EXPECT_EQ(g_meshTexCoordCount, g_meshVertexCount); }
        double volume = 0, maxR = 0;
        for (int i = 0; i < g_meshFaceCount; ++i) {
            const int32_t* t = &g_meshFaceData[4 * i + 1];
            const D3DVECTOR a = g_meshVertices[t[0]], b = g_meshVertices[t[1]], c = g_meshVertices[t[2]];
            // Front faces (as the reader keeps them) run clockwise for a viewer
            // outside: with the left-handed axes that is cross(b - a, c - a)
            // pointing out, so the volume is positive.
            volume += dot(a, cross(b, c)) / 6.0;
            // The zag is seen from inside: the origin lies behind every face's plane.
            if (f.name == std::string("zag.3d")) { EXPECT_GT(dot(cross(sub(b, a), sub(c, a)), a), 0.0f); }
        }
        for (int i = 0; i < g_meshVertexCount; ++i) maxR = std::max<double>(maxR, len(g_meshVertices[i]));
        EXPECT_GT(volume, 0.0);
        EXPECT_TRUE(maxR > 15 && maxR < 160) << maxR;
        if (!f.keys) continue;
        if (bound < 0) bound = g_keyCount;
        EXPECT_EQ(g_keyCount, bound);
        // 2.5 frame numbers per second: one loop lasts 30 to 60 s.
        EXPECT_TRUE(g_keyCount >= 75 && g_keyCount <= 150) << g_keyCount;
        ASSERT_EQ(g_keyStoredCount, g_keyCount + 1);
        const D3DVECTOR* k = g_keyPositions;
        for (int i = 0; i <= g_keyCount; ++i) {
            EXPECT_EQ(g_keyTimes[i], i);
            EXPECT_TRUE(len(k[i]) >= 120 && len(k[i]) <= 300) << "key " << i;
            if (i) { EXPECT_LT(len(sub(k[i], k[i - 1])), 25.0f) << "smooth path at key " << i; }
        }
        EXPECT_LT(len(sub(k[0], k[g_keyCount])), 0.01f) << "the loop closes";
    }
}

// ---------- wave map ----------

TEST_F(Data, WaveMapIsASmoothFullRangeMap) {
    std::vector<uint8_t> w = readAll("DATA/wave.raw");
    ASSERT_EQ(w.size(), 307200u);
    double step = 0;
    for (size_t i = 0; i < w.size(); ++i)
        if (i % 640) step += std::abs(w[i] - w[i - 1]);
    EXPECT_EQ(*std::min_element(w.begin(), w.end()), 0);
    EXPECT_EQ(*std::max_element(w.begin(), w.end()), 255);
    EXPECT_LT(step / (480.0 * 639), 4.0) << "neighbouring values should be close";
}

// ---------- audio ----------

TEST_F(Data, JingleIsAShortSeamlessPcmLoop) {
    SDL_AudioSpec spec;
    Uint8* data = nullptr;
    Uint32 bytes = 0;
    ASSERT_NE(SDL_LoadWAV("DATA/menu.wav", &spec, &data, &bytes), nullptr) << SDL_GetError();
    std::vector<int16_t> pcm(bytes / 2);
    std::memcpy(pcm.data(), data, bytes);
    SDL_FreeWAV(data);
    EXPECT_EQ(std::tuple(spec.freq, spec.format, spec.channels), std::tuple(44100, AUDIO_S16LSB, 2));
    EXPECT_TRUE(bytes >= 1.5 * 176400 && bytes <= 2.7 * 176400) << bytes;
    const size_t frames = pcm.size() / 2;
    int maxStep = 0, peak = 0;
    for (size_t i = 2; i < pcm.size(); ++i) {
        maxStep = std::max(maxStep, std::abs(pcm[i] - pcm[i - 2]));
        peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
    }
    EXPECT_TRUE(peak > 8000 && peak < 32000) << peak;
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_LE(std::abs(pcm[ch] - pcm[2 * (frames - 1) + ch]), maxStep) << "the loop point clicks";
}

TEST_F(Data, MusicDecodesGaplesslyToTheFullLength) {
    ASSERT_EQ(mpg123_init(), MPG123_OK);
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    ASSERT_NE(mh, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    ASSERT_EQ(mpg123_open(mh, "DATA/music.mp3"), MPG123_OK);
    long rate = 0;
    int channels = 0, encoding = 0, rc, minBitrate = 1 << 20;
    ASSERT_EQ(mpg123_getformat(mh, &rate, &channels, &encoding), MPG123_OK);
    EXPECT_EQ(std::tuple(rate, channels), std::tuple(44100, 2));
    std::vector<float> pcm, buffer(1 << 14);
    size_t done = 0;
    do {
        rc = mpg123_read(mh, buffer.data(), buffer.size() * sizeof(float), &done);
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + done / sizeof(float));
        mpg123_frameinfo info;
        if (mpg123_info(mh, &info) == MPG123_OK && info.bitrate > 0) minBitrate = std::min(minBitrate, info.bitrate);
    } while (rc == MPG123_OK);
    EXPECT_EQ(rc, MPG123_DONE);
    mpg123_delete(mh);
    EXPECT_GE(minBitrate, 192);
    double seconds = pcm.size() / 2 / 44100.0;
    EXPECT_TRUE(seconds >= 124 && seconds <= 130) << seconds;
    auto loudest = std::max_element(pcm.begin(), pcm.end(), [](float a, float b) { return std::abs(a) < std::abs(b); });
    EXPECT_LT(std::abs(*loudest), 0.95f) << "no clipping";
    auto rms = [&](double t0, double t1) {
        double s = 0;
        size_t a = static_cast<size_t>(t0 * 44100) * 2, b = static_cast<size_t>(t1 * 44100) * 2;
        for (size_t i = a; i < b; ++i) s += pcm[i] * pcm[i];
        return std::sqrt(s / (b - a));
    };
    // Gapless start: silence before the first cue at 0.261 s, then the opening
    // hit; a proper ending: the last half second is silent.
    EXPECT_LT(rms(0.0, 0.24), 0.003);
    EXPECT_GT(rms(0.262, 0.40), 0.05);
    EXPECT_LT(rms(seconds - 0.5, seconds - 0.01), 0.001);
}

// ---------- determinism ----------

std::map<std::string, std::vector<uint8_t>> generate(const fs::path& dir) {
    std::string cmd = std::string("\"") + VELKOR_BINARY_DIR + "/assetgen\" \"" + dir.string() + "\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(dir)) files[e.path().filename().string()] = readAll(e.path().string());
    return files;
}

TEST_F(Data, TwoRunsWriteIdenticalBytes) {
    fs::path base = fs::temp_directory_path() / ("assetgen_test_" + std::to_string(::getpid()));
    fs::remove_all(base);
    auto a = generate(base / "a"), b = generate(base / "b");
    fs::remove_all(base);
    EXPECT_EQ(a.size(), 28u);  // 16 pictures, 8 meshes, wave map, 2 sounds, marker
    EXPECT_TRUE(a.count(".complete"));
    for (const auto& [name, bytes] : a) EXPECT_TRUE(bytes == b[name]) << name << " differs between runs";
}

}  // namespace
