// DirectDraw as the show uses it: a display object, surfaces in system memory
// (640 x 480, 32-bit 0x00RRGGBB), a clipper bound to the main window, lock,
// colour fill and copy blits, and flip. Presentation goes through the
// backend (platform/backend.h).
#pragma once
#include "platform/win/win.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
};

constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_GENERIC = (HRESULT)0x80004005u;
constexpr HRESULT DDERR_INVALIDPARAMS = (HRESULT)0x80070057u;
constexpr HRESULT DDERR_SURFACELOST = (HRESULT)0x887601C2u;
constexpr HRESULT DDERR_NOTFLIPPABLE = (HRESULT)0x887600E6u;
constexpr HRESULT DDERR_SURFACEBUSY = (HRESULT)0x887601B2u;

constexpr DWORD DDSCL_FULLSCREEN = 0x1;
constexpr DWORD DDSCL_NORMAL = 0x8;
constexpr DWORD DDSCL_EXCLUSIVE = 0x10;

constexpr DWORD DDSD_CAPS = 0x1;
constexpr DWORD DDSD_HEIGHT = 0x2;
constexpr DWORD DDSD_WIDTH = 0x4;
constexpr DWORD DDSD_PITCH = 0x8;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x20;
constexpr DWORD DDSD_LPSURFACE = 0x800;

constexpr DWORD DDSCAPS_BACKBUFFER = 0x4;
constexpr DWORD DDSCAPS_COMPLEX = 0x8;
constexpr DWORD DDSCAPS_FLIP = 0x10;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr DWORD DDSCAPS_3DDEVICE = 0x2000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x4000;

constexpr DWORD DDLOCK_WAIT = 0x1;
constexpr DWORD DDFLIP_WAIT = 0x1;
constexpr DWORD DDBLT_COLORFILL = 0x400;
constexpr DWORD DDBLT_WAIT = 0x1000000;

struct DDSCAPS {
    DWORD dwCaps;
};

struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    DWORD dwRGBBitCount;
    DWORD dwRBitMask, dwGBitMask, dwBBitMask, dwRGBAlphaBitMask;
};

// The fields the show fills and reads; dwSize is 108 as for the old record.
struct DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    LONG lPitch;
    DWORD dwBackBufferCount;
    void* lpSurface;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
};

struct DDBLTFX {
    DWORD dwSize;
    DWORD dwFillColor;
};

struct IDirectDrawClipper;

struct IDirectDrawSurface {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** out) = 0;
    virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
    // Whole surface only (rect must be null).
    virtual HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE event) = 0;
    virtual HRESULT Unlock(void* rect) = 0;
    virtual HRESULT Blt(RECT* dest, IDirectDrawSurface* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) = 0;
    virtual HRESULT Flip(IDirectDrawSurface* override, DWORD flags) = 0;
    virtual HRESULT Restore() = 0;
    virtual HRESULT IsLost() = 0;

protected:
    virtual ~IDirectDrawSurface() = default;
};

struct IDirectDrawClipper {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT SetHWnd(DWORD flags, HWND window) = 0;
    virtual HRESULT GetHWnd(HWND* window) = 0;

protected:
    virtual ~IDirectDrawClipper() = default;
};

struct IDirectDraw {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp) = 0;
    virtual HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** out, void* outer) = 0;
    virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** out, void* outer) = 0;

protected:
    virtual ~IDirectDraw() = default;
};

HRESULT DirectDrawCreate(GUID* driver, IDirectDraw** out, void* outer);

// For the renderer: the memory of a surface that a device draws into, and the
// window a clipper is bound to. Null / 0 when there is none.
uint32_t* ddSurfacePixels(IDirectDrawSurface* surface, int* width, int* height, int* pitch);
// For a device about to draw every pixel of the surface: a colour fill of the
// whole surface still waiting to be written is handed over (its colour in
// *colour, true), for the device to write as it draws. False when none waits.
bool ddTakeFill(IDirectDrawSurface* surface, uint32_t* colour);
// The surface's picture drawn larger (width x height, 4:3) by a device: the
// next flip shows it instead of the surface, unless the surface is written
// (locked or blitted to) first. The pixels must stay until that flip.
void ddSetDetail(IDirectDrawSurface* surface, const uint32_t* pixels, int width, int height);
