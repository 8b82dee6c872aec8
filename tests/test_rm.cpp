// The retained-mode layer: pixel tests of small scenes rendered into a
// DirectDraw back buffer, the frame operations, wraps and paths, and the
// scene graph the show builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "bench/reference_scene.h"
#include "display/display.h"
#include "platform/ddraw/ddraw.h"
#include "platform/rm/raster.h"
#include "platform/rm/raster_texture.h"
#include "platform/rm/rm.h"
#include "platform/rm/workers.h"
#include "platform/virtual/virtual.h"
#include "scene/scene.h"

// The display module defines these in the show; the weak definitions serve
// this program when it is linked without it.
__attribute__((weak)) IDirect3DRM* g_d3drm = nullptr;
__attribute__((weak)) IDirect3DRMDevice2* g_device = nullptr;

namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;

const D3DVECTOR kQuad[4] = {{-3.5f, -3.5f, 0}, {-3.5f, 3.5f, 0}, {3.5f, 3.5f, 0}, {3.5f, -3.5f, 0}};
const DWORD kQuadFace[] = {4, 0, 1, 2, 3, 0};

int channel(uint32_t c, int shift) { return (int)((c >> shift) & 255); }
void expectRgb(uint32_t c, int r, int g, int b, int tolerance) {
    const int apart = std::max({std::abs(channel(c, 16) - r), std::abs(channel(c, 8) - g), std::abs(channel(c, 0) - b)});
    EXPECT_LE(apart, tolerance) << std::hex << c;
}
void expectVec(const D3DVECTOR& v, D3DVECTOR want, float tolerance) {
    const float apart = std::max({std::fabs(v.x - want.x), std::fabs(v.y - want.y), std::fabs(v.z - want.z)});
    EXPECT_LE(apart, tolerance) << v.x << ", " << v.y << ", " << v.z;
}

// A 24-bit image record with its own pixel block.
struct Image {
    std::vector<uint8_t> block;
    D3DRMIMAGE record{};
    Image(int w, int h, uint32_t (*colour)(int x, int y)) {
        for (int i = 0; i < w * h; i++) {
            const uint32_t c = colour(i % w, i / w);
            block.insert(block.end(), {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c});
        }
        record.width = w, record.height = h, record.aspectx = record.aspecty = 1;
        record.depth = 24, record.rgb = 1, record.bytes_per_line = w * 3, record.buffer1 = block.data();
        record.red_mask = 0xFF, record.green_mask = 0xFF00, record.blue_mask = 0xFF0000;
    }
};

// A 640 x 480 device on a flipping chain's back buffer with a root, a camera
// and (optionally) a white ambient light, as the show sets them up. Objects
// made through it are released with it.
struct Stage {
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface *primary = nullptr, *back = nullptr;
    IDirect3DRM* d3drm = nullptr;
    IDirect3DRM2* rm2 = nullptr;
    IDirect3DRMDevice2* device = nullptr;
    IDirect3DRMFrame *root = nullptr, *camera = nullptr;
    IDirect3DRMViewport* viewport = nullptr;
    std::vector<IDirect3DRMObject*> owned;
    uint32_t background = 0x00203040;

    explicit Stage(bool lit = true) {
        EXPECT_EQ(DirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
        EXPECT_EQ(Direct3DRMCreate(&d3drm), D3DRM_OK);
        EXPECT_EQ(d3drm->QueryInterface(IID_IDirect3DRM2, (void**)&rm2), D3DRM_OK);
        dd->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
        DDSURFACEDESC d{};
        d.dwSize = 108, d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT, d.dwBackBufferCount = 1;
        d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
        EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        EXPECT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
        EXPECT_EQ(rm2->CreateDeviceFromSurface(&IID_IDirect3DHALDevice, dd, back, &device), D3DRM_OK);
        device->SetRenderMode(D3DRMRENDERMODE_BLENDEDTRANSPARENCY | D3DRMRENDERMODE_SORTEDTRANSPARENCY);
        d3drm->CreateFrame(nullptr, &root);
        d3drm->CreateFrame(root, &camera);
        camera->SetZbufferMode(D3DRMZBUFFER_ENABLE);
        EXPECT_EQ(d3drm->CreateViewport(device, camera, 0, 0, 640, 480, &viewport), D3DRM_OK);
        viewport->SetBack(5000.0f);
        root->SetSortMode(D3DRMSORT_BACKTOFRONT);
        if (lit) addLight(1.0f);
    }
    ~Stage() {
        for (auto it = owned.rbegin(); it != owned.rend(); ++it) (*it)->Release();
        for (IDirect3DRMObject* o : std::initializer_list<IDirect3DRMObject*>{viewport, camera, root, device, rm2, d3drm})
            o->Release();
        back->Release(), primary->Release(), dd->Release();
    }
    template <class T> T* own(T* object) { return owned.push_back(object), object; }
    void addLight(float level) {
        IDirect3DRMLight* light = nullptr;
        d3drm->CreateLightRGB(D3DRMLIGHT_AMBIENT, level, level, level, &light);
        frame(root, 0, 0, 0)->AddLight(light);
        light->Release();
    }
    // A new frame at (x, y, z) of `parent`, showing `visual` if given.
    IDirect3DRMFrame* frame(IDirect3DRMFrame* parent, float x, float y, float z, IDirect3DRMMeshBuilder* visual = nullptr) {
        IDirect3DRMFrame* f = nullptr;
        d3drm->CreateFrame(parent, &f);
        f->SetPosition(parent, x, y, z);
        if (visual) f->AddVisual(visual);
        f->Release();  // the parent keeps it
        return f;
    }
    IDirect3DRMMeshBuilder* mesh(DWORD count, const D3DVECTOR* v, const DWORD* faces) {
        IDirect3DRMMeshBuilder* m = nullptr;
        d3drm->CreateMeshBuilder(&m);
        m->SetPerspective(TRUE);  // as the show sets every mesh
        EXPECT_EQ(m->AddFaces(count, v, 0, nullptr, faces, nullptr), D3DRM_OK);
        return own(m);
    }
    IDirect3DRMMeshBuilder* quad(D3DCOLOR colour) {
        IDirect3DRMMeshBuilder* m = mesh(4, kQuad, kQuadFace);
        m->SetColor(colour);
        return m;
    }
    // Gives `m`, made like a quad, `image` (a decal keyed on black if `decal`)
    // from (u0, v0) at its top-left corner to (u1, v1) at its bottom-right.
    IDirect3DRMMeshBuilder* textured(IDirect3DRMMeshBuilder* m, Image& image, bool decal, const float (&uv)[4]) {
        IDirect3DRMTexture* t = nullptr;
        EXPECT_EQ(d3drm->CreateTexture(&image.record, &t), D3DRM_OK);
        if (decal) t->SetDecalTransparency(TRUE), t->SetDecalTransparentColor(0);
        m->SetTexture(own(t));
        const float corner[4][2] = {{uv[0], uv[3]}, {uv[0], uv[1]}, {uv[2], uv[1]}, {uv[2], uv[3]}};  // BL, TL, TR, BR
        for (DWORD i = 0; i < 4; i++) m->SetTextureCoordinates(i, corner[i][0], corner[i][1]);
        return m;
    }
    void render() {
        DDBLTFX fx{100, background};
        back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        viewport->Clear();
        viewport->Render(root);
        device->Update();
    }
    const uint32_t* pixels() const { return ddSurfacePixels(back, nullptr, nullptr, nullptr); }
    uint32_t at(int x, int y) const { return pixels()[y * 640 + x]; }
    int count(uint32_t colour) const { return (int)std::count(pixels(), pixels() + 640 * 480, colour); }
};

}  // namespace

// --- What is drawn and where ----------------------------------------------------

TEST(RetainedModePixels, LitQuadCoversItsProjectionAndLightsAddUpClampAndModulate) {
    Stage s(false);
    s.frame(s.root, 0, 0, 10, s.quad(0xFF80FF40));
    s.render();
    EXPECT_EQ(s.at(320, 240), 0u);  // no light: black
    s.addLight(0.25f);
    s.addLight(0.25f);
    s.render();
    expectRgb(s.at(320, 240), 0x40, 0x80, 0x20, 1);
    s.addLight(1.0f);  // clamped at full
    s.render();
    const uint32_t full = 0x0080FF40;
    // Half-size 3.5 at depth 10 with 640 pixels per unit at depth 1: 224 pixels.
    for (auto [x, y] : {std::pair{320, 240}, {320 - 223, 240 - 223}, {320 + 223, 240 + 223}})
        EXPECT_EQ(s.at(x, y), full) << x << "," << y;
    EXPECT_EQ(std::pair(s.at(320 - 225, 240), s.at(320 + 224, 240)), std::pair(s.background, s.background));
    EXPECT_EQ(s.count(full), 448 * 448);  // the fill rule gives each pixel once
}

TEST(RetainedModePixels, ClockwiseFacesDrawnCounterClockwiseCulled) {
    Stage s;
    // Left: clockwise as seen from the camera; right: the same corners reversed.
    const D3DVECTOR v[8] = {{-5, -1, 0}, {-5, 1, 0}, {-3, 1, 0}, {-3, -1, 0}, {3, -1, 0}, {3, 1, 0}, {5, 1, 0}, {5, -1, 0}};
    const DWORD faces[] = {4, 0, 1, 2, 3, 4, 4, 7, 6, 5, 0};
    s.frame(s.root, 0, 0, 10, s.mesh(8, v, faces));
    // Seen from behind, the reversed face is the one facing the viewer; it
    // then shows on the left of the picture, and the other is culled.
    for (bool behind : {false, true}) {
        if (behind) s.camera->SetPosition(s.root, 0, 0, 20), s.camera->SetOrientation(s.root, 0, 0, -1, 0, 1, 0);
        s.render();
        EXPECT_EQ(std::pair(s.at(320 - 256, 240), s.at(320 + 256, 240)), std::pair(kWhite, s.background)) << behind;
    }
}

TEST(RetainedModePixels, NothingBeyondTheBackPlaneOrBehindTheCameraAndFrontPlaneClips) {
    Stage s;
    IDirect3DRMMeshBuilder* q = s.quad(0xFFFFFFFF);
    q->Scale(100, 100, 1);
    IDirect3DRMFrame* f = s.frame(s.root, 0, 0, 4990, q);
    s.render();
    EXPECT_EQ(s.at(320, 240), kWhite);
    for (float z : {5010.0f, -10.0f, -30000.0f}) {  // the last is how the show hides a frame
        f->SetPosition(s.root, 0, 0, z);
        s.render();
        EXPECT_EQ(s.count(s.background), 640 * 480) << z;
    }
    // A floor at y = -1 from behind the camera (z = -5) to z = 10 is clipped, not dropped.
    const D3DVECTOR v[4] = {{-2, -1, -5}, {-2, -1, 10}, {2, -1, 10}, {2, -1, -5}};
    s.root->AddVisual(s.mesh(4, v, kQuadFace));
    s.render();
    // Its far edge lies at row 240 + 640 / 10 = 304; below it the floor fills
    // the view to the bottom. Row 320 lies at depth 640 / 80.5: the half-width
    // of 2 spans 161 pixels.
    const struct { int x, y; bool drawn; } probes[] = {{320, 300, false}, {320, 310, true}, {320, 479, true},
        {320 - 166, 320, false}, {320 - 156, 320, true}, {320 + 156, 320, true}, {320 + 166, 320, false}};
    for (auto p : probes) EXPECT_EQ(s.at(p.x, p.y), p.drawn ? kWhite : s.background) << p.x << "," << p.y;
}

// Key (black) texels of a decal are not drawn, and its edges follow the
// filtered coverage: a 45-degree edge between picture and key texels,
// magnified about 8 times, is a straight line on screen rather than a
// staircase of texel-sized steps, with no dark fringe.
TEST(RetainedModePixels, MagnifiedDecalEdgeIsSmoothNotStairStepped) {
    Stage s;
    s.background = 0x00000080;
    // Texel (x, y) shows where x > y: key below the diagonal.
    Image image(64, 64, [](int x, int y) -> uint32_t { return x > y ? 0xFFFFFF : 0x000000; });
    // 54 texels across the quad's 448 pixels.
    s.frame(s.root, 0, 0, 10, s.textured(s.quad(0xFFFFFFFF), image, true, {0.0625f, 0.0625f, 0.90625f, 0.90625f}));
    s.render();
    // The quad spans columns 96 to 543 and rows 16 to 463. Per row, the first
    // drawn pixel from the left: the edge. Right of it everything is drawn,
    // all white (no holes, no grey halo).
    std::vector<int> edge;
    int maxStep = 0;
    for (int y = 32; y < 448; y++) {
        int x = 96;
        while (x <= 543 && s.at(x, y) == s.background) x++;
        ASSERT_LE(x, 543) << "row " << y;
        if (!edge.empty()) maxStep = std::max(maxStep, std::abs(x - edge.back()));
        edge.push_back(x);
        for (int k = x; k <= 543; k++) ASSERT_EQ(s.at(k, y) & 0xF0F0F0u, 0xF0F0F0u) << k << "," << y;  // each >= 0xF0
    }
    const double slope = (double)(edge.back() - edge.front()) / (double)(edge.size() - 1);
    EXPECT_NEAR(slope, 1.0, 0.05);
    double maxOff = 0;
    for (size_t i = 0; i < edge.size(); i++) maxOff = std::max(maxOff, std::fabs(edge[i] - (edge.front() + slope * i)));
    // Nearest-texel transparency moves the edge by a whole texel (8 pixels)
    // every 8 rows; the filtered mask moves it by a pixel or two per row.
    // (The half-coverage contour of bilinear steps is slightly wavy.)
    EXPECT_LE(maxStep, 2);
    EXPECT_LE(maxOff, 1.5);
}

// The background fill, which the bands write as they draw when the viewport
// covers the surface, reaches every pixel either way.
TEST(RetainedModePixels, TheFillReachesEveryPixelWhateverTheViewportCovers) {
    Stage s;
    s.frame(s.root, 0, 0, 10, s.quad(0xFFFFFFFF));
    for (uint32_t colour : {0x00FF0000u, 0x00000000u}) {
        s.background = colour;
        s.render();
        EXPECT_EQ(s.count(kWhite), 448 * 448) << colour;
        EXPECT_EQ(s.count(colour), 640 * 480 - 448 * 448) << colour;
    }
    IDirect3DRMViewport* left = nullptr;
    ASSERT_EQ(s.d3drm->CreateViewport(s.device, s.camera, 0, 0, 320, 480, &left), D3DRM_OK);
    s.own(left)->SetBack(5000.0f);
    DDBLTFX fx{100, 0x00010203};
    s.back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    left->Clear();
    left->Render(s.root);
    s.device->Update();
    const int white = s.count(kWhite);
    EXPECT_GT(white, 0);
    EXPECT_EQ(s.count(0x00010203), 640 * 480 - white);
    for (int y = 0; y < 480; y += 7) EXPECT_EQ(s.at(320 + y % 320, y), 0x00010203u) << y;
}

TEST(RetainedModePixels, TranslucentFacesAreDrawnFarthestFirst) {
    Stage s;
    s.background = 0;
    // The near one comes first in the tree; sorting must still draw it last.
    IDirect3DRMFrame* holder = s.frame(s.root, 0, 0, 0);
    holder->SetSortMode(D3DRMSORT_NONE);
    s.frame(holder, 0, 0, 10, s.quad(0x80FF0000));
    s.frame(holder, 0, 0, 20, s.quad(0x8000FF00));
    s.render();
    expectRgb(s.at(320, 240), 128, 64, 0, 3);  // red over (green over black)
    // An opaque quad between them hides the far one but not the near one.
    s.frame(s.root, 0, 0, 15, s.quad(0xFF0000FF));
    s.render();
    expectRgb(s.at(320, 240), 128, 0, 127, 3);
}

// A half-transparent (alpha 0x7F) quad square to the view, its diagonal
// through pixel centres (where the fill rule decides), then turned so that
// its diagonal runs at an odd slope: about half white everywhere, no pixel
// blended twice, no gaps.
TEST(RetainedModePixels, HalfAlphaBlendsToAboutHalfAndSharedEdgesAreDrawnOnce) {
    Stage s;
    s.background = 0;
    IDirect3DRMFrame* f = s.frame(s.root, 0, 0, 10, s.quad(0x7FFFFFFF));
    for (bool turned : {false, true}) {
        if (turned) f->SetPosition(s.root, 0.37f, -0.21f, 10), f->SetOrientation(s.root, 0.2f, 0.1f, 1, 0.45f, 1, 0);
        s.render();
        const uint32_t inside = s.at(320, 240);
        expectRgb(inside, 127, 127, 127, 2);
        int covered = 0;
        for (int y = 0; y < 480; y++) {
            // The quad is convex: each row holds one run of `inside` and black around it.
            const uint32_t* row = s.pixels() + y * 640;
            const int n = (int)std::count(row, row + 640, inside), first = (int)(std::find(row, row + 640, inside) - row);
            ASSERT_EQ(n + std::count(row, row + 640, 0u), 640) << "double blend in row " << y << ", turned " << turned;
            ASSERT_EQ(std::count(row + first, row + first + n, inside), n) << "gap in row " << y << ", turned " << turned;
            covered += n;
        }
        EXPECT_GT(covered, 100000) << turned;
    }
}

TEST(RetainedModePixels, PerspectiveTexturingKeepsLinesStraightAndDepthsRight) {
    Stage s;
    // Left quarter white, the rest black, top half of v light grey: a vertical
    // boundary at u = 0.25 and a horizontal one at v = 0.5.
    Image image(64, 64, [](int x, int y) -> uint32_t { return x < 16 ? 0xFFFFFF : y < 32 ? 0x808080 : 0x000000; });
    // Floor at y = -1 from z = 4 (v = 1) to z = 12 (v = 0), x from -2 (u = 0) to 2 (u = 1).
    const D3DVECTOR v[4] = {{-2, -1, 4}, {-2, -1, 12}, {2, -1, 12}, {2, -1, 4}};
    s.root->AddVisual(s.textured(s.mesh(4, v, kQuadFace), image, false, {0, 0, 1, 1}));
    s.render();
    // v = 0.5 lies at z = 8: row 240 + 640 / 8 = 320 (an affine mapping would put it at 347).
    int boundary = -1;
    for (int y = 300; y < 380; y++)
        if (channel(s.at(400, y), 8) < 64 && channel(s.at(400, y - 1), 8) >= 64) boundary = y;
    EXPECT_NEAR(boundary, 320, 2);
    // u = 0.25 (x = -1) runs straight towards the vanishing point: column 320 - 640 / z.
    for (int y = 300; y < 400; y += 7) {
        int edge = -1, mid = (255 + channel(s.at(318, y), 16)) / 2;  // halfway from white to the row's other side
        for (int x = 100; x < 320; x++)
            if (channel(s.at(x, y), 16) >= mid && channel(s.at(x + 1, y), 16) < mid) edge = x;
        float z = 640.0f / (y + 0.5f - 240.0f);
        EXPECT_NEAR(edge + 0.5f, 320 - 640 / z, 2.0f) << "row " << y;
    }
}

// Bands of rows drawn by any number of workers, and the eight-pixel loop and
// the pixel-by-pixel one, all draw the same picture, bit for bit: a receding
// floor (every mip level, blended between levels), a turned translucent
// picture, a decal and a plain lit quad over each other.
TEST(RetainedModePixels, AnyNumberOfWorkersAndBothPixelLoopsDrawTheSamePicture) {
    Stage s;
    Image pattern(64, 64, [](int x, int y) -> uint32_t {
        return (uint32_t)((x * 37 + y * 11) & 255) << 16 | (uint32_t)((x ^ y) * 4 & 255) << 8 | (uint32_t)(y * 4);
    });
    Image spots(32, 32, [](int x, int y) -> uint32_t { return std::hypot(x - 16, y - 16) < 11 ? 0xFFC040 : 0; });
    const D3DVECTOR floor[4] = {{-40, -3, 2}, {-40, -3, 300}, {40, -3, 300}, {40, -3, 2}};
    s.root->AddVisual(s.textured(s.mesh(4, floor, kQuadFace), pattern, false, {0, 0, 9.5f, 37.25f}));
    IDirect3DRMMeshBuilder* glass = s.textured(s.quad(0x9FFFFFFF), pattern, false, {-0.3f, 0.2f, 1.7f, 2.1f});
    s.frame(s.root, -1.3f, 0.4f, 11, glass)->SetOrientation(s.root, 0.5f, 0.2f, 1, 0.3f, 1, 0);
    IDirect3DRMMeshBuilder* decal = s.textured(s.quad(0xFFFFFFFF), spots, true, {0, 0, 2, 2});
    s.frame(s.root, 2.1f, -0.7f, 14, decal)->SetOrientation(s.root, -0.4f, 0.1f, 1, 0, 1, 0.2f);
    s.frame(s.root, 4.0f, 2.5f, 30, s.quad(0xFF3080C0));
    const int threads = rm::renderThreads();
    const bool wasWide = rm::rasterWide();
    // With smooth edges the flip shows the samples' mean, at 1.5 times the size.
    std::vector<uint32_t> shown;
    vtSetFrameHook([&](int64_t, const uint32_t* pixels, int w, int h) { shown.assign(pixels, pixels + w * h); });
    for (const bool smooth : {false, true}) {
        SCOPED_TRACE(smooth ? "smooth edges" : "one sample a pixel");
        vtSetRenderScale(smooth ? 1.5 : 1.0);
        vtSetRenderSamples(smooth ? 2 : 1);
        auto picture = [&](int workers) {
            rm::setRenderThreads(workers);
            s.render();
            if (!smooth) return std::vector<uint32_t>(s.pixels(), s.pixels() + 640 * 480);
            s.primary->Flip(nullptr, DDFLIP_WAIT);
            EXPECT_EQ(shown.size(), 960u * 720u);
            return shown;
        };
        const std::vector<uint32_t> one = picture(1);
        EXPECT_GT((int)one.size() - std::count(one.begin(), one.end(), s.background), (int)one.size() / 2);
        for (int n : {2, 3, 7}) EXPECT_TRUE(picture(n) == one) << n << " threads";
        rm::setRenderThreads(threads);
        if (!rm::rasterUseWide(true)) continue;  // no eight-pixel loop on this processor
        const std::vector<uint32_t> wide = picture(threads);
        EXPECT_FALSE(rm::rasterUseWide(false));
        EXPECT_TRUE(picture(threads) == wide) << "the pixel loops differ";
        rm::rasterUseWide(wasWide);
    }
    vtSetFrameHook(nullptr);
    vtSetRenderSamples(1);
    vtSetRenderScale(1.0);
}

// At one sample a pixel the benchmarks' reference scene (textures, decals,
// translucent layers, every mip level) is drawn as it always has been, with
// either pixel loop, in WebAssembly too: the same FNV-1a of its pixels.
TEST(RetainedModePixels, ReferenceSceneIsDrawnAsAlways) {
    refscene::ReferenceScene scene;
    scene.pass();  // its first frame, as bench_render --picture writes it
    const bool wasWide = rm::rasterWide();
    for (const bool wide : {true, false}) {
        if (rm::rasterUseWide(wide) != wide) continue;  // no eight-pixel loop on this processor
        const uint32_t* pixels = scene.still();
        uint64_t h = 14695981039346656037ull;
        for (int i = 0; i < 640 * 480; i++)
            for (int k = 0; k < 4; k++) h = (h ^ ((pixels[i] >> (8 * k)) & 255)) * 1099511628211ull;
        EXPECT_EQ(h, 0x11d30fd7132f7175ull) << (wide ? "eight-pixel loop" : "one-pixel loop");
    }
    rm::rasterUseWide(wasWide);
}

// The eight-pixel loop's short conversion of texel coordinates to 16.16 fixed
// point gives what the full one gives over its whole range: whole numbers of
// sixty-fourths of a texel, the floats just beside them, and others at random.
WIDE static void nearTexels(const float in[8], uint32_t out[8]) {
    _mm256_storeu_si256((__m256i*)out, rm::raster::nearTexel8(_mm256_loadu_ps(in)));
}
TEST(RetainedModePixels, TexelCoordinatesConvertAlikeBothWays) {
    if (!rm::rasterUseWide(true)) GTEST_SKIP() << "no eight-pixel loop on this processor";
    std::vector<float> values = {0.0f, 1e-30f, 1e-9f, 0.5f, 2 * rm::kNearTexels - 0.01f};
    std::mt19937 random(3);
    for (int i = 0; i < 20000; i++) {
        const float at = (float)(random() % (1u << 21)) / 64.0f;  // below 2^15
        values.insert(values.end(), {at, std::nextafter(at, 0.0f), std::nextafter(at, 1e9f),
                                     std::ldexp((float)(random() & 0xFFFFFF), -(int)(random() % 40))});
    }
    for (size_t i = 0; i + 8 <= values.size(); i += 8) {
        uint32_t got[8];
        nearTexels(&values[i], got);
        for (int k = 0; k < 8; k++)
            if (values[i + k] < 2 * rm::kNearTexels) {
                ASSERT_EQ(got[k], rm::raster::fixedTexel(values[i + k])) << values[i + k];
            }
    }
}

// Every pixel a triangle draws, with either pixel loop and drawn whole or in
// bands of rows, is the one whose centre its three edge functions, evaluated
// at that pixel alone, put inside (top-left rule): slivers, nearly level
// edges, vertices far out in the guard band and clipping included, so that
// walking the edges down many rows never drifts by a column. With samples,
// the same holds for every sample at its own offset, and a pixel resolves to
// the share of its samples covered, also for triangles smaller than a pixel.
TEST(RetainedModePixels, TrianglesCoverExactlyThePixelCentresInsideTheirEdges) {
    constexpr int W = 72, H = 56;
    std::mt19937 random(1);  // the same triangles with every C++ library
    auto pick = [&](float lo, float hi) { return lo + (hi - lo) * (float)random() / (float)std::mt19937::max(); };
    const bool wasWide = rm::rasterWide();
    int tinyDrawn[2] = {0, 0};  // sub-pixel triangles that drew anything, without and with samples
    for (const int samples : {1, rm::kSamples}) {
        SCOPED_TRACE(samples == 1 ? "one sample a pixel" : "samples");
        std::vector<uint32_t> color((size_t)W * H * samples), resolved(W * H);
        rm::RTarget t;
        t.color = color.data();
        t.pitch = W * samples;
        t.x0 = 3, t.y0 = 2, t.x1 = 67, t.y1 = 51;
        if (samples > 1) t.samples = samples, t.plane = t.across = W;
        int drawn = 0, tiny = 0;
        for (int n = 0; n < 1500; n++) {
            rm::RVert v[3] = {};
            const float reach = n % 3 == 0 ? 1400.0f : 60.0f;
            for (rm::RVert& p : v) p = {pick(-reach, W + reach), pick(-reach, H + reach), 1.0f, 0, 0, {256, 256, 256, 256}};
            if (n % 4 == 1) v[1].y = v[0].y + pick(-0.2f, 0.2f);  // a nearly level edge
            if (n % 5 == 2) v[2] = v[0], v[2].x += pick(-0.3f, 0.3f), v[2].y += pick(30, 90);  // a sliver
            if (n % 7 == 3) {  // smaller than a pixel
                v[0].x = pick(4, 60), v[0].y = pick(4, 45);
                for (int i : {1, 2}) v[i].x = v[0].x + pick(-0.9f, 0.9f), v[i].y = v[0].y + pick(-0.9f, 0.9f);
            }
            int64_t X[3], Y[3];
            auto snap = [&] {
                for (int i = 0; i < 3; i++) X[i] = std::lrint(v[i].x * 16.0f), Y[i] = std::lrint(v[i].y * 16.0f);
                return (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]) > 0;
            };
            if (!snap() && n % 8) std::swap(v[1], v[2]);  // most turned to face
            const bool clockwise = snap();
            // Whether the point (sx, sy), in sixteenths, lies inside.
            auto inside = [&](int64_t sx, int64_t sy) {
                for (int i = 0, j = 1; i < 3; i++, j = (i + 1) % 3) {
                    const int64_t dx = X[j] - X[i], dy = Y[j] - Y[i], bias = dy < 0 || (dy == 0 && dx > 0) ? 0 : 1;
                    if (dx * (sy - Y[i]) - dy * (sx - X[i]) - bias < 0) return false;
                }
                return true;
            };
            auto covers = [&](int x, int y, int k) {
                const int ox = samples > 1 ? rm::kSampleOffset[k][0] : 0, oy = samples > 1 ? rm::kSampleOffset[k][1] : 0;
                return clockwise && x >= t.x0 && x < t.x1 && y >= t.y0 && y < t.y1 &&
                       inside(16 * x + 8 + ox, 16 * y + 8 + oy);
            };
            for (int way = 0; way < 3; way++) {  // whole with the default loop, in bands with each loop
                if (way > 0 && !rm::rasterUseWide(way == 2)) continue;
                std::fill(color.begin(), color.end(), 0u);
                rm::RasterSetup setup;
                ASSERT_EQ(rm::rasterSetup(t, v[0], v[1], v[2], nullptr, 0, setup), clockwise) << n;
                const int band = way == 0 ? H : 5;
                for (int y0 = t.y0; y0 < t.y1; y0 += band) rm::rasterRows(t, setup, y0, y0 + band);
                if (samples > 1) rm::resolveRows(t, resolved.data(), W, 0, H);
                int wrong = 0, wrongMean = 0, covered = 0;
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++) {
                        int count = 0;
                        for (int k = 0; k < samples; k++) {
                            const bool got = color[(size_t)y * t.pitch + (size_t)k * W + x] != 0;
                            wrong += got != covers(x, y, k);
                            count += got;
                        }
                        // White (255 in each channel) on black: the rounded mean.
                        const uint32_t grey = (255u * count + 2) / 4;
                        if (samples > 1) wrongMean += resolved[y * W + x] != (grey << 16 | grey << 8 | grey);
                        covered += count;
                    }
                EXPECT_EQ(wrong, 0) << "triangle " << n << ", way " << way;
                EXPECT_EQ(wrongMean, 0) << "triangle " << n << ", way " << way;
                drawn += covered > 0;
                tiny += n % 7 == 3 && covered > 0;
            }
        }
        rm::rasterUseWide(wasWide);
        EXPECT_GT(drawn, 1200);
        tinyDrawn[samples > 1] = tiny;
    }
    // Most sub-pixel triangles cover no pixel centre, but some sample.
    EXPECT_GT(tinyDrawn[1], 2 * tinyDrawn[0]) << tinyDrawn[0] << " without samples, " << tinyDrawn[1] << " with";
}

TEST(RetainedModePixels, DegenerateAndNonFiniteGeometryIsSkipped) {
    Stage s;
    const float nan = std::nanf("");
    const D3DVECTOR v[9] = {{nan, 0, 5},        {1, 1, 5}, {1, 0, 5}, {-1e30f, -1e30f, 5}, {1e30f, 1e30f, 5},
                            {1e30f, -1e30f, 5}, {0, 0, 5}, {0, 0, 5}, {0, 0, 5}};
    const DWORD f[] = {3, 0, 1, 2, 3, 3, 4, 5, 3, 6, 7, 8, 0};
    s.root->AddVisual(s.mesh(9, v, f));
    s.render();  // must not crash; the huge face is clipped to the view
    EXPECT_EQ(s.count(s.background) + s.count(kWhite), 640 * 480);
}

// --- Frames ---------------------------------------------------------------------

TEST(RetainedModeFrames, LookAtTurnsZToTheTargetWithoutRoll) {
    Stage s;
    IDirect3DRMFrame* target = s.frame(s.root, 0, 0, 0);
    const struct { D3DVECTOR at, dir, up; } cases[] = {{{10, 0, 10}, {0.7071f, 0, 0.7071f}, {0, 1, 0}},
                                                      {{0, 10, 10}, {0, 0.7071f, 0.7071f}, {0, 0.7071f, -0.7071f}}};
    for (const auto& c : cases) {
        D3DVECTOR dir, up;
        target->SetPosition(s.root, c.at.x, c.at.y, c.at.z);
        s.camera->LookAt(target, s.root, D3DRMCONSTRAIN_Z);
        s.camera->GetOrientation(s.root, &dir, &up);
        expectVec(dir, c.dir, 1e-4f);
        expectVec(up, c.up, 1e-4f);
    }
}

TEST(RetainedModeFrames, SetRotationTurnsPerUnitOfMoveDownTheTree) {
    Stage s;
    IDirect3DRMFrame* parent = s.frame(s.root, 0, 0, 0);
    IDirect3DRMFrame* child = s.frame(parent, 5, 0, 0);
    child->SetRotation(s.root, 0, 1, 0, 0.1f);
    D3DVECTOR dir, up, pos;
    for (auto [move, angle] : {std::pair{5.0f, 0.5f}, {2.5f, 0.75f}}) {
        s.root->Move(move);
        child->GetOrientation(s.root, &dir, &up);
        expectVec(dir, {std::sin(angle), 0, std::cos(angle)}, 1e-4f);
        expectVec(up, {0, 1, 0}, 1e-4f);
        child->GetPosition(s.root, &pos);  // turns about its own origin
        expectVec(pos, {5, 0, 0}, 1e-4f);
    }
    // A turning parent carries its children.
    parent->SetRotation(s.root, 0, 1, 0, 1.5707963f);  // a quarter turn per unit
    child->SetRotation(s.root, 0, 1, 0, 0);
    s.root->Move(1.0f);
    child->GetPosition(s.root, &pos);
    expectVec(pos, {0, 0, -5}, 1e-3f);
}

TEST(RetainedModeFrames, PositionsRelativeToATurnedReference) {
    Stage s;
    IDirect3DRMFrame* a = s.frame(s.root, 1, 2, 3);
    a->SetOrientation(s.root, 1, 0, 0, 0, 1, 0);  // z along world +x, x along world -z
    IDirect3DRMFrame* b = s.frame(a, 0, 0, 4);
    D3DVECTOR p;
    b->GetPosition(s.root, &p);
    expectVec(p, {5, 2, 3}, 1e-5f);
    b->SetPosition(s.root, 0, 0, 0);
    b->GetPosition(a, &p);
    expectVec(p, {3, -2, -1}, 1e-5f);
}

// --- Mesh builders, wraps and paths ----------------------------------------------

TEST(RetainedModeMeshes, FacesScaleTranslateBoxAndBadInput) {
    Stage s;
    IDirect3DRMMeshBuilder* m = s.quad(0xFFFFFFFF);
    m->Scale(2, 1, 1);
    m->Translate(1, 0, 5);
    D3DRMBOX box;
    m->GetBox(&box);
    expectVec(box.min, {-6, -3.5f, 5}, 1e-6f);
    expectVec(box.max, {8, 3.5f, 5}, 1e-6f);
    const DWORD badIndex[] = {3, 0, 1, 9, 0}, badCount[] = {2, 0, 1, 0};
    for (const DWORD* bad : {badIndex, badCount}) EXPECT_NE(m->AddFaces(4, kQuad, 0, nullptr, bad, nullptr), D3DRM_OK);
    EXPECT_EQ(std::pair(m->GetVertexCount(), m->GetFaceCount()), std::pair(4, 1));  // nothing of them kept
    EXPECT_NE(m->SetTextureCoordinates(4, 0, 0), D3DRM_OK);
    m->SetColorRGB(1.0f, 0.5f, 0.0f);
    EXPECT_EQ(m->GetColor(), 0xFFFF8000u);
    D3DRMIMAGE broken{};
    IDirect3DRMTexture* tex = nullptr;
    EXPECT_NE(s.d3drm->CreateTexture(&broken, &tex), D3DRM_OK);
    EXPECT_EQ(tex, nullptr);
}

TEST(RetainedModeMeshes, FlatAndSphereWrapCoordinates) {
    Stage s;
    auto wrapped = [&](D3DRMWRAPTYPE type, const D3DVECTOR* v, DWORD n, const DWORD* faces, const float (&p)[10]) {
        IDirect3DRMMeshBuilder* m = s.mesh(n, v, faces);
        IDirect3DRMWrap* wrap = nullptr;
        EXPECT_EQ(s.d3drm->CreateWrap(type, nullptr, 0, 0, 0, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9],
                                      &wrap), D3DRM_OK);
        wrap->Apply(m);
        wrap->Release();
        return m;
    };
    auto expectUv = [](IDirect3DRMMeshBuilder* m, DWORD i, float u, float v) {
        float gu, gv;
        m->GetTextureCoordinates(i, &gu, &gv);
        EXPECT_TRUE(std::fabs(gu - u) < 1e-4f && std::fabs(gv - v) < 1e-4f) << i << ": " << gu << ", " << gv;
    };
    // As the show's builders: z axis (0, 1, 0), y axis (0, 0, 1), so the wrap's
    // y is the model's z and its x the model's -x; u = su x - ou, v = sv y - ov.
    const D3DVECTOR v[3] = {{2, 3, 4}, {0, 0, 0}, {-1, 5, 2}};
    const DWORD f[] = {3, 0, 1, 2, 0};
    IDirect3DRMMeshBuilder* flat = wrapped(D3DRMWRAP_FLAT, v, 3, f, {0, 1, 0, 0, 0, 1, 0.5f, 0.25f, -1.0f, 3.0f});
    expectUv(flat, 0, -1.0f * -2 - 0.5f, 3.0f * 4 - 0.25f);
    expectUv(flat, 2, -1.0f * 1 - 0.5f, 3.0f * 2 - 0.25f);
    flat->AddFaces(3, v, 0, nullptr, f, nullptr);  // vertices added later keep no wrapped coordinates
    expectUv(flat, 3, 0, 0);
    // Sphere, wrap frame = model frame; points on +z, +x, +y, -z: u = su theta / 2 pi - ou, v = sv phi / pi - ov.
    const D3DVECTOR p[4] = {{0, 0, 2}, {3, 0, 0}, {0, 5, 0}, {0, 0, -1}};
    IDirect3DRMMeshBuilder* sphere = wrapped(D3DRMWRAP_SPHERE, p, 4, kQuadFace, {0, 0, 1, 0, 1, 0, 0.1f, 0.2f, 2, -40});
    expectUv(sphere, 0, -0.1f, -40.0f * 0.5f - 0.2f);
    expectUv(sphere, 1, 2.0f * 0.25f - 0.1f, -40.0f * 0.5f - 0.2f);
    expectUv(sphere, 2, -0.1f, -0.2f);
    expectUv(sphere, 3, 2.0f * 0.5f - 0.1f, -40.0f * 0.5f - 0.2f);
}

TEST(RetainedModePaths, ClosedSplineRunsThroughTheKeysAndReturnsToItsStart) {
    Stage s;
    IDirect3DRMAnimation* anim = nullptr;
    ASSERT_EQ(s.d3drm->CreateAnimation(&anim), D3DRM_OK);
    s.own(anim)->SetFrame(s.camera);
    anim->SetOptions(D3DRMANIMATION_CLOSED | D3DRMANIMATION_SPLINEPOSITION | D3DRMANIMATION_POSITION);
    const float keys[5][4] = {{0, 0, 0, 0}, {10, 100, 0, 0}, {20, 100, 50, 0}, {30, 0, 50, 20}, {40, 0, 0, 0}};
    for (auto& k : keys) anim->AddPositionKey(k[0], k[1], k[2], k[3]);
    auto where = [&](float t) {
        anim->SetTime(t);
        D3DVECTOR p;
        s.camera->GetPosition(s.root, &p);
        return p;
    };
    for (auto& k : keys) expectVec(where(k[0]), {k[1], k[2], k[3]}, 1e-3f);
    // Periodic over the span of the keys, and smooth across the seam.
    EXPECT_NEAR(where(13.0f).x, where(53.0f).x, 1e-3f);
    EXPECT_NEAR(where(13.0f).y, where(-27.0f).y, 1e-3f);
    D3DVECTOR before = where(39.9f), after = where(40.1f), at = where(40.0f);
    EXPECT_NEAR(before.x + after.x, 2 * at.x, 0.05f);
    EXPECT_NEAR(before.y + after.y, 2 * at.y, 0.05f);
    EXPECT_LT(std::fabs(before.x - at.x), 1.0f);
    // A curve, not straight lines: halfway between the first keys it bulges.
    D3DVECTOR mid = where(5.0f);
    EXPECT_NEAR(mid.x, 50, 15);
    EXPECT_GT(std::fabs(mid.y) + std::fabs(mid.z), 0.5f);
}

// --- The show's scene graph -------------------------------------------------------

TEST(SceneGraph, CameraChildrenMoveWithTheCamera) {
    Stage s;
    IDirect3DRM* savedRm = std::exchange(g_d3drm, s.d3drm);
    IDirect3DRMDevice2* savedDevice = std::exchange(g_device, s.device);
    buildSceneGraph();
    ASSERT_NE(g_viewport, nullptr);
    g_cameraFrame->SetPosition(g_sceneFrame, 0, 0, -150);
    auto z = [](IDirect3DRMFrame* f) { D3DVECTOR p; f->GetPosition(g_sceneFrame, &p); return p.z; };
    for (auto* f : {g_loadingFrame, g_arrow1Frame, g_arrow2Frame, g_tilesFrame2, g_zugFrame, g_tilesFrame1, g_teFrame})
        EXPECT_FLOAT_EQ(z(f), -150);
    for (auto* f : {g_zagFrame, g_zlinFrame, g_stFrame, g_stShellFrame, g_knotFrame, g_boxFrame, g_spareFrame, g_blinFrame})
        EXPECT_FLOAT_EQ(z(f), 0);
    for (auto* m : {quad1, quad2, quad3, meshZag, meshZlin, meshSt, meshStShell, meshKnot, meshBox, meshPyr, meshBlin,
                    meshFlower, quad4, quad5, quad6, quad7, quad8, quad9, quad10})
        m->Release();
    g_sceneFrame->Release();
    g_viewport->Release();
    g_d3drm = savedRm;
    g_device = savedDevice;
}

// --- Threads --------------------------------------------------------------------

// Loading fills meshes while the loading screen renders; run with the
// thread sanitizer, this shows any unguarded access.
TEST(RetainedModeThreads, MeshesFilledAndRecolouredWhileRendering) {
    Stage s;
    IDirect3DRMMeshBuilder* q = s.quad(0xFFFFFFFF);
    s.frame(s.root, 0, 0, 10, q);
    IDirect3DRMMeshBuilder* filled = nullptr;
    s.d3drm->CreateMeshBuilder(&filled);
    s.frame(s.root, 2, 0, 20, s.own(filled));
    Image image(64, 64, [](int x, int y) -> uint32_t { return (uint32_t)(x * 4 << 8 | y * 4); });
    std::thread worker([&] {
        for (int i = 0; i < 200; i++) {
            q->SetColor(((uint32_t)(i & 255) << 24) | 0xFFFFFF);
            filled->AddFaces(4, kQuad, 0, nullptr, kQuadFace, nullptr);
            IDirect3DRMTexture* t = nullptr;
            if (i % 50 == 0 && s.d3drm->CreateTexture(&image.record, &t) == D3DRM_OK) filled->SetTexture(t), t->Release();
        }
    });
    for (int i = 0; i < 30; i++) s.render();
    worker.join();
    s.render();
    EXPECT_EQ(filled->GetFaceCount(), 200);
}

// --- Smooth edges -----------------------------------------------------------------

// Shown by the flip: with smooth edges the edges of a white square turned on
// black, and of a keyed decal's magnified white disc, take intermediate
// greys, each between a lighter and a darker neighbour; without, every pixel
// is white or black.
TEST(RetainedModeFullScreen, SmoothEdgesAreGreyOnlyAlongEdges) {
    std::vector<uint32_t> shown;
    vtSetFrameHook([&](int64_t, const uint32_t* pixels, int w, int h) { shown.assign(pixels, pixels + w * h); });
    // The grey pixels shown, and how many of them lack a lighter or a darker neighbour.
    auto greys = [&](Stage& s, int samples) {
        vtSetRenderSamples(samples);
        s.render();
        s.primary->Flip(nullptr, DDFLIP_WAIT);
        std::pair<int, int> found{0, 0};
        for (int i = 641; i < 640 * 479 - 1; i++) {  // the shapes keep clear of the picture's border
            const int grey = channel(shown[i], 8);
            if (shown[i] == 0 || shown[i] == kWhite) continue;
            bool lighter = false, darker = false;
            for (int d : {-641, -640, -639, -1, 1, 639, 640, 641})
                lighter |= channel(shown[i + d], 8) > grey, darker |= channel(shown[i + d], 8) < grey;
            found.first++, found.second += !(lighter && darker);
        }
        return found;
    };
    Stage square;
    square.background = 0;
    square.frame(square.root, 0, 0, 12, square.quad(0xFFFFFFFF))->SetOrientation(square.root, 0, 0, 1, 0.4f, 1, 0);
    Stage disc;
    disc.background = 0;
    Image spot(16, 16, [](int x, int y) -> uint32_t { return std::hypot(x - 7.5, y - 7.5) < 6 ? 0xFFFFFF : 0; });
    disc.frame(disc.root, 0, 0, 10, disc.textured(disc.quad(0xFFFFFFFF), spot, true, {0, 0, 1, 1}));
    for (Stage* s : {&square, &disc}) {
        SCOPED_TRACE(s == &square ? "square" : "decal");
        const int plain = greys(*s, 1).first;
        const auto [edge, alone] = greys(*s, 2);
        EXPECT_EQ(plain, 0);
        EXPECT_GT(edge, 4 * 150);  // most of the edges' pixels: a side of the square or a quarter of the disc
        EXPECT_EQ(alone, 0);
    }
    vtSetRenderSamples(1);
    vtSetFrameHook(nullptr);
}

// At the largest render scale the flip shows the 3D drawn at 2880 x 2160, with
// smooth edges too (four samples a pixel, resolved): the quad that
// covers 448 x 448 pixels of 640 x 480 covers 2016 x 2016, its edges on
// pixel boundaries, so no pixel is grey.
TEST(RetainedModeFullScreen, TheLargestRenderScaleDraws2880x2160) {
    std::vector<uint32_t> shown;
    int width = 0, height = 0;
    vtSetFrameHook([&](int64_t, const uint32_t* pixels, int w, int h) {
        shown.assign(pixels, pixels + (size_t)w * h), width = w, height = h;
    });
    vtSetRenderScale(4.5);
    struct Restore {  // the next tests draw at 640 x 480 again, even after a failure here
        ~Restore() { vtSetRenderSamples(1), vtSetRenderScale(1.0), vtSetFrameHook(nullptr); }
    } restore;
    Stage s;
    s.background = 0;
    s.frame(s.root, 0, 0, 10, s.quad(0xFFFFFFFF));
    for (int samples : {1, 2}) {
        vtSetRenderSamples(samples);
        shown.clear();
        s.render();
        s.primary->Flip(nullptr, DDFLIP_WAIT);
        ASSERT_EQ(std::pair(width, height), std::pair(2880, 2160)) << samples;
        EXPECT_EQ(std::count(shown.begin(), shown.end(), kWhite), 2016 * 2016) << samples;
        EXPECT_EQ(std::count(shown.begin(), shown.end(), 0u), 2880 * 2160 - 2016 * 2016) << samples;
        const uint32_t* middle = &shown[(size_t)1080 * 2880];  // the quad spans columns 432 to 2447
        EXPECT_EQ(std::tuple(middle[431], middle[432], middle[2447], middle[2448]), std::tuple(0u, kWhite, kWhite, 0u))
            << samples;
    }
}
