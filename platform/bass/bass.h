// Our audio library, with the calls and numbers of the old BASS 0.8 that the
// show imports: streams from MP3 or WAV files decoded to 16-bit stereo at
// 44,100 Hz, looping playback, the position as heard, master volume and
// playback rate. Output through the backend (platform/backend.h).
#pragma once
#include <cstdint>

#include "platform/win/win.h"

typedef DWORD HSTREAM;
typedef DWORD HSYNC;
typedef void (*SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, DWORD user);

constexpr DWORD BASS_SYNC_END = 2;
constexpr DWORD BASS_SAMPLE_LOOP = 4;
constexpr DWORD BASS_DEVICE_DEFAULT = 0xFFFFFFFFu;  // -1

DWORD BASS_GetVersion();
BOOL BASS_Init(int device, DWORD rate, DWORD flags, HWND window);
BOOL BASS_Free();
BOOL BASS_Start();
BOOL BASS_SetVolume(DWORD volume);
// file: path with '\' or '/' separators.
HSTREAM BASS_StreamCreateFile(BOOL memory, const void* file, DWORD offset, DWORD length, DWORD flags);
BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags);
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, DWORD param, SYNCPROC proc, DWORD user);
// Length of the stream's decoded sound in bytes of 16-bit stereo data;
// 0xFFFFFFFF (-1) for a bad handle.
DWORD BASS_StreamGetLength(HSTREAM handle);
// Bytes of 16-bit stereo data heard so far; 0xFFFFFFFF (-1) for a bad handle.
DWORD BASS_ChannelGetPosition(DWORD handle);
// freq: samples per second (-1 leaves it); volume 0..100 (-1 leaves it);
// pan -100..100 (-101 leaves it).
BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan);
