// Our audio library on the headless output, which is pulled in virtual time:
// opening, decoding, looping, the position, rate, volumes and the fade-out,
// checked through what the output plays (the audio sink).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sndfile.h>
#include <unistd.h>

#include "audio_files.h"
#include "stderr_lines.h"
#include "platform/bass/bass.h"
#include "platform/bass/decode.h"
#include "platform/virtual/virtual.h"
#include "platform/win/win.h"

using namespace audiotest;

namespace {

std::vector<int16_t> g_heard;  // everything the output played, from time 0

bool init() { return BASS_Init(-1, 44100, 16, nullptr); }

// Frame index of the output that is heard now.
size_t heardNow() { return Sleep(0), g_heard.size() / 2; }

int peak(size_t fromFrame, size_t toFrame, int channel = -1) {
    int p = 0;
    for (size_t i = fromFrame * 2; i < toFrame * 2 && i < g_heard.size(); i++)
        if (channel < 0 || (int)(i % 2) == channel) p = std::max(p, std::abs((int)g_heard[i]));
    return p;
}

int largestStep(size_t fromFrame, size_t toFrame) {
    int d = 0;
    for (size_t i = std::max<size_t>(fromFrame, 1); i < toFrame && i * 2 + 1 < g_heard.size(); i++)
        d = std::max(d, std::abs(g_heard[i * 2] - g_heard[(i - 1) * 2]));
    return d;
}

// The largest step of a 441 Hz sine, with slack for the interpolation.
int sineStep(int amplitude) { return (int)(amplitude * 2 * M_PI * 441 / 44100) + 40; }

// The output closed at frame `end` while -30000 played: it fell to silence
// within 5 ms, by at most 1% of full scale from one frame to the next.
bool fadedOut(size_t end) {
    return g_heard.size() / 2 >= end + 220 && g_heard[end * 2 - 2] == -30000 && largestStep(end, end + 220) <= 328 &&
           peak(end + 219, g_heard.size() / 2) == 0;
}

// Stereo frames that each differ from their neighbours (a sine under a slow
// ramp), with a click at frame 1000.
constexpr int kClick = 1000;
std::vector<int16_t> varied(int frames) {
    std::vector<int16_t> s = sine(frames, 440, 44100, 9000);
    for (int i = 0; i < frames; i++) {
        s[i * 2] = (int16_t)(i == kClick ? 32000 : s[i * 2] + (i * 7 % 12000) - 6000);
        s[i * 2 + 1] = (int16_t)(s[i * 2 + 1] / 2 + 3000);
    }
    return s;
}

class Bass : public ::testing::Test {
protected:
    void SetUp() override {
        BASS_Free();
        g_heard.clear();
        vtSetAudioSink([](const int16_t* frames, int n) { g_heard.insert(g_heard.end(), frames, frames + n * 2); });
        dir = tempDir();
    }
    void TearDown() override {
        BASS_Free();
        vtSetAudioSink(nullptr);
    }
    // An MP3 at 44,100 Hz of `frames` varied frames: not a multiple of the
    // MP3's 1152-sample frames, so that a loop seam falls inside one.
    std::string mp3(const std::string& name, int frames, bool tag = true) {
        EXPECT_TRUE(writeMp3(dir + "/" + name, 44100, 2, varied(frames), tag));
        return dir + "/" + name;
    }
    std::string wav(const std::string& name, const std::vector<int16_t>& frames, int rate = 44100, int channels = 2,
                    int bits = 16) {
        EXPECT_TRUE(writeWav(dir + "/" + name, rate, channels, bits, frames));
        return dir + "/" + name;
    }
    // A stream of the file, playing.
    static HSTREAM play(const std::string& path, DWORD flags = BASS_SAMPLE_LOOP) {
        HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
        EXPECT_TRUE(BASS_StreamPlay(h, 0, flags)) << path;
        return h;
    }
    std::string dir;
};

}  // namespace

// The library opens once until it is freed, which releases its streams for
// good. Calls are traced with their arguments and result, but not the
// position, which the show's poller asks for every millisecond.
TEST_F(Bass, InitOpensOnceUntilFreeWhichReleasesTheStreamsForGoodAndCallsAreTraced) {
    std::string path = wav("a.wav", sine(4410, 441, 44100, 8000)), trace = dir + "/trace.txt";
    vtSetTraceFile(trace);
    EXPECT_EQ(BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0), 0u);  // not initialised
    ASSERT_TRUE(init());
    EXPECT_FALSE(init());
    EXPECT_EQ(BASS_StreamCreateFile(0, nullptr, 0, 0, 0), 0u);
    HSTREAM first = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    ASSERT_NE(first, 0u);
    Sleep(100);
    EXPECT_EQ(BASS_ChannelGetPosition(first), 0u);  // not playing yet

    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ChannelGetPosition(first), 0xFFFFFFFFu);
    ASSERT_TRUE(init());
    HSTREAM second = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    EXPECT_TRUE(second != 0 && second != first) << second;  // a handle is never given out again
    vtSetTraceFile("");
    std::string text{std::istreambuf_iterator<char>(std::ifstream(trace).rdbuf()), {}};
    EXPECT_TRUE(contains(text, "BASS_StreamCreateFile(0, \"" + path + "\", 0, 0, 0) = " + std::to_string(first))) << text;
    EXPECT_FALSE(contains(text, "GetPosition")) << text;
}

// A sound file that plays but is not what the show expects says what was
// found, in one line naming the file; one that cannot play says why. What
// plays: the whole frames a cut file holds, ten minutes at most, converted to
// stereo at 44,100 Hz.
TEST_F(Bass, FilesNotAsExpectedSayWhatWasFoundInOneLine) {
    ASSERT_TRUE(init());
    std::string cutWav = wav("cutdata.wav", sine(44100, 441, 44100, 8000));
    std::filesystem::resize_file(cutWav, 44 + 40000 + 2);  // inside its data, mid-frame
    std::string cutHeader = wav("cuthead.wav", sine(100, 441, 44100, 8000));
    std::filesystem::resize_file(cutHeader, 40);  // inside its data chunk's header
    std::string cutMp3 = mp3("cut.mp3", 44100 * 4);
    std::filesystem::resize_file(cutMp3, std::filesystem::file_size(cutMp3) / 2);
    std::ofstream(dir + "/junk.mp3") << "this is not a sound file at all, not even a short one";
    std::vector<int16_t> mono(22050);  // a second of 200 Hz
    for (int i = 0; i < 22050; i++) mono[i] = (int16_t)(20000 * std::sin(2 * M_PI * 200 * i / 22050));
    ASSERT_TRUE(writeMp3(dir + "/low.mp3", 22050, 1, mono));
    ASSERT_EQ(mkfifo((dir + "/fifo.mp3").c_str(), 0600), 0);
    std::filesystem::create_directory(dir + "/folder.wav");
    const struct {
        std::string path;
        DWORD length, slack;            // bytes that play, give or take `slack`; 0: it does not play
        std::vector<const char*> says;  // empty: nothing to say
    } cases[] = {
        {wav("fine.wav", sine(4410, 441, 44100, 8000)), 4410 * 4, 0, {}},
        {mp3("fine.mp3", 44100), 44100 * 4, 0, {}},
        {dir + "/missing.wav", 0, 0, {"cannot open", "No such file"}},
        {dir + "/junk.mp3", 0, 0, {"holds no sound"}},
        {cutHeader, 0, 0, {"not a readable WAV file"}},
        {cutWav, 40000, 0, {"cut short"}},
        {wav("m.wav", mono, 22050, 1, 8), 44100 * 4, 256, {"22050 Hz mono 8-bit", "converted"}},
        {cutMp3, 44100 * 2 * 4, 1152 * 2 * 4, {"cut short", "frames"}},  // about half, to two MP3 frames
        {dir + "/low.mp3", 44100 * 4, 256, {"22050 Hz mono", "converted"}},
        // Over ten minutes (at a low rate, to keep the file small).
        {wav("long.wav", std::vector<int16_t>(1000 * 601, 0), 1000, 1, 8), 600u * 44100 * 4, 0, {"601 s of sound", "left out"}},
        // Not files: a FIFO nobody writes to (an ordinary open would wait for ever), a folder.
        {dir + "/fifo.mp3", 0, 0, {"not a regular file"}},
        {dir + "/folder.wav", 0, 0, {"not a regular file"}},
    };
    for (const auto& c : cases) {
        HSTREAM h = 0;
        auto lines = stderrLines([&] { h = BASS_StreamCreateFile(0, c.path.c_str(), 0, 0, 0); });
        ASSERT_EQ(lines.size(), c.says.empty() ? 0u : 1u) << c.path << (lines.empty() ? "" : ": " + lines[0]);
        for (const char* part : c.says)
            EXPECT_TRUE(contains(lines[0], c.path + ": ") && contains(lines[0], part)) << lines[0];
        EXPECT_NEAR(h ? BASS_StreamGetLength(h) : 0, c.length, c.slack) << c.path;
    }
    // Converted sounds play as loud as they were.
    for (std::string converted : {dir + "/m.wav", dir + "/low.mp3"}) {
        std::vector<int16_t> pcm;
        ASSERT_TRUE(bassDecodeFile(converted.c_str(), pcm));
        EXPECT_GT(*std::max_element(pcm.begin(), pcm.end()), 15000) << converted;
    }
}

// Amplitude of the `hz` component of one channel of 44,100 Hz stereo, over
// the middle half of the sound (away from its ends), Hann-windowed (Goertzel).
double amplitudeAt(const std::vector<int16_t>& pcm, int channel, double hz) {
    size_t from = pcm.size() / 8, n = pcm.size() / 4;
    double c = 2 * std::cos(2 * M_PI * hz / 44100), s1 = 0, s2 = 0, gain = 0;
    for (size_t i = 0; i < n; i++) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * (double)i / (double)n);
        double s = w * pcm[(from + i) * 2 + channel] + c * s1 - s2;
        s2 = s1, s1 = s, gain += w;
    }
    return 2 * std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2) / gain;
}

// Sounds at other rates are resampled through a band-limited kernel: a tone
// keeps its level (within 0.5 dB) and so its pitch (the level is measured at
// exactly its frequency), and what lies above the lower rate's Nyquist
// frequency (the images of upsampling, a tone that downsampling would fold
// back) is at least 60 dB down.
TEST_F(Bass, ResamplingKeepsATonesLevelAndLeavesNoImageOrAlias) {
    auto near = [](double level, double expected) { return std::fabs(20 * std::log10(level / expected)) < 0.5; };
    std::vector<int16_t> mono(22050), pcm;  // a second of 1 kHz
    for (int i = 0; i < 22050; i++) mono[i] = (int16_t)std::lrint(16000 * std::sin(2 * M_PI * 1000 * i / 22050));
    ASSERT_TRUE(bassDecodeFile(wav("up.wav", mono, 22050, 1).c_str(), pcm));
    ASSERT_EQ(pcm.size(), 44100u * 2);
    for (size_t i = 0; i < pcm.size(); i += 2) ASSERT_EQ(pcm[i], pcm[i + 1]) << "frame " << i / 2;
    EXPECT_TRUE(near(amplitudeAt(pcm, 0, 1000), 16000)) << amplitudeAt(pcm, 0, 1000);
    for (double hz = 11025; hz <= 22050; hz += 25)  // the first image at 21,050 Hz among them
        EXPECT_LT(amplitudeAt(pcm, 0, hz), 16) << hz << " Hz";

    // 1 kHz and 23 kHz at 48,000 Hz: the second would sound at 21.1 kHz.
    std::vector<int16_t> both(48000 * 2);
    for (int i = 0; i < 48000; i++)
        both[i * 2 + 1] = (int16_t)-(both[i * 2] = (int16_t)std::lrint(12000 * std::sin(2 * M_PI * 1000 * i / 48000) +
                                                                       8000 * std::sin(2 * M_PI * 23000 * i / 48000)));
    ASSERT_TRUE(bassDecodeFile(wav("down.wav", both, 48000).c_str(), pcm));
    ASSERT_EQ(pcm.size(), 44100u * 2);
    for (int channel : {0, 1}) {
        EXPECT_TRUE(near(amplitudeAt(pcm, channel, 1000), 12000)) << amplitudeAt(pcm, channel, 1000);
        EXPECT_LT(amplitudeAt(pcm, channel, 44100 - 23000), 12) << channel;
    }
}

// WAV encodings other than 16-bit stereo are read as samples at full scale
// (float data scaled, not truncated), mono doubled, and of more channels the
// first two; at 44,100 Hz these come out exactly, with one line saying what
// the file held.
TEST_F(Bass, WavEncodingsDecodeToTheirSamples) {
    const struct {
        int format, channels;
        const char* says;
    } cases[] = {
        {SF_FORMAT_FLOAT, 2, "44100 Hz stereo 32-bit float sound, converted"},
        {SF_FORMAT_PCM_24, 4, "44100 Hz multichannel 24-bit sound, converted"},
        {SF_FORMAT_PCM_16, 1, "44100 Hz mono 16-bit sound, converted"},
    };
    const int frames = 5000;
    std::vector<int16_t> values = varied(frames * 2);  // up to four channels
    for (const auto& c : cases) {
        std::string path = dir + "/enc" + std::to_string(c.format) + ".wav";
        SF_INFO info{};
        info.samplerate = 44100, info.channels = c.channels, info.format = SF_FORMAT_WAV | c.format;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(f) << sf_strerror(nullptr);
        sf_command(f, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);  // ints at full scale into float data
        std::vector<int> samples((size_t)frames * c.channels);  // 16-bit values in the upper bits: exact in each
        for (size_t i = 0; i < samples.size(); i++) samples[i] = values[i] * 65536;
        ASSERT_EQ(sf_writef_int(f, samples.data(), frames), frames);
        sf_close(f);
        std::vector<int16_t> pcm;
        auto lines = stderrLines([&] { ASSERT_TRUE(bassDecodeFile(path.c_str(), pcm)); });
        ASSERT_EQ(lines.size(), 1u) << path;
        EXPECT_TRUE(contains(lines[0], path + ": " + c.says)) << lines[0];
        ASSERT_EQ(pcm.size(), (size_t)frames * 2) << c.says;
        for (int i = 0; i < frames; i++) {
            ASSERT_EQ(pcm[i * 2], values[i * c.channels]) << c.says << ", frame " << i;
            ASSERT_EQ(pcm[i * 2 + 1], values[i * c.channels + (c.channels > 1)]) << c.says << ", frame " << i;
        }
    }
}

// Played looping, a sound repeats without a gap, the position following what
// is heard; played once it stops at its end, followed by silence. (An MP3,
// decoded as it plays, is compared with such a WAV of its whole decode below.)
TEST_F(Bass, SoundsLoopWithoutAGapAndPlayOnceWithoutTheFlag) {
    const size_t n = 10007;  // divides no block size
    std::vector<int16_t> sound = varied(n);
    ASSERT_TRUE(init());
    HSTREAM h = play(wav("loop.wav", sound));
    size_t start = heardNow();
    for (int i = 0; i < 200; i++) {  // 1.4 s: six seams
        Sleep(7);
        ASSERT_EQ(BASS_ChannelGetPosition(h), (DWORD)(((heardNow() - start) % n) * 4)) << "after " << i * 7 << " ms";
    }
    for (size_t k = 0; k < (heardNow() - start) * 2; k++)
        ASSERT_EQ(g_heard[start * 2 + k], sound[k % (2 * n)]) << "output frame " << k / 2;

    ASSERT_TRUE(BASS_StreamPlay(h, 0, 0));
    start = heardNow();
    Sleep(500);
    EXPECT_EQ(BASS_ChannelGetPosition(h), (DWORD)n * 4);  // stays at the end
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), g_heard.begin() + start * 2));
    EXPECT_EQ(peak(start + n, heardNow()), 0);
}

TEST_F(Bass, RateSlowsPositionAndPitchWithoutClicks) {
    ASSERT_TRUE(init());
    HSTREAM h = play(wav("s.wav", sine(44100 * 8, 441, 44100, 16000)));
    ASSERT_TRUE(BASS_ChannelSetAttributes(h, 22050, -1, -101));
    size_t f0 = heardNow();
    Sleep(1000);
    // 441 Hz played at half rate sounds at 220.5 Hz: 220 or 221 upward zero crossings.
    int crossings = 0;
    for (size_t i = f0 + 1; i < heardNow(); i++) crossings += g_heard[(i - 1) * 2] < 0 && g_heard[i * 2] >= 0;
    EXPECT_NEAR(crossings, 220.5, 1);

    // The finale: 44100 down to 100 in steps of 100, one step per 16 ms. The
    // position follows the source frames played; the 8 s loop wraps at most once.
    const DWORD before = BASS_ChannelGetPosition(h), loopBytes = 44100 * 8 * 4;
    double expected = 0;
    size_t finaleStart = heardNow();
    for (int rate = 44100; rate >= 100; rate -= 100) {
        ASSERT_TRUE(BASS_ChannelSetAttributes(h, rate, -1, -101));
        size_t from = heardNow();
        Sleep(16);
        expected += (double)(heardNow() - from) * rate / 44100;
        DWORD advanced = (BASS_ChannelGetPosition(h) + loopBytes - before) % loopBytes / 4;
        ASSERT_NEAR(advanced, expected, 2.0) << "rate " << rate;
    }
    EXPECT_LE(largestStep(finaleStart, heardNow()), sineStep(16000));
}

TEST_F(Bass, MasterVolumeFallsSmoothlyAndInitRestoresItChannelVolumeAndPan) {
    ASSERT_TRUE(init());
    std::string path = wav("s.wav", sine(44100, 441, 44100, 20000));
    HSTREAM h = play(path);
    // Peak of the next 50 ms after 50 ms to settle.
    auto settledPeak = [](int channel = -1) {
        Sleep(50);
        size_t a = heardNow();
        Sleep(50);
        return peak(a, heardNow(), channel);
    };
    EXPECT_NEAR(settledPeak(), 20000, 50);
    ASSERT_TRUE(BASS_SetVolume(50));
    size_t change = heardNow();
    EXPECT_NEAR(settledPeak(), 10000, 60);
    EXPECT_LE(largestStep(change - 10, heardNow()), sineStep(20000));
    ASSERT_TRUE(BASS_SetVolume(0));
    EXPECT_EQ(settledPeak(), 0);

    BASS_Free();
    ASSERT_TRUE(init());
    h = play(path);
    EXPECT_NEAR(settledPeak(), 20000, 50);
    EXPECT_FALSE(BASS_ChannelSetAttributes(h, 50, -1, -101));  // below the lowest rate
    EXPECT_FALSE(BASS_ChannelSetAttributes(h + 99, -1, -1, -101));
    ASSERT_TRUE(BASS_ChannelSetAttributes(h, -1, 50, 100));  // half volume, right only
    EXPECT_EQ(settledPeak(0), 0);
    EXPECT_NEAR(settledPeak(1), 10000, 50);
}

// Stopping never steps to silence (a click), neither when the library is
// freed nor when the process ends.
TEST_F(Bass, OutputFadesOutWhenFreedAndWhenTheProcessEnds) {
    std::string held = wav("held.wav", std::vector<int16_t>(44100 * 2, -30000));
    ASSERT_TRUE(init());
    play(held);
    Sleep(100);
    size_t freed = heardNow();
    ASSERT_TRUE(BASS_Free());
    Sleep(50);
    EXPECT_TRUE(fadedOut(freed));

    // The fade-out reaches the sink (the capture) before the exit hooks run.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            init();
            play(held);
            Sleep(100);
            size_t end = heardNow();
            vtSetExitHook([end](int) {
                const bool faded = fadedOut(end);
                removeTempDirs();
                _exit(faded ? 0 : 1);
            });
            ExitProcess(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// An MP3 at 44,100 Hz is decoded as it plays, with or without the LAME tag;
// with it the decode is gapless: exactly the frames encoded, in place. The
// same playback of the MP3 and of a WAV holding its whole decode sounds alike
// sample for sample, position for position: rates above the output's,
// fractional, the lowest, back to normal, then once through into the end.
TEST_F(Bass, Mp3StreamSoundsAsItsWholeDecodeAtEveryRate) {
    auto playAtRates = [](const std::string& file, std::vector<DWORD>& positions) {
        BASS_Free();
        g_heard.clear();
        EXPECT_TRUE(init());
        HSTREAM h = play(file);
        for (int rate : {100000, 88200, 31700, 100, 44099, 44100}) {
            EXPECT_TRUE(BASS_ChannelSetAttributes(h, rate, -1, -101));
            for (int i = 0; i < 20; i++) Sleep(31), positions.push_back(BASS_ChannelGetPosition(h));
        }
        EXPECT_TRUE(BASS_StreamPlay(h, 0, 0));
        EXPECT_TRUE(BASS_ChannelSetAttributes(h, 31700, -1, -101));
        Sleep(1500);
        positions.push_back(BASS_ChannelGetPosition(h));
        return g_heard;
    };
    for (bool tag : {true, false}) {
        SCOPED_TRACE(tag ? "with the LAME tag" : "without a tag");
        std::string path = mp3(tag ? "tagged.mp3" : "plain.mp3", 40009, tag);
        std::vector<int16_t> whole;
        ASSERT_TRUE(bassDecodeFile(path.c_str(), whole));
        const DWORD n = (DWORD)whole.size() / 2;
        if (tag) {
            EXPECT_EQ(n, 40009u);
            auto loudest = std::max_element(whole.begin(), whole.end(), [](int a, int b) { return std::abs(a) < std::abs(b); });
            EXPECT_NEAR((loudest - whole.begin()) / 2, kClick, 2);
        }
        BassSound sound;
        ASSERT_TRUE(bassOpenSound(path.c_str(), sound));
        ASSERT_TRUE(sound.reader);
        std::vector<DWORD> mp3Positions, wavPositions;
        std::vector<int16_t> fromMp3 = playAtRates(path, mp3Positions);
        std::vector<int16_t> fromWav = playAtRates(wav("whole.wav", whole), wavPositions);
        ASSERT_EQ(fromMp3.size(), fromWav.size());
        for (size_t i = 0; i < fromMp3.size(); i++) ASSERT_EQ(fromMp3[i], fromWav[i]) << "output sample " << i;
        EXPECT_EQ(mp3Positions, wavPositions);
    }
}

TEST_F(Bass, Mp3DecodingErrorMidStreamIsReportedOnceThenSilence) {
    const int n = 44100 * 4;
    std::string path = mp3("cut.mp3", n);
    ASSERT_TRUE(init());
    HSTREAM h = play(path);
    size_t start = heardNow();
    Sleep(300);
    std::vector<std::string> lines = stderrLines([&] {
        ASSERT_EQ(truncate(path.c_str(), 48000), 0);  // the file loses its second half while it plays
        Sleep(6000);                                  // past the cut and the loop, more than once
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], path + ": cannot decode")) << lines[0];
    // The sound played up to the cut (48 kB: about 2 s at 192 kbit/s), then
    // nothing; the position goes on as heard.
    EXPECT_GT(peak(start + 44100, start + 88200), 5000);
    EXPECT_EQ(peak(start + 44100 * 4, heardNow()), 0);
    EXPECT_EQ(BASS_ChannelGetPosition(h), (DWORD)(((heardNow() - start) % n) * 4));
}
