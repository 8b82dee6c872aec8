// Writes the starting corpus of the two fuzz targets: small meshes with and
// without optional sections, and small JPEG pictures of several kinds.
#include <cstdio>
#include <string>

#include "tests/asset_files.h"

using namespace assetfiles;

namespace {

void put(const std::string& dir, const std::string& name, uint8_t first, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data{first};
    data.insert(data.end(), bytes.begin(), bytes.end());
    writeFile(dir + "/" + name, data);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds MESH_DIR JPEG_DIR\n");
        return 1;
    }
    std::string meshDir = argv[1], jpegDir = argv[2];
    put(meshDir, "plain", 0x0, meshAssetFile(0, 9, false, 0, false).data);
    put(meshDir, "tex", 0x4, meshAssetFile(1, 9, false, 0, true).data);
    put(meshDir, "keys_tex", 0x5, meshAssetFile(3, 9, true, 4, true).data);
    Bytes head;
    head.u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(5).u16(5);
    for (int i = 0; i < 10; i++) head.f32(1.0f);
    put(meshDir, "first_at_bound", 0x5, head.data);

    // Selector byte: value % 8 - 1.
    put(jpegDir, "rgb64", 4, rgbSpaceJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)x, (uint8_t)y, 9}; }));
    put(jpegDir, "ycc64", 4, makeJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)(x * 4), 0, (uint8_t)y}; }, 75));
    put(jpegDir, "ycc16", 1, makeJpeg(16, 16, [](int, int) { return Rgb{255, 0, 0}; }, 50));
    // A 4:2:0 progressive picture.
    {
        std::vector<uint8_t> rgb(32 * 24 * 3, 0x80);
        tjhandle encoder = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        tjCompress2(encoder, rgb.data(), 32, 0, 24, TJPF_RGB, &out, &size, TJSAMP_420, 60, TJFLAG_PROGRESSIVE);
        put(jpegDir, "progressive", 2, std::vector<uint8_t>(out, out + size));
        tjFree(out);
        tjDestroy(encoder);
    }
    return 0;
}
