// Each pass ends with the 3D picture rendered and flipped, or the software
// picture copied into a locked surface and shown.
#include "display/display.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

alignas(64) uint32_t g_screenPicture[640 * 480];

namespace {

constexpr uint32_t kPictureBytes = 640 * 480 * 4;

// The picture goes into the surface as one run when its rows are 2560 bytes
// apart, row by row otherwise; never beyond the locked area.
void copyPicture(const DDSURFACEDESC& desc) {
    uint8_t* dest = (uint8_t*)desc.lpSurface;
    if (!dest) return;
    if (desc.lPitch == 2560 && desc.dwWidth >= 640 && desc.dwHeight >= 480) {
        copyBlocks64(dest, g_screenPicture, kPictureBytes);
        return;
    }
    uint32_t rows = desc.dwHeight < 480 ? desc.dwHeight : 480;
    uint32_t width = desc.dwWidth < 640 ? desc.dwWidth : 640;
    for (uint32_t y = 0; y < rows; y++)
        for (uint32_t x = 0; x < width; x++)
            ((uint32_t*)(dest + (size_t)y * desc.lPitch))[x] = g_screenPicture[y * 640 + x];
}

}  // namespace

void renderFrame(int32_t show2D, int32_t show3D) {
    updateFrameClock();
    g_sceneFrame->Move(g_frameDelta);
    if (show3D == 1) {
        DDBLTFX fx = {};
        fx.dwSize = 100;
        fx.dwFillColor = 0;
        g_backSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        g_viewport->Clear();
        g_viewport->Render(g_sceneFrame);
        g_device->Update();
    }
    if (show2D == 0) g_primarySurface->Flip(nullptr, DDFLIP_WAIT);
}

void present2DFullscreen() {
    HRESULT result = g_backSurface->Lock(nullptr, &g_surfaceDesc, DDLOCK_WAIT, nullptr);
    if (result == DDERR_SURFACELOST) {
        // The chain comes back, but this pass has nothing locked to write into.
        g_primarySurface->Restore();
        return;
    }
    if (result != DD_OK) return;
    copyPicture(g_surfaceDesc);
    g_backSurface->Unlock(nullptr);
    g_primarySurface->Flip(nullptr, DDFLIP_WAIT);
}

void present2DWindowed(HWND window) {
    if (g_backSurface->Lock(nullptr, &g_surfaceDesc, DDLOCK_WAIT, nullptr) != DD_OK) {
        showError("Lock sucks!");
        fatalExit();
    }
    copyPicture(g_surfaceDesc);
    g_backSurface->Unlock(nullptr);

    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    RECT dest = {client.left + origin.x, client.top + origin.y, client.right + origin.x, client.bottom + origin.y};
    g_primarySurface->Blt(&dest, g_backSurface, &client, DDBLT_WAIT, nullptr);
}
