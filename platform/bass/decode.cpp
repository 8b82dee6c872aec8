// File decoding for the audio library: MP3 through libmpg123 (gapless, so
// sample 0 is the first sample of the encoded music), WAV through
// libsndfile, reading the file from memory. Every file ends up as
// interleaved 16-bit stereo at 44,100 Hz; a file at another rate goes
// through our resampler (resample.cpp).
//
// An MP3 whose decoded rate is 44,100 Hz (the show's music: two minutes
// would take 22 MB decoded) is not decoded whole: the stream keeps the open
// file and decodes a window of a few thousand frames ahead of the mixer.
#include "platform/bass/decode.h"
#include "platform/win/files.h"

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bass/resample.h"

namespace {

constexpr int kRate = 44100;
// Longest sound decoded whole (the jingle, or music at another rate): ten
// minutes, 106 MB decoded; what lies beyond is left out.
constexpr int64_t kMaxWholeSeconds = 600;

// What a file holds that is not what the show expects, gathered for one line.
void addFinding(std::string& found, const std::string& what) {
    if (!what.empty()) found += (found.empty() ? "" : "; ") + what;
}

std::string tooLong(double seconds) {
    char text[120];
    if (seconds < 0)
        snprintf(text, sizeof text, "sound longer than the %lld s a sound may have (the rest is left out)",
                 (long long)kMaxWholeSeconds);
    else
        snprintf(text, sizeof text, "%.0f s of sound, longer than the %lld s a sound may have (the rest is left out)",
                 seconds, (long long)kMaxWholeSeconds);
    return text;
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    size_t n = strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)s[s.size() - n + i]) != tolower((unsigned char)suffix[i])) return false;
    return true;
}

constexpr uint64_t kMaxSoundFileBytes = 256u << 20;

// The file to read, or null (reported) when it cannot be opened or is not a
// regular file.
FILE* openSoundFile(const std::string& path) {
    std::string why;
    FILE* f = openRegularFile(path.c_str(), &why);
    if (!f) fprintf(stderr, "%s: cannot open the file (%s)\n", path.c_str(), why.c_str());
    return f;
}

uint32_t readLe32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// Reads a WAV file into memory for libsndfile. Every chunk announced longer
// than the file is cut to what the file holds (and `cut` set), so that a
// damaged header announces no frames the file does not hold. False
// (reported) when the file cannot be read.
bool readWavFile(const std::string& path, std::vector<uint8_t>& bytes, bool* cut) {
    *cut = false;
    FILE* f = openSoundFile(path);
    if (!f) return false;
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    bool ok = size >= 0 && (uint64_t)size <= kMaxSoundFileBytes && fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize((size_t)size);
        ok = fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    fclose(f);
    if (!ok) {
        if (size >= 0 && (uint64_t)size > kMaxSoundFileBytes)
            fprintf(stderr, "%s: file is %ld bytes, more than the %llu a sound file may have\n", path.c_str(), size,
                    (unsigned long long)kMaxSoundFileBytes);
        else
            fprintf(stderr, "%s: cannot read the file\n", path.c_str());
        return false;
    }
    for (uint64_t at = 12; at + 8 <= bytes.size();) {
        uint64_t length = readLe32(&bytes[at + 4]), room = bytes.size() - at - 8;
        if (length > room) {
            *cut = true;
            for (int i = 0; i < 4; i++) bytes[at + 4 + i] = (uint8_t)(room >> (8 * i));
            break;
        }
        at += 8 + length + (length & 1);
    }
    return true;
}

sf_count_t memoryLength(void* file) { return static_cast<BassMemoryFile*>(file)->size; }

sf_count_t memorySeek(sf_count_t offset, int whence, void* file) {
    auto* m = static_cast<BassMemoryFile*>(file);
    sf_count_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : -1;
    if (from < 0 || (offset > 0 && offset > INT64_MAX - from) || from + offset < 0) return -1;
    m->at = from + offset;  // past the end reads nothing, as with a file
    return m->at;
}

sf_count_t memoryRead(void* to, sf_count_t count, void* file) {
    auto* m = static_cast<BassMemoryFile*>(file);
    sf_count_t n = m->at < m->size && count > 0 ? std::min(count, m->size - m->at) : 0;
    if (n > 0) memcpy(to, m->data + m->at, (size_t)n);
    m->at += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t memoryTell(void* file) { return static_cast<BassMemoryFile*>(file)->at; }

// Bits per sample of a WAV encoding, as the file holds them.
int encodedBits(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW: return 8;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 32;
        case SF_FORMAT_DOUBLE: return 64;
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_G721_32: return 4;
        case SF_FORMAT_G723_24: return 3;
        case SF_FORMAT_G723_40: return 5;
        default: return 16;  // 16-bit PCM; GSM 6.10 and MPEG decode to 16-bit
    }
}

bool decodeWav(const std::string& path, std::vector<int16_t>& out, std::string& found) {
    std::vector<uint8_t> file;
    bool cut = false;
    if (!readWavFile(path, file, &cut)) return false;
    BassMemoryFile memory{file.data(), (int64_t)file.size(), 0};
    SF_INFO info{};
    SNDFILE* sf = bassOpenWavMemory(memory, &info);
    if (!sf) {
        fprintf(stderr, "%s: not a readable WAV file (%s)\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    const int rate = info.samplerate, channels = info.channels, subtype = info.format & SF_FORMAT_SUBMASK;
    if (rate <= 0 || channels < 1) {  // libsndfile refuses these already
        sf_close(sf);
        fprintf(stderr, "%s: not a readable WAV file (no sample rate or no channels)\n", path.c_str());
        return false;
    }
    const sf_count_t most = (sf_count_t)kMaxWholeSeconds * rate;
    std::string cutOff;
    if (info.frames > most) cutOff = tooLong((double)info.frames / rate);

    // Read in blocks, not all the frames announced at once: for a compressed
    // encoding that count is only the header's claim.
    const sf_count_t blockFrames = std::max(65536 / channels, 1);
    const bool copy = subtype == SF_FORMAT_PCM_16 && channels == 2 && rate == kRate;
    out.clear();
    std::vector<float> stereo;
    if (copy) {
        for (sf_count_t got = 1; got > 0 && (sf_count_t)out.size() / 2 < most;) {
            size_t at = out.size();
            out.resize(at + (size_t)std::min(blockFrames, most - (sf_count_t)at / 2) * 2);
            got = sf_readf_short(sf, out.data() + at, (sf_count_t)(out.size() - at) / 2);
            out.resize(at + (size_t)std::max<sf_count_t>(got, 0) * 2);
        }
    } else {
        // Samples as floats, full scale at ±1. Stereo from the first two
        // channels (the front pair of a multichannel WAV); mono doubled.
        std::vector<float> block((size_t)(blockFrames * channels));
        for (sf_count_t got = 1; got > 0 && (sf_count_t)stereo.size() / 2 < most;) {
            got = sf_readf_float(sf, block.data(), std::min(blockFrames, most - (sf_count_t)stereo.size() / 2));
            for (sf_count_t i = 0; i < got; i++) {
                const float* frame = &block[(size_t)(i * channels)];
                stereo.push_back(frame[0]);
                stereo.push_back(frame[channels > 1 ? 1 : 0]);
            }
        }
    }
    sf_close(sf);
    if (!copy) {
        file = {};
        bassResample(stereo.data(), (int64_t)stereo.size() / 2, rate, kRate, out);
    }
    if (cut) addFinding(found, "the file is cut short, so it plays only what it holds");
    addFinding(found, cutOff);
    if (!copy) {
        char format[96];
        snprintf(format, sizeof format, "%d Hz %s %d-bit%s sound, converted to %d Hz stereo 16-bit", rate,
                 channels == 1 ? "mono" : channels == 2 ? "stereo" : "multichannel", encodedBits(subtype),
                 subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE ? " float" : "", kRate);
        addFinding(found, format);
    }
    return true;
}

// A decoder that gives every rate it knows as 16-bit stereo (mono doubled),
// gapless: the encoder delay and padding recorded in the LAME tag are cut, so
// decoded sample 0 is the first sample that was encoded. Quiet: errors are
// reported by the caller, once. Null (reported when `report`) on failure.
mpg123_handle* newMp3Decoder(const std::string& path, bool report) {
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
        if (report) fprintf(stderr, "%s: cannot start the MP3 decoder (%s)\n", path.c_str(), mpg123_plain_strerror(err));
        return nullptr;
    }
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
    return mh;
}

bool decodeMp3(const std::string& path, std::vector<int16_t>& out, std::string& found) {
    mpg123_handle* mh = newMp3Decoder(path, true);
    if (!mh) return false;
    int err = MPG123_OK;
    bool ok = false;
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        fprintf(stderr, "%s: cannot open the MP3 file (%s)\n", path.c_str(), mpg123_strerror(mh));
        mpg123_delete(mh);
        return false;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    std::vector<int16_t> pcm;
    off_t length = mpg123_length(mh);  // frames after gapless trimming, as the header announces them
    if (length > 0) pcm.reserve((size_t)std::min<int64_t>(length, kMaxWholeSeconds * kRate) * 2);
    unsigned char buffer[16384];
    for (;;) {
        if (rate > 0 && (int64_t)pcm.size() >= kMaxWholeSeconds * rate * 2) {
            addFinding(found, tooLong(-1));
            ok = true;
            break;
        }
        size_t done = 0;
        err = mpg123_read(mh, buffer, sizeof buffer, &done);
        if (err == MPG123_NEW_FORMAT) {
            long was = rate;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (was > 0 && rate != was) {
                // Samples of one rate only: the rest, at another, is left out.
                addFinding(found, "its sample rate changes midway (the rest is left out)");
                rate = was;
                ok = true;
                break;
            }
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
    bassResample(pcm.data(), (int64_t)pcm.size() / 2, (int)rate, kRate, out);
    return true;
}

enum class Kind { None, Wav, Mp3 };

// The format is told by the file's first bytes, not its name; None (reported)
// when the file cannot be opened or is neither.
Kind sniff(const std::string& path) {
    if (path.empty()) {
        fprintf(stderr, "(no file name): cannot open the sound file\n");
        return Kind::None;
    }
    FILE* f = openSoundFile(path);
    if (!f) return Kind::None;
    unsigned char head[12] = {};
    size_t got = fread(head, 1, sizeof head, f);
    fclose(f);
    if (got >= 12 && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "WAVE", 4) == 0) return Kind::Wav;
    if (got >= 3 && (memcmp(head, "ID3", 3) == 0 || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0))) return Kind::Mp3;
    if (endsWithNoCase(path, ".mp3")) return Kind::Mp3;
    fprintf(stderr, "%s: not a WAV or MP3 file\n", path.c_str());
    return Kind::None;
}

bool decodeWhole(const std::string& path, Kind kind, std::vector<int16_t>& out, std::string& found) {
    bool ok = kind == Kind::Wav ? decodeWav(path, out, found) : kind == Kind::Mp3 && decodeMp3(path, out, found);
    if (ok && out.size() < 2) {
        fprintf(stderr, "%s: the file holds no sound\n", path.c_str());
        ok = false;
    }
    if (!ok) out.clear();
    return ok;
}

constexpr int kWindowFrames = 4096;
constexpr int kMaxIdleReads = 64;  // reads that give nothing before the decoder counts as stuck

}  // namespace

struct BassMp3Reader {
    mpg123_handle* mh = nullptr;
    std::string path;
    int64_t frames = 0;       // exact length after gapless trimming
    int64_t passDone = 0;     // frames of the current pass taken from the decoder
    bool seekToStart = true;  // the next decode starts at frame 0
    bool failed = false;      // reported; silence from here on
    std::vector<int16_t> window = std::vector<int16_t>((size_t)kWindowFrames * 2);
    int64_t first = 0;  // play-order number of window frame 0
    int count = 0;      // frames in the window
};

void BassMp3ReaderDelete::operator()(BassMp3Reader* r) const {
    if (!r) return;
    if (r->mh) {
        mpg123_close(r->mh);
        mpg123_delete(r->mh);
    }
    delete r;
}

namespace {

// Opens an MP3 for decoding on demand when its decoded format is 16-bit
// stereo at 44,100 Hz and its exact length is known: the scan reads every
// frame header (no decoding), after which the gapless length is exact. Null,
// silently, otherwise: the caller decodes the file whole and reports.
BassMp3ReaderPtr openMp3Reader(const std::string& path) {
    mpg123_handle* mh = newMp3Decoder(path, false);
    if (!mh) return nullptr;
    BassMp3ReaderPtr r(new BassMp3Reader);
    r->mh = mh;
    r->path = path;
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        mpg123_delete(mh);
        r->mh = nullptr;
        return nullptr;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_scan(mh) != MPG123_OK || mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK ||
        rate != kRate || channels != 2 || encoding != MPG123_ENC_SIGNED_16)
        return nullptr;
    off_t length = mpg123_length(mh);
    if (length <= 0) return nullptr;
    r->frames = (int64_t)length;
    return r;
}

void fail(BassMp3Reader& r, const char* why) {
    if (r.failed) return;
    r.failed = true;
    fprintf(stderr, "%s: cannot decode the MP3 file (%s)\n", r.path.c_str(), why);
}

// Writes the next `n` frames in play order to `dst`.
void decodeInto(BassMp3Reader& r, int16_t* dst, int64_t n, bool loop) {
    int idle = 0;
    while (n > 0) {
        if (!r.failed && r.passDone >= r.frames && loop) r.seekToStart = true;
        if (r.failed || (r.passDone >= r.frames && !r.seekToStart)) {
            memset(dst, 0, (size_t)n * 4);
            return;
        }
        if (r.seekToStart) {
            r.seekToStart = false;
            r.passDone = 0;
            // Reopened rather than sought back: a seek keeps some of the
            // synthesis state of the pass before, and on some processors
            // (ARM's) that changes the next pass in its last bits.
            mpg123_close(r.mh);
            if (mpg123_open(r.mh, r.path.c_str()) != MPG123_OK) {
                fail(r, mpg123_strerror(r.mh));
                continue;
            }
        }
        int64_t want = std::min(n, r.frames - r.passDone);
        size_t done = 0;
        int err = mpg123_read(r.mh, dst, (size_t)want * 4, &done);
        if (done % 4 != 0 || done > (size_t)want * 4) {
            fail(r, "a partial frame");
            continue;
        }
        int64_t got = (int64_t)(done / 4);
        dst += got * 2;
        n -= got;
        r.passDone += got;
        if (err == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(r.mh, &rate, &channels, &encoding);
            if (rate != kRate || channels != 2 || encoding != MPG123_ENC_SIGNED_16) fail(r, "its format changes");
        } else if (err == MPG123_DONE) {
            if (r.passDone < r.frames) fail(r, "it ends before its length");
        } else if (err != MPG123_OK) {
            fail(r, mpg123_strerror(r.mh));
        }
        if (got > 0)
            idle = 0;
        else if (++idle > kMaxIdleReads)
            fail(r, "the decoder makes no progress");
    }
}

}  // namespace

namespace {

// What an MP3 file holds that is not what the show expects: a file cut short
// of the frames its header announces, another rate, one channel. Empty when
// all is as expected or the file cannot be read (reported elsewhere).
std::string mp3Findings(const std::string& path) {
    mpg123_handle* mh = newMp3Decoder(path, false);
    if (!mh) return "";
    std::string found;
    if (mpg123_open(mh, path.c_str()) == MPG123_OK) {
        off_t announced = mpg123_framelength(mh);  // from the Xing/Info header, or estimated
        mpg123_frameinfo info;
        bool known = mpg123_scan(mh) == MPG123_OK && mpg123_info(mh, &info) == MPG123_OK;
        off_t held = mpg123_framelength(mh);
        char text[160];
        if (known && announced > 0 && held >= 0 && announced > held + held / 100 + 1) {
            snprintf(text, sizeof text, "cut short: it holds %ld of the %ld MP3 frames its header announces",
                     (long)held, (long)announced);
            found = text;
        }
        if (known && (info.rate != kRate || info.mode == MPG123_M_MONO)) {
            snprintf(text, sizeof text, "%ld Hz %s sound, converted to %d Hz stereo", info.rate,
                     info.mode == MPG123_M_MONO ? "mono" : "stereo", kRate);
            found += (found.empty() ? "" : "; ") + std::string(text);
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    return found;
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
    Kind kind = sniff(path);
    std::string found;
    if (kind == Kind::None || !decodeWhole(path, kind, out, found)) return false;
    if (kind == Kind::Mp3) addFinding(found, mp3Findings(path));
    if (!found.empty()) fprintf(stderr, "%s: %s\n", path.c_str(), found.c_str());
    return true;
}

bool bassOpenSound(const char* file, BassSound& out) {
    out.pcm.clear();
    out.reader.reset();
    out.frames = 0;
    std::string path = bassNativePath(file);
    Kind kind = sniff(path);
    if (kind == Kind::None) return false;
    std::string found;
    if (kind == Kind::Mp3) out.reader = openMp3Reader(path);
    if (out.reader) {
        out.frames = out.reader->frames;
    } else {
        if (!decodeWhole(path, kind, out.pcm, found)) return false;
        out.frames = (int64_t)(out.pcm.size() / 2);
    }
    if (kind == Kind::Mp3) addFinding(found, mp3Findings(path));
    if (!found.empty()) fprintf(stderr, "%s: %s\n", path.c_str(), found.c_str());
    return true;
}

void bassMp3Rewind(BassMp3Reader& r) {
    r.seekToStart = true;
    r.first = 0;
    r.count = 0;
}

BassMp3Window bassMp3Read(BassMp3Reader& r, int64_t at, bool loop) {
    if (at < r.first) {  // never happens between rewinds; start over rather than read wrong frames
        bassMp3Rewind(r);
    }
    int64_t end = r.first + r.count;
    if (at + 1 >= end) {
        // Keep the frames from `at` on, move them to the front and decode on.
        int64_t keep = std::max<int64_t>(end - at, 0);
        if (keep > 0) memmove(r.window.data(), r.window.data() + (at - r.first) * 2, (size_t)keep * 4);
        for (int64_t skip = at - end; skip > 0;) {  // frames passed over unread
            int64_t n = std::min<int64_t>(skip, kWindowFrames);
            decodeInto(r, r.window.data(), n, loop);
            skip -= n;
        }
        decodeInto(r, r.window.data() + keep * 2, kWindowFrames - keep, loop);
        r.first = at;
        r.count = kWindowFrames;
    }
    return {r.window.data(), r.first, r.first + r.count};
}

SNDFILE* bassOpenWavMemory(BassMemoryFile& file, SF_INFO* info) {
    static SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    return sf_open_virtual(&io, SFM_READ, info, &file);
}
