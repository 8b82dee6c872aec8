#include "shell/state.h"

int32_t g_fullscreen = 1;
int32_t g_exitCode = 0;
HWND g_hwnd = nullptr;
int32_t g_scene = 0;
int32_t g_sceneReady = 0;
int32_t g_show2D = 0;
int32_t g_show3D = 1;
int32_t g_shake = 0;
int32_t g_spin = 0;
int32_t g_extraSpin = 0;
int32_t g_finale = 0;
int32_t g_scanA = 0;
int32_t g_scanB = 0;
int32_t g_fadeStep = 0;
int32_t g_cue = 0;
int32_t g_timelineDone = 0;
std::atomic<uint32_t> g_musicPos{0};
std::atomic<int32_t> g_musicPolling{0};
std::atomic<int32_t> g_assetsLoaded{0};
std::atomic<int32_t> g_loadFadeDone{0};
float g_frameDelta = 0.0f;
std::atomic<uint32_t> g_stream{0};
HANDLE g_pollerThread = nullptr;
HANDLE g_workerThread = nullptr;
