// Sound: opening streams and publishing the music position.
#pragma once
#include "platform/win/win.h"

int openStream(const char* fileName);
DWORD musicPollerThread(void* parameter);
void streamEndSync(DWORD handle, DWORD channel, DWORD data, DWORD user);

// One poller step: g_musicPos = position of g_stream, unless the query
// failed or g_stream changed meanwhile. The second form asks `query` instead
// of BASS_ChannelGetPosition (a test makes the query slow).
void publishMusicPosition();
void publishMusicPosition(DWORD (*query)(DWORD handle));
