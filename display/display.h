// Display set-up, frame clock, rendering and presentation, block copy and clear.
#pragma once
#include <cstdint>

#include "platform/ddraw/ddraw.h"
#include "platform/rm/rm.h"

extern IDirectDraw* g_ddraw;
extern IDirectDrawSurface* g_primarySurface;
extern IDirectDrawSurface* g_backSurface;
extern IDirectDrawClipper* g_clipper;
extern IDirect3DRM* g_d3drm;
extern IDirect3DRM2* g_d3drm2;
extern IDirect3DRMDevice2* g_device;
extern DDSURFACEDESC g_surfaceDesc;
extern int64_t g_lastCounter;
extern uint32_t g_screenPicture[640 * 480];

void initDisplayFullscreen(HWND window);
void initDisplayWindowed(HWND window);
void configureDevice();
[[noreturn]] void fatalExit();

void updateFrameClock();

void renderFrame(int32_t show2D, int32_t show3D);
void present2DFullscreen();
void present2DWindowed(HWND window);
void copyBlocks64(void* destination, const void* source, uint32_t count);
void clearBuffer(void* destination, uint32_t count);
