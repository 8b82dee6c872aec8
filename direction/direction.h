// The score: timeline, scene starts, scene updates, fades, scan effect.
#pragma once
#include <cstdint>

#include "platform/rm/rm.h"
#include "platform/win/win.h"

extern int32_t g_scanLevel, g_scanDir;
extern float g_animTime, g_animStep;
extern float g_loadingAlpha;
extern int32_t g_jingleVolume;
extern float g_fadeAlpha1, g_fadeAlpha2, g_fadeAlpha3, g_fadeAlpha4;
extern float g_fadeSpeed1, g_fadeSpeed2, g_fadeSpeed3, g_fadeSpeed4;

void updateTimeline();

// Moves a frame out of sight, far behind the scene.
void hide(IDirect3DRMFrame* frame);
// White with an opacity of alpha (0 to 1) in the top byte.
D3DCOLOR fadeColour(float alpha);

void startScene1();
void startScene2();
void startScene3();
void startScene4();
void prepareTileQuads();

void updateScene0();
void updateScene2();
void updateScene3();
void updateScene4();
void spinExtra();
float randomRange(int a, int b);

DWORD loadingFadeThread(void* parameter);
void fadeStep1();
void fadeStep2();
void fadeStep3();
void fadeStep4();

void scanEffect(const uint32_t* source);
