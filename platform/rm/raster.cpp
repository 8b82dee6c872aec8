// Triangle set-up, once per triangle: exact integer edge functions (4 bits of
// sub-pixel precision) and the attribute planes, then the rows of a band.
#include <algorithm>
#include <cmath>

#include "platform/rm/raster.h"
#include "platform/rm/raster_edges.h"
#include "platform/rm/raster_internal.h"
#include "platform/rm/prefetch.h"

namespace rm {

namespace {

// How far (in sixteenths) a sample lies above or below its pixel's centre, at most.
constexpr int sampleReach() {
    int reach = 0;
    for (const auto& o : kSampleOffset) reach = std::max(reach, o[1] < 0 ? -o[1] : o[1]);
    return reach;
}
constexpr int kSampleReach = sampleReach();

// The attribute planes of a triangle from its snapped positions (in
// sixteenths of a pixel): depth, texture coordinates and colour.
void setUpPlanes(const int64_t X[3], const int64_t Y[3], const RVert& a, const RVert& b, const RVert& c,
                 const MipChain* tex, unsigned flags, RasterSetup& s) {
    const float fx0 = X[0] / 16.0f, fy0 = Y[0] / 16.0f;
    const float dx1 = X[1] / 16.0f - fx0, dy1 = Y[1] / 16.0f - fy0;
    const float dx2 = X[2] / 16.0f - fx0, dy2 = Y[2] / 16.0f - fy0;
    const float inv = 1.0f / (dx1 * dy2 - dx2 * dy1);
    auto plane = [&](float a0, float a1, float a2, float& base, float& ddx, float& ddy) {
        float d1 = a1 - a0, d2 = a2 - a0;
        ddx = (d1 * dy2 - d2 * dy1) * inv;
        ddy = (d2 * dx1 - d1 * dx2) * inv;
        base = a0 - ddx * (fx0 - 0.5f) - ddy * (fy0 - 0.5f);
    };
    plane(a.q, b.q, c.q, s.q0, s.qdx, s.qdy);
    if (flags & kTex) {
        // Textures repeat: move the coordinates by whole periods so the
        // smallest lies in [0, 1), keeping the sampling arithmetic small.
        // Coordinates in texels of level 0.
        float du = std::floor(std::min({a.u, b.u, c.u})), dv = std::floor(std::min({a.v, b.v, c.v}));
        const float W0 = (float)tex->lv[0].w, H0 = (float)tex->lv[0].h;
        plane((a.u - du) * W0 * a.q, (b.u - du) * W0 * b.q, (c.u - du) * W0 * c.q, s.s0, s.sdx, s.sdy);
        plane((a.v - dv) * H0 * a.q, (b.v - dv) * H0 * b.q, (c.v - dv) * H0 * c.q, s.t0, s.tdx, s.tdy);
        // Inside the triangle they lie between the corners' (and rounding
        // stays far within the margin to 2^15, where 16.16 fixed point ends).
        const float reach = std::max({a.u, b.u, c.u}) - du, reachV = std::max({a.v, b.v, c.v}) - dv;
        s.nearTexels = reach * W0 < kNearTexels && reachV * H0 < kNearTexels;
        s.tex = tex;
        s.maxLevel = tex->levels - 1;
    } else {
        s.s0 = s.sdx = s.sdy = s.t0 = s.tdx = s.tdy = 0.0f;
        s.tex = nullptr;
        s.maxLevel = 0;
        s.nearTexels = false;
    }
    for (int k = 0; k < 4; k++) {
        if (a.c[k] == b.c[k] && a.c[k] == c.c[k]) {  // the usual case: one colour for the face
            s.c0[k] = a.c[k];
            s.cdx[k] = s.cdy[k] = 0.0f;
        } else {
            plane(a.c[k], b.c[k], c.c[k], s.c0[k], s.cdx[k], s.cdy[k]);
        }
    }
    if (!(flags & kTex))  // the colour itself is written: back to 0..255
        for (int k = 0; k < 3; k++) {
            s.c0[k] *= 255.0f / 256.0f;
            s.cdx[k] *= 255.0f / 256.0f;
            s.cdy[k] *= 255.0f / 256.0f;
        }
}

}  // namespace

bool rasterSetup(const RTarget& t, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                 unsigned flags, RasterSetup& s) {
    s.yStart = 0;
    s.yEnd = -1;  // no rows, unless set below
    const RVert* v[3] = {&a, &b, &c};
    int64_t X[3], Y[3];
    for (int i = 0; i < 3; i++) {
        // Callers clip to the guard band; anything else (or NaN) is not drawn.
        if (!(std::fabs(v[i]->x) < 1e6f && std::fabs(v[i]->y) < 1e6f && v[i]->q > 0.0f && v[i]->q < 1e30f))
            return false;
        X[i] = (int64_t)std::lrint(v[i]->x * 16.0f);
        Y[i] = (int64_t)std::lrint(v[i]->y * 16.0f);
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area <= 0) return false;
    if (!t.color || (flags & (kZTest | kZWrite) && !t.depth)) return true;
    if (!tex || tex->levels == 0) flags &= ~(kTex | kDecal);
    if (!(flags & kTex)) flags &= ~kDecal;

    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    // Rows whose centre (y * 16 + 8), or with samples any of their samples,
    // lies within [minY, maxY].
    const int reach = t.samples > 1 ? kSampleReach : 0;
    s.yStart = (int)std::max<int64_t>(-((8 + reach - minY) >> 4), t.y0);
    s.yEnd = (int)std::min<int64_t>((maxY - 8 + reach) >> 4, t.y1 - 1);
    s.x0 = t.x0;
    s.x1 = t.x1 - 1;
    if (s.yStart > s.yEnd || s.x0 > s.x1) {
        s.yEnd = s.yStart - 1;
        return true;
    }
    for (int e = 0; e < 3; e++) {
        int i = e, j = (e + 1) % 3;
        int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
        bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        s.S[e] = -16 * dy;
        s.dV[e] = 16 * dx;
        s.V[e] = -dy * (8 - X[i]) + dx * ((int64_t)s.yStart * 16 + 8 - Y[i]) - (topLeft ? 0 : 1);
        const int64_t size = s.S[e] < 0 ? -s.S[e] : s.S[e];
        s.rowStep[e] = size ? raster::floorDiv(s.dV[e], size) : 0;
        s.rowRem[e] = s.dV[e] - s.rowStep[e] * size;
    }

    setUpPlanes(X, Y, a, b, c, tex, flags, s);
    s.flags = flags & 31;
    return true;
}

void rasterRows(const RTarget& t, const RasterSetup& s, int y0, int y1) {
    if (s.yStart > s.yEnd) return;  // culled, or nothing inside the clip rectangle
    if (y0 <= s.yStart && y1 > s.yEnd) return raster::drawSetUpRows(t, s);
    RasterSetup part = s;
    part.yStart = std::max(s.yStart, y0);
    part.yEnd = std::min(s.yEnd, y1 - 1);
    if (part.yStart > part.yEnd) return;
    // The edge functions stepped down to the first row drawn: exact integers.
    for (int e = 0; e < 3; e++) part.V[e] = s.V[e] + s.dV[e] * (part.yStart - s.yStart);
    raster::drawSetUpRows(t, part);
}

// Built with the rasterizer's loops, so that the fills are vector stores.
// Each row's next one is fetched while it is filled: the rows of a band were
// often another worker's the frame before.
void fillColourRows(const RTarget& t, uint32_t colour, int y0, int y1) {
    const int first = std::max(y0, t.y0), end = std::min(y1, t.y1);
    for (int row = first; row < end; row++)
        for (int k = 0; k < t.samples; k++) {
            uint32_t* at = t.color + (size_t)row * t.pitch + (size_t)k * t.plane;
            if (row + 1 < end) prefetchForWrite(at + t.pitch + t.x0, (size_t)(t.x1 - t.x0) * 4);
            std::fill(at + t.x0, at + t.x1, colour);
        }
}

void clearDepthRows(const RTarget& t, int y0, int y1) {
    const int first = std::max(y0, t.y0), end = std::min(y1, t.y1);
    for (int row = first; row < end; row++)
        for (int k = 0; k < t.samples; k++) {
            float* at = t.depth + (size_t)row * t.dpitch + (size_t)k * t.plane;
            if (row + 1 < end) prefetchForWrite(at + t.dpitch + t.x0, (size_t)(t.x1 - t.x0) * 4);
            std::fill(at + t.x0, at + t.x1, 0.0f);
        }
}

bool rasterTriangle(const RTarget& t, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                    unsigned flags) {
    RasterSetup s;
    if (!rasterSetup(t, a, b, c, tex, flags, s)) return false;
    if (s.yStart <= s.yEnd) rasterRows(t, s, s.yStart, s.yEnd + 1);
    return true;
}

}  // namespace rm
