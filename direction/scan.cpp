// The scan effect of the interludes: the picture shows wherever the wave map
// lies below the level, which climbs to 256 and falls back to -1, one step a pass.
#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"

int32_t g_scanLevel = 0;
int32_t g_scanDir = 1;

void scanEffect(const uint32_t* source) {
    g_scanLevel = g_scanLevel + g_scanDir;
    if (g_scanLevel > 255) g_scanDir = -1;
    if (g_scanLevel < 0) g_scanDir = 1;
    // Rows outside, columns inside for the cache; the result is the same as
    // any order. The last column and row are never written.
    const int32_t level = g_scanLevel;
    for (int y = 0; y < 479; y++) {
        const uint8_t* map = &g_waveMap[y * 640];
        const uint32_t* src = &source[y * 640];
        uint32_t* dst = &g_screenPicture[y * 640];
        for (int x = 0; x < 639; x++) dst[x] = (int32_t)map[x] < level ? src[x] : 0u;
    }
}
