// libFuzzer target for the .3d reader: the first byte chooses the two
// section flags, the rest is the file. Checks that the tables stay within
// their capacities, the face data stays well formed and the vertices kept
// are the file's first records (x, z, y). Inputs up to 200,000 bytes
// (-max_len) reach meshes with more vertices than the tables hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "assets/assets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int keyTrack = data[0] & 3;  // 1 reads the section; 0, 2, 3 skip it
    int texCoords = (data[0] >> 2) & 3;
    readMeshBytes("fuzz.3d", data + 1, (uint32_t)(size - 1), keyTrack, texCoords);
    if (g_meshVertexCount > kMaxMeshVertices) abort();
    const uint8_t* file = data + 1;
    for (int i = 0; i < g_meshVertexCount; i++) {
        const uint8_t* record = file + 2 + 12 * i;  // after the vertex count
        const D3DVECTOR& v = g_meshVertices[i];
        if (memcmp(&v.x, record, 4) != 0 || memcmp(&v.z, record + 4, 4) != 0 || memcmp(&v.y, record + 8, 4) != 0)
            abort();
    }
    if (texCoords == 1 && (g_meshTexCoordCount * 2 > kMaxTexCoordFloats || g_meshTexCoordCount > g_meshVertexCount))
        abort();
    if (g_keyStoredCount < 0 || g_keyStoredCount > kMaxKeys) abort();
    int word = 0;
    for (int f = 0; f < g_meshFaceCount; f++) {
        if (word + 4 >= kMaxFaceWords || g_meshFaceData[word] != 3) abort();
        for (int k = 1; k <= 3; k++)
            if (g_meshFaceData[word + k] < 0 || g_meshFaceData[word + k] >= g_meshVertexCount) abort();
        word += 4;
    }
    if (g_meshFaceData[word] != 0) abort();
    return 0;
}
