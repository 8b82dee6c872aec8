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
    // Whole records of recordBytes left.
    uint32_t left(uint32_t recordBytes) const { return (size - at) / recordBytes; }
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

// Empties the tables: the vertices and faces always, the key track and the
// texture coordinates when the caller asked for them (otherwise they keep
// what an earlier file left).
void clearTables(int keyTrack, int texCoords) {
    g_meshVertexCount = 0;
    g_meshFaceCount = 0;
    g_meshFaceData[0] = 0;
    if (texCoords == 1) g_meshTexCoordCount = 0;
    if (keyTrack == 1) {
        g_keyCount = 0;
        g_keyStoredCount = 0;
    }
}

// How many of the `announced` records of a section to read: `count` (the
// announced number, or less where the caller has its own reason), cut to
// the `limit` the tables keep and to the `available` records the file still
// holds. Each cut is said in problems.
uint32_t recordsToRead(Problems& problems, const char* what, uint32_t announced, uint32_t count, uint32_t limit,
                       const char* kept, uint32_t available) {
    if (count > limit) {
        problems.add("%u %s announced, more than the %u %s (the rest are left out)", announced, what, limit, kept);
        count = limit;
    }
    if (count > available) {
        problems.add("%u %s announced, file ends after %u", announced, what, available);
        count = available;
    }
    return count;
}

// Reads the 16-bit record count that opens a section; says so when the file
// ends first.
bool readCount(Reader& in, Problems& problems, const char* what, uint32_t& announced) {
    if (!in.has(2)) {
        problems.add("file ends before the %s count", what);
        return false;
    }
    announced = in.u16();
    return true;
}

// Each section reader returns false when the file ends inside its section,
// which ends the reading.

// Vertices: a count, then x, z, y per vertex.
bool readVertices(Reader& in, Problems& problems) {
    uint32_t announced;
    if (!readCount(in, problems, "vertex", announced)) return false;
    uint32_t available = in.left(12);
    uint32_t vertices = recordsToRead(problems, "vertices", announced, announced, kMaxMeshVertices,
                                      "a mesh may have", available);
    for (uint32_t i = 0; i < vertices; i++) g_meshVertices[i] = in.point();
    g_meshVertexCount = (uint16_t)vertices;
    if (announced > available) return false;
    in.at += (announced - vertices) * 12;
    return true;
}

// Faces: a count, then i1, i2, i3 and a word per triangle, kept as 3, i1, i3,
// i2 and closed by 0; triangles naming a vertex not kept are left out.
bool readFaces(Reader& in, Problems& problems) {
    uint32_t announced;
    if (!readCount(in, problems, "face", announced)) return false;
    uint32_t vertices = g_meshVertexCount;
    uint32_t available = in.left(8);
    uint32_t faces = recordsToRead(problems, "faces", announced, announced, kMaxFaces, "a mesh may have", available);
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
        problems.add("face %u uses vertex %u of %u (%u such faces are left out)", firstBad, badIndex, vertices,
                     dropped);
    if (announced > available) return false;
    in.at += (announced - faces) * 8;
    return true;
}

// Key track: head (with the bound at byte 10), then records up to and
// including the first whose frame number reaches the bound.
bool readKeyTrack(Reader& in, Problems& problems) {
    if (!in.has(kKeyHeadBytes)) {
        problems.add("file ends inside the key track head");
        return false;
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
        problems.add("key track holds %u keys, more than the %d kept (the rest are left out)", records, kMaxKeys);
    if (!complete) {
        problems.add("key track ends after %u keys, before a frame at or above its bound %d", records, bound);
        return false;
    }
    return true;
}

// Texture coordinates: a count, then one u, v pair per vertex.
bool readTexCoords(Reader& in, Problems& problems) {
    uint32_t announced;
    if (!readCount(in, problems, "texture coordinate", announced)) return false;
    uint32_t vertices = g_meshVertexCount;
    uint32_t pairs = announced;
    if (pairs > vertices) {
        problems.add("%u texture coordinate pairs announced for %u vertices (the rest are left out)", announced,
                     vertices);
        pairs = vertices;
    }
    pairs = recordsToRead(problems, "texture coordinate pairs", announced, pairs, kMaxTexCoordPairs, "kept",
                          in.left(8));
    for (uint32_t i = 0; i < 2 * pairs; i++) g_meshTexCoords[i] = in.f32();
    g_meshTexCoordCount = (uint16_t)pairs;
    return true;
}

}  // namespace

void readMeshBytes(const char* fileName, const uint8_t* bytes, uint32_t byteCount, int keyTrack, int texCoords) {
    Reader in{bytes, byteCount, 0};
    Problems problems{fileName, {}};
    clearTables(keyTrack, texCoords);
    if (!readVertices(in, problems) || !readFaces(in, problems)) return;
    if (keyTrack == 1 && !readKeyTrack(in, problems)) return;
    if (texCoords == 1) readTexCoords(in, problems);
}

void loadMesh(const char* fileName, int keyTrack, int texCoords) {
    std::vector<uint8_t> file;
    if (!readWholeFile(fileName, file, kMaxMeshFileBytes)) {
        clearTables(keyTrack, texCoords);
        return;
    }
    readMeshBytes(fileName, file.data(), (uint32_t)file.size(), keyTrack, texCoords);
}
