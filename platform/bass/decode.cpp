// File decoding for the audio library: MP3 through libmpg123 (gapless, so
// sample 0 is the first sample of the encoded music), WAV through SDL's
// loader. Every file ends up as interleaved 16-bit stereo at 44,100 Hz; a
// file at another rate is converted with SDL's audio stream.
#include "platform/bass/decode.h"

#include <SDL.h>
#include <mpg123.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kRate = 44100;

bool endsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)s[s.size() - n + i]) != tolower((unsigned char)suffix[i])) return false;
    return true;
}

// Converts interleaved audio of any SDL format to S16 stereo 44,100 Hz.
bool convertToOutput(SDL_AudioFormat format, int channels, int rate, const uint8_t* data, size_t bytes,
                     std::vector<int16_t>& out, const std::string& path) {
    if (format == AUDIO_S16SYS && channels == 2 && rate == kRate) {
        out.resize(bytes / 2 & ~(size_t)1);
        memcpy(out.data(), data, out.size() * 2);
        return true;
    }
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, format, (Uint8)channels, rate, AUDIO_S16SYS, 2, kRate) < 0 || bytes > (size_t)INT32_MAX / 16) {
        fprintf(stderr, "%s: cannot convert the sound (%s)\n", path.c_str(), SDL_GetError());
        return false;
    }
    size_t frameBytes = (size_t)SDL_AUDIO_BITSIZE(format) / 8 * channels;
    cvt.len = (int)(bytes / frameBytes * frameBytes);
    std::vector<uint8_t> work((size_t)cvt.len * cvt.len_mult + 16);
    memcpy(work.data(), data, (size_t)cvt.len);
    cvt.buf = work.data();
    if (SDL_ConvertAudio(&cvt) < 0) {
        fprintf(stderr, "%s: cannot convert the sound (%s)\n", path.c_str(), SDL_GetError());
        return false;
    }
    out.resize((size_t)cvt.len_cvt / 4 * 2);
    memcpy(out.data(), work.data(), out.size() * 2);
    return true;
}

bool decodeWav(const std::string& path, std::vector<int16_t>& out) {
    SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb");
    if (!rw) {
        fprintf(stderr, "%s: cannot open the file\n", path.c_str());
        return false;
    }
    SDL_AudioSpec spec;
    Uint8* data = nullptr;
    Uint32 bytes = 0;
    if (!SDL_LoadWAV_RW(rw, 1, &spec, &data, &bytes)) {
        fprintf(stderr, "%s: not a readable WAV file (%s)\n", path.c_str(), SDL_GetError());
        return false;
    }
    bool ok = spec.channels >= 1 && spec.freq > 0 &&
              convertToOutput(spec.format, spec.channels, spec.freq, data, bytes, out, path);
    SDL_FreeWAV(data);
    return ok;
}

bool decodeMp3(const std::string& path, std::vector<int16_t>& out) {
    static const bool initialised = [] {
#if MPG123_API_VERSION < 46
        mpg123_init();
#endif
        return true;
    }();
    (void)initialised;
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) {
        fprintf(stderr, "%s: cannot start the MP3 decoder (%s)\n", path.c_str(), mpg123_plain_strerror(err));
        return false;
    }
    // Gapless: the encoder delay and padding recorded in the LAME tag are cut,
    // so decoded sample 0 is the first sample that was encoded. Quiet: errors
    // are reported here, once.
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    // Every rate the decoder knows, always as 16-bit stereo (mono doubled).
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    bool ok = false;
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        fprintf(stderr, "%s: cannot open the MP3 file (%s)\n", path.c_str(), mpg123_strerror(mh));
        mpg123_delete(mh);
        return false;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    std::vector<int16_t> pcm;
    off_t length = mpg123_length(mh);  // frames after gapless trimming, when known
    if (length > 0) pcm.reserve((size_t)length * 2);
    unsigned char buffer[16384];
    for (;;) {
        size_t done = 0;
        err = mpg123_read(mh, buffer, sizeof buffer, &done);
        if (err == MPG123_NEW_FORMAT) {
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (rate <= 0 || channels != 2 || encoding != MPG123_ENC_SIGNED_16) break;
        }
        if (done) {
            size_t n = done / 2;
            size_t old = pcm.size();
            pcm.resize(old + n);
            memcpy(pcm.data() + old, buffer, n * 2);
        }
        if (err == MPG123_DONE) {
            ok = true;
            break;
        }
        if (err != MPG123_OK && err != MPG123_NEW_FORMAT) break;
    }
    if (!ok) fprintf(stderr, "%s: cannot decode the MP3 file (%s)\n", path.c_str(), mpg123_strerror(mh));
    mpg123_close(mh);
    mpg123_delete(mh);
    if (ok && pcm.size() < 2) {
        fprintf(stderr, "%s: the MP3 file holds no sound\n", path.c_str());
        ok = false;
    }
    if (!ok) return false;
    pcm.resize(pcm.size() & ~(size_t)1);
    if (rate == kRate) {
        out = std::move(pcm);
        return true;
    }
    return convertToOutput(AUDIO_S16SYS, 2, (int)rate, (const uint8_t*)pcm.data(), pcm.size() * 2, out, path);
}

}  // namespace

std::string bassNativePath(const char* file) {
    std::string path = file ? file : "";
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool bassDecodeFile(const char* file, std::vector<int16_t>& out) {
    out.clear();
    std::string path = bassNativePath(file);
    if (path.empty()) {
        fprintf(stderr, "(no file name): cannot open the sound file\n");
        return false;
    }
    // The format is told by the file's first bytes, not its name.
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        fprintf(stderr, "%s: cannot open the file\n", path.c_str());
        return false;
    }
    unsigned char head[12] = {};
    size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    bool ok;
    if (got >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0)
        ok = decodeWav(path, out);
    else if (got >= 3 && (memcmp(head, "ID3", 3) == 0 || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)))
        ok = decodeMp3(path, out);
    else if (endsWithNoCase(path, ".mp3"))
        ok = decodeMp3(path, out);
    else {
        fprintf(stderr, "%s: not a WAV or MP3 file\n", path.c_str());
        ok = false;
    }
    if (ok && out.size() < 2) {
        fprintf(stderr, "%s: the file holds no sound\n", path.c_str());
        ok = false;
    }
    if (!ok) out.clear();
    return ok;
}
