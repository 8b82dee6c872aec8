// libFuzzer target for the audio library's MP3 path (libmpg123): the sound
// opened with bassOpenSound and, when it opens as a stream, read window by
// window in play order; the same file decoded whole by bassDecodeFile is the
// reference.
//
// Input: byte 0 holds flags, bytes 1 to 8 the read plan, the rest is the file.
//   flags bit 0: the stream loops
//   flags bit 1: the file is opened under a name ending in ".mp3" (so that a
//                file that does not start like an MP3 is tried as one)
// Each plan byte moves the play position on; the plan is used over and over
// for kReads reads:
//   00xxxxxx  on by x frames (0: the same frame again)
//   01xxxxxx  on by about a window, 4088 + x % 16 frames
//   10xxxxxx  on by x * 997 frames (several windows passed over unread)
//   110xxxxx  on to x frames before the end of the current pass
//   111xxxxx  rewind: back to frame 0
//
// Checks: every window holds the frames asked for, its frames can all be
// read (the sanitizer catches a window pointing past its buffer), and frames
// past the end of a sound that does not loop are silent. A sound decoded
// whole has an even sample count and both entry points agree on it.
//
// The windows must hold the whole decode's samples, frame i of a looping
// stream being frame i % length, when the whole decode has exactly the
// stream's length and libmpg123 itself decodes the file the same after a
// seek to frame 0 from the end and from seven points on the way (the stream
// restarts that way at each loop and rewind; on damaged data the decoder's
// state carried over a seek changes the samples). After a restart, samples
// may differ from the reference by kRestartSlack: a seek from elsewhere can
// still change the rounding of a sample, while a frame out of place differs
// by far more.
// A stream that fails goes silent: from the first frame that differs and is
// silent on, every frame must be silent.
#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/bass/decode.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

constexpr size_t kHead = 9;
constexpr int kReads = 40;
constexpr int kRestartSlack = 4;

// Reads on until the end (or a read error, or `limit` samples), appending to
// `out`; true when the end was reached.
bool readOn(mpg123_handle* mh, std::vector<int16_t>& out, size_t limit = SIZE_MAX) {
    int16_t buffer[4096];
    while (out.size() < limit) {
        size_t done = 0;
        size_t want = std::min(sizeof buffer, (limit - out.size()) * 2);
        int err = mpg123_read(mh, buffer, want, &done);
        out.insert(out.end(), buffer, buffer + done / 2);
        if (err == MPG123_DONE) return true;
        if (err != MPG123_OK && err != MPG123_NEW_FORMAT) return false;
        if (done == 0 && err == MPG123_OK) return false;
    }
    return false;
}

// Whether libmpg123, set up as the audio library sets it up (gapless, 16-bit
// stereo at every rate), gives `whole` decoding fresh, and again after a scan
// and a seek to frame 0 from the end and from each eighth of the way.
bool decodesSameAfterSeek(const char* path, const std::vector<int16_t>& whole) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    if (!mh) return false;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
    bool same = false;
    if (mpg123_open(mh, path) == MPG123_OK) {
        std::vector<int16_t> fresh, again;
        same = readOn(mh, fresh) && fresh == whole && mpg123_scan(mh) == MPG123_OK;
        for (int eighth = 8; same && eighth >= 1; eighth--) {
            again.clear();
            same = mpg123_seek(mh, 0, SEEK_SET) == 0 && readOn(mh, again) && again == fresh;
            if (same && eighth > 1) {  // then read part of the way and start over from there
                again.clear();
                same = mpg123_seek(mh, 0, SEEK_SET) == 0;
                readOn(mh, again, fresh.size() / 8 * (eighth - 1) + 2);
            }
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    return same;
}

bool silent(const int16_t* frame) { return frame[0] == 0 && frame[1] == 0; }

bool near(const int16_t* a, const int16_t* b, int slack) {
    return abs(a[0] - b[0]) <= slack && abs(a[1] - b[1]) <= slack;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzFile file("fuzz.mp3");
    if (size < kHead) return 0;
    bool loop = data[0] & 1;
    const char* path = data[0] & 2 ? file.mp3Path() : file.path();
    const uint8_t* plan = data + 1;
    file.write(data + kHead, size - kHead);

    std::vector<int16_t> whole;
    bool decoded = bassDecodeFile(path, whole);
    if (decoded ? whole.size() < 2 || whole.size() % 2 != 0 : !whole.empty()) abort();

    BassSound sound;
    sound.frames = -1;
    if (!bassOpenSound(path, sound)) {
        if (decoded || sound.frames != 0 || !sound.pcm.empty() || sound.reader) abort();
        return 0;
    }
    if (sound.frames < 1) abort();
    if (!sound.reader) {
        if (!decoded || sound.pcm != whole || (int64_t)sound.pcm.size() != sound.frames * 2) abort();
        return 0;
    }
    if (!sound.pcm.empty()) abort();

    const int64_t frames = sound.frames;
    const bool exact =
        decoded && (int64_t)whole.size() == frames * 2 && decodesSameAfterSeek(path, whole);
    int64_t silentFrom = -1;  // play position from which a failed stream is silent
    bool rewound = false;
    int64_t at = 0;
    for (int n = 0; n < kReads; n++) {
        BassMp3Window w = bassMp3Read(*sound.reader, at, loop);
        if (!w.frames || w.first > at || w.end < at + 2) abort();
        for (int64_t i = w.first; i < w.end; i++) {
            const int16_t* got = w.frames + (i - w.first) * 2;
            if (!loop && i >= frames) {
                if (!silent(got)) abort();
            } else if (silentFrom >= 0 && i >= silentFrom) {
                if (!silent(got)) abort();
            } else if (exact) {
                const int16_t* expected = whole.data() + (loop ? i % frames : i) * 2;
                int slack = rewound || i >= frames ? kRestartSlack : 0;
                if (!near(got, expected, slack)) {
                    if (!silent(got)) abort();
                    silentFrom = i;
                }
            }
        }

        uint8_t step = plan[n % 8];
        switch (step >> 6) {
            case 0: at += step & 63; break;
            case 1: at += 4088 + (step & 15); break;
            case 2: at += (int64_t)(step & 63) * 997; break;
            default:
                if (step & 0x20) {
                    bassMp3Rewind(*sound.reader);
                    rewound = true;
                    at = 0;
                    if (silentFrom >= 0) silentFrom = 0;  // a failure lasts
                } else {
                    int64_t target = (at / frames + 1) * frames - (step & 31);
                    if (target > at) at = target;
                }
                break;
        }
    }
    return 0;
}
