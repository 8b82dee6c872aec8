// Writes the meshes past the tables' limits into a folder, as seeds for
// fuzz_mesh (the kept corpora are too small to reach them, and these are too
// large to keep): a mesh with one vertex more than a mesh may have, and one
// with a key track of one record more than the tables keep.
#include <cstdio>
#include <string>

#include "tests/asset_files.h"

using namespace assetfiles;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 1;
    }
    const std::string dir = argv[1];
    // The first byte of an input holds fuzz_mesh's section flags (5: both).
    Bytes big;
    big.raw("\x05", 1).u16(15001);
    for (int i = 0; i < 15001; i++) big.point((float)(i % 97), (float)(i % 89), (float)(i % 83));
    big.u16(3).face(0, 1, 2).face(14999, 14998, 0).face(15000, 1, 2);
    big.keyHead(2).key(0, 1, 2, 3).key(2, 4, 5, 6).u16(15001);
    for (int i = 0; i < 8; i++) big.f32(0.25f * i);
    writeFile(dir + "/over_limit", big.data);

    Bytes keys;
    keys.raw("\x01", 1).u16(3).point(1, 2, 3).point(4, 5, 6).point(7, 8, 9).u16(1).face(0, 1, 2).keyHead(1000000);
    for (int i = 0; i <= 5000; i++) keys.key(i, 0.5f * i, 1, 2);
    keys.key(1000000, 0, 0, 0);
    writeFile(dir + "/many_keys", keys.data);
    return 0;
}
