// The main loop: one window message per turn when one waits, otherwise one
// pass of the show, whose blocks run in a fixed order.
#include <cmath>
#include <cstdint>

#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"
#include "platform/bass/bass.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

float g_shakeX = 0.0f;
float g_shakeY = 0.0f;
float g_finalAlpha = 0.5f;
int32_t g_musicRate = 44100;

DWORD pauseMilliseconds(double numerator, float delta) {
    // A pass measured as taking no time (or a clock gone wrong) gives no
    // pause; the quotient is bounded so that the conversion stays defined.
    if (!(delta > 0.0f)) return 0;
    double q = std::trunc(numerator / (double)delta);
    if (q > 9.0e18) q = 9.0e18;
    return (DWORD)(uint64_t)(int64_t)q;
}

namespace {

// Places an overlay frame at a random offset in the camera's coordinates.
void jitter(IDirect3DRMFrame* frame, int lo, int hi) {
    g_shakeX = randomRange(lo, hi) / 10.0;
    g_shakeY = randomRange(lo, hi) / 10.0;
    frame->SetPosition(g_cameraFrame, g_shakeX, g_shakeY, 0.0f);
}

void jitterWithPause(double pause, IDirect3DRMFrame* frame, int lo, int hi) {
    Sleep(pauseMilliseconds(pause, g_frameDelta));
    jitter(frame, lo, hi);
}

void slideTiles() {
    float d = g_frameDelta;
    quad5->Translate(d / 10.0, 0, 0);
    quad6->Translate(0, -(d / 10.0), 0);
    quad7->Translate(d * 0.125, 0, 0);
    quad8->Translate(d * 0.125, 0, 0);
    quad9->Translate(-(d / 10.0), 0, 0);
}

// One step of the finale: the two st meshes fade out, the music slows down,
// and the process ends after the rate of 100.
void finaleStep() {
    if (!(g_finalAlpha < 0.0f)) {
        D3DCOLOR colour = fadeColour(g_finalAlpha);
        meshSt->SetColor(colour);
        meshStShell->SetColor(colour);
        g_finalAlpha = g_finalAlpha + (-0.005);
    }
    BASS_ChannelSetAttributes(g_stream, g_musicRate, -1, -101);
    Sleep(1);
    g_musicRate = g_musicRate - 100;
    if (!(g_musicRate > 0)) ExitProcess(0);
}

}  // namespace

void runShowPass() {
    // The software picture (loading fade-out, interludes), when shown.
    if (g_show2D == 1) {
        if (g_fullscreen == 1)
            present2DFullscreen();
        else
            present2DWindowed(g_hwnd);
    }
    // The loading screen: the arrows turn; once everything is loaded it
    // fades out, then scene 1 starts.
    if (g_show3D == 1 && g_scene == 0) updateScene0();
    // Scene 1: the tiles shake (with a pause), the first interlude's scan,
    // then the tiles drift apart.
    if (g_show3D == 1 && g_scene == 1 && g_shake == 1) jitterWithPause(40.0, g_tilesFrame1, 1, 5);
    if (g_scene == 1 && g_scanA == 1) scanEffect(g_screamPicture);
    if (g_show3D == 1 && g_scene == 1 && g_spin == 1) {
        jitter(g_tilesFrame1, 1, 5);
        slideTiles();
    }
    // Scene 2: the camera path, alone or after the zug tile's shake, the
    // path again with the zug picture flying at the viewer, the second
    // interlude's scan.
    if (g_show3D == 1 && g_scene == 2 && g_sceneReady == 1 && g_shake == 0) updateScene2();
    if (g_show3D == 1 && g_scene == 2 && g_sceneReady == 1 && g_shake == 1) {
        jitterWithPause(10.0, g_zugFrame, 1, 3);
        updateScene2();
    }
    if (g_show3D == 1 && g_scene == 2 && g_sceneReady == 1 && g_extraSpin == 1 && g_scanB == 0) {
        updateScene2();
        spinExtra();
    }
    if (g_scene == 2 && g_scanB == 1) scanEffect(g_girlsPicture);
    // Scene 3: the camera path, after one pass of the tile fading now (if any).
    if (g_show3D == 1 && g_scene == 3 && g_sceneReady == 1 && g_fadeStep == 0) updateScene3();
    if (g_show3D == 1 && g_scene == 3 && g_sceneReady == 1 && g_fadeStep == 1) {
        fadeStep1();
        updateScene3();
    }
    if (g_show3D == 1 && g_scene == 3 && g_sceneReady == 1 && g_fadeStep == 2) {
        fadeStep2();
        updateScene3();
    }
    if (g_show3D == 1 && g_scene == 3 && g_sceneReady == 1 && g_fadeStep == 3) {
        fadeStep3();
        updateScene3();
    }
    if (g_show3D == 1 && g_scene == 3 && g_sceneReady == 1 && g_fadeStep == 4) {
        fadeStep4();
        updateScene3();
    }
    // Scene 4: the camera path, after the te tile's shake when it shakes;
    // then the finale's fade and slow-down.
    if (g_show3D == 1 && g_scene == 4 && g_sceneReady == 1 && g_shake == 0) updateScene4();
    if (g_show3D == 1 && g_scene == 4 && g_shake == 1) {
        jitterWithPause(10.0, g_teFrame, 1, 3);
        if (g_sceneReady == 1) updateScene4();
    }
    if (g_show3D == 1 && g_scene == 4 && g_finale == 1) finaleStep();
    // Cues due at the music's position, then the frame.
    updateTimeline();
    renderFrame(g_show2D, g_show3D);
}

int runMainLoop() {
    MSG msg;
    while (true) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (GetMessageA(&msg, nullptr, 0, 0) == 0) return (int)msg.wParam;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            runShowPass();
        }
    }
}
