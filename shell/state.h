// The show state: process-wide variables shared by every subsystem. Flags are
// compared with exact values (1 or 0), never merely tested for non-zero.
// Words shared between threads are 32-bit atomics.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/win/win.h"

extern int32_t g_fullscreen;        // 1 full screen, 0 windowed
extern HWND g_hwnd;                 // the main window
extern int32_t g_exitCode;          // 0; 1 once a fatal display error ends the show
extern int32_t g_scene;             // 0 loading, 1 to 4
extern int32_t g_sceneReady;        // camera-path update of the scene runs
extern int32_t g_show2D;            // the software picture is presented
extern int32_t g_show3D;            // the retained-mode scene is rendered
extern int32_t g_shake;             // overlay jitter
extern int32_t g_spin;              // scene 1: tiles drift apart
extern int32_t g_extraSpin;         // scene 2: the zug picture flies at the viewer
extern int32_t g_finale;            // scene 4: closing fade
extern int32_t g_scanA;             // interlude A
extern int32_t g_scanB;             // interlude B
extern int32_t g_fadeStep;          // scene 3: tile fade 0 to 4
extern int32_t g_cue;               // last cue passed
extern int32_t g_timelineDone;      // set by the last cue
extern std::atomic<uint32_t> g_musicPos;     // stream position in bytes
extern std::atomic<int32_t> g_musicPolling;  // pollers run while 1
extern std::atomic<int32_t> g_assetsLoaded;  // loader finished
extern std::atomic<int32_t> g_loadFadeDone;  // loading fade finished
extern float g_frameDelta;          // previous pass in hundredths of a second
extern std::atomic<uint32_t> g_stream;        // current audio stream

extern HANDLE g_pollerThread;       // last position poller started
extern HANDLE g_workerThread;       // last loader or fade thread started
