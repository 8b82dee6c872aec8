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

#include "tests/temp_dirs.h"

namespace audiotest {

using testdirs::removeTempDirs;

// A fresh directory under /tmp, removed when the program ends.
inline std::string tempDir() { return testdirs::makeTempDir("audio"); }

// PCM WAV; `samples` interleaved, 8-bit data taken from the upper byte.
inline bool writeWav(const std::string& path, int rate, int channels, int bits, const std::vector<int16_t>& samples) {
    std::string file;
    auto put = [&file](uint32_t value, int bytes) {  // little-endian
        for (int i = 0; i < bytes; i++) file += (char)(value >> 8 * i);
    };
    const uint32_t dataSize = (uint32_t)samples.size() * bits / 8;
    file += "RIFF", put(36 + dataSize, 4), file += "WAVEfmt ", put(16, 4), put(1, 2), put(channels, 2), put(rate, 4);
    put(rate * channels * bits / 8, 4), put(channels * bits / 8, 2), put(bits, 2), file += "data", put(dataSize, 4);
    for (int16_t s : samples) bits == 8 ? put((s >> 8) + 128, 1) : put((uint16_t)s, 2);
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(file.data(), 1, file.size(), f) == file.size();
    return f && fclose(f) == 0 && ok;
}

// Stereo frames of a sine (left) and its negation (right).
inline std::vector<int16_t> sine(int frames, double hz, int rate, double amplitude) {
    std::vector<int16_t> s((size_t)frames * 2);
    for (int i = 0; i < frames; i++)
        s[i * 2 + 1] = (int16_t)-(s[i * 2] = (int16_t)std::lrint(amplitude * std::sin(2 * M_PI * hz * i / rate)));
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
