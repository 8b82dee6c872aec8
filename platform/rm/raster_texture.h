// Texture sampling for the pixel loops: texel coordinates in fixed point, the
// mip level of a span, and bilinear samples of one pixel (SSE2) and of eight
// (AVX2), which give the same values.
#pragma once
#include <cstdint>
#include <cstring>

#include "platform/rm/raster.h"
#include "platform/rm/raster_simd.h"

namespace rm::raster {

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
    const uint32_t* p = L.px + 2 * ((ya << L.wsh) + ya + xa);
    const short fu = (short)((u >> 10) & 63), fv = (short)(((v >> 8) & 255) << 7);
    const __m128i zero = _mm_setzero_si128();
    // The texel and its right neighbour, then the same one row down.
    const __m128i four = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)p), _MM_SHUFFLE(3, 1, 2, 0));
    const short fl = (short)(64 - fu);
    const __m128i across = _mm_set_epi16(fu, fu, fu, fu, fl, fl, fl, fl);
    __m128i top = _mm_mullo_epi16(_mm_unpacklo_epi8(four, zero), across);
    __m128i bottom = _mm_mullo_epi16(_mm_unpackhi_epi8(four, zero), across);
    top = _mm_add_epi16(top, _mm_srli_si128(top, 8));
    bottom = _mm_add_epi16(bottom, _mm_srli_si128(bottom, 8));
    return _mm_add_epi16(top, mulhrs4(_mm_sub_epi16(bottom, top), _mm_set1_epi16(fv)));
}

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

// The four texels of pixel i's sample (at its pair) in the low half, pixel
// i + 4's in the high half.
// The indices are unsigned, so that taking one out of the register needs no
// sign extension.
WIDE inline __m256i load2x128(const uint32_t* base, const uint32_t* at, int i) {
    const __m128i low = _mm_loadu_si128((const __m128i*)(base + 2 * (size_t)at[i]));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), _mm_loadu_si128((const __m128i*)(base + 2 * (size_t)at[i + 4])), 1);
}

WIDE __attribute__((always_inline)) inline void bilinear8(Wide16& out, const Lvl& L, __m256i U, __m256i V) {
    const __m128i shift = _mm_cvtsi32_si128(L.shift), rowShift = _mm_cvtsi32_si128(L.wsh);
    const __m256i u = _mm256_sub_epi32(_mm256_srl_epi32(U, shift), _mm256_set1_epi32(32768));
    const __m256i v = _mm256_sub_epi32(_mm256_srl_epi32(V, shift), _mm256_set1_epi32(32768));
    const __m256i xa = _mm256_and_si256(_mm256_srli_epi32(u, 16), _mm256_set1_epi32((int)L.wm));
    const __m256i ya = _mm256_and_si256(_mm256_srli_epi32(v, 16), _mm256_set1_epi32((int)L.hm));
    const __m256i idx = _mm256_add_epi32(_mm256_add_epi32(_mm256_sll_epi32(ya, rowShift), ya), xa);
    // One 16-byte load a pixel brings its four texels, reordered to the top
    // two channel by channel, then the bottom two.
    // Plain loads rather than gathers: a gather is about three times slower
    // on some processors (Zen 3) and no faster on the others.
    alignas(32) uint32_t at[8];
    _mm256_store_si256((__m256i*)at, idx);
    const __m256i order = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,  //
                                           0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    // Byte weights (64 - fu, fu) across, twice in each pixel's 32 bits, and
    // fv * 128 down.
    const __m256i fu = _mm256_and_si256(_mm256_srli_epi32(u, 10), _mm256_set1_epi32(63));
    const __m256i across = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(64), fu), _mm256_slli_epi32(fu, 8));
    const __m256i across2 = _mm256_or_si256(across, _mm256_slli_epi32(across, 16));
    const __m256i down = _mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(v, 8), _mm256_set1_epi32(255)), 7);
    // Pixel k and k + 4 filtered across: their top then bottom channels.
    const __m256i m0 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(load2x128(L.px, at, 0), order), _mm256_shuffle_epi32(across2, 0x00));
    const __m256i m1 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(load2x128(L.px, at, 1), order), _mm256_shuffle_epi32(across2, 0x55));
    const __m256i m2 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(load2x128(L.px, at, 2), order), _mm256_shuffle_epi32(across2, 0xAA));
    const __m256i m3 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(load2x128(L.px, at, 3), order), _mm256_shuffle_epi32(across2, 0xFF));
    out.a = lerpRounded(_mm256_unpacklo_epi64(m0, m1), _mm256_unpackhi_epi64(m0, m1), spread(down, false));
    out.b = lerpRounded(_mm256_unpacklo_epi64(m2, m3), _mm256_unpackhi_epi64(m2, m3), spread(down, true));
}

// fixedTexel for eight coordinates from 0 to 2 * kNearTexels: then c - floor(c)
// and c * 2^16 are exact and the latter fits the word, so that its floor is
// the same fixed-point value.
WIDE inline __m256i nearTexel8(__m256 c) {
    return _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(c, _mm256_set1_ps(65536.0f))));
}

// fixedTexel for eight coordinates.
WIDE inline __m256i fixedTexel8(__m256 c) {
    c = _mm256_min_ps(c, _mm256_set1_ps(kTexelLimit));
    c = _mm256_max_ps(c, _mm256_set1_ps(-kTexelLimit));
    const __m256 whole = _mm256_floor_ps(c);
    return _mm256_add_epi32(_mm256_slli_epi32(_mm256_cvttps_epi32(whole), 16),
                            _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(c, whole), _mm256_set1_ps(65536.0f))));
}

}  // namespace rm::raster
