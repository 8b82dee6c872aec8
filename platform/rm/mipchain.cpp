// Mip chains for the rasterizer: a picture resampled to powers of two, its
// key texels dilated so that filtering shows no dark fringe and its coverage
// softened so that magnified edges stay smooth, then halved level by level,
// each level stored as pairs of a texel and the one below it.
#include <algorithm>
#include <cstring>

#include "platform/rm/raster.h"

namespace rm {

namespace {

int ceilPow2(int n) {
    int p = 1;
    while (p < n && p < 4096) p <<= 1;
    return p;
}

// Average of four 0xAARRGGBB texels, channel by channel.
uint32_t average4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t sum = ((a >> shift) & 255) + ((b >> shift) & 255) + ((c >> shift) & 255) + ((d >> shift) & 255);
        out |= ((sum + 2) / 4) << shift;
    }
    return out;
}

// Gives every key texel (alpha 0) the colour of its nearest non-key texel
// (breadth first over the four neighbours, repeating at the borders).
void dilate(std::vector<uint32_t>& px, int w, int h) {
    std::vector<int> queue;
    std::vector<uint8_t> done(px.size(), 0);
    queue.reserve(px.size());
    for (size_t i = 0; i < px.size(); i++)
        if (px[i] >> 24) {
            done[i] = 1;
            queue.push_back((int)i);
        }
    if (queue.empty()) return;
    for (size_t head = 0; head < queue.size(); head++) {
        int i = queue[head], x = i % w, y = i / w;
        int next[4] = {y * w + (x + 1) % w, y * w + (x + w - 1) % w, ((y + 1) % h) * w + x, ((y + h - 1) % h) * w + x};
        for (int n : next)
            if (!done[n]) {
                done[n] = 1;
                px[n] = px[i] & 0x00FFFFFFu;  // keeps its key mark (alpha 0)
                queue.push_back(n);
            }
    }
}

// Softens the coverage (alpha) of a keyed level with a 3 x 3 binomial filter,
// wrapping like the texture. The rasterizer draws where the filtered coverage
// reaches half: on a hard 0/255 mask that edge follows the texel staircase,
// which shows as a saw-tooth once magnified a few times; on the softened mask
// it follows the shape's outline more closely (straight edges stay in place).
void softenCoverage(std::vector<uint32_t>& px, int w, int h) {
    std::vector<uint32_t> across(px.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint32_t* row = px.data() + (size_t)y * w;
            across[(size_t)y * w + x] = (row[(x + w - 1) % w] >> 24) + 2 * (row[x] >> 24) + (row[(x + 1) % w] >> 24);
        }
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t sum = across[(size_t)((y + h - 1) % h) * w + x] + 2 * across[(size_t)y * w + x] +
                           across[(size_t)((y + 1) % h) * w + x];
            uint32_t& t = px[(size_t)y * w + x];
            t = (t & 0x00FFFFFFu) | ((sum + 8) / 16) << 24;
        }
}

}  // namespace

void buildMipChain(MipChain& chain, const uint32_t* pixels, int w, int h, bool dilateKeys) {
    chain = MipChain();
    if (!pixels || w <= 0 || h <= 0) return;
    int W = ceilPow2(w), H = ceilPow2(h);
    std::vector<uint32_t> level((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) level[(size_t)y * W + x] = pixels[(size_t)(y * h / H) * w + (x * w / W)];
    if (dilateKeys) {
        dilate(level, W, H);
        softenCoverage(level, W, H);
    }
    size_t total = 0;
    int levels = 0;
    for (int lw = W, lh = H;; lw = std::max(1, lw / 2), lh = std::max(1, lh / 2)) {
        total += (size_t)2 * (lw + 1) * lh;
        levels++;
        if ((lw == 1 && lh == 1) || levels == 14) break;
    }
    chain.store.resize(total);
    size_t offset = 0;
    int lw = W, lh = H;
    std::vector<uint32_t> next;
    for (int l = 0; l < levels; l++) {
        // Store the level as pairs of a texel and the one below, with the
        // first column repeated after the last.
        uint32_t* dst = chain.store.data() + offset;
        for (int y = 0; y < lh; y++) {
            const uint32_t* row = level.data() + (size_t)y * lw;
            const uint32_t* below = level.data() + (size_t)((y + 1) % lh) * lw;
            uint32_t* out = dst + (size_t)2 * y * (lw + 1);
            for (int x = 0; x <= lw; x++) {
                out[2 * x] = row[x % lw];
                out[2 * x + 1] = below[x % lw];
            }
        }
        chain.lv[l] = {lw, lh, dst, (uint32_t)lw - 1, (uint32_t)lh - 1, __builtin_ctz((unsigned)lw), lw + 1, l};
        offset += (size_t)2 * (lw + 1) * lh;
        // The next level averages 2 x 2 texels.
        const int nw = std::max(1, lw / 2), nh = std::max(1, lh / 2);
        next.resize((size_t)nw * nh);
        for (int y = 0; y < nh; y++)
            for (int x = 0; x < nw; x++) {
                int x0 = std::min(2 * x, lw - 1), x1 = std::min(2 * x + 1, lw - 1);
                int y0 = std::min(2 * y, lh - 1), y1 = std::min(2 * y + 1, lh - 1);
                next[(size_t)y * nw + x] = average4(level[(size_t)y0 * lw + x0], level[(size_t)y0 * lw + x1],
                                                    level[(size_t)y1 * lw + x0], level[(size_t)y1 * lw + x1]);
            }
        level.swap(next);
        lw = nw;
        lh = nh;
    }
    chain.levels = levels;
}

}  // namespace rm
