// Our retained-mode layer: the frame tree, mesh builders, materials, ambient
// lights, textures, wraps, key-framed position paths, devices and viewports,
// drawn by the software rasterizer of raster.cpp.
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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rm/raster.h"
#include "platform/rm/workers.h"
#include "platform/sys.h"

const GUID IID_IDirect3DRM2 = {0x4516ECC8, 0x8F20, 0x11D0, {0x9B, 0x6D, 0x00, 0x00, 0xC0, 0x78, 0x1B, 0xC3}};
const GUID IID_IDirect3DHALDevice = {0x84E63DE0, 0x46AA, 0x11CF, {0x81, 0x6F, 0x00, 0x00, 0xC0, 0x20, 0x15, 0x6E}};

namespace rm {
namespace {

std::recursive_mutex g_lock;
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
bool axesFrom(V3 dir, V3 up, Xf& out) {
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
V3 rotate(V3 v, V3 k, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    return v * c + cross(k, v) * s + k * (dot(k, v) * (1 - c));
}

void orthonormalize(Xf& f) {
    f.az = normalize(f.az);
    f.ay = normalize(f.ay - f.az * dot(f.ay, f.az));
    f.ax = cross(f.ay, f.az);
}

void report(const char* what) { fprintf(stderr, "retained mode: %s\n", what); }

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

struct Texture final : Obj<IDirect3DRMTexture> {
    D3DRMIMAGE* image = nullptr;
    bool decal = false;
    D3DCOLOR key = 0;
    DWORD decalScale = 1;
    MipChain plain, keyed;  // keyed: built when decal transparency is on

    // Reads the record's pixels into 0xAARRGGBB words, alpha 0 on the key
    // colour. False (with a line on stderr) if the record cannot be read.
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
                out[(size_t)y * im->width + x] = rgb | (rgb == keyRgb ? 0u : 0xFF000000u);
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

    HRESULT SetDecalScale(DWORD scale) override {
        Guard g(g_lock);
        decalScale = scale;
        return D3DRM_OK;
    }
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

// --- Device, viewport and the renderer ------------------------------------------

struct TV {  // a vertex in view space, with its projection
    float x, y, z, u, v;
    unsigned out;  // clip planes it lies outside of
    float sx, sy, q;
};

struct Queued {  // a translucent triangle waiting for the sorted pass
    RVert v[3];
    const MipChain* tex;
    unsigned flags;
};

struct DrawItem {  // a mesh in one frame, in view coordinates
    Mesh* mesh;
    Xf mv;
    bool zOn;
    float nearest;
    size_t sequence;
};

struct Device final : Obj<IDirect3DRMDevice2> {
    IDirectDrawSurface* surface = nullptr;
    IDirectDrawClipper* clipper = nullptr;
    int width = 640, height = 480;
    std::vector<uint32_t> picture;  // clipper devices draw here
    std::vector<float> depth;
    DWORD renderMode = 0, quality = D3DRMRENDER_GOURAUD, textureQuality = D3DRMTEXTURE_NEAREST;
    BOOL dither = FALSE;
    // Scratch kept from frame to frame.
    std::vector<TV> verts;
    std::vector<Queued> queued;
    std::vector<DrawItem> items;
    std::vector<uint64_t> order;
    std::vector<std::vector<std::pair<float, size_t>>> childOrder;  // (depth, child index)
    // The frame's triangles, set up in drawing order, and their bands of rows.
    std::vector<RasterSetup> setups;
    std::vector<uint32_t> bandStart, binned;

    ~Device() override {
        if (surface) surface->Release();
        if (clipper) clipper->Release();
    }
    RTarget target() {
        RTarget t;
        if (surface) {
            int w = 0, h = 0, pitch = 0;
            t.color = ddSurfacePixels(surface, &w, &h, &pitch);
            if (!t.color || w != width || h != height) return RTarget();
            t.pitch = pitch / 4;
        } else {
            t.color = picture.data();
            t.pitch = width;
        }
        t.depth = depth.data();
        t.dpitch = width;
        t.x1 = width;
        t.y1 = height;
        return t;
    }
    HRESULT SetRenderMode(DWORD mode) override {
        Guard g(g_lock);
        renderMode = mode;
        return D3DRM_OK;
    }
    HRESULT SetQuality(DWORD q) override {
        Guard g(g_lock);
        quality = q;
        return D3DRM_OK;
    }
    HRESULT SetDither(BOOL on) override {  // nothing to dither at 32 bits per pixel
        Guard g(g_lock);
        dither = on;
        return D3DRM_OK;
    }
    HRESULT SetTextureQuality(DWORD q) override {
        Guard g(g_lock);
        textureQuality = q;
        return D3DRM_OK;
    }
    HRESULT Update() override {
        HWND window = nullptr;
        const uint32_t* pixels = nullptr;
        {
            Guard g(g_lock);
            if (!clipper) return D3DRM_OK;  // a surface device drew straight into the surface
            clipper->GetHWnd(&window);
            pixels = picture.data();
        }
        sysPresent(window, pixels, width, height, width * 4, 0, 0);
        return D3DRM_OK;
    }
};

enum Plane : unsigned { kNear = 1, kFar = 2, kLeft = 4, kRight = 8, kTop = 16, kBottom = 32 };

struct Viewport final : Obj<IDirect3DRMViewport> {
    Device* device = nullptr;
    Frame* camera = nullptr;
    int x = 0, y = 0, w = 0, h = 0;
    float front = 1.0f, back = 100.0f, field = 0.5f;
    int projection = D3DRMPROJECT_PERSPECTIVE;

    // Per render
    float cx = 0, cy = 0, k = 0;  // centre, pixels per unit at depth 1
    float gl = 0, gr = 0, gt = 0, gb = 0;  // guard band edges
    float ambient[3] = {0, 0, 0};
    Xf view;
    RTarget target;

    ~Viewport() override {
        if (device) device->Release();
        if (camera) camera->Release();
    }
    HRESULT SetBack(D3DVALUE d) override {
        Guard g(g_lock);
        if (!(d > 0)) return D3DRMERR_BADVALUE;
        back = d;
        return D3DRM_OK;
    }
    HRESULT SetFront(D3DVALUE d) override {
        Guard g(g_lock);
        if (!(d > 0)) return D3DRMERR_BADVALUE;
        front = d;
        return D3DRM_OK;
    }
    HRESULT SetField(D3DVALUE f) override {
        Guard g(g_lock);
        if (!(f > 0)) return D3DRMERR_BADVALUE;
        field = f;
        return D3DRM_OK;
    }
    HRESULT SetProjection(int p) override {
        Guard g(g_lock);
        projection = p;
        return D3DRM_OK;
    }
    void clipRect(RTarget& t) const {
        t.x0 = std::clamp(x, 0, t.x1);
        t.y0 = std::clamp(y, 0, t.y1);
        t.x1 = std::clamp(x + w, t.x0, t.x1);
        t.y1 = std::clamp(y + h, t.y0, t.y1);
    }
    HRESULT Clear() override {
        Guard g(g_lock);
        RTarget t = device->target();
        if (!t.depth) return D3DRM_OK;
        clipRect(t);
        for (int row = t.y0; row < t.y1; row++) {
            std::fill(t.depth + (size_t)row * t.dpitch + t.x0, t.depth + (size_t)row * t.dpitch + t.x1, 0.0f);
            if (device->clipper)
                std::fill(t.color + (size_t)row * t.pitch + t.x0, t.color + (size_t)row * t.pitch + t.x1, 0u);
        }
        return D3DRM_OK;
    }

    bool persp() const { return projection != D3DRMPROJECT_ORTHOGRAPHIC; }

    unsigned outcode(const TV& p) const {
        float zz = persp() ? p.z : front;
        unsigned o = 0;
        if (p.z < front) o |= kNear;
        if (p.z > back) o |= kFar;
        if (p.x * k + (cx - gl) * zz < 0) o |= kLeft;
        if ((gr - cx) * zz - p.x * k < 0) o |= kRight;
        if ((cy - gt) * zz - p.y * k < 0) o |= kTop;
        if (p.y * k + (gb - cy) * zz < 0) o |= kBottom;
        return o;
    }
    float distance(const TV& p, unsigned plane) const {
        float zz = persp() ? p.z : front;
        switch (plane) {
            case kNear: return p.z - front;
            case kFar: return back - p.z;
            case kLeft: return p.x * k + (cx - gl) * zz;
            case kRight: return (gr - cx) * zz - p.x * k;
            case kTop: return (cy - gt) * zz - p.y * k;
            default: return p.y * k + (gb - cy) * zz;
        }
    }
    void project(TV& p) const {
        float zz = persp() ? p.z : front;
        float inv = 1.0f / zz;
        p.sx = cx + p.x * k * inv;
        p.sy = cy - p.y * k * inv;
        p.q = 1.0f / p.z;
    }

    void sumLights(Frame* f) {
        for (Light* l : f->lights)
            if (l->type == D3DRMLIGHT_AMBIENT) {
                ambient[0] += l->r;
                ambient[1] += l->g;
                ambient[2] += l->b;
            }
        for (Frame* c : f->children) sumLights(c);
    }

    void emit(const TV& a, const TV& b, const TV& c, const float colour[4], const MipChain* tex, unsigned flags,
              bool translucent) {
        auto make = [&](const TV& p, RVert& r) {
            r.x = p.sx;
            r.y = p.sy;
            r.q = p.q;
            r.u = p.u;
            r.v = p.v;
            for (int i = 0; i < 4; i++) r.c[i] = colour[i];
        };
        if (translucent && (device->renderMode & D3DRMRENDERMODE_SORTEDTRANSPARENCY)) {
            // Cheap cull before queueing; the rasterizer culls exactly.
            float area = (b.sx - a.sx) * (c.sy - a.sy) - (c.sx - a.sx) * (b.sy - a.sy);
            if (area <= 0) return;
            device->queued.emplace_back();
            Queued& qd = device->queued.back();
            make(a, qd.v[0]);
            make(b, qd.v[1]);
            make(c, qd.v[2]);
            qd.tex = tex;
            qd.flags = flags;
            float z = (a.z + b.z + c.z) * (1.0f / 3.0f);
            uint32_t bits;
            memcpy(&bits, &z, 4);
            device->order.push_back(((uint64_t)~bits << 32) | (uint32_t)(device->queued.size() - 1));
            return;
        }
        RVert ra, rb, rc;
        make(a, ra);
        make(b, rb);
        make(c, rc);
        queue(ra, rb, rc, tex, flags);
    }

    // Sets a triangle up for the bands, in drawing order.
    void queue(const RVert& a, const RVert& b, const RVert& c, const MipChain* tex, unsigned flags) {
        auto& setups = device->setups;
        setups.emplace_back();
        if (!rasterSetup(target, a, b, c, tex, flags, setups.back()) || setups.back().yEnd < setups.back().yStart)
            setups.pop_back();
    }

    // Bands of rows are drawn in parallel, each with the triangles that reach
    // it, in drawing order; a triangle is drawn band by band exactly as whole.
    static constexpr int kBandRows = 16;

    void drawBands() {
        const auto& setups = device->setups;
        const int bands = (target.y1 - target.y0 + kBandRows - 1) / kBandRows;
        auto& start = device->bandStart;
        auto& binned = device->binned;
        start.assign((size_t)bands + 1, 0);
        auto bandOf = [&](int row) { return (row - target.y0) / kBandRows; };
        for (const RasterSetup& t : setups)
            for (int b = bandOf(t.yStart); b <= bandOf(t.yEnd); b++) start[b + 1]++;
        for (int b = 0; b < bands; b++) start[b + 1] += start[b];
        binned.resize(start[bands]);
        for (uint32_t i = 0; i < setups.size(); i++)
            for (int b = bandOf(setups[i].yStart); b <= bandOf(setups[i].yEnd); b++) binned[start[b]++] = i;
        for (int b = bands; b > 0; b--) start[b] = start[b - 1];  // back to the bands' starts
        start[0] = 0;
        runParts(bands, [](void* self, int band) { static_cast<Viewport*>(self)->drawBand(band); }, this);
    }

    void drawBand(int band) {
        const int y0 = target.y0 + band * kBandRows, y1 = std::min(y0 + kBandRows, target.y1);
        const auto& setups = device->setups;
        const auto& binned = device->binned;
        for (uint32_t i = device->bandStart[band]; i < device->bandStart[band + 1]; i++)
            rasterRows(target, setups[binned[i]], y0, y1);
    }

    // Clips the triangle against the planes it crosses and draws the pieces.
    void clipAndEmit(const TV& a, const TV& b, const TV& c, unsigned planes, const float colour[4],
                     const MipChain* tex, unsigned flags, bool translucent) {
        TV bufA[16], bufB[16];
        TV* in = bufA;
        TV* out = bufB;
        int n = 3;
        in[0] = a;
        in[1] = b;
        in[2] = c;
        for (unsigned plane = 1; plane <= kBottom; plane <<= 1) {
            if (!(planes & plane)) continue;
            int m = 0;
            for (int i = 0; i < n; i++) {
                const TV& p = in[i];
                const TV& q = in[(i + 1) % n];
                float dp = distance(p, plane), dq = distance(q, plane);
                if (dp >= 0) out[m++] = p;
                if ((dp >= 0) != (dq >= 0) && m < 15) {
                    // Always from the inside point, so a shared edge splits identically.
                    const TV& inside = dp >= 0 ? p : q;
                    const TV& outside = dp >= 0 ? q : p;
                    float di = dp >= 0 ? dp : dq, dout = dp >= 0 ? dq : dp;
                    float t = di / (di - dout);
                    TV r;
                    r.x = inside.x + (outside.x - inside.x) * t;
                    r.y = inside.y + (outside.y - inside.y) * t;
                    r.z = inside.z + (outside.z - inside.z) * t;
                    r.u = inside.u + (outside.u - inside.u) * t;
                    r.v = inside.v + (outside.v - inside.v) * t;
                    if (plane == kNear) r.z = std::max(r.z, front);
                    out[m++] = r;
                }
            }
            std::swap(in, out);
            n = m;
            if (n < 3) return;
        }
        for (int i = 0; i < n; i++) project(in[i]);
        for (int i = 1; i + 1 < n; i++) emit(in[0], in[i], in[i + 1], colour, tex, flags, translucent);
    }

    void drawMesh(Mesh* m, const Xf& mv, bool zOn) {
        if (m->tris.empty()) return;
        m->bounds();
        V3 c = mv.point(m->centre);
        float r = m->radius;
        if (c.z + r < front || c.z - r > back) return;
        if (persp()) {  // outside a side of the view?
            auto outside = [&](float a, float b, float dist) { return dist < -r * std::sqrt(a * a + b * b); };
            if (outside(k, cx - (float)target.x0, c.x * k + (cx - target.x0) * c.z)) return;
            if (outside(k, target.x1 - cx, (target.x1 - cx) * c.z - c.x * k)) return;
            if (outside(k, cy - (float)target.y0, (cy - target.y0) * c.z - c.y * k)) return;
            if (outside(k, target.y1 - cy, c.y * k + (target.y1 - cy) * c.z)) return;
        }
        const size_t nv = m->pos.size();
        auto& vs = device->verts;
        vs.resize(nv);
        for (size_t i = 0; i < nv; i++) {
            TV& t = vs[i];
            V3 p = mv.point(m->pos[i]);
            t.x = p.x;
            t.y = p.y;
            t.z = p.z;
            t.u = m->uv[i * 2];
            t.v = m->uv[i * 2 + 1];
            t.out = outcode(t);
            if (!(t.out & kNear)) project(t);
        }
        const D3DCOLOR col = m->colour;
        const float alpha = (float)(col >> 24);
        bool translucent = alpha < 255.0f && (device->renderMode & D3DRMRENDERMODE_BLENDEDTRANSPARENCY);
        float colour[4] = {
            std::min(ambient[2], 1.0f) * (float)(col & 255) * (256.0f / 255.0f),
            std::min(ambient[1], 1.0f) * (float)((col >> 8) & 255) * (256.0f / 255.0f),
            std::min(ambient[0], 1.0f) * (float)((col >> 16) & 255) * (256.0f / 255.0f),
            translucent ? alpha * (256.0f / 255.0f) : 256.0f,
        };
        const MipChain* tex = nullptr;
        unsigned flags = 0;
        if (m->texture) {
            tex = m->texture->chain();
            if (tex->levels > 0) {
                flags |= kTex;
                if (m->texture->decal) flags |= kDecal;
            } else {
                tex = nullptr;
            }
        }
        if (zOn) flags |= translucent ? kZTest : (kZTest | kZWrite);
        if (translucent) flags |= kBlend;
        const uint32_t* tri = m->tris.data();
        for (size_t i = 0, n = m->tris.size(); i < n; i += 3) {
            const TV &a = vs[tri[i]], &b = vs[tri[i + 1]], &c2 = vs[tri[i + 2]];
            unsigned any = a.out | b.out | c2.out;
            if (!any) {
                emit(a, b, c2, colour, tex, flags, translucent);
            } else if (!(a.out & b.out & c2.out)) {
                clipAndEmit(a, b, c2, any, colour, tex, flags, translucent);
            }
        }
    }

    void drawTree(Frame* f, const Xf& world, bool zOn, int sort, size_t depth) {
        if (f->zMode == D3DRMZBUFFER_ENABLE) zOn = true;
        if (f->zMode == D3DRMZBUFFER_DISABLE) zOn = false;
        if (f->sortMode != D3DRMSORT_FROMPARENT) sort = f->sortMode;
        const Xf mv = view * world;
        for (Mesh* m : f->visuals) {
            if (m->tris.empty()) continue;
            m->bounds();
            device->items.push_back({m, mv, zOn, mv.point(m->centre).z - m->radius, device->items.size()});
        }
        if (f->children.empty()) return;
        if (device->childOrder.size() <= depth) device->childOrder.resize(depth + 1);
        auto& order = device->childOrder[depth];
        order.clear();
        for (size_t i = 0; i < f->children.size(); i++) order.emplace_back(mv.point(f->children[i]->local.pos).z, i);
        // Ties keep the tree's order (std::sort, unlike stable_sort, allocates nothing).
        if (sort == D3DRMSORT_BACKTOFRONT)
            std::sort(order.begin(), order.end(),
                      [](auto& a, auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
        else if (sort == D3DRMSORT_FRONTTOBACK)
            std::sort(order.begin(), order.end());
        // Deeper levels may grow childOrder: walk by index, not by reference.
        for (size_t i = 0; i < device->childOrder[depth].size(); i++) {
            Frame* c = f->children[device->childOrder[depth][i].second];
            drawTree(c, world * c->local, zOn, sort, depth + 1);
        }
    }

    HRESULT Render(IDirect3DRMFrame* scene) override {
        Guard g(g_lock);
        if (!scene) return D3DRMERR_BADVALUE;
        auto* root = static_cast<Frame*>(scene);
        target = device->target();
        if (!target.color) return D3DRM_OK;
        clipRect(target);
        if (target.x0 >= target.x1 || target.y0 >= target.y1) return D3DRM_OK;
        cx = x + w * 0.5f;
        cy = y + h * 0.5f;
        k = (std::max(w, h) * 0.5f) * front / field;
        gl = target.x0 - kGuardBand;
        gr = target.x1 + kGuardBand;
        gt = target.y0 - kGuardBand;
        gb = target.y1 + kGuardBand;
        view = camera->world().inverse();
        ambient[0] = ambient[1] = ambient[2] = 0;
        sumLights(root);
        device->queued.clear();
        device->order.clear();
        device->items.clear();
        device->setups.clear();
        drawTree(root, root->world(), true, D3DRMSORT_NONE, 0);
        // With depth buffering everywhere the order of opaque faces does not
        // change the picture: nearest meshes first, so hidden pixels fail the
        // depth test before they are textured.
        auto& items = device->items;
        if (std::all_of(items.begin(), items.end(), [](const DrawItem& d) { return d.zOn; }))
            std::sort(items.begin(), items.end(), [](const DrawItem& a, const DrawItem& b) {
                return a.nearest != b.nearest ? a.nearest < b.nearest : a.sequence < b.sequence;
            });
        for (const DrawItem& d : items) drawMesh(d.mesh, d.mv, d.zOn);
        // Translucent faces last, farthest first.
        std::sort(device->order.begin(), device->order.end());
        for (uint64_t key : device->order) {
            const Queued& qd = device->queued[(uint32_t)key];
            queue(qd.v[0], qd.v[1], qd.v[2], qd.tex, qd.flags);
        }
        drawBands();
        return D3DRM_OK;
    }
};

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
