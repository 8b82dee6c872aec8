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
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <sys/wait.h>
#include <unistd.h>
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
