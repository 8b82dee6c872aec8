// Smooth edges from coverage samples: each pixel of a sampled target holds
// kSamples colours and depths, one a sample, in planes side by side in its
// row. A triangle is shaded once a pixel, at the pixel's centre, and that
// colour goes to each sample the triangle covers and that passes its own
// depth test; a decal, whose edges are its texture's, is shaded at each
// sample. Bands of rows are then resolved to the mean of their samples.
// Both pixel loops draw the same samples bit for bit, as at one sample.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/rm/raster_edges.h"
#include "platform/rm/raster_internal.h"
#include "platform/rm/raster_wide.h"

namespace rm::raster {
namespace {

// The set-up as sample k sees it: its edge functions and attribute planes
// moved by the sample's offset (exact for the edges, whose steps are whole
// multiples of 16).
Setup atSample(const Setup& s, int k) {
    Setup p = s;
    const int ox = kSampleOffset[k][0], oy = kSampleOffset[k][1];
    for (int e = 0; e < 3; e++) p.V[e] += s.S[e] / 16 * ox + s.dV[e] / 16 * oy;
    const float fx = (float)ox / 16.0f, fy = (float)oy / 16.0f;
    p.q0 = s.q0 + s.qdx * fx + s.qdy * fy;
    p.s0 = s.s0 + s.sdx * fx + s.sdy * fy;
    p.t0 = s.t0 + s.tdx * fx + s.tdy * fy;
    for (int c = 0; c < 4; c++) p.c0[c] = s.c0[c] + s.cdx[c] * fx + s.cdy[c] * fy;
    return p;
}

// Sample plane k of a sampled target, as a target of one sample a pixel.
RTarget planeOf(const RTarget& t, int k) {
    RTarget p = t;
    p.color = t.color + (size_t)k * t.plane;
    if (t.depth) p.depth = t.depth + (size_t)k * t.plane;
    p.samples = 1;
    p.plane = 0;
    return p;
}

// The offsets of a triangle's Moved table by attribute: 16 entries each.
struct Moves {
    alignas(32) float q[1 << kSamples], s[1 << kSamples], t[1 << kSamples];
};

// A row's samples: for each, the pixels it covers as offsets [lo, hi] from
// the start of the row's span (empty when lo > hi) and its depth at that
// start; the span is every pixel with a covered sample. A pixel some of
// whose samples lie outside the triangle is shaded at the middle of those
// inside, `moved` from its centre (moved[mask of the samples inside]), not
// at its centre: texture coordinates taken beyond the triangle's edge would
// show texels from elsewhere in the texture along it, and the middle of the
// samples inside gives what their mean would be for a linear shade.
struct SampleSpan {
    int lo[kSamples], hi[kSamples];
    float q[kSamples];
    int plane;
    const Moved* moved;
    const Moves* moves;  // the same, by attribute, for the eight-pixel loop
};

// The edges walked down the rows once for each sample.
struct SampleRows {
    std::array<EdgeWalk, kSamples> walk;
    float q0[kSamples];
    Moved moved[1 << kSamples];
    Moves moves;

    // The set-up as each sample sees it, made once for the walks and depths.
    template <size_t... K>
    static std::array<Setup, kSamples> samplesOf(const Setup& s, std::index_sequence<K...>) {
        return {atSample(s, (int)K)...};
    }
    template <size_t... K>
    SampleRows(const Setup& s, const std::array<Setup, kSamples>& at, std::index_sequence<K...>)
        : walk{EdgeWalk(at[K])...} {
        for (int k = 0; k < kSamples; k++) q0[k] = at[k].q0;
        for (unsigned mask = 0; mask < (1u << kSamples); mask++) {
            int sx = 0, sy = 0, n = 0;
            for (int k = 0; k < kSamples; k++)
                if (mask >> k & 1) sx += kSampleOffset[k][0], sy += kSampleOffset[k][1], n++;
            const float fx = n ? (float)sx / (16.0f * (float)n) : 0.0f, fy = n ? (float)sy / (16.0f * (float)n) : 0.0f;
            Moved& m = moved[mask];
            m.q = s.qdx * fx + s.qdy * fy;
            m.s = s.sdx * fx + s.sdy * fy;
            m.t = s.tdx * fx + s.tdy * fy;
            for (int c = 0; c < 4; c++) m.c[c] = s.cdx[c] * fx + s.cdy[c] * fy;
            moves.q[mask] = m.q, moves.s[mask] = m.s, moves.t[mask] = m.t;
        }
    }
    explicit SampleRows(const Setup& s)
        : SampleRows(s, samplesOf(s, std::make_index_sequence<kSamples>{}), std::make_index_sequence<kSamples>{}) {}

    // The current row's span [xl, xr] and its samples; false when no sample
    // of the row is covered. Moves on to the next row.
    __attribute__((always_inline)) bool row(const Setup& s, int y, int64_t& xl, int64_t& xr, SampleSpan& ss) {
        int64_t from[kSamples], to[kSamples];
        bool any = false;
        xl = s.x1 + 1;
        xr = s.x0 - 1;
        for (int k = 0; k < kSamples; k++) {
            if (!walk[k].row(s.x0, s.x1, from[k], to[k])) {
                from[k] = s.x1 + 1, to[k] = s.x0 - 1;
                continue;
            }
            any = true;
            xl = std::min(xl, from[k]);
            xr = std::max(xr, to[k]);
        }
        if (!any) return false;
        const float fx = (float)xl, fy = (float)y;
        for (int k = 0; k < kSamples; k++) {
            ss.lo[k] = (int)(from[k] - xl);
            ss.hi[k] = (int)(to[k] - xl);
            ss.q[k] = q0[k] + s.qdx * fx + s.qdy * fy;
        }
        return true;
    }
};

// Pixel by pixel: the samples of pixel j that pass, then the pixel shaded
// once for them.
template <unsigned F>
void drawSamplesPixels(const Setup& st, const Span& r, const SampleSpan& ss) {
    PixelShader<F> shader(st, r);
    for (int j = 0; j < r.n; j++) {
        const float fj = (float)j;
        const int64_t x = r.x + j;
        float q[kSamples] = {};
        unsigned inside = 0, pass = 0;
        for (int k = 0; k < kSamples; k++) {
            if (j < ss.lo[k] || j > ss.hi[k]) continue;
            inside |= 1u << k;
            q[k] = ss.q[k] + fj * st.qdx;
            if (!(F & kZTest) || q[k] > r.zb[x + (size_t)k * ss.plane]) pass |= 1u << k;
        }
        if (!pass) continue;
        __m128i px;
        const float centre = r.q + fj * st.qdx;
        if (inside == (1u << kSamples) - 1) {
            if (!shader.shade(j, centre, px)) continue;
        } else {
            const Moved& m = ss.moved[inside];
            if (!shader.shade(j, centre + m.q, px, &m)) continue;
        }
        for (int k = 0; k < kSamples; k++) {
            if (!(pass >> k & 1)) continue;
            shader.store(px, &r.dst[x + (size_t)k * ss.plane]);
            if constexpr ((bool)(F & kZWrite)) r.zb[x + (size_t)k * ss.plane] = q[k];
        }
    }
}

// Entry `mask` (0..15, a lane's) of a table of 16 values, for each lane.
WIDE_STEP __m256 lookUp16(const float* table, __m256i mask) {
    const __m256 a = _mm256_permutevar8x32_ps(_mm256_load_ps(table), mask);
    const __m256 b = _mm256_permutevar8x32_ps(_mm256_load_ps(table + 8), mask);
    return _mm256_blendv_ps(a, b, _mm256_castsi256_ps(_mm256_slli_epi32(mask, 28)));
}

// Eight pixels from pixel `at` of the span: each sample's coverage and depth
// test, one shading of the pixels at their centres, and each sample's plane
// written where it passes.
template <unsigned F>
WIDE_STEP void drawSamplesGroup(const Span& r, const WideSpan& c, const SampleSpan& ss, int at) {
    constexpr bool kZT = F & kZTest, kZW = F & kZWrite;
    const __m256 lane = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i ilane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(r.n - at), ilane);
    const __m256i j = _mm256_add_epi32(_mm256_set1_epi32(at), ilane);
    // As in the one-sample loop, eight pixels that fit in the row are loaded
    // and stored plainly, the others masked.
    const bool whole = r.room - at >= 8;
    uint32_t* const dst = r.dst + r.x + at;
    float* const zb = r.zb + r.x + at;
    Groups<1> G;
    G.jf[0] = _mm256_add_ps(_mm256_set1_ps((float)at), lane);
    G.q[0] = _mm256_add_ps(c.q0, _mm256_mul_ps(G.jf[0], c.qdx));
    __m256i pass[kSamples], inside[kSamples];
    __m256 q[kSamples], z[kSamples];
    __m256i any = _mm256_setzero_si256();
    for (int k = 0; k < kSamples; k++) {
        inside[k] = _mm256_and_si256(_mm256_cmpgt_epi32(j, _mm256_set1_epi32(ss.lo[k] - 1)),
                                     _mm256_cmpgt_epi32(_mm256_set1_epi32(ss.hi[k] + 1), j));
        pass[k] = inside[k];
        q[k] = _mm256_add_ps(_mm256_set1_ps(ss.q[k]), _mm256_mul_ps(G.jf[0], c.qdx));
        z[k] = _mm256_setzero_ps();
        if (_mm256_testz_si256(inside[k], inside[k])) continue;
        float* const at_k = zb + (size_t)k * ss.plane;
        if constexpr (kZT || kZW) z[k] = whole ? _mm256_loadu_ps(at_k) : _mm256_maskload_ps(at_k, valid);
        if constexpr (kZT)
            pass[k] = _mm256_and_si256(pass[k], _mm256_castps_si256(_mm256_cmp_ps(q[k], z[k], _CMP_GT_OQ)));
        any = _mm256_or_si256(any, pass[k]);
    }
    if (_mm256_testz_si256(any, any)) return;
    const WideSpan* const cc[1] = {&c};
    // Pixels with samples outside: shaded at their first sample inside.
    __m256i all = inside[0];
    for (int k = 1; k < kSamples; k++) all = _mm256_and_si256(all, inside[k]);
    if (_mm256_testc_si256(all, valid)) {
        shadeGroups<F & ~kDecal, 1>(cc, G);
    } else {
        // Each lane's mask of samples inside, and the table's entries for it.
        __m256i mask = _mm256_setzero_si256();
        for (int k = 0; k < kSamples; k++)
            mask = _mm256_or_si256(mask, _mm256_and_si256(inside[k], _mm256_set1_epi32(1 << k)));
        const __m256 dq = lookUp16(ss.moves->q, mask);
        G.ds[0] = lookUp16(ss.moves->s, mask);
        G.dt[0] = lookUp16(ss.moves->t, mask);
        const __m256 moved = _mm256_castsi256_ps(_mm256_andnot_si256(all, valid));
        G.q[0] = _mm256_blendv_ps(G.q[0], _mm256_add_ps(G.q[0], dq), moved);
        shadeGroups<F & ~kDecal, 1, true>(cc, G);
    }
    for (int k = 0; k < kSamples; k++) {
        if (_mm256_testz_si256(pass[k], pass[k])) continue;
        uint32_t* const to = dst + (size_t)k * ss.plane;
        const __m256i old = whole ? _mm256_loadu_si256((const __m256i*)to) : _mm256_maskload_epi32((const int*)to, valid);
        const __m256i colour = _mm256_blendv_epi8(old, finalColour<F>(G.px[0], old, c), pass[k]);
        if (whole)
            _mm256_storeu_si256((__m256i*)to, colour);
        else
            _mm256_maskstore_epi32((int*)to, valid, colour);
        if constexpr (kZW) {
            float* const at_k = zb + (size_t)k * ss.plane;
            const __m256 depth = _mm256_blendv_ps(z[k], q[k], _mm256_castsi256_ps(pass[k]));
            if (whole)
                _mm256_storeu_ps(at_k, depth);
            else
                _mm256_maskstore_ps(at_k, valid, depth);
        }
    }
}

// Each row's span and samples, handed to draw(span, ss).
template <unsigned F, class Draw>
__attribute__((always_inline)) inline void forEachSampleSpan(const RTarget& t, const Setup& s, Span& span,
                                                             Draw&& draw) {
    SampleRows rows(s);
    SampleSpan ss;
    ss.plane = t.plane;
    ss.moved = rows.moved;
    ss.moves = &rows.moves;
    for (int y = s.yStart; y <= s.yEnd; y++) {
        int64_t xl, xr;
        if (!rows.row(s, y, xl, xr, ss)) continue;
        spanAt<F>(t, s, y, xl, xr, span);
        draw(span, ss);
    }
}

template <unsigned F>
void drawSampleRowsPixels(const RTarget& t, const Setup& s) {
    Span span;
    firstSpan(s, span);
    forEachSampleSpan<F>(t, s, span, [&](const Span& r, const SampleSpan& ss) { drawSamplesPixels<F>(s, r, ss); });
}

// The same rows with the eight-pixel loop; flat colour only.
template <unsigned F>
WIDE void drawSampleRowsWide(const RTarget& t, const Setup& s) {
    Span span;
    WideSpan c;
    firstSpan(s, span);
    prepareWideTriangle(s, span, c);
    forEachSampleSpan<F>(t, s, span, [&](const Span& r, const SampleSpan& ss) WIDE {
        prepareWide<F>(s, r, c);
        for (int g = 0; g < r.n; g += 8) drawSamplesGroup<F>(r, c, ss, g);
    });
}

template <unsigned F>
void drawSampleRows(const RTarget& t, const Setup& s) {
    if constexpr ((bool)(F & kDecal)) {
        // Shaded at every sample: each plane drawn as a picture of its own,
        // at the sample's offset.
        for (int k = 0; k < kSamples; k++) drawSetUpRows(planeOf(t, k), atSample(s, k));
    } else {
        if (flatColour(s) && rasterWide()) return drawSampleRowsWide<F>(t, s);
        drawSampleRowsPixels<F>(t, s);
    }
}

using RowFn = void (*)(const RTarget&, const Setup&);

template <unsigned... I>
constexpr auto makeTable(std::integer_sequence<unsigned, I...>) {
    return std::array<RowFn, sizeof...(I)>{&drawSampleRows<I>...};
}

// Pixels [x, n) of a resolved row, one at a time: red and blue, then green,
// two channels a step without overlap.
void resolvePixels(const uint32_t* from, int plane, uint32_t* to, int x, int n) {
    for (; x < n; x++) {
        uint32_t rb = 0x20002, g = 0x200;
        for (int k = 0; k < kSamples; k++) {
            const uint32_t p = from[x + (size_t)k * plane];
            rb += p & 0xFF00FF;
            g += p & 0xFF00;
        }
        to[x] = (rb >> 2 & 0xFF00FF) | (g >> 2 & 0xFF00);
    }
}

// Eight pixels at a time; returns how many were resolved.
WIDE int resolveWide(const uint32_t* from, int plane, uint32_t* to, int n) {
    const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2);
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m256i lo = two, hi = two;
        for (int k = 0; k < kSamples; k++) {
            const __m256i p = _mm256_loadu_si256((const __m256i*)(from + x + (size_t)k * plane));
            lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(p, zero));
            hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(p, zero));
        }
        const __m256i mean = _mm256_packus_epi16(_mm256_srli_epi16(lo, 2), _mm256_srli_epi16(hi, 2));
        _mm256_storeu_si256((__m256i*)(to + x), _mm256_and_si256(mean, _mm256_set1_epi32(0x00FFFFFF)));
    }
    return x;
}

}  // namespace

void drawSampledRows(const RTarget& t, const RasterSetup& s) {
    static const auto table = makeTable(std::make_integer_sequence<unsigned, 32>{});
    table[s.flags](t, s);
}

}  // namespace rm::raster

namespace rm {

static_assert(kSamples == 4, "the resolve divides by four");

void resolveRows(const RTarget& t, uint32_t* out, int outPitch, int y0, int y1) {
    const int n = t.across;
    for (int y = y0; y < y1; y++) {
        const uint32_t* from = t.color + (size_t)y * t.pitch;
        uint32_t* to = out + (size_t)y * outPitch;
        const int done = rasterWide() ? raster::resolveWide(from, t.plane, to, n) : 0;
        raster::resolvePixels(from, t.plane, to, done, n);
    }
}

}  // namespace rm
