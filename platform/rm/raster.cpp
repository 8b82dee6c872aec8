// Triangle set-up once per triangle in exact integer edge functions (4 bits of
// sub-pixel precision), spans found per row from the three edges, and
// attributes stepped incrementally along each span. The pixel loop is a
// template per combination of features, with SSE2 for filtering, modulation
// and blending.
#include "platform/rm/raster.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#else
// Other processors run the same code on SIMD Everywhere's portable versions.
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/sse2.h>
#endif

#include <algorithm>
#include <array>
#include <utility>
#include <cmath>
#include <cstring>
#include <deque>

namespace rm {

namespace {

int ceilPow2(int n) {
    int p = 1;
    while (p < n && p < 4096) p <<= 1;
    return p;
}

// Average of four 0xAARRGGBB texels, channel by channel.
uint32_t average4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = ((a >> shift) & 255) + ((b >> shift) & 255) + ((c >> shift) & 255) + ((d >> shift) & 255);
        out |= ((sum + 2) / 4) << shift;
    }
    return out;
}

// Gives every key texel (alpha 0) the colour of its nearest non-key texel
// (breadth first over the four neighbours, repeating at the borders).
void dilate(std::vector<uint32_t>& px, int w, int h) {
    std::vector<int> queue;
    std::vector<uint8_t> done(px.size(), 0);
    queue.reserve(px.size());
    for (size_t i = 0; i < px.size(); i++)
        if (px[i] >> 24) {
            done[i] = 1;
            queue.push_back((int)i);
        }
    if (queue.empty()) return;
    for (size_t head = 0; head < queue.size(); head++) {
        int i = queue[head], x = i % w, y = i / w;
        int next[4] = {y * w + (x + 1) % w, y * w + (x + w - 1) % w, ((y + 1) % h) * w + x, ((y + h - 1) % h) * w + x};
        for (int n : next)
            if (!done[n]) {
                done[n] = 1;
                px[n] = px[i] & 0x00FFFFFFu;  // keeps its key mark (alpha 0)
                queue.push_back(n);
            }
    }
}

}  // namespace

void buildMipChain(MipChain& chain, const uint32_t* pixels, int w, int h, bool dilateKeys) {
    chain = MipChain();
    if (!pixels || w <= 0 || h <= 0) return;
    int W = ceilPow2(w), H = ceilPow2(h);
    std::vector<uint32_t> base((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) base[(size_t)y * W + x] = pixels[(size_t)(y * h / H) * w + (x * w / W)];
    if (dilateKeys) dilate(base, W, H);
    size_t total = 0;
    int levels = 0;
    for (int lw = W, lh = H;; lw = std::max(1, lw / 2), lh = std::max(1, lh / 2)) {
        total += (size_t)lw * lh;
        levels++;
        if ((lw == 1 && lh == 1) || levels == 14) break;
    }
    chain.store.resize(total);
    std::copy(base.begin(), base.end(), chain.store.begin());
    size_t offset = 0;
    int lw = W, lh = H;
    for (int l = 0; l < levels; l++) {
        chain.lv[l].w = lw;
        chain.lv[l].h = lh;
        chain.lv[l].px = chain.store.data() + offset;
        if (l > 0) {
            const MipLevel& up = chain.lv[l - 1];
            uint32_t* dst = chain.store.data() + offset;
            for (int y = 0; y < lh; y++)
                for (int x = 0; x < lw; x++) {
                    int x0 = std::min(2 * x, up.w - 1), x1 = std::min(2 * x + 1, up.w - 1);
                    int y0 = std::min(2 * y, up.h - 1), y1 = std::min(2 * y + 1, up.h - 1);
                    dst[y * lw + x] = average4(up.px[y0 * up.w + x0], up.px[y0 * up.w + x1], up.px[y1 * up.w + x0],
                                               up.px[y1 * up.w + x1]);
                }
        }
        offset += (size_t)lw * lh;
        lw = std::max(1, lw / 2);
        lh = std::max(1, lh / 2);
    }
    chain.levels = levels;
}

namespace {

struct Setup {
    int yStart, yEnd;  // inclusive rows
    int x0, x1;        // clip columns, x1 inclusive
    int64_t V[3], dV[3], S[3];
    double invS[3];
    // attribute planes: value at pixel (x, y) = base + dx * x + dy * y (pixel centres folded in)
    float q0, qdx, qdy, s0, sdx, sdy, t0, tdx, tdy;
    float c0[4], cdx[4], cdy[4];
};

// Decal pixels are drawn where the filtered coverage (alpha 0..255) reaches half.
constexpr int kCoverageHalf = 128;

// Runs longer than 8 pixels where 1/z changes by at most this share along them.
constexpr float kAffineSlack = 0.004f;

// Level fractions (of 128) below kTriLow use one level, above kTriHigh the next.
// The blend ramps over the middle half: no visible step between levels, and
// about half the runs need only one level.
constexpr int kTriLow = 32, kTriHigh = 95;

// One mip level prepared for a run of pixels: its texels, wrap masks, the
// row shift and the level's scale against level 0.
struct Lvl {
    const uint32_t* px;
    uint32_t wm, hm;
    int wsh, shift;
};

inline Lvl prepareLevel(const MipChain& chain, int level) {
    const MipLevel& L = chain.lv[level];
    return {L.px, (uint32_t)L.w - 1, (uint32_t)L.h - 1, __builtin_ctz((unsigned)L.w), level};
}

// Bilinear sample at 16.16 coordinates of level 0, with 7-bit weights; the
// result is b, g, r, a in the four low 16-bit lanes.
inline __m128i bilinearFx(const Lvl& L, uint32_t U, uint32_t V) {
    const uint32_t u = (U >> L.shift) - 32768u, v = (V >> L.shift) - 32768u;  // texel centres
    const uint32_t xa = (u >> 16) & L.wm, xb = (xa + 1) & L.wm;
    const uint32_t ya = (v >> 16) & L.hm, yb = (ya + 1) & L.hm;
    const uint32_t* r0 = L.px + (ya << L.wsh);
    const uint32_t* r1 = L.px + (yb << L.wsh);
    const __m128i zero = _mm_setzero_si128();
    __m128i p0 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128((int)r0[xa]), _mm_cvtsi32_si128((int)r0[xb])), zero);
    __m128i p1 = _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128((int)r1[xa]), _mm_cvtsi32_si128((int)r1[xb])), zero);
    __m128i vert = _mm_add_epi16(p0, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(p1, p0), _mm_set1_epi16((short)((v >> 9) & 127))), 7));
    __m128i right = _mm_srli_si128(vert, 8);
    return _mm_add_epi16(vert, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(right, vert), _mm_set1_epi16((short)((u >> 9) & 127))), 7));
}

// Per-row state stepped pixel by pixel.
struct Span {
    float q, ss, tt;
    __m128 col;
    __m128i c16;
};

// Draws pixels [x, x + n) of one row; the texture (if any) is sampled from
// level A, blended towards level B by frac / 128 when kTri.
template <unsigned F, bool kTri>
inline void drawRun(const Setup& s, Span& sp, uint32_t* dst, float* zb, int64_t x, int n, const Lvl& A, const Lvl& B,
                    int frac, uint32_t U, uint32_t V, int32_t dU, int32_t dV, bool flatColour, __m128 cdx) {
    constexpr bool kT = F & kTex, kZT = F & kZTest, kZW = F & kZWrite, kB = F & kBlend, kD = F & kDecal;
    const __m128i zero = _mm_setzero_si128();
    const __m128i fracW = _mm_set1_epi16((short)frac);
    float q = sp.q;
    __m128 col = sp.col;
    __m128i c16 = sp.c16;
    for (int64_t e = x + n; x < e; x++) {
        if constexpr (kZT) {
            if (!(q > zb[x])) goto next;
        }
        {
            if (!flatColour) c16 = _mm_packs_epi32(_mm_cvtps_epi32(col), zero);
            __m128i px;
            if constexpr (kT) {
                __m128i texel = bilinearFx(A, U, V);
                if constexpr (kD) {
                    // Alpha test on the filtered coverage of the selected level.
                    if (_mm_extract_epi16(texel, 3) < kCoverageHalf) goto next;
                }
                if constexpr (kTri) {
                    __m128i other = bilinearFx(B, U, V);
                    texel = _mm_add_epi16(texel, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(other, texel), fracW), 7));
                }
                px = _mm_srli_epi16(_mm_mullo_epi16(texel, c16), 8);
            } else {
                px = c16;
            }
            if constexpr (kB) {
                __m128i a = _mm_shufflelo_epi16(c16, 0xFF);
                __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a);
                __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)dst[x]), zero);
                px = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(px, a), _mm_mullo_epi16(d, inv)), 8);
            }
            dst[x] = (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(px, zero)) & 0x00FFFFFFu;
            if constexpr (kZW) zb[x] = q;
        }
    next: __attribute__((unused));
        q += s.qdx;
        if (!flatColour) col = _mm_add_ps(col, cdx);
        if constexpr (kT) {
            U += (uint32_t)dU;
            V += (uint32_t)dV;
        }
    }
    sp.q = q;
    sp.col = col;
    sp.c16 = c16;
}

template <unsigned F>
void drawRows(const RTarget& t, const Setup& s, const MipChain* tex) {
    constexpr bool kT = F & kTex;
    int64_t V[3] = {s.V[0], s.V[1], s.V[2]};
    const float W0 = kT ? (float)tex->lv[0].w : 0.0f, H0 = kT ? (float)tex->lv[0].h : 0.0f;
    const int maxLevel = kT ? tex->levels - 1 : 0;
    const __m128 cdx = _mm_loadu_ps(s.cdx);
    const bool flatColour = s.cdx[0] == 0 && s.cdx[1] == 0 && s.cdx[2] == 0 && s.cdx[3] == 0;
    const __m128i zero = _mm_setzero_si128();
    for (int y = s.yStart; y <= s.yEnd; y++) {
        int64_t xl = s.x0, xr = s.x1;
        bool empty = false;
        for (int e = 0; e < 3; e++) {
            const int64_t S = s.S[e], v = V[e];
            if (S > 0) {
                // The first column on the inside: ceil of est (tested without
                // rounding: ceil(est) > n exactly when est > n), found exactly
                // by the loops from the truncated estimate.
                const double est = -(double)v * s.invS[e];
                if (est > xr + 1) { empty = true; break; }
                if (est > xl - 1) {
                    int64_t xi = (int64_t)est;
                    while (v + S * xi < 0) xi++;
                    while (v + S * (xi - 1) >= 0) xi--;
                    xl = std::max(xl, xi);
                }
            } else if (S < 0) {
                const double est = (double)v * -s.invS[e];  // last column: floor of est
                if (est < xl - 1) { empty = true; break; }
                if (est < xr + 1) {
                    int64_t xi = (int64_t)est;
                    while (v + S * xi < 0) xi--;
                    while (v + S * (xi + 1) >= 0) xi++;
                    xr = std::min(xr, xi);
                }
            } else if (v < 0) {
                empty = true;
                break;
            }
        }
        V[0] += s.dV[0];
        V[1] += s.dV[1];
        V[2] += s.dV[2];
        if (empty || xl > xr) continue;

        const float fx = (float)xl, fy = (float)y;
        Span sp;
        sp.q = s.q0 + s.qdx * fx + s.qdy * fy;
        sp.ss = s.s0 + s.sdx * fx + s.sdy * fy;
        sp.tt = s.t0 + s.tdx * fx + s.tdy * fy;
        sp.col = _mm_set_ps(s.c0[3] + s.cdx[3] * fx + s.cdy[3] * fy, s.c0[2] + s.cdx[2] * fx + s.cdy[2] * fy,
                            s.c0[1] + s.cdx[1] * fx + s.cdy[1] * fy, s.c0[0] + s.cdx[0] * fx + s.cdy[0] * fy);
        sp.c16 = _mm_packs_epi32(_mm_cvtps_epi32(sp.col), zero);  // b g r a, 0..256
        uint32_t* dst = t.color + (size_t)y * t.pitch;
        float* zb = t.depth + (size_t)y * t.dpitch;
        if constexpr (!kT) {
            const Lvl none{};
            drawRun<F, false>(s, sp, dst, zb, xl, (int)(xr - xl + 1), none, none, 0, 0, 0, 0, 0, flatColour, cdx);
            continue;
        }
        // Textures: exact coordinates every 8 pixels (one division), stepped
        // linearly in 16.16 texels of level 0 in between. The words wrap
        // modulo 2^32, a whole number of texture periods.
        const float Wfx = W0 * 65536.0f, Hfx = H0 * 65536.0f;
        // Each run starts where the previous one ended: one division a run.
        auto fixed = [](float f) { return (int64_t)std::clamp(f, -1e15f, 1e15f); };
        float qs = sp.q, ss = sp.ss, tt = sp.tt;
        float w = 1.0f / qs, u = ss * w, v = tt * w;
        int64_t u0 = fixed(u * Wfx), v0 = fixed(v * Hfx);
        // Runs of 8 pixels; longer where 1/z hardly changes along the row (the
        // linear steps then stay within a small fraction of a texel).
        const float qEnd = qs + s.qdx * (float)(xr - xl), qLow = std::min(qs, qEnd);
        const float qStep = std::fabs(s.qdx);
        const int runShift = qStep * 32.0f <= kAffineSlack * qLow ? 5 : qStep * 16.0f <= kAffineSlack * qLow ? 4 : 3;
        const int runLen = 1 << runShift;
        for (int64_t x = xl; x <= xr;) {
            const int n = (int)std::min<int64_t>(runLen, xr - x + 1);
            const float qe = qs + s.qdx * (float)n, sse = ss + s.sdx * (float)n, tte = tt + s.tdx * (float)n;
            const float we = 1.0f / qe, ue = sse * we, ve = tte * we;
            const int64_t u1 = fixed(ue * Wfx), v1 = fixed(ve * Hfx);
            const uint32_t U = (uint32_t)u0, V = (uint32_t)v0;
            // Whole runs divide by a shift.
            const int32_t dU = (int32_t)(n == runLen ? (u1 - u0) >> runShift : (u1 - u0) / n);
            const int32_t dV = (int32_t)(n == runLen ? (v1 - v0) >> runShift : (v1 - v0) / n);
            float dudx = (s.sdx - u * s.qdx) * w * W0, dvdx = (s.tdx - v * s.qdx) * w * H0;
            float dudy = (s.sdy - u * s.qdy) * w * W0, dvdy = (s.tdy - v * s.qdy) * w * H0;
            float r2 = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
            // Level of detail 0.5 * log2(r2), from the float's bits: exponent
            // plus mantissa taken linearly, in units of 2^-23, halved.
            uint32_t bits;
            memcpy(&bits, &r2, 4);
            const uint32_t lod = bits > 0x3F800000u ? (bits - 0x3F800000u) >> 1 : 0;
            int level = (int)std::min<uint32_t>(lod >> 23, 31);
            int frac = (int)((lod >> 16) & 127);
            // Only the middle of each level's range blends two levels (with a
            // steeper ramp); near a whole level one bilinear sample is enough.
            if (frac < kTriLow) {
                frac = 0;
            } else if (frac > kTriHigh) {
                level++;
                frac = 0;
            } else {
                frac = (frac - kTriLow) * 128 / (kTriHigh - kTriLow + 1);
            }
            if (level >= maxLevel) {
                level = maxLevel;
                frac = 0;
            }
            const Lvl A = prepareLevel(*tex, level);
            if (frac) {
                const Lvl B = prepareLevel(*tex, level + 1);
                drawRun<F, true>(s, sp, dst, zb, x, n, A, B, frac, U, V, dU, dV, flatColour, cdx);
            } else {
                drawRun<F, false>(s, sp, dst, zb, x, n, A, A, 0, U, V, dU, dV, flatColour, cdx);
            }
            x += n;
            qs = qe;
            ss = sse;
            tt = tte;
            w = we;
            u = ue;
            v = ve;
            u0 = u1;
            v0 = v1;
        }
    }
}

using RowFn = void (*)(const RTarget&, const Setup&, const MipChain*);

template <unsigned... I>
constexpr auto makeTable(std::integer_sequence<unsigned, I...>) {
    return std::array<RowFn, sizeof...(I)>{&drawRows<I>...};
}

}  // namespace

bool rasterTriangle(const RTarget& t, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                    unsigned flags) {
    static const auto table = makeTable(std::make_integer_sequence<unsigned, 32>{});
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

    Setup s;
    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    // Rows whose centre (y * 16 + 8) lies within [minY, maxY].
    s.yStart = (int)std::max<int64_t>(-((8 - minY) >> 4), t.y0);
    s.yEnd = (int)std::min<int64_t>((maxY - 8) >> 4, t.y1 - 1);
    if (s.yStart > s.yEnd) return true;
    s.x0 = t.x0;
    s.x1 = t.x1 - 1;
    if (s.x0 > s.x1) return true;
    for (int e = 0; e < 3; e++) {
        int i = e, j = (e + 1) % 3;
        int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
        bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        s.S[e] = -16 * dy;
        s.dV[e] = 16 * dx;
        s.V[e] = -dy * (8 - X[i]) + dx * ((int64_t)s.yStart * 16 + 8 - Y[i]) - (topLeft ? 0 : 1);
        s.invS[e] = s.S[e] ? 1.0 / (double)s.S[e] : 0.0;
    }

    // Attribute planes from the snapped positions.
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
        float du = std::floor(std::min({a.u, b.u, c.u})), dv = std::floor(std::min({a.v, b.v, c.v}));
        plane((a.u - du) * a.q, (b.u - du) * b.q, (c.u - du) * c.q, s.s0, s.sdx, s.sdy);
        plane((a.v - dv) * a.q, (b.v - dv) * b.q, (c.v - dv) * c.q, s.t0, s.tdx, s.tdy);
    } else {
        s.s0 = s.sdx = s.sdy = s.t0 = s.tdx = s.tdy = 0.0f;
    }
    for (int k = 0; k < 4; k++) plane(a.c[k], b.c[k], c.c[k], s.c0[k], s.cdx[k], s.cdy[k]);
    if (!(flags & kTex))  // the colour itself is written: back to 0..255
        for (int k = 0; k < 3; k++) {
            s.c0[k] *= 255.0f / 256.0f;
            s.cdx[k] *= 255.0f / 256.0f;
            s.cdy[k] *= 255.0f / 256.0f;
        }
    table[flags & 31](t, s, tex);
    return true;
}

}  // namespace rm
