// What the portable platform layers (ddraw, rm, bass, the dialog engine) need
// from the backend chosen at link time: presentation, the display mode, the
// audio output, failure injection and the trace. Implemented once in
// platform/live (SDL2) and once in platform/virtual (headless).
#pragma once
#include <cstdint>

#include "platform/win/win.h"

// --- Video -----------------------------------------------------------------
// Full-screen presentation of a 640 x 480 picture for `window` (the live
// backend shows it scaled to fit the desktop with black bars). False when it
// cannot be set up.
bool sysSetDisplayMode(HWND window, int width, int height, int bpp);

// Shows `width` x `height` pixels (0x00RRGGBB, rows `pitch` bytes apart) at
// (x, y) of the window's client area, then waits for the next vertical blank.
// In full screen the client area is the 640 x 480 display.
void sysPresent(HWND window, const uint32_t* pixels, int width, int height, int pitch, int x, int y);

// Full screen: shows the whole 640 x 480 display drawn larger (width x
// height, the same 4:3 shape) by the 3D device, then waits for the next
// vertical blank.
void sysPresentDetailed(HWND window, const uint32_t* pixels, int width, int height, int pitch);

// How much larger than 640 x 480 a full-screen 3D device draws: 1 to 4.
double sysRenderScale();
// Samples across and down each of those pixels: 1, or 2 (supersampling:
// smooth polygon edges, four times the drawing).
int sysRenderSamples();

// Screen position of the client area's top-left corner and its size.
void sysClientRect(HWND window, int* screenX, int* screenY, int* width, int* height);

// --- Audio -----------------------------------------------------------------
// The output pulls `frames` stereo 16-bit frames at 44,100 Hz from the mixer.
typedef void (*SysAudioMix)(int16_t* out, int frames, void* user);
// Opens the default output; false if no output can be had at all.
bool sysAudioOpen(int rate, SysAudioMix mix, void* user);
void sysAudioClose();
// Frames the listener has heard since sysAudioOpen: consumed by the device
// minus what it still buffers, interpolated between callbacks. Never goes
// backwards.
int64_t sysAudioFramesHeard();
// Between the two, the mixer callback is excluded: the audio thread is not
// inside `mix` and does not enter it until sysAudioUnlock.
void sysAudioLock();
void sysAudioUnlock();

// --- Testing and tracing -----------------------------------------------------
// True when the backend has been told to make the named step fail
// ("DirectDrawCreate", "SetCooperativeLevel", "SetDisplayMode",
// "CreateSurface:primary", "CreateSurface:offscreen", "GetAttachedSurface",
// "CreateClipper", "SetHWnd", "SetClipper", "Lock", "Lock:lost",
// "BASS_GetVersion", "BASS_Init", "AudioDevice"). Never true in the live
// program except for real failures, which the layers detect themselves.
bool sysShouldFail(const char* step);

// One line of the trace (virtual backend with a trace file); nothing live.
void sysTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Time on the performance counter's scale: 10,000,000 ticks per second, 0 at
// process start (virtual: the virtual clock).
int64_t sysTicks();
