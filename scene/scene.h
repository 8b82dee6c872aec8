// The scene graph built once at start, and the object and animation builders.
#pragma once
#include "platform/rm/rm.h"

extern IDirect3DRMFrame *g_sceneFrame, *g_cameraFrame, *g_loadingFrame, *g_arrow1Frame, *g_arrow2Frame,
    *g_zagFrame, *g_zlinFrame, *g_stFrame, *g_stShellFrame, *g_knotFrame, *g_boxFrame, *g_spareFrame,
    *g_blinFrame, *g_tilesFrame2, *g_zugFrame, *g_tilesFrame1, *g_teFrame;
extern IDirect3DRMMeshBuilder *quad1, *quad2, *quad3, *meshZag, *meshZlin, *meshSt, *meshStShell, *meshKnot,
    *meshBox, *meshPyr, *meshBlin, *meshFlower, *quad4, *quad5, *quad6, *quad7, *quad8, *quad9, *quad10;
extern IDirect3DRMViewport* g_viewport;

extern IDirect3DRMMaterial* g_material;
extern IDirect3DRMWrap* g_wrap;
extern IDirect3DRMLight* g_light;
extern IDirect3DRMFrame* g_lightFrame;
extern IDirect3DRMAnimation *g_knotAnim, *g_boxAnim, *g_blinAnim;

void buildSceneGraph();

void buildZag();
void buildZlin();
void buildSt();
void buildKnot();
void buildBox();
void buildPyr();
void buildBlin();
void buildFlower();
void buildQuads();
void buildKnotAnim();
void buildBoxAnim();
void buildBlinAnim();
