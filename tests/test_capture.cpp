// Video capture: the file reads back with the right streams and lengths,
// and captures repeat exactly. (Bad requests are checked with the other
// options, in test_e2e.)
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kCapture = std::string(VELKOR_BINARY_DIR) + "/velkor-capture";

int run(const std::string& args) {
    std::string command = kCapture + " " + args + " 2>/dev/null";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

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
    avformat_find_stream_info(format, nullptr);
    std::vector<AVCodecContext*> codecs;
    bool ok = format->nb_streams == 2;
    for (unsigned i = 0; i < format->nb_streams; i++) {
        const AVCodecParameters* p = format->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(p->codec_id);
        codecs.push_back(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(codecs[i], p);
        ok = ok && avcodec_open2(codecs[i], codec, nullptr) == 0 &&
             p->codec_type == (i ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO);
        if (i == 0) out.width = p->width, out.height = p->height, out.rate = format->streams[i]->avg_frame_rate;
        if (i == 1) out.channels = p->ch_layout.nb_channels, out.sampleRate = p->sample_rate;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](unsigned i) {
        while (avcodec_receive_frame(codecs[i], frame) == 0) {
            if (i == 1) {
                out.samples += frame->nb_samples;
                continue;
            }
            std::string plane;
            for (int y = 0; y < frame->height; y++)
                plane.append((const char*)frame->data[0] + y * frame->linesize[0], frame->width);
            out.frameHashes.push_back(std::hash<std::string>()(plane));
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

class Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(exists("DATA/.complete")) << "DATA/ is missing: run `make data`"; }
    // Named for this process, so that test runs side by side keep apart.
    std::string dir = ::testing::TempDir() + "velkor-" + std::to_string(getpid()) + "-";
};

}  // namespace

// One picture stream at 60 frames a second and one stereo stream of the
// span; a second capture of the same span decodes to the same pictures.
TEST_F(Capture, ACaptureHoldsTheSpanAndRepeatsExactly) {
    std::string a = dir + "velkor-a.mkv", b = dir + "velkor-b.mkv";
    ASSERT_EQ(run("--until 4 --out " + a), 0);
    ASSERT_EQ(run("--until 4 --out " + b), 0);
    Decoded da, db;
    ASSERT_TRUE(decodeFile(a, da));
    ASSERT_TRUE(decodeFile(b, db));
    EXPECT_EQ(std::tuple(da.width, da.height, da.rate.num, da.rate.den, da.channels, da.sampleRate, da.frameHashes.size()),
              std::tuple(640, 480, 60, 1, 2, 44100, 4u * 60));
    EXPECT_NEAR((double)da.samples, 4 * 44100, 44100 / 60);
    EXPECT_EQ(da.frameHashes, db.frameHashes);
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST_F(Capture, ScaledCaptureIsTheLargerDisplaysSize) {
    std::string file = dir + "velkor-scaled.mkv";
    ASSERT_EQ(run("--until 1 --lossless --scale 2 --out " + file), 0);
    Decoded d;
    ASSERT_TRUE(decodeFile(file, d));
    EXPECT_EQ(d.width, 1280);
    EXPECT_EQ(d.height, 960);
    std::remove(file.c_str());
}
