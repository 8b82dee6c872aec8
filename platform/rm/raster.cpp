// Triangle set-up once per triangle in exact integer edge functions (4 bits of
// sub-pixel precision), spans found per row from the three edges, and
// attributes stepped incrementally along each span. The pixel loop is a
// template per combination of features, with SSE2 for filtering, modulation
// and blending.
#include "platform/rm/raster.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

// Rough log2 for the mip level: exponent plus the mantissa taken linearly.
inline float fastLog2(float x) {
    uint32_t bits;
    memcpy(&bits, &x, 4);
    return (float)(int)bits * (1.0f / (1 << 23)) - 127.0f;
}

// Finds the columns [xl, xr] of row y inside all three edges, from the edge
// values V at the row's column 0; false when the row is empty.
inline bool spanOfRow(const Setup& s, const int64_t V[3], int64_t& xl, int64_t& xr) {
    xl = s.x0;
    xr = s.x1;
    for (int e = 0; e < 3; e++) {
        const int64_t S = s.S[e], v = V[e];
        if (S > 0) {
            double est = std::ceil(-(double)v * s.invS[e]);
            if (est > xr + 1) return false;
            if (est > xl - 1) {
                int64_t xi = (int64_t)est;
                while (v + S * xi < 0) xi++;
                while (v + S * (xi - 1) >= 0) xi--;
                xl = std::max(xl, xi);
            }
        } else if (S < 0) {
            double est = std::floor((double)v * -s.invS[e]);
            if (est < xl - 1) return false;
            if (est < xr + 1) {
                int64_t xi = (int64_t)est;
                while (v + S * xi < 0) xi--;
                while (v + S * (xi + 1) >= 0) xi++;
                xr = std::min(xr, xi);
            }
        } else if (v < 0) {
            return false;
        }
    }
    return xl <= xr;
}

// Texture coordinates and mip level for a run of up to 8 pixels: exact at the
// run's start and end (one division each), stepped linearly in 16.16 texels
// of level 0 in between. The words wrap modulo 2^32, a whole number of
// texture periods.
struct Segment {
    uint32_t U, V;
    int32_t dU, dV;
    int level, frac;
};

__attribute__((always_inline)) inline Segment segmentAt(const Setup& s, float fx, float fy, int n, float W0, float H0, int maxLevel) {
    Segment g;
    const float q = s.q0 + s.qdx * fx + s.qdy * fy;
    const float ss = s.s0 + s.sdx * fx + s.sdy * fy, tt = s.t0 + s.tdx * fx + s.tdy * fy;
    const float Wfx = W0 * 65536.0f, Hfx = H0 * 65536.0f;
    const float w = 1.0f / q, u = ss * w, v = tt * w;
    const float we = 1.0f / (q + s.qdx * (float)n);
    const float ue = (ss + s.sdx * (float)n) * we, ve = (tt + s.tdx * (float)n) * we;
    auto fixed = [](float f) { return (int64_t)std::clamp(f, -1e15f, 1e15f); };
    const int64_t u0 = fixed(u * Wfx), v0 = fixed(v * Hfx);
    g.U = (uint32_t)u0;
    g.V = (uint32_t)v0;
    // Whole runs divide by a constant (a shift), not by a 64-bit division.
    const int64_t du = fixed(ue * Wfx) - u0, dv = fixed(ve * Hfx) - v0;
    g.dU = (int32_t)(n == 8 ? du / 8 : du / n);
    g.dV = (int32_t)(n == 8 ? dv / 8 : dv / n);
    const float dudx = (s.sdx - u * s.qdx) * w * W0, dvdx = (s.tdx - v * s.qdx) * w * H0;
    const float dudy = (s.sdy - u * s.qdy) * w * W0, dvdy = (s.tdy - v * s.qdy) * w * H0;
    const float r2 = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
    const float lod = r2 > 1.0f ? 0.5f * fastLog2(r2) : 0.0f;
    g.level = (int)lod;
    g.frac = (int)((lod - (float)g.level) * 128.0f);
    // Blends within 1/16 of a level are not worth the second sample.
    if (g.frac < 8) g.frac = 0;
    if (g.frac > 120) {
        g.level++;
        g.frac = 0;
    }
    if (g.level >= maxLevel) {
        g.level = maxLevel;
        g.frac = 0;
    }
    return g;
}

#if defined(__SSE2__)

// Four pixels at a time. Colours are kept as two vectors of 16-bit lanes:
// "rb" holds blue and red of each pixel (low and high half of its 32-bit
// lane), "ag" green and alpha, so that 8-bit channel arithmetic runs on all
// four pixels at once with 16-bit multiplies.

// a + (b - a) * f / 128 per 16-bit lane (f in 0..127), rounding down.
inline __m128i lerp7(__m128i a, __m128i b, __m128i f) {
    return _mm_add_epi16(a, _mm_srai_epi16(_mm_mullo_epi16(_mm_sub_epi16(b, a), f), 7));
}

// A 32-bit lane value repeated in both of its 16-bit halves.
inline __m128i bothHalves(__m128i v) { return _mm_or_si128(v, _mm_slli_epi32(v, 16)); }

__attribute__((always_inline)) inline __m128i gather4(const uint32_t* px, __m128i idx) {
    alignas(16) int32_t i[4];
    _mm_store_si128((__m128i*)i, idx);
    return _mm_set_epi32((int)px[i[3]], (int)px[i[2]], (int)px[i[1]], (int)px[i[0]]);
}

// Bilinear samples of one level for four pixels at 16.16 coordinates of
// level 0, with 7-bit weights: first texel rows, then columns.
__attribute__((always_inline)) inline void bilinear4(const MipLevel& L, int level, __m128i U, __m128i V, __m128i& rb, __m128i& ag) {
    const __m128i shift = _mm_cvtsi32_si128(level), half = _mm_set1_epi32(32768);
    const __m128i u = _mm_sub_epi32(_mm_srl_epi32(U, shift), half), v = _mm_sub_epi32(_mm_srl_epi32(V, shift), half);
    const __m128i wm = _mm_set1_epi32(L.w - 1), hm = _mm_set1_epi32(L.h - 1), one = _mm_set1_epi32(1);
    const __m128i xa = _mm_and_si128(_mm_srli_epi32(u, 16), wm), xb = _mm_and_si128(_mm_add_epi32(xa, one), wm);
    const __m128i ya = _mm_and_si128(_mm_srli_epi32(v, 16), hm), yb = _mm_and_si128(_mm_add_epi32(ya, one), hm);
    const __m128i lw = _mm_cvtsi32_si128(__builtin_ctz((unsigned)L.w));
    const __m128i ra = _mm_sll_epi32(ya, lw), rb0 = _mm_sll_epi32(yb, lw);
    const __m128i tl = gather4(L.px, _mm_add_epi32(ra, xa)), tr = gather4(L.px, _mm_add_epi32(ra, xb));
    const __m128i bl = gather4(L.px, _mm_add_epi32(rb0, xa)), br = gather4(L.px, _mm_add_epi32(rb0, xb));
    const __m128i m7 = _mm_set1_epi32(127);
    const __m128i fu = bothHalves(_mm_and_si128(_mm_srli_epi32(u, 9), m7));
    const __m128i fv = bothHalves(_mm_and_si128(_mm_srli_epi32(v, 9), m7));
    const __m128i lo = _mm_set1_epi32(0x00FF00FF);
    const __m128i lRb = lerp7(_mm_and_si128(tl, lo), _mm_and_si128(bl, lo), fv);
    const __m128i rRb = lerp7(_mm_and_si128(tr, lo), _mm_and_si128(br, lo), fv);
    const __m128i lAg = lerp7(_mm_srli_epi16(tl, 8), _mm_srli_epi16(bl, 8), fv);
    const __m128i rAg = lerp7(_mm_srli_epi16(tr, 8), _mm_srli_epi16(br, 8), fv);
    rb = lerp7(lRb, rRb, fu);
    ag = lerp7(lAg, rAg, fu);
}

template <unsigned F>
void drawRows(const RTarget& t, const Setup& s, const MipChain* tex) {
    constexpr bool kT = F & kTex, kZT = F & kZTest, kZW = F & kZWrite, kB = F & kBlend, kD = F & kDecal;
    int64_t EV[3] = {s.V[0], s.V[1], s.V[2]};
    const float W0 = kT ? (float)tex->lv[0].w : 0.0f, H0 = kT ? (float)tex->lv[0].h : 0.0f;
    const int maxLevel = kT ? tex->levels - 1 : 0;
    const __m128 iota = _mm_set_ps(3, 2, 1, 0);
    const __m128 qdx4 = _mm_set1_ps(4 * s.qdx), qStep = _mm_mul_ps(_mm_set1_ps(s.qdx), iota);
    __m128 cStep[4], cdx4[4];
    for (int k = 0; k < 4; k++) {
        cStep[k] = _mm_mul_ps(_mm_set1_ps(s.cdx[k]), iota);
        cdx4[k] = _mm_set1_ps(4 * s.cdx[k]);
    }
    // Written colours stay within a byte; modulating colours go to 256.
    const __m128 cMax = _mm_set1_ps(kT ? 256.0f : 255.0f), aMax = _mm_set1_ps(256.0f), fzero = _mm_setzero_ps();
    const bool flatColour = s.cdx[0] == 0 && s.cdx[1] == 0 && s.cdx[2] == 0 && s.cdx[3] == 0;
    const __m128i lo = _mm_set1_epi32(0x00FF00FF), rgbMask = _mm_set1_epi32(0x00FFFFFF);
    const __m128i coverage = _mm_set1_epi32((kCoverageHalf << 16) - 1);
    const __m128i laneIdx = _mm_set_epi32(3, 2, 1, 0);
    for (int y = s.yStart; y <= s.yEnd; y++) {
        int64_t xl, xr;
        const bool any = spanOfRow(s, EV, xl, xr);
        EV[0] += s.dV[0];
        EV[1] += s.dV[1];
        EV[2] += s.dV[2];
        if (!any) continue;

        const float fy = (float)y;
        float fx = (float)xl;
        __m128 q4 = _mm_add_ps(_mm_set1_ps(s.q0 + s.qdx * fx + s.qdy * fy), qStep);
        __m128 c4[4];
        for (int k = 0; k < 4; k++) c4[k] = _mm_add_ps(_mm_set1_ps(s.c0[k] + s.cdx[k] * fx + s.cdy[k] * fy), cStep[k]);
        __m128i cRb = _mm_setzero_si128(), cAg = _mm_setzero_si128();
        auto colourLanes = [&]() {
            __m128i b = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(c4[0], cMax), fzero));
            __m128i g = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(c4[1], cMax), fzero));
            __m128i r = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(c4[2], cMax), fzero));
            __m128i a = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(c4[3], aMax), fzero));
            cRb = _mm_or_si128(b, _mm_slli_epi32(r, 16));
            cAg = _mm_or_si128(g, _mm_slli_epi32(a, 16));
        };
        colourLanes();
        uint32_t* dstRow = t.color + (size_t)y * t.pitch;
        float* zRow = t.depth + (size_t)y * t.dpitch;
        Segment seg{};
        __m128i U4 = _mm_setzero_si128(), V4 = _mm_setzero_si128(), dU4 = _mm_setzero_si128(), dV4 = _mm_setzero_si128();
        int segLeft = 0;
        for (int64_t x = xl; x <= xr; x += 4) {
            const int count = (int)std::min<int64_t>(4, xr - x + 1);
            if constexpr (kT) {
                if (segLeft == 0) {
                    const int n = (int)std::min<int64_t>(8, xr - x + 1);
                    seg = segmentAt(s, (float)x, fy, n, W0, H0, maxLevel);
                    const __m128i d = _mm_set_epi32(3 * seg.dU, 2 * seg.dU, seg.dU, 0);
                    const __m128i e = _mm_set_epi32(3 * seg.dV, 2 * seg.dV, seg.dV, 0);
                    U4 = _mm_add_epi32(_mm_set1_epi32((int)seg.U), d);
                    V4 = _mm_add_epi32(_mm_set1_epi32((int)seg.V), e);
                    dU4 = _mm_set1_epi32((int)(4u * (uint32_t)seg.dU));
                    dV4 = _mm_set1_epi32((int)(4u * (uint32_t)seg.dV));
                    segLeft = n;
                }
                segLeft -= count;
            }
            // The last group of a row may be short: it works on a copy.
            alignas(16) uint32_t cTail[4] = {};
            alignas(16) float zTail[4] = {};
            uint32_t* dst = dstRow + x;
            float* zb = zRow + x;
            __m128i mask = _mm_set1_epi32(-1);
            if (count < 4) {
                for (int i = 0; i < count; i++) {
                    cTail[i] = dst[i];
                    if constexpr (kZT || kZW) zTail[i] = zb[i];
                }
                dst = cTail;
                zb = zTail;
                mask = _mm_cmplt_epi32(laneIdx, _mm_set1_epi32(count));
            }
            if constexpr (kZT) mask = _mm_and_si128(mask, _mm_castps_si128(_mm_cmpgt_ps(q4, _mm_loadu_ps(zb))));
            if (_mm_movemask_epi8(mask)) {
                if (!flatColour) colourLanes();
                __m128i rb, ag;
                if constexpr (kT) {
                    bilinear4(tex->lv[seg.level], seg.level, U4, V4, rb, ag);
                    if constexpr (kD) mask = _mm_and_si128(mask, _mm_cmpgt_epi32(ag, coverage));
                    if (!kD || _mm_movemask_epi8(mask)) {
                        if (seg.frac) {
                            __m128i rb2, ag2;
                            bilinear4(tex->lv[seg.level + 1], seg.level + 1, U4, V4, rb2, ag2);
                            const __m128i f = _mm_set1_epi16((short)seg.frac);
                            rb = lerp7(rb, rb2, f);
                            ag = lerp7(ag, ag2, f);
                        }
                        rb = _mm_srli_epi16(_mm_mullo_epi16(rb, cRb), 8);
                        ag = _mm_srli_epi16(_mm_mullo_epi16(ag, cAg), 8);
                    }
                } else {
                    rb = cRb;
                    ag = cAg;
                }
                const __m128i old = _mm_loadu_si128((const __m128i*)dst);
                if constexpr (kB) {
                    const __m128i a = bothHalves(_mm_srli_epi32(cAg, 16));
                    const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a);
                    rb = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(rb, a), _mm_mullo_epi16(_mm_and_si128(old, lo), inv)), 8);
                    ag = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(ag, a), _mm_mullo_epi16(_mm_srli_epi16(old, 8), inv)), 8);
                }
                const __m128i out = _mm_and_si128(_mm_or_si128(rb, _mm_slli_epi16(ag, 8)), rgbMask);
                _mm_storeu_si128((__m128i*)dst, _mm_or_si128(_mm_and_si128(mask, out), _mm_andnot_si128(mask, old)));
                if constexpr (kZW) {
                    const __m128 m = _mm_castsi128_ps(mask);
                    _mm_storeu_ps(zb, _mm_or_ps(_mm_and_ps(m, q4), _mm_andnot_ps(m, _mm_loadu_ps(zb))));
                }
                if (count < 4)
                    for (int i = 0; i < count; i++) {
                        dstRow[x + i] = cTail[i];
                        if constexpr (kZW) zRow[x + i] = zTail[i];
                    }
            }
            q4 = _mm_add_ps(q4, qdx4);
            if (!flatColour)
                for (int k = 0; k < 4; k++) c4[k] = _mm_add_ps(c4[k], cdx4[k]);
            if constexpr (kT) {
                U4 = _mm_add_epi32(U4, dU4);
                V4 = _mm_add_epi32(V4, dV4);
            }
        }
    }
}

#else  // no SSE2: the same arithmetic one pixel and one channel at a time

inline int lerp7(int a, int b, int f) { return a + (((b - a) * f) >> 7); }

// Bilinear sample of one level at 16.16 coordinates of level 0, with 7-bit
// weights: b, g, r, a.
inline void bilinear1(const MipLevel& L, int level, uint32_t U, uint32_t V, int out[4]) {
    const uint32_t u = (U >> level) - 32768u, v = (V >> level) - 32768u;
    const int xa = (int)(u >> 16) & (L.w - 1), xb = (xa + 1) & (L.w - 1);
    const int ya = (int)(v >> 16) & (L.h - 1), yb = (ya + 1) & (L.h - 1);
    const int fu = (int)(u >> 9) & 127, fv = (int)(v >> 9) & 127;
    const uint32_t tl = L.px[ya * L.w + xa], tr = L.px[ya * L.w + xb], bl = L.px[yb * L.w + xa], br = L.px[yb * L.w + xb];
    for (int k = 0; k < 4; k++) {
        const int sh = 8 * k;
        const int l = lerp7((int)(tl >> sh) & 255, (int)(bl >> sh) & 255, fv);
        const int r = lerp7((int)(tr >> sh) & 255, (int)(br >> sh) & 255, fv);
        out[k] = lerp7(l, r, fu);
    }
}

template <unsigned F>
void drawRows(const RTarget& t, const Setup& s, const MipChain* tex) {
    constexpr bool kT = F & kTex, kZT = F & kZTest, kZW = F & kZWrite, kB = F & kBlend, kD = F & kDecal;
    int64_t EV[3] = {s.V[0], s.V[1], s.V[2]};
    const float W0 = kT ? (float)tex->lv[0].w : 0.0f, H0 = kT ? (float)tex->lv[0].h : 0.0f;
    const int maxLevel = kT ? tex->levels - 1 : 0;
    for (int y = s.yStart; y <= s.yEnd; y++) {
        int64_t xl, xr;
        const bool any = spanOfRow(s, EV, xl, xr);
        EV[0] += s.dV[0];
        EV[1] += s.dV[1];
        EV[2] += s.dV[2];
        if (!any) continue;
        const float fy = (float)y;
        uint32_t* dst = t.color + (size_t)y * t.pitch;
        float* zb = t.depth + (size_t)y * t.dpitch;
        Segment seg{};
        int segLeft = 0;
        for (int64_t x = xl; x <= xr; x++) {
            if constexpr (kT) {
                if (segLeft == 0) {
                    segLeft = (int)std::min<int64_t>(8, xr - x + 1);
                    seg = segmentAt(s, (float)x, fy, segLeft, W0, H0, maxLevel);
                }
                segLeft--;
            }
            const float fx = (float)x;
            const float q = s.q0 + s.qdx * fx + s.qdy * fy;
            int px[4];
            if (!kZT || q > zb[x]) {
                int c[4];
                for (int k = 0; k < 4; k++) {
                    const float top = k == 3 || kT ? 256.0f : 255.0f;
                    c[k] = (int)std::lrint(std::clamp(s.c0[k] + s.cdx[k] * fx + s.cdy[k] * fy, 0.0f, top));
                }
                bool draw = true;
                if constexpr (kT) {
                    bilinear1(tex->lv[seg.level], seg.level, seg.U, seg.V, px);
                    if (kD && px[3] < kCoverageHalf) draw = false;
                    if (draw && seg.frac) {
                        int other[4];
                        bilinear1(tex->lv[seg.level + 1], seg.level + 1, seg.U, seg.V, other);
                        for (int k = 0; k < 4; k++) px[k] = lerp7(px[k], other[k], seg.frac);
                    }
                    for (int k = 0; k < 4; k++) px[k] = (px[k] * c[k]) >> 8;
                } else {
                    for (int k = 0; k < 4; k++) px[k] = c[k];
                }
                if (draw) {
                    if constexpr (kB)
                        for (int k = 0; k < 3; k++)
                            px[k] = (px[k] * c[3] + (int)((dst[x] >> (8 * k)) & 255) * (256 - c[3])) >> 8;
                    dst[x] = (uint32_t)px[0] | (uint32_t)px[1] << 8 | (uint32_t)px[2] << 16;
                    if constexpr (kZW) zb[x] = q;
                }
            }
            if constexpr (kT) {
                seg.U += (uint32_t)seg.dU;
                seg.V += (uint32_t)seg.dV;
            }
        }
    }
}

#endif  // __SSE2__

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
