// The render pipeline: the frame tree walked into draw items, meshes
// transformed, culled, clipped against the view and projected, translucent
// faces sorted farthest first, every triangle set up once and binned to bands
// of rows, which the workers draw in parallel.
#include "platform/rm/render.h"

#include <chrono>

#include "platform/rm/prefetch.h"

namespace rm {

unsigned Viewport::outcode(const TV& p) const {
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

float Viewport::distance(const TV& p, unsigned plane) const {
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

void Viewport::project(TV& p) const {
    float zz = persp() ? p.z : front;
    float inv = 1.0f / zz;
    p.sx = cx + p.x * k * inv;
    p.sy = cy - p.y * k * inv;
    p.q = 1.0f / p.z;
}

void Viewport::sumLights(Frame* f) {
    for (Light* l : f->lights)
        if (l->type == D3DRMLIGHT_AMBIENT) {
            ambient[0] += l->r;
            ambient[1] += l->g;
            ambient[2] += l->b;
        }
    for (Frame* c : f->children) sumLights(c);
}

void Viewport::emit(Batch& out, const TV& a, const TV& b, const TV& c, const float colour[4], const MipChain* tex,
                    unsigned flags, bool translucent) {
    auto make = [&](const TV& p, RVert& r) {
        r.x = p.sx;
        r.y = p.sy;
        r.q = p.q;
        r.u = p.u;
        r.v = p.v;
        for (int i = 0; i < 4; i++) r.c[i] = colour[i];
    };
    const bool queue = translucent && (device->renderMode & D3DRMRENDERMODE_SORTEDTRANSPARENCY);
    // Cheap cull before queueing; the rasterizer culls exactly.
    if (queue && (b.sx - a.sx) * (c.sy - a.sy) - (c.sx - a.sx) * (b.sy - a.sy) <= 0) return;
    RVert ra, rb, rc;
    make(a, ra);
    make(b, rb);
    make(c, rc);
    if (queue) {
        // Set up now, in parallel; only their order waits for the sorted pass.
        prefetchAppend(out.queued, kSetUpAhead);
        RasterSetup& qd = out.queued.emplace_back();
        if (!rasterSetup(target, ra, rb, rc, tex, flags, qd) || qd.yEnd < qd.yStart) {
            out.queued.pop_back();
            return;
        }
        float z = (a.z + b.z + c.z) * (1.0f / 3.0f);
        uint32_t bits;
        memcpy(&bits, &z, 4);
        out.places.push_back({~bits, qd.yStart, qd.yEnd});
        return;
    }
    prefetchAppend(out.setups, kSetUpAhead);
    RasterSetup& s = out.setups.emplace_back();
    if (!rasterSetup(target, ra, rb, rc, tex, flags, s) || s.yEnd < s.yStart) out.setups.pop_back();
}

void Viewport::clipAndEmit(Batch& out, const TV& a, const TV& b, const TV& c, unsigned planes, const float colour[4],
                           const MipChain* tex, unsigned flags, bool translucent) {
    TV bufA[16], bufB[16];
    TV* in = bufA;
    TV* to = bufB;
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
            if (dp >= 0) to[m++] = p;
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
                to[m++] = r;
            }
        }
        std::swap(in, to);
        n = m;
        if (n < 3) return;
    }
    for (int i = 0; i < n; i++) project(in[i]);
    for (int i = 1; i + 1 < n; i++) emit(out, in[0], in[i], in[i + 1], colour, tex, flags, translucent);
}

// Whether any of the mesh may show: its bounding sphere against the depth
// range and the sides of the view.
bool Viewport::visible(const DrawItem& d) const {
    const Mesh* m = d.mesh;
    V3 c = d.mv.point(m->centre);
    float r = m->radius;
    if (c.z + r < front || c.z - r > back) return false;
    if (persp()) {
        auto outside = [&](float a, float b, float dist) { return dist < -r * std::sqrt(a * a + b * b); };
        if (outside(k, cx - (float)target.x0, c.x * k + (cx - target.x0) * c.z)) return false;
        if (outside(k, target.x1 - cx, (target.x1 - cx) * c.z - c.x * k)) return false;
        if (outside(k, cy - (float)target.y0, (cy - target.y0) * c.z - c.y * k)) return false;
        if (outside(k, target.y1 - cy, c.y * k + (target.y1 - cy) * c.z)) return false;
    }
    return true;
}

// Cuts the visible meshes into runs of triangles, in drawing order.
void Viewport::batchMeshes() {
    auto& batches = device->batches;
    size_t n = 0;
    for (const DrawItem& d : device->items) {
        if (!visible(d)) continue;
        const uint32_t triangles = (uint32_t)(d.mesh->tris.size() / 3);
        for (uint32_t first = 0; first < triangles && n < kMaxBatches; first += kBatchTriangles) {
            if (batches.size() <= n) batches.emplace_back();
            Batch& b = batches[n++];
            b.item = &d;
            b.first = first;
            b.count = std::min(kBatchTriangles, triangles - first);
        }
    }
    device->batchCount = n;
}

// Transforms the vertices a run uses, then clips, projects and sets up its
// triangles, keeping the translucent ones for the sorted pass. Runs on any
// worker: it reads the scene and writes only to its batch.
void Viewport::setUpBatch(Batch& b) {
    b.setups.clear();
    b.queued.clear();
    b.places.clear();
    const DrawItem& d = *b.item;
    const Mesh* m = d.mesh;
    const uint32_t* tri = m->tris.data() + (size_t)b.first * 3;
    const size_t corners = (size_t)b.count * 3;
    uint32_t lowest = tri[0], highest = tri[0];
    for (size_t i = 1; i < corners; i++) {
        lowest = std::min(lowest, tri[i]);
        highest = std::max(highest, tri[i]);
    }
    b.lowest = lowest;
    b.verts.resize((size_t)highest - lowest + 1);
    for (uint32_t i = lowest; i <= highest; i++) {
        TV& t = b.verts[i - lowest];
        V3 p = d.mv.point(m->pos[i]);
        t.x = p.x;
        t.y = p.y;
        t.z = p.z;
        t.u = m->uv[(size_t)i * 2];
        t.v = m->uv[(size_t)i * 2 + 1];
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
    if (d.zOn) flags |= translucent ? kZTest : (kZTest | kZWrite);
    if (translucent) flags |= kBlend;
    const TV* vs = b.verts.data() - lowest;
    for (size_t i = 0; i < corners; i += 3) {
        const TV &p = vs[tri[i]], &q = vs[tri[i + 1]], &r = vs[tri[i + 2]];
        unsigned any = p.out | q.out | r.out;
        if (!any)
            emit(b, p, q, r, colour, tex, flags, translucent);
        else if (!(p.out & q.out & r.out))
            clipAndEmit(b, p, q, r, any, colour, tex, flags, translucent);
    }
    binBatch(b);
}

// Lists n set-ups band by band, in their order: band b draws those that
// out[i] names for i in [start[b], start[b + 1]), set-up i having the rows
// rowsOf(i) (first and last) and named by nameOf(i).
template <class T, class RowsOf, class NameOf>
void Viewport::bin(size_t n, RowsOf rowsOf, NameOf nameOf, std::vector<uint32_t>& start, std::vector<T>& out) const {
    start.assign((size_t)bands() + 1, 0);
    for (size_t i = 0; i < n; i++) {
        const auto [first, last] = rowsOf(i);
        for (int band = bandOf(first); band <= bandOf(last); band++) start[band + 1]++;
    }
    for (size_t band = 1; band < start.size(); band++) start[band] += start[band - 1];
    out.resize(start.back());
    for (size_t i = 0; i < n; i++) {
        const auto [first, last] = rowsOf(i);
        for (int band = bandOf(first); band <= bandOf(last); band++) out[start[band]++] = nameOf(i);
    }
    for (size_t band = start.size() - 1; band > 0; band--) start[band] = start[band - 1];  // back to the starts
    start[0] = 0;
}

void Viewport::binBatch(Batch& b) const {
    bin(b.setups.size(), [&](size_t i) { return std::pair(b.setups[i].yStart, b.setups[i].yEnd); },
        [](size_t i) { return (uint32_t)i; }, b.bandStart, b.inBand);
}

// Puts the translucent triangles in drawing order, farthest first, ties in
// the order they came, and bins them to the bands.
void Viewport::sortTranslucent() {
    // Keyed by farness, then place: run (16 bits) and index in it (16 bits;
    // a run's 256 triangles clip to at most 3,584). The keys are made in
    // order of place, so a stable sort on farness alone orders them fully:
    // by its four bytes from the lowest, skipping a byte all keys share.
    auto& order = device->order;
    auto& other = device->sorting;
    order.clear();
    for (uint32_t b = 0; b < device->batchCount; b++) {
        const auto& places = device->batches[b].places;
        for (uint32_t i = 0; i < places.size(); i++)
            order.push_back((uint64_t)places[i].farness << 32 | b << 16 | i);
    }
    other.resize(order.size());
    for (int shift = 32; shift < 64 && !order.empty(); shift += 8) {
        uint32_t count[257] = {};
        for (uint64_t key : order) count[((key >> shift) & 255) + 1]++;
        if (count[((order[0] >> shift) & 255) + 1] == order.size()) continue;
        for (int d = 1; d < 257; d++) count[d] += count[d - 1];
        for (uint64_t key : order) other[count[(key >> shift) & 255]++] = key;
        order.swap(other);
    }
    auto rowsOf = [&](size_t i) {
        const uint64_t key = order[i];
        const QueuedPlace& p = device->batches[(uint32_t)key >> 16].places[key & 0xFFFF];
        return std::pair(p.yStart, p.yEnd);
    };
    auto setupOf = [&](size_t i) {
        const uint64_t key = order[i];
        return &device->batches[(uint32_t)key >> 16].queued[key & 0xFFFF];
    };
    bin(order.size(), rowsOf, setupOf, device->bandStart, device->binned);
}

void Viewport::drawBands() {
    const int n = bands();
    auto& load = device->bandLoad;
    auto& time = device->bandTime;
    if (time.size() == (size_t)n) {
        load = time;
    } else {
        // The translucent faces a band had the frame before stand for this
        // frame's, not sorted yet.
        load.assign((size_t)n, 0.0f);
        const auto& before = device->bandStart;
        const bool known = before.size() == (size_t)n + 1;
        for (int band = 0; band < n; band++) {
            uint32_t faces = known ? before[band + 1] - before[band] : 0;
            for (size_t b = 0; b < device->batchCount; b++) {
                const auto& start = device->batches[b].bandStart;
                faces += start[band + 1] - start[band];
            }
            load[band] = (float)faces;
        }
        time.assign((size_t)n, 0.0f);
    }
    auto& order = device->bandOrder;
    order.resize(n);
    for (int band = 0; band < n; band++) order[band] = band;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return load[a] != load[b] ? load[a] > load[b] : a < b; });
    sorted.store(false);
    runParts(n + 1, [](void* self, int part) {
        auto* v = static_cast<Viewport*>(self);
        if (part == 0) {  // handed out first: no band waits on a job not yet taken
            v->sortTranslucent();
            v->sorted.store(true, std::memory_order_release);
            v->sorted.notify_all();
        } else {
            v->drawBand((int)v->device->bandOrder[part - 1]);
        }
    }, this);
}

void Viewport::drawBand(int band) {
    const auto start = std::chrono::steady_clock::now();
    const int y0 = target.y0 + (band << bandShift), y1 = std::min(y0 + bandRows(), target.y1);
    if (clearing) clearDepthRows(target, y0, y1);
    if (filling) fillColourRows(target, fillColour, y0, y1);
    if (device->detailed())
        for (int row = y0; row < y1; row++) device->enlargeRow(row);
    for (size_t b = 0; b < device->batchCount; b++) {
        const Batch& run = device->batches[b];
        const uint32_t end = run.bandStart[band + 1];
        for (uint32_t i = run.bandStart[band]; i < end; i++) {
            if (i + kDrawAhead < end) prefetchForRead(&run.setups[run.inBand[i + kDrawAhead]], sizeof(RasterSetup));
            rasterRows(target, run.setups[run.inBand[i]], y0, y1);
        }
    }
    sorted.wait(false, std::memory_order_acquire);
    const auto& binned = device->binned;
    const uint32_t end = device->bandStart[band + 1];
    for (uint32_t i = device->bandStart[band]; i < end; i++) {
        if (i + kDrawAhead < end) prefetchForRead(binned[i + kDrawAhead], sizeof(RasterSetup));
        rasterRows(target, *binned[i], y0, y1);
    }
    // With samples, the band is done: its pixels are their samples' mean.
    if (device->planes > 1) resolveRows(target, device->shown.data(), device->drawWidth, y0, y1);
    device->bandTime[band] = std::chrono::duration<float, std::micro>(std::chrono::steady_clock::now() - start).count();
}

void Viewport::drawTree(Frame* f, const Xf& world, bool zOn, int sort, size_t depth) {
    if (f->zMode == D3DRMZBUFFER_ENABLE) zOn = true;
    if (f->zMode == D3DRMZBUFFER_DISABLE) zOn = false;
    if (f->sortMode != D3DRMSORT_FROMPARENT) sort = f->sortMode;
    const Xf mv = view * world;
    for (Mesh* m : f->visuals) {
        if (m->tris.empty()) continue;
        m->bounds();
        device->items.push_back({m, mv, zOn, mv.point(m->centre).z, device->items.size()});
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

HRESULT Viewport::Render(IDirect3DRMFrame* scene) {
    Guard g(g_lock);
    if (!scene) return D3DRMERR_BADVALUE;
    auto* root = static_cast<Frame*>(scene);
    // A colour fill of the whole surface waiting is written by the bands, on
    // the workers, just before they draw over it.
    filling = coversSurface() && ddTakeFill(device->surface, &fillColour);
    target = device->target();
    clipRect(target);
    if (!target.color || target.x0 != 0 || target.y0 != 0 || target.x1 != device->width ||
        target.y1 != device->height) {
        if (filling) {  // not drawn after all: the fill waits again
            DDBLTFX fx{sizeof(DDBLTFX), fillColour};
            device->surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        }
        filling = false;
    }
    if (!target.color) return D3DRM_OK;
    if (target.x0 >= target.x1 || target.y0 >= target.y1) return D3DRM_OK;
    bandShift = kBandPixels / (target.x1 - target.x0) >= 32 ? 5 : 4;
    wakeWorkers();
    // A waiting clear of this rectangle is done by the bands as they are drawn.
    const RTarget& c = device->depthClear;
    clearing = device->depthPending && c.depth == target.depth && c.dpitch == target.dpitch && c.x0 == target.x0 &&
               c.x1 == target.x1 && c.y0 == target.y0 && c.y1 == target.y1;
    if (!clearing) flushDepth();
    device->depthPending = false;
    const float scale = (float)device->scale;
    cx = (x + w * 0.5f) * scale;
    cy = (y + h * 0.5f) * scale;
    k = (std::max(w, h) * 0.5f) * scale * front / field;
    gl = target.x0 - kGuardBand;
    gr = target.x1 + kGuardBand;
    gt = target.y0 - kGuardBand;
    gb = target.y1 + kGuardBand;
    view = camera->world().inverse();
    ambient[0] = ambient[1] = ambient[2] = 0;
    sumLights(root);
    device->items.clear();
    drawTree(root, root->world(), true, D3DRMSORT_NONE, 0);
    // With depth buffering everywhere the order of opaque faces does not
    // change the picture: nearest meshes first (by their centres: a large
    // mesh such as a ground or a room reaches nearest of all, yet lies
    // behind most), so hidden pixels fail the depth test before they are
    // textured.
    auto& items = device->items;
    if (std::all_of(items.begin(), items.end(), [](const DrawItem& d) { return d.zOn; }))
        std::sort(items.begin(), items.end(), [](const DrawItem& a, const DrawItem& b) {
            return a.depth != b.depth ? a.depth < b.depth : a.sequence < b.sequence;
        });
    batchMeshes();
    runParts((int)device->batchCount, [](void* self, int part) {
        auto* v = static_cast<Viewport*>(self);
        v->setUpBatch(v->device->batches[part]);
    }, this);
    if (device->detailed()) {  // rows of the drawing outside the viewport
        for (int row = 0; row < target.y0; row++) device->enlargeShownRow(row);
        for (int row = target.y1; row < device->drawHeight; row++) device->enlargeShownRow(row);
    }
    drawBands();
    if (device->planes > 1)
        ddSetDetail(device->surface, device->shown.data(), device->drawWidth, device->drawHeight);
    else if (device->detailed())
        ddSetDetail(device->surface, device->detail.data(), device->drawWidth, device->drawHeight);
    return D3DRM_OK;
}

}  // namespace rm
