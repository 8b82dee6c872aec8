// Our audio library on the headless output, which is pulled in virtual time:
// lifecycle, decoding, looping, the position, rate and master volume. The
// mixed output is checked through the audio sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
    // An MP3 at 44,100 Hz whose every frame differs from its neighbours (a
    // sine under a slow ramp), `frames` long: not a multiple of the MP3's
    // 1152-sample frames, so the loop seam falls inside one.
    std::string mp3(const std::string& name, int frames, bool tag = true) {
        std::vector<int16_t> s = sine(frames, 440, 44100, 9000);
        for (int i = 0; i < frames; i++) {
            s[i * 2] = (int16_t)(s[i * 2] + (i * 7 % 12000) - 6000);
            s[i * 2 + 1] = (int16_t)(s[i * 2 + 1] / 2 + 3000);
        }
        std::string path = dir + "/" + name;
        EXPECT_TRUE(writeMp3(path, 44100, 2, s, tag));
        return path;
    }
    std::string wav(const std::string& name, const std::vector<int16_t>& frames, int rate = 44100, int channels = 2,
                    int bits = 16) {
        std::string path = dir + "/" + name;
        EXPECT_TRUE(writeWav(path, rate, channels, bits, frames));
        return path;
    }
    // A stream of the file, playing.
    static HSTREAM play(const std::string& path, DWORD flags = BASS_SAMPLE_LOOP) {
        HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
        EXPECT_TRUE(BASS_StreamPlay(h, 0, flags)) << path;
        return h;
    }
    std::string dir;
};

// Frame index of the output that is heard now.
size_t heardNow() {
    Sleep(0);
    return g_heard.size() / 2;
}

int peak(const std::vector<int16_t>& s, size_t fromFrame, size_t toFrame, int channel = -1) {
    int p = 0;
    for (size_t i = fromFrame * 2; i < toFrame * 2 && i < s.size(); i++)
        if (channel < 0 || (int)(i % 2) == channel) p = std::max(p, std::abs((int)s[i]));
    return p;
}

int largestStep(const std::vector<int16_t>& s, size_t fromFrame, size_t toFrame) {
    int d = 0;
    for (size_t i = std::max<size_t>(fromFrame, 1); i < toFrame && i * 2 + 1 < s.size(); i++)
        d = std::max(d, std::abs(s[i * 2] - s[(i - 1) * 2]));
    return d;
}

// One second of a 22,050 Hz mono file decodes to about 44,100 stereo frames
// with the sound on both channels.
void expectConvertedSecond(const std::vector<int16_t>& pcm, int minPeak) {
    EXPECT_NEAR((double)pcm.size() / 2, 44100, 64);
    EXPECT_NEAR(pcm[30000 * 2], pcm[30000 * 2 + 1], 1);
    EXPECT_GT(peak(pcm, 0, pcm.size() / 2), minPeak);
}

std::vector<int16_t> monoSine(double hz, double amplitude) {
    std::vector<int16_t> mono(22050);
    for (int i = 0; i < 22050; i++) mono[i] = (int16_t)(std::sin(2 * M_PI * hz * i / 22050.0) * amplitude);
    return mono;
}

}  // namespace

TEST_F(Bass, InitOpensOnceUntilFreeAndVersionIsZeroPointEight) {
    EXPECT_EQ(BASS_GetVersion(), 0x80000u);
    EXPECT_TRUE(init());
    EXPECT_FALSE(init());
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
    EXPECT_TRUE(init());
    EXPECT_TRUE(BASS_Start());
}

TEST_F(Bass, InjectedFailures) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::pair<const char*, bool (*)()> steps[] = {
        {"BASS_GetVersion", [] { return BASS_GetVersion() != 0x80000; }},
        {"BASS_Init", [] { return !init(); }},
        {"AudioDevice", [] { return !init() && BASS_StreamCreateFile(0, "tests/none.wav", 0, 0, 0) == 0; }},
    };
    for (auto [step, failed] : steps) {
        EXPECT_EXIT(
            {
                vtFailStep(step);
                _exit(failed() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << step;
    }
}

TEST_F(Bass, StreamsNeedAnOpenLibraryAndAReadableFile) {
    std::string path = wav("a.wav", sine(4410, 441, 44100, 8000));
    EXPECT_EQ(BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0), 0u);  // not initialised
    ASSERT_TRUE(init());
    std::ofstream(dir + "/junk.mp3") << "this is not a sound file at all, not even a short one";
    std::string cut = wav("cut.wav", sine(100, 441, 44100, 8000));
    std::filesystem::resize_file(cut, 40);  // cut off inside its data chunk header
    for (std::string bad : {dir + "/missing.wav", dir + "/junk.mp3", cut})
        EXPECT_EQ(BASS_StreamCreateFile(0, bad.c_str(), 0, 0, 0), 0u) << bad;
    EXPECT_EQ(BASS_StreamCreateFile(0, nullptr, 0, 0, 0), 0u);

    // Backslash separators are accepted.
    std::string windowsPath = path;
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    HSTREAM first = BASS_StreamCreateFile(0, windowsPath.c_str(), 0, 0, 0);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(BASS_ChannelGetPosition(first), 0u);
    EXPECT_EQ(BASS_ChannelGetPosition(first + 1000), 0xFFFFFFFFu);

    // Free releases the stream; a handle is never given out again.
    BASS_Free();
    EXPECT_EQ(BASS_ChannelGetPosition(first), 0xFFFFFFFFu);
    EXPECT_FALSE(BASS_StreamPlay(first, 0, BASS_SAMPLE_LOOP));
    ASSERT_TRUE(init());
    HSTREAM second = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_EQ(BASS_ChannelGetPosition(first), 0xFFFFFFFFu);
}

// A sound file that plays but is not what the show expects says what was
// found, in one line naming the file; one that cannot play says why.
TEST_F(Bass, FilesNotAsExpectedSayWhatWasFoundInOneLine) {
    ASSERT_TRUE(init());
    std::string cutWav = wav("cutdata.wav", sine(44100, 441, 44100, 8000));
    std::filesystem::resize_file(cutWav, 44 + 40000 + 2);  // inside its data, mid-frame
    std::string cutMp3 = mp3("cut.mp3", 44100 * 4);
    std::filesystem::resize_file(cutMp3, std::filesystem::file_size(cutMp3) / 2);
    ASSERT_TRUE(writeMp3(dir + "/low.mp3", 22050, 1, monoSine(200, 15000)));
    const struct {
        std::string path;
        bool plays;
        std::vector<const char*> says;  // empty: nothing to say
    } cases[] = {
        {wav("fine.wav", sine(4410, 441, 44100, 8000)), true, {}},
        {mp3("fine.mp3", 44100), true, {}},
        {dir + "/missing.wav", false, {"cannot open", "No such file"}},
        {cutWav, true, {"cut short"}},
        {wav("m.wav", monoSine(100, 20000), 22050, 1, 8), true, {"22050 Hz mono 8-bit", "converted"}},
        {cutMp3, true, {"cut short", "frames"}},
        {dir + "/low.mp3", true, {"22050 Hz mono", "converted"}},
        // Over ten minutes (at a low rate, to keep the file small).
        {wav("long.wav", std::vector<int16_t>(1000 * 601, 0), 1000, 1, 8), true, {"601 s of sound", "left out"}},
    };
    for (const auto& c : cases) {
        HSTREAM h = 0;
        auto lines = stderrLines([&] { h = BASS_StreamCreateFile(0, c.path.c_str(), 0, 0, 0); });
        EXPECT_EQ(h != 0, c.plays) << c.path;
        ASSERT_EQ(lines.size(), c.says.empty() ? 0u : 1u) << c.path << (lines.empty() ? "" : ": " + lines[0]);
        for (const char* part : c.says)
            EXPECT_TRUE(contains(lines[0], c.path + ": ") && contains(lines[0], part)) << lines[0];
    }
    // The cut WAV plays the whole frames it holds.
    HSTREAM h = 0;
    stderrLines([&] { h = BASS_StreamCreateFile(0, cutWav.c_str(), 0, 0, 0); });
    EXPECT_EQ(BASS_StreamGetLength(h), 40000u);
    stderrLines([&] { h = BASS_StreamCreateFile(0, (dir + "/long.wav").c_str(), 0, 0, 0); });
    EXPECT_EQ(BASS_StreamGetLength(h), 600u * 44100 * 4);
}

TEST_F(Bass, WavAndMp3AreConvertedToStereoAt44100AndMp3IsGapless) {
    std::vector<int16_t> pcm;
    ASSERT_TRUE(bassDecodeFile(wav("m.wav", monoSine(100, 20000), 22050, 1, 8).c_str(), pcm));  // 8-bit
    expectConvertedSecond(pcm, 15000);
    ASSERT_TRUE(writeMp3(dir + "/low.mp3", 22050, 1, monoSine(200, 15000)));
    ASSERT_TRUE(bassDecodeFile((dir + "/low.mp3").c_str(), pcm));
    expectConvertedSecond(pcm, 12000);

    // A click at frame 10000 of two seconds of silence.
    const int frames = 88200, click = 10000;
    std::vector<int16_t> src((size_t)frames * 2, 0);
    src[click * 2] = src[click * 2 + 1] = 30000;
    std::string path = dir + "/click.mp3";
    ASSERT_TRUE(writeMp3(path, 44100, 2, src));
    ASSERT_TRUE(bassDecodeFile(path.c_str(), pcm));
    EXPECT_EQ(pcm.size() / 2, (size_t)frames);
    auto loudest = [](const std::vector<int16_t>& s, size_t from, size_t to) {
        size_t at = from;
        for (size_t i = from; i < to; i++)
            if (std::abs(s[i * 2]) > std::abs(s[at * 2])) at = i;
        return (double)(at - from);
    };
    EXPECT_NEAR(loudest(pcm, 0, frames), click, 2);

    // The library plays it from the click's frame on as the position says.
    ASSERT_TRUE(init());
    play(path, 0);
    size_t start = heardNow();
    Sleep(500);
    EXPECT_NEAR(loudest(g_heard, start, heardNow()), click, 2);
}

TEST_F(Bass, PositionCountsHeardBytesExactly) {
    ASSERT_TRUE(init());
    HSTREAM h = BASS_StreamCreateFile(0, wav("long.wav", sine(44100 * 5, 441, 44100, 8000)).c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    Sleep(123);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);  // not playing yet
    ASSERT_TRUE(BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP));
    EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);
    Sleep(1000);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 176400u);
    Sleep(250);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 176400u + 44100u);
    Sleep(1);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 176400u + 44100u + 176u);
}

TEST_F(Bass, ShortSoundLoopsWithoutAGapAndOnceWithoutTheFlag) {
    ASSERT_TRUE(init());
    const int n = 10007;  // not a divisor of any block size
    std::vector<int16_t> src = ramp(n);
    std::string path = wav("ramp.wav", src);
    HSTREAM h = play(path);
    size_t start = heardNow();
    for (int i = 0; i < 40; i++) Sleep(37);  // 1.48 s: about 6.5 passes
    size_t end = heardNow();
    ASSERT_GT(end - start, (size_t)n * 6);
    for (size_t k = 0; k < (end - start) * 2; k++) ASSERT_EQ(g_heard[start * 2 + k], src[k % (2 * n)]) << k / 2;
    EXPECT_EQ(BASS_ChannelGetPosition(h), (DWORD)(((end - start) % n) * 4));

    BASS_Free();
    ASSERT_TRUE(init());
    HSTREAM once = play(path, 0);
    start = heardNow();
    Sleep(500);
    EXPECT_EQ(BASS_ChannelGetPosition(once), (DWORD)n * 4);  // stays at the end
    EXPECT_EQ(peak(g_heard, start + n, heardNow()), 0);
    EXPECT_EQ(g_heard[(start + n - 1) * 2], src[(n - 1) * 2]);
}

TEST_F(Bass, RateSlowsPositionAndPitchWithoutClicks) {
    ASSERT_TRUE(init());
    HSTREAM h = play(wav("s.wav", sine(44100 * 8, 441, 44100, 16000)));
    Sleep(100);
    ASSERT_TRUE(BASS_ChannelSetAttributes(h, 22050, -1, -101));
    DWORD p0 = BASS_ChannelGetPosition(h);
    size_t f0 = heardNow();
    Sleep(1000);
    EXPECT_EQ(BASS_ChannelGetPosition(h) - p0, 88200u);
    // 441 Hz played at half rate sounds at 220.5 Hz: 220 or 221 upward zero crossings.
    int crossings = 0;
    for (size_t i = f0 + 1; i < heardNow(); i++) crossings += g_heard[(i - 1) * 2] < 0 && g_heard[i * 2] >= 0;
    EXPECT_NEAR(crossings, 220.5, 1);

    // The finale: 44100 down to 100 in steps of 100, one step per 16 ms.
    ASSERT_TRUE(BASS_ChannelSetAttributes(h, 44100, -1, -101));
    double expected = 0;  // source frames; the 8 s loop wraps at most once in the ~3.6 s that follow
    DWORD before = BASS_ChannelGetPosition(h);
    size_t finaleStart = heardNow();
    for (int rate = 44100; rate >= 100; rate -= 100) {
        ASSERT_TRUE(BASS_ChannelSetAttributes(h, rate, -1, -101));
        size_t from = heardNow();
        Sleep(16);
        expected += (double)(heardNow() - from) * rate / 44100;  // source frames in these 16 ms
        DWORD now = BASS_ChannelGetPosition(h);
        uint64_t advanced = (uint64_t)((now + 44100ull * 8 * 4 - before) % (44100ull * 8 * 4)) / 4;
        ASSERT_NEAR((double)advanced, expected, 2.0) << "rate " << rate;
    }
    // No discontinuity larger than the sine's own slope (with interpolation slack).
    EXPECT_LE(largestStep(g_heard, finaleStart, heardNow()), (int)(16000 * 2 * M_PI * 441 / 44100) + 40);
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
        return peak(g_heard, a, heardNow(), channel);
    };
    EXPECT_NEAR(settledPeak(), 20000, 50);
    EXPECT_FALSE(BASS_SetVolume(101));
    ASSERT_TRUE(BASS_SetVolume(50));
    size_t change = heardNow();
    EXPECT_NEAR(settledPeak(), 10000, 60);
    EXPECT_LE(largestStep(g_heard, change - 10, heardNow()), (int)(20000 * 2 * M_PI * 441 / 44100) + 40);
    for (int v = 49; v >= 0; v--) {
        ASSERT_TRUE(BASS_SetVolume(v));
        Sleep(5);
    }
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

// Stopping never steps to silence (a click): when the library is freed and
// when the process ends, what plays falls to zero within 5 ms, by at most 1%
// of full scale from one frame to the next.
TEST_F(Bass, OutputFadesOutWhenFreedAndWhenTheProcessEnds) {
    const int fade = 220, step = 328;
    std::string held = wav("held.wav", std::vector<int16_t>(44100 * 2, -30000));
    ASSERT_TRUE(init());
    play(held);
    Sleep(100);
    size_t freed = heardNow();
    ASSERT_TRUE(BASS_Free());
    Sleep(50);
    ASSERT_EQ(g_heard[(freed - 1) * 2], -30000);
    EXPECT_LE(largestStep(g_heard, freed, freed + fade), step);
    EXPECT_EQ(peak(g_heard, freed + fade - 1, heardNow()), 0);

    // The fade-out reaches the sink (the capture) before the exit hooks run.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            init();
            play(held);
            Sleep(100);
            size_t end = heardNow();
            vtSetExitHook([end](int) {
                bool faded = g_heard.size() / 2 == end + fade && largestStep(g_heard, end, end + fade) <= step &&
                             g_heard[end * 2 - 2] == -30000 && g_heard.back() == 0;
                _exit(faded ? 0 : 1);
            });
            ExitProcess(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Bass, EveryCallButThePositionIsTraced) {
    std::string trace = dir + "/trace.txt";
    vtSetTraceFile(trace);
    std::string path = wav("t.wav", sine(4410, 441, 44100, 8000));
    BASS_GetVersion();
    init();
    HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, [](HSYNC, DWORD, DWORD, DWORD) {}, 0);
    BASS_Start();
    BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP);
    BASS_ChannelGetPosition(h);
    BASS_SetVolume(40);
    BASS_ChannelSetAttributes(h, 44000, -1, -101);
    BASS_Free();
    vtSetTraceFile("");
    std::ifstream in(trace);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string hs = std::to_string(h);
    for (std::string line : {std::string("BASS_GetVersion() = 0x80000"), std::string("BASS_Init(-1, 44100, 16, 0) = 1"),
                             "BASS_StreamCreateFile(0, \"" + path + "\", 0, 0, 0) = " + hs,
                             "BASS_ChannelSetSync(" + hs + ", 2, 0, proc, 0) = ", std::string("BASS_Start() = 1"),
                             "BASS_StreamPlay(" + hs + ", 0, 4) = 1", std::string("BASS_SetVolume(40) = 1"),
                             "BASS_ChannelSetAttributes(" + hs + ", 44000, -1, -101) = 1",
                             std::string("BASS_Free() = 1")})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("GetPosition"), std::string::npos);
}

TEST_F(Bass, Mp3At44100IsDecodedOnDemandFrameForFrameAsWhole) {
    const int n = 57331;
    for (bool tag : {true, false}) {
        SCOPED_TRACE(tag ? "with the LAME tag" : "without a tag");
        std::string path = mp3(tag ? "tagged.mp3" : "plain.mp3", n, tag);
        std::vector<int16_t> whole;
        ASSERT_TRUE(bassDecodeFile(path.c_str(), whole));
        const int64_t length = (int64_t)whole.size() / 2;
        if (tag) {
            EXPECT_EQ(length, n);  // gapless: exactly the frames encoded
        }
        BassSound sound;
        ASSERT_TRUE(bassOpenSound(path.c_str(), sound));
        ASSERT_TRUE(sound.reader);
        EXPECT_TRUE(sound.pcm.empty());
        EXPECT_EQ(sound.frames, length);

        // Read forward as the mixer does at several speeds, the larger ones
        // passing over whole windows, across three loop seams.
        for (int stride : {1, 3, 1151, 9000}) {
            bassMp3Rewind(*sound.reader);
            BassMp3Window w = {nullptr, 0, 0};
            for (int64_t at = 0; at < length * 3 + 5; at += stride) {
                if (at + 1 >= w.end) w = bassMp3Read(*sound.reader, at, true);
                ASSERT_LE(w.first, at);
                ASSERT_GT(w.end, at + 1);
                const int16_t* f = w.frames + (at - w.first) * 2;
                for (int k = 0; k < 4; k++)
                    ASSERT_EQ(f[k], whole[((at + k / 2) % length) * 2 + k % 2]) << "stride " << stride << " frame " << at;
            }
        }
        // Played once: the end is followed by silence, not the start.
        bassMp3Rewind(*sound.reader);
        BassMp3Window w = bassMp3Read(*sound.reader, length - 2, false);
        const int16_t* f = w.frames + (length - 2 - w.first) * 2;
        EXPECT_TRUE(std::equal(f, f + 4, whole.end() - 4));
        w = bassMp3Read(*sound.reader, length, false);
        f = w.frames + (length - w.first) * 2;
        EXPECT_TRUE(std::all_of(f, f + 4, [](int16_t v) { return v == 0; }));
    }

    // Other rates are decoded whole and converted.
    std::string low = dir + "/low.mp3";
    ASSERT_TRUE(writeMp3(low, 22050, 2, sine(22050, 200, 22050, 9000)));
    BassSound sound;
    ASSERT_TRUE(bassOpenSound(low.c_str(), sound));
    EXPECT_FALSE(sound.reader);
    EXPECT_NEAR((double)sound.frames, 44100, 64);
    EXPECT_EQ(sound.pcm.size(), (size_t)sound.frames * 2);
}

TEST_F(Bass, LoopingMp3StreamWrapsAtItsExactLengthWithoutAGap) {
    const int n = 30011;
    std::string path = mp3("loop.mp3", n);
    std::vector<int16_t> whole;
    ASSERT_TRUE(bassDecodeFile(path.c_str(), whole));
    ASSERT_EQ(whole.size(), (size_t)n * 2);
    ASSERT_TRUE(BASS_Init(-1, 44100, 16, nullptr));
    HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP));
    size_t start = heardNow();
    for (int i = 0; i < 350; i++) {  // 2.45 s: the seam passes three times
        Sleep(7);
        ASSERT_EQ(BASS_ChannelGetPosition(h), (DWORD)(((heardNow() - start) % n) * 4)) << "after " << i * 7 << " ms";
    }
    size_t end = heardNow();
    for (size_t k = 0; k < end - start; k++) {
        ASSERT_EQ(g_heard[(start + k) * 2], whole[(k % n) * 2]) << "output frame " << k;
        ASSERT_EQ(g_heard[(start + k) * 2 + 1], whole[(k % n) * 2 + 1]) << "output frame " << k;
    }

    // Played again from the start, once: the same frames, then silence.
    ASSERT_TRUE(BASS_StreamPlay(h, 0, 0));
    start = heardNow();
    Sleep(1000);
    EXPECT_EQ(BASS_ChannelGetPosition(h), (DWORD)n * 4);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), g_heard.begin() + start * 2));
    EXPECT_EQ(peak(g_heard, start + n, heardNow()), 0);
}

TEST_F(Bass, Mp3StreamSoundsAsItsWholeDecodeAtEveryRate) {
    // The same playback of the MP3 and of a WAV holding its whole decode:
    // rates above the output's, fractional, the lowest, back to normal.
    const int n = 40009;
    std::string path = mp3("rates.mp3", n);
    std::vector<int16_t> whole;
    ASSERT_TRUE(bassDecodeFile(path.c_str(), whole));
    std::string reference = wav("rates.wav", whole);
    auto play = [](const std::string& file, std::vector<DWORD>& positions) {
        BASS_Free();
        g_heard.clear();
        EXPECT_TRUE(BASS_Init(-1, 44100, 16, nullptr));
        HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
        EXPECT_NE(h, 0u);
        EXPECT_TRUE(BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP));
        for (int rate : {100000, 88200, 31700, 100, 44099, 44100}) {
            EXPECT_TRUE(BASS_ChannelSetAttributes(h, rate, -1, -101));
            for (int i = 0; i < 20; i++) {
                Sleep(31);
                positions.push_back(BASS_ChannelGetPosition(h));
            }
        }
        // Once through at a fractional rate, into the end.
        EXPECT_TRUE(BASS_StreamPlay(h, 0, 0));
        EXPECT_TRUE(BASS_ChannelSetAttributes(h, 31700, -1, -101));
        Sleep(1500);
        positions.push_back(BASS_ChannelGetPosition(h));
        return g_heard;
    };
    std::vector<DWORD> mp3Positions, wavPositions;
    std::vector<int16_t> fromMp3 = play(path, mp3Positions);
    std::vector<int16_t> fromWav = play(reference, wavPositions);
    ASSERT_GT(fromMp3.size(), (size_t)n * 2 * 3);
    ASSERT_EQ(fromMp3.size(), fromWav.size());
    for (size_t i = 0; i < fromMp3.size(); i++) ASSERT_EQ(fromMp3[i], fromWav[i]) << "output sample " << i;
    EXPECT_EQ(mp3Positions, wavPositions);
    EXPECT_EQ(mp3Positions.back(), (DWORD)n * 4);
    mp3Positions.pop_back();
    EXPECT_LT(*std::max_element(mp3Positions.begin(), mp3Positions.end()), (DWORD)n * 4);
}

TEST_F(Bass, Mp3DecodingErrorMidStreamIsReportedOnceThenSilence) {
    const int n = 44100 * 4;
    std::string path = mp3("cut.mp3", n);
    ASSERT_TRUE(BASS_Init(-1, 44100, 16, nullptr));
    HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, 0, BASS_SAMPLE_LOOP));
    size_t start = heardNow();
    Sleep(300);
    DWORD before = BASS_ChannelGetPosition(h);
    std::vector<std::string> lines = stderrLines([&] {
        // The file loses its second half while it plays.
        ASSERT_EQ(truncate(path.c_str(), 48000), 0);
        for (int i = 0; i < 60; i++) Sleep(100);  // past the cut and the loop, more than once
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], path)) << lines[0];
    EXPECT_TRUE(contains(lines[0], "cannot decode")) << lines[0];
    // The sound played up to the cut (48 kB: about 2 s at 192 kbit/s), then nothing.
    EXPECT_GT(peak(g_heard, start + 44100, start + 88200), 5000);
    EXPECT_EQ(peak(g_heard, start + 44100 * 4, heardNow()), 0);
    // Time goes on as heard.
    EXPECT_EQ(BASS_ChannelGetPosition(h), (DWORD)(((heardNow() - start) % n) * 4));
    EXPECT_GT(BASS_ChannelGetPosition(h), before);
}
