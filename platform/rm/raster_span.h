// A row's span of pixels and the one-pixel loop that draws it.
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/rm/raster_texture.h"

namespace rm::raster {

// One span: pixels [x, x + n) of a row. Pixel j has depth q + j * qdx and
// texture coordinates (s + j * sdx, t + j * tdx) / depth, found exactly per
// pixel, and colour col + j * cdx. The texture level is chosen once for the
// whole span, at its middle. Both pixel loops below compute exactly these
// values, so they draw the same picture bit for bit.
struct Span {
    uint32_t* dst;
    float* zb;
    int64_t x;
    int n;
    int room;  // pixels from x to the end of the row, in both buffers
    float q, s, t;
    float uT, vT, w;  // texel coordinates and 1/q at the middle, for the level
    __m128 col;  // b g r a
    bool flat;  // col holds for the whole span
};

// How far a sample's attributes lie from its pixel's centre's.
struct Moved {
    float q, s, t;
    float c[4];
};

// What the one-pixel loop keeps for a span: its colour (for flat colour,
// the whole span's) and its mip levels.
template <unsigned F>
struct PixelShader {
    const Setup& st;
    const Span& r;
    // The colour on the 0..256 scale, b g r a; times 4 for modulating texels
    // scaled by 64.
    __m128i c16, c64;
    const Lvl* A = nullptr;
    const Lvl* B = nullptr;
    int frac = 0;
    __m128i fracW;

    PixelShader(const Setup& setup, const Span& span) : st(setup), r(span) {
        c16 = _mm_packs_epi32(_mm_cvtps_epi32(r.col), _mm_setzero_si128());
        c64 = _mm_slli_epi16(c16, 2);
        if constexpr ((bool)(F & kTex)) selectLevel(st, r.uT, r.vT, r.w, A, B, frac);
        fracW = _mm_set1_epi16((short)(frac << 8));
    }
    // The lit texel (or colour) of pixel j at depth q, 16-bit channels in the
    // low four lanes; false when a decal's coverage there is under half. With
    // `moved`, the texture coordinates and colour are taken that far from
    // the pixel's centre (q is the depth there).
    __attribute__((always_inline)) bool shade(int j, float q, __m128i& px, const Moved* moved = nullptr) {
        const float fj = (float)j;
        if (!r.flat) {
            __m128 at = _mm_add_ps(r.col, _mm_mul_ps(_mm_set1_ps(fj), _mm_loadu_ps(st.cdx)));
            if (moved) at = _mm_add_ps(at, _mm_loadu_ps(moved->c));
            c16 = _mm_packs_epi32(_mm_cvtps_epi32(at), _mm_setzero_si128());
            c64 = _mm_slli_epi16(c16, 2);
        }
        if constexpr ((bool)(F & kTex)) {
            float s = r.s + fj * st.sdx, t = r.t + fj * st.tdx;
            if (moved) s += moved->s, t += moved->t;
            const float w = 1.0f / q;
            const uint32_t U = fixedTexel(s * w), V = fixedTexel(t * w);
            __m128i texel = bilinear(*A, U, V);
            // Alpha test on the filtered coverage of the selected level.
            if ((F & kDecal) && _mm_extract_epi16(texel, 3) < kCoverageHalf * 64) return false;
            if (frac) texel = _mm_add_epi16(texel, mulhrs4(_mm_sub_epi16(bilinear(*B, U, V), texel), fracW));
            px = _mm_mulhi_epu16(texel, c64);
        } else {
            px = c16;
        }
        return true;
    }
    // px over the pixel at `to` (when blending), written there.
    __attribute__((always_inline)) void store(__m128i px, uint32_t* to) const {
        const __m128i zero = _mm_setzero_si128();
        if constexpr ((bool)(F & kBlend)) {
            const __m128i a = _mm_shufflelo_epi16(c16, 0xFF);
            const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a);
            const __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)*to), zero);
            px = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(px, a), _mm_mullo_epi16(d, inv)), 8);
        }
        *to = (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(px, zero)) & 0x00FFFFFFu;
    }
};

// Pixel by pixel, with SSE2 (or its portable form) for the channels.
template <unsigned F>
void drawSpanPixels(const Setup& st, const Span& r) {
    PixelShader<F> shader(st, r);
    for (int j = 0; j < r.n; j++) {
        const float q = r.q + (float)j * st.qdx;
        const int64_t x = r.x + j;
        if constexpr ((bool)(F & kZTest)) {
            if (!(q > r.zb[x])) continue;
        }
        __m128i px;
        if (!shader.shade(j, q, px)) continue;
        shader.store(px, &r.dst[x]);
        if constexpr ((bool)(F & kZWrite)) r.zb[x] = q;
    }
}

// The span of row y, columns [xl, xr], and its starting values.
template <unsigned F>
__attribute__((always_inline)) inline void spanAt(const RTarget& t, const Setup& s, int y, int64_t xl, int64_t xr,
                                                  Span& span) {
    const float fx = (float)xl, fy = (float)y;
    span.dst = t.color + (size_t)y * t.pitch;
    span.zb = t.depth + (size_t)y * t.dpitch;
    span.x = xl;
    span.n = (int)(xr - xl + 1);
    const int across = t.across ? t.across : (F & (kZTest | kZWrite)) ? std::min(t.pitch, t.dpitch) : t.pitch;
    span.room = (int)(across - xl);
    span.q = s.q0 + s.qdx * fx + s.qdy * fy;
    span.s = s.s0 + s.sdx * fx + s.sdy * fy;
    span.t = s.t0 + s.tdx * fx + s.tdy * fy;
    if (!span.flat)
        span.col = _mm_add_ps(_mm_add_ps(_mm_loadu_ps(s.c0), _mm_mul_ps(_mm_loadu_ps(s.cdx), _mm_set1_ps(fx))),
                              _mm_mul_ps(_mm_loadu_ps(s.cdy), _mm_set1_ps(fy)));
    if constexpr ((bool)(F & kTex)) {
        const float mid = (float)(span.n >> 1);
        span.w = 1.0f / (span.q + s.qdx * mid);
        span.uT = (span.s + s.sdx * mid) * span.w;
        span.vT = (span.t + s.tdx * mid) * span.w;
    }
}

// Whether the triangle's colour is the same at every pixel.
inline bool flatColour(const Setup& s) { return s.cdx[0] == 0 && s.cdx[1] == 0 && s.cdx[2] == 0 && s.cdx[3] == 0; }

// Span set-up for a triangle: the colour, when flat, holds for every span.
inline void firstSpan(const Setup& s, Span& span) {
    span.flat = flatColour(s);
    span.col = _mm_loadu_ps(s.c0);
}

}  // namespace rm::raster
