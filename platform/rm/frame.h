// Inside the retained-mode layer: lights, the frame tree (each frame's
// transform, its visuals, lights and spin), texture wraps and key-framed
// position paths. Wrap::Apply and Animation::at are in frame.cpp.
#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/rm/base.h"
#include "platform/rm/mesh.h"
#include "platform/rm/rm.h"
#include "platform/rm/xform.h"

namespace rm {

struct Light final : Obj<IDirect3DRMLight> {
    D3DRMLIGHTTYPE type = D3DRMLIGHT_AMBIENT;
    float r = 1, g = 1, b = 1;
};

struct Frame final : Obj<IDirect3DRMFrame> {
    Frame* parent = nullptr;  // not held: the parent holds its children
    std::vector<Frame*> children;
    std::vector<Mesh*> visuals;
    std::vector<Light*> lights;
    Xf local;
    V3 rotAxis{0, 0, 1};  // in the parent's coordinates
    float rotTheta = 0;
    int sortMode = D3DRMSORT_FROMPARENT;
    int zMode = D3DRMZBUFFER_FROMPARENT;

    ~Frame() override {
        for (Frame* c : children) {
            c->parent = nullptr;
            c->Release();
        }
        for (Mesh* m : visuals) m->Release();
        for (Light* l : lights) l->Release();
    }
    Xf world() const { return parent ? parent->world() * local : local; }
    Xf parentWorld() const { return parent ? parent->world() : Xf(); }
    // The frame whose coordinates a reference means: the given one, or the parent.
    Xf refWorld(IDirect3DRMFrame* ref) const { return ref ? static_cast<Frame*>(ref)->world() : parentWorld(); }

    HRESULT AddVisual(IDirect3DRMMeshBuilder* visual) override {
        Guard g(g_lock);
        if (!visual) return D3DRMERR_BADVALUE;
        auto* m = static_cast<Mesh*>(visual);
        if (std::find(visuals.begin(), visuals.end(), m) != visuals.end()) return D3DRM_OK;
        m->AddRef();
        visuals.push_back(m);
        return D3DRM_OK;
    }
    HRESULT AddLight(IDirect3DRMLight* light) override {
        Guard g(g_lock);
        if (!light) return D3DRMERR_BADVALUE;
        auto* l = static_cast<Light*>(light);
        if (std::find(lights.begin(), lights.end(), l) != lights.end()) return D3DRM_OK;
        l->AddRef();
        lights.push_back(l);
        return D3DRM_OK;
    }
    HRESULT SetPosition(IDirect3DRMFrame* ref, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        Guard g(g_lock);
        V3 world = refWorld(ref).point({x, y, z});
        local.pos = parentWorld().pointInv(world);
        return D3DRM_OK;
    }
    HRESULT SetOrientation(IDirect3DRMFrame* ref, D3DVALUE dx, D3DVALUE dy, D3DVALUE dz, D3DVALUE ux, D3DVALUE uy,
                           D3DVALUE uz) override {
        Guard g(g_lock);
        Xf r = refWorld(ref), p = parentWorld(), axes;
        if (!axesFrom(r.dir({dx, dy, dz}), r.dir({ux, uy, uz}), axes)) return D3DRMERR_BADVALUE;
        local.ax = p.dirInv(axes.ax);
        local.ay = p.dirInv(axes.ay);
        local.az = p.dirInv(axes.az);
        return D3DRM_OK;
    }
    HRESULT SetRotation(IDirect3DRMFrame* ref, D3DVALUE x, D3DVALUE y, D3DVALUE z, D3DVALUE theta) override {
        Guard g(g_lock);
        V3 axis = parentWorld().dirInv(refWorld(ref).dir({x, y, z}));
        if (len(axis) < 1e-12f) {
            rotTheta = 0;
            return D3DRMERR_BADVALUE;
        }
        rotAxis = normalize(axis);
        rotTheta = theta;
        return D3DRM_OK;
    }
    static void moveTree(Frame* f, float delta) {
        if (f->rotTheta != 0 && delta != 0) {
            float angle = f->rotTheta * delta;
            f->local.ax = rotate(f->local.ax, f->rotAxis, angle);
            f->local.ay = rotate(f->local.ay, f->rotAxis, angle);
            f->local.az = rotate(f->local.az, f->rotAxis, angle);
            orthonormalize(f->local);
        }
        for (Frame* c : f->children) moveTree(c, delta);
    }
    HRESULT Move(D3DVALUE delta) override {
        Guard g(g_lock);
        if (!std::isfinite(delta)) return D3DRMERR_BADVALUE;
        moveTree(this, delta);
        return D3DRM_OK;
    }
    HRESULT LookAt(IDirect3DRMFrame* target, IDirect3DRMFrame* ref, int) override {
        Guard g(g_lock);
        if (!target) return D3DRMERR_BADVALUE;
        Xf w = world(), p = parentWorld(), axes;
        V3 d = static_cast<Frame*>(target)->world().pos - w.pos;
        // Up from the reference's y axis: +z turns to the target, no roll.
        V3 up = refWorld(ref).ay;
        if (!axesFrom(d, up, axes) && !axesFrom(d, w.ay, axes) && !axesFrom(d, w.ax, axes)) return D3DRM_OK;
        local.ax = p.dirInv(axes.ax);
        local.ay = p.dirInv(axes.ay);
        local.az = p.dirInv(axes.az);
        return D3DRM_OK;
    }
    HRESULT SetSortMode(int mode) override {
        Guard g(g_lock);
        sortMode = mode;
        return D3DRM_OK;
    }
    HRESULT SetZbufferMode(int mode) override {
        Guard g(g_lock);
        zMode = mode;
        return D3DRM_OK;
    }
    HRESULT GetPosition(IDirect3DRMFrame* ref, D3DVECTOR* out) override {
        Guard g(g_lock);
        if (!out) return D3DRMERR_BADVALUE;
        V3 p = world().pos;
        if (ref) p = static_cast<Frame*>(ref)->world().pointInv(p);
        *out = {p.x, p.y, p.z};
        return D3DRM_OK;
    }
    HRESULT GetOrientation(IDirect3DRMFrame* ref, D3DVECTOR* dir, D3DVECTOR* up) override {
        Guard g(g_lock);
        if (!dir || !up) return D3DRMERR_BADVALUE;
        Xf w = world();
        V3 z = w.az, y = w.ay;
        if (ref) {
            Xf r = static_cast<Frame*>(ref)->world();
            z = r.dirInv(z);
            y = r.dirInv(y);
        }
        *dir = {z.x, z.y, z.z};
        *up = {y.x, y.y, y.z};
        return D3DRM_OK;
    }
};

struct Wrap final : Obj<IDirect3DRMWrap> {
    D3DRMWRAPTYPE type = D3DRMWRAP_FLAT;
    V3 origin{0, 0, 0}, ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1};
    float ou = 0, ov = 0, su = 1, sv = 1;

    // Coordinates in the wrap's own frame (origin, y axis up, z axis d), the
    // mesh's model coordinates standing for the reference frame.
    HRESULT Apply(IDirect3DRMMeshBuilder* mesh) override;
};

struct Animation final : Obj<IDirect3DRMAnimation> {
    struct Key {
        float t;
        V3 p;
    };
    DWORD options = D3DRMANIMATION_CLOSED | D3DRMANIMATION_LINEARPOSITION | D3DRMANIMATION_POSITION;
    std::vector<Key> keys;
    Frame* frame = nullptr;

    ~Animation() override {
        if (frame) frame->Release();
    }
    HRESULT SetOptions(DWORD o) override {
        Guard g(g_lock);
        options = o;
        return D3DRM_OK;
    }
    HRESULT AddPositionKey(D3DVALUE time, D3DVALUE x, D3DVALUE y, D3DVALUE z) override {
        Guard g(g_lock);
        if (!std::isfinite(time)) return D3DRMERR_BADVALUE;
        auto it = std::upper_bound(keys.begin(), keys.end(), time, [](float t, const Key& k) { return t < k.t; });
        keys.insert(it, Key{time, {x, y, z}});
        return D3DRM_OK;
    }
    HRESULT SetFrame(IDirect3DRMFrame* f) override {
        Guard g(g_lock);
        hold(frame, static_cast<Frame*>(f));
        return D3DRM_OK;
    }
    // Closed paths run periodically over [first key, last key]; the last key
    // stands for the first one again (it should repeat it) and closes the loop.
    // Spline paths are Catmull-Rom curves through the keys, whose neighbours
    // wrap around the loop when closed.
    V3 at(float t) const;
    HRESULT SetTime(D3DVALUE time) override {
        Guard g(g_lock);
        if (!frame || keys.empty() || !std::isfinite(time)) return D3DRM_OK;
        frame->local.pos = at(time);
        return D3DRM_OK;
    }
};

}  // namespace rm
