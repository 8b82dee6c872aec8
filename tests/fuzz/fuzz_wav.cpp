// libFuzzer target for the audio library's WAV path: the input is the file,
// read through bassDecodeFile and bassOpenSound (libsndfile from memory, then
// the conversion to 16-bit stereo at 44,100 Hz). Besides no crash and no read
// out of bounds (the sanitizers), the decoded sound must hold:
//   - a failed decode leaves nothing, a good one an even count of at least 2;
//   - both entry points agree, and a WAV never opens as a stream;
//   - neither WAV nor MP3 by its first bytes or name: no sound.
// A file whose chunks all fit in it (the library cuts the others) is also
// read here with libsndfile straight from the input, frames as 16-bit:
//   - a file libsndfile cannot open does not decode; one with sound does;
//   - 16-bit at 44,100 Hz comes out sample for sample: stereo as it is, mono
//     doubled into both channels, of more channels the first two; any other
//     format at 44,100 Hz with its frame count unchanged;
//   - another rate gives the frame count scaled to 44,100 Hz, to the nearest
//     frame or the next;
//   - mono always has equal channels.
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bass/decode.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int64_t kMaxSeconds = 600;  // the longest sound decoded whole

bool looksLikeMp3(const uint8_t* data, size_t size) {
    return size >= 3 && (memcmp(data, "ID3", 3) == 0 || (data[0] == 0xFF && (data[1] & 0xE0) == 0xE0));
}

// True when every chunk after the RIFF header fits in the file.
bool chunksFit(const uint8_t* data, size_t size) {
    for (uint64_t at = 12; at + 8 <= size;) {
        uint64_t length = data[at + 4] | data[at + 5] << 8 | data[at + 6] << 16 | (uint64_t)data[at + 7] << 24;
        if (length > size - at - 8) return false;
        at += 8 + length + (length & 1);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzFile file("fuzz.wav");
    // MP3 starts are the other target's; the rest (WAV or not) is read here.
    if (looksLikeMp3(data, size)) return 0;
    file.write(data, size);

    std::vector<int16_t> out;
    bool ok = bassDecodeFile(file.path(), out);
    if (ok ? out.size() < 2 || out.size() % 2 != 0 : !out.empty()) abort();

    BassSound sound;
    sound.frames = -1;
    bool opened = bassOpenSound(file.path(), sound);
    if (opened != ok || sound.reader) abort();
    if (opened ? sound.frames * 2 != (int64_t)sound.pcm.size() || sound.pcm != out
               : sound.frames != 0 || !sound.pcm.empty())
        abort();

    bool riff = size >= 12 && memcmp(data, "RIFF", 4) == 0 && memcmp(data + 8, "WAVE", 4) == 0;
    if (!riff) {
        if (ok) abort();
        return 0;
    }
    if (!chunksFit(data, size)) return 0;

    BassMemoryFile in{data, (int64_t)size, 0};
    SF_INFO info{};
    SNDFILE* sf = bassOpenWavMemory(in, &info);
    if (!sf) {
        if (ok) abort();
        return 0;
    }
    const int rate = info.samplerate, channels = info.channels;
    const int64_t most = kMaxSeconds * rate;
    std::vector<int16_t> frames;  // the first two channels, as libsndfile reads them
    std::vector<int16_t> block((size_t)std::max(4096 / channels, 1) * channels);
    for (sf_count_t got = 1; got > 0 && (int64_t)frames.size() / 2 < most;) {
        got = sf_readf_short(sf, block.data(), std::min<int64_t>(block.size() / channels, most - frames.size() / 2));
        for (sf_count_t i = 0; i < got; i++) {
            frames.push_back(block[i * channels]);
            frames.push_back(block[i * channels + (channels > 1)]);
        }
    }
    bool pcm16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    sf_close(sf);

    const int64_t held = (int64_t)frames.size() / 2;
    const double expected = (double)held * kRate / rate;  // frames at 44,100 Hz
    if (!ok) {
        if (expected >= 1) abort();
        return 0;
    }
    const int64_t got = (int64_t)out.size() / 2;
    if (rate == kRate) {
        if (got != held) abort();
        if (pcm16 && out != frames) abort();
    } else if (std::fabs((double)got - expected) > 1) {
        abort();
    }
    if (channels == 1)
        for (int64_t i = 0; i < got; i++)
            if (out[i * 2] != out[i * 2 + 1]) abort();
    return 0;
}
