// A full 3D pass of the reference scene (bench/reference_scene.h) at 640 x 480
// on the renderer's workers, timed with each pixel loop (eight pixels at a
// time, and pixel by pixel) in alternating rounds, and the pictures the two
// loops draw of the scene's first frame compared. Plain C++ for the
// WebAssembly build, where Google Benchmark is not at hand; built natively
// too (build/bench/bench_render_web), so that tools/web/bench-render.mjs can
// time both in one run, in node and in a browser, and compare their pictures.
//
// bench_render_web [rounds [passes]]: `rounds` rounds (default 9) of `passes`
// passes (default 10) per loop. Prints the median milliseconds per pass of
// each loop, then a checksum of each loop's picture. Exits with 1 when the
// two loops draw different pictures.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/reference_scene.h"
#include "platform/rm/raster.h"
#include "platform/rm/workers.h"

namespace {

constexpr int kPixels = 640 * 480;

// FNV-1a over the pixels' 32-bit words.
uint64_t checksum(const std::vector<uint32_t>& pixels) {
    uint64_t h = 14695981039346656037ull;
    for (uint32_t p : pixels)
        for (int k = 0; k < 4; k++) h = (h ^ ((p >> (8 * k)) & 255)) * 1099511628211ull;
    return h;
}

// Milliseconds per pass over `passes` passes, after one that is not timed.
double timePasses(refscene::ReferenceScene& s, int passes) {
    s.pass();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < passes; i++) s.pass();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count() / passes;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    // A line at a time: a page shows what was printed before the end.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    const int passes = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    refscene::ReferenceScene& s = *new refscene::ReferenceScene();  // never destroyed, as in bench_render
    const bool wasWide = rm::rasterWide();
    if (!rm::rasterUseWide(true)) {
        std::printf("no eight-pixel loop on this processor\n");
        return 1;
    }

    // The first frame, as bench_render --picture draws it, with each loop.
    s.pass();
    std::vector<uint32_t> picture[2];
    for (int wide = 0; wide < 2; wide++) {
        rm::rasterUseWide(wide != 0);
        const uint32_t* p = s.still();
        picture[wide].assign(p, p + kPixels);
    }
    int differ = 0;
    for (int i = 0; i < kPixels; i++) differ += picture[0][i] != picture[1][i];

    // Rounds alternate which loop goes first, so that a drift in the
    // machine's speed weighs on both alike.
    std::vector<double> ms[2];
    for (int r = 0; r < rounds; r++)
        for (int k = 0; k < 2; k++) {
            const int wide = (r + k) % 2;
            rm::rasterUseWide(wide != 0);
            ms[wide].push_back(timePasses(s, passes));
        }
    rm::rasterUseWide(wasWide);

    std::printf("threads %d, %d triangles, %d rounds of %d passes; default loop: %s\n", rm::renderThreads(),
                s.triangles, rounds, passes, wasWide ? "eight-pixel" : "one-pixel");
    for (int wide = 1; wide >= 0; wide--) {
        const auto [lo, hi] = std::minmax_element(ms[wide].begin(), ms[wide].end());
        std::printf("%-11s loop: median %.2f ms per pass (%.2f to %.2f)\n", wide ? "eight-pixel" : "one-pixel",
                    median(ms[wide]), *lo, *hi);
    }
    std::printf("picture eight-pixel %016" PRIx64 "\n", checksum(picture[1]));
    std::printf("picture one-pixel   %016" PRIx64 "\n", checksum(picture[0]));
    if (differ) {
        std::printf("the pixel loops differ at %d pixels\n", differ);
        return 1;
    }
    std::printf("the pixel loops draw the same picture\n");
    return 0;
}
