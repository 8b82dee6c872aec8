// Sound files made by the audio tests: WAV written by hand (the format is a
// few header fields), MP3 encoded with LAME with its gapless tag.
#pragma once
#include <lame/lame.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace audiotest {

// A fresh directory under /tmp, removed by nobody (tests are short).
inline std::string tempDir() {
    char name[] = "/tmp/velkor-audio-XXXXXX";
    const char* dir = mkdtemp(name);
    return dir ? dir : "/tmp";
}

inline void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
inline void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// PCM WAV; `samples` interleaved, 8-bit data taken from the upper byte.
inline bool writeWav(const std::string& path, int rate, int channels, int bits, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> data;
    for (int16_t s : samples) {
        if (bits == 8)
            data.push_back((uint8_t)((s >> 8) + 128));
        else
            put16(data, (uint16_t)s);
    }
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    put32(b, 36 + (uint32_t)data.size());
    for (char c : std::string("WAVEfmt ")) b.push_back((uint8_t)c);
    put32(b, 16);
    put16(b, 1);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    for (char c : std::string("data")) b.push_back((uint8_t)c);
    put32(b, (uint32_t)data.size());
    b.insert(b.end(), data.begin(), data.end());
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}

// Stereo frames of a sine (left) and its negation (right).
inline std::vector<int16_t> sine(int frames, double hz, int rate, double amplitude) {
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++) {
        double v = amplitude * std::sin(2 * M_PI * hz * i / rate);
        s[i * 2] = (int16_t)std::lrint(v);
        s[i * 2 + 1] = (int16_t)std::lrint(-v);
    }
    return s;
}

// Stereo frames counting up: frame i holds (i mod 32768, -(i mod 32768)).
inline std::vector<int16_t> ramp(int frames) {
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++) {
        s[i * 2] = (int16_t)(i % 32768);
        s[i * 2 + 1] = (int16_t)-(i % 32768);
    }
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
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }
    int frames = (int)(interleaved.size() / channels);
    std::vector<unsigned char> out((size_t)(1.25 * frames + 7200 + 16384));
    int n;
    if (channels == 2)
        n = lame_encode_buffer_interleaved(lame, const_cast<short*>(interleaved.data()), frames, out.data(),
                                           (int)out.size());
    else
        n = lame_encode_buffer(lame, interleaved.data(), interleaved.data(), frames, out.data(), (int)out.size());
    if (n < 0) {
        lame_close(lame);
        return false;
    }
    int m = lame_encode_flush(lame, out.data() + n, (int)out.size() - n);
    out.resize((size_t)n + (m > 0 ? m : 0));
    FILE* f = fopen(path.c_str(), "wb+");
    bool ok = f && fwrite(out.data(), 1, out.size(), f) == out.size();
    if (ok && tag) lame_mp3_tags_fid(lame, f);  // fills the tag frame at the start
    if (f) ok = fclose(f) == 0 && ok;
    lame_close(lame);
    return ok;
}

}  // namespace audiotest
