// The timeline: 27 cues keyed on the byte position of the playing stream.
#include <cstdio>

#include "direction/cues.h"
#include "direction/direction.h"
#include "display/display.h"
#include "scene/scene.h"
#include "shell/state.h"

namespace {

void fireCue(int k) {
    switch (k) {
    case 1:
        g_shake = 1;
        g_zagFrame->AddVisual(meshZag);
        g_tilesFrame1->AddVisual(quad5);
        g_tilesFrame1->AddVisual(quad6);
        break;
    case 2:
        g_zlinFrame->AddVisual(meshZlin);
        g_tilesFrame1->AddVisual(quad7);
        break;
    case 3:
        g_stFrame->AddVisual(meshSt);
        g_tilesFrame1->AddVisual(quad8);
        break;
    case 4:
        g_stShellFrame->AddVisual(meshStShell);
        g_tilesFrame1->AddVisual(quad9);
        break;
    case 5:
        g_show3D = 0;
        g_scanA = 1;
        g_show2D = 1;
        break;
    case 6:
        g_scanA = 0;
        g_scanLevel = 0;
        g_scanDir = 1;
        clearBuffer(g_screenPicture, 1228800);
        g_show3D = 1;
        g_show2D = 0;
        g_spin = 1;
        break;
    case 7:
        hide(g_tilesFrame1);
        startScene2();
        g_knotFrame->AddVisual(meshKnot);
        g_zugFrame->AddVisual(quad4);
        break;
    case 8:
    case 10:
        quad4->Translate(0.0f, 0.0f, -5.0f);
        break;
    case 9:
    case 11:
        quad4->Translate(0.0f, 0.0f, 5.0f);
        break;
    case 12:
        g_shake = 0;
        g_extraSpin = 1;
        break;
    case 13:
        g_extraSpin = 0;
        hide(g_zugFrame);
        break;
    case 14:
        g_show3D = 0;
        g_scanB = 1;
        g_show2D = 1;
        break;
    case 15:
        g_scanB = 0;
        g_show3D = 1;
        g_show2D = 0;
        break;
    case 16:
        startScene3();
        g_boxFrame->AddVisual(meshBox);
        g_boxFrame->AddVisual(meshPyr);
        break;
    case 17:
        prepareTileQuads();
        g_tilesFrame2->AddVisual(quad1);
        break;
    case 18:
        g_fadeStep = 1;
        break;
    case 19:
        g_tilesFrame2->AddVisual(quad2);
        break;
    case 20:
        g_fadeStep = 2;
        break;
    case 21:
        g_tilesFrame2->AddVisual(quad3);
        break;
    case 22:
        g_fadeStep = 3;
        break;
    case 23:
        g_tilesFrame2->AddVisual(quad4);
        break;
    case 24:
        g_fadeStep = 4;
        break;
    case 25:
        hide(g_tilesFrame2);
        startScene4();
        g_blinFrame->AddVisual(meshBlin);
        g_blinFrame->AddVisual(meshFlower);
        break;
    case 26:
        g_shake = 1;
        break;
    case 27:
        g_sceneReady = 0;
        g_teFrame->AddVisual(quad10);
        g_finale = 1;
        break;
    }
}

}  // namespace

void updateTimeline() {
    if (g_timelineDone != 0) return;
    for (int k = 1; k <= 27; k++) {
        uint32_t position = g_musicPos.load();
        if (position >= kCuePositions[k - 1] && g_timelineDone == 0 && g_cue == k - 1) {
            char line[48];
            snprintf(line, sizeof line, "cue %d at %u", k, position);
            OutputDebugStringA(line);
            if (k < 27) {
                g_cue = k;
            } else {
                g_timelineDone = 1;
            }
            fireCue(k);
        }
    }
}
