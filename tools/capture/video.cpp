// Video capture with FFmpeg's libraries: every vertical blank of the virtual
// display becomes one video frame (the picture it shows), and the mixed audio
// follows the virtual clock sample by sample, so picture and sound never
// drift. Matroska with H.264 (yuv420p, CRF 18) or lossless FFV1, and FLAC.
// The file is written under a private temporary name and renamed in when
// complete (VtOutput), through our own descriptor.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/virtual/virtual.h"
#include "tools/capture/capture.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kRate = 44100;
constexpr int kIoBuffer = 1 << 16;
constexpr double kShowSeconds = 150.0;  // about; for the progress line only

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteData = const uint8_t*;
#else
using WriteData = uint8_t*;
#endif

struct Capture {
    CaptureOptions options;
    VtOutput output;
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
    bool quiet = false;          // a write to stderr failed (a closed pipe): say no more
    bool progressShown = false;  // the progress line is open on stderr
    std::chrono::steady_clock::time_point started, lastProgress;
};

Capture* g_capture = nullptr;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void say(Capture& c, const char* format, ...) {
    if (c.quiet) return;
    va_list args;
    va_start(args, format);
    if (vfprintf(stderr, format, args) < 0) c.quiet = true;
    va_end(args);
}

// The first failure says why the file will not be written, in one line.
void fail(Capture& c, const std::string& what) {
    if (c.failed) return;
    c.failed = true;
    say(c, "%svelkor-capture: %s was not written: %s\n", c.progressShown ? "\n" : "", c.options.out.c_str(),
        what.c_str());
    c.progressShown = false;
    vtOutputFailed();
}

// False (and the capture failed) when an allocation came back empty.
bool got(Capture& c, bool ok, const char* what) {
    if (!ok) fail(c, std::string("cannot allocate ") + what);
    return ok;
}

// The muxer writes through the output's descriptor; a device or pipe that
// cannot seek is written as a stream.
int writeOut(void* opaque, WriteData data, int size) {
    int fd = static_cast<Capture*>(opaque)->output.fd;
    for (int done = 0; done < size;) {
        ssize_t n = write(fd, data + done, (size_t)(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
        done += (int)n;
    }
    return size;
}

int64_t seekOut(void* opaque, int64_t offset, int whence) {
    int fd = static_cast<Capture*>(opaque)->output.fd;
    if (whence == AVSEEK_SIZE) return AVERROR(ENOSYS);  // FFmpeg then seeks to the end
    off_t at = lseek(fd, (off_t)offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : (int64_t)at;
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
        if (r >= 0 && c.format->pb->error < 0) r = c.format->pb->error;  // a full disk, found at once
        if (r < 0) return fail(c, "writing failed (" + errorText(r) + ")");
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) fail(c, "encoding failed (" + errorText(r) + ")");
}

bool openVideo(Capture& c) {
    const AVCodec* codec = c.options.lossless ? avcodec_find_encoder(AV_CODEC_ID_FFV1)
                                              : avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = c.options.lossless ? nullptr : avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) return fail(c, "no encoder for the video"), false;
    if (!got(c, (c.videoStream = avformat_new_stream(c.format, nullptr)), "the video stream") ||
        !got(c, (c.video = avcodec_alloc_context3(codec)), "the video encoder"))
        return false;
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
    if (!got(c, avcodec_parameters_from_context(c.videoStream->codecpar, c.video) >= 0, "the video parameters"))
        return false;
    c.videoStream->time_base = c.video->time_base;
    c.videoStream->avg_frame_rate = c.video->framerate;

    if (!got(c, (c.picture = av_frame_alloc()), "a video frame")) return false;
    c.picture->format = c.video->pix_fmt;
    c.picture->width = c.video->width;
    c.picture->height = c.video->height;
    // The display is already the video's size (the render scale): only the
    // pixel format changes.
    return got(c, av_frame_get_buffer(c.picture, 0) >= 0, "a video frame") &&
           got(c, (c.scaler = sws_getContext(c.video->width, c.video->height, AV_PIX_FMT_BGR0, c.video->width,
                                             c.video->height, c.video->pix_fmt, SWS_POINT, nullptr, nullptr,
                                             nullptr)),
               "the pixel format converter");
}

bool openAudio(Capture& c) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FLAC);
    if (!codec) return fail(c, "no encoder for the audio"), false;
    if (!got(c, (c.audioStream = avformat_new_stream(c.format, nullptr)), "the audio stream") ||
        !got(c, (c.audio = avcodec_alloc_context3(codec)), "the audio encoder"))
        return false;
    c.audio->sample_fmt = AV_SAMPLE_FMT_S16;
    c.audio->sample_rate = kRate;
    av_channel_layout_default(&c.audio->ch_layout, 2);
    c.audio->time_base = AVRational{1, kRate};
    if (c.format->oformat->flags & AVFMT_GLOBALHEADER) c.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(c.audio, codec, nullptr);
    if (r < 0) return fail(c, "cannot open the audio encoder (" + errorText(r) + ")"), false;
    if (!got(c, avcodec_parameters_from_context(c.audioStream->codecpar, c.audio) >= 0, "the audio parameters"))
        return false;
    c.audioStream->time_base = c.audio->time_base;
    return got(c, (c.sound = av_frame_alloc()), "an audio frame") &&
           got(c, (c.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, 2, kRate)), "the audio queue");
}

// The Matroska muxer with both streams, writing through our descriptor.
bool setUp(Capture& c) {
    int r = avformat_alloc_output_context2(&c.format, nullptr, "matroska", c.options.out.c_str());
    if (r < 0 || !c.format) return fail(c, "cannot set up Matroska (" + errorText(r) + ")"), false;
    if (!openVideo(c) || !openAudio(c) || !got(c, (c.packet = av_packet_alloc()), "a packet")) return false;
    auto* buffer = (unsigned char*)av_malloc(kIoBuffer);
    if (!got(c, buffer, "the output buffer")) return false;
    bool seekable = lseek(c.output.fd, 0, SEEK_CUR) >= 0;
    c.format->pb = avio_alloc_context(buffer, kIoBuffer, 1, &c, nullptr, writeOut, seekable ? seekOut : nullptr);
    if (!c.format->pb) av_free(buffer);
    if (!got(c, c.format->pb, "the output")) return false;
    c.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    r = avformat_write_header(c.format, nullptr);
    if (r < 0) return fail(c, "cannot write the file (" + errorText(r) + ")"), false;
    return true;
}

// Frees everything, closes the descriptor and renames the file in when it
// is whole (`complete`), else removes it. Whether it was written.
bool release(Capture& c, bool complete) {
    if (c.format && c.format->pb) {
        avio_flush(c.format->pb);
        if (complete && c.format->pb->error < 0) fail(c, "writing failed (" + errorText(c.format->pb->error) + ")");
        av_freep(&c.format->pb->buffer);
        avio_context_free(&c.format->pb);
    }
    avformat_free_context(c.format);
    avcodec_free_context(&c.video);
    avcodec_free_context(&c.audio);
    sws_freeContext(c.scaler);
    av_frame_free(&c.picture);
    av_frame_free(&c.sound);
    av_packet_free(&c.packet);
    if (c.fifo) av_audio_fifo_free(c.fifo);
    c.format = nullptr, c.scaler = nullptr, c.fifo = nullptr;
    if (c.output.fd >= 0 && close(c.output.fd) != 0 && complete) fail(c, std::string("writing failed (") + strerror(errno) + ")");
    std::string why;
    bool written = vtOutputEnd(c.output, complete && !c.failed, why);
    if (complete && !written) fail(c, "cannot rename it in (" + why + ")");
    return written;
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
        if (!got(c, av_frame_get_buffer(c.sound, 0) >= 0, "an audio frame")) return;
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
    say(c, "\rcapture: %6.1f s of %s%.0f s, %lld frames, %.1fx real time   ", done, c.options.until > 0 ? "" : "about ",
        total, (long long)c.frames, wall > 0 ? done / wall : 0.0);
    c.progressShown = !c.quiet;
}

}  // namespace

bool captureStart(const CaptureOptions& options) {
    auto* c = new Capture();
    c->options = options;
    c->started = c->lastProgress = std::chrono::steady_clock::now();
    av_log_set_level(AV_LOG_ERROR);
    std::string why;
    if (!vtOutputOpen(options.out, c->output, why)) fail(*c, "cannot create it (" + why + ")");
    if (c->failed || !setUp(*c)) {
        release(*c, false);
        delete c;
        return false;
    }
    g_capture = c;
    return true;
}

void captureFrame(int64_t ticks, const uint32_t* pixels, int width, int height) {
    Capture* c = g_capture;
    if (!c || c->failed || width != c->video->width || height != c->video->height) return;
    if (!got(*c, av_frame_make_writable(c->picture) >= 0, "a video frame")) return;
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
    if (!got(*c, av_audio_fifo_write(c->fifo, planes, count) == count, "the audio queue")) return;
    drainAudio(*c, false);
}

void captureFinish(bool complete) {
    Capture* c = g_capture;
    if (!c) return;
    g_capture = nullptr;
    if (complete) {
        drainAudio(*c, true);
        encode(*c, c->audio, c->audioStream, nullptr);
        encode(*c, c->video, c->videoStream, nullptr);
        if (!c->failed) {
            int r = av_write_trailer(c->format);
            if (r < 0) fail(*c, "cannot finish the file (" + errorText(r) + ")");
        }
    }
    int64_t bytes = c->format && c->format->pb ? avio_tell(c->format->pb) : 0;
    if (release(*c, complete)) {
        progress(*c, true);
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - c->started).count();
        say(*c, "\nvelkor-capture: %s: %lld frames at %d fps, %.2f s, %.1f MB, written in %.1f s\n",
            c->options.out.c_str(), (long long)c->frames, c->options.fps, (double)c->samples / kRate, bytes / 1e6,
            wall);
    } else if (c->progressShown) {
        say(*c, "\n");
    }
    delete c;
}
