// Per-pass scene updates: the loading screen and its hand-over, the camera
// paths of scenes 2 to 4, the zug picture's flight, the jitter offsets.
#include <cstdlib>

#include "assets/assets.h"
#include "direction/direction.h"
#include "platform/bass/bass.h"
#include "scene/scene.h"
#include "shell/state.h"

namespace {

bool g_fadeStarted = false;
DWORD g_workerThreadId = 0;

// One pass along a camera path, looking at the scene's centre object.
void followPath(IDirect3DRMAnimation* path, IDirect3DRMFrame* target) {
    path->SetTime(g_animTime);
    path->SetFrame(g_cameraFrame);
    g_cameraFrame->LookAt(target, g_sceneFrame, D3DRMCONSTRAIN_Z);
    g_animStep = g_frameDelta / 40;
    if ((float)g_keyCount > g_animTime)
        g_animTime += g_animStep;
    else
        g_animTime = 0.0f;
}

}  // namespace

void updateScene0() {
    if (g_assetsLoaded == 1) {
        if (!g_fadeStarted) {
            g_fadeStarted = true;
            g_workerThread = CreateThread(nullptr, 0, loadingFadeThread, nullptr, 0, &g_workerThreadId);
        }
        if (g_loadFadeDone == 1) {
            BASS_Free();
            startScene1();
        }
    }
    g_arrow1Frame->SetRotation(g_cameraFrame, 0.0f, 0.0f, 1.0f, -0.034f);
    g_arrow2Frame->SetRotation(g_cameraFrame, 0.0f, 0.0f, 1.0f, 0.017f);
}

void updateScene2() { followPath(g_knotAnim, g_knotFrame); }
void updateScene3() { followPath(g_boxAnim, g_boxFrame); }
void updateScene4() { followPath(g_blinAnim, g_blinFrame); }

void spinExtra() { quad4->Translate(0.0f, 0.0f, -(g_frameDelta / 5)); }

float randomRange(int a, int b) { return (float)(b + rand() % (a - b)); }
