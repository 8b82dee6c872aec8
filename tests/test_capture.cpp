// Video capture: the file reads back with the right streams and lengths,
// and captures repeat exactly. The outputs: what a name stands for is written
// through and never replaced, an output not written is an error, and a run
// cut short by a signal or a broken stderr leaves no temporary file. (Bad
// options are checked with the others, in test_e2e.)
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sndfile.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Decoded {
    int width = 0, height = 0, channels = 0, sampleRate = 0;
    AVRational rate{0, 1};
    int64_t samples = 0;
    std::vector<size_t> frameHashes;  // of each picture's first plane
};

// Demuxes and decodes the whole file: two streams, one picture and one sound.
bool decodeFile(const std::string& path, Decoded& out) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    bool ok = avformat_find_stream_info(format, nullptr) >= 0 && format->nb_streams == 2;
    AVCodecContext* codecs[2] = {avcodec_alloc_context3(nullptr), avcodec_alloc_context3(nullptr)};
    for (unsigned i = 0; ok && i < 2; i++) {
        const AVCodecParameters* p = format->streams[i]->codecpar;
        ok = p->codec_type == (i ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO) &&
             avcodec_parameters_to_context(codecs[i], p) >= 0 &&
             avcodec_open2(codecs[i], avcodec_find_decoder(p->codec_id), nullptr) == 0;
    }
    if (ok) out.rate = format->streams[0]->avg_frame_rate;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](unsigned i) {
        while (avcodec_receive_frame(codecs[i], frame) == 0) {
            if (i == 1) {
                out.samples += frame->nb_samples, out.channels = frame->ch_layout.nb_channels;
                out.sampleRate = frame->sample_rate;
                continue;
            }
            std::string plane;
            for (int y = 0; y < frame->height; y++)
                plane.append((const char*)frame->data[0] + y * frame->linesize[0], frame->width);
            out.frameHashes.push_back(std::hash<std::string>()(plane));
            out.width = frame->width, out.height = frame->height;
        }
    };
    while (ok && av_read_frame(format, packet) >= 0) {
        if (avcodec_send_packet(codecs[packet->stream_index], packet) == 0) drain(packet->stream_index);
        av_packet_unref(packet);
    }
    for (unsigned i = 0; ok && i < 2; i++) avcodec_send_packet(codecs[i], nullptr), drain(i);
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (auto* c : codecs) avcodec_free_context(&c);
    avformat_close_input(&format);
    return ok;
}

// Captures with the capture tool's `options` into a file named for this
// process (so that test runs side by side keep apart) and decodes it.
bool capture(const std::string& options, Decoded& out) {
    std::string file = ::testing::TempDir() + "velkor-" + std::to_string(getpid()) + ".mkv";
    std::string command = std::string(VELKOR_BINARY_DIR) + "/velkor-capture " + options + " --out " + file + " 2>/dev/null";
    int status = std::system(command.c_str());
    bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && decodeFile(file, out);
    std::remove(file.c_str());
    return ok;
}

const std::string kCapture = std::string(VELKOR_BINARY_DIR) + "/velkor-capture";
const std::vector<std::string> kShort = {"--until", "2", "--fps", "30"};  // 60 frames

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder, with the generated DATA/ or without, removed at the end.
struct Folder {
    std::string path;
    explicit Folder(bool withData) {
        char pattern[] = "/tmp/velkor-outputs-XXXXXX";
        path = mkdtemp(pattern);
        if (withData) std::filesystem::create_symlink(std::filesystem::absolute("DATA"), path + "/DATA");
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

std::set<std::string> names(const std::string& dir) {
    std::set<std::string> all;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) all.insert(entry.path().filename());
    return all;
}

int frames(const std::string& path) {
    Decoded d;
    return decodeFile(path, d) ? (int)d.frameHashes.size() : -1;
}

// Starts the capture tool in `dir`, stderr on `err` (closed when -1), with
// the default action for the signals it catches.
pid_t start(const std::string& dir, std::vector<std::string> args, int err) {
    args.insert(args.begin(), kCapture);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(number, SIG_DFL);
        if (chdir(dir.c_str()) != 0) _exit(126);
        err < 0 ? close(2) : dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Its exit status, or minus the signal that killed it.
int finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Runs it to the end with stderr in err.txt: the status and what it said.
std::pair<int, std::string> run(const std::string& dir, std::vector<std::string> args) {
    args.insert(args.end(), kShort.begin(), kShort.end());
    int err = open((dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int status = finish(start(dir, args, err));
    close(err);
    return {status, slurp(dir + "/err.txt")};
}

bool isLink(const std::string& path) { return std::filesystem::is_symlink(path); }
// Frames of a 16-bit stereo WAV file at 44,100 Hz; -1 for anything else.
long long soundFrames(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return -1;
    sf_close(f);
    return info.channels == 2 && info.samplerate == 44100 && info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
               ? (long long)info.frames : -1;
}
bool isDevice(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

// One picture stream at 60 frames a second and one stereo stream of the span;
// a second capture of the same span decodes to the same pictures; a scaled
// capture is the larger display's size.
TEST(Capture, HoldsTheSpanRepeatsExactlyAndScales) {
    ASSERT_TRUE(std::filesystem::exists("DATA/.complete")) << "DATA/ is missing: run `make data`";
    Decoded a, b, scaled;
    ASSERT_TRUE(capture("--until 4", a));
    ASSERT_TRUE(capture("--until 4", b));
    ASSERT_TRUE(capture("--until 1 --lossless --scale 2", scaled));
    EXPECT_EQ(std::tuple(a.width, a.height, a.rate.num, a.rate.den, a.channels, a.sampleRate, a.frameHashes.size()),
              std::tuple(640, 480, 60, 1, 2, 44100, 4u * 60));
    EXPECT_NEAR((double)a.samples, 4 * 44100, 44100 / 60);
    EXPECT_EQ(a.frameHashes, b.frameHashes);
    EXPECT_EQ(std::tuple(scaled.width, scaled.height), std::tuple(1280, 960));
}

// The largest display, as `make capture-4k` writes it (H.264, smooth edges):
// 2880 x 2160, every frame.
TEST(Capture, TheLargestScaleWrites2880x2160) {
    ASSERT_TRUE(std::filesystem::exists("DATA/.complete")) << "DATA/ is missing: run `make data`";
    Decoded big;
    ASSERT_TRUE(capture("--until 0.5 --scale 4.5 --aa", big));
    EXPECT_EQ(std::tuple(big.width, big.height, big.frameHashes.size()), std::tuple(2880, 2160, 30u));
}

// Each row: a request, its status and a line it says, what is true after.
// A link to a file is written through to the file, a device is written to
// and never replaced, a file of the user's named like a temporary one is
// left alone, and nothing else is ever left in the folder. Device nodes
// (copies of /dev/null and /dev/full) need root; their rows are skipped
// without.
TEST(CaptureOutputs, EveryTargetIsWrittenThroughOrRefusedWithItsReason) {
    ASSERT_TRUE(std::filesystem::exists("DATA/.complete")) << "DATA/ is missing: run `make data`";
    const Folder folder(true);
    const std::string& dir = folder.path;
    auto at = [&](const std::string& name) { return dir + "/" + name; };
    std::ofstream(at("real.mkv")) << "old";
    std::ofstream(at("v.mkv.partial")) << "mine";
    std::filesystem::create_symlink("real.mkv", at("link.mkv"));
    std::filesystem::create_symlink("t.png", at("lt.png"));  // to a file not made yet
    const bool nodes = mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                       mknod(at("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const std::set<std::string> made = names(dir);
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string says;
        std::function<bool()> holds;
        bool needsNodes = false;
    };
    const auto none = [] { return true; };
    const Row rows[] = {
        {{"--out", "link.mkv"}, 0, "link.mkv: 60 frames", [&] { return isLink(at("link.mkv")) && frames(at("real.mkv")) == 60; }},
        {{"--out", "v.mkv"}, 0, "v.mkv: 60 frames", [&] { return slurp(at("v.mkv.partial")) == "mine" && frames(at("v.mkv")) == 60; }},
        {{"--out", "null"}, 0, "null: 60 frames", [&] { return isDevice(at("null")); }, true},
        {{"--shot", "1:full"}, 1, "full: cannot write the picture (No space left on device)", [&] { return isDevice(at("full")); }, true},
        {{"--trace", "full"}, 1, "full: cannot write the trace (No space left on device)", [&] { return isDevice(at("full")); }, true},
        {{"--audio", "s.wav"}, 0, "s.wav: 88420 frames of sound, 2.00 s", [&] { return soundFrames(at("s.wav")) == 88420; }},
        {{"--audio", "full"}, 1, "full was not written", [&] { return isDevice(at("full")); }, true},
        {{"--audio", ""}, 2, "--audio needs a file name", none},
        {{"--audio", "s.wav", "--out", "s.wav"}, 2, "--out and --audio name the same file", none},
        {{"--out", ""}, 2, "--out needs a file name", none},
        {{"--trace", ""}, 2, "--trace needs a file name", none},
        {{"--dialog-shot", ""}, 2, "--dialog-shot needs a file name", none},
        {{"--shot", "1:" + std::string(300, 'a') + ".png"}, 2, "(File name too long)", none},
        {{"--trace", "lt.png", "--shot", "1:t.png"}, 2, "--trace and --shot name the same file", none},
        {{"--shot", "1:s.png", "--out", "s.png"}, 2, "--shot and --out name the same file", none},
        {{"--shot", "3:x.png"}, 2, "the shot x.png comes after --until", none},
        {{"--escape-at", "1", "--shot", "1.9:late.png"}, 1, "late.png not taken: the show ended at 1.000 s", none},
    };
    for (const Row& row : rows) {
        if (row.needsNodes && !nodes) continue;
        std::string request;
        for (const auto& a : row.args) request += " " + a.substr(0, 20);
        auto [status, said] = run(dir, row.args);
        EXPECT_EQ(status, row.status) << request << ": " << said;
        EXPECT_NE(said.find(row.says), std::string::npos) << request << ": " << said;
        EXPECT_TRUE(row.holds()) << request;
        std::set<std::string> now = names(dir), extra;
        for (const auto& name : now)
            if (!made.count(name) && name != "err.txt" && name != "v.mkv" && name != "s.wav") extra.insert(name);
        EXPECT_TRUE(extra.empty()) << request << ": left " << *extra.begin();
    }
    if (!nodes) GTEST_SKIP() << "not root: no device nodes";
}

// Two captures to one name at once: both end well, and the file is one of
// theirs, whole.
TEST(CaptureOutputs, TwoCapturesToOneNameBothFinishWhole) {
    const Folder folder(true);
    const std::string& dir = folder.path;
    std::vector<std::string> args = {"--out", "same.mkv"};
    args.insert(args.end(), kShort.begin(), kShort.end());
    int quiet = open("/dev/null", O_WRONLY);
    pid_t a = start(dir, args, quiet), b = start(dir, args, quiet);
    close(quiet);
    EXPECT_EQ(std::tuple(finish(a), finish(b)), std::tuple(0, 0));
    EXPECT_EQ(frames(dir + "/same.mkv"), 60);
    EXPECT_EQ(names(dir), (std::set<std::string>{"DATA", "same.mkv"}));
}

// Sent in the middle of a capture (once its progress line shows): the run
// ends with 128 + the signal, the earlier video is kept, no temporary file
// stays, and the trace is there with the interruption as its last line.
TEST(CaptureOutputs, ASignalEndsTheRunKeepingTheEarlierFileAndTheTrace) {
    for (auto [number, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
        const Folder folder(true);
        const std::string& dir = folder.path;
        std::ofstream(dir + "/v.mkv") << "earlier";
        int pipeEnds[2];
        ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);  // the child keeps only its stderr
        pid_t pid = start(dir, {"--until", "60", "--fps", "30", "--out", "v.mkv", "--trace", "t.txt"}, pipeEnds[1]);
        close(pipeEnds[1]);
        std::string said;
        char chunk[256];
        for (ssize_t n; said.find("capture:") == std::string::npos && (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
            said.append(chunk, n);
        kill(pid, number);
        for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) said.append(chunk, n);
        close(pipeEnds[0]);
        EXPECT_EQ(finish(pid), 128 + number) << name << ": " << said;
        EXPECT_EQ(slurp(dir + "/v.mkv"), "earlier") << name;
        EXPECT_EQ(names(dir), (std::set<std::string>{"DATA", "t.txt", "v.mkv"})) << name;
        std::string trace = slurp(dir + "/t.txt");
        EXPECT_TRUE(trace.size() > 1 && trace.ends_with(std::string(" interrupted by ") + name + "\n")) << name;
    }
}

// Without DATA/ the show names each missing file on stderr while the video
// is open: with stderr closed none of it lands in the video, and with a
// pipe that closes after 20 bytes the capture still ends well.
TEST(CaptureOutputs, AClosedOrBrokenStderrLeavesTheVideoWhole) {
    for (bool closed : {true, false}) {
        const Folder folder(false);
        const std::string& dir = folder.path;
        int pipeEnds[2];
        ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);  // the child keeps only its stderr
        std::vector<std::string> args = {"--out", "v.mkv"};
        args.insert(args.end(), kShort.begin(), kShort.end());
        pid_t pid = start(dir, args, closed ? -1 : pipeEnds[1]);
        close(pipeEnds[1]);
        char head[20];
        EXPECT_EQ(read(pipeEnds[0], head, sizeof head) > 0, !closed);
        close(pipeEnds[0]);
        EXPECT_EQ(finish(pid), 0) << (closed ? "closed" : "broken");
        EXPECT_EQ(frames(dir + "/v.mkv"), 60) << (closed ? "closed" : "broken");
        EXPECT_EQ(names(dir), (std::set<std::string>{"v.mkv"})) << (closed ? "closed" : "broken");
    }
}
