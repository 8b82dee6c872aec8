// A recording stand-in for the retained-mode layer, for tests and benchmarks
// of the loaders and builders without a renderer: mesh builders keep their
// vertices, coordinates and settings; every call that matters lands in one
// log, so call order can be checked. Include it in one file per program.
#pragma once
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/display.h"
#include "scene/scene.h"

namespace fake {

inline std::vector<std::string> g_log;
inline bool g_logging = true;

inline void log(const std::string& line) {
    if (g_logging) g_log.push_back(line);
}

inline std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string fmt(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

template <class Interface>
struct Named : Interface {
    std::string name;
    int refs = 1;
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        log(name + ".Release");
        return --refs;
    }
};

struct Material : Named<IDirect3DRMMaterial> {
    float power = 0;
};
struct Light : Named<IDirect3DRMLight> {
    D3DRMLIGHTTYPE type{};
    float r = 0, g = 0, b = 0;
};

struct Texture : Named<IDirect3DRMTexture> {
    D3DRMIMAGE* image = nullptr;
    DWORD decalScale = 0;
    BOOL transparency = FALSE;
    D3DCOLOR transparentColour = 0xDEADBEEF;
    HRESULT SetDecalScale(DWORD s) override {
        log(name + fmt(".SetDecalScale(%u)", s));
        decalScale = s;
        return D3DRM_OK;
    }
    HRESULT SetDecalTransparency(BOOL on) override {
        log(name + fmt(".SetDecalTransparency(%d)", on));
        transparency = on;
        return D3DRM_OK;
    }
    HRESULT SetDecalTransparentColor(D3DCOLOR c) override {
        log(name + fmt(".SetDecalTransparentColor(%x)", c));
        transparentColour = c;
        return D3DRM_OK;
    }
};

struct Mesh : Named<IDirect3DRMMeshBuilder> {
    std::vector<D3DVECTOR> vertices;
    std::vector<std::pair<float, float>> uv;
    std::vector<std::vector<DWORD>> faces;
    D3DCOLOR colour = 0;
    IDirect3DRMMaterial* material = nullptr;
    IDirect3DRMTexture* texture = nullptr;

    HRESULT AddFaces(DWORD count, const D3DVECTOR* v, DWORD, const D3DVECTOR*, const DWORD* data, void**) override {
        log(name + fmt(".AddFaces(%u)", count));
        DWORD base = (DWORD)vertices.size();
        vertices.insert(vertices.end(), v, v + count);
        uv.resize(vertices.size(), {0.0f, 0.0f});
        for (const DWORD* p = data; *p; p += *p + 1) {
            std::vector<DWORD> face(p + 1, p + 1 + *p);
            for (DWORD& index : face) index += base;
            faces.push_back(face);
        }
        return D3DRM_OK;
    }
    HRESULT Scale(float x, float y, float z) override {
        log(name + fmt(".Scale(%g,%g,%g)", x, y, z));
        for (auto& v : vertices) v = {v.x * x, v.y * y, v.z * z};
        return D3DRM_OK;
    }
    HRESULT Translate(float x, float y, float z) override {
        log(name + fmt(".Translate(%g,%g,%g)", x, y, z));
        for (auto& v : vertices) v = {v.x + x, v.y + y, v.z + z};
        return D3DRM_OK;
    }
    HRESULT GetBox(D3DRMBOX* box) override {
        log(name + ".GetBox");
        *box = {{0, 0, 0}, {0, 0, 0}};
        if (vertices.empty()) return D3DRM_OK;
        box->min = box->max = vertices[0];
        for (auto& v : vertices) {
            box->min = {std::fmin(box->min.x, v.x), std::fmin(box->min.y, v.y), std::fmin(box->min.z, v.z)};
            box->max = {std::fmax(box->max.x, v.x), std::fmax(box->max.y, v.y), std::fmax(box->max.z, v.z)};
        }
        return D3DRM_OK;
    }
    HRESULT SetColor(D3DCOLOR c) override {
        log(name + fmt(".SetColor(%08x)", c));
        colour = c;
        return D3DRM_OK;
    }
    HRESULT SetColorRGB(float r, float g, float b) override {
        log(name + fmt(".SetColorRGB(%g,%g,%g)", r, g, b));
        colour = 0xFF000000u | (D3DCOLOR)std::lround(r * 255) << 16 | (D3DCOLOR)std::lround(g * 255) << 8 |
                 (D3DCOLOR)std::lround(b * 255);
        return D3DRM_OK;
    }
    HRESULT SetMaterial(IDirect3DRMMaterial* m) override;
    HRESULT SetTexture(IDirect3DRMTexture* t) override;
    HRESULT SetPerspective(BOOL) override { return D3DRM_OK; }
    HRESULT SetTextureCoordinates(DWORD i, float u, float v) override {
        if (i >= uv.size()) {
            log(name + fmt(".SetTextureCoordinates(%u) out of range", i));
            return D3DRMERR_BADVALUE;
        }
        uv[i] = {u, v};
        return D3DRM_OK;
    }
    int GetVertexCount() override { return (int)vertices.size(); }
    int GetFaceCount() override { return (int)faces.size(); }
    HRESULT GetVertex(DWORD i, D3DVECTOR* p) override {
        if (i >= vertices.size()) return D3DRMERR_BADVALUE;
        *p = vertices[i];
        return D3DRM_OK;
    }
    HRESULT GetTextureCoordinates(DWORD i, float* u, float* v) override {
        if (i >= uv.size()) return D3DRMERR_BADVALUE;
        *u = uv[i].first;
        *v = uv[i].second;
        return D3DRM_OK;
    }
    D3DCOLOR GetColor() override { return colour; }
};

struct Wrap : Named<IDirect3DRMWrap> {
    D3DRMWRAPTYPE type{};
    IDirect3DRMFrame* reference = nullptr;
    float params[13] = {};  // origin, z axis, y axis, ou, ov, su, sv
    std::vector<std::pair<Mesh*, size_t>> applied;  // mesh and its vertex count then
    // Marks every present vertex so tests can tell wrapped coordinates.
    static constexpr float kMark = -123.0f;
    HRESULT Apply(IDirect3DRMMeshBuilder* m) override {
        auto* mesh = static_cast<Mesh*>(m);
        log(name + ".Apply(" + mesh->name + ")");
        applied.push_back({mesh, mesh->vertices.size()});
        for (auto& c : mesh->uv) c = {kMark, kMark};
        return D3DRM_OK;
    }
};

struct Frame : Named<IDirect3DRMFrame> {
    Frame* parent = nullptr;
    D3DVECTOR position{}, dir{0, 0, 1}, up{0, 1, 0};
    std::vector<IDirect3DRMMeshBuilder*> visuals;
    std::vector<IDirect3DRMLight*> lights;
    HRESULT AddVisual(IDirect3DRMMeshBuilder* v) override {
        log(name + ".AddVisual(" + static_cast<Mesh*>(v)->name + ")");
        visuals.push_back(v);
        return D3DRM_OK;
    }
    HRESULT AddLight(IDirect3DRMLight* l) override {
        log(name + ".AddLight(" + static_cast<Light*>(l)->name + ")");
        lights.push_back(l);
        return D3DRM_OK;
    }
    HRESULT SetPosition(IDirect3DRMFrame* ref, float x, float y, float z) override {
        log(name + fmt(".SetPosition(%s,%g,%g,%g)", ref ? static_cast<Frame*>(ref)->name.c_str() : "null", x, y, z));
        position = {x, y, z};
        return D3DRM_OK;
    }
    HRESULT SetOrientation(IDirect3DRMFrame* ref, float dx, float dy, float dz, float ux, float uy,
                           float uz) override {
        log(name + fmt(".SetOrientation(%s,%g,%g,%g,%g,%g,%g)",
                       ref ? static_cast<Frame*>(ref)->name.c_str() : "null", dx, dy, dz, ux, uy, uz));
        dir = {dx, dy, dz};
        up = {ux, uy, uz};
        return D3DRM_OK;
    }
    HRESULT SetRotation(IDirect3DRMFrame*, float, float, float, float) override { return D3DRM_OK; }
    HRESULT Move(float) override { return D3DRM_OK; }
    HRESULT LookAt(IDirect3DRMFrame*, IDirect3DRMFrame*, int) override { return D3DRM_OK; }
    HRESULT SetSortMode(int) override { return D3DRM_OK; }
    HRESULT SetZbufferMode(int) override { return D3DRM_OK; }
    HRESULT GetPosition(IDirect3DRMFrame*, D3DVECTOR* p) override {
        *p = position;
        return D3DRM_OK;
    }
    HRESULT GetOrientation(IDirect3DRMFrame*, D3DVECTOR* d, D3DVECTOR* u) override {
        *d = dir;
        *u = up;
        return D3DRM_OK;
    }
};

struct Animation : Named<IDirect3DRMAnimation> {
    DWORD options = 0;
    IDirect3DRMFrame* frame = nullptr;
    struct Key {
        float time, x, y, z;
    };
    std::vector<Key> keys;
    HRESULT SetOptions(DWORD o) override {
        log(name + fmt(".SetOptions(%u)", o));
        options = o;
        return D3DRM_OK;
    }
    HRESULT AddPositionKey(float t, float x, float y, float z) override {
        keys.push_back({t, x, y, z});
        return D3DRM_OK;
    }
    HRESULT SetFrame(IDirect3DRMFrame* f) override {
        log(name + ".SetFrame(" + static_cast<Frame*>(f)->name + ")");
        frame = f;
        return D3DRM_OK;
    }
    HRESULT SetTime(float) override { return D3DRM_OK; }
};

inline HRESULT Mesh::SetMaterial(IDirect3DRMMaterial* m) {
    log(name + ".SetMaterial(" + static_cast<Material*>(m)->name + ")");
    material = m;
    return D3DRM_OK;
}
inline HRESULT Mesh::SetTexture(IDirect3DRMTexture* t) {
    log(name + ".SetTexture(" + (t ? static_cast<Texture*>(t)->name : std::string("null")) + ")");
    texture = t;
    return D3DRM_OK;
}

struct RM : Named<IDirect3DRM> {
    std::vector<std::shared_ptr<void>> objects;  // each deleted as what it is
    std::vector<Frame*> frames;
    std::vector<Material*> materials;
    std::vector<Light*> lights;
    std::vector<Wrap*> wraps;
    std::vector<Texture*> textures;
    std::vector<Animation*> animations;

    template <class T>
    T* make(const std::string& kind, size_t n) {
        auto* object = new T;
        object->name = kind + std::to_string(n);
        objects.push_back(std::shared_ptr<T>(object));
        return object;
    }
    HRESULT QueryInterface(const GUID&, void**) override { return D3DRMERR_BADOBJECT; }
    HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override {
        Frame* f = make<Frame>("frame", frames.size());
        f->parent = static_cast<Frame*>(parent);
        frames.push_back(f);
        log("CreateFrame(" + (parent ? f->parent->name : std::string("null")) + ")=" + f->name);
        *out = f;
        return D3DRM_OK;
    }
    HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder** out) override {
        *out = make<Mesh>("mesh", objects.size());
        return D3DRM_OK;
    }
    HRESULT CreateMaterial(float power, IDirect3DRMMaterial** out) override {
        Material* m = make<Material>("material", materials.size());
        m->power = power;
        materials.push_back(m);
        log(fmt("CreateMaterial(%g)=", power) + m->name);
        *out = m;
        return D3DRM_OK;
    }
    HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, float r, float g, float b, IDirect3DRMLight** out) override {
        Light* l = make<Light>("light", lights.size());
        l->type = type;
        l->r = r, l->g = g, l->b = b;
        lights.push_back(l);
        log(fmt("CreateLightRGB(%d,%g,%g,%g)=", (int)type, r, g, b) + l->name);
        *out = l;
        return D3DRM_OK;
    }
    HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame* ref, float ox, float oy, float oz, float dx, float dy,
                       float dz, float ux, float uy, float uz, float ou, float ov, float su, float sv,
                       IDirect3DRMWrap** out) override {
        Wrap* w = make<Wrap>("wrap", wraps.size());
        w->type = type;
        w->reference = ref;
        float p[13] = {ox, oy, oz, dx, dy, dz, ux, uy, uz, ou, ov, su, sv};
        std::memcpy(w->params, p, sizeof p);
        wraps.push_back(w);
        log(fmt("CreateWrap(%d)=", (int)type) + w->name);
        *out = w;
        return D3DRM_OK;
    }
    HRESULT CreateTexture(D3DRMIMAGE* image, IDirect3DRMTexture** out) override {
        Texture* t = make<Texture>("texture", textures.size());
        t->image = image;
        textures.push_back(t);
        log("CreateTexture=" + t->name);
        *out = t;
        return D3DRM_OK;
    }
    HRESULT CreateAnimation(IDirect3DRMAnimation** out) override {
        Animation* a = make<Animation>("animation", animations.size());
        animations.push_back(a);
        log("CreateAnimation=" + a->name);
        *out = a;
        return D3DRM_OK;
    }
    HRESULT CreateViewport(IDirect3DRMDevice*, IDirect3DRMFrame*, DWORD, DWORD, DWORD, DWORD,
                           IDirect3DRMViewport**) override {
        return D3DRMERR_BADOBJECT;
    }
};

inline std::unique_ptr<RM> g_rm;

inline Mesh* mesh(IDirect3DRMMeshBuilder* m) { return static_cast<Mesh*>(m); }
inline Frame* frame(IDirect3DRMFrame* f) { return static_cast<Frame*>(f); }

// A fresh fake retained mode with the scene graph's frames and nineteen mesh
// builders, named after their globals; the log starts empty.
inline void installScene() {
    g_rm = std::make_unique<RM>();
    g_rm->name = "rm";
    g_d3drm = g_rm.get();
    g_logging = false;
    auto makeFrame = [](IDirect3DRMFrame* parent, const char* name) {
        IDirect3DRMFrame* f;
        g_rm->CreateFrame(parent, &f);
        frame(f)->name = name;
        return f;
    };
    g_sceneFrame = makeFrame(nullptr, "scene");
    g_cameraFrame = makeFrame(g_sceneFrame, "camera");
    g_loadingFrame = makeFrame(g_cameraFrame, "loadingFrame");
    g_arrow1Frame = makeFrame(g_cameraFrame, "arrow1Frame");
    g_arrow2Frame = makeFrame(g_cameraFrame, "arrow2Frame");
    g_zagFrame = makeFrame(g_sceneFrame, "zagFrame");
    g_zlinFrame = makeFrame(g_sceneFrame, "zlinFrame");
    g_stFrame = makeFrame(g_sceneFrame, "stFrame");
    g_stShellFrame = makeFrame(g_sceneFrame, "stShellFrame");
    g_knotFrame = makeFrame(g_sceneFrame, "knotFrame");
    g_boxFrame = makeFrame(g_sceneFrame, "boxFrame");
    g_spareFrame = makeFrame(g_sceneFrame, "spareFrame");
    g_blinFrame = makeFrame(g_sceneFrame, "blinFrame");
    g_tilesFrame2 = makeFrame(g_cameraFrame, "tilesFrame2");
    g_zugFrame = makeFrame(g_cameraFrame, "zugFrame");
    g_tilesFrame1 = makeFrame(g_cameraFrame, "tilesFrame1");
    g_teFrame = makeFrame(g_cameraFrame, "teFrame");
    IDirect3DRMMeshBuilder** meshes[] = {&quad1,  &quad2,  &quad3,     &meshZag, &meshZlin, &meshSt,  &meshStShell,
                                         &meshKnot, &meshBox, &meshPyr, &meshBlin, &meshFlower, &quad4, &quad5,
                                         &quad6,  &quad7,  &quad8,     &quad9,   &quad10};
    const char* names[] = {"quad1",  "quad2",   "quad3",   "meshZag",  "meshZlin",   "meshSt", "meshStShell",
                           "meshKnot", "meshBox", "meshPyr", "meshBlin", "meshFlower", "quad4", "quad5",
                           "quad6",  "quad7",   "quad8",   "quad9",    "quad10"};
    for (size_t i = 0; i < 19; i++) {
        g_rm->CreateMeshBuilder(meshes[i]);
        mesh(*meshes[i])->name = names[i];
    }
    g_log.clear();
    g_logging = true;
}

// Index of the first log line equal to line, or -1.
inline int find(const std::string& line) {
    for (size_t i = 0; i < g_log.size(); i++)
        if (g_log[i] == line) return (int)i;
    return -1;
}

}  // namespace fake

// The objects other parts of the program define; these stand in when the
// program has no renderer linked (weak: a real definition takes precedence).
#define FAKE_WEAK __attribute__((weak))
FAKE_WEAK IDirect3DRM* g_d3drm;
FAKE_WEAK IDirect3DRMFrame* g_sceneFrame;
FAKE_WEAK IDirect3DRMFrame* g_cameraFrame;
FAKE_WEAK IDirect3DRMFrame* g_loadingFrame;
FAKE_WEAK IDirect3DRMFrame* g_arrow1Frame;
FAKE_WEAK IDirect3DRMFrame* g_arrow2Frame;
FAKE_WEAK IDirect3DRMFrame* g_zagFrame;
FAKE_WEAK IDirect3DRMFrame* g_zlinFrame;
FAKE_WEAK IDirect3DRMFrame* g_stFrame;
FAKE_WEAK IDirect3DRMFrame* g_stShellFrame;
FAKE_WEAK IDirect3DRMFrame* g_knotFrame;
FAKE_WEAK IDirect3DRMFrame* g_boxFrame;
FAKE_WEAK IDirect3DRMFrame* g_spareFrame;
FAKE_WEAK IDirect3DRMFrame* g_blinFrame;
FAKE_WEAK IDirect3DRMFrame* g_tilesFrame2;
FAKE_WEAK IDirect3DRMFrame* g_zugFrame;
FAKE_WEAK IDirect3DRMFrame* g_tilesFrame1;
FAKE_WEAK IDirect3DRMFrame* g_teFrame;
FAKE_WEAK IDirect3DRMMeshBuilder* quad1;
FAKE_WEAK IDirect3DRMMeshBuilder* quad2;
FAKE_WEAK IDirect3DRMMeshBuilder* quad3;
FAKE_WEAK IDirect3DRMMeshBuilder* quad4;
FAKE_WEAK IDirect3DRMMeshBuilder* quad5;
FAKE_WEAK IDirect3DRMMeshBuilder* quad6;
FAKE_WEAK IDirect3DRMMeshBuilder* quad7;
FAKE_WEAK IDirect3DRMMeshBuilder* quad8;
FAKE_WEAK IDirect3DRMMeshBuilder* quad9;
FAKE_WEAK IDirect3DRMMeshBuilder* quad10;
FAKE_WEAK IDirect3DRMMeshBuilder* meshZag;
FAKE_WEAK IDirect3DRMMeshBuilder* meshZlin;
FAKE_WEAK IDirect3DRMMeshBuilder* meshSt;
FAKE_WEAK IDirect3DRMMeshBuilder* meshStShell;
FAKE_WEAK IDirect3DRMMeshBuilder* meshKnot;
FAKE_WEAK IDirect3DRMMeshBuilder* meshBox;
FAKE_WEAK IDirect3DRMMeshBuilder* meshPyr;
FAKE_WEAK IDirect3DRMMeshBuilder* meshBlin;
FAKE_WEAK IDirect3DRMMeshBuilder* meshFlower;
FAKE_WEAK void copyBlocks64(void* destination, const void* source, uint32_t count) {
    std::memcpy(destination, source, count / 64 * 64);
}
