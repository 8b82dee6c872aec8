// The eight-pixel loop: groups of eight pixels of a span drawn at once with
// AVX2, the same values as the one-pixel loop gives them.
#pragma once
#include <cstdint>

#include "platform/rm/raster_span.h"

namespace rm::raster {

// What the groups of one span share.
struct WideSpan {
    __m256 q0, s0, t0, qdx, sdx, tdx;
    __m256i c16, alpha, invAlpha, fracW;
    __m256i c64;  // c16 * 4: the high half of a texel (scaled by 64) times it is the lit texel
    const Lvl* A;
    const Lvl* B;
    int frac;
    bool nearTexels;  // the triangle's
};

// Colour px over d by the span's alpha, per 16-bit channel.
WIDE inline __m256i blend16(__m256i px, __m256i d, const WideSpan& c) {
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(px, c.alpha), _mm256_mullo_epi16(d, c.invAlpha)), 8);
}

// K groups of eight pixels on their way through the loop, each step taken for
// all K before the next, so that their long chains of latency (division,
// texel loads) overlap.
template <int K>
struct Groups {
    __m256i valid[K], pass[K];
    bool whole[K];
    __m256 jf[K], q[K];
    __m256 ds[K], dt[K];  // texture coordinates moved, for samples
    uint32_t* dst[K];
    float* zb[K];
    Wide16 px[K];
};

#define WIDE_STEP WIDE __attribute__((always_inline)) inline

// The depth under group k: a plain load where its eight pixels fit in the
// row, masked near the row's end.
template <int K>
WIDE_STEP __m256 groupDepth(const Groups<K>& G, int k) {
    return G.whole[k] ? _mm256_loadu_ps(G.zb[k]) : _mm256_maskload_ps(G.zb[k], G.valid[k]);
}

// The lanes of each group that lie in its span from pixel g on, their depth
// and the depth test. False when no lane passes.
template <unsigned F, int K>
WIDE_STEP bool testGroups(const Span* const r[K], const WideSpan* const c[K], const int g[K], Groups<K>& G) {
    constexpr bool kZT = F & kZTest;
    const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i ilane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (int k = 0; k < K; k++) {
        const int at = g[k];
        G.valid[k] = _mm256_cmpgt_epi32(_mm256_set1_epi32(r[k]->n - at), ilane);
        // Eight pixels that fit in the row are loaded and stored plainly
        // (a masked store is several times slower on some processors): the
        // pixels past the span are written back as they were, and only this
        // thread draws the row. Near the row's end the accesses are masked.
        G.whole[k] = r[k]->room - at >= 8;
        G.dst[k] = r[k]->dst + r[k]->x + at;
        G.zb[k] = r[k]->zb + r[k]->x + at;
        G.jf[k] = _mm256_add_ps(_mm256_set1_ps((float)at), lane);
        G.q[k] = _mm256_add_ps(c[k]->q0, _mm256_mul_ps(G.jf[k], c[k]->qdx));
        G.pass[k] = G.valid[k];
        if constexpr (kZT) {
            const __m256 z = groupDepth(G, k);
            G.pass[k] = _mm256_and_si256(G.pass[k], _mm256_castps_si256(_mm256_cmp_ps(G.q[k], z, _CMP_GT_OQ)));
        }
        any = _mm256_or_si256(any, G.pass[k]);
    }
    return !_mm256_testz_si256(any, any);
}

// The lit texels of the groups' lanes at depths q: texture coordinates,
// texel loads, filtering, the decal's coverage test (which clears lanes from
// pass) and modulation; or the flat colour. False when the coverage test
// leaves no lane.
// With kMoved, each lane's texture coordinates are moved by G.ds and G.dt
// (G.q is the depth there).
template <unsigned F, int K, bool kMoved = false>
WIDE_STEP bool shadeGroups(const WideSpan* const c[K], Groups<K>& G) {
    constexpr bool kT = F & kTex, kD = F & kDecal;
    if constexpr (!kT) {
#pragma GCC unroll 4
        for (int k = 0; k < K; k++) G.px[k].a = G.px[k].b = c[k]->c16;
        return true;
    }
    __m256i U[K], V[K];
    Wide16 texel[K];
#pragma GCC unroll 4
    for (int k = 0; k < K; k++) {
        const __m256 w = _mm256_div_ps(_mm256_set1_ps(1.0f), G.q[k]);
        __m256 s = _mm256_add_ps(c[k]->s0, _mm256_mul_ps(G.jf[k], c[k]->sdx));
        __m256 t = _mm256_add_ps(c[k]->t0, _mm256_mul_ps(G.jf[k], c[k]->tdx));
        if constexpr (kMoved) s = _mm256_add_ps(s, G.ds[k]), t = _mm256_add_ps(t, G.dt[k]);
        s = _mm256_mul_ps(s, w);
        t = _mm256_mul_ps(t, w);
        // Below 0 (rounding near an edge) only the long way gives the same value.
        if (c[k]->nearTexels && !_mm256_movemask_ps(_mm256_or_ps(s, t))) {
            U[k] = nearTexel8(s);
            V[k] = nearTexel8(t);
        } else {
            U[k] = fixedTexel8(s);
            V[k] = fixedTexel8(t);
        }
    }
#pragma GCC unroll 4
    for (int k = 0; k < K; k++) bilinear8(texel[k], *c[k]->A, U[k], V[k]);
    if constexpr (kD) {
        // Coverage of at least half: the sign of each pixel's top byte once
        // the comparison is packed back into pixel order.
        const __m256i half = _mm256_set1_epi16(kCoverageHalf * 64 - 1);
        __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 4
        for (int k = 0; k < K; k++) {
            const __m256i coverA = _mm256_cmpgt_epi16(texel[k].a, half);
            const __m256i coverB = _mm256_cmpgt_epi16(texel[k].b, half);
            const __m256i cover = _mm256_packs_epi16(coverA, coverB);
            G.pass[k] = _mm256_and_si256(G.pass[k], _mm256_srai_epi32(cover, 31));
            any = _mm256_or_si256(any, G.pass[k]);
        }
        if (_mm256_testz_si256(any, any)) return false;
    }
    bool blend = false;
    for (int k = 0; k < K; k++) blend |= c[k]->frac != 0;
    if (blend) {
        Wide16 other[K];
#pragma GCC unroll 4
        for (int k = 0; k < K; k++) bilinear8(other[k], *c[k]->B, U[k], V[k]);
#pragma GCC unroll 4
        for (int k = 0; k < K; k++) {
            texel[k].a = lerpRounded(texel[k].a, other[k].a, c[k]->fracW);
            texel[k].b = lerpRounded(texel[k].b, other[k].b, c[k]->fracW);
        }
    }
#pragma GCC unroll 4
    for (int k = 0; k < K; k++) {
        G.px[k].a = _mm256_mulhi_epu16(texel[k].a, c[k]->c64);
        G.px[k].b = _mm256_mulhi_epu16(texel[k].b, c[k]->c64);
    }
    return true;
}

// The colour px blended over old (when blending), as pixels, alpha bits clear.
template <unsigned F>
WIDE_STEP __m256i finalColour(const Wide16& px, __m256i old, const WideSpan& c) {
    Wide16 out = px;
    if constexpr ((bool)(F & kBlend)) {
        out.a = blend16(px.a, _mm256_unpacklo_epi8(old, _mm256_setzero_si256()), c);
        out.b = blend16(px.b, _mm256_unpackhi_epi8(old, _mm256_setzero_si256()), c);
    }
    return _mm256_and_si256(_mm256_packus_epi16(out.a, out.b), _mm256_set1_epi32(0x00FFFFFF));
}

// The lanes that pass written: their colour and, when asked, their depth.
template <unsigned F, int K>
WIDE_STEP void storeGroups(const WideSpan* const c[K], const Groups<K>& G) {
#pragma GCC unroll 4
    for (int k = 0; k < K; k++) {
        // The pixels there now, read only here: fewer registers are held
        // through the shading.
        const __m256i old = G.whole[k] ? _mm256_loadu_si256((const __m256i*)G.dst[k])
                                       : _mm256_maskload_epi32((const int*)G.dst[k], G.valid[k]);
        const __m256i colour = _mm256_blendv_epi8(old, finalColour<F>(G.px[k], old, *c[k]), G.pass[k]);
        if (G.whole[k])
            _mm256_storeu_si256((__m256i*)G.dst[k], colour);
        else
            _mm256_maskstore_epi32((int*)G.dst[k], G.valid[k], colour);
        if constexpr ((bool)(F & kZWrite)) {
            const __m256 z = groupDepth(G, k);
            const __m256 depth = _mm256_blendv_ps(z, G.q[k], _mm256_castsi256_ps(G.pass[k]));
            if (G.whole[k])
                _mm256_storeu_ps(G.zb[k], depth);
            else
                _mm256_maskstore_ps(G.zb[k], G.valid[k], depth);
        }
    }
}

// K groups of eight pixels at once, from pixel g of each span on.
template <unsigned F, int K>
WIDE_STEP void drawGroups(const Span* const r[K], const WideSpan* const c[K], const int g[K]) {
    Groups<K> G;
    if (testGroups<F, K>(r, c, g, G) && shadeGroups<F, K>(c, G)) storeGroups<F, K>(c, G);
}

// The values all spans of a triangle share in the eight-pixel loop, which
// draws flat colour only: its colour on the 0..256 scale (b g r a per pixel)
// and alpha, and the steps across.
WIDE __attribute__((always_inline)) inline void prepareWideTriangle(const Setup& st, const Span& r, WideSpan& c) {
    c.c16 = _mm256_broadcastq_epi64(_mm_packs_epi32(_mm_cvtps_epi32(r.col), _mm_setzero_si128()));
    c.c64 = _mm256_slli_epi16(c.c16, 2);
    c.alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(c.c16, 0xFF), 0xFF);
    c.invAlpha = _mm256_sub_epi16(_mm256_set1_epi16(256), c.alpha);
    c.qdx = _mm256_set1_ps(st.qdx);
    c.sdx = _mm256_set1_ps(st.sdx);
    c.tdx = _mm256_set1_ps(st.tdx);
    c.nearTexels = st.nearTexels;
}

// The values of one span's groups: where it starts and its mip levels.
template <unsigned F>
WIDE __attribute__((always_inline)) inline void prepareWide(const Setup& st, const Span& r, WideSpan& c) {
    c.q0 = _mm256_set1_ps(r.q);
    c.s0 = _mm256_set1_ps(r.s);
    c.t0 = _mm256_set1_ps(r.t);
    c.frac = 0;
    if constexpr ((bool)(F & kTex)) selectLevel(st, r.uT, r.vT, r.w, c.A, c.B, c.frac);
    c.fracW = _mm256_set1_epi16((short)(c.frac << 8));
}

// A span from pixel g on: two groups at a time while at least nine pixels
// remain, then one.
template <unsigned F>
WIDE __attribute__((always_inline)) inline void drawSpanWide(const Span& r, const WideSpan& c, int g) {
    const Span* const rr[2] = {&r, &r};
    const WideSpan* const cc[2] = {&c, &c};
    for (; g + 8 < r.n; g += 16) {
        const int at[2] = {g, g + 8};
        drawGroups<F, 2>(rr, cc, at);
    }
    if (g < r.n) drawGroups<F, 1>(rr, cc, &g);
}

// Two spans (of neighbouring rows) side by side: with kPairs 2, two groups of
// each at a time while both have at least nine pixels left; then one of each,
// then what remains of the longer one.
// Two groups of each pay where there are registers for them (AVX-512's 32);
// with AVX2's 16 the spilling costs more than the overlap gains on some
// processors (Zen 3).
template <unsigned F, int kPairs>
WIDE __attribute__((always_inline)) inline void drawSpanPairWide(const Span r[2], const WideSpan c[2]) {
    const Span* const rr[2] = {&r[0], &r[1]};
    const WideSpan* const cc[2] = {&c[0], &c[1]};
    int g = 0;
    for (; kPairs == 2 && g + 8 < r[0].n && g + 8 < r[1].n; g += 16) {
        const Span* const r4[4] = {&r[0], &r[1], &r[0], &r[1]};
        const WideSpan* const c4[4] = {&c[0], &c[1], &c[0], &c[1]};
        const int at[4] = {g, g, g + 8, g + 8};
        drawGroups<F, 4>(r4, c4, at);
    }
    for (; g < r[0].n && g < r[1].n; g += 8) {
        const int at[2] = {g, g};
        drawGroups<F, 2>(rr, cc, at);
    }
    if (g < r[0].n) drawSpanWide<F>(r[0], c[0], g);
    if (g < r[1].n) drawSpanWide<F>(r[1], c[1], g);
}

}  // namespace rm::raster
