// The scan effect against a plain copy of the same bytes, and the 64-byte
// block copy against memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"

static void ScanEffect(benchmark::State& state) {
    static uint32_t source[640 * 480];
    for (int i = 0; i < 640 * 480; i++) {
        source[i] = (uint32_t)i * 2654435761u;
        g_waveMap[i] = (uint8_t)((i * 37) ^ (i >> 9));
    }
    g_scanLevel = 0, g_scanDir = 1;
    for (auto _ : state) {
        scanEffect(source);
        benchmark::DoNotOptimize(g_screenPicture);
    }
    state.SetBytesProcessed(state.iterations() * (640 * 480 * 9));
}
BENCHMARK(ScanEffect);

// The same traffic as one scan pass: read the map and the picture, write the picture.
static void PlainCopyOfTheSameBytes(benchmark::State& state) {
    static uint32_t source[640 * 480], dest[640 * 480];
    static uint8_t map[640 * 480], mapCopy[640 * 480];
    for (auto _ : state) {
        memcpy(dest, source, sizeof dest);
        memcpy(mapCopy, map, sizeof map);
        benchmark::DoNotOptimize(dest);
        benchmark::DoNotOptimize(mapCopy);
    }
    state.SetBytesProcessed(state.iterations() * (640 * 480 * 9));
}
BENCHMARK(PlainCopyOfTheSameBytes);

static void CopyBlocks64(benchmark::State& state) {
    std::vector<uint8_t> a(1228800, 1), b(1228800);
    for (auto _ : state) {
        copyBlocks64(b.data(), a.data(), 1228800);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(state.iterations() * 1228800);
}
BENCHMARK(CopyBlocks64);

static void Memcpy(benchmark::State& state) {
    std::vector<uint8_t> a(1228800, 1), b(1228800);
    for (auto _ : state) {
        memcpy(b.data(), a.data(), 1228800);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(state.iterations() * 1228800);
}
BENCHMARK(Memcpy);

BENCHMARK_MAIN();
