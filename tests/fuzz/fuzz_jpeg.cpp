// libFuzzer target for the picture path: the first byte chooses the size
// selector (including ones that copy nothing), the rest is the file. The
// destination is followed by guard bytes that must stay untouched, and a
// 640 x 480 picture goes on through the screen-picture conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "assets/assets.h"

// The show's block copy when display/blocks.cpp is not compiled in.
__attribute__((weak)) void copyBlocks64(void* destination, const void* source, uint32_t count) {
    memcpy(destination, source, count / 64 * 64);
}

namespace {
constexpr size_t kLargest = 921600;
constexpr size_t kGuard = 4096;
uint8_t s_destination[kLargest + kGuard];
uint32_t s_screen[640 * 480];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int selector = (int)(data[0] % 8) - 1;  // -1 to 6
    memset(s_destination + kLargest, 0xA5, kGuard);
    loadJpegBytes("fuzz.jpg", data + 1, (uint32_t)(size - 1), s_destination, selector);
    for (size_t i = kLargest; i < kLargest + kGuard; i++)
        if (s_destination[i] != 0xA5) abort();
    if (selector == 1) convertScreenPicture(s_destination, s_screen);
    return 0;
}
