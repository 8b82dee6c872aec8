// Everything a backend supplies, and nothing else: its native windows and
// their events, its presentation, its dialog window, its clock and its sound
// output. The portable layers (the Windows slice in platform/win, ddraw, rm,
// bass) call these; one backend is linked into each program: platform/live
// (SDL2), platform/virtual (headless, virtual time), platform/null (the
// porting template). All are called on the main thread unless said otherwise.
#pragma once
#include <cstdint>

#include "platform/render_scale.h"
#include "platform/win/dialog.h"
#include "platform/win/win.h"

// The backend's own part of a window (its native window, renderer, ...).
struct SysWindow;

// --- Windows and events --------------------------------------------------------
// CreateWindowExA: makes the native window for `owner` with the outer
// rectangle asked for, hidden; null when it cannot (said in one line).
SysWindow* sysWindowCreate(HWND owner, const char* title, DWORD style, DWORD exStyle, int x, int y, int width,
                           int height);
// ShowWindow: shows and raises it, ready to present.
void sysWindowShow(SysWindow* window);
// DestroyWindow, after the window procedure has had WM_DESTROY.
void sysWindowDestroy(SysWindow* window);
// The client area in screen coordinates.
void sysWindowClientArea(SysWindow* window, RECT* screen);
// The desktop's size in pixels; false when there is no display.
bool sysDesktopSize(int* width, int* height);
// ShowCursor: the pointer over the program's windows shown or hidden.
void sysShowCursor(bool show);
// PeekMessageA and GetMessageA: native input since the last call becomes
// messages through winQueueMessage (platform/win/wincore.h).
void sysPumpEvents();
// GetMessageA with nothing queued: waits until input may have come (a
// timeout is fine; the core pumps and asks again).
void sysWaitEvents();
// MessageBoxA, after the core has written the line to stderr: shows the box
// where the backend can and returns when it is closed.
void sysMessageBox(const char* caption, const char* text, UINT type);

// --- Presentation -------------------------------------------------------------
// Full-screen presentation of the 640 x 480 picture, scaled to fit the
// window with black bars; false when it cannot be set up.
bool sysSetDisplayMode(SysWindow* window, int width, int height, int bpp);
// Each presentation: `width` x `height` pixels (0x00RRGGBB, rows `pitch`
// bytes apart) at (x, y) of the client area (in full screen, of the 640 x
// 480 display), then waits for the next vertical blank.
void sysPresent(SysWindow* window, const uint32_t* pixels, int width, int height, int pitch, int x, int y);
// Full screen: the whole display drawn larger (same 4:3 shape) by the 3D
// device, then the wait for the next vertical blank.
void sysPresentDetailed(SysWindow* window, const uint32_t* pixels, int width, int height, int pitch);
// At the start of each full-screen 3D pass: how much larger than 640 x 480
// it draws (1 to kMaxRenderScale), and 1, or 2 for smooth edges (four coverage
// samples a pixel).
double sysRenderScale();
int sysRenderSamples();

// --- The settings dialog's window ------------------------------------------------
// DialogBoxParamA: a window of `width` x `height` client pixels titled
// `caption`, at (x, y) where it fits on the desktop; false when it cannot.
bool sysDialogOpen(const char* caption, int x, int y, int width, int height);
// After each change: the dialog as painted, width x height, 0x00RRGGBB.
void sysDialogShow(const uint32_t* pixels);
// Waits for the next input to the dialog (positions in client pixels);
// false when none can come.
bool sysDialogInput(const Dialog& dialog, DialogInput* input);
void sysDialogClose();

// --- Clock and threads ------------------------------------------------------------
// 10,000,000 ticks per second, 0 at the start; any thread.
int64_t sysTicks();
// Sleep: the calling thread waits until sysTicks() reaches `ticks`; any thread.
void sysSleepUntil(int64_t ticks);
// CreateThread, on the creating thread before the new one starts: a token
// for the two calls below (may be null).
void* sysThreadCreated();
// First and last thing on the new thread, around its work.
void sysThreadBegins(void* token);
void sysThreadEnds(void* token);

// --- Sound output -----------------------------------------------------------------
// The output pulls `frames` stereo 16-bit frames at 44,100 Hz from the mixer
// on its own thread, with the audio lock held.
typedef void (*SysAudioMix)(int16_t* out, int frames, void* user);
// BASS_Init: opens the default output; false if no output can be had at all.
// Any thread, like the four below.
bool sysAudioOpen(int rate, SysAudioMix mix, void* user);
// BASS_Free and the end of the process: fades out over 5 ms, then closes.
void sysAudioClose();
// Frames the listener has heard since sysAudioOpen; never goes backwards.
int64_t sysAudioFramesHeard();
// The audio lock: while held, the mixer callback is not running.
void sysAudioLock();
void sysAudioUnlock();

// --- The end -----------------------------------------------------------------------
// ExitProcess, once, on the thread that ends the process, before the core
// flushes the standard streams and exits with `code`: closes the sound
// output and the native windows.
void sysShutdown(int code);
