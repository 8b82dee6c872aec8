// JPEG pictures into texture image records and screen pictures, and the raw
// wave map.
#include <turbojpeg.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "assets/assets.h"
#include "assets/files.h"
#include "display/display.h"
#include "platform/win/files.h"

namespace {

constexpr uint32_t kBlock256 = 256 * 256 * 3;
constexpr uint32_t kBlock512 = 512 * 512 * 3;

alignas(64) uint8_t s_pixelsLoading[kBlock256];
alignas(64) uint8_t s_pixelsArrow1[kBlock256];
alignas(64) uint8_t s_pixelsArrow2[kBlock256];
alignas(64) uint8_t s_pixelsText2[kBlock256];
alignas(64) uint8_t s_pixelsText[kBlock256];
alignas(64) uint8_t s_pixelsBack[kBlock256];
alignas(64) uint8_t s_pixelsGrass[kBlock256];
alignas(64) uint8_t s_pixelsText3[kBlock256];
alignas(64) uint8_t s_pixelsSuba[kBlock256];
alignas(64) uint8_t s_pixelsTe[kBlock256];
alignas(64) uint8_t s_pixelsText1[kBlock256];
alignas(64) uint8_t s_pixelsText4[kBlock256];
alignas(64) uint8_t s_pixels123[kBlock512];
alignas(64) uint8_t s_pixelsZug[kBlock512];

// The decoded-picture buffer shared by all JPEG reads (one at a time).
alignas(64) uint8_t s_decoded[kPictureBufferBytes];

constexpr D3DRMIMAGE imageRecord(int size, void* pixels) {
    return D3DRMIMAGE{size, size, 1, 1, 24, 1, size * 3, pixels, nullptr,
                      0xFFu, 0xFF00u, 0xFF0000u, 0xFF000000u, 0, nullptr};
}

struct PictureSize {
    uint32_t bytes;
    int width, height;
};

// Bytes copied, and the picture size they stand for, per size selector.
constexpr PictureSize kSelectorSizes[6] = {
    {196608, 256, 256}, {921600, 640, 480}, {307200, 320, 320},
    {12288, 64, 64},    {786432, 512, 512}, {786432, 512, 512},
};

}  // namespace

D3DRMIMAGE imageLoading = imageRecord(256, s_pixelsLoading);
D3DRMIMAGE imageArrow1 = imageRecord(256, s_pixelsArrow1);
D3DRMIMAGE imageArrow2 = imageRecord(256, s_pixelsArrow2);
D3DRMIMAGE imageText2 = imageRecord(256, s_pixelsText2);
D3DRMIMAGE imageText = imageRecord(256, s_pixelsText);
D3DRMIMAGE imageBack = imageRecord(256, s_pixelsBack);
D3DRMIMAGE imageGrass = imageRecord(256, s_pixelsGrass);
D3DRMIMAGE imageText3 = imageRecord(256, s_pixelsText3);
D3DRMIMAGE imageSuba = imageRecord(256, s_pixelsSuba);
D3DRMIMAGE imageTe = imageRecord(256, s_pixelsTe);
D3DRMIMAGE imageText1 = imageRecord(256, s_pixelsText1);
D3DRMIMAGE imageText4 = imageRecord(256, s_pixelsText4);
D3DRMIMAGE image123 = imageRecord(512, s_pixels123);
D3DRMIMAGE imageZug = imageRecord(512, s_pixelsZug);

IDirect3DRMTexture *texLoading, *texArrow1, *texArrow2, *texText2, *texText, *texBack, *texGrass, *texText3,
    *texSuba, *texTe, *texText1, *texText4, *tex123, *texZug;

uint32_t g_screamPicture[640 * 480];
uint32_t g_girlsPicture[640 * 480];
uint8_t g_waveMap[640 * 480];

bool decodeJpeg(const void* source, void* destination, uint32_t byteCount, uint32_t capacity, int* width,
                int* height, const char* fileName) {
    *width = 0;
    *height = 0;
    std::string path = assetPath(fileName);
    const char* shown = path.c_str();
    tjhandle decoder = tjInitDecompress();
    if (!decoder) {
        std::fprintf(stderr, "%s: no JPEG decoder (%s)\n", shown, tjGetErrorStr2(nullptr));
        return false;
    }
    bool ok = false;
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    auto* bytes = static_cast<const unsigned char*>(source);
    if (tjDecompressHeader3(decoder, bytes, byteCount, &w, &h, &subsampling, &colorspace) != 0) {
        std::fprintf(stderr, "%s: not a decodable JPEG picture (%s)\n", shown, tjGetErrorStr2(decoder));
    } else if (w <= 0 || h <= 0) {
        std::fprintf(stderr, "%s: not a decodable JPEG picture (no size in its header)\n", shown);
    } else if ((uint64_t)w * (uint64_t)h * 3 > capacity) {
        std::fprintf(stderr, "%s: picture of %d x %d pixels is too large to decode\n", shown, w, h);
    } else if (tjDecompress2(decoder, bytes, byteCount, static_cast<unsigned char*>(destination), w, 0, h,
                             TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
        if (tjGetErrorCode(decoder) == TJERR_WARNING) {
            // Damaged data (a truncated file, say): every row has been written.
            std::fprintf(stderr, "%s: damaged JPEG data (%s), using what it holds\n", shown,
                         tjGetErrorStr2(decoder));
            ok = true;
        } else {
            std::fprintf(stderr, "%s: cannot decode the JPEG picture (%s)\n", shown, tjGetErrorStr2(decoder));
        }
    } else {
        ok = true;
    }
    if (ok) {
        *width = w;
        *height = h;
    }
    tjDestroy(decoder);
    return ok;
}

void loadJpegBytes(const char* fileName, const uint8_t* bytes, uint32_t byteCount, void* destination,
                   int sizeSelector) {
    if (sizeSelector < 0 || sizeSelector > 5) return;
    const PictureSize& size = kSelectorSizes[sizeSelector];
    std::string path = assetPath(fileName);
    const char* shown = path.c_str();
    int width = 0, height = 0;
    if (byteCount > kPictureBufferBytes) {
        std::fprintf(stderr, "%s: file is %u bytes, more than the %u it may have\n", shown, byteCount,
                     kPictureBufferBytes);
    } else if (byteCount == 0) {
        std::fprintf(stderr, "%s: file is empty\n", shown);
    } else if (decodeJpeg(bytes, s_decoded, byteCount, sizeof s_decoded, &width, &height, fileName)) {
        if (width == size.width && height == size.height) {
            copyBlocks64(destination, s_decoded, size.bytes);
            return;
        }
        std::fprintf(stderr, "%s: picture is %d x %d pixels, expected %d x %d\n", shown, width, height,
                     size.width, size.height);
    }
    std::memset(destination, 0, size.bytes);
}

void loadJpegTexture(const char* fileName, void* destination, int sizeSelector) {
    if (sizeSelector < 0 || sizeSelector > 5) return;
    std::vector<uint8_t> file;
    if (!readWholeFile(fileName, file, kPictureBufferBytes)) {
        std::memset(destination, 0, kSelectorSizes[sizeSelector].bytes);
        return;
    }
    loadJpegBytes(fileName, file.data(), (uint32_t)file.size(), destination, sizeSelector);
}

void convertScreenPicture(const uint8_t* rgb, uint32_t* destination) {
    for (uint32_t i = 0; i < 640 * 480; i++) {
        const uint8_t* p = rgb + 3 * i;
        uint32_t word = (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | p[2];
        destination[i] = (destination[i] & 0xFF000000u) | word;
    }
}

void loadRawPicture(const char* fileName) {
    std::string path = assetPath(fileName);
    const char* shown = path.c_str();
    std::string why;
    FILE* file = openRegularFile(shown, &why);
    if (!file) {
        std::fprintf(stderr, "%s: cannot open the file (%s)\n", shown, why.c_str());
        return;
    }
    size_t got = std::fread(g_waveMap, 1, sizeof g_waveMap, file);
    std::fclose(file);
    if (got < sizeof g_waveMap)
        std::fprintf(stderr, "%s: holds %zu of the %zu bytes of a wave map; the rest is left as it was\n", shown,
                     got, sizeof g_waveMap);
}
