// Triangles drawn row by row: spans found per row from the three edges, and
// the pixels of each span drawn eight at a time with AVX2 where the processor
// has it (through SIMD Everywhere elsewhere, on wasm SIMD in WebAssembly), one
// at a time with SSE2 otherwise.
// Texture coordinates are divided by depth exactly at every pixel; the mip
// level is chosen once per span.
#include <array>
#include <atomic>
#include <utility>

#include "platform/rm/raster_edges.h"
#include "platform/rm/raster_internal.h"
#include "platform/rm/raster_wide.h"

namespace rm {
namespace raster {
namespace {

bool wideAvailable() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return true;
#endif
}

bool wideRegistersAvailable() {
#if WIDE_REGISTERS_BUILT
    static const bool available = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                                  __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    return available;
#else
    return false;
#endif
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

// The same rows with the eight-pixel loop; flat colour only. kPairs: see
// drawSpanPairWide.
template <unsigned F, int kPairs>
WIDE_STEP void rowsWide(const RTarget& t, const Setup& s) {
    WideEdgeWalk edges{EdgeWalk(s)};
    Span span[2];
    WideSpan c[2];
    firstSpan(s, span[0]);
    span[1] = span[0];
    prepareWideTriangle(s, span[0], c[0]);
    prepareWideTriangle(s, span[0], c[1]);  // cheaper than copying c[0]
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
            drawSpanPairWide<F, kPairs>(span, c);
        else if (first)
            drawSpanWide<F>(span[0], c[0], 0);
        else if (second)
            drawSpanWide<F>(span[1], c[1], 0);
    }
}

template <unsigned F>
WIDE void drawRowsWide(const RTarget& t, const Setup& s) {
    rowsWide<F, 1>(t, s);
}

template <unsigned F>
WIDE_REGISTERS void drawRowsWideRegisters(const RTarget& t, const Setup& s) {
    if constexpr (WIDE_REGISTERS_BUILT) rowsWide<F, 2>(t, s);
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

const bool g_wideRegisters = wideRegistersAvailable();

template <unsigned F>
void drawRows(const RTarget& t, const Setup& s) {
    if (flatColour(s) && g_wide.load(std::memory_order_relaxed))
        return g_wideRegisters ? drawRowsWideRegisters<F>(t, s) : drawRowsWide<F>(t, s);
    drawRowsPixels<F>(t, s);
}

using RowFn = void (*)(const RTarget&, const Setup&);

template <unsigned... I>
constexpr auto makeTable(std::integer_sequence<unsigned, I...>) {
    return std::array<RowFn, sizeof...(I)>{&drawRows<I>...};
}

}  // namespace

void drawSetUpRows(const RTarget& t, const RasterSetup& s) {
    static const auto table = makeTable(std::make_integer_sequence<unsigned, 32>{});
    if (t.samples > 1) return drawSampledRows(t, s);
    table[s.flags](t, s);
}

}  // namespace raster

using raster::g_wide;
using raster::wideAvailable;

bool rasterUseWide(bool on) {
    g_wide = on && wideAvailable();
    return g_wide;
}

bool rasterWide() { return g_wide; }


}  // namespace rm
