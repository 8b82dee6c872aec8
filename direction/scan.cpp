// The scan effect of the interludes: the picture shows wherever the wave map
// lies below the level, which climbs to 256 and falls back to -1, one step a pass.
#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int32_t g_scanLevel = 0;
int32_t g_scanDir = 1;

namespace {

// One row of 639 pixels: source where the map is below the level, else black.
// The level is 1 to 255 here; the callers handle the rest.
void scanRow(uint32_t* dst, const uint32_t* src, const uint8_t* map, int32_t level) {
    int x = 0;
#if defined(__SSE2__)
    // 16 pixels a step: m < level  <=>  min(m, level - 1) == m, unsigned.
    const __m128i limit = _mm_set1_epi8((char)(uint8_t)(level - 1));
    for (; x + 16 <= 639; x += 16) {
        __m128i m = _mm_loadu_si128((const __m128i*)(map + x));
        __m128i below = _mm_cmpeq_epi8(_mm_min_epu8(m, limit), m);
        __m128i lo = _mm_unpacklo_epi8(below, below), hi = _mm_unpackhi_epi8(below, below);
        __m128i masks[4] = {_mm_unpacklo_epi16(lo, lo), _mm_unpackhi_epi16(lo, lo), _mm_unpacklo_epi16(hi, hi),
                            _mm_unpackhi_epi16(hi, hi)};
        for (int k = 0; k < 4; k++) {
            __m128i s = _mm_loadu_si128((const __m128i*)(src + x + 4 * k));
            _mm_storeu_si128((__m128i*)(dst + x + 4 * k), _mm_and_si128(s, masks[k]));
        }
    }
#endif
    for (; x < 639; x++) dst[x] = (int32_t)map[x] < level ? src[x] : 0u;
}

}  // namespace

void scanEffect(const uint32_t* source) {
    g_scanLevel = g_scanLevel + g_scanDir;
    if (g_scanLevel > 255) g_scanDir = -1;
    if (g_scanLevel < 0) g_scanDir = 1;
    // Every pixel of the 639 x 479 area is written from the map, the level
    // and the source; the last column and row are never touched. Rows
    // outside, columns inside, for the cache; the order does not matter.
    const int32_t level = g_scanLevel;
    for (int y = 0; y < 479; y++) {
        uint32_t* dst = &g_screenPicture[y * 640];
        const uint32_t* src = &source[y * 640];
        if (level <= 0) {
            for (int x = 0; x < 639; x++) dst[x] = 0u;
        } else if (level > 255) {
            for (int x = 0; x < 639; x++) dst[x] = src[x];
        } else {
            scanRow(dst, src, &g_waveMap[y * 640], level);
        }
    }
}
