// The whole show on the headless backend with the generated DATA/: it runs
// from the dialog to the end of the finale, its cues come in order at their
// positions, runs repeat exactly, and the pictures at chosen moments are
// what the show means to show.
#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <string>
#include <tuple>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kCapture = std::string(VELKOR_BINARY_DIR) + "/velkor-capture";
const uint32_t kCues[27] = {46076,    488884,   965036,   1453660,  1922412,  2873392,  3800968,
                            4747584,  4800000,  5220928,  5270000,  5610000,  5691256,  7625968,
                            9526380,  11436032, 13341332, 14064293, 14304870, 15026601, 15238296,
                            15958798, 16199375, 16907768, 17142472, 19030000, 20800000};

struct TraceLine {
    double ms;
    long pass;
    std::string text;
};

std::string tempDir() {
    static std::string dir;
    if (dir.empty()) {
        char pattern[] = "/tmp/velkor-e2e-XXXXXX";
        dir = mkdtemp(pattern);
    }
    return dir;
}

// Runs the capture tool (in folder `in`, else here) with its stderr in
// stderr.txt (in `in`, else in the temporary folder); its exit status.
int run(const std::string& args, const std::string& in = "") {
    std::string command = (in.empty() ? "" : "cd " + in + " && ") + kCapture + " " + args + " 2>" +
                          (in.empty() ? tempDir() : in) + "/stderr.txt";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<TraceLine> readTrace(const std::string& path) {
    std::vector<TraceLine> out;
    std::ifstream in(path);
    for (TraceLine t; in >> t.ms >> t.pass && std::getline(in, t.text);) {
        if (!t.text.empty()) t.text.erase(0, 1);
        out.push_back(t);
    }
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool readPng(const std::string& path, std::vector<uint32_t>& pixels, int width = 640, int height = 480) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_BGRA;
    pixels.assign((size_t)image.width * image.height, 0);
    bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) && (int)image.width == width &&
              (int)image.height == height;
    for (auto& p : pixels) p &= 0x00FFFFFF;
    return ok;
}

// The screen picture the show makes of a 640 x 480 JPEG: 0x00RRGGBB.
bool readScreenPicture(const std::string& path, std::vector<uint32_t>& pixels) {
    std::string file = slurp(path);
    pixels.assign(640 * 480, 0);
    tjhandle tj = tjInitDecompress();
    bool ok = tjDecompress2(tj, (const unsigned char*)file.data(), file.size(), (unsigned char*)pixels.data(), 640, 0,
                            480, TJPF_BGRX, 0) == 0;
    tjDestroy(tj);
    for (auto& p : pixels) p &= 0x00FFFFFF;
    return ok;
}

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
    auto shots = [&](const std::string& run) {
        std::string args;
        for (const char* at : {"12.5", "30", "38.5", "47"})
            args += std::string(" --shot ") + at + ":" + dir + "/" + run + at + ".png";
        return args;
    };
    ASSERT_EQ(run("--trace " + dir + "/t1.txt" + shots("a")), 0) << slurp(dir + "/stderr.txt");
    auto trace = readTrace(dir + "/t1.txt");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().text, "exit 0");

    std::vector<int> cues, scenes, rates;
    for (auto& t : trace) {
        int k = 0;
        unsigned position = 0;
        if (sscanf(t.text.c_str(), "cue %d at %u", &k, &position) == 2) {
            cues.push_back(k);
            ASSERT_GE(position, kCues[k - 1]) << "cue " << k;
            // Fired in the first pass at or past the threshold: the position
            // had not moved on by more than a pass or two's worth of music.
            EXPECT_LT(position - kCues[k - 1], 176400u / 10) << "cue " << k;
        }
        if (sscanf(t.text.c_str(), "scene %d", &k) == 1) scenes.push_back(k);
        size_t at = t.text.find("BASS_ChannelSetAttributes(");
        if (at != std::string::npos) rates.push_back(atoi(t.text.c_str() + t.text.find(',', at) + 1));
    }
    std::vector<int> all(27);
    for (int i = 0; i < 27; i++) all[i] = i + 1;
    EXPECT_EQ(cues, all);
    EXPECT_EQ(scenes, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(rates.size(), 441u);
    for (int i = 0; i < 441; i++) ASSERT_EQ(rates[i], 44100 - 100 * i);

    ASSERT_EQ(run("--trace " + dir + "/t2.txt" + shots("b")), 0);
    EXPECT_TRUE(slurp(dir + "/t1.txt") == slurp(dir + "/t2.txt")) << "the traces differ";
    for (const char* n : {"12.5", "30", "38.5", "47"})
        EXPECT_TRUE(slurp(dir + "/a" + n + ".png") == slurp(dir + "/b" + n + ".png")) << "shot " << n;

    // In the middle of scene 2 the 3D picture is not black; in interlude A
    // the scan shows the painting (where its wave map lies below the level)
    // on black.
    std::vector<uint32_t> shot, scream;
    ASSERT_TRUE(readPng(dir + "/a30.png", shot));
    EXPECT_GT(std::count_if(shot.begin(), shot.end(), [](uint32_t p) { return p != 0; }), 640 * 480 / 10);
    ASSERT_TRUE(readPng(dir + "/a38.5.png", shot));
    ASSERT_TRUE(readScreenPicture("DATA/scream.jpg", scream));
    size_t shown = 0;
    for (int i = 0; i < 640 * 480; i++) {
        if (shot[i] == 0) continue;
        ASSERT_EQ(shot[i], scream[i]) << i;
        shown++;
    }
    EXPECT_GT(shown, 1000u);
}

TEST_F(WholeShow, WindowedRunEndsAfterTheFinale) {
    const std::string dir = tempDir();
    ASSERT_EQ(run("--windowed --trace " + dir + "/tw.txt --shot 30:" + dir + "/w30.png"), 0);
    auto trace = readTrace(dir + "/tw.txt");
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().text, "exit 0");
    int cues = 0;
    for (auto& t : trace) cues += t.text.rfind("cue ", 0) == 0;
    EXPECT_EQ(cues, 27);
    std::vector<uint32_t> shot;
    ASSERT_TRUE(readPng(dir + "/w30.png", shot));
    EXPECT_GT(std::count_if(shot.begin(), shot.end(), [](uint32_t p) { return p != 0; }), 640 * 480 / 10);
}

// During loading, in the first interlude, in the finale: the show frees the
// audio and ends with 0 at once, at the cue it had reached.
TEST_F(WholeShow, EscapeEndsWithZeroAtAnyMoment) {
    for (auto [at, lastCue] : {std::pair{3.0, 1}, {38.5, 5}, {146.0, 27}}) {
        std::string trace = tempDir() + "/te.txt";
        ASSERT_EQ(run("--escape-at " + std::to_string(at) + " --trace " + trace), 0) << at;
        auto lines = readTrace(trace);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, "exit 0");
        EXPECT_LT(lines.back().ms, at * 1000 + 100) << at;
        bool freed = false;
        int cue = 0;
        for (auto& t : lines) {
            freed |= t.text.rfind("BASS_Free", 0) == 0 && t.ms >= at * 1000;
            sscanf(t.text.c_str(), "cue %d", &cue);
        }
        EXPECT_EQ(std::tuple(freed, cue), std::tuple(true, lastCue)) << at;
    }
}

namespace {

// A DATA folder like the generated one but with its own music.mp3, made by
// `makeMusic` from the real one's bytes (nothing: no file).
std::string dataWithMusic(const std::string& name, const std::function<std::string(const std::string&)>& makeMusic) {
    std::string dir = tempDir() + "/" + name;
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/DATA").c_str(), 0755);
    for (const auto& f : std::filesystem::directory_iterator(std::string(VELKOR_SOURCE_DIR) + "/DATA")) {
        std::string to = dir + "/DATA/" + f.path().filename().string();
        unlink(to.c_str());
        if (f.path().filename() != "music.mp3") {
            EXPECT_EQ(symlink(f.path().c_str(), to.c_str()), 0) << to;
        }
    }
    std::string music = makeMusic(slurp("DATA/music.mp3"));
    if (!music.empty()) std::ofstream(dir + "/DATA/music.mp3", std::ios::binary) << music;
    return dir;
}

}  // namespace

// Music that cannot carry the show's time: the show still runs its whole
// course, every cue at the time the music would have given it, and ends by
// itself. The clock counts 176,400 bytes a second from the start of scene 1.
TEST_F(WholeShow, BrokenOrShortMusicStillRunsEveryCueOnTime) {
    struct Case {
        const char* name;
        std::function<std::string(const std::string&)> make;
        const char* says;  // on stderr
    };
    const Case cases[] = {
        {"missing", [](const std::string&) { return std::string(); }, "Create Stream File FAULT!"},
        {"garbage", [](const std::string&) { return std::string(50000, '\x55'); }, "Create Stream File FAULT!"},
        {"short", [](const std::string& real) { return real.substr(0, 100000); },
         "DATA/music.mp3: the music lasts"},
    };
    for (const Case& c : cases) {
        std::string dir = dataWithMusic(c.name, c.make);
        ASSERT_EQ(run("--fps 30 --trace t.txt", dir), 0) << c.name;
        std::string said = slurp(dir + "/stderr.txt");
        EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": " << said;
        auto trace = readTrace(dir + "/t.txt");
        ASSERT_FALSE(trace.empty()) << c.name;
        EXPECT_EQ(trace.back().text, "exit 0") << c.name;
        EXPECT_LT(trace.back().ms, 200000) << c.name;
        double sceneStart = -1;
        int cues = 0;
        for (auto& t : trace) {
            int k = 0;
            unsigned position = 0;
            if (t.text == "scene 1") sceneStart = t.ms;
            if (sscanf(t.text.c_str(), "cue %d at %u", &k, &position) == 2 && k > 1) {
                cues++;
                ASSERT_GT(sceneStart, 0) << c.name;
                // Within two passes of the cue's time on the music's scale.
                double due = sceneStart + kCues[k - 1] / 176.4;
                EXPECT_GE(t.ms, due - 1) << c.name << " cue " << k;
                EXPECT_LE(t.ms, due + 70) << c.name << " cue " << k;
            }
        }
        EXPECT_EQ(cues, 26) << c.name;
    }
}

TEST(Capture, BadOptionsGiveUsageAndStatusTwo) {
    for (const char* args : {"--fps", "--fps 0", "--shot 3", "--until x", "--bogus", "--scale 5", "--out x.mkv --fps 20",
                             "--lossless", "--out"})
        EXPECT_EQ(run(args), 2) << args;
    // Outputs that cannot be written are found before the show starts.
    for (const char* args : {"--shot 5:/no/such/dir/x.png", "--trace /no/such/dir/t.txt", "--shot 1:/tmp",
                             "--out /no/such/dir/v.mkv"}) {
        unlink((tempDir() + "/early.txt").c_str());
        EXPECT_EQ(run("--trace " + tempDir() + "/early.txt " + args), 2) << args;
        std::string said = slurp(tempDir() + "/stderr.txt");
        EXPECT_NE(said.find("cannot write"), std::string::npos) << args << ": " << said;
        EXPECT_EQ(slurp(tempDir() + "/early.txt"), "") << args;  // nothing of the show ran
    }
}

// At --scale 2 the 3D is drawn at 1280 x 960, not enlarged: its 2 x 2 blocks
// differ within, and averaged they give back the 640 x 480 picture; a 2D
// picture (an interlude) is enlarged smoothly.
TEST_F(WholeShow, ScaledRunDrawsTheThreeDAtTheLargerSize) {
    const std::string dir = tempDir();
    const std::string at = " --until 38.6 --shot 30:" + dir;
    ASSERT_EQ(run(at + "/one30.png --shot 38.5:" + dir + "/one38.png"), 0);
    ASSERT_EQ(run("--scale 2" + at + "/two30.png --shot 38.5:" + dir + "/two38.png"), 0);
    for (const char* moment : {"30", "38"}) {
        std::vector<uint32_t> one, two;
        ASSERT_TRUE(readPng(dir + "/one" + moment + ".png", one));
        ASSERT_TRUE(readPng(dir + "/two" + moment + ".png", two, 1280, 960));
        double difference = 0;
        size_t lit = 0, detailed = 0;
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++) {
                const uint32_t q[4] = {two[(2 * y) * 1280 + 2 * x], two[(2 * y) * 1280 + 2 * x + 1],
                                       two[(2 * y + 1) * 1280 + 2 * x], two[(2 * y + 1) * 1280 + 2 * x + 1]};
                for (int shift = 0; shift < 24; shift += 8) {
                    int sum = 0;
                    for (uint32_t p : q) sum += (p >> shift) & 255;
                    difference += std::abs(sum / 4.0 - ((one[y * 640 + x] >> shift) & 255));
                }
                lit += one[y * 640 + x] != 0;
                detailed += q[0] != q[1] || q[0] != q[2] || q[0] != q[3];
            }
        EXPECT_LT(difference / (640 * 480 * 3), 6.0) << moment;  // the same picture...
        EXPECT_GT(detailed, lit / 4) << moment;                    // ...not pixel-doubled
    }
}

TEST(Capture, WithoutDataSaysHowToMakeItFirstAndGoesOn) {
    std::string dir = tempDir() + "/nodata";
    mkdir(dir.c_str(), 0755);
    ASSERT_EQ(run("--until 2", dir), 0);
    std::istringstream said(slurp(dir + "/stderr.txt"));
    std::string first, line;
    std::getline(said, first);
    EXPECT_NE(first.find("no DATA folder"), std::string::npos) << first;
    EXPECT_NE(first.find("make data"), std::string::npos) << first;
    int mentions = 0;
    while (std::getline(said, line)) mentions += line.find("DATA/") == 0;
    EXPECT_GT(mentions, 10);  // and then each file, as before
}
