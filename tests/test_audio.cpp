// The show's sound: openStream's start-up messages, the jingle and the music
// in the order of a run, the position poller (including the hand-over from the
// released jingle to the music), and music too short or missing. (A missing
// music file's message is checked on the whole show, in test_e2e.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/audio.h"
#include "audio_files.h"
#include "stderr_lines.h"
#include "platform/bass/bass.h"
#include "platform/virtual/virtual.h"
#include "shell/shell.h"
#include "shell/state.h"

using namespace audiotest;

// The shell's error box, for as long as the shell is not linked in.
__attribute__((weak)) void showError(const char* text) { MessageBoxA(nullptr, text, "Error!", 0x30); }

namespace {

std::atomic<int> g_pollersEnded{0};

DWORD countedPoller(void*) {
    musicPollerThread(nullptr);
    g_pollersEnded++;
    return 0;
}

void startPoller() { g_musicPolling = 1, g_pollerThread = CreateThread(nullptr, 0, countedPoller, nullptr, 0, nullptr); }

// Opens the show's stream for a file and plays it looping: 1 when opened.
int openAndPlay(const std::string& path) {
    return openStream(path.c_str()) && BASS_StreamPlay(g_stream, 0, BASS_SAMPLE_LOOP) ? 1 : 0;
}

class Sound : public ::testing::Test {
protected:
    void SetUp() override {
        BASS_Free();
        g_musicPolling = 0;
        g_musicPos = 0;
        g_stream = 0;
        g_pollersEnded = 0;
        dir = tempDir();
        // Names as the show gives them: Windows separators.
        jingle = dir + "\\menu.wav", music = dir + "\\music.mp3";
        EXPECT_TRUE(writeWav(dir + "/menu.wav", 44100, 2, 16, sine(11025, 441, 44100, 12000)));  // 0.25 s
        EXPECT_TRUE(writeMp3(dir + "/music.mp3", 44100, 2, sine(44100 * 4, 330, 44100, 12000)));
    }
    void TearDown() override {
        g_musicPolling = 0;
        Sleep(5);
        BASS_Free();
    }
    std::string dir, jingle, music;
};

}  // namespace

TEST_F(Sound, StartUpFailuresShowOnlyTheirMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [this](const char* step, const char* message, bool initCalled) {
        std::string trace = dir + "/" + step + ".txt";
        vtSetTraceFile(trace);
        vtFailStep(step);
        g_stream = 77;
        int result = openStream(jingle.c_str());
        vtSetTraceFile("");
        std::string t{std::istreambuf_iterator<char>(std::ifstream(trace).rdbuf()), {}};
        bool ok = result == 0 && vtMessageBoxes() == std::vector<std::string>{message} && g_stream == 77u &&
                  contains(t, "BASS_Init") == initCalled && !contains(t, "BASS_StreamCreateFile") && !contains(t, "BASS_Start");
        if (!ok) fprintf(stderr, "result %d, %zu boxes, trace:\n%s", result, vtMessageBoxes().size(), t.c_str());
        removeTempDirs();
        _exit(ok ? 0 : 1);
    };
    for (auto [step, message, initCalled] : {std::tuple("BASS_GetVersion", "BASS version 0.8 was not loaded", false),
                                             {"BASS_Init", "Can't initialize device", true},
                                             {"AudioDevice", "Can't initialize device", true}})
        EXPECT_EXIT(run(step, message, initCalled), ::testing::ExitedWithCode(0), "") << step;
}

// Music that cannot carry the show's time hands it to a clock: with no
// stream from 0 at the scene's start, with a short music (played once) from
// its length at its end. A music exactly as long as the show lasts it.
TEST_F(Sound, MusicThatCannotLastTheShowHandsItsTimeToAClock) {
    const DWORD second = 176400;
    startPoller();
    // No stream at all.
    stderrLines([&] { EXPECT_EQ(openStream((dir + "\\absent.mp3").c_str()), 0); });
    g_musicPos = 0;
    EXPECT_FALSE(musicLastsTheShow("DATA\\music.mp3", 100 * second));
    Sleep(1500);
    EXPECT_NEAR((double)g_musicPos.load(), 1.5 * second, 400);

    // Four seconds of music for a show that needs ten: said once, played once.
    BASS_Free();
    ASSERT_EQ(openStream(music.c_str()), 1);
    g_musicPos = 0;
    auto lines = stderrLines([&] { EXPECT_FALSE(musicLastsTheShow("DATA\\music.mp3", 10 * second)); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "DATA/music.mp3: the music lasts 4.0 s, the show needs 10.0 s")) << lines[0];
    ASSERT_TRUE(BASS_StreamPlay(g_stream, 0, 0));
    Sleep(3000);
    EXPECT_NEAR((double)g_musicPos.load(), 3.0 * second, 400);
    Sleep(3000);  // two seconds past the music's end
    EXPECT_NEAR((double)g_musicPos.load(), 6.0 * second, 400);
    EXPECT_TRUE(musicLastsTheShow("DATA\\music.mp3", 4 * second));  // exactly long enough
}

// The show's pollers through a run: the looping jingle's position, nothing
// published once the jingle is released, the music's from 0 with a second
// poller, and each poller ends after one more query once polling stops. The
// pollers store what they read up to a millisecond ago. (Looping and the byte
// count are the audio library's, checked in test_bass.)
TEST_F(Sound, PollersPublishTheJingleThenTheMusicAndEndWhenPollingStops) {
    ASSERT_EQ(openAndPlay(jingle), 1);
    startPoller();
    Sleep(1010);  // four passes of the quarter-second jingle and 10 ms: 441 frames
    EXPECT_GE(g_musicPos.load(), 1764u - 2 * 177);
    EXPECT_LE(g_musicPos.load(), 1764u);
    DWORD before = g_musicPos;
    BASS_Free();
    for (int i = 0; i < 20; i++, Sleep(1)) ASSERT_EQ(g_musicPos.load(), before);
    ASSERT_EQ(openAndPlay(music), 1);
    g_musicPos = 0;
    startPoller();
    Sleep(1000);
    EXPECT_GE(g_musicPos.load(), 176400u - 2 * 177);
    EXPECT_LE(g_musicPos.load(), 176400u);
    g_musicPolling = 0;
    Sleep(2);
    EXPECT_EQ(g_pollersEnded.load(), 2);
}

// Pollers on real threads, publishing as fast as they can with a slow query
// while the jingle is released and the music opened: once startScene1 has reset the position and
// the music has not moved (the virtual clock stands still), any value but 0
// would be a stale jingle position.
TEST_F(Sound, NoStaleJinglePositionAfterTheMusicReset) {
    writeWav(dir + "/music.wav", 44100, 2, 16, sine(4410, 330, 44100, 12000));
    std::atomic<bool> stop{false};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 2; i++)
        pollers.emplace_back([&] {
            // A slow query: a poller preempted between its query and its store.
            while (!stop.load())
                publishMusicPosition([](DWORD handle) {
                    DWORD position = BASS_ChannelGetPosition(handle);
                    std::this_thread::sleep_for(std::chrono::microseconds(300));
                    return position;
                });
        });
    int stale = 0, sawJingle = 0;
    for (int round = 0; round < 200 && stale == 0; round++) {
        ASSERT_EQ(openAndPlay(jingle), 1);
        Sleep(2 + round % 7);
        auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        while (g_musicPos.load() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
        if (g_musicPos.load() != 0) sawJingle++;
        BASS_Free();
        ASSERT_EQ(openStream((dir + "\\music.wav").c_str()), 1);
        g_musicPos = 0;
        BASS_StreamPlay(g_stream, 0, BASS_SAMPLE_LOOP);
        for (int i = 0; i < 3000; i++) {
            if (g_musicPos.load() != 0) stale++;
            if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        BASS_Free();
    }
    stop = true;
    for (auto& t : pollers) t.join();
    EXPECT_EQ(stale, 0);
    EXPECT_GT(sawJingle, 150);  // the pollers did publish the jingle in most rounds
}
