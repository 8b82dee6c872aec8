// All loading work of the show except the loader's five-second wait: the
// loading screen (three pictures, the quads and their builder) and every
// loader step (8 meshes, 13 pictures, the two screen-picture conversions, the
// wave map, the object and animation builders). The assets are generated into
// a scratch DATA folder: detailed pictures of the show's sizes and meshes of
// 1,936 vertices and 3,698 triangles each (near the face table's capacity).
// The retained-mode layer is the recording stand-in of the tests, so this
// times our readers and builders, not a renderer.
#include <benchmark/benchmark.h>

#include "assets/assets.h"
#include "tests/asset_files.h"
#include "tests/recording_rm.h"

namespace {

assetfiles::ScratchDir& scratch() {
    static assetfiles::ScratchDir* dir = [] {
        auto* d = new assetfiles::ScratchDir;
        assetfiles::ShowAssets assets;
        assets.vertices = 1936;
        assets.detailed = true;
        assets.knotBound = assets.blinBound = assets.boxBound = 200;
        assetfiles::writeShowAssets(*d, assets);
        return d;
    }();
    return *dir;
}

void BM_AllLoadingWork(benchmark::State& state) {
    scratch();
    for (auto _ : state) {
        state.PauseTiming();
        fake::installScene();
        fake::g_logging = false;
        state.ResumeTiming();
        buildLoadingScreen();
        loadAllAssets();
        benchmark::DoNotOptimize(g_waveMap[307199]);
    }
}
BENCHMARK(BM_AllLoadingWork)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_OneMesh(benchmark::State& state) {
    scratch();
    for (auto _ : state) {
        loadMesh("DATA\\knot.3d", 1, 1);
        benchmark::DoNotOptimize(g_meshFaceData[0]);
    }
}
BENCHMARK(BM_OneMesh)->Unit(benchmark::kMicrosecond);

void BM_OneTexture256(benchmark::State& state) {
    scratch();
    for (auto _ : state) loadJpegTexture("DATA\\text2.jpg", imageText2.buffer1, 0);
}
BENCHMARK(BM_OneTexture256)->Unit(benchmark::kMicrosecond);

void BM_ScreenPicture(benchmark::State& state) {
    scratch();
    std::vector<uint8_t> rgb(921600);
    for (auto _ : state) {
        loadJpegTexture("DATA\\scream.jpg", rgb.data(), 1);
        convertScreenPicture(rgb.data(), g_screamPicture);
    }
}
BENCHMARK(BM_ScreenPicture)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
