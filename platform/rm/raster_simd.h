// The rasterizer's SIMD: the processor's own SSE and AVX2 on x86-64, wasm SIMD
// through emscripten's SSE headers in WebAssembly, and SIMD Everywhere's
// portable versions elsewhere (NEON on ARM). WIDE marks the functions of the
// eight-pixel loop, built for AVX2 on x86-64 whatever the rest of the program
// is built for.
#pragma once

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

#if defined(__x86_64__) || defined(__i386__)
#define WIDE __attribute__((target("avx2")))
// The same eight-lane code built where AVX-512 is there: the same
// instructions' results, with twice the registers (fewer spills).
#define WIDE_REGISTERS __attribute__((target("avx2,avx512f,avx512vl,avx512bw,avx512dq")))
#define WIDE_REGISTERS_BUILT 1
#else
#define WIDE
#define WIDE_REGISTERS
#define WIDE_REGISTERS_BUILT 0
#endif
