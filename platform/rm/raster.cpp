// Triangle set-up once per triangle in exact integer edge functions (4 bits of
// sub-pixel precision), spans found per row from the three edges, and the
// pixels of each span drawn eight at a time with AVX2 where the processor has
// it (through SIMD Everywhere elsewhere, on wasm SIMD in WebAssembly), one at
// a time with SSE2 otherwise.
// Texture coordinates are divided by depth exactly at every pixel; the mip
// level is chosen once per span.
#include "platform/rm/raster.h"

#if defined(__SSE2__) && !defined(__EMSCRIPTEN__)
#include <immintrin.h>
#elif defined(__EMSCRIPTEN__)
// WebAssembly: emscripten's SSE headers, which map to wasm SIMD, and SIMD
// Everywhere for the eight-pixel loop's AVX and AVX2 (emscripten has none).
#if !(defined(__wasm_simd128__) && defined(__SSE4_2__))
#error "the rasterizer is built with -msimd128 -msse4.2 under emscripten"
#endif
#include <immintrin.h>
#define SIMDE_X86_AVX_ENABLE_NATIVE_ALIASES
#define SIMDE_X86_AVX2_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx2.h>
#else
// Other processors run the same code on SIMD Everywhere's portable versions
// (NEON on ARM), the eight-pixel loop included.
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx2.h>
#endif

#if defined(__EMSCRIPTEN__)
// SIMD Everywhere 0.7.4 does these eight-lane operations in WebAssembly as
// loops over the lanes: here they are two halves of what emscripten's SSE
// headers make of them (a few wasm SIMD instructions each). Emscripten
// converts floats to integers lane by lane; here wasm's own conversion gives
// the processor's answer, and out of range, as it does, INT_MIN.
#include <wasm_simd128.h>

namespace wasm256 {

inline __m128i lo(__m256i a) { return _mm256_castsi256_si128(a); }
inline __m128i hi(__m256i a) { return _mm256_extracti128_si256(a, 1); }
inline __m256i join(__m128i l, __m128i h) { return _mm256_set_m128i(h, l); }
inline __m128 lo(__m256 a) { return (__m128)_mm256_castps256_ps128(a); }
inline __m128 hi(__m256 a) { return (__m128)_mm256_extractf128_ps(a, 1); }
inline __m256 join(__m128 l, __m128 h) { return _mm256_set_m128((simde__m128)h, (simde__m128)l); }

#define WASM256_HALVES(name, op) \
    inline __m256i name(__m256i a, __m256i b) { return join(op(lo(a), lo(b)), op(hi(a), hi(b))); }
WASM256_HALVES(mullo16, _mm_mullo_epi16)
WASM256_HALVES(mulhiu16, _mm_mulhi_epu16)
WASM256_HALVES(maddubs16, _mm_maddubs_epi16)
WASM256_HALVES(shuffle8, _mm_shuffle_epi8)
#undef WASM256_HALVES

// (a * b + 2^14) >> 15: wasm's rounding multiply saturates the one case
// -2^15 * -2^15, where the processor's wraps to -2^15.
inline __m128i mulhrs16(__m128i a, __m128i b) {
    const v128_t least = wasm_i16x8_splat(-32768);
    const v128_t both = wasm_v128_and(wasm_i16x8_eq(a, least), wasm_i16x8_eq(b, least));
    return wasm_v128_xor(wasm_i16x8_q15mulr_sat(a, b), both);
}
inline __m256i mulhrs16(__m256i a, __m256i b) { return join(mulhrs16(lo(a), lo(b)), mulhrs16(hi(a), hi(b))); }

inline __m256 floor8(__m256 a) { return join(_mm_floor_ps(lo(a)), _mm_floor_ps(hi(a))); }
inline int testz(__m256i a, __m256i b) {
    return !wasm_v128_any_true(wasm_v128_or(wasm_v128_and(lo(a), lo(b)), wasm_v128_and(hi(a), hi(b))));
}

// Truncated, and rounded to nearest even (the processor's default rounding).
inline __m128i truncate4(__m128 a) {
    const v128_t inside = wasm_f32x4_lt(wasm_f32x4_abs(a), wasm_f32x4_splat(2147483648.0f));
    return wasm_v128_bitselect(wasm_i32x4_trunc_sat_f32x4(a), wasm_i32x4_splat(INT32_MIN), inside);
}
inline __m128i round4(__m128 a) { return truncate4(wasm_f32x4_nearest(a)); }
inline __m256i truncate8(__m256 a) { return join(truncate4(lo(a)), truncate4(hi(a))); }

}  // namespace wasm256

#undef _mm256_mullo_epi16
#define _mm256_mullo_epi16 wasm256::mullo16
#undef _mm256_mulhi_epu16
#define _mm256_mulhi_epu16 wasm256::mulhiu16
#undef _mm256_maddubs_epi16
#define _mm256_maddubs_epi16 wasm256::maddubs16
#undef _mm256_shuffle_epi8
#define _mm256_shuffle_epi8 wasm256::shuffle8
#undef _mm256_mulhrs_epi16
#define _mm256_mulhrs_epi16 wasm256::mulhrs16
#undef _mm256_floor_ps
#define _mm256_floor_ps wasm256::floor8
#undef _mm256_testz_si256
#define _mm256_testz_si256 wasm256::testz
#undef _mm256_cvttps_epi32
#define _mm256_cvttps_epi32 wasm256::truncate8
#define _mm_cvtps_epi32 wasm256::round4
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <utility>

namespace rm {

namespace {

using Setup = RasterSetup;

// Decal pixels are drawn where the filtered coverage (alpha 0..255) reaches half.
constexpr int kCoverageHalf = 128;

// Level fractions (of 128) below kTriLow use one level, above kTriHigh the next.
// The blend ramps over the middle half: no visible step between levels, and
// about half the pixels need only one level.
constexpr int kTriLow = 32, kTriHigh = 95;

// Texel coordinates are kept within this range (far beyond any texture).
constexpr float kTexelLimit = 1e9f;

// A mip level as sampled: its texels, wrap masks, row shift and scale.
using Lvl = MipLevel;

// A texel coordinate as 16.16 fixed point; the word wraps modulo 2^32, a
// whole number of texture periods.
inline uint32_t fixedTexel(float c) {
    c = c < kTexelLimit ? c : kTexelLimit;
    c = c > -kTexelLimit ? c : -kTexelLimit;
    // floor(c), exact for |c| < 2^31.
    const int32_t truncated = (int32_t)c;
    const float whole = (float)truncated > c ? (float)(truncated - 1) : (float)truncated;
    return ((uint32_t)(int32_t)whole << 16) + (uint32_t)(int32_t)((c - whole) * 65536.0f);
}

// The mip level and the blend fraction (of 128) towards the next one, from the
// texel footprint of a pixel at texel coordinates (uT, vT) and 1/q = w.
__attribute__((always_inline)) inline void selectLevel(const Setup& s, float uT, float vT, float w, const Lvl*& A,
                                                       const Lvl*& B, int& frac) {
    const float dudx = (s.sdx - uT * s.qdx) * w, dvdx = (s.tdx - vT * s.qdx) * w;
    const float dudy = (s.sdy - uT * s.qdy) * w, dvdy = (s.tdy - vT * s.qdy) * w;
    const float rx = dudx * dudx + dvdx * dvdx, ry = dudy * dudy + dvdy * dvdy;
    const float r2 = rx > ry ? rx : ry;
    // Level of detail 0.5 * log2(r2), from the float's bits: exponent plus
    // mantissa taken linearly, in units of 2^-23, halved.
    uint32_t bits;
    memcpy(&bits, &r2, 4);
    const uint32_t lod = bits > 0x3F800000u && bits < 0x7F800000u ? (bits - 0x3F800000u) >> 1 : 0;
    int level = (int)(lod >> 23);
    int f = (int)((lod >> 16) & 127);
    // Only the middle of each level's range blends two levels (with a steeper
    // ramp); near a whole level one bilinear sample is enough.
    level += f > kTriHigh;
    f = f < kTriLow || f > kTriHigh ? 0 : (f - kTriLow) * 2;
    if (level >= s.maxLevel) {
        level = s.maxLevel;
        f = 0;
    }
    A = &s.tex->lv[level];
    B = f ? A + 1 : A;
    frac = f;
}

// The rounding multiply of the low four 16-bit lanes, (x * y + 2^14) >> 15,
// as the processor's own instruction for it gives it, in SSE2.
inline __m128i mulhrs4(__m128i x, __m128i y) {
    const __m128i products = _mm_unpacklo_epi16(_mm_mullo_epi16(x, y), _mm_mulhi_epi16(x, y));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(products, _mm_set1_epi32(16384)), 15), _mm_setzero_si128());
}

// Bilinear sample at 16.16 coordinates of level 0: 6 bits of weight across, 8
// down. Channels b, g, r, a scaled by 64 (0..16320) in the low four 16-bit
// lanes.
inline __m128i bilinear(const Lvl& L, uint32_t U, uint32_t V) {
    const uint32_t u = (U >> L.shift) - 32768u, v = (V >> L.shift) - 32768u;  // texel centres
    const uint32_t xa = (u >> 16) & L.wm, ya = (v >> 16) & L.hm;
    const uint32_t* p = L.px + (ya << L.wsh) + ya + xa;
    const short fu = (short)((u >> 10) & 63), fv = (short)(((v >> 8) & 255) << 7);
    const __m128i zero = _mm_setzero_si128();
    // A texel and its right neighbour, then the same one row down.
    const short fl = (short)(64 - fu);
    const __m128i across = _mm_set_epi16(fu, fu, fu, fu, fl, fl, fl, fl);
    __m128i top = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)p), zero), across);
    __m128i bottom = _mm_mullo_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(p + L.stride)), zero), across);
    top = _mm_add_epi16(top, _mm_srli_si128(top, 8));
    bottom = _mm_add_epi16(bottom, _mm_srli_si128(bottom, 8));
    return _mm_add_epi16(top, mulhrs4(_mm_sub_epi16(bottom, top), _mm_set1_epi16(fv)));
}

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

// Pixel by pixel, with SSE2 (or its portable form) for the channels.
template <unsigned F>
void drawSpanPixels(const Setup& st, const Span& r) {
    constexpr bool kT = F & kTex, kZT = F & kZTest, kZW = F & kZWrite, kB = F & kBlend, kD = F & kDecal;
    const __m128i zero = _mm_setzero_si128();
    const __m128 cdx = _mm_loadu_ps(st.cdx);
    // The colour on the 0..256 scale, b g r a; times 4 for modulating texels
    // scaled by 64.
    __m128i c16 = _mm_packs_epi32(_mm_cvtps_epi32(r.col), zero), c64 = _mm_slli_epi16(c16, 2);
    const Lvl* A = nullptr;
    const Lvl* B = nullptr;
    int frac = 0;
    if constexpr (kT) selectLevel(st, r.uT, r.vT, r.w, A, B, frac);
    const __m128i fracW = _mm_set1_epi16((short)(frac << 8));
    for (int j = 0; j < r.n; j++) {
        const float fj = (float)j;
        const float q = r.q + fj * st.qdx;
        const int64_t x = r.x + j;
        if constexpr (kZT) {
            if (!(q > r.zb[x])) continue;
        }
        if (!r.flat) {
            c16 = _mm_packs_epi32(_mm_cvtps_epi32(_mm_add_ps(r.col, _mm_mul_ps(_mm_set1_ps(fj), cdx))), zero);
            c64 = _mm_slli_epi16(c16, 2);
        }
        __m128i px;
        if constexpr (kT) {
            const float s = r.s + fj * st.sdx, t = r.t + fj * st.tdx, w = 1.0f / q;
            const uint32_t U = fixedTexel(s * w), V = fixedTexel(t * w);
            __m128i texel = bilinear(*A, U, V);
            // Alpha test on the filtered coverage of the selected level.
            if (kD && _mm_extract_epi16(texel, 3) < kCoverageHalf * 64) continue;
            if (frac) texel = _mm_add_epi16(texel, mulhrs4(_mm_sub_epi16(bilinear(*B, U, V), texel), fracW));
            px = _mm_mulhi_epu16(texel, c64);
        } else {
            px = c16;
        }
        if constexpr (kB) {
            const __m128i a = _mm_shufflelo_epi16(c16, 0xFF);
            const __m128i inv = _mm_sub_epi16(_mm_set1_epi16(256), a);
            const __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)r.dst[x]), zero);
            px = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(px, a), _mm_mullo_epi16(d, inv)), 8);
        }
        r.dst[x] = (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(px, zero)) & 0x00FFFFFFu;
        if constexpr (kZW) r.zb[x] = q;
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define WIDE __attribute__((target("avx2")))
#else
#define WIDE
#endif

// Sampled texels of eight pixels, as `bilinear` gives them for one: 16-bit
// channels, `a` holding pixels 0, 1 (low half) and 4, 5 (high half), `b`
// pixels 2, 3 and 6, 7. Packing `a` and `b` to bytes gives the pixels in
// order, and each half's weights come from its own half of a register of
// eight: no step crosses the halves.
struct Wide16 {
    __m256i a, b;
};

// Spreads a 16-bit value per pixel (the low half of each 32-bit lane) over
// that pixel's four channels, in the order of Wide16: pixels 0, 1, 4, 5, or
// 2, 3, 6, 7 when `odd`.
WIDE inline __m256i spread(__m256i w, bool odd) {
    const __m256i even = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5,  //
                                          0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5);
    const __m256i other = _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13,  //
                                           8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13);
    return _mm256_shuffle_epi8(w, odd ? other : even);
}

// a + (b - a) * w / 2^15, rounded, per 16-bit lane.
WIDE inline __m256i lerpRounded(__m256i a, __m256i b, __m256i w) {
    return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), w));
}

// The 64 bits at base + at[i], base + at[i + 1], base + at[i + 4] and
// base + at[i + 5]: the pixels of one register of Wide16.
WIDE inline __m256i load4x64(const uint32_t* base, const int32_t* at, int i) {
    int64_t v[4];
    memcpy(&v[0], base + at[i], 8);
    memcpy(&v[1], base + at[i + 1], 8);
    memcpy(&v[2], base + at[i + 4], 8);
    memcpy(&v[3], base + at[i + 5], 8);
    return _mm256_setr_epi64x(v[0], v[1], v[2], v[3]);
}

WIDE inline void bilinear8(Wide16& out, const Lvl& L, __m256i U, __m256i V) {
    const __m128i shift = _mm_cvtsi32_si128(L.shift), rowShift = _mm_cvtsi32_si128(L.wsh);
    const __m256i u = _mm256_sub_epi32(_mm256_srl_epi32(U, shift), _mm256_set1_epi32(32768));
    const __m256i v = _mm256_sub_epi32(_mm256_srl_epi32(V, shift), _mm256_set1_epi32(32768));
    const __m256i xa = _mm256_and_si256(_mm256_srli_epi32(u, 16), _mm256_set1_epi32((int)L.wm));
    const __m256i ya = _mm256_and_si256(_mm256_srli_epi32(v, 16), _mm256_set1_epi32((int)L.hm));
    const __m256i idx = _mm256_add_epi32(_mm256_add_epi32(_mm256_sll_epi32(ya, rowShift), ya), xa);
    // Each 64-bit load brings a texel and its right neighbour; the row below
    // is one stride on.
    const uint32_t* top = L.px;
    const uint32_t* bottom = L.px + L.stride;
    const __m256i pairs = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,  //
                                           0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    // Plain loads rather than gathers: a gather of four is about three times
    // slower on some processors (Zen 3) and no faster on the others.
    alignas(32) int32_t at[8];
    _mm256_store_si256((__m256i*)at, idx);
    const __m256i tA = _mm256_shuffle_epi8(load4x64(top, at, 0), pairs);
    const __m256i tB = _mm256_shuffle_epi8(load4x64(top, at, 2), pairs);
    const __m256i bA = _mm256_shuffle_epi8(load4x64(bottom, at, 0), pairs);
    const __m256i bB = _mm256_shuffle_epi8(load4x64(bottom, at, 2), pairs);
    // Byte weights (64 - fu, fu) across, and fv * 128 down.
    const __m256i fu = _mm256_and_si256(_mm256_srli_epi32(u, 10), _mm256_set1_epi32(63));
    const __m256i across = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(64), fu), _mm256_slli_epi32(fu, 8));
    const __m256i down = _mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(v, 8), _mm256_set1_epi32(255)), 7);
    const __m256i acrossA = spread(across, false), acrossB = spread(across, true);
    const __m256i hA = _mm256_maddubs_epi16(tA, acrossA), hB = _mm256_maddubs_epi16(tB, acrossB);
    const __m256i lA = _mm256_maddubs_epi16(bA, acrossA), lB = _mm256_maddubs_epi16(bB, acrossB);
    out.a = lerpRounded(hA, lA, spread(down, false));
    out.b = lerpRounded(hB, lB, spread(down, true));
}

// fixedTexel for eight coordinates.
WIDE inline __m256i fixedTexel8(__m256 c) {
    c = _mm256_min_ps(c, _mm256_set1_ps(kTexelLimit));
    c = _mm256_max_ps(c, _mm256_set1_ps(-kTexelLimit));
    const __m256 whole = _mm256_floor_ps(c);
    return _mm256_add_epi32(_mm256_slli_epi32(_mm256_cvttps_epi32(whole), 16),
                            _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(c, whole), _mm256_set1_ps(65536.0f))));
}

// What the groups of one span share.
struct WideSpan {
    __m256 q0, s0, t0, qdx, sdx, tdx;
    __m256i c16, alpha, invAlpha, fracW;
    __m256i c64;  // c16 * 4: the high half of a texel (scaled by 64) times it is the lit texel
    const Lvl* A;
    const Lvl* B;
    int frac;
};

// Colour px over d by the span's alpha, per 16-bit channel.
WIDE inline __m256i blend16(__m256i px, __m256i d, const WideSpan& c) {
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(px, c.alpha), _mm256_mullo_epi16(d, c.invAlpha)), 8);
}

// K groups of eight pixels at once, from pixel g of the span on, with AVX2:
// depth test, texture coordinates, gathered texels, filtering, modulation,
// blending and the merge of the pixels that pass, per lane. Each step is taken
// for all K groups before the next, so that their long chains of latency
// (division, gathers) overlap.
template <unsigned F, int K>
WIDE __attribute__((always_inline)) inline void drawGroups(const Span* const r[K], const WideSpan* const c[K],
                                                           const int g[K]) {
    constexpr bool kT = F & kTex, kZT = F & kZTest, kZW = F & kZWrite, kB = F & kBlend, kD = F & kDecal;
    const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i ilane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i valid[K], pass[K], old[K];
    bool whole[K];
    __m256 jf[K], q[K], z[K];
    uint32_t* dst[K];
    float* zb[K];
    Wide16 px[K];
    __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 2
    for (int k = 0; k < K; k++) {
        const int at = g[k];
        valid[k] = _mm256_cmpgt_epi32(_mm256_set1_epi32(r[k]->n - at), ilane);
        // Eight pixels that fit in the row are loaded and stored plainly
        // (a masked store is several times slower on some processors): the
        // pixels past the span are written back as they were, and only this
        // thread draws the row. Near the row's end the accesses are masked.
        whole[k] = r[k]->room - at >= 8;
        dst[k] = r[k]->dst + r[k]->x + at;
        zb[k] = r[k]->zb + r[k]->x + at;
        jf[k] = _mm256_add_ps(_mm256_set1_ps((float)at), lane);
        q[k] = _mm256_add_ps(c[k]->q0, _mm256_mul_ps(jf[k], c[k]->qdx));
        pass[k] = valid[k];
        z[k] = _mm256_setzero_ps();
        if constexpr (kZT || kZW)
            z[k] = whole[k] ? _mm256_loadu_ps(zb[k]) : _mm256_maskload_ps(zb[k], valid[k]);
        if constexpr (kZT)
            pass[k] = _mm256_and_si256(pass[k], _mm256_castps_si256(_mm256_cmp_ps(q[k], z[k], _CMP_GT_OQ)));
        any = _mm256_or_si256(any, pass[k]);
    }
    if (_mm256_testz_si256(any, any)) return;
#pragma GCC unroll 2
    for (int k = 0; k < K; k++)
        old[k] = whole[k] ? _mm256_loadu_si256((const __m256i*)dst[k]) : _mm256_maskload_epi32((const int*)dst[k], valid[k]);
    if constexpr (kT) {
        __m256i U[K], V[K];
        Wide16 texel[K];
#pragma GCC unroll 2
        for (int k = 0; k < K; k++) {
            const __m256 w = _mm256_div_ps(_mm256_set1_ps(1.0f), q[k]);
            U[k] = fixedTexel8(_mm256_mul_ps(_mm256_add_ps(c[k]->s0, _mm256_mul_ps(jf[k], c[k]->sdx)), w));
            V[k] = fixedTexel8(_mm256_mul_ps(_mm256_add_ps(c[k]->t0, _mm256_mul_ps(jf[k], c[k]->tdx)), w));
        }
#pragma GCC unroll 2
        for (int k = 0; k < K; k++) bilinear8(texel[k], *c[k]->A, U[k], V[k]);
        if constexpr (kD) {
            // Coverage of at least half: the sign of each pixel's top byte
            // once the comparison is packed back into pixel order.
            const __m256i half = _mm256_set1_epi16(kCoverageHalf * 64 - 1);
            any = _mm256_setzero_si256();
#pragma GCC unroll 2
            for (int k = 0; k < K; k++) {
                const __m256i coverA = _mm256_cmpgt_epi16(texel[k].a, half);
                const __m256i coverB = _mm256_cmpgt_epi16(texel[k].b, half);
                const __m256i cover = _mm256_packs_epi16(coverA, coverB);
                pass[k] = _mm256_and_si256(pass[k], _mm256_srai_epi32(cover, 31));
                any = _mm256_or_si256(any, pass[k]);
            }
            if (_mm256_testz_si256(any, any)) return;
        }
        bool blend = false;
        for (int k = 0; k < K; k++) blend |= c[k]->frac != 0;
        if (blend) {
            Wide16 other[K];
#pragma GCC unroll 2
            for (int k = 0; k < K; k++) bilinear8(other[k], *c[k]->B, U[k], V[k]);
#pragma GCC unroll 2
            for (int k = 0; k < K; k++) {
                texel[k].a = lerpRounded(texel[k].a, other[k].a, c[k]->fracW);
                texel[k].b = lerpRounded(texel[k].b, other[k].b, c[k]->fracW);
            }
        }
#pragma GCC unroll 2
        for (int k = 0; k < K; k++) {
            px[k].a = _mm256_mulhi_epu16(texel[k].a, c[k]->c64);
            px[k].b = _mm256_mulhi_epu16(texel[k].b, c[k]->c64);
        }
    } else {
#pragma GCC unroll 2
        for (int k = 0; k < K; k++) px[k].a = px[k].b = c[k]->c16;
    }
#pragma GCC unroll 2
    for (int k = 0; k < K; k++) {
        if constexpr (kB) {
            const __m256i dA = _mm256_unpacklo_epi8(old[k], _mm256_setzero_si256());
            const __m256i dB = _mm256_unpackhi_epi8(old[k], _mm256_setzero_si256());
            px[k].a = blend16(px[k].a, dA, *c[k]);
            px[k].b = blend16(px[k].b, dB, *c[k]);
        }
        const __m256i out = _mm256_and_si256(_mm256_packus_epi16(px[k].a, px[k].b), _mm256_set1_epi32(0x00FFFFFF));
        const __m256i colour = _mm256_blendv_epi8(old[k], out, pass[k]);
        if (whole[k])
            _mm256_storeu_si256((__m256i*)dst[k], colour);
        else
            _mm256_maskstore_epi32((int*)dst[k], valid[k], colour);
        if constexpr (kZW) {
            const __m256 depth = _mm256_blendv_ps(z[k], q[k], _mm256_castsi256_ps(pass[k]));
            if (whole[k])
                _mm256_storeu_ps(zb[k], depth);
            else
                _mm256_maskstore_ps(zb[k], valid[k], depth);
        }
    }
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

// Two spans (of neighbouring rows) side by side, a group of each at a time,
// then what remains of the longer one.
template <unsigned F>
WIDE __attribute__((always_inline)) inline void drawSpanPairWide(const Span r[2], const WideSpan c[2]) {
    const Span* const rr[2] = {&r[0], &r[1]};
    const WideSpan* const cc[2] = {&c[0], &c[1]};
    int g = 0;
    for (; g < r[0].n && g < r[1].n; g += 8) {
        const int at[2] = {g, g};
        drawGroups<F, 2>(rr, cc, at);
    }
    if (g < r[0].n) drawSpanWide<F>(r[0], c[0], g);
    if (g < r[1].n) drawSpanWide<F>(r[1], c[1], g);
}

bool wideAvailable() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return true;
#endif
}

// Floor of a / b for b > 0.
inline int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return q - (a % b < 0 ? 1 : 0);
}

// A triangle's edges walked down its rows exactly, without a division per
// row. Each edge keeps the column where it bounds the current row (the first
// inside for a left edge, S > 0; the last for a right edge, S < 0) and the
// edge function there, e, which stays in [0, |S|): a row down, e grows by dV,
// and the column moves by the whole quotient of dV by |S| and at most one
// more. A triangle has one or two left and right edges, padded to two by
// repeating the first (the bound is the same), and at most one level edge
// (S == 0), which only rules rows in or out.
struct EdgeWalk {
    // Left, left, right, right.
    int64_t col[4], e[4], size[4], rem[4], step[4], carry[4];
    int64_t level = 0, levelStep = 0;  // a level edge's function; 0 and 0 when there is none

    explicit EdgeWalk(const Setup& s) {
        int left[2] = {0, 0}, right[2] = {0, 0}, nl = 0, nr = 0;
        for (int k = 0; k < 3; k++) {
            if (s.S[k] > 0)
                left[nl++] = k;
            else if (s.S[k] < 0)
                right[nr++] = k;
            else {
                level = s.V[k];
                levelStep = s.dV[k];
            }
        }
        if (!nl || !nr) {  // no area: set-up culls these; no rows, and no division by 0
            for (int i = 0; i < 4; i++) col[i] = e[i] = rem[i] = step[i] = carry[i] = 0, size[i] = 1;
            level = -1;
            levelStep = 0;
            return;
        }
        const int order[4] = {left[0], left[nl - 1], right[0], right[nr - 1]};
        for (int i = 0; i < 4; i++) {
            const int k = order[i];
            const int64_t v = s.V[k], dV = s.dV[k];
            const bool isLeft = i < 2;
            size[i] = isLeft ? s.S[k] : -s.S[k];
            // The first column x with v + S x >= 0, or the last.
            col[i] = isLeft ? -floorDiv(v, size[i]) : floorDiv(v, size[i]);
            e[i] = v + s.S[k] * col[i];
            const int64_t q = floorDiv(dV, size[i]);
            rem[i] = dV - q * size[i];
            step[i] = isLeft ? -q : q;
            carry[i] = isLeft ? -1 : 1;
        }
    }
    // The current row's columns [xl, xr] within [x0, x1]; false when the row
    // has none. Moves on to the next row.
    __attribute__((always_inline)) bool row(int64_t x0, int64_t x1, int64_t& xl, int64_t& xr) {
        xl = std::max({x0, col[0], col[1]});
        xr = std::min({x1, col[2], col[3]});
        const bool inside = level >= 0;
        for (int i = 0; i < 4; i++) {
            const int64_t next = e[i] + rem[i];
            const int64_t over = -(int64_t)(next >= size[i]);  // all ones when e passes |S|
            e[i] = next - (size[i] & over);
            col[i] += step[i] + (carry[i] & over);
        }
        level += levelStep;
        return inside && xl <= xr;
    }
};

// The same walk with the four edges in one register, for the eight-pixel loop.
struct WideEdgeWalk {
    __m256i col, e, sizeLess1, size, rem, step, carry;
    int64_t level, levelStep;

    WIDE explicit WideEdgeWalk(const EdgeWalk& w) {
        col = _mm256_loadu_si256((const __m256i*)w.col);
        e = _mm256_loadu_si256((const __m256i*)w.e);
        size = _mm256_loadu_si256((const __m256i*)w.size);
        sizeLess1 = _mm256_sub_epi64(size, _mm256_set1_epi64x(1));
        rem = _mm256_loadu_si256((const __m256i*)w.rem);
        step = _mm256_loadu_si256((const __m256i*)w.step);
        carry = _mm256_loadu_si256((const __m256i*)w.carry);
        level = w.level;
        levelStep = w.levelStep;
    }
    WIDE __attribute__((always_inline)) bool row(int64_t x0, int64_t x1, int64_t& xl, int64_t& xr) {
        alignas(32) int64_t c[4];
        _mm256_store_si256((__m256i*)c, col);
        xl = std::max({x0, c[0], c[1]});
        xr = std::min({x1, c[2], c[3]});
        const bool inside = level >= 0;
        const __m256i next = _mm256_add_epi64(e, rem);
        const __m256i over = _mm256_cmpgt_epi64(next, sizeLess1);
        e = _mm256_sub_epi64(next, _mm256_and_si256(size, over));
        col = _mm256_add_epi64(_mm256_add_epi64(col, step), _mm256_and_si256(carry, over));
        level += levelStep;
        return inside && xl <= xr;
    }
};

// The span of row y, columns [xl, xr], and its starting values.
template <unsigned F>
__attribute__((always_inline)) inline void spanAt(const RTarget& t, const Setup& s, int y, int64_t xl, int64_t xr,
                                                  Span& span) {
    const float fx = (float)xl, fy = (float)y;
    span.dst = t.color + (size_t)y * t.pitch;
    span.zb = t.depth + (size_t)y * t.dpitch;
    span.x = xl;
    span.n = (int)(xr - xl + 1);
    span.room = (int)(((F & (kZTest | kZWrite)) ? std::min(t.pitch, t.dpitch) : t.pitch) - xl);
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

template <unsigned F>
void drawRowsPixels(const RTarget& t, const Setup& s) {
    EdgeWalk edges(s);
    Span span;
    firstSpan(s, span);
    for (int y = s.yStart; y <= s.yEnd; y++) {
        int64_t xl, xr;
        if (!edges.row(s.x0, s.x1, xl, xr)) continue;
        spanAt<F>(t, s, y, xl, xr, span);
        drawSpanPixels<F>(s, span);
    }
}

// The same rows with the eight-pixel loop; flat colour only.
template <unsigned F>
WIDE void drawRowsWide(const RTarget& t, const Setup& s) {
    WideEdgeWalk edges{EdgeWalk(s)};
    Span span[2];
    WideSpan c[2];
    firstSpan(s, span[0]);
    span[1] = span[0];
    prepareWideTriangle(s, span[0], c[0]);
    c[1] = c[0];
    // Rows two at a time: short spans pair up across rows.
    for (int y = s.yStart; y <= s.yEnd; y += 2) {
        int64_t xl[2], xr[2];
        const bool first = edges.row(s.x0, s.x1, xl[0], xr[0]);
        const bool second = y + 1 <= s.yEnd && edges.row(s.x0, s.x1, xl[1], xr[1]);
        if (first) {
            spanAt<F>(t, s, y, xl[0], xr[0], span[0]);
            prepareWide<F>(s, span[0], c[0]);
        }
        if (second) {
            spanAt<F>(t, s, y + 1, xl[1], xr[1], span[1]);
            prepareWide<F>(s, span[1], c[1]);
        }
        if (first && second)
            drawSpanPairWide<F>(span, c);
        else if (first)
            drawSpanWide<F>(span[0], c[0], 0);
        else if (second)
            drawSpanWide<F>(span[1], c[1], 0);
    }
}

// The eight-pixel loop is used by default on x86-64 with AVX2, and in
// WebAssembly, where it measured three times as fast as the one-pixel loop.
// Elsewhere it is built (and draws the same picture) but off by default:
// through SIMD Everywhere under emulation it measured slower than the
// one-pixel loop.
#if defined(__x86_64__) || defined(__i386__) || defined(__EMSCRIPTEN__)
std::atomic<bool> g_wide{wideAvailable()};
#else
std::atomic<bool> g_wide{false};
#endif

template <unsigned F>
void drawRows(const RTarget& t, const Setup& s) {
    if (flatColour(s) && g_wide.load(std::memory_order_relaxed)) return drawRowsWide<F>(t, s);
    drawRowsPixels<F>(t, s);
}

using RowFn = void (*)(const RTarget&, const Setup&);

template <unsigned... I>
constexpr auto makeTable(std::integer_sequence<unsigned, I...>) {
    return std::array<RowFn, sizeof...(I)>{&drawRows<I>...};
}

}  // namespace

bool rasterUseWide(bool on) {
    g_wide = on && wideAvailable();
    return g_wide;
}

bool rasterWide() { return g_wide; }

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
    // Rows whose centre (y * 16 + 8) lies within [minY, maxY].
    s.yStart = (int)std::max<int64_t>(-((8 - minY) >> 4), t.y0);
    s.yEnd = (int)std::min<int64_t>((maxY - 8) >> 4, t.y1 - 1);
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
        // Coordinates in texels of level 0.
        float du = std::floor(std::min({a.u, b.u, c.u})), dv = std::floor(std::min({a.v, b.v, c.v}));
        const float W0 = (float)tex->lv[0].w, H0 = (float)tex->lv[0].h;
        plane((a.u - du) * W0 * a.q, (b.u - du) * W0 * b.q, (c.u - du) * W0 * c.q, s.s0, s.sdx, s.sdy);
        plane((a.v - dv) * H0 * a.q, (b.v - dv) * H0 * b.q, (c.v - dv) * H0 * c.q, s.t0, s.tdx, s.tdy);
        s.tex = tex;
        s.maxLevel = tex->levels - 1;
    } else {
        s.s0 = s.sdx = s.sdy = s.t0 = s.tdx = s.tdy = 0.0f;
        s.tex = nullptr;
        s.maxLevel = 0;
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
    s.flags = flags & 31;
    return true;
}

void rasterRows(const RTarget& t, const RasterSetup& s, int y0, int y1) {
    static const auto table = makeTable(std::make_integer_sequence<unsigned, 32>{});
    if (s.yStart > s.yEnd) return;  // culled, or nothing inside the clip rectangle
    if (y0 <= s.yStart && y1 > s.yEnd) return table[s.flags](t, s);
    RasterSetup part = s;
    part.yStart = std::max(s.yStart, y0);
    part.yEnd = std::min(s.yEnd, y1 - 1);
    if (part.yStart > part.yEnd) return;
    // The edge functions stepped down to the first row drawn: exact integers.
    for (int e = 0; e < 3; e++) part.V[e] = s.V[e] + s.dV[e] * (part.yStart - s.yStart);
    table[s.flags](t, part);
}

bool rasterTriangle(const RTarget& t, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                    unsigned flags) {
    RasterSetup s;
    if (!rasterSetup(t, a, b, c, tex, flags, s)) return false;
    if (s.yStart <= s.yEnd) rasterRows(t, s, s.yStart, s.yEnd + 1);
    return true;
}

}  // namespace rm
