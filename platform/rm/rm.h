// The retained-mode scene graph the show draws with: frames, mesh builders,
// materials, ambient lights, textures, wraps, key-framed position animations,
// a device that renders into a DirectDraw surface (or a clipped window) and a
// viewport. Our own software rasterizer draws it.
//
// Conventions kept from the old library: left-handed coordinates with +y up;
// a camera looks along its own +z; front faces run clockwise as the viewer
// sees them and only they are drawn. Every operation may be called from any
// thread while another thread renders: the layer serialises them inside.
#pragma once
#include "platform/ddraw/ddraw.h"
#include "platform/win/win.h"

typedef float D3DVALUE;
typedef uint32_t D3DCOLOR;

struct D3DVECTOR {
    D3DVALUE x, y, z;
};

struct D3DRMBOX {
    D3DVECTOR min, max;
};

// An image a texture reads for as long as it exists (the pixel block must
// stay in place). 24-bit images, bytes red, green, blue with the masks below.
struct D3DRMIMAGE {
    int width, height;
    int aspectx, aspecty;
    int depth;
    int rgb;
    int bytes_per_line;
    void* buffer1;
    void* buffer2;
    uint32_t red_mask, green_mask, blue_mask, alpha_mask;
    int palette_size;
    void* palette;
};

constexpr HRESULT D3DRM_OK = 0;
constexpr HRESULT D3DRMERR_BADVALUE = (HRESULT)0x88760312u;
constexpr HRESULT D3DRMERR_BADOBJECT = (HRESULT)0x88760313u;

enum D3DRMLIGHTTYPE { D3DRMLIGHT_AMBIENT = 0, D3DRMLIGHT_POINT, D3DRMLIGHT_SPOT, D3DRMLIGHT_DIRECTIONAL };
enum D3DRMWRAPTYPE { D3DRMWRAP_FLAT = 0, D3DRMWRAP_CYLINDER = 1, D3DRMWRAP_SPHERE = 2, D3DRMWRAP_CHROME = 3 };
constexpr int D3DRMCONSTRAIN_Z = 0;
constexpr int D3DRMSORT_FROMPARENT = 0, D3DRMSORT_NONE = 1, D3DRMSORT_FRONTTOBACK = 2, D3DRMSORT_BACKTOFRONT = 3;
constexpr int D3DRMZBUFFER_FROMPARENT = 0, D3DRMZBUFFER_ENABLE = 1, D3DRMZBUFFER_DISABLE = 2;
constexpr int D3DRMPROJECT_PERSPECTIVE = 0, D3DRMPROJECT_ORTHOGRAPHIC = 1;
constexpr DWORD D3DRMANIMATION_OPEN = 0x1, D3DRMANIMATION_CLOSED = 0x2, D3DRMANIMATION_LINEARPOSITION = 0x4,
                D3DRMANIMATION_SPLINEPOSITION = 0x8, D3DRMANIMATION_SCALEANDROTATION = 0x10,
                D3DRMANIMATION_POSITION = 0x20;
constexpr DWORD D3DRMRENDERMODE_BLENDEDTRANSPARENCY = 0x1, D3DRMRENDERMODE_SORTEDTRANSPARENCY = 0x2;
constexpr DWORD D3DRMRENDER_GOURAUD = 0x89;
constexpr DWORD D3DRMTEXTURE_NEAREST = 0, D3DRMTEXTURE_LINEAR = 1, D3DRMTEXTURE_MIPNEAREST = 2,
                D3DRMTEXTURE_MIPLINEAR = 3;

extern const GUID IID_IDirect3DRM2;       // {4516ECC8-8F20-11D0-9B6D-0000C0781BC3}
extern const GUID IID_IDirect3DHALDevice; // {84E63DE0-46AA-11CF-816F-0000C020156E}

struct IDirect3DRMFrame;
struct IDirect3DRMMeshBuilder;

// Reference counting as in COM: a new object holds one reference; frames,
// meshes and animations hold references to what is attached to them.
struct IDirect3DRMObject {
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IDirect3DRMObject() = default;
};

struct IDirect3DRMMaterial : IDirect3DRMObject {};

struct IDirect3DRMLight : IDirect3DRMObject {};

struct IDirect3DRMTexture : IDirect3DRMObject {
    virtual HRESULT SetDecalScale(DWORD scale) = 0;
    virtual HRESULT SetDecalTransparency(BOOL on) = 0;
    virtual HRESULT SetDecalTransparentColor(D3DCOLOR colour) = 0;
};

struct IDirect3DRMWrap : IDirect3DRMObject {
    // Gives every vertex the mesh holds now its texture coordinates.
    virtual HRESULT Apply(IDirect3DRMMeshBuilder* mesh) = 0;
};

struct IDirect3DRMMeshBuilder : IDirect3DRMObject {
    // vertices: vertexCount points; faceData: per face its vertex count (3 or
    // 4) then the indices, closed by 0. Normals are not used (pass 0, null).
    virtual HRESULT AddFaces(DWORD vertexCount, const D3DVECTOR* vertices, DWORD normalCount,
                             const D3DVECTOR* normals, const DWORD* faceData, void** faceArray) = 0;
    virtual HRESULT Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) = 0;
    virtual HRESULT Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) = 0;
    virtual HRESULT GetBox(D3DRMBOX* box) = 0;
    virtual HRESULT SetColor(D3DCOLOR argb) = 0;
    virtual HRESULT SetColorRGB(D3DVALUE red, D3DVALUE green, D3DVALUE blue) = 0;
    virtual HRESULT SetMaterial(IDirect3DRMMaterial* material) = 0;
    virtual HRESULT SetTexture(IDirect3DRMTexture* texture) = 0;
    virtual HRESULT SetPerspective(BOOL on) = 0;
    virtual HRESULT SetTextureCoordinates(DWORD vertex, D3DVALUE u, D3DVALUE v) = 0;
    // Read back (tests, tools).
    virtual int GetVertexCount() = 0;
    virtual int GetFaceCount() = 0;
    virtual HRESULT GetVertex(DWORD index, D3DVECTOR* position) = 0;
    virtual HRESULT GetTextureCoordinates(DWORD index, D3DVALUE* u, D3DVALUE* v) = 0;
    virtual D3DCOLOR GetColor() = 0;
};

struct IDirect3DRMFrame : IDirect3DRMObject {
    virtual HRESULT AddVisual(IDirect3DRMMeshBuilder* visual) = 0;
    virtual HRESULT AddLight(IDirect3DRMLight* light) = 0;
    virtual HRESULT SetPosition(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) = 0;
    // z axis along dir, y axis from up made perpendicular to it.
    virtual HRESULT SetOrientation(IDirect3DRMFrame* reference, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux,
                                   D3DVALUE uy, D3DVALUE uz) = 0;
    // theta radians per unit of the delta given to Move.
    virtual HRESULT SetRotation(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z, D3DVALUE theta) = 0;
    // Advances this frame and every frame below it by delta.
    virtual HRESULT Move(D3DVALUE delta) = 0;
    // Turns +z towards the target without roll.
    virtual HRESULT LookAt(IDirect3DRMFrame* target, IDirect3DRMFrame* reference, int constraint) = 0;
    virtual HRESULT SetSortMode(int mode) = 0;
    virtual HRESULT SetZbufferMode(int mode) = 0;
    // Read back (tests, tools): position and axes relative to reference (null: the root).
    virtual HRESULT GetPosition(IDirect3DRMFrame* reference, D3DVECTOR* position) = 0;
    virtual HRESULT GetOrientation(IDirect3DRMFrame* reference, D3DVECTOR* dir, D3DVECTOR* up) = 0;
};

struct IDirect3DRMAnimation : IDirect3DRMObject {
    virtual HRESULT SetOptions(DWORD options) = 0;
    virtual HRESULT AddPositionKey(D3DVALUE time, D3DVALUE x, D3DVALUE y, D3DVALUE z) = 0;
    virtual HRESULT SetFrame(IDirect3DRMFrame* frame) = 0;
    // Places the frame (relative to its parent) at the path position for time.
    virtual HRESULT SetTime(D3DVALUE time) = 0;
};

struct IDirect3DRMDevice : IDirect3DRMObject {
    virtual HRESULT SetRenderMode(DWORD mode) = 0;
    virtual HRESULT SetQuality(DWORD quality) = 0;
    virtual HRESULT SetDither(BOOL on) = 0;
    virtual HRESULT SetTextureQuality(DWORD quality) = 0;
    // Finishes the frame; a device made from a clipper shows it in the window.
    virtual HRESULT Update() = 0;
};

struct IDirect3DRMDevice2 : IDirect3DRMDevice {};

struct IDirect3DRMViewport : IDirect3DRMObject {
    virtual HRESULT SetBack(D3DVALUE distance) = 0;
    virtual HRESULT SetProjection(int projection) = 0;
    // Clears the viewport's depth (and, for a clipper device, its picture).
    virtual HRESULT Clear() = 0;
    virtual HRESULT Render(IDirect3DRMFrame* scene) = 0;
};

struct IDirect3DRM : IDirect3DRMObject {
    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) = 0;
    virtual HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder** out) = 0;
    virtual HRESULT CreateMaterial(D3DVALUE power, IDirect3DRMMaterial** out) = 0;
    virtual HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE red, D3DVALUE green, D3DVALUE blue,
                                   IDirect3DRMLight** out) = 0;
    virtual HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame* reference, D3DVALUE ox, D3DVALUE oy, D3DVALUE oz,
                               D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux, D3DVALUE uy, D3DVALUE uz,
                               D3DVALUE ou, D3DVALUE ov, D3DVALUE su, D3DVALUE sv, IDirect3DRMWrap** out) = 0;
    virtual HRESULT CreateTexture(D3DRMIMAGE* image, IDirect3DRMTexture** out) = 0;
    virtual HRESULT CreateAnimation(IDirect3DRMAnimation** out) = 0;
    virtual HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y,
                                   DWORD width, DWORD height, IDirect3DRMViewport** out) = 0;
};

struct IDirect3DRM2 : IDirect3DRM {
    virtual HRESULT CreateDeviceFromSurface(const GUID* guid, IDirectDraw* ddraw, IDirectDrawSurface* back,
                                            IDirect3DRMDevice2** out) = 0;
    virtual HRESULT CreateDeviceFromClipper(IDirectDrawClipper* clipper, const GUID* guid, int width, int height,
                                            IDirect3DRMDevice2** out) = 0;
};

HRESULT Direct3DRMCreate(IDirect3DRM** out);
