// Inside the web backend: what its files share, and the page's side of it
// (web.js), which runs on the browser's own thread. The show runs on a
// thread of its own (the program's main() is moved off the browser's thread),
// so it may block; the browser's thread only draws, plays and reports input.
#pragma once
#include <cstdint>

// Input from the page, in the order it came.
struct WebInput {
    enum Kind { None, Key, Press, Move, Release, Close, BoxClosed };
    Kind kind = None;
    int a = 0, b = 0;     // Key: virtual key and 1 when repeated; mouse: dialog client pixels
};
// The next input, waiting up to `timeoutMs` (0: not at all); false when none came.
bool webNextInput(WebInput* input, double timeoutMs);

extern "C" {
// Called by the page on the browser's thread.
void webInput(int kind, int a, int b);

// Implemented by the page (web.js); the `proxied` ones run on the browser's
// thread, the caller waiting for them only when said.
void webSetState(const char* state);                        // proxied; a literal
int webDesktopSize();                                       // proxied, waits: width << 16 | height
void webFullscreen();                                       // proxied
void webPresentInit(void* frame);                           // proxied: starts drawing frames (WebFrame)
void webDialogOpen(const char* caption, int width, int height);  // proxied, waits
void webDialogShow(const uint32_t* pixels, int width, int height);  // proxied, waits
void webDialogClose();                                      // proxied, waits
void webMessageBox(const char* caption, const char* text);  // proxied, waits; BoxClosed comes later
int webAudioStart(void* ring, int frames, void* state);    // proxied, waits: 1 when sound can play
void webEnded(int code);                                    // proxied, waits; stops all threads
}

// The picture the page shows at its next animation frame: RGBA bytes.
// `seq` moves on for each new picture; the page moves `vblank` on at every
// animation frame, after drawing, and keeps `periodUs`, the display's frame.
struct WebFrame {
    int32_t seq = 0;
    int32_t width = 0, height = 0;
    int32_t pixels = 0;  // address in the program's memory
    int32_t vblank = 0;
    int32_t periodUs = 16667;
};

// The ring of mixed sound the page's audio worklet plays from (audio_web.cpp).
struct WebAudioState {
    int32_t written = 0;        // frames put in the ring, ever (wraps)
    int32_t read = 0;           // frames the worklet took, ever (wraps)
    int32_t latencyFrames = 0;  // what the browser holds after the worklet
    int32_t running = 0;        // 1 once the worklet plays
};
