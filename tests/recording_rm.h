// A recording stand-in for the retained-mode layer, for tests and benchmarks
// of the loaders, builders and the show's direction without a renderer: the
// objects keep what they are given (vertices, coordinates, colours, textures,
// positions, visuals, lights, wraps, keys), and the calls whose order or
// arguments tests look at land in one log as "object.Call(arguments)"
// (numbers as %g, colours as %08x). installScene() puts the stand-ins in the
// program's own globals.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "display/display.h"
#include "scene/scene.h"

namespace fake {

inline std::vector<std::string> g_log;
inline bool g_logging = true;

inline std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string fmt(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

inline void log(const std::string& line) {
    if (g_logging) g_log.push_back(line);
}

template <class Interface>
struct Named : Interface {
    std::string name;
    int refs = 1;
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return log(name + ".Release"), --refs; }
};

// The name of a stand-in (every object handed to one is a stand-in too).
template <class T>
std::string nameOf(T* object) {
    if (!object) return "null";
    return static_cast<Named<std::remove_reference_t<decltype(*object)>>*>(object)->name;
}

struct Material : Named<IDirect3DRMMaterial> { float power = 0; };
struct Light : Named<IDirect3DRMLight> { D3DRMLIGHTTYPE type{}; };

struct Texture : Named<IDirect3DRMTexture> {
    D3DRMIMAGE* image = nullptr;
    DWORD decalScale = 0;
    BOOL transparency = FALSE;
    D3DCOLOR transparentColour = 0xDEADBEEF;
    HRESULT SetDecalScale(DWORD s) override { return decalScale = s, D3DRM_OK; }
    HRESULT SetDecalTransparency(BOOL on) override { return transparency = on, D3DRM_OK; }
    HRESULT SetDecalTransparentColor(D3DCOLOR c) override { return transparentColour = c, D3DRM_OK; }
};

struct Mesh : Named<IDirect3DRMMeshBuilder> {
    std::vector<D3DVECTOR> vertices;
    std::vector<std::pair<float, float>> uv;
    int faceCount = 0;
    D3DCOLOR colour = 0;
    IDirect3DRMMaterial* material = nullptr;
    IDirect3DRMTexture* texture = nullptr;

    HRESULT AddFaces(DWORD count, const D3DVECTOR* v, DWORD, const D3DVECTOR*, const DWORD* data, void**) override {
        vertices.insert(vertices.end(), v, v + count);
        uv.resize(vertices.size(), {0.0f, 0.0f});
        for (const DWORD* p = data; *p; p += *p + 1) faceCount++;
        return D3DRM_OK;
    }
    HRESULT Scale(float x, float y, float z) override {
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
        if (!vertices.empty()) box->min = box->max = vertices[0];
        for (auto& v : vertices) {
            box->min = {std::fmin(box->min.x, v.x), std::fmin(box->min.y, v.y), std::fmin(box->min.z, v.z)};
            box->max = {std::fmax(box->max.x, v.x), std::fmax(box->max.y, v.y), std::fmax(box->max.z, v.z)};
        }
        return D3DRM_OK;
    }
    HRESULT SetColor(D3DCOLOR c) override { return log(name + fmt(".SetColor(%08x)", c)), colour = c, D3DRM_OK; }
    HRESULT SetColorRGB(float r, float g, float b) override {
        auto byte = [](float f) { return (D3DCOLOR)std::lround(f * 255); };
        return colour = 0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b), D3DRM_OK;
    }
    HRESULT SetMaterial(IDirect3DRMMaterial* m) override { return material = m, D3DRM_OK; }
    HRESULT SetTexture(IDirect3DRMTexture* t) override { return texture = t, D3DRM_OK; }
    HRESULT SetPerspective(BOOL) override { return D3DRM_OK; }
    HRESULT SetTextureCoordinates(DWORD i, float u, float v) override {
        log(name + fmt(".SetTextureCoordinates(%u,%g,%g)", i, u, v));
        return i < uv.size() ? (uv[i] = {u, v}, D3DRM_OK) : D3DRMERR_BADVALUE;
    }
    int GetVertexCount() override { return (int)vertices.size(); }
    int GetFaceCount() override { return faceCount; }
    HRESULT GetVertex(DWORD i, D3DVECTOR* p) override {
        return i < vertices.size() ? (*p = vertices[i], D3DRM_OK) : D3DRMERR_BADVALUE;
    }
    HRESULT GetTextureCoordinates(DWORD i, float* u, float* v) override {
        return i < uv.size() ? (*u = uv[i].first, *v = uv[i].second, D3DRM_OK) : D3DRMERR_BADVALUE;
    }
    D3DCOLOR GetColor() override { return colour; }
};

struct Wrap : Named<IDirect3DRMWrap> {
    D3DRMWRAPTYPE type{};
    float params[13] = {};  // origin, z axis, y axis, ou, ov, su, sv
    std::vector<std::pair<Mesh*, size_t>> applied;  // mesh and its vertex count then
    // Marks every present vertex so tests can tell wrapped coordinates.
    static constexpr float kMark = -123.0f;
    HRESULT Apply(IDirect3DRMMeshBuilder* m) override {
        auto* mesh = static_cast<Mesh*>(m);
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
        return log(name + ".AddVisual(" + nameOf(v) + ")"), visuals.push_back(v), D3DRM_OK;
    }
    HRESULT AddLight(IDirect3DRMLight* l) override {
        return log(name + ".AddLight(" + nameOf(l) + ")"), lights.push_back(l), D3DRM_OK;
    }
    HRESULT SetPosition(IDirect3DRMFrame* ref, float x, float y, float z) override {
        log(name + fmt(".SetPosition(%s,%g,%g,%g)", nameOf(ref).c_str(), x, y, z));
        return position = {x, y, z}, D3DRM_OK;
    }
    HRESULT SetOrientation(IDirect3DRMFrame*, float dx, float dy, float dz, float ux, float uy, float uz) override {
        return dir = {dx, dy, dz}, up = {ux, uy, uz}, D3DRM_OK;
    }
    HRESULT SetRotation(IDirect3DRMFrame*, float, float, float, float) override { return D3DRM_OK; }
    HRESULT Move(float) override { return D3DRM_OK; }
    HRESULT LookAt(IDirect3DRMFrame* target, IDirect3DRMFrame* ref, int constraint) override {
        return log(name + ".LookAt(" + nameOf(target) + "," + nameOf(ref) + fmt(",%d)", constraint)), D3DRM_OK;
    }
    HRESULT SetSortMode(int) override { return D3DRM_OK; }
    HRESULT SetZbufferMode(int) override { return D3DRM_OK; }
    HRESULT GetPosition(IDirect3DRMFrame*, D3DVECTOR* p) override { return *p = position, D3DRM_OK; }
    HRESULT GetOrientation(IDirect3DRMFrame*, D3DVECTOR* d, D3DVECTOR* u) override { return *d = dir, *u = up, D3DRM_OK; }
};

struct Animation : Named<IDirect3DRMAnimation> {
    struct Key { float time, x, y, z; };
    std::vector<Key> keys;
    DWORD options = 0;
    IDirect3DRMFrame* frame = nullptr;
    HRESULT SetOptions(DWORD o) override { return options = o, D3DRM_OK; }
    HRESULT AddPositionKey(float t, float x, float y, float z) override { return keys.push_back({t, x, y, z}), D3DRM_OK; }
    HRESULT SetFrame(IDirect3DRMFrame* f) override { return log(name + ".SetFrame(" + nameOf(f) + ")"), frame = f, D3DRM_OK; }
    HRESULT SetTime(float t) override { return log(name + fmt(".SetTime(%g)", t)), D3DRM_OK; }
};

struct RM : Named<IDirect3DRM> {
    std::vector<std::shared_ptr<void>> objects;  // each deleted as what it is
    std::vector<Frame*> frames;
    std::vector<Mesh*> meshes;
    std::vector<Material*> materials;
    std::vector<Light*> lights;
    std::vector<Wrap*> wraps;
    std::vector<Texture*> textures;
    std::vector<Animation*> animations;

    // A new object named kind + its number in `list`, handed out through out.
    template <class T, class Out>
    T* make(std::vector<T*>& list, const char* kind, Out** out) {
        objects.emplace_back(list.emplace_back(new T));
        list.back()->name = kind + std::to_string(list.size() - 1);
        return *out = list.back(), list.back();
    }
    HRESULT QueryInterface(const GUID&, void**) override { return D3DRMERR_BADOBJECT; }
    HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** out) override {
        return make(frames, "frame", out)->parent = static_cast<Frame*>(parent), D3DRM_OK;
    }
    HRESULT CreateMeshBuilder(IDirect3DRMMeshBuilder** out) override { return make(meshes, "mesh", out), D3DRM_OK; }
    HRESULT CreateMaterial(float power, IDirect3DRMMaterial** out) override {
        return make(materials, "material", out)->power = power, D3DRM_OK;
    }
    HRESULT CreateLightRGB(D3DRMLIGHTTYPE type, float, float, float, IDirect3DRMLight** out) override {
        return make(lights, "light", out)->type = type, D3DRM_OK;
    }
    HRESULT CreateWrap(D3DRMWRAPTYPE type, IDirect3DRMFrame*, float ox, float oy, float oz, float dx, float dy,
                       float dz, float ux, float uy, float uz, float ou, float ov, float su, float sv,
                       IDirect3DRMWrap** out) override {
        Wrap* w = make(wraps, "wrap", out);
        const float p[13] = {ox, oy, oz, dx, dy, dz, ux, uy, uz, ou, ov, su, sv};
        return w->type = type, std::memcpy(w->params, p, sizeof p), D3DRM_OK;
    }
    HRESULT CreateTexture(D3DRMIMAGE* image, IDirect3DRMTexture** out) override {
        return make(textures, "texture", out)->image = image, D3DRM_OK;
    }
    HRESULT CreateAnimation(IDirect3DRMAnimation** out) override { return make(animations, "animation", out), D3DRM_OK; }
    HRESULT CreateViewport(IDirect3DRMDevice*, IDirect3DRMFrame*, DWORD, DWORD, DWORD, DWORD,
                           IDirect3DRMViewport**) override { return D3DRMERR_BADOBJECT; }
};

inline std::unique_ptr<RM> g_rm;

inline Mesh* mesh(IDirect3DRMMeshBuilder* m) { return static_cast<Mesh*>(m); }
inline Frame* frame(IDirect3DRMFrame* f) { return static_cast<Frame*>(f); }
inline Animation* animation(IDirect3DRMAnimation* a) { return static_cast<Animation*>(a); }

// A fresh fake retained mode with the scene graph's frames (frame0 to
// frame16) and nineteen mesh builders, named after their globals ("scene"
// and "camera" for the first two frames); the log starts empty.
inline void installScene() {
    g_rm = std::make_unique<RM>();
    g_rm->name = "rm";
    g_d3drm = g_rm.get();
#define FAKE_NAMED(global) std::pair{&global, #global}
    // Frames under the scene (s) or the camera (c), in the scene graph's order.
    const std::pair<IDirect3DRMFrame**, const char*> frames[] = {
        {&g_sceneFrame, "g_scene"}, {&g_cameraFrame, "g_camera"}, FAKE_NAMED(g_loadingFrame),
        FAKE_NAMED(g_arrow1Frame), FAKE_NAMED(g_arrow2Frame), FAKE_NAMED(g_zagFrame), FAKE_NAMED(g_zlinFrame),
        FAKE_NAMED(g_stFrame), FAKE_NAMED(g_stShellFrame), FAKE_NAMED(g_knotFrame), FAKE_NAMED(g_boxFrame),
        FAKE_NAMED(g_spareFrame), FAKE_NAMED(g_blinFrame), FAKE_NAMED(g_tilesFrame2), FAKE_NAMED(g_zugFrame),
        FAKE_NAMED(g_tilesFrame1), FAKE_NAMED(g_teFrame)};
    const char* parents = "-scccsssssssscccc";
    for (size_t i = 0; i < 17; i++) {
        g_rm->CreateFrame(parents[i] == 's' ? g_sceneFrame : parents[i] == 'c' ? g_cameraFrame : nullptr,
                          frames[i].first);
        frame(*frames[i].first)->name = frames[i].second + 2;
    }
    for (auto [global, name] :
         {FAKE_NAMED(quad1), FAKE_NAMED(quad2), FAKE_NAMED(quad3), FAKE_NAMED(meshZag), FAKE_NAMED(meshZlin),
          FAKE_NAMED(meshSt), FAKE_NAMED(meshStShell), FAKE_NAMED(meshKnot), FAKE_NAMED(meshBox), FAKE_NAMED(meshPyr),
          FAKE_NAMED(meshBlin), FAKE_NAMED(meshFlower), FAKE_NAMED(quad4), FAKE_NAMED(quad5), FAKE_NAMED(quad6),
          FAKE_NAMED(quad7), FAKE_NAMED(quad8), FAKE_NAMED(quad9), FAKE_NAMED(quad10)}) {
        g_rm->CreateMeshBuilder(global);
        mesh(*global)->name = name;
    }
#undef FAKE_NAMED
    g_log.clear();
    g_logging = true;
}

// Index of the first log line equal to line, or -1.
inline int find(const std::string& line) {
    auto at = std::find(g_log.begin(), g_log.end(), line);
    return at == g_log.end() ? -1 : (int)(at - g_log.begin());
}

}  // namespace fake
