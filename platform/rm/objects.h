// Inside the retained-mode layer: vector maths and rigid transforms, and the
// scene-graph objects (materials, lights, textures, mesh builders, frames,
// wraps, animations). Every operation takes the layer's one lock.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rm/raster.h"
#include "platform/rm/rm.h"

namespace rm {

// Recursive, since releasing an object releases what it holds.
extern std::recursive_mutex g_lock;
using Guard = std::lock_guard<std::recursive_mutex>;

// --- Vectors and rigid transforms ---------------------------------------------

struct V3 {
    float x, y, z;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// With x right, y up and z forward (left-handed), cross(y, z) = x.
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float len(V3 a) { return std::sqrt(dot(a, a)); }
inline V3 normalize(V3 a) {
    float l = len(a);
    return l > 0 ? a * (1.0f / l) : a;
}
inline V3 toV3(const D3DVECTOR& v) { return {v.x, v.y, v.z}; }

// Axes and origin of a frame in its parent's (or the world's) coordinates.
struct Xf {
    V3 ax{1, 0, 0}, ay{0, 1, 0}, az{0, 0, 1}, pos{0, 0, 0};
    V3 dir(V3 v) const { return ax * v.x + ay * v.y + az * v.z; }
    V3 point(V3 v) const { return pos + dir(v); }
    V3 dirInv(V3 v) const { return {dot(ax, v), dot(ay, v), dot(az, v)}; }
    V3 pointInv(V3 v) const { return dirInv(v - pos); }
    Xf operator*(const Xf& c) const { return {dir(c.ax), dir(c.ay), dir(c.az), point(c.pos)}; }
    Xf inverse() const {
        Xf r;
        r.ax = {ax.x, ay.x, az.x};
        r.ay = {ax.y, ay.y, az.y};
        r.az = {ax.z, ay.z, az.z};
        r.pos = dirInv(pos) * -1.0f;
        return r;
    }
};

// Axes from a direction and an up vector made perpendicular to it; false if
// they are parallel or zero.
inline bool axesFrom(V3 dir, V3 up, Xf& out) {
    V3 z = normalize(dir);
    if (len(z) < 1e-12f) return false;
    V3 y = up - z * dot(up, z);
    if (len(y) < 1e-6f * std::max(1.0f, len(up))) return false;
    y = normalize(y);
    out.az = z;
    out.ay = y;
    out.ax = cross(y, z);
    return true;
}

// Rotation about a unit axis (Rodrigues): positive angles turn x towards y
// about z.
inline V3 rotate(V3 v, V3 k, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(k, v) * s + k * (dot(k, v) * (1 - c));
}

inline void orthonormalize(Xf& f) {
    f.az = normalize(f.az);
    f.ay = normalize(f.ay - f.az * dot(f.ay, f.az));
    f.ax = cross(f.ay, f.az);
}

inline void report(const char* what) { fprintf(stderr, "retained mode: %s\n", what); }

// --- Objects --------------------------------------------------------------------

template <class I>
struct Obj : I {
    ULONG refs = 1;  // under g_lock
    ULONG AddRef() override {
        Guard g(g_lock);
        return ++refs;
    }
    ULONG Release() override {
        Guard g(g_lock);
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    ~Obj() override = default;
};

template <class T>
void hold(T*& slot, T* next) {
    if (next) next->AddRef();
    if (slot) slot->Release();
    slot = next;
}

struct Material final : Obj<IDirect3DRMMaterial> {
    float power = 5.0f;
};

struct Light final : Obj<IDirect3DRMLight> {
    D3DRMLIGHTTYPE type = D3DRMLIGHT_AMBIENT;
    float r = 1, g = 1, b = 1;
};

// A decal texel is key when each of its channels lies within this many
// levels of the key colour's: JPEG never returns a flat area next to an edge
// exactly (at quality 100 a black pixel comes back up to 3 above 0), and
// those texels would otherwise show as dark specks around the shapes.
constexpr int kKeyTolerance = 6;

inline bool nearKey(uint32_t rgb, uint32_t keyRgb) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs((int)((rgb >> shift) & 255) - (int)((keyRgb >> shift) & 255)) > kKeyTolerance) return false;
    return true;
}

struct Texture final : Obj<IDirect3DRMTexture> {
    D3DRMIMAGE* image = nullptr;
    bool decal = false;
    D3DCOLOR key = 0;
    MipChain plain, keyed;  // keyed: built when decal transparency is on

    // Reads the record's pixels into 0xAARRGGBB words, alpha 0 on texels near
    // the key colour. False (with a line on stderr) if the record cannot be read.
    bool read(std::vector<uint32_t>& out) const {
        const D3DRMIMAGE* im = image;
        if (!im || !im->buffer1 || im->width <= 0 || im->height <= 0 || im->width > 8192 || im->height > 8192 ||
            (im->depth != 24 && im->depth != 32) || im->bytes_per_line < im->width * (im->depth / 8)) {
            report("CreateTexture: the image record is not a readable 24- or 32-bit picture");
            return false;
        }
        auto shiftOf = [](uint32_t mask) {
            int s = 0;
            while (mask && !(mask & 1)) {
                mask >>= 1;
                s++;
            }
            return s;
        };
        uint32_t rm = im->red_mask ? im->red_mask : 0xFF, gm = im->green_mask ? im->green_mask : 0xFF00,
                 bm = im->blue_mask ? im->blue_mask : 0xFF0000;
        int rs = shiftOf(rm), gs = shiftOf(gm), bs = shiftOf(bm);
        int bpp = im->depth / 8;
        out.resize((size_t)im->width * im->height);
        const uint8_t* base = (const uint8_t*)im->buffer1;
        const uint32_t keyRgb = key & 0xFFFFFF;
        for (int y = 0; y < im->height; y++) {
            const uint8_t* row = base + (size_t)y * im->bytes_per_line;
            for (int x = 0; x < im->width; x++) {
                uint32_t word = 0;
                memcpy(&word, row + (size_t)x * bpp, bpp);
                uint32_t r = (word & rm) >> rs, g = (word & gm) >> gs, b = (word & bm) >> bs;
                uint32_t rgb = ((r & 255) << 16) | ((g & 255) << 8) | (b & 255);
                out[(size_t)y * im->width + x] = rgb | (nearKey(rgb, keyRgb) ? 0u : 0xFF000000u);
            }
        }
        return true;
    }
    void rebuildKeyed() {
        keyed = MipChain();
        if (!decal) return;
        std::vector<uint32_t> px;
        if (read(px)) buildMipChain(keyed, px.data(), image->width, image->height, true);
    }
    const MipChain* chain() const { return decal ? &keyed : &plain; }

    // Accepted and ignored: decals are drawn at the texture's own scale.
    HRESULT SetDecalScale(DWORD) override { return D3DRM_OK; }
    HRESULT SetDecalTransparency(BOOL on) override {
        Guard g(g_lock);
        bool next = on != 0;
        if (next != decal) {
            decal = next;
            rebuildKeyed();
        }
        return D3DRM_OK;
    }
    HRESULT SetDecalTransparentColor(D3DCOLOR colour) override {
        Guard g(g_lock);
        if ((colour & 0xFFFFFF) != (key & 0xFFFFFF)) {
            key = colour;
            rebuildKeyed();
        }
        key = colour;
        return D3DRM_OK;
    }
};

struct Mesh final : Obj<IDirect3DRMMeshBuilder> {
    std::vector<V3> pos;
    std::vector<float> uv;        // u, v per vertex
    std::vector<uint32_t> tris;   // three vertex indices per triangle
    int faces = 0;
    D3DCOLOR colour = 0xFFFFFFFF;
    Material* material = nullptr;
    Texture* texture = nullptr;
    bool perspective = false;
    bool boundsValid = false;
    V3 centre{0, 0, 0};
    float radius = 0;

    ~Mesh() override {
        if (material) material->Release();
        if (texture) texture->Release();
    }
    void bounds() {
        if (boundsValid) return;
        V3 lo{0, 0, 0}, hi{0, 0, 0};
        if (!pos.empty()) lo = hi = pos[0];
        for (const V3& p : pos) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        centre = (lo + hi) * 0.5f;
        radius = len(hi - lo) * 0.5f;
        boundsValid = true;
    }

    HRESULT AddFaces(DWORD vertexCount, const D3DVECTOR* vertices, DWORD normalCount, const D3DVECTOR*,
                     const DWORD* faceData, void**) override {
        Guard g(g_lock);
        if ((vertexCount && !vertices) || !faceData || vertexCount > 10000000) {
            report("AddFaces: missing vertices or face data");
            return D3DRMERR_BADVALUE;
        }
        const uint32_t first = (uint32_t)pos.size();
        const int step = normalCount ? 2 : 1;  // with normals, indices come in (vertex, normal) pairs
        std::vector<uint32_t> added;
        int newFaces = 0;
        for (size_t i = 0;;) {
            DWORD count = faceData[i++];
            if (count == 0) break;
            if (count < 3 || count > 64) {
                char text[160];
                snprintf(text, sizeof text, "AddFaces: face %d has %u vertices", newFaces, (unsigned)count);
                report(text);
                return D3DRMERR_BADVALUE;
            }
            uint32_t idx[64];
            for (DWORD k = 0; k < count; k++, i += step) {
                idx[k] = faceData[i];
                if (idx[k] >= vertexCount) {
                    char text[160];
                    snprintf(text, sizeof text, "AddFaces: face %d uses vertex %u of %u", newFaces, (unsigned)idx[k],
                             (unsigned)vertexCount);
                    report(text);
                    return D3DRMERR_BADVALUE;
                }
            }
            for (DWORD k = 1; k + 1 < count; k++) {  // a fan over the face's first vertex
                added.push_back(first + idx[0]);
                added.push_back(first + idx[k]);
                added.push_back(first + idx[k + 1]);
            }
            newFaces++;
        }
        for (DWORD k = 0; k < vertexCount; k++) pos.push_back(toV3(vertices[k]));
        uv.resize(pos.size() * 2, 0.0f);
        tris.insert(tris.end(), added.begin(), added.end());
        faces += newFaces;
        boundsValid = false;
        return D3DRM_OK;
    }
    HRESULT Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) override {
        Guard g(g_lock);
        for (V3& p : pos) p = {p.x * sx, p.y * sy, p.z * sz};
        boundsValid = false;
        return D3DRM_OK;
    }
    HRESULT Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) override {
        Guard g(g_lock);
        for (V3& p : pos) p = p + V3{tx, ty, tz};
        boundsValid = false;
        return D3DRM_OK;
    }
    HRESULT GetBox(D3DRMBOX* box) override {
        Guard g(g_lock);
        if (!box) return D3DRMERR_BADVALUE;
        if (pos.empty()) return D3DRM_OK;  // nothing to measure: the box is left as it is
        V3 lo = pos[0], hi = pos[0];
        for (const V3& p : pos) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        box->min = {lo.x, lo.y, lo.z};
        box->max = {hi.x, hi.y, hi.z};
        return D3DRM_OK;
    }
    HRESULT SetColor(D3DCOLOR argb) override {
        Guard g(g_lock);
        colour = argb;
        return D3DRM_OK;
    }
    HRESULT SetColorRGB(D3DVALUE r, D3DVALUE gr, D3DVALUE b) override {
        Guard g(g_lock);
        auto byte = [](float f) { return (uint32_t)std::lround(std::clamp(f, 0.0f, 1.0f) * 255.0f); };
        colour = 0xFF000000u | (byte(r) << 16) | (byte(gr) << 8) | byte(b);
        return D3DRM_OK;
    }
    HRESULT SetMaterial(IDirect3DRMMaterial* m) override {
        Guard g(g_lock);
        hold(material, static_cast<Material*>(m));
        return D3DRM_OK;
    }
    HRESULT SetTexture(IDirect3DRMTexture* t) override {
        Guard g(g_lock);
        hold(texture, static_cast<Texture*>(t));
        return D3DRM_OK;
    }
    HRESULT SetPerspective(BOOL on) override {
        Guard g(g_lock);
        perspective = on != 0;
        return D3DRM_OK;
    }
    HRESULT SetTextureCoordinates(DWORD vertex, D3DVALUE u, D3DVALUE v) override {
        Guard g(g_lock);
        if (vertex >= pos.size()) return D3DRMERR_BADVALUE;
        uv[vertex * 2] = u;
        uv[vertex * 2 + 1] = v;
        return D3DRM_OK;
    }
    int GetVertexCount() override {
        Guard g(g_lock);
        return (int)pos.size();
    }
    int GetFaceCount() override {
        Guard g(g_lock);
        return faces;
    }
    HRESULT GetVertex(DWORD index, D3DVECTOR* p) override {
        Guard g(g_lock);
        if (!p || index >= pos.size()) return D3DRMERR_BADVALUE;
        *p = {pos[index].x, pos[index].y, pos[index].z};
        return D3DRM_OK;
    }
    HRESULT GetTextureCoordinates(DWORD index, D3DVALUE* u, D3DVALUE* v) override {
        Guard g(g_lock);
        if (!u || !v || index >= pos.size()) return D3DRMERR_BADVALUE;
        *u = uv[index * 2];
        *v = uv[index * 2 + 1];
        return D3DRM_OK;
    }
    D3DCOLOR GetColor() override {
        Guard g(g_lock);
        return colour;
    }
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
    HRESULT Apply(IDirect3DRMMeshBuilder* mesh) override {
        Guard g(g_lock);
        if (!mesh) return D3DRMERR_BADVALUE;
        auto* m = static_cast<Mesh*>(mesh);
        constexpr float kPi = 3.14159265358979f;
        for (size_t i = 0; i < m->pos.size(); i++) {
            V3 r = m->pos[i] - origin;
            float x = dot(r, ax), y = dot(r, ay), z = dot(r, az);
            float u, v;
            if (type == D3DRMWRAP_FLAT) {
                u = su * x - ou;
                v = sv * y - ov;
            } else {
                // theta: longitude about the y axis, from +z towards +x, 0..2pi;
                // phi: angle from the +y axis, 0..pi.
                float theta = std::atan2(x, z);
                if (theta < 0) theta += 2 * kPi;
                float l = std::sqrt(x * x + y * y + z * z);
                float phi = l > 0 ? std::acos(std::clamp(y / l, -1.0f, 1.0f)) : 0.0f;
                u = su * theta / (2 * kPi) - ou;
                v = type == D3DRMWRAP_CYLINDER ? sv * y - ov : sv * phi / kPi - ov;
            }
            m->uv[i * 2] = u;
            m->uv[i * 2 + 1] = v;
        }
        return D3DRM_OK;
    }
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
    V3 at(float t) const {
        const size_t n = keys.size();
        if (n == 1) return keys[0].p;
        const float t0 = keys[0].t, t1 = keys[n - 1].t, span = t1 - t0;
        if (!(span > 0)) return keys[0].p;
        const bool closed = !(options & D3DRMANIMATION_OPEN) && (options & D3DRMANIMATION_CLOSED);
        if (closed) {
            float r = std::fmod(t - t0, span);
            if (r < 0) r += span;
            t = t0 + r;
        } else {
            t = std::clamp(t, t0, t1);
        }
        size_t i = (size_t)(std::upper_bound(keys.begin(), keys.end(), t, [](float v, const Key& k) { return v < k.t; }) -
                            keys.begin());
        i = std::clamp<size_t>(i, 1, n - 1) - 1;  // segment i .. i + 1
        const Key &a = keys[i], &b = keys[i + 1];
        float s = b.t > a.t ? (t - a.t) / (b.t - a.t) : 0.0f;
        if (!(options & D3DRMANIMATION_SPLINEPOSITION)) return a.p + (b.p - a.p) * s;
        V3 p0 = i > 0 ? keys[i - 1].p : (closed && n > 2 ? keys[n - 2].p : a.p);
        V3 p3 = i + 2 < n ? keys[i + 2].p : (closed && n > 2 ? keys[1].p : b.p);
        const V3 &p1 = a.p, &p2 = b.p;
        float s2 = s * s, s3 = s2 * s;
        return (p1 * 2.0f + (p2 - p0) * s + (p0 * 2.0f - p1 * 5.0f + p2 * 4.0f - p3) * s2 +
                (p1 * 3.0f - p0 - p2 * 3.0f + p3) * s3) *
               0.5f;
    }
    HRESULT SetTime(D3DVALUE time) override {
        Guard g(g_lock);
        if (!frame || keys.empty() || !std::isfinite(time)) return D3DRM_OK;
        frame->local.pos = at(time);
        return D3DRM_OK;
    }
};

}  // namespace rm
