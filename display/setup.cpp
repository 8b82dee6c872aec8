// Display set-up for full screen and for a window, and the fatal exit.
#include <cstring>

#include "display/display.h"
#include "shell/shell.h"
#include "shell/state.h"

IDirectDraw* g_ddraw = nullptr;
IDirectDrawSurface* g_primarySurface = nullptr;
IDirectDrawSurface* g_backSurface = nullptr;
IDirectDrawClipper* g_clipper = nullptr;
IDirect3DRM* g_d3drm = nullptr;
IDirect3DRM2* g_d3drm2 = nullptr;
IDirect3DRMDevice2* g_device = nullptr;
DDSURFACEDESC g_surfaceDesc;

namespace {

// A failed step: its message in the error box, then the fatal exit.
void check(HRESULT result, const char* message) {
    if (result != DD_OK) {
        showError(message);
        fatalExit();
    }
}

void createRoots() {
    Direct3DRMCreate(&g_d3drm);
    g_d3drm->QueryInterface(IID_IDirect3DRM2, (void**)&g_d3drm2);
}

}  // namespace

void initDisplayFullscreen(HWND window) {
    check(DirectDrawCreate(nullptr, &g_ddraw, nullptr), "Cannot create DirectDraw object!");
    createRoots();
    check(g_ddraw->SetCooperativeLevel(window, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN),
          "Cannot set exclusive cooperative level!");
    check(g_ddraw->SetDisplayMode(640, 480, 32), "Set Display Mode failed!");

    memset(&g_surfaceDesc, 0, sizeof g_surfaceDesc);
    g_surfaceDesc.dwSize = 108;
    g_surfaceDesc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    g_surfaceDesc.dwBackBufferCount = 1;
    g_surfaceDesc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    check(g_ddraw->CreateSurface(&g_surfaceDesc, &g_primarySurface, nullptr), "Cannot create primary surface!");

    DDSCAPS caps;
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    check(g_primarySurface->GetAttachedSurface(&caps, &g_backSurface), "Cannot Get Attached Surface!");

    g_d3drm2->CreateDeviceFromSurface(&IID_IDirect3DHALDevice, g_ddraw, g_backSurface, &g_device);
    configureDevice();
}

void initDisplayWindowed(HWND window) {
    check(DirectDrawCreate(nullptr, &g_ddraw, nullptr), "Cannot create DirectDraw object!");
    createRoots();
    // The same words as in full screen, although the level is the normal one.
    check(g_ddraw->SetCooperativeLevel(window, DDSCL_NORMAL), "Cannot set exclusive cooperative level!");

    memset(&g_surfaceDesc, 0, sizeof g_surfaceDesc);
    g_surfaceDesc.dwSize = 108;
    g_surfaceDesc.dwFlags = DDSD_CAPS;
    g_surfaceDesc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY;
    check(g_ddraw->CreateSurface(&g_surfaceDesc, &g_primarySurface, nullptr), "Cannot create primary surface!");

    g_surfaceDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    g_surfaceDesc.dwWidth = 640;
    g_surfaceDesc.dwHeight = 480;
    g_surfaceDesc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    check(g_ddraw->CreateSurface(&g_surfaceDesc, &g_backSurface, nullptr), "Cannot create back surface!");

    check(g_ddraw->CreateClipper(0, &g_clipper, nullptr), "Cannot create clipper!");
    check(g_clipper->SetHWnd(0, window), "Cannot set Clipper to hWnd!");
    check(g_primarySurface->SetClipper(g_clipper), "Cannot attach front buffer!");

    g_d3drm2->CreateDeviceFromClipper(g_clipper, &IID_IDirect3DHALDevice, 640, 480, &g_device);
    configureDevice();
}

void configureDevice() {
    g_device->SetRenderMode(D3DRMRENDERMODE_BLENDEDTRANSPARENCY | D3DRMRENDERMODE_SORTEDTRANSPARENCY);
    g_device->SetQuality(D3DRMRENDER_GOURAUD);
    g_device->SetDither(TRUE);
    g_device->SetTextureQuality(D3DRMTEXTURE_MIPLINEAR);
}

void fatalExit() {
    // The show could not be shown: the process ends with status 1, also
    // through the window's destruction below.
    g_exitCode = 1;
    // Each object once, while it is still valid; the surfaces before the
    // object that made them.
    if (g_backSurface) g_backSurface->Release();
    g_backSurface = nullptr;
    if (g_primarySurface) g_primarySurface->Release();
    g_primarySurface = nullptr;
    if (g_ddraw) g_ddraw->Release();
    g_ddraw = nullptr;
    DestroyWindow(g_hwnd);
    ExitProcess(g_exitCode);
}
