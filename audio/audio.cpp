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
#include "audio/audio.h"

#include <atomic>
#include <thread>

#include "platform/bass/bass.h"
#include "shell/shell.h"
#include "shell/state.h"

namespace {

constexpr DWORD kPositionError = 0xFFFFFFFFu;

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
    if (position != kPositionError && g_stream.load() == handle) g_musicPos.store(position);
    g_publishing[epoch & 1].fetch_sub(1);
}

int openStream(const char* fileName) {
    waitForPublishingPollers();
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

DWORD musicPollerThread(void*) {
    while (g_musicPolling.load() == 1) {
        Sleep(1);
        publishMusicPosition();
    }
    return 0;
}

void streamEndSync(DWORD, DWORD, DWORD, DWORD) {}
