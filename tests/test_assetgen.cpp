// Reads back every file the asset generator writes into DATA/ and checks it
// against what the show's readers expect; runs the generator twice for byte
// equality. Run from the repository root (make test generates DATA/ first).
#include <gtest/gtest.h>
#include <unistd.h>
#include <mpg123.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/rm/objects.h"

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

std::vector<uint8_t> decode(const std::vector<uint8_t>& jpeg, int w, int h, int flags) {
    tjhandle tj = tjInitDecompress();
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    int rc = tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB, flags);
    tjDestroy(tj);
    EXPECT_EQ(rc, 0);
    return rgb;
}

// Squared distance from every pixel to the nearest marked one, capped just
// above limit squared.
std::vector<int> distanceToMarks(const std::vector<bool>& mark, int size, int limit) {
    auto at = [size](int x, int y) { return static_cast<size_t>(y) * size + x; };
    std::vector<int> column(mark.size(), limit + 1), d(mark.size(), (limit + 1) * (limit + 1));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            for (int dy = std::max(-limit, -y); dy <= limit && y + dy < size; ++dy)
                if (mark[at(x, y + dy)]) column[at(x, y)] = std::min(column[at(x, y)], std::abs(dy));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            for (int dx = std::max(-limit, -x); dx <= limit && x + dx < size; ++dx)
                if (int dy = column[at(x + dx, y)]; dy <= limit) d[at(x, y)] = std::min(d[at(x, y)], dx * dx + dy * dy);
    return d;
}

// Brightest channel of pixel i.
int peak(const std::vector<uint8_t>& rgb, size_t i) { return std::max({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}); }

// Every picture: its size, full colour, baseline. Black is transparent in
// the keyed ones, and they are decoded here as the show decodes them: every
// pixel is key (within the renderer's tolerance of black) or shape, and a
// pixel that is neither (dark, yet drawn) may only lie on a shape's 2-pixel
// rim and make up under 0.1 % of the picture. The share is printed, so this
// is also the measurement.
TEST_F(Data, PicturesHaveTheirSizesBaselineEncodingAndKeyedOnesBrightShapesOnKeyBlack) {
    const int kDark = 40;  // brighter than this, a drawn pixel reads as shape
    for (const Picture& p : kPictures) {
        SCOPED_TRACE(p.name);
        std::vector<uint8_t> jpeg = readAll(std::string("DATA/") + p.name);
        ASSERT_GT(jpeg.size(), 1000u);
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsamp = -1, colorspace = -1;
        ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &subsamp, &colorspace), 0);
        tjDestroy(tj);
        EXPECT_EQ(w, p.size);
        EXPECT_EQ(h, p.size == 640 ? 480 : p.size);
        EXPECT_EQ(subsamp, TJSAMP_444);
        EXPECT_EQ(colorspace, TJCS_YCbCr);
        // Baseline: a SOF0 marker and no progressive SOF2.
        auto marker = [&](uint8_t m) {
            for (size_t i = 0; i + 1 < jpeg.size(); ++i)
                if (jpeg[i] == 0xFF && jpeg[i + 1] == m) return true;
            return false;
        };
        EXPECT_TRUE(marker(0xC0));
        EXPECT_FALSE(marker(0xC2));
        if (!p.keyed) continue;
        std::vector<uint8_t> rgb = decode(jpeg, p.size, p.size, TJFLAG_ACCURATEDCT);
        const size_t total = static_cast<size_t>(p.size) * p.size;
        std::vector<bool> shape(total);
        double shapeSum = 0;
        size_t shapeCount = 0, key = 0, dark = 0, darkOffRim = 0, border = 0;
        for (size_t i = 0; i < total; ++i)
            if ((shape[i] = peak(rgb, i) > kDark)) shapeSum += peak(rgb, i), ++shapeCount;
        std::vector<int> toShape = distanceToMarks(shape, p.size, 2);
        for (int y = 0; y < p.size; ++y)
            for (int x = 0; x < p.size; ++x) {
                size_t i = static_cast<size_t>(y) * p.size + x;
                if (peak(rgb, i) <= rm::kKeyTolerance) { ++key; continue; }
                if (x < 3 || y < 3 || x >= p.size - 3 || y >= p.size - 3) ++border;
                if (shape[i]) continue;
                ++dark;
                if (toShape[i] > 8) ++darkOffRim;
            }
        double share = 100.0 * dark / total;
        std::printf("%-12s dark but drawn: %zu of %zu pixels (%.3f %%), %zu off a shape's rim\n", p.name, dark, total,
                    share, darkOffRim);
        EXPECT_LT(share, 0.1);
        EXPECT_EQ(darkOffRim, 0u) << "dark specks away from the shapes";
        EXPECT_EQ(border, 0u) << "shapes must keep a key margin (texture coordinates wrap)";
        EXPECT_GT(key, total / 4) << "too little transparent area";
        ASSERT_GT(shapeCount, total / 50) << "too little bright shape";
        EXPECT_GT(shapeSum / shapeCount, 170.0) << "shapes should stay bright";
    }
}

// Nine tiles, each whole inside its third of the sheet with a key margin
// along the cell's edges, where the show's quads cut the sheet.
TEST_F(Data, TileSheetHasNineSeparateTiles) {
    std::vector<uint8_t> rgb = decode(readAll("DATA/123.jpg"), 512, 512, TJFLAG_ACCURATEDCT);
    const int edge[4] = {0, 171, 341, 512};  // 512 / 3 = 170.7
    for (int n = 0; n < 9; ++n) {
        SCOPED_TRACE("tile " + std::to_string(n + 1));
        int x0 = edge[n % 3], x1 = edge[n % 3 + 1], y0 = edge[n / 3], y1 = edge[n / 3 + 1];
        int ink = 0, margin = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                int v = peak(rgb, static_cast<size_t>(y) * 512 + x);
                ink += v > 60;
                bool nearEdge = x < x0 + 3 || x >= x1 - 3 || y < y0 + 3 || y >= y1 - 3;
                margin += nearEdge && v > rm::kKeyTolerance;
            }
        EXPECT_GT(ink, 2500) << "a tile of at least 50 x 50 texels";
        EXPECT_EQ(margin, 0);
    }
}

// ---------- meshes ----------

struct Vec { float x, y, z; };
struct ParsedMesh {
    std::vector<Vec> v, keys;
    std::vector<std::array<uint32_t, 3>> faces;  // after the reader's (i1, i3, i2) turn
    std::vector<int> keyFrames;
    int keyBound = -1;
    size_t uvPairs = 0, bytesLeft = 0;
    bool truncated = false;
};

// Reads a .3d file the way the show's loader does.
ParsedMesh parseMesh(const std::vector<uint8_t>& b, bool keyTrack, bool uv) {
    ParsedMesh m;
    size_t p = 0;
    auto need = [&](size_t n) { if (p + n > b.size()) { m.truncated = true; return false; } return true; };
    auto u16 = [&] { uint32_t v = b[p] | (b[p + 1] << 8); p += 2; return v; };
    auto i32 = [&] { int32_t v; std::memcpy(&v, &b[p], 4); p += 4; return v; };
    auto f32 = [&] { float v; std::memcpy(&v, &b[p], 4); p += 4; return v; };
    if (!need(2)) return m;
    uint32_t nv = u16();
    auto vec = [&] { float x = f32(), z = f32(), y = f32(); return Vec{x, y, z}; };
    if (!need(12 * nv)) return m;
    for (uint32_t i = 0; i < nv; ++i) m.v.push_back(vec());
    if (!need(2)) return m;
    uint32_t nf = u16();
    if (!need(8 * nf)) return m;
    for (uint32_t i = 0; i < nf; ++i, p += 2) {
        uint32_t a = u16(), c = u16(), d = u16();  // and a flags word
        m.faces.push_back({a, d, c});
    }
    if (keyTrack) {
        if (!need(18)) return m;
        p += 10;
        m.keyBound = i32();
        p += 4;
        while (need(4)) {
            int32_t frame;
            std::memcpy(&frame, &b[p], 4);
            if ((m.keyFrames.empty() ? frame : m.keyFrames.back()) >= m.keyBound) break;
            if (!need(18)) return m;
            m.keyFrames.push_back(i32());
            p += 2;
            m.keys.push_back(vec());
        }
    }
    if (uv) {
        if (!need(2) || !need(8 * (m.uvPairs = u16()))) return m;
        p += 8 * m.uvPairs;
    }
    m.bytesLeft = b.size() - p;
    return m;
}

Vec sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float len(Vec a) { return std::sqrt(dot(a, a)); }

struct MeshFile { const char* name; bool keys, uv; };
const MeshFile kMeshes[] = {{"zag.3d", false, true},   {"zlin.3d", false, false}, {"s_t.3d", false, true},
                            {"knot.3d", true, true},   {"blin.3d", true, true},   {"box.3d", true, true},
                            {"pyr.3d", false, false},  {"flower.3d", false, false}};

TEST_F(Data, MeshesParseExactlyWithinCapacitiesAndFaceOutwards) {
    for (const MeshFile& f : kMeshes) {
        SCOPED_TRACE(f.name);
        ParsedMesh m = parseMesh(readAll(std::string("DATA/") + f.name), f.keys, f.uv);
        ASSERT_FALSE(m.truncated);
        EXPECT_EQ(m.bytesLeft, 0u) << "the file holds sections the reader does not expect";
        ASSERT_GE(m.v.size(), 4u);
        EXPECT_LE(m.v.size(), 15000u);
        EXPECT_LE(m.faces.size(), 3749u);
        if (f.uv) {
            EXPECT_EQ(m.uvPairs, m.v.size());
            EXPECT_LE(m.uvPairs, 7500u);
        }
        double volume = 0, maxR = 0;
        for (const auto& t : m.faces) {
            for (uint32_t i : t) ASSERT_LT(i, m.v.size());
            // Front faces run clockwise for a viewer outside: with the left-handed
            // axes that is cross(b - a, c - a) pointing out, so the volume is positive.
            volume += dot(m.v[t[0]], cross(m.v[t[1]], m.v[t[2]])) / 6.0;
            // The zag is seen from inside: the origin lies behind every face's plane.
            if (f.name == std::string("zag.3d")) {
                EXPECT_GT(dot(cross(sub(m.v[t[1]], m.v[t[0]]), sub(m.v[t[2]], m.v[t[0]])), m.v[t[0]]), 0.0f);
            }
        }
        for (const Vec& v : m.v) maxR = std::max<double>(maxR, len(v));
        EXPECT_GT(volume, 0.0);
        EXPECT_GT(maxR, 15.0);
        EXPECT_LT(maxR, 160.0);
    }
}

TEST_F(Data, KeyTracksShareTheirBoundAndLoopAroundTheScene) {
    int bound = -1;
    for (const MeshFile& f : kMeshes) {
        if (!f.keys) continue;
        SCOPED_TRACE(f.name);
        ParsedMesh m = parseMesh(readAll(std::string("DATA/") + f.name), true, true);
        ASSERT_GT(m.keyBound, 0);
        if (bound < 0) bound = m.keyBound;
        EXPECT_EQ(m.keyBound, bound);
        ASSERT_EQ(m.keyFrames.size(), static_cast<size_t>(m.keyBound) + 1);
        for (size_t i = 0; i < m.keyFrames.size(); ++i) EXPECT_EQ(m.keyFrames[i], static_cast<int>(i));
        // 2.5 frame numbers per second: one loop lasts 30 to 60 s.
        EXPECT_GE(m.keyBound / 2.5, 30.0);
        EXPECT_LE(m.keyBound / 2.5, 60.0);
        for (const Vec& k : m.keys) {
            EXPECT_GE(len(k), 120.0f);
            EXPECT_LE(len(k), 300.0f);
        }
        EXPECT_LT(len(sub(m.keys.front(), m.keys.back())), 0.01f) << "the loop closes";
        for (size_t i = 1; i < m.keys.size(); ++i) EXPECT_LT(len(sub(m.keys[i], m.keys[i - 1])), 25.0f) << "smooth path";
    }
}

// ---------- wave map ----------

TEST_F(Data, WaveMapIsASmoothFullRangeMap) {
    std::vector<uint8_t> w = readAll("DATA/wave.raw");
    ASSERT_EQ(w.size(), 307200u);
    std::vector<size_t> histogram(256);
    double step = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            uint8_t v = w[y * 640 + x];
            ++histogram[v];
            if (x > 0) step += std::abs(v - w[y * 640 + x - 1]);
        }
    EXPECT_GT(histogram[0], 0u);
    EXPECT_GT(histogram[255], 0u);
    EXPECT_LT(step / (480.0 * 639), 4.0) << "neighbouring values should be close";
}

// ---------- audio ----------

TEST_F(Data, JingleIsAShortSeamlessPcmLoop) {
    std::vector<uint8_t> b = readAll("DATA/menu.wav");
    ASSERT_GE(b.size(), 44u);
    auto u16 = [&](size_t o) { return b[o] | (b[o + 1] << 8); };
    auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | (u16(o + 2) << 16)); };
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(u16(20), 1);  // PCM, stereo, 44,100 Hz, 16 bits
    EXPECT_EQ(u16(22), 2);
    EXPECT_EQ(u32(24), 44100u);
    EXPECT_EQ(u16(34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    uint32_t bytes = u32(40);
    ASSERT_EQ(bytes + 44, b.size());
    EXPECT_GE(bytes / 176400.0, 1.5);
    EXPECT_LE(bytes / 176400.0, 2.7);
    size_t frames = bytes / 4;
    auto sample = [&](size_t frame, int ch) { return static_cast<int16_t>(u16(44 + frame * 4 + ch * 2)); };
    int maxStep = 0, peak = 0;
    for (size_t i = 1; i < frames; ++i)
        for (int ch = 0; ch < 2; ++ch) {
            maxStep = std::max(maxStep, std::abs(sample(i, ch) - sample(i - 1, ch)));
            peak = std::max(peak, std::abs(static_cast<int>(sample(i, ch))));
        }
    EXPECT_GT(peak, 8000);
    EXPECT_LT(peak, 32000);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_LE(std::abs(sample(0, ch) - sample(frames - 1, ch)), maxStep) << "the loop point clicks";
}

TEST_F(Data, MusicDecodesGaplesslyToTheFullLength) {
    ASSERT_EQ(mpg123_init(), MPG123_OK);
    int err = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    ASSERT_NE(mh, nullptr);
    mpg123_param(mh, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    ASSERT_EQ(mpg123_open(mh, "DATA/music.mp3"), MPG123_OK);
    long rate = 0;
    int channels = 0, encoding = 0;
    ASSERT_EQ(mpg123_getformat(mh, &rate, &channels, &encoding), MPG123_OK);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    std::vector<float> pcm;
    std::vector<unsigned char> buf(1 << 16);
    size_t done = 0;
    int rc, minBitrate = 1 << 20;
    do {
        rc = mpg123_read(mh, buf.data(), buf.size(), &done);
        const float* f = reinterpret_cast<const float*>(buf.data());
        pcm.insert(pcm.end(), f, f + done / sizeof(float));
        mpg123_frameinfo info;
        if (mpg123_info(mh, &info) == MPG123_OK && info.bitrate > 0) minBitrate = std::min(minBitrate, info.bitrate);
    } while (rc == MPG123_OK);
    EXPECT_EQ(rc, MPG123_DONE);
    mpg123_close(mh);
    mpg123_delete(mh);
    EXPECT_GE(minBitrate, 192);
    double seconds = pcm.size() / 2 / 44100.0;
    EXPECT_GE(seconds, 124.0);
    EXPECT_LE(seconds, 130.0);
    float peak = 0;
    for (float v : pcm) peak = std::max(peak, std::abs(v));
    EXPECT_LT(peak, 0.95f) << "no clipping";
    // Gapless start: silence before the first cue at 0.261 s, then the opening hit.
    auto rms = [&](double t0, double t1) {
        double s = 0;
        size_t a = static_cast<size_t>(t0 * 44100) * 2, b = static_cast<size_t>(t1 * 44100) * 2;
        for (size_t i = a; i < b; ++i) s += pcm[i] * pcm[i];
        return std::sqrt(s / (b - a));
    };
    EXPECT_LT(rms(0.0, 0.24), 0.003);
    EXPECT_GT(rms(0.262, 0.40), 0.05);
    // A proper ending: the last half second is silent.
    EXPECT_LT(rms(seconds - 0.5, seconds - 0.01), 0.001);
}

// ---------- determinism ----------

std::map<std::string, std::vector<uint8_t>> generate(const fs::path& dir) {
    fs::remove_all(dir);
    std::string cmd = std::string("\"") + VELKOR_BINARY_DIR + "/assetgen\" \"" + dir.string() + "\"";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(dir)) files[e.path().filename().string()] = readAll(e.path().string());
    return files;
}

TEST_F(Data, TwoRunsWriteIdenticalBytes) {
    fs::path base = fs::temp_directory_path() / ("assetgen_test_" + std::to_string(::getpid()));
    auto a = generate(base / "a");
    auto b = generate(base / "b");
    fs::remove_all(base);
    ASSERT_EQ(a.size(), 28u);  // 16 pictures, 8 meshes, wave map, 2 sounds, marker
    ASSERT_EQ(a.size(), b.size());
    for (const auto& [name, bytes] : a) {
        ASSERT_TRUE(b.count(name)) << name;
        EXPECT_TRUE(bytes == b[name]) << name << " differs between runs";
    }
    EXPECT_TRUE(a.count(".complete"));
}

}  // namespace
