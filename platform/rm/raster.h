// The software rasterizer behind the retained-mode layer: triangles in screen
// space (y down), front faces clockwise on screen, 4 bits of sub-pixel
// precision with the top-left fill rule, perspective-correct texture
// coordinates, Gouraud colour, a 32-bit depth buffer holding 1/z (larger is
// nearer, cleared to 0), trilinear mip-mapped textures that repeat in u and v,
// colour-keyed decals (alpha test on a filtered coverage mask) and alpha
// blending.
#pragma once
#include <cstdint>
#include <vector>

namespace rm {

// One vertex after projection. Colour channels are blue, green, red, alpha
// on a 0..256 scale (256 = full), so that modulation is a shift by 8.
struct RVert {
    float x, y;  // pixels, pixel centres at +0.5
    float q;     // 1 / view depth
    float u, v;  // texture coordinates
    float c[4];  // b, g, r, a
};

struct MipLevel {
    int w = 0, h = 0;
    // 0xAARRGGBB. AA is the coverage mask: 255 for a texel of the picture, 0
    // for a key-coloured one, softened along the shapes' edges in a keyed
    // chain; smaller levels hold the average coverage.
    // Stored as pairs: each texel followed by the one below it (wrapped), in
    // rows of w + 1 pairs whose last repeats the first. The 16 bytes at a
    // pair are the four texels a bilinear sample there needs: top left,
    // bottom left, top right, bottom right.
    const uint32_t* px = nullptr;
    // For sampling: wrap masks w - 1 and h - 1, log2 of w, the row stride in
    // pairs (w + 1) and the level's number, its scale against level 0 as a
    // shift.
    uint32_t wm = 0, hm = 0;
    int wsh = 0, stride = 0, shift = 0;

    // Texel (x, y), wrapped.
    uint32_t texel(int x, int y) const { return px[2 * ((size_t)(y & (int)hm) * stride + (x & (int)wm))]; }
};

// A power-of-two mip chain; level 0 is the full picture.
struct MipChain {
    int levels = 0;
    MipLevel lv[14];
    std::vector<uint32_t> store;
};

// Builds the chain from 0xAARRGGBB pixels (w x h, any size: resampled to the
// nearest powers of two at or above). With dilate set, key texels (alpha 0)
// take the colour of the nearest non-key texel first, so that filtering next
// to a transparent area shows no dark fringe, and the coverage is softened
// (3 x 3), so that a magnified edge follows the shape rather than its texels.
void buildMipChain(MipChain& chain, const uint32_t* pixels, int w, int h, bool dilate);

// Smooth edges: each pixel has kSamples coverage and depth samples at these
// offsets from its centre, in sixteenths of a pixel (a rotated grid: no two
// share a row or a column, so that edges near level or upright are smoothed
// as well as slanted ones).
constexpr int kSamples = 4;
constexpr int kSampleOffset[kSamples][2] = {{-2, -6}, {6, -2}, {-6, 2}, {2, 6}};

struct RTarget {
    uint32_t* color = nullptr;
    int pitch = 0;  // pixels per row
    float* depth = nullptr;
    int dpitch = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // clip rectangle, x1 / y1 exclusive
    // 1, or kSamples: then each row holds the samples in planes `plane`
    // pixels apart in both buffers, sample k of pixel x at x + k * plane,
    // and each plane is `across` pixels wide.
    int samples = 1;
    int plane = 0;
    int across = 0;  // pixels in a row (of a plane) of both buffers; 0: pitch and dpitch
};

enum : unsigned {
    kTex = 1,     // modulate by the texture
    kZTest = 2,   // draw only where nearer than the depth buffer
    kZWrite = 4,  // write depth
    kBlend = 8,   // blend by alpha
    kDecal = 16,  // alpha test: draw only where the coverage, filtered like the
                  // colour (bilinear on the level the colour uses), is >= 1/2
};

// A triangle set up for drawing: its rows, edge functions and attribute
// planes. Set up once, it may be drawn in parts (bands of rows), from any
// thread, each part exactly as the whole would draw it. On a target with
// samples, its rows are those where any sample may lie inside it, and it is
// shaded once a pixel (at the pixel's centre) for the samples it covers;
// decals, whose edges come from their texture, are shaded at each sample.
struct RasterSetup {
    // Made in great numbers a frame and filled by rasterSetup: not zeroed first.
    RasterSetup() {}
    int yStart, yEnd;  // inclusive rows; none when yEnd < yStart
    int x0, x1;        // clip columns, x1 inclusive
    int64_t V[3], dV[3], S[3];
    // For each edge with S != 0: dV over |S|, floored, and the remainder:
    // how its column moves a row down.
    int64_t rowStep[3], rowRem[3];
    // attribute planes: value at pixel (x, y) = base + dx * x + dy * y (pixel
    // centres folded in); s and t are in texels of level 0, divided by depth.
    float q0, qdx, qdy, s0, sdx, sdy, t0, tdx, tdy;
    float c0[4], cdx[4], cdy[4];
    const MipChain* tex;
    int maxLevel;
    unsigned flags;
    bool nearTexels;  // its texel coordinates (of level 0) lie below kNearTexels
};

// Texel coordinates from 0 to twice this convert to fixed point in fewer steps.
constexpr float kNearTexels = 16384.0f;

// Sets up a triangle for the target's clip rectangle; returns false when it is
// culled (counter-clockwise or empty). A triangle with nothing to draw inside
// the rectangle is set up with no rows.
bool rasterSetup(const RTarget& target, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                 unsigned flags, RasterSetup& out);

// Draws the rows of a set-up triangle that lie in [y0, y1).
void rasterRows(const RTarget& target, const RasterSetup& s, int y0, int y1);

// Rows [y0, y1) of a target with kSamples samples a pixel resolved into `out`
// (`outPitch` pixels a row, the target's `across` pixels wide): each pixel
// the rounded mean of its samples, channel by channel.
void resolveRows(const RTarget& target, uint32_t* out, int outPitch, int y0, int y1);

// Rows [y0, y1) of the target's clip rectangle, in every sample plane, set to
// `colour`; or their depth to 0 (farthest). Rows outside it are left alone.
void fillColourRows(const RTarget& target, uint32_t colour, int y0, int y1);
void clearDepthRows(const RTarget& target, int y0, int y1);

// Draws one triangle if it runs clockwise on screen; returns false when culled
// (counter-clockwise or empty).
bool rasterTriangle(const RTarget& target, const RVert& a, const RVert& b, const RVert& c, const MipChain* tex,
                    unsigned flags);

// Chooses between the eight-pixel loop (AVX2 on x86-64 where the processor
// has it, SIMD Everywhere's version of it elsewhere) and the pixel-by-pixel
// one, which draw the same pictures; returns whether the eight-pixel loop is
// now in use.
bool rasterUseWide(bool on);
bool rasterWide();  // whether the eight-pixel loop is in use

// Guard band in pixels beyond the clip rectangle that projected geometry may
// reach; the caller clips against it.
constexpr float kGuardBand = 1024.0f;

}  // namespace rm
