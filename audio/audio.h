// Sound: opening streams and publishing the music position.
#pragma once
#include "platform/win/win.h"

int openStream(const char* fileName);
DWORD musicPollerThread(void* parameter);
// Sets g_musicPolling to 1 and starts a position poller (g_pollerThread).
void startMusicPoller();

// Whether the music just opened (g_stream) lasts `neededBytes`. When it does
// not, the position poller publishes a clock instead of the music's position:
// with no stream at all, from 0 now (the scene's start); with a short music
// (said in one line naming `fileName`), from the music's length once it has
// played to its end. Call right after resetting g_musicPos; play a short
// music without looping so that it stops at its end.
bool musicLastsTheShow(const char* fileName, DWORD neededBytes);
void streamEndSync(DWORD handle, DWORD channel, DWORD data, DWORD user);

// One poller step: g_musicPos = position of g_stream, unless the query
// failed or g_stream changed meanwhile. The second form asks `query` instead
// of BASS_ChannelGetPosition (a test makes the query slow).
void publishMusicPosition();
void publishMusicPosition(DWORD (*query)(DWORD handle));
