// Sound files made by the audio tests: WAV written by hand (the format is a
// few header fields), MP3 encoded with LAME with its gapless tag.
#pragma once
#include <lame/lame.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace audiotest {

// A fresh directory under /tmp, removed by nobody (tests are short).
inline std::string tempDir() {
    char name[] = "/tmp/velkor-audio-XXXXXX";
    const char* dir = mkdtemp(name);
    return dir ? dir : "/tmp";
}

// PCM WAV; `samples` interleaved, 8-bit data taken from the upper byte.
inline bool writeWav(const std::string& path, int rate, int channels, int bits, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> data;
    for (int16_t s : samples) {
        if (bits == 8) data.push_back((uint8_t)((s >> 8) + 128));
        else data.insert(data.end(), {(uint8_t)(s & 0xFF), (uint8_t)((uint16_t)s >> 8)});
    }
    // The RIFF header of a PCM file (little-endian, no padding in the layout).
    struct {
        char riff[4] = {'R', 'I', 'F', 'F'};
        uint32_t size;
        char wave[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
        uint32_t formatSize = 16;
        uint16_t format = 1, channels;
        uint32_t rate, byteRate;
        uint16_t blockAlign, bits;
        char dataTag[4] = {'d', 'a', 't', 'a'};
        uint32_t dataSize;
    } h;
    static_assert(sizeof h == 44);
    h.size = 36 + (uint32_t)data.size(), h.channels = (uint16_t)channels, h.rate = rate;
    h.byteRate = rate * channels * bits / 8, h.blockAlign = (uint16_t)(channels * bits / 8), h.bits = (uint16_t)bits;
    h.dataSize = (uint32_t)data.size();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(&h, sizeof h, 1, f) == 1 && fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

// Stereo frames of a sine (left) and its negation (right).
inline std::vector<int16_t> sine(int frames, double hz, int rate, double amplitude) {
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++) {
        s[i * 2] = (int16_t)std::lrint(amplitude * std::sin(2 * M_PI * hz * i / rate));
        s[i * 2 + 1] = (int16_t)-s[i * 2];
    }
    return s;
}

// Stereo frames counting up: frame i holds (i mod 32768, -(i mod 32768)).
inline std::vector<int16_t> ramp(int frames) {
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++) s[i * 2] = (int16_t)(i % 32768), s[i * 2 + 1] = (int16_t)-(i % 32768);
    return s;
}

// MP3 at `rate` with the LAME tag (encoder delay and padding) so that a
// gapless decoder returns exactly the frames given; without the tag (`tag`
// false) the decoder returns them with the encoder's delay and padding.
inline bool writeMp3(const std::string& path, int rate, int channels, const std::vector<int16_t>& interleaved,
                     bool tag = true) {
    lame_t lame = lame_init();
    if (!lame) return false;
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, 192);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, tag ? 1 : 0);
    int frames = (int)(interleaved.size() / channels);
    std::vector<unsigned char> out((size_t)(1.25 * frames + 7200 + 16384));
    auto* pcm = const_cast<short*>(interleaved.data());
    int n = lame_init_params(lame) < 0 ? -1
            : channels == 2 ? lame_encode_buffer_interleaved(lame, pcm, frames, out.data(), (int)out.size())
                            : lame_encode_buffer(lame, pcm, pcm, frames, out.data(), (int)out.size());
    int m = n < 0 ? -1 : lame_encode_flush(lame, out.data() + n, (int)out.size() - n);
    out.resize(n < 0 ? 0 : (size_t)n + (m > 0 ? m : 0));
    FILE* f = n < 0 ? nullptr : fopen(path.c_str(), "wb+");
    bool ok = f && fwrite(out.data(), 1, out.size(), f) == out.size();
    if (ok && tag) lame_mp3_tags_fid(lame, f);  // fills the tag frame at the start
    if (f) ok = fclose(f) == 0 && ok;
    lame_close(lame);
    return ok;
}

}  // namespace audiotest
