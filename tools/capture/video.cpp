// Video capture with FFmpeg's libraries: every vertical blank of the virtual
// display becomes one video frame (the picture it shows), and the mixed audio
// follows the virtual clock sample by sample, so picture and sound never
// drift. Matroska with H.264 (yuv420p, CRF 18) or lossless FFV1, and FLAC.
// The file is written under a temporary name and renamed when complete.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/virtual/virtual.h"
#include "tools/capture/capture.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kRate = 44100;
constexpr double kShowSeconds = 150.0;  // about; for the progress line only

struct Capture {
    CaptureOptions options;
    std::string partial;
    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVPacket* packet = nullptr;
    int64_t frames = 0;
    int64_t samples = 0;
    bool failed = false;
    std::chrono::steady_clock::time_point started, lastProgress;
};

Capture* g_capture = nullptr;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void fail(Capture& c, const std::string& what) {
    if (!c.failed) fprintf(stderr, "velkor-capture: %s: %s\n", c.options.out.c_str(), what.c_str());
    c.failed = true;
}

// Sends one frame (or null to flush) and writes every packet that comes out.
void encode(Capture& c, AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
    if (c.failed) return;
    int r = avcodec_send_frame(codec, frame);
    if (r < 0) return fail(c, "encoding failed (" + errorText(r) + ")");
    while ((r = avcodec_receive_packet(codec, c.packet)) >= 0) {
        av_packet_rescale_ts(c.packet, codec->time_base, stream->time_base);
        c.packet->stream_index = stream->index;
        r = av_interleaved_write_frame(c.format, c.packet);
        if (r < 0) return fail(c, "writing failed (" + errorText(r) + ")");
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) fail(c, "encoding failed (" + errorText(r) + ")");
}

bool openVideo(Capture& c) {
    const AVCodec* codec = c.options.lossless ? avcodec_find_encoder(AV_CODEC_ID_FFV1)
                                              : avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = c.options.lossless ? nullptr : avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) return fail(c, "no encoder for the video"), false;
    c.videoStream = avformat_new_stream(c.format, nullptr);
    c.video = avcodec_alloc_context3(codec);
    c.video->width = (int)std::lround(kWidth * c.options.scale);
    c.video->height = (int)std::lround(kHeight * c.options.scale);
    c.video->time_base = AVRational{1, c.options.fps};
    c.video->framerate = AVRational{c.options.fps, 1};
    c.video->pix_fmt = c.options.lossless ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
    c.video->thread_count = 2;
    c.video->gop_size = c.options.fps * 4;
    if (c.format->oformat->flags & AVFMT_GLOBALHEADER) c.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* settings = nullptr;
    if (!c.options.lossless) {
        av_dict_set(&settings, "crf", "18", 0);
        av_dict_set(&settings, "preset", "veryfast", 0);
    } else {
        av_dict_set(&settings, "level", "3", 0);
    }
    int r = avcodec_open2(c.video, codec, &settings);
    av_dict_free(&settings);
    if (r < 0) return fail(c, "cannot open the video encoder (" + errorText(r) + ")"), false;
    avcodec_parameters_from_context(c.videoStream->codecpar, c.video);
    c.videoStream->time_base = c.video->time_base;
    c.videoStream->avg_frame_rate = c.video->framerate;

    c.picture = av_frame_alloc();
    c.picture->format = c.video->pix_fmt;
    c.picture->width = c.video->width;
    c.picture->height = c.video->height;
    av_frame_get_buffer(c.picture, 0);
    // The display is already the video's size (the render scale): only the
    // pixel format changes.
    c.scaler = sws_getContext(c.video->width, c.video->height, AV_PIX_FMT_BGR0, c.video->width, c.video->height,
                              c.video->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr);
    return c.scaler != nullptr;
}

bool openAudio(Capture& c) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    if (!codec) return fail(c, "no encoder for the audio"), false;
    c.audioStream = avformat_new_stream(c.format, nullptr);
    c.audio = avcodec_alloc_context3(codec);
    c.audio->sample_fmt = AV_SAMPLE_FMT_S16;
    c.audio->sample_rate = kRate;
    av_channel_layout_default(&c.audio->ch_layout, 2);
    c.audio->time_base = AVRational{1, kRate};
    if (c.format->oformat->flags & AVFMT_GLOBALHEADER) c.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(c.audio, codec, nullptr);
    if (r < 0) return fail(c, "cannot open the audio encoder (" + errorText(r) + ")"), false;
    avcodec_parameters_from_context(c.audioStream->codecpar, c.audio);
    c.audioStream->time_base = c.audio->time_base;
    c.sound = av_frame_alloc();
    c.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, 2, kRate);
    return true;
}

// Encodes whole encoder frames from the queue; with `all`, the rest too.
void drainAudio(Capture& c, bool all) {
    int size = c.audio->frame_size > 0 ? c.audio->frame_size : 4096;
    while (!c.failed && (av_audio_fifo_size(c.fifo) >= size || (all && av_audio_fifo_size(c.fifo) > 0))) {
        int n = std::min(size, av_audio_fifo_size(c.fifo));
        av_frame_unref(c.sound);
        c.sound->format = AV_SAMPLE_FMT_S16;
        c.sound->sample_rate = kRate;
        av_channel_layout_default(&c.sound->ch_layout, 2);
        c.sound->nb_samples = n;
        av_frame_get_buffer(c.sound, 0);
        av_audio_fifo_read(c.fifo, (void**)c.sound->data, n);
        c.sound->pts = c.samples;
        c.samples += n;
        encode(c, c.audio, c.audioStream, c.sound);
    }
}

void progress(Capture& c, bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - c.lastProgress < std::chrono::seconds(1)) return;
    c.lastProgress = now;
    double done = (double)vtNow() / kVtTicksPerSecond;
    double total = c.options.until > 0 ? c.options.until : kShowSeconds;
    double wall = std::chrono::duration<double>(now - c.started).count();
    fprintf(stderr, "\rcapture: %6.1f s of %s%.0f s, %lld frames, %.1fx real time   ", done,
            c.options.until > 0 ? "" : "about ", total, (long long)c.frames, wall > 0 ? done / wall : 0.0);
}

}  // namespace

bool captureStart(const CaptureOptions& options) {
    auto* c = new Capture();
    c->options = options;
    c->partial = options.out + ".partial";
    c->started = c->lastProgress = std::chrono::steady_clock::now();
    av_log_set_level(AV_LOG_ERROR);
    int r = avformat_alloc_output_context2(&c->format, nullptr, "matroska", c->partial.c_str());
    if (r < 0 || !c->format) return fail(*c, "cannot set up Matroska (" + errorText(r) + ")"), false;
    if (!openVideo(*c) || !openAudio(*c)) return false;
    r = avio_open(&c->format->pb, c->partial.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return fail(*c, "cannot write the file (" + errorText(r) + ")"), false;
    r = avformat_write_header(c->format, nullptr);
    if (r < 0) {
        fail(*c, "cannot write the file (" + errorText(r) + ")");
        avio_closep(&c->format->pb);
        std::remove(c->partial.c_str());
        return false;
    }
    c->packet = av_packet_alloc();
    g_capture = c;
    return true;
}

void captureFrame(int64_t ticks, const uint32_t* pixels, int width, int height) {
    Capture* c = g_capture;
    if (!c || c->failed || width != c->video->width || height != c->video->height) return;
    av_frame_make_writable(c->picture);
    const uint8_t* src[1] = {(const uint8_t*)pixels};
    const int stride[1] = {width * 4};
    sws_scale(c->scaler, src, stride, 0, height, c->picture->data, c->picture->linesize);
    // The blank at ticks is frame number ticks * fps / 10^7 of the display.
    c->picture->pts = (ticks * c->options.fps + kVtTicksPerSecond / 2) / kVtTicksPerSecond;
    encode(*c, c->video, c->videoStream, c->picture);
    c->frames++;
    progress(*c, false);
}

void captureAudio(const int16_t* frames, int count) {
    Capture* c = g_capture;
    if (!c || c->failed) return;
    void* planes[1] = {(void*)frames};
    av_audio_fifo_write(c->fifo, planes, count);
    drainAudio(*c, false);
}

void captureFinish(int /*exitCode*/) {
    Capture* c = g_capture;
    if (!c) return;
    g_capture = nullptr;
    drainAudio(*c, true);
    encode(*c, c->audio, c->audioStream, nullptr);
    encode(*c, c->video, c->videoStream, nullptr);
    if (!c->failed) {
        int r = av_write_trailer(c->format);
        if (r < 0) fail(*c, "cannot finish the file (" + errorText(r) + ")");
    }
    avio_closep(&c->format->pb);
    progress(*c, true);
    fprintf(stderr, "\n");
    if (c->failed || std::rename(c->partial.c_str(), c->options.out.c_str()) != 0) {
        std::remove(c->partial.c_str());
        fprintf(stderr, "velkor-capture: %s was not written\n", c->options.out.c_str());
        fflush(stderr);
        _exit(1);
    }
    struct stat st = {};
    stat(c->options.out.c_str(), &st);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - c->started).count();
    fprintf(stderr, "velkor-capture: %s: %lld frames at %d fps, %.2f s, %.1f MB, written in %.1f s\n",
            c->options.out.c_str(), (long long)c->frames, c->options.fps, (double)c->samples / kRate,
            st.st_size / 1e6, wall);
}
