// Writes pictures of the virtual display as PNG files (shots, test output).
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/virtual/vclock.h"

bool vtWritePng(const std::string& path, const uint32_t* pixels, int width, int height) {
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;  // 0x00RRGGBB words in memory: B, G, R, 0
    std::vector<uint32_t> opaque(pixels, pixels + (size_t)width * height);
    for (auto& p : opaque) p |= 0xFF000000u;
    if (!png_image_write_to_file(&image, path.c_str(), 0, opaque.data(), width * 4, nullptr)) {
        fprintf(stderr, "%s: cannot write the picture (%s)\n", path.c_str(), image.message);
        return false;
    }
    return true;
}
