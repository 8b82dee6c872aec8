// Video capture: the file reads back with the right streams and lengths,
// captures repeat exactly, and bad requests leave nothing behind.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/hash.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
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
    int width = 0, height = 0;
    AVRational rate{0, 1};
    int channels = 0, sampleRate = 0;
    int64_t frames = 0, samples = 0;
    std::vector<uint64_t> frameHashes;
};

// Demuxes and decodes the whole file, hashing every picture.
bool decodeFile(const std::string& path, Decoded& out) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
    avformat_find_stream_info(format, nullptr);
    int videoIndex = -1, audioIndex = -1;
    std::vector<AVCodecContext*> codecs(format->nb_streams, nullptr);
    for (unsigned i = 0; i < format->nb_streams; i++) {
        AVCodecParameters* p = format->streams[i]->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex < 0) videoIndex = (int)i;
        if (p->codec_type == AVMEDIA_TYPE_AUDIO && audioIndex < 0) audioIndex = (int)i;
        const AVCodec* codec = avcodec_find_decoder(p->codec_id);
        codecs[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(codecs[i], p);
        codecs[i]->thread_count = 1;
        avcodec_open2(codecs[i], codec, nullptr);
    }
    if (videoIndex < 0 || audioIndex < 0 || format->nb_streams != 2) return false;
    AVCodecParameters* v = format->streams[videoIndex]->codecpar;
    AVCodecParameters* a = format->streams[audioIndex]->codecpar;
    out.width = v->width, out.height = v->height;
    out.rate = format->streams[videoIndex]->avg_frame_rate;
    out.channels = a->ch_layout.nb_channels, out.sampleRate = a->sample_rate;

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](int index) {
        while (avcodec_receive_frame(codecs[index], frame) == 0) {
            if (index == videoIndex) {
                uint64_t h = 1469598103934665603ull;
                for (int y = 0; y < frame->height; y++)
                    for (int x = 0; x < frame->linesize[0] && x < frame->width; x++)
                        h = (h ^ frame->data[0][y * frame->linesize[0] + x]) * 1099511628211ull;
                out.frameHashes.push_back(h);
                out.frames++;
            } else {
                out.samples += frame->nb_samples;
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        int i = packet->stream_index;
        if (avcodec_send_packet(codecs[i], packet) == 0) drain(i);
        av_packet_unref(packet);
    }
    for (int i : {videoIndex, audioIndex}) {
        avcodec_send_packet(codecs[i], nullptr);
        drain(i);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (auto* c : codecs) avcodec_free_context(&c);
    avformat_close_input(&format);
    return true;
}

class Capture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(exists("DATA/.complete")) << "DATA/ is missing: run `make data`"; }
    std::string dir = ::testing::TempDir();
};

}  // namespace

TEST_F(Capture, AShortCaptureHasOnePictureStreamAndOneStereoStreamOfTheSpan) {
    std::string file = dir + "velkor-short.mkv";
    ASSERT_EQ(run("--until 8 --fps 30 --out " + file), 0);
    Decoded d;
    ASSERT_TRUE(decodeFile(file, d));
    EXPECT_EQ(d.width, 640);
    EXPECT_EQ(d.height, 480);
    EXPECT_EQ(d.rate.num, 30);
    EXPECT_EQ(d.rate.den, 1);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.sampleRate, 44100);
    EXPECT_NEAR((double)d.frames, 8 * 30, 1);
    EXPECT_NEAR((double)d.samples, 8 * 44100, 44100 / 30);
    std::remove(file.c_str());
}

TEST_F(Capture, TwoCapturesOfTheSameSpanDecodeToTheSameFrames) {
    std::string a = dir + "velkor-a.mkv", b = dir + "velkor-b.mkv";
    ASSERT_EQ(run("--until 4 --out " + a), 0);
    ASSERT_EQ(run("--until 4 --out " + b), 0);
    Decoded da, db;
    ASSERT_TRUE(decodeFile(a, da));
    ASSERT_TRUE(decodeFile(b, db));
    EXPECT_EQ(da.frames, 4 * 60);
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

TEST_F(Capture, BadRequestsFailAndLeaveNothingHalfWritten) {
    for (const char* args : {"--out x.mkv --fps 20", "--out x.mkv --scale 5", "--lossless", "--out"})
        EXPECT_EQ(run(args), 2) << args;
    std::string unwritable = "/nonexistent-folder/velkor.mkv";
    EXPECT_NE(run("--until 1 --out " + unwritable), 0);
    EXPECT_FALSE(exists(unwritable));
    EXPECT_FALSE(exists(unwritable + ".partial"));
}
