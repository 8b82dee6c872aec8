// Inside the retained-mode layer: devices and viewports, and the render
// pipeline (transform, clipping, projection, sorting, set-up and the bands of
// rows drawn on the workers) in render.cpp.
#pragma once
#include <atomic>

#include "platform/rm/objects.h"
#include "platform/rm/workers.h"
#include "platform/backend.h"
#include "platform/win/wincore.h"

namespace rm {

// --- Device, viewport and the renderer ------------------------------------------

struct TV {  // a vertex in view space, with its projection
    float x, y, z, u, v;
    unsigned out;  // clip planes it lies outside of
    float sx, sy, q;
};

// A translucent triangle set up, waiting for the sorted pass: what the sort
// and the binning read of it, kept apart from its set-up so that they read
// little of another worker's memory.
struct QueuedPlace {
    uint32_t farness;  // ~ the bits of its mean depth: smaller is farther
    int yStart, yEnd;  // its set-up's rows
};

struct DrawItem {  // a mesh in one frame, in view coordinates
    Mesh* mesh;
    Xf mv;
    bool zOn;
    float depth;  // of its centre
    size_t sequence;
};

// A run of one mesh's triangles, set up on a worker: the vertices they use in
// view space, then their set-ups in drawing order, binned to the bands of
// rows they reach, and the translucent ones kept for the sorted pass. Kept
// from frame to frame with their storage.
struct alignas(64) Batch {  // its own cache lines: workers fill neighbouring runs at once
    const DrawItem* item = nullptr;
    uint32_t first = 0, count = 0;  // triangles [first, first + count)
    uint32_t lowest = 0;            // verts[i] is the mesh's vertex lowest + i
    std::vector<TV> verts;
    std::vector<RasterSetup> setups;
    // Band b draws setups[inBand[i]] for i in [bandStart[b], bandStart[b + 1]).
    std::vector<uint32_t> bandStart, inBand;
    std::vector<RasterSetup> queued;
    std::vector<QueuedPlace> places;  // of the queued set-ups
};

struct Device final : Obj<IDirect3DRMDevice2> {
    IDirectDrawSurface* surface = nullptr;
    IDirectDrawClipper* clipper = nullptr;
    int width = 640, height = 480;
    std::vector<uint32_t> picture;  // clipper devices draw here
    std::vector<float> depth;
    DWORD renderMode = 0;
    // Scratch kept from frame to frame.
    std::vector<DrawItem> items;
    std::vector<std::vector<std::pair<float, size_t>>> childOrder;  // (depth, child index)
    std::vector<Batch> batches;  // the first `batchCount` are this frame's
    size_t batchCount = 0;
    // Translucent triangles in drawing order (farthest first): their places
    // in the batches (and room to sort them), then their set-ups binned to
    // the bands of rows: band b draws binned[i] for i in [bandStart[b],
    // bandStart[b + 1]) after the batches' triangles.
    std::vector<uint64_t> order, sorting;
    std::vector<const RasterSetup*> binned;
    std::vector<uint32_t> bandStart;
    // The bands, busiest first, so that no worker is left with a long one at
    // the end: by the time each took the frame before (in microseconds), or
    // when the bands are new, by their faces.
    std::vector<uint32_t> bandOrder;
    std::vector<float> bandLoad, bandTime;
    // A viewport's clear of the depth buffer waits for its pass, which clears
    // each band's rows just before drawing them, while they are in the cache.
    // `depthClear` is that rectangle (color unused) when `depthPending`.
    RTarget depthClear;
    bool depthPending = false;
    // A full-screen device may draw its 3D larger than its surface, at the
    // screen's own resolution, and with kSamples samples a pixel for smooth
    // edges: then into `detail`, which starts each pass as the surface's
    // picture enlarged; the next flip shows it (resolved to `shown` when
    // sampled) instead of the surface. The size is chosen when a pass clears
    // the viewport.
    double scale = 1.0;  // drawing pixels per surface pixel
    int planes = 1;      // samples a pixel: 1, or kSamples
    int drawWidth = 640, drawHeight = 480;
    std::vector<uint32_t> detail, shown;
    std::vector<uint16_t> sourceColumn;  // detail column -> surface column

    void chooseScale() {
        const double s = surface ? std::clamp(sysRenderScale(), 1.0, kMaxRenderScale) : 1.0;
        planes = surface && sysRenderSamples() == 2 ? kSamples : 1;
        drawWidth = (int)std::lround(width * s);
        drawHeight = (int)std::lround(height * s);
        scale = (double)drawWidth / width;
        const size_t n = (size_t)drawWidth * drawHeight;
        if (depth.size() < n * planes) depth.resize(n * planes, 0.0f);
        if (detailed()) {
            detail.resize(n * planes);
            if (planes > 1) shown.resize(n);
            sourceColumn.resize(drawWidth);
            for (int x = 0; x < drawWidth; x++) sourceColumn[x] = (uint16_t)((int64_t)x * width / drawWidth);
        }
    }
    // Whether the 3D is drawn into `detail` rather than the surface.
    bool detailed() const { return drawWidth > width || planes > 1; }
    // Row y of the drawing from the surface's picture, into `to`: the pixel
    // under each.
    void enlargeRow(int y, uint32_t* to) const {
        const uint32_t* from = ddSurfacePixels(surface, nullptr, nullptr, nullptr);
        if (!from) return;
        from += (size_t)((int64_t)y * height / drawHeight) * width;
        for (int x = 0; x < drawWidth; x++) to[x] = from[sourceColumn[x]];
    }
    // Row y of `detail`, every sample of it, from the surface's picture.
    void enlargeRow(int y) {
        uint32_t* row = detail.data() + (size_t)y * drawWidth * planes;
        enlargeRow(y, row);
        for (int k = 1; k < planes; k++) std::copy(row, row + drawWidth, row + (size_t)k * drawWidth);
    }
    // Row y as shown, where no 3D is drawn.
    void enlargeShownRow(int y) {
        if (planes > 1)
            enlargeRow(y, shown.data() + (size_t)y * drawWidth);
        else
            enlargeRow(y);
    }

    ~Device() override {
        if (surface) surface->Release();
        if (clipper) clipper->Release();
    }
    // Where a pass draws. Without `colour`, only the depth and the rectangle:
    // the surface's pixels are not asked for (a colour fill may still wait).
    RTarget target(bool colour = true) {
        RTarget t;
        int w = 0, h = 0, pitch = 0;
        if (surface && colour) {
            t.color = ddSurfacePixels(surface, &w, &h, &pitch);
            if (!t.color || w != width || h != height) return RTarget();
            t.pitch = pitch / 4;
        } else if (!surface) {
            t.color = picture.data();
            t.pitch = width;
        }
        if (detailed() && t.color) {  // the larger drawing stands in for the surface
            t.color = detail.data();
            t.pitch = drawWidth * planes;
        }
        const int across = detailed() ? drawWidth : width;
        t.depth = depth.data();
        t.dpitch = across * planes;
        t.x1 = across;
        t.y1 = detailed() ? drawHeight : height;
        if (planes > 1) {
            t.samples = planes;
            t.plane = t.across = drawWidth;
        }
        return t;
    }
    HRESULT SetRenderMode(DWORD mode) override {
        Guard g(g_lock);
        renderMode = mode;
        return D3DRM_OK;
    }
    // Accepted and ignored: the rasterizer always shades Gouraud, filters
    // textures trilinearly and has nothing to dither at 32 bits per pixel.
    HRESULT SetQuality(DWORD) override { return D3DRM_OK; }
    HRESULT SetDither(BOOL) override { return D3DRM_OK; }
    HRESULT SetTextureQuality(DWORD) override { return D3DRM_OK; }
    HRESULT Update() override {
        HWND window = nullptr;
        const uint32_t* pixels = nullptr;
        {
            Guard g(g_lock);
            if (!clipper) return D3DRM_OK;  // a surface device drew straight into the surface
            clipper->GetHWnd(&window);
            pixels = picture.data();
        }
        sysPresent(winNative(window), pixels, width, height, width * 4, 0, 0);
        return D3DRM_OK;
    }
};

enum Plane : unsigned { kNear = 1, kFar = 2, kLeft = 4, kRight = 8, kTop = 16, kBottom = 32 };

struct Viewport final : Obj<IDirect3DRMViewport> {
    Device* device = nullptr;
    Frame* camera = nullptr;
    int x = 0, y = 0, w = 0, h = 0;
    float back = 100.0f;
    // The front clipping distance and the field (half the view's width at the
    // front distance) stay at the old library's defaults: nothing sets them.
    static constexpr float front = 1.0f, field = 0.5f;
    int projection = D3DRMPROJECT_PERSPECTIVE;

    // Per render
    float cx = 0, cy = 0, k = 0;  // centre, pixels per unit at depth 1
    float gl = 0, gr = 0, gt = 0, gb = 0;  // guard band edges
    float ambient[3] = {0, 0, 0};
    Xf view;
    RTarget target;
    bool clearing = false;  // this pass clears the depth of its bands
    // This pass writes the surface's waiting colour fill band by band.
    bool filling = false;
    uint32_t fillColour = 0;

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
    HRESULT SetProjection(int p) override {
        Guard g(g_lock);
        projection = p;
        return D3DRM_OK;
    }
    // The viewport's rectangle on the device's drawing, within `t`.
    void clipRect(RTarget& t) const {
        const double s = device->scale;
        auto at = [s](int v) { return (int)std::lround(v * s); };
        t.x0 = std::clamp(at(x), 0, t.x1);
        t.y0 = std::clamp(at(y), 0, t.y1);
        t.x1 = std::clamp(at(x + w), t.x0, t.x1);
        t.y1 = std::clamp(at(y + h), t.y0, t.y1);
    }
    HRESULT Clear() override {
        Guard g(g_lock);
        wakeWorkers();  // a pass begins: they wake while it gets ready
        device->chooseScale();
        RTarget t = device->target(false);
        if (!t.depth) return D3DRM_OK;
        clipRect(t);
        flushDepth();  // another rectangle's clear still waiting is done now
        device->depthClear = t;
        device->depthPending = true;
        if (device->clipper) {  // the device's own picture, cleared band by band on the workers
            target = t;
            runParts((t.y1 - t.y0 + kFillRows - 1) / kFillRows, [](void* self, int band) {
                static_cast<Viewport*>(self)->clearColourBand(band);
            }, this);
        }
        return D3DRM_OK;
    }
    // Whether this viewport covers the whole of the device's surface, drawn
    // at its own size: then every pixel of it is written by the bands.
    bool coversSurface() const {
        return device->surface && !device->detailed() && x <= 0 && y <= 0 && x + w >= device->width &&
               y + h >= device->height;
    }
    void clearColourBand(int band) {
        const RTarget& t = target;
        fillColourRows(t, 0, t.y0 + band * kFillRows, t.y0 + (band + 1) * kFillRows);
    }
    // Does a waiting depth clear now, band by band on the workers.
    void flushDepth() {
        if (!device->depthPending) return;
        device->depthPending = false;
        const RTarget& t = device->depthClear;
        runParts((t.y1 - t.y0 + kFillRows - 1) / kFillRows, [](void* self, int band) {
            const RTarget& c = static_cast<Device*>(self)->depthClear;
            clearDepthRows(c, c.y0 + band * kFillRows, c.y0 + (band + 1) * kFillRows);
        }, device);
    }

    bool persp() const { return projection != D3DRMPROJECT_ORTHOGRAPHIC; }

    unsigned outcode(const TV& p) const;
    float distance(const TV& p, unsigned plane) const;
    void project(TV& p) const;

    void sumLights(Frame* f);

    void emit(Batch& out, const TV& a, const TV& b, const TV& c, const float colour[4], const MipChain* tex,
              unsigned flags, bool translucent);

    // Clips the triangle against the planes it crosses and emits the pieces.
    void clipAndEmit(Batch& out, const TV& a, const TV& b, const TV& c, unsigned planes, const float colour[4],
                     const MipChain* tex, unsigned flags, bool translucent);

    // Meshes are cut into runs of at most this many triangles, set up in
    // parallel; the order of the set-ups is the order of the runs. Small
    // enough that the workers finish together.
    static constexpr uint32_t kBatchTriangles = 256;
    // How many set-ups on their storage is fetched: to be written while
    // setting up, to be read while drawing a band.
    static constexpr size_t kSetUpAhead = 8;
    static constexpr uint32_t kDrawAhead = 4;
    static constexpr size_t kMaxBatches = 65536;  // 16 million triangles a frame

    bool visible(const DrawItem& d) const;
    void batchMeshes();
    void setUpBatch(Batch& b);
    template <class T, class RowsOf, class NameOf>
    void bin(size_t n, RowsOf rowsOf, NameOf nameOf, std::vector<uint32_t>& start, std::vector<T>& out) const;
    void binBatch(Batch& b) const;
    void sortTranslucent();

    // Bands of rows are drawn in parallel, each with the triangles that reach
    // it, in drawing order; a triangle is drawn band by band exactly as whole.
    // A band is 2^bandShift rows, 16 or 32: about kBandPixels pixels, and at
    // least 16 rows. Each triangle a band cuts is set up again for it, which
    // at 640 x 480 cost more than 32-row bands lose in balance, while at
    // larger sizes the bands' pixels must stay in the processor's cache.
    static constexpr int kBandPixels = 20480;
    int bandShift = 4;
    int bandRows() const { return 1 << bandShift; }
    int bands() const { return (target.y1 - target.y0 + bandRows() - 1) >> bandShift; }
    int bandOf(int row) const { return (row - target.y0) >> bandShift; }
    // Fills of the colour and depth buffers are shared out in bands of this many rows.
    static constexpr int kFillRows = 16;

    // The bands, with the translucent faces' sort as the first job: the
    // workers draw the bands' opaque faces meanwhile, and each band waits for
    // `sorted` only before its translucent ones.
    void drawBands();
    std::atomic<bool> sorted{false};

    void drawBand(int band);

    void drawTree(Frame* f, const Xf& world, bool zOn, int sort, size_t depth);

    HRESULT Render(IDirect3DRMFrame* scene) override;
};

}  // namespace rm
