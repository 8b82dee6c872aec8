// libFuzzer target for the audio library's WAV path: the input is the file,
// read through bassDecodeFile and bassOpenSound (SDL's WAV loader, then the
// conversion to 16-bit stereo at 44,100 Hz). The input is also loaded with
// SDL's loader straight from memory, and the decoded sound is held against
// what that gives:
//   - a failed decode leaves nothing, a good one an even count of at least 2;
//   - both entry points agree, and a WAV never opens as a stream;
//   - 16-bit stereo at 44,100 Hz comes out byte for byte, 16-bit mono at
//     44,100 Hz doubled into both channels (within 1: SDL converts through
//     floats), any other format at 44,100 Hz with its frame count
//     unchanged, mono always with equal channels;
//   - another rate gives the frame count scaled to 44,100 Hz;
//   - a file SDL loads and can convert, with sound in it, decodes.
#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bass/decode.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

constexpr int kRate = 44100;

bool looksLikeMp3(const uint8_t* data, size_t size) {
    return size >= 3 && (memcmp(data, "ID3", 3) == 0 || (data[0] == 0xFF && (data[1] & 0xE0) == 0xE0));
}

// Frames of `from` frames at `rate` once resampled to 44,100 Hz, give or
// take the resampler's rounding at the two ends.
bool scaledCountFits(uint64_t from, int rate, uint64_t got) {
    double exact = (double)from * kRate / rate;
    return (double)got >= exact - 2 && (double)got <= exact + 2;
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
        if (ok) abort();  // neither WAV nor MP3 by its first bytes or name
        return 0;
    }

    SDL_AudioSpec spec;
    Uint8* pcm = nullptr;
    Uint32 bytes = 0;
    if (!SDL_LoadWAV_RW(SDL_RWFromConstMem(data, (int)size), 1, &spec, &pcm, &bytes)) {
        // SDL allocates what a chunk announces: run with a cap on allocations
        // (see build.sh), under which this reference load may run out of
        // memory where the library, which cuts such chunks, does not.
        if (ok && strcmp(SDL_GetError(), "Out of memory") != 0) abort();
        return 0;
    }
    int frameBytes = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
    uint64_t inFrames = frameBytes > 0 ? bytes / frameBytes : 0;
    SDL_AudioCVT cvt;
    bool convertible = spec.channels >= 1 && spec.freq > 0 && bytes <= (Uint32)INT32_MAX / 16 &&
                       SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, AUDIO_S16SYS, 2, kRate) >= 0;
    if (!ok) {
        // Only a file SDL cannot convert, or one with (next to) no sound, fails.
        bool sound = spec.freq == kRate ? inFrames >= 1 : inFrames * kRate / (uint64_t)spec.freq >= 4;
        if (convertible && sound) abort();
        SDL_FreeWAV(pcm);
        return 0;
    }
    if (!convertible) abort();

    uint64_t outFrames = out.size() / 2;
    bool s16 = spec.format == AUDIO_S16SYS;
    if (spec.freq == kRate) {
        if (outFrames != inFrames) abort();
        if (s16 && spec.channels == 2 && memcmp(out.data(), pcm, out.size() * 2) != 0) abort();
        if (s16 && spec.channels == 1) {
            for (uint64_t i = 0; i < outFrames; i++) {
                int16_t v;
                memcpy(&v, pcm + i * 2, 2);
                if (out[i * 2] != out[i * 2 + 1] || abs(out[i * 2] - v) > 1) abort();
            }
        }
    } else if (!scaledCountFits(inFrames, spec.freq, outFrames)) {
        abort();
    }
    if (spec.channels == 1)
        for (uint64_t i = 0; i < outFrames; i++)
            if (out[i * 2] != out[i * 2 + 1]) abort();
    SDL_FreeWAV(pcm);
    return 0;
}
