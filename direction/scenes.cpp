// Scene starts: scene number and flags, frames of the previous scene out of
// sight, new textures for the meshes that stay, camera and quads.
#include <cstdio>

#include "assets/assets.h"
#include "audio/audio.h"
#include "direction/cues.h"
#include "direction/direction.h"
#include "platform/bass/bass.h"
#include "scene/scene.h"
#include "shell/state.h"

float g_animTime = 0.0f;
float g_animStep = 0.0f;

namespace {

// Tile edges of the 3 x 3 sheet, as single-precision decimals.
constexpr float kTileEdge[4] = {0.0f, 0.333333f, 0.666666f, 1.0f};

void rotate(IDirect3DRMFrame* frame, float x, float y, float z, float theta) {
    frame->SetRotation(g_sceneFrame, x, y, z, theta);
}

void mapTile(int n, IDirect3DRMMeshBuilder* quad) {
    int row = (n - 1) / 3, column = (n - 1) % 3;
    quad->SetTextureCoordinates(0, kTileEdge[column], kTileEdge[row + 1]);
    quad->SetTextureCoordinates(1, kTileEdge[column], kTileEdge[row]);
    quad->SetTextureCoordinates(2, kTileEdge[column + 1], kTileEdge[row]);
    quad->SetTextureCoordinates(3, kTileEdge[column + 1], kTileEdge[row + 1]);
}

void mapWholePicture(IDirect3DRMMeshBuilder* quad) {
    quad->SetTextureCoordinates(0, 0.0f, 1.0f);
    quad->SetTextureCoordinates(1, 0.0f, 0.0f);
    quad->SetTextureCoordinates(2, 1.0f, 0.0f);
    quad->SetTextureCoordinates(3, 1.0f, 1.0f);
}

// The common start of scenes 2 to 4.
void beginScene(int number) {
    g_sceneReady = 1;
    g_scene = number;
    g_animTime = 0.0f;
    g_cameraFrame->SetPosition(g_sceneFrame, 0.0f, 0.0f, 30000.0f);
}

void traceScene(int number) {
    char line[32];
    snprintf(line, sizeof line, "scene %d", number);
    OutputDebugStringA(line);
}

}  // namespace

void hide(IDirect3DRMFrame* frame) { frame->SetPosition(g_sceneFrame, 0.0f, 0.0f, -30000.0f); }

void startScene1() {
    traceScene(1);
    g_assetsLoaded = 0;
    g_sceneReady = 0;
    g_scene = 1;
    hide(g_loadingFrame);
    hide(g_arrow1Frame);
    hide(g_arrow2Frame);
    buildZlin();
    openStream("DATA\\music.mp3");
    g_musicPos = 0;
    // A music too short for the show plays once; a clock then carries the show on.
    bool lasts = musicLastsTheShow("DATA\\music.mp3", kShowMusicBytes);
    BASS_StreamPlay(g_stream, 0, lasts ? BASS_SAMPLE_LOOP : 0);
    startMusicPoller();
    g_cameraFrame->SetPosition(g_sceneFrame, 0.0f, 0.0f, -150.0f);
    rotate(g_zagFrame, 0, 1, 0, -0.017f);
    rotate(g_zlinFrame, 0, 1, 0, 0.017f);
    rotate(g_stFrame, 0, 0, 1, -0.017f);
    rotate(g_stShellFrame, 0, 0, 1, 0.017f);
    quad5->SetTexture(tex123);
    quad5->Translate(-6, 5, 20);
    quad6->SetTexture(tex123);
    quad6->Translate(-5, 4, 20);
    quad7->SetTexture(tex123);
    quad7->Translate(5, 0, 20);
    quad8->SetTexture(tex123);
    quad8->Translate(-5, -4, 20);
    quad9->SetTexture(tex123);
    quad9->Translate(6, -7, 20);
    mapTile(5, quad5);
    mapTile(6, quad6);
    mapTile(7, quad7);
    mapTile(8, quad8);
    mapTile(9, quad9);
}

void startScene2() {
    traceScene(2);
    beginScene(2);
    hide(g_zagFrame);
    hide(g_zlinFrame);
    meshSt->SetTexture(texText2);
    meshStShell->SetTexture(texText2);
    quad4->SetTexture(texZug);
    quad4->Translate(0, 0, 10);
    mapWholePicture(quad4);
    rotate(g_stFrame, 0, 1, 0, -0.017f);
    rotate(g_stShellFrame, 0, 1, 0, 0.017f);
}

void startScene3() {
    traceScene(3);
    beginScene(3);
    hide(g_knotFrame);
    meshSt->SetTexture(texText4);
    meshStShell->SetTexture(texText4);
}

void startScene4() {
    traceScene(4);
    beginScene(4);
    hide(g_boxFrame);
    hide(g_spareFrame);
    meshSt->SetTexture(texText1);
    meshStShell->SetTexture(texText1);
    quad10->SetTexture(texTe);
    quad10->Translate(0, 0, 10);
    mapWholePicture(quad10);
}

void prepareTileQuads() {
    quad1->SetTexture(tex123);
    quad2->SetTexture(tex123);
    quad3->SetTexture(tex123);
    quad4->SetTexture(tex123);
    quad1->SetColor(0xFFFFFFFF);
    quad2->SetColor(0xFFFFFFFF);
    quad3->SetColor(0xFFFFFFFF);
    quad1->Translate(10, 5, -30);
    quad2->Translate(0, 0, -10);
    quad3->Translate(0, 0, -10);
    quad1->Translate(2, 2, 15);
    quad2->Translate(-3, 3, 15);
    quad3->Translate(1, -1, 15);
    quad4->Translate(-1, 1, 15);
    mapTile(1, quad1);
    mapTile(2, quad2);
    mapTile(3, quad3);
    mapTile(4, quad4);
}
