// Inside the audio library: decoding a sound file to 16-bit stereo 44,100 Hz,
// whole or (MP3 at 44,100 Hz) on demand.
#pragma once
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The file name with '\' separators turned into '/'.
std::string bassNativePath(const char* file);
// Decodes a WAV or MP3 file into interleaved stereo samples; false (with one
// line on stderr naming the file) when it cannot be read or decoded.
bool bassDecodeFile(const char* file, std::vector<int16_t>& out);

// Bytes held in memory, read by libsndfile as a file (a WAV file read whole,
// its damaged chunk lengths already cut to what it holds).
struct BassMemoryFile {
    const uint8_t* data;
    int64_t size, at;
};
// libsndfile's reader over `file`; null (sf_strerror(nullptr) says why) when
// it is not a sound libsndfile can read.
SNDFILE* bassOpenWavMemory(BassMemoryFile& file, SF_INFO* info);

// An MP3 file decoded while it plays: the open file, the decoder and a short
// window of decoded frames. Frames are numbered in play order: a looping
// stream's frame `frames` is frame 0 again, decoded on without a gap.
struct BassMp3Reader;
struct BassMp3ReaderDelete {
    void operator()(BassMp3Reader* reader) const;
};
using BassMp3ReaderPtr = std::unique_ptr<BassMp3Reader, BassMp3ReaderDelete>;

// Decoded frames [first, end) of a reader, interleaved stereo at `frames`.
struct BassMp3Window {
    const int16_t* frames;
    int64_t first, end;
};

// A sound ready for the mixer: either every frame decoded (`pcm`) or a reader
// (`reader`, MP3 files whose decoded rate is 44,100 Hz). `frames` is the exact
// length either way (gapless). False, with one line on stderr naming the
// file, when the file cannot be read or decoded.
struct BassSound {
    std::vector<int16_t> pcm;
    BassMp3ReaderPtr reader;
    int64_t frames = 0;
};
bool bassOpenSound(const char* file, BassSound& out);

// The next window read starts decoding again at frame 0.
void bassMp3Rewind(BassMp3Reader& reader);
// A window holding at least frames `at` and `at + 1` (play order; `at` never
// goes back between rewinds). Past the end of a sound that does not loop, and
// after a decoding error (reported once on stderr), the frames are silence.
BassMp3Window bassMp3Read(BassMp3Reader& reader, int64_t at, bool loop);
