// Writes the starting corpus of one fuzz target into a folder:
//   mesh    small meshes with and without optional sections
//   mesh-large  a mesh with more vertices, and one with more keys, than the
//           tables hold (kept out of the corpus folder for their size)
//   jpeg    small JPEG pictures of several kinds
// The WAV, MP3 and dialog-template corpora are kept, small, in the repository.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win/win.h"
#include "tests/asset_files.h"

using namespace assetfiles;

namespace {

void put(const std::string& dir, const std::string& name, const std::vector<uint8_t>& head,
         const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data = head;
    data.insert(data.end(), bytes.begin(), bytes.end());
    writeFile(dir + "/" + name, data);
}

void put(const std::string& dir, const std::string& name, uint8_t first, const std::vector<uint8_t>& bytes) {
    put(dir, name, std::vector<uint8_t>{first}, bytes);
}

void meshSeeds(const std::string& dir) {
    put(dir, "plain", 0x0, meshAssetFile(0, 9, false, 0, false).data);
    put(dir, "tex", 0x4, meshAssetFile(1, 9, false, 0, true).data);
    put(dir, "keys_tex", 0x5, meshAssetFile(3, 9, true, 4, true).data);
    Bytes head;
    head.u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(5).u16(5);
    for (int i = 0; i < 10; i++) head.f32(1.0f);
    put(dir, "first_at_bound", 0x5, head.data);
}

// Meshes past the tables' limits, too large to keep in the corpus folder:
// written by every fuzz build and given to fuzz_mesh as a second folder.
void largeMeshSeeds(const std::string& dir) {
    // One vertex more than a mesh may have (180 KB): the reader keeps the
    // first kMaxMeshVertices, drops the faces that use the rest and reads on.
    Bytes big;
    big.u16(15001);
    for (int i = 0; i < 15001; i++) big.point((float)(i % 97), (float)(i % 89), (float)(i % 83));
    big.u16(3).face(0, 1, 2).face(14999, 14998, 0).face(15000, 1, 2);
    big.keyHead(2).key(0, 1, 2, 3).key(2, 4, 5, 6);
    big.u16(15001);
    for (int i = 0; i < 8; i++) big.f32(0.25f * i);
    put(dir, "over_limit", 0x5, big.data);

    // A key track of one record more than the tables keep (90 KB).
    Bytes keys;
    keys.u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(1000000);
    for (int i = 0; i <= 5000; i++) keys.key(i, 0.5f * i, 1, 2);
    keys.key(1000000, 0, 0, 0);
    put(dir, "many_keys", 0x1, keys.data);
}

void jpegSeeds(const std::string& dir) {
    // Selector byte: value % 8 - 1.
    put(dir, "rgb64", 4, rgbSpaceJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)x, (uint8_t)y, 9}; }));
    put(dir, "ycc64", 4, makeJpeg(64, 64, [](int x, int y) { return Rgb{(uint8_t)(x * 4), 0, (uint8_t)y}; }, 75));
    put(dir, "ycc16", 1, makeJpeg(16, 16, [](int, int) { return Rgb{255, 0, 0}; }, 50));
    // A 4:2:0 progressive picture.
    std::vector<uint8_t> rgb(32 * 24 * 3, 0x80);
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, rgb.data(), 32, 0, 24, TJPF_RGB, &out, &size, TJSAMP_420, 60, TJFLAG_PROGRESSIVE);
    put(dir, "progressive", 2, std::vector<uint8_t>(out, out + size));
    tjFree(out);
    tjDestroy(encoder);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds mesh|mesh-large|jpeg DIR\n");
        return 1;
    }
    std::string kind = argv[1], dir = argv[2];
    if (kind == "mesh") meshSeeds(dir);
    else if (kind == "mesh-large") largeMeshSeeds(dir);
    else if (kind == "jpeg") jpegSeeds(dir);
    else {
        std::fprintf(stderr, "make_seeds: unknown kind %s\n", kind.c_str());
        return 1;
    }
    return 0;
}
