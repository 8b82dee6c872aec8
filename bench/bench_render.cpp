// A full 3D pass at 640 x 480 on the renderer's workers, one a core unless
// VELKOR_THREADS says otherwise (colour fill, viewport clear, render, device
// update, flip), and on one core, for a reference scene of about 5,000 textured,
// lit triangles with translucent layers, and the picture copy by memcpy for
// reference.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bench/reference_scene.h"
#include "platform/ddraw/ddraw.h"
#include "platform/rm/raster.h"
#include "platform/rm/rm.h"
#include "platform/rm/workers.h"
#include "platform/virtual/vclock.h"
#include "platform/virtual/virtual.h"

namespace {

using refscene::ReferenceScene;

ReferenceScene& scene() {
    static ReferenceScene* s = new ReferenceScene();
    return *s;
}

void BM_Full3DPass(benchmark::State& state) {
    ReferenceScene& s = scene();
    s.pass();  // first frame sizes the scratch buffers
    for (auto _ : state) s.pass();
    state.counters["triangles"] = s.triangles;
    state.counters["frames/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Full3DPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// Where the pass's time goes: the picture's colour fill, the viewport's
// clear, the render (set-up and drawing), the device update and the flip,
// as counters in microseconds a pass.
void BM_Full3DPassPhases(benchmark::State& state) {
    ReferenceScene& s = scene();
    s.pass();
    double spent[5] = {0, 0, 0, 0, 0};
    auto now = [] { return std::chrono::steady_clock::now(); };
    for (auto _ : state) {
        s.root->Move(1.6f);
        auto t0 = now();
        DDBLTFX fx{100, 0};
        s.back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        auto t1 = now();
        s.viewport->Clear();
        auto t2 = now();
        s.viewport->Render(s.root);
        auto t3 = now();
        s.device->Update();
        auto t4 = now();
        s.primary->Flip(nullptr, DDFLIP_WAIT);
        auto t5 = now();
        const std::chrono::steady_clock::time_point t[6] = {t0, t1, t2, t3, t4, t5};
        for (int i = 0; i < 5; i++) spent[i] += std::chrono::duration<double, std::micro>(t[i + 1] - t[i]).count();
    }
    const char* names[5] = {"fill_us", "clear_us", "render_us", "update_us", "flip_us"};
    for (int i = 0; i < 5; i++) state.counters[names[i]] = spent[i] / (double)state.iterations();
}
BENCHMARK(BM_Full3DPassPhases)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same pass on the calling thread alone.
void BM_Full3DPassOneThread(benchmark::State& state) {
    ReferenceScene& s = scene();
    const int threads = rm::renderThreads();
    rm::setRenderThreads(1);
    s.pass();
    for (auto _ : state) s.pass();
    rm::setRenderThreads(threads);
}
BENCHMARK(BM_Full3DPassOneThread)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The same pass drawn at 1440 x 1080 (what a 1080p screen wants).
void BM_Full3DPassAt1440x1080(benchmark::State& state) {
    ReferenceScene& s = scene();
    vtSetRenderScale(2.25);
    s.pass();
    for (auto _ : state) s.pass();
    vtSetRenderScale(1.0);
}
BENCHMARK(BM_Full3DPassAt1440x1080)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// The same with smooth edges (four coverage samples a pixel).
void BM_Full3DPassAt1440x1080Smooth(benchmark::State& state) {
    ReferenceScene& s = scene();
    vtSetRenderScale(2.25);
    vtSetRenderSamples(2);
    s.pass();
    for (auto _ : state) s.pass();
    vtSetRenderSamples(1);
    vtSetRenderScale(1.0);
}
BENCHMARK(BM_Full3DPassAt1440x1080Smooth)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);

// The same pass at 2880 x 2160 (the 4:3 part of a 3840 x 2160 screen), and
// with smooth edges.
void BM_Full3DPassAt2880x2160(benchmark::State& state) {
    ReferenceScene& s = scene();
    vtSetRenderScale(4.5);
    vtSetRenderSamples(state.range(0) ? 2 : 1);
    s.pass();
    for (auto _ : state) s.pass();
    vtSetRenderSamples(1);
    vtSetRenderScale(1.0);
}
BENCHMARK(BM_Full3DPassAt2880x2160)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);

// The same pass on one thread with each pixel loop: eight pixels at a time
// (/1) and pixel by pixel, as on processors without AVX2 (/0).
void BM_Full3DPassOneThreadLoop(benchmark::State& state) {
    ReferenceScene& s = scene();
    const int threads = rm::renderThreads();
    const bool wide = rm::rasterWide();
    rm::setRenderThreads(1);
    if (rm::rasterUseWide(state.range(0) != 0) != (state.range(0) != 0)) {
        state.SkipWithError("no eight-pixel loop on this processor");
    } else {
        s.pass();
        for (auto _ : state) s.pass();
    }
    rm::rasterUseWide(wide);
    rm::setRenderThreads(threads);
}
BENCHMARK(BM_Full3DPassOneThreadLoop)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The same pass without texturing or blending cost: geometry and set-up only
// (every mesh scaled to nothing on screen would skip set-up; instead, the
// camera looks away so that everything is culled by bounds).
void BM_PassNothingVisible(benchmark::State& state) {
    ReferenceScene& s = scene();
    s.camera->SetOrientation(s.root, 0, 0, -1, 0, 1, 0);
    for (auto _ : state) s.pass();
    s.camera->SetOrientation(s.root, 0, 0, 1, 0, 1, 0);
}
BENCHMARK(BM_PassNothingVisible)->Unit(benchmark::kMillisecond);

void BM_CopyPictureMemcpy(benchmark::State& state) {
    static std::vector<uint8_t> from(1228800, 1), to(1228800);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * 1228800);
}
BENCHMARK(BM_CopyPictureMemcpy)->Unit(benchmark::kMicrosecond);

}  // namespace

// Writes the reference picture when asked: bench_render --picture=/tmp/x.png
int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++)
        if (strncmp(argv[i], "--picture=", 10) == 0) {
            ReferenceScene& s = scene();
            s.pass();
            return vtWritePng(argv[i] + 10, s.still(), 640, 480) ? 0 : 1;
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
