// Fades: the loading screen with the jingle on a worker thread, and the four
// tiles of scene 3, one per pass on the main thread.
#include <cmath>
#include <cstring>

#include "direction/direction.h"
#include "platform/bass/bass.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

float g_loadingAlpha = 1.0f;
int32_t g_jingleVolume = 100;
float g_fadeAlpha1 = 0.9999f, g_fadeAlpha2 = 0.9999f, g_fadeAlpha3 = 0.9999f, g_fadeAlpha4 = 0.9999f;
float g_fadeSpeed1 = 0.0f, g_fadeSpeed2 = 0.0f, g_fadeSpeed3 = 0.0f, g_fadeSpeed4 = 0.0f;

D3DCOLOR fadeColour(float alpha) { return ((D3DCOLOR)(int32_t)(alpha * 255.0) << 24) | 0x00FFFFFF; }

namespace {

int32_t floatBits(float value) {
    int32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// One pass of a tile: it fades and recedes from the camera, faster and faster.
void fadeTile(IDirect3DRMMeshBuilder* quad, float& alpha, float& speed) {
    Sleep(pauseMilliseconds(50.0, g_frameDelta));
    alpha = alpha - g_frameDelta / 50;
    if (alpha > 0 && floatBits(alpha) < floatBits(1.0f)) quad->SetColor(fadeColour(alpha));
    quad->Translate(0.0f, 0.0f, speed);
    speed = speed + g_frameDelta / 10;
}

}  // namespace

DWORD loadingFadeThread(void* /*parameter*/) {
    g_loadFadeDone = 0;
    while (g_loadingAlpha >= 0.005) {
        D3DCOLOR colour = fadeColour(g_loadingAlpha);
        quad1->SetColor(colour);
        quad2->SetColor(colour);
        quad3->SetColor(colour);
        BASS_SetVolume(g_jingleVolume);
        Sleep(100);
        g_jingleVolume = (int32_t)std::trunc(g_jingleVolume - 0.5);
        g_loadingAlpha = g_loadingAlpha - 0.005;
    }
    g_loadFadeDone = 1;
    ExitThread(0);
}

void fadeStep1() { fadeTile(quad1, g_fadeAlpha1, g_fadeSpeed1); }
void fadeStep2() { fadeTile(quad2, g_fadeAlpha2, g_fadeSpeed2); }
void fadeStep3() { fadeTile(quad3, g_fadeAlpha3, g_fadeSpeed3); }
void fadeStep4() { fadeTile(quad4, g_fadeAlpha4, g_fadeSpeed4); }
