// Sound: opening a stream on our audio library and the position poller that
// publishes the playing stream's position in g_musicPos for the timeline.
//
// The poller never publishes a stale position. Before BASS_Free releases the
// jingle and startScene1 resets g_musicPos, a poller may have queried the
// jingle; that value must not land after the reset, or the timeline would
// pass every cue at once. Three rules make it impossible:
//  - the error value 0xFFFFFFFF (a released or failed stream) is never stored;
//  - a value is stored only if g_stream still holds the handle it was read
//    from once the query is over;
//  - openStream first waits until every poller that had begun a query has
//    stored or dropped its value. A query made before BASS_Free has then been stored before the new
//    stream exists (so before the reset), and every later query of the old
//    handle answers 0xFFFFFFFF.
//
// When the music cannot carry the show's time (it is missing, cannot be
// decoded, or ends before the show does), the poller publishes a clock
// instead: 176,400 bytes a second from where the music stopped (or from the
// scene's start), so every cue still comes at its time, in silence.
#include "audio/audio.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/bass/bass.h"
#include "shell/shell.h"
#include "shell/state.h"

namespace {

constexpr DWORD kPositionError = 0xFFFFFFFFu;
constexpr int64_t kBytesPerSecond = 176400;

// The clock that stands in for the music: off, armed (it starts when the
// music's position reaches g_clockFrom) or running since g_clockSince
// (performance-counter ticks), counting from g_clockFrom.
constexpr int64_t kClockOff = -1;
constexpr int64_t kClockArmed = -2;
std::atomic<int64_t> g_clockSince{kClockOff};
std::atomic<uint32_t> g_clockFrom{0};

int64_t clockNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

DWORD clockPosition(int64_t since) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    int64_t elapsed = std::max<int64_t>(clockNow() - since, 0);
    int64_t bytes = (int64_t)((__int128)elapsed * kBytesPerSecond / std::max<int64_t>(frequency.QuadPart, 1));
    return (DWORD)std::min<int64_t>(g_clockFrom.load() + bytes, kPositionError - 1);
}

// Pollers between reading g_stream and storing its position, counted in two
// slots by the parity of the epoch in which they began. openStream starts a
// new epoch and waits only for the pollers of the old one, so a stream of
// new queries cannot hold it up.
std::atomic<uint32_t> g_publishEpoch{0};
std::atomic<int32_t> g_publishing[2];

uint32_t enterPublishing() {
    for (;;) {
        uint32_t epoch = g_publishEpoch.load();
        g_publishing[epoch & 1].fetch_add(1);
        if (g_publishEpoch.load() == epoch) return epoch;
        g_publishing[epoch & 1].fetch_sub(1);
    }
}

void waitForPublishingPollers() {
    uint32_t old = g_publishEpoch.fetch_add(1);
    while (g_publishing[old & 1].load() != 0) std::this_thread::yield();
}

}  // namespace

void publishMusicPosition() { publishMusicPosition(BASS_ChannelGetPosition); }

void publishMusicPosition(DWORD (*query)(DWORD handle)) {
    uint32_t epoch = enterPublishing();
    DWORD handle = g_stream.load();
    DWORD position = query(handle);
    bool current = g_stream.load() == handle;
    int64_t since = g_clockSince.load();
    if (since == kClockArmed && current && position != kPositionError && position >= g_clockFrom.load()) {
        // The music has just ended: the first poller to see it starts the clock.
        g_clockSince.compare_exchange_strong(since, clockNow());
        since = g_clockSince.load();
    }
    if (since >= 0)
        g_musicPos.store(clockPosition(since));
    else if (position != kPositionError && current)
        g_musicPos.store(position);
    g_publishing[epoch & 1].fetch_sub(1);
}

int openStream(const char* fileName) {
    waitForPublishingPollers();
    g_clockSince = kClockOff;  // a new stream carries the time again
    if (BASS_GetVersion() != 0x80000) {
        showError("BASS version 0.8 was not loaded");
        return 0;
    }
    if (!BASS_Init(-1, 44100, 16, GetForegroundWindow())) {
        showError("Can't initialize device");
        return 0;
    }
    g_stream = BASS_StreamCreateFile(0, fileName, 0, 0, 0);
    if (g_stream == 0) {
        showError("Create Stream File FAULT!");
        return 0;
    }
    BASS_ChannelSetSync(g_stream, BASS_SYNC_END, 0, streamEndSync, 0);
    BASS_Start();
    return 1;
}

bool musicLastsTheShow(const char* fileName, DWORD neededBytes) {
    DWORD length = BASS_StreamGetLength(g_stream);
    if (length == kPositionError) {
        // No music: the clock runs from here, the start of its scene.
        g_clockFrom = 0;
        g_clockSince = clockNow();
        return false;
    }
    if (length >= neededBytes) return true;
    std::string path = fileName;
    std::replace(path.begin(), path.end(), '\\', '/');
    fprintf(stderr, "%s: the music lasts %.1f s, the show needs %.1f s; it goes on in silence after the music's end\n",
            path.c_str(), length / (double)kBytesPerSecond, neededBytes / (double)kBytesPerSecond);
    g_clockFrom = length;
    g_clockSince = kClockArmed;
    return false;
}

DWORD musicPollerThread(void*) {
    while (g_musicPolling.load() == 1) {
        Sleep(1);
        publishMusicPosition();
    }
    return 0;
}

void startMusicPoller() {
    static DWORD threadId = 0;  // filled by CreateThread, read by nothing
    g_musicPolling = 1;
    g_pollerThread = CreateThread(nullptr, 0, musicPollerThread, nullptr, 0, &threadId);
}

void streamEndSync(DWORD, DWORD, DWORD, DWORD) {}
