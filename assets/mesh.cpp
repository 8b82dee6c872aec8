// The .3d mesh reader: vertices, triangles, an optional key track and
// optional texture coordinates into the global mesh tables.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "assets/files.h"

D3DVECTOR g_meshVertices[kMaxMeshVertices];
uint16_t g_meshVertexCount;
int32_t g_meshFaceData[kMaxFaceWords];
uint16_t g_meshFaceCount;
int32_t g_keyCount;
int32_t g_keyStoredCount;
int32_t g_keyTimes[kMaxKeys];
D3DVECTOR g_keyPositions[kMaxKeys];
float g_meshTexCoords[kMaxTexCoordFloats];
uint16_t g_meshTexCoordCount;

namespace {

// Largest .3d file accepted (far above any mesh the tables can hold).
constexpr uint32_t kMaxMeshFileBytes = 10000000;
constexpr uint32_t kMaxFaces = (kMaxFaceWords - 1) / 4;  // 3,749
constexpr uint32_t kMaxTexCoordPairs = kMaxTexCoordFloats / 2;
constexpr uint32_t kKeyHeadBytes = 18;
constexpr uint32_t kKeyRecordBytes = 18;

// A forward cursor over the file image that never reads past its end.
struct Reader {
    const uint8_t* bytes;
    uint32_t size;
    uint32_t at;

    bool has(uint64_t count) const { return size - at >= count; }
    uint16_t u16() {
        uint16_t v;
        std::memcpy(&v, bytes + at, 2);
        at += 2;
        return v;
    }
    int32_t i32() {
        int32_t v;
        std::memcpy(&v, bytes + at, 4);
        at += 4;
        return v;
    }
    float f32() {
        float v;
        std::memcpy(&v, bytes + at, 4);
        at += 4;
        return v;
    }
    int32_t peekI32() const {
        int32_t v;
        std::memcpy(&v, bytes + at, 4);
        return v;
    }
    // A record of floats x, z, y.
    D3DVECTOR point() {
        D3DVECTOR p;
        p.x = f32();
        p.z = f32();
        p.y = f32();
        return p;
    }
};

// What was wrong with one file, said in one line when the reading ends.
struct Problems {
    const char* fileName;
    std::string text;

    void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        char part[200];
        va_list args;
        va_start(args, format);
        std::vsnprintf(part, sizeof part, format, args);
        va_end(args);
        text += text.empty() ? "" : "; ";
        text += part;
    }
    ~Problems() {
        if (!text.empty()) std::fprintf(stderr, "%s: %s\n", assetPath(fileName).c_str(), text.c_str());
    }
};

// Empties the tables of the sections the caller asked for and the file could
// not give.
void clearKeys() {
    g_keyCount = 0;
    g_keyStoredCount = 0;
}

}  // namespace

void readMeshBytes(const char* fileName, const uint8_t* bytes, uint32_t byteCount, int keyTrack, int texCoords) {
    Reader in{bytes, byteCount, 0};
    Problems problems{fileName, {}};
    g_meshVertexCount = 0;
    g_meshFaceCount = 0;
    g_meshFaceData[0] = 0;
    if (texCoords == 1) g_meshTexCoordCount = 0;
    if (keyTrack == 1) clearKeys();

    // Vertex section.
    if (!in.has(2)) {
        problems.add("file ends before the vertex count");
        return;
    }
    uint32_t announced = in.u16();
    uint32_t available = (in.size - in.at) / 12;
    uint32_t vertices = announced;
    if (vertices > (uint32_t)kMaxMeshVertices) {
        problems.add("%u vertices announced, more than the %d a mesh may have (the rest are left out)", announced,
                     kMaxMeshVertices);
        vertices = kMaxMeshVertices;
    }
    if (vertices > available) {
        problems.add("%u vertices announced, file ends after %u", announced, available);
        vertices = available;
    }
    for (uint32_t i = 0; i < vertices; i++) g_meshVertices[i] = in.point();
    g_meshVertexCount = (uint16_t)vertices;
    if (announced > available) return;
    in.at += (announced - vertices) * 12;

    // Face section: 3, i1, i3, i2 per triangle, closed by 0.
    if (!in.has(2)) {
        problems.add("file ends before the face count");
        return;
    }
    announced = in.u16();
    available = (in.size - in.at) / 8;
    uint32_t faces = announced;
    if (faces > kMaxFaces) {
        problems.add("%u faces announced, more than the %u a mesh may have (the rest are left out)", announced,
                     kMaxFaces);
        faces = kMaxFaces;
    }
    if (faces > available) {
        problems.add("%u faces announced, file ends after %u", announced, available);
        faces = available;
    }
    uint32_t words = 0, kept = 0, dropped = 0, firstBad = 0, badIndex = 0;
    for (uint32_t f = 0; f < faces; f++) {
        uint32_t i1 = in.u16(), i2 = in.u16(), i3 = in.u16();
        in.at += 2;
        if (i1 >= vertices || i2 >= vertices || i3 >= vertices) {
            if (dropped++ == 0) {
                firstBad = f;
                badIndex = i1 >= vertices ? i1 : i2 >= vertices ? i2 : i3;
            }
            continue;
        }
        g_meshFaceData[words++] = 3;
        g_meshFaceData[words++] = (int32_t)i1;
        g_meshFaceData[words++] = (int32_t)i3;
        g_meshFaceData[words++] = (int32_t)i2;
        kept++;
    }
    g_meshFaceData[words] = 0;
    g_meshFaceCount = (uint16_t)kept;
    if (dropped)
        problems.add("face %u uses vertex %u of %u (%u such faces are left out)", firstBad,
                     badIndex, vertices, dropped);
    if (announced > available) return;
    in.at += (announced - faces) * 8;

    // Key track: head, then records up to and including the first whose frame
    // number reaches the bound.
    if (keyTrack == 1) {
        if (!in.has(kKeyHeadBytes)) {
            problems.add("file ends inside the key track head");
            return;
        }
        in.at += 10;
        int32_t bound = in.i32();
        in.at += 4;
        g_keyCount = bound;
        int32_t stored = 0;
        uint32_t records = 0;
        bool complete = true;
        if (!in.has(4)) {
            complete = false;
        } else {
            int32_t frame = in.peekI32();
            while (frame < bound) {
                if (!in.has(kKeyRecordBytes)) {
                    complete = false;
                    break;
                }
                frame = in.i32();
                in.at += 2;
                D3DVECTOR position = in.point();
                if (stored < kMaxKeys) {
                    g_keyTimes[stored] = frame;
                    g_keyPositions[stored] = position;
                    stored++;
                }
                records++;
            }
        }
        g_keyStoredCount = stored;
        if (records > (uint32_t)kMaxKeys)
            problems.add("key track holds %u keys, more than the %d kept (the rest are left out)", records,
                         kMaxKeys);
        if (!complete) {
            problems.add("key track ends after %u keys, before a frame at or above its bound %d", records, bound);
            return;
        }
    }

    // Texture coordinates: one u, v pair per vertex.
    if (texCoords == 1) {
        if (!in.has(2)) {
            problems.add("file ends before the texture coordinate count");
            return;
        }
        announced = in.u16();
        available = (in.size - in.at) / 8;
        uint32_t pairs = announced;
        if (pairs > vertices) {
            problems.add("%u texture coordinate pairs announced for %u vertices (the rest are left out)", announced,
                         vertices);
            pairs = vertices;
        }
        if (pairs > kMaxTexCoordPairs) {
            problems.add("%u texture coordinate pairs announced, more than the %u kept (the rest are left out)",
                         announced, kMaxTexCoordPairs);
            pairs = kMaxTexCoordPairs;
        }
        if (pairs > available) {
            problems.add("%u texture coordinate pairs announced, file ends after %u", announced, available);
            pairs = available;
        }
        for (uint32_t i = 0; i < 2 * pairs; i++) g_meshTexCoords[i] = in.f32();
        g_meshTexCoordCount = (uint16_t)pairs;
    }
}

void loadMesh(const char* fileName, int keyTrack, int texCoords) {
    std::vector<uint8_t> file;
    if (!readWholeFile(fileName, file, kMaxMeshFileBytes)) {
        g_meshVertexCount = 0;
        g_meshFaceCount = 0;
        g_meshFaceData[0] = 0;
        if (texCoords == 1) g_meshTexCoordCount = 0;
        if (keyTrack == 1) clearKeys();
        return;
    }
    readMeshBytes(fileName, file.data(), (uint32_t)file.size(), keyTrack, texCoords);
}
