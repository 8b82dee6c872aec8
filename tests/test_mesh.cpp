// The .3d reader: axis order, face words, key tracks, texture coordinates,
// tables kept between files, and damaged files (one line each).
#include <gtest/gtest.h>

#include "asset_files.h"
#include "assets/assets.h"
#include "stderr_lines.h"

using namespace assetfiles;

namespace {

// n vertices (x = i, y = 10 + i, z = 20 + i), then, unless faces < 0, a fan
// of that many faces.
Bytes meshFile(int n, int faces = -1) {
    Bytes b;
    b.u16((uint16_t)n);
    for (int i = 0; i < n; i++) b.point((float)i, 10.0f + i, 20.0f + i);
    if (faces >= 0) b.u16((uint16_t)faces);
    for (int f = 0; f < faces; f++) b.face(0, (uint16_t)(f + 1), (uint16_t)(f + 2));
    return b;
}

std::vector<std::string> read(const Bytes& b, int keyTrack, int texCoords, const char* name = "DATA\\m.3d") {
    return stderrLines([&] { readMeshBytes(name, b.data.data(), (uint32_t)b.data.size(), keyTrack, texCoords); });
}

// The face table's words up to the closing 0.
std::vector<int32_t> faceWords() { return {g_meshFaceData, g_meshFaceData + 4 * g_meshFaceCount + 1}; }

auto tables() {
    return std::tuple(g_meshVertexCount, g_meshFaceCount, g_meshFaceData[0], g_keyCount, g_keyStoredCount,
                      g_meshTexCoordCount);
}

}  // namespace

// Records hold x, z, y; a face's indices are kept reversed after a count of
// three, its fourth word unread; files are named with backslashes. A missing
// or empty file gives one line and empty tables; an empty mesh, no line.
TEST(MeshReader, ReadsAxesInFileOrderAndFacesReversed) {
    ScratchDir dir;
    Bytes b;
    b.u16(8).f32(1.0f).f32(2.0f).f32(3.0f).pad(84).u16(2).u16(0).u16(1).u16(2).u16(7).u16(5).u16(6).u16(4).u16(0xFFFF);
    dir.write("m.3d", b.data);
    dir.write("empty.3d", {});
    loadMesh("DATA\\m.3d", 0, 0);
    EXPECT_EQ(std::tuple(g_meshVertexCount, g_meshVertices[0].x, g_meshVertices[0].y, g_meshVertices[0].z),
              std::tuple(8, 1.0f, 3.0f, 2.0f));
    EXPECT_EQ(faceWords(), (std::vector<int32_t>{3, 0, 2, 1, 3, 5, 4, 6, 0}));
    for (const char* name : {"DATA\\none.3d", "DATA\\empty.3d"}) {
        read(meshFile(5, 3), 0, 0);
        auto lines = stderrLines([&] { loadMesh(name, 1, 1); });
        ASSERT_EQ(lines.size(), 1u) << name;
        EXPECT_TRUE(contains(lines[0], "DATA/" + std::string(name + 5) + ": ")) << lines[0];
        EXPECT_EQ(tables(), std::tuple(0, 0, 0, 0, 0, 0)) << name;
    }
    g_meshFaceData[0] = 77;
    EXPECT_TRUE(read(meshFile(0, 0), 0, 0).empty());
    EXPECT_EQ(tables(), std::tuple(0, 0, 0, 0, 0, 0));
}

TEST(MeshReader, KeyTrackStoresKeysUpToTheFirstFrameAtTheBound) {
    Bytes b = meshFile(3, 1);
    b.keyHead(2).key(0, 1, 2, 3).key(1, 4, 5, 6).key(2, 7, 8, 9);
    b.u16(2).f32(0.25f).f32(0.5f).f32(0.75f).f32(1.0f);
    EXPECT_TRUE(read(b, 1, 1).empty());
    EXPECT_EQ(std::tuple(g_keyCount, g_keyStoredCount, g_keyTimes[2]), std::tuple(2, 3, 2));
    EXPECT_EQ(std::tuple(g_keyPositions[1].x, g_keyPositions[1].y, g_keyPositions[1].z), std::tuple(4.0f, 5.0f, 6.0f));
    // The coordinates begin right after the third record.
    EXPECT_EQ(std::tuple(g_meshTexCoordCount, g_meshTexCoords[0], g_meshTexCoords[3]), std::tuple(2, 0.25f, 1.0f));

    // After the head come T = 5 and u0 = 1.0 (low half zero): read as a frame
    // number these four bytes are 5, the bound, so no record is consumed.
    b = meshFile(5, 1);
    b.keyHead(5).u16(5);
    for (int i = 0; i < 10; i++) b.f32(1.0f + i);
    EXPECT_TRUE(read(b, 1, 1).empty());
    EXPECT_EQ(std::tuple(g_keyCount, g_keyStoredCount, g_meshTexCoordCount, g_meshTexCoords[9]),
              std::tuple(5, 0, 5, 10.0f));

    read(meshFile(3, 1).keyHead(-3).key(0, 1, 2, 3), 1, 0);  // a negative bound stores no key
    EXPECT_EQ(std::tuple(g_keyCount, g_keyStoredCount), std::tuple(-3, 0));
}

// Damaged files: one line naming the file and the problem, and what is whole kept.
TEST(MeshReaderDamaged, ShortOrInconsistentSectionsKeepWhatIsWhole) {
    Bytes manyKeys = meshFile(3, 1);
    manyKeys.keyHead(6000);
    for (int k = 0; k <= 6000; k++) manyKeys.key(k, (float)k, 0, 0);
    manyKeys.u16(1).f32(0.5f).f32(0.25f);
    Bytes shortFaces = meshFile(4).u16(2).face(0, 1, 2).face(1, 2, 3);
    shortFaces.data.resize(shortFaces.data.size() - 3);
    // keys and pairs are checked when that section is read
    const struct { const char* message; Bytes bytes; int keyTrack, texCoords, vertices, keys, pairs; std::vector<int32_t> words; }
    cases[] = {
        {"DATA/m.3d: 2 faces announced, file ends after 1", shortFaces, 0, 0, 4, 0, 0, {3, 0, 2, 1, 0}},
        {"3 vertices announced, file ends after 2", Bytes().u16(3).point(1, 2, 3).point(4, 5, 6).f32(7), 1, 1, 2, 0, 0,
         {0}},
        {"vertex 3", meshFile(3).u16(3).face(0, 1, 2).face(0, 3, 1).face(2, 1, 0), 0, 0, 3, 0, 0,
         {3, 0, 2, 1, 3, 2, 0, 1, 0}},
        {"key track ends after 3 keys", meshFile(3, 1).keyHead(10).key(0, 1, 1, 1).key(1, 2, 2, 2).key(2, 3, 3, 3), 1,
         1, 3, 3, 0, {3, 0, 2, 1, 0}},
        {"6001 keys", manyKeys, 1, 1, 3, kMaxKeys, 1, {3, 0, 2, 1, 0}},
        {"3 texture coordinate pairs announced for 2", meshFile(2, 0).u16(3).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6),
         0, 1, 2, 0, 2, {0}},
    };
    for (const auto& c : cases) {
        auto lines = read(c.bytes, c.keyTrack, c.texCoords);
        ASSERT_EQ(lines.size(), 1u) << c.message;
        EXPECT_TRUE(contains(lines[0], c.message)) << lines[0];
        EXPECT_EQ(g_meshVertexCount, c.vertices) << c.message;
        EXPECT_EQ(faceWords(), c.words) << c.message;
        EXPECT_EQ(c.keyTrack ? g_keyStoredCount : c.keys, c.keys) << c.message;
        EXPECT_EQ(c.texCoords ? g_meshTexCoordCount : c.pairs, c.pairs) << c.message;
    }
    // The sections after skipped keys line up.
    read(manyKeys, 1, 1);
    EXPECT_EQ(std::tuple(g_keyTimes[kMaxKeys - 1], g_meshTexCoords[1]), std::tuple(kMaxKeys - 1, 0.25f));
}

// 15,001 vertices, 3,750 faces (one on vertex 15,000) and 7,501 texture
// pairs: each table fills to its capacity, the face on a vertex not kept is
// left out, the sections after still line up, all said in one line.
TEST(MeshReaderDamaged, CountsBeyondTheTablesAreClippedAndTheRestSkipped) {
    Bytes b;
    b.u16(15001);
    for (int i = 0; i < 15001; i++) b.point((float)i, 0, 0);
    b.u16(3750).face(0, 1, 15000);
    for (int f = 1; f < 3750; f++) b.face((uint16_t)f, (uint16_t)(f + 1), (uint16_t)(f + 2));
    b.u16(7501);
    for (int i = 0; i < 7501; i++) b.f32((float)i).f32(-1.0f);
    auto lines = read(b, 0, 1);
    ASSERT_EQ(lines.size(), 1u);
    for (const char* part : {"15001 vertices", "3750 faces", "vertex 15000", "7501 texture"})
        EXPECT_TRUE(contains(lines[0], part)) << lines[0];
    EXPECT_EQ(std::tuple(g_meshVertexCount, g_meshVertices[14999].x), std::tuple(15000, 14999.0f));
    EXPECT_EQ(std::tuple(g_meshFaceCount, g_meshFaceData[1], g_meshFaceData[4 * 3748]), std::tuple(3748, 1, 0));
    EXPECT_EQ(std::tuple(g_meshTexCoordCount, g_meshTexCoords[2 * 7499]), std::tuple(7500, 7499.0f));
}

TEST(MeshReaderDamaged, EveryTruncationReportsAndStaysInsideTheTables) {
    Bytes b = meshFile(6, 4);
    b.keyHead(3).key(0, 1, 1, 1).key(1, 2, 2, 2).key(2, 3, 3, 3).key(3, 4, 4, 4).u16(6);
    for (int i = 0; i < 12; i++) b.f32(0.1f * i);
    for (size_t n = 0; n < b.data.size(); n++) {
        const Bytes part{{b.data.begin(), b.data.begin() + n}};  // exactly n bytes, for the sanitizers
        auto lines = read(part, 1, 1, "DATA\\cut.3d");
        ASSERT_EQ(lines.size(), 1u) << n;
        EXPECT_TRUE(contains(lines[0], "DATA/cut.3d: ")) << lines[0];
        EXPECT_TRUE(g_meshVertexCount <= 6 && g_meshFaceCount <= 4 && g_keyStoredCount <= 4 && g_meshTexCoordCount <= 6)
            << n;
        EXPECT_EQ(g_meshFaceData[4 * g_meshFaceCount], 0) << n;
    }
    EXPECT_TRUE(read(b, 1, 1).empty());
    EXPECT_EQ(g_meshTexCoordCount, 6);
}
