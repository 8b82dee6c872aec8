// The whole show on the headless backend with the generated DATA/: it runs
// from the dialog to the end of the finale, its cues come in order at their
// positions, runs repeat exactly, and the pictures at chosen moments are
// what the show means to show.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "tests/temp_dirs.h"

namespace {

const std::string kCapture = std::string(VELKOR_BINARY_DIR) + "/velkor-capture";
const uint32_t kCues[27] = {46076,    488884,   965036,   1453660,  1922412,  2873392,  3800968,
                            4747584,  4800000,  5220928,  5270000,  5610000,  5691256,  7625968,
                            9526380,  11436032, 13341332, 14064293, 14304870, 15026601, 15238296,
                            15958798, 16199375, 16907768, 17142472, 19030000, 20800000};

// A folder for this program's files, removed with them when it ends.
const std::string& tempDir() {
    static const std::string dir = testdirs::makeTempDir("e2e");
    return dir;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the capture tool (in folder `in`, else here) with its stderr in
// stderr.txt (in `in`, else in the temporary folder); its exit status.
int run(const std::string& args, const std::string& in = "") {
    std::string command = (in.empty() ? "" : "cd " + in + " && ") + kCapture + " " + args + " 2>" +
                          (in.empty() ? tempDir() : in) + "/stderr.txt";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TraceLine {
    double ms;
    std::string text;
};

// Runs the show with its trace in the file `trace`; the trace's lines (the
// pass column left out), once the run has ended with status 0 and "exit 0".
std::vector<TraceLine> runTraced(const std::string& args, const std::string& trace, const std::string& in = "") {
    EXPECT_EQ(run(args + " --trace " + trace, in), 0) << args << ": " << slurp((in.empty() ? tempDir() : in) + "/stderr.txt");
    std::vector<TraceLine> lines;
    std::ifstream file(trace);
    long pass;
    for (TraceLine t; file >> t.ms >> pass && std::getline(file, t.text);) lines.push_back({t.ms, t.text.erase(0, 1)});
    EXPECT_TRUE(!lines.empty() && lines.back().text == "exit 0") << args;
    return lines;
}

struct Cue {
    int number;
    unsigned position;
    double ms;
};
std::vector<Cue> cuesOf(const std::vector<TraceLine>& trace) {
    std::vector<Cue> cues;
    for (const TraceLine& t : trace)
        if (Cue c{0, 0, t.ms}; sscanf(t.text.c_str(), "cue %d at %u", &c.number, &c.position) == 2) cues.push_back(c);
    return cues;
}

bool readPng(const std::string& path, std::vector<uint32_t>& pixels, int width = 640, int height = 480) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_BGRA;
    pixels.assign((size_t)image.width * image.height, 0);
    bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) && (int)image.width == width &&
              (int)image.height == height;
    for (auto& p : pixels) p &= 0x00FFFFFF;
    return ok;
}

size_t lit(const std::vector<uint32_t>& pixels) { return pixels.size() - std::count(pixels.begin(), pixels.end(), 0u); }

class WholeShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        struct stat st;
        ASSERT_EQ(stat("DATA/.complete", &st), 0) << "DATA/ is missing: run `make data` first";
        ASSERT_EQ(stat(kCapture.c_str(), &st), 0) << kCapture;
    }
};

}  // namespace

// Twice: the same trace and the same pictures (loading, scene 2, interlude A
// and scene 2 again).
TEST_F(WholeShow, RunsToTheEndWithEveryCueInOrderAndRepeatsExactly) {
    const std::string dir = tempDir();
    const char* const moments[] = {"12.5", "30", "38.5", "47"};
    auto shots = [&](const std::string& run) {
        std::string args;
        for (const char* at : moments) args += std::string(" --shot ") + at + ":" + dir + "/" + run + at + ".png";
        return args;
    };
    auto trace = runTraced(shots("a"), dir + "/t1.txt");
    std::vector<int> numbers, all(27), scenes, rates;
    for (const Cue& c : cuesOf(trace)) {
        numbers.push_back(c.number);
        ASSERT_GE(c.position, kCues[c.number - 1]) << "cue " << c.number;
        // Fired in the first pass at or past the threshold: the position had
        // not moved on by more than a pass or two's worth of music.
        EXPECT_LT(c.position - kCues[c.number - 1], 176400u / 10) << "cue " << c.number;
    }
    std::iota(all.begin(), all.end(), 1);
    EXPECT_EQ(numbers, all);
    for (const TraceLine& t : trace) {
        if (int k; sscanf(t.text.c_str(), "scene %d", &k) == 1) scenes.push_back(k);
        if (size_t at = t.text.find("BASS_ChannelSetAttributes("); at != std::string::npos)
            rates.push_back(atoi(t.text.c_str() + t.text.find(',', at) + 1));
    }
    EXPECT_EQ(scenes, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(rates.size(), 441u);
    for (int i = 0; i < 441; i++) ASSERT_EQ(rates[i], 44100 - 100 * i);

    runTraced(shots("b"), dir + "/t2.txt");
    EXPECT_TRUE(slurp(dir + "/t1.txt") == slurp(dir + "/t2.txt")) << "the traces differ";
    for (const char* at : moments)
        EXPECT_TRUE(slurp(dir + "/a" + at + ".png") == slurp(dir + "/b" + at + ".png")) << "shot " << at;

    // In the middle of scene 2 the 3D picture is not black; in interlude A
    // the scan shows the painting (where its wave map lies below the level)
    // on black.
    std::vector<uint32_t> shot, scream(640 * 480);
    ASSERT_TRUE(readPng(dir + "/a30.png", shot));
    EXPECT_GT(lit(shot), 640u * 480 / 10);
    ASSERT_TRUE(readPng(dir + "/a38.5.png", shot));
    std::string jpeg = slurp("DATA/scream.jpg");
    tjhandle tj = tjInitDecompress();
    ASSERT_EQ(tjDecompress2(tj, (const unsigned char*)jpeg.data(), jpeg.size(), (unsigned char*)scream.data(), 640, 0,
                            480, TJPF_BGRX, 0), 0);
    tjDestroy(tj);
    for (int i = 0; i < 640 * 480; i++) ASSERT_EQ(shot[i], shot[i] ? scream[i] & 0x00FFFFFF : 0u) << i;
    EXPECT_GT(lit(shot), 1000u);
}

// During loading, in the first interlude, in the finale: the show frees the
// audio and ends with 0 at once, at the cue it had reached. The run to the
// finale is windowed, and draws the 3D in its window.
TEST_F(WholeShow, EscapeEndsWithZeroAtAnyMomentAndAWindowedRunDraws) {
    const std::string shot = tempDir() + "/w30.png";
    for (auto [at, lastCue, windowed] : {std::tuple{3.0, 1, false}, {38.5, 5, false}, {146.0, 27, true}}) {
        std::string args = (windowed ? "--windowed --shot 30:" + shot : "") + " --escape-at " + std::to_string(at);
        auto lines = runTraced(args, tempDir() + "/te.txt");
        ASSERT_FALSE(lines.empty());
        EXPECT_LT(lines.back().ms, at * 1000 + 100) << at;
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [at = at](const TraceLine& t) {
            return t.text.rfind("BASS_Free", 0) == 0 && t.ms >= at * 1000;
        })) << at;
        auto cues = cuesOf(lines);
        EXPECT_EQ(cues.empty() ? 0 : cues.back().number, lastCue) << at;
    }
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(readPng(shot, pixels));
    EXPECT_GT(lit(pixels), 640u * 480 / 10) << "the windowed run's picture at 30 s";
}

// Music that cannot carry the show's time: the show still runs its whole
// course, every cue at the time the music would have given it, and ends by
// itself. The clock counts 176,400 bytes a second from the start of scene 1.
TEST_F(WholeShow, BrokenOrShortMusicStillRunsEveryCueOnTime) {
    // Each case: its name, its music.mp3 (none when empty) and what it says on stderr.
    const std::string cases[][3] = {{"missing", "", "Create Stream File FAULT!"},
                                    {"short", slurp("DATA/music.mp3").substr(0, 100000), "DATA/music.mp3: the music lasts"}};
    for (const auto& [name, music, says] : cases) {
        // A DATA folder like the generated one but with this music.mp3.
        const std::string dir = tempDir() + "/" + name;
        std::filesystem::create_directories(dir + "/DATA");
        for (const auto& f : std::filesystem::directory_iterator(std::filesystem::absolute("DATA")))
            if (f.path().filename() != "music.mp3")
                std::filesystem::create_symlink(f.path(), dir + "/DATA/" + f.path().filename().string());
        if (!music.empty()) std::ofstream(dir + "/DATA/music.mp3", std::ios::binary) << music;
        auto trace = runTraced("--fps 30", dir + "/t.txt", dir);
        EXPECT_NE(slurp(dir + "/stderr.txt").find(says), std::string::npos) << name;
        ASSERT_FALSE(trace.empty()) << name;
        EXPECT_LT(trace.back().ms, 200000) << name;
        auto scene1 = std::find_if(trace.begin(), trace.end(), [](const TraceLine& t) { return t.text == "scene 1"; });
        ASSERT_NE(scene1, trace.end()) << name;
        auto cues = cuesOf(trace);
        ASSERT_EQ(cues.size(), 27u) << name;
        for (const Cue& cue : cues) {
            if (cue.number == 1) continue;
            // Within two passes of the cue's time on the music's scale.
            double due = scene1->ms + kCues[cue.number - 1] / 176.4;
            EXPECT_TRUE(cue.ms >= due - 1 && cue.ms <= due + 70) << name << " cue " << cue.number << " at " << cue.ms;
        }
    }
}

TEST(Capture, BadOptionsGiveUsageAndStatusTwo) {
    for (const char* args : {"--fps", "--fps 0", "--shot 3", "--until x", "--bogus", "--scale 5", "--scale 4.51",
                             "--scale 0.5", "--out x.mkv --fps 20", "--lossless", "--out"})
        EXPECT_EQ(run(args), 2) << args;
    // Outputs that cannot be written are found before the show starts.
    const std::string early = tempDir() + "/early.txt";
    for (const char* args : {"--shot 5:/no/such/dir/x.png", "--trace /no/such/dir/t.txt", "--shot 1:/tmp",
                             "--out /no/such/dir/v.mkv"}) {
        unlink(early.c_str());
        EXPECT_EQ(run("--trace " + early + " " + args), 2) << args;
        EXPECT_NE(slurp(tempDir() + "/stderr.txt").find("cannot write"), std::string::npos) << args;
        EXPECT_EQ(slurp(early), "") << args;  // nothing of the show ran
    }
}

// At --scale 2 the 3D is drawn at 1280 x 960, not enlarged: its 2 x 2 blocks
// differ within, and averaged they give back the 640 x 480 picture; a 2D
// picture (an interlude) is enlarged smoothly.
TEST_F(WholeShow, ScaledRunDrawsTheThreeDAtTheLargerSize) {
    const std::string dir = tempDir(), at = " --until 38.6 --shot 30:" + dir;
    ASSERT_EQ(run(at + "/one30.png --shot 38.5:" + dir + "/one38.png"), 0);
    ASSERT_EQ(run("--scale 2" + at + "/two30.png --shot 38.5:" + dir + "/two38.png"), 0);
    for (const char* moment : {"30", "38"}) {
        std::vector<uint32_t> one, two;
        ASSERT_TRUE(readPng(dir + "/one" + moment + ".png", one));
        ASSERT_TRUE(readPng(dir + "/two" + moment + ".png", two, 1280, 960));
        double difference = 0;
        size_t detailed = 0;
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++) {
                const uint32_t* row = &two[2 * y * 1280 + 2 * x];
                const uint32_t q[4] = {row[0], row[1], row[1280], row[1281]};
                for (int shift = 0; shift < 24; shift += 8) {
                    int sum = 0;
                    for (uint32_t p : q) sum += (p >> shift) & 255;
                    difference += std::abs(sum / 4.0 - ((one[y * 640 + x] >> shift) & 255));
                }
                detailed += q[0] != q[1] || q[0] != q[2] || q[0] != q[3];
            }
        EXPECT_LT(difference / (640 * 480 * 3), 6.0) << moment;  // the same picture...
        EXPECT_GT(detailed, lit(one) / 4) << moment;             // ...not pixel-doubled
    }
}

TEST(Capture, WithoutDataSaysHowToMakeItFirstAndGoesOn) {
    std::string dir = tempDir() + "/nodata";
    mkdir(dir.c_str(), 0755);
    ASSERT_EQ(run("--until 2", dir), 0);
    std::istringstream said(slurp(dir + "/stderr.txt"));
    std::string first, line;
    std::getline(said, first);
    EXPECT_TRUE(first.find("no DATA folder") != std::string::npos && first.find("make data") != std::string::npos)
        << first;
    int mentions = 0;
    while (std::getline(said, line)) mentions += line.find("DATA/") == 0;
    EXPECT_GT(mentions, 10);  // and then each file, as before
}
