// Decal transparency: texels within the key tolerance of the key colour are
// transparent and take their nearest drawn neighbour's colour, so the
// near-black a JPEG leaves around a shape shows neither as a speck nor as a
// dark fringe; the softened coverage makes a magnified edge follow the
// shape's outline instead of the texel staircase.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/rm/objects.h"

namespace {

const int kTol = rm::kKeyTolerance;

// One row of 24-bit texels as a decal texture with the given key: the
// coverage it reads (0 or 255 per texel) and the colours of its keyed chain.
struct Keyed { std::vector<uint32_t> coverage, colour; };

Keyed keyedRow(const std::vector<uint32_t>& rgb, D3DCOLOR key) {
    std::vector<uint8_t> block;
    for (uint32_t c : rgb) block.insert(block.end(), {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c});
    D3DRMIMAGE image{};
    image.width = (int)rgb.size(), image.height = 1, image.aspectx = image.aspecty = 1;
    image.depth = 24, image.rgb = 1, image.bytes_per_line = image.width * 3, image.buffer1 = block.data();
    image.red_mask = 0xFF, image.green_mask = 0xFF00, image.blue_mask = 0xFF0000;
    IDirect3DRM* d3drm = nullptr;
    IDirect3DRMTexture* texture = nullptr;
    EXPECT_EQ(Direct3DRMCreate(&d3drm), D3DRM_OK);
    EXPECT_EQ(d3drm->CreateTexture(&image, &texture), D3DRM_OK);
    texture->SetDecalTransparency(TRUE);
    texture->SetDecalTransparentColor(key);
    auto* t = static_cast<rm::Texture*>(texture);
    Keyed out;
    EXPECT_TRUE(t->read(out.coverage));
    for (uint32_t& c : out.coverage) c >>= 24;
    const rm::MipLevel& level = t->chain()->lv[0];
    for (int x = 0; x < level.w; x++) out.colour.push_back(level.texel(x, 0) & 0xFFFFFF);
    texture->Release();
    d3drm->Release();
    return out;
}

uint32_t grey(int v) { return (uint32_t)v * 0x010101u; }

TEST(DecalKey, TexelsWithinTheToleranceAreKeyAndTakeTheShapesColour) {
    // Key black: a shape texel, then near-black texels at and just past the tolerance.
    const uint32_t shape = 0xE08040;
    Keyed row = keyedRow(
        {shape, grey(kTol), 0, (uint32_t)kTol << 16 | (kTol + 1), 0, (uint32_t)(kTol + 1) << 8, grey(1), 0}, 0);
    EXPECT_EQ(row.coverage, (std::vector<uint32_t>{255, 0, 0, 255, 0, 255, 0, 0}));
    // Key texels carry their nearest drawn texel's colour, never their own near
    // black; the last one's nearest wraps around to texel 0.
    ASSERT_EQ(row.colour.size(), 8u);
    EXPECT_EQ(std::pair(row.colour[1], row.colour[7]), std::pair(shape, shape));
    // Another key colour: the tolerance holds on either side of it.
    row = keyedRow({0x808080, grey(128 - kTol), grey(128 + kTol + 1), 0x80807F + (uint32_t)kTol}, 0x808080);
    EXPECT_EQ(row.coverage, (std::vector<uint32_t>{0, 0, 255, 0}));
}

// A shallow edge (one texel up every four across) in a hard key mask: where
// the bilinear coverage of level 0 reaches half, the edge lies within a
// quarter texel of the true line; on the hard mask the staircase strays by
// about 0.4 texel (a saw-tooth when magnified).
TEST(DecalKey, SoftenedCoverageFollowsAShallowEdge) {
    const int n = 64;
    auto line = [](double x) { return 20 + x / 4; };
    std::vector<uint32_t> px((size_t)n * n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) px[(size_t)y * n + x] = y + 0.5 < line(x + 0.5) ? 0xFFFFFFFFu : 0x00000000u;
    rm::MipChain chain;
    rm::buildMipChain(chain, px.data(), n, n, true);
    const rm::MipLevel& level = chain.lv[0];
    ASSERT_EQ(level.w, n);
    auto coverage = [&](double x, double y) {  // bilinear, texel centres at half-integers
        const int ix = (int)std::floor(x - 0.5), iy = (int)std::floor(y - 0.5);
        const double fx = x - 0.5 - ix, fy = y - 0.5 - iy;
        auto a = [&](int dx, int dy) { return (double)(level.texel(ix + dx, iy + dy) >> 24); };
        return (a(0, 0) * (1 - fx) + a(1, 0) * fx) * (1 - fy) + (a(0, 1) * (1 - fx) + a(1, 1) * fx) * fy;
    };
    double worst = 0, sum = 0;
    int count = 0;
    for (double x = 8; x < 56; x += 0.25, count++) {
        double lo = line(x) - 3, hi = line(x) + 3;  // coverage falls from lo to hi
        for (int i = 0; i < 30; i++) (coverage(x, (lo + hi) / 2) >= 127.5 ? lo : hi) = (lo + hi) / 2;
        sum += lo - line(x);
        worst = std::max(worst, std::fabs(lo - line(x)));
    }
    EXPECT_LT(std::fabs(sum / count), 0.05) << "the edge stays in place";
    EXPECT_LT(worst, 0.25);
}

}  // namespace
