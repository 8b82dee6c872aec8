// Our retained-mode layer: the frame tree, mesh builders, materials, ambient
// lights, textures, wraps, key-framed position paths, devices and viewports,
// drawn by the software rasterizer of raster.cpp. The objects are in
// objects.h (which includes xform.h, base.h, mesh.h and frame.h), devices,
// viewports and the render pipeline in render.h and render.cpp; this file
// holds the root object that makes them.
//
// Coordinates: left-handed, +y up, a camera looks along its own +z. A frame
// keeps its axes and origin in its parent's coordinates; points go child to
// parent. On screen y runs down, and a face is drawn only when its vertices
// run clockwise there (as the viewer sees them).
//
// Every operation takes one process-wide lock (recursive, since releasing an
// object releases what it holds), so the loader and fade threads may fill
// meshes, make textures and change colours while the main thread renders.
// Presentation (sysPresent) is called with the lock released.
#include "platform/rm/rm.h"

#include "platform/rm/render.h"

const GUID IID_IDirect3DRM2 = {0x4516ECC8, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
const GUID IID_IDirect3DHALDevice = {0x84E63DE0, 0x46AA, 0x11CF, {0x81, 0x6F, 0x00, 0x00, 0xC0, 0x20, 0x15, 0x6E}};

namespace rm {

std::recursive_mutex g_lock;

namespace {

struct Root final : Obj<IDirect3DRM2> {
    HRESULT QueryInterface(const GUID& iid, void** out) override {
        if (!out) return D3DRMERR_BADVALUE;
        if (memcmp(&iid, &IID_IDirect3DRM2, sizeof(GUID)) != 0) {
            *out = nullptr;
            return (HRESULT)0x80004002u;  // no such interface
        }
        AddRef();
        *out = static_cast<IDirect3DRM2*>(this);
        return D3DRM_OK;
    }
    HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        auto* f = new Frame();
        if (parent) {
            auto* p = static_cast<Frame*>(parent);
            f->parent = p;
            f->AddRef();
            p->children.push_back(f);
        }
        *out = f;
        return D3DRM_OK;
    }
    HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = new Mesh();
        return D3DRM_OK;
    }
    HRESULT CreateMaterial(D3DVALUE power, IDirect3DRMMaterial** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        auto* m = new Material();
        m->power = power;
        *out = m;
        return D3DRM_OK;
    }
    HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, D3DVALUE r, D3DVALUE gr, D3DVALUE b, IDirect3DRMLight** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        auto* l = new Light();
        l->type = type;
        l->r = r;
        l->g = gr;
        l->b = b;
        *out = l;
        return D3DRM_OK;
    }
    HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame*, D3DVALUE ox, D3DVALUE oy, D3DVALUE oz, D3DVALUE dx,
                       D3DVALUE dy, D3DVALUE dz, D3DVALUE ux, D3DVALUE uy, D3DVALUE uz, D3DVALUE ou, D3DVALUE ov,
                       D3DVALUE su, D3DVALUE sv, IDirect3DRMWrap** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        Xf axes;
        if (!axesFrom({dx, dy, dz}, {ux, uy, uz}, axes)) {
            report("CreateWrap: the z and y axes are zero or parallel");
            *out = nullptr;
            return D3DRMERR_BADVALUE;
        }
        auto* w = new Wrap();
        w->type = type;
        w->origin = {ox, oy, oz};
        w->ax = axes.ax;
        w->ay = axes.ay;
        w->az = axes.az;
        w->ou = ou;
        w->ov = ov;
        w->su = su;
        w->sv = sv;
        *out = w;
        return D3DRM_OK;
    }
    HRESULT CreateTexture(D3DRMIMAGE* image, IDirect3DRMTexture** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = nullptr;
        auto* t = new Texture();
        t->image = image;
        std::vector<uint32_t> px;
        if (!t->read(px)) {
            delete t;
            return D3DRMERR_BADVALUE;
        }
        buildMipChain(t->plain, px.data(), image->width, image->height, false);
        *out = t;
        return D3DRM_OK;
    }
    HRESULT CreateAnimation(IDirect3DRMAnimation** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = new Animation();
        return D3DRM_OK;
    }
    HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x, DWORD y, DWORD width,
                           DWORD height, IDirect3DRMViewport** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = nullptr;
        if (!device || !camera || width == 0 || height == 0 || width > 16384 || height > 16384 || x > 16384 ||
            y > 16384)
            return D3DRMERR_BADVALUE;
        auto* v = new Viewport();
        hold(v->device, static_cast<Device*>(static_cast<IDirect3DRMDevice2*>(device)));
        hold(v->camera, static_cast<Frame*>(camera));
        v->x = (int)x;
        v->y = (int)y;
        v->w = (int)width;
        v->h = (int)height;
        *out = v;
        return D3DRM_OK;
    }
    HRESULT CreateDeviceFromSurface(const GUID*, IDirectDraw*, IDirectDrawSurface* back,
                                    IDirect3DRMDevice2** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = nullptr;
        if (!back) return D3DRMERR_BADVALUE;
        int w = 0, h = 0;
        if (!ddSurfacePixels(back, &w, &h, nullptr)) return D3DRMERR_BADOBJECT;
        auto* d = new Device();
        back->AddRef();
        d->surface = back;
        d->width = w;
        d->height = h;
        d->depth.assign((size_t)w * h, 0.0f);
        *out = d;
        return D3DRM_OK;
    }
    HRESULT CreateDeviceFromClipper(IDirectDrawClipper* clipper, const GUID*, int width, int height,
                                    IDirect3DRMDevice2** out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        *out = nullptr;
        if (!clipper || width <= 0 || height <= 0 || width > 8192 || height > 8192) return D3DRMERR_BADVALUE;
        auto* d = new Device();
        clipper->AddRef();
        d->clipper = clipper;
        d->width = width;
        d->height = height;
        d->picture.assign((size_t)width * height, 0u);
        d->depth.assign((size_t)width * height, 0.0f);
        *out = d;
        return D3DRM_OK;
    }
};

}  // namespace
}  // namespace rm

HRESULT Direct3DRMCreate(IDirect3DRM** out) {
    if (!out) return D3DRMERR_BADVALUE;
    *out = new rm::Root();
    return D3DRM_OK;
}
