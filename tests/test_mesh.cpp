// The .3d reader: axis order, face words, key tracks, texture coordinates,
// tables kept between files, and damaged files.
#include <gtest/gtest.h>

#include "asset_files.h"
#include "assets/assets.h"
#include "stderr_lines.h"

using namespace assetfiles;

namespace {

// A mesh with vertices (x = i, y = 10 + i, z = 20 + i) and a fan of faces.
Bytes meshFile(int vertices, int faces) {
    Bytes b;
    b.u16((uint16_t)vertices);
    for (int i = 0; i < vertices; i++) b.point((float)i, 10.0f + i, 20.0f + i);
    b.u16((uint16_t)faces);
    for (int f = 0; f < faces; f++) b.face(0, (uint16_t)(f + 1), (uint16_t)(f + 2));
    return b;
}

void read(const Bytes& b, int keyTrack, int texCoords, const char* name = "DATA\\m.3d") {
    readMeshBytes(name, b.data.data(), (uint32_t)b.data.size(), keyTrack, texCoords);
}

std::vector<int32_t> faceWords() {
    std::vector<int32_t> words;
    for (int i = 0; i < kMaxFaceWords;) {
        int32_t n = g_meshFaceData[i];
        words.push_back(n);
        if (n <= 0) break;
        for (int k = 1; k <= n && i + k < kMaxFaceWords; k++) words.push_back(g_meshFaceData[i + k]);
        i += n + 1;
    }
    return words;
}

}  // namespace

TEST(MeshReader, VertexRecordsSwapTheLastTwoAxes) {
    Bytes b;
    b.u16(1).f32(1.0f).f32(2.0f).f32(3.0f).u16(0);
    read(b, 0, 0);
    ASSERT_EQ(g_meshVertexCount, 1);
    EXPECT_EQ(g_meshVertices[0].x, 1.0f);
    EXPECT_EQ(g_meshVertices[0].y, 3.0f);
    EXPECT_EQ(g_meshVertices[0].z, 2.0f);
}

TEST(MeshReader, FacesBecomeThreeThenIndicesReversedAndAClosingZero) {
    Bytes b = meshFile(8, 0);
    b.data.resize(b.data.size() - 2);
    b.u16(2).u16(0).u16(1).u16(2).u16(7).u16(5).u16(6).u16(4).u16(0xFFFF);
    read(b, 0, 0);
    EXPECT_EQ(g_meshFaceCount, 2);
    EXPECT_EQ(faceWords(), (std::vector<int32_t>{3, 0, 2, 1, 3, 5, 4, 6, 0}));
}

TEST(MeshReader, EmptyMeshGivesNoVerticesAndTheFaceDataZero) {
    g_meshFaceData[0] = 77;
    Bytes b;
    b.u16(0).u16(0);
    auto lines = stderrLines([&] { read(b, 0, 0); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(g_meshVertexCount, 0);
    EXPECT_EQ(g_meshFaceCount, 0);
    EXPECT_EQ(g_meshFaceData[0], 0);
}

TEST(MeshReader, KeyTrackStoresKeysUpToTheFirstFrameAtTheBound) {
    Bytes b = meshFile(3, 1);
    b.keyHead(2).key(0, 1, 2, 3).key(1, 4, 5, 6).key(2, 7, 8, 9);
    b.u16(2).f32(0.25f).f32(0.5f).f32(0.75f).f32(1.0f);
    auto lines = stderrLines([&] { read(b, 1, 1); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(g_keyCount, 2);
    ASSERT_EQ(g_keyStoredCount, 3);
    EXPECT_EQ(g_keyTimes[0], 0);
    EXPECT_EQ(g_keyTimes[2], 2);
    // Records hold x, z, y.
    EXPECT_EQ(g_keyPositions[1].x, 4.0f);
    EXPECT_EQ(g_keyPositions[1].y, 5.0f);
    EXPECT_EQ(g_keyPositions[1].z, 6.0f);
    // The coordinates begin right after the third record.
    ASSERT_EQ(g_meshTexCoordCount, 2);
    EXPECT_EQ(g_meshTexCoords[0], 0.25f);
    EXPECT_EQ(g_meshTexCoords[3], 1.0f);
}

TEST(MeshReader, FirstFrameAtTheBoundStoresNoKeyAndTheNextSectionStartsThere) {
    // After the head come T = 5 and u0 = 1.0 (low half zero): read as a frame
    // number these four bytes are 5, the bound, so no record is consumed.
    Bytes b = meshFile(5, 1);
    b.keyHead(5).u16(5);
    for (int i = 0; i < 10; i++) b.f32(1.0f + i);
    auto lines = stderrLines([&] { read(b, 1, 1); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(g_keyCount, 5);
    EXPECT_EQ(g_keyStoredCount, 0);
    ASSERT_EQ(g_meshTexCoordCount, 5);
    EXPECT_EQ(g_meshTexCoords[0], 1.0f);
    EXPECT_EQ(g_meshTexCoords[9], 10.0f);
}

TEST(MeshReader, NegativeBoundStoresNoKey) {
    Bytes b = meshFile(3, 1);
    b.keyHead(-3).key(0, 1, 2, 3);
    read(b, 1, 0);
    EXPECT_EQ(g_keyCount, -3);
    EXPECT_EQ(g_keyStoredCount, 0);
}

TEST(MeshReader, SectionsNotReadKeepTheirTables) {
    Bytes keyed = meshFile(4, 2);
    keyed.keyHead(1).key(0, 1, 1, 1).key(9, 2, 2, 2).u16(4);
    for (int i = 0; i < 8; i++) keyed.f32(0.5f * i);
    read(keyed, 1, 1);
    ASSERT_EQ(g_keyStoredCount, 2);
    ASSERT_EQ(g_meshTexCoordCount, 4);

    // Read without either section, and with flags other than 1 (which skip).
    for (int flag : {0, 2, -1}) {
        SCOPED_TRACE(flag);
        read(meshFile(3, 1), flag, flag);
        EXPECT_EQ(g_meshVertexCount, 3);
        EXPECT_EQ(g_keyCount, 1);
        EXPECT_EQ(g_keyStoredCount, 2);
        EXPECT_EQ(g_keyTimes[1], 9);
        EXPECT_EQ(g_keyPositions[1].x, 2.0f);
        EXPECT_EQ(g_meshTexCoordCount, 4);
        EXPECT_EQ(g_meshTexCoords[7], 3.5f);
    }
}

TEST(MeshReader, ReadsFilesByTheirBackslashPaths) {
    ScratchDir dir;
    Bytes b = meshFile(3, 1);
    dir.write("tri.3d", b.data);
    loadMesh("DATA\\tri.3d", 0, 0);
    EXPECT_EQ(g_meshVertexCount, 3);
    EXPECT_EQ(g_meshVertices[2].z, 22.0f);
    EXPECT_EQ(faceWords(), (std::vector<int32_t>{3, 0, 2, 1, 0}));
}

// --- Damaged files: one line naming the file, and what could be read.

TEST(MeshReaderDamaged, MissingOrEmptyFileGivesAnEmptyMesh) {
    ScratchDir dir;
    dir.write("empty.3d", {});
    for (const char* name : {"DATA\\none.3d", "DATA\\empty.3d"}) {
        SCOPED_TRACE(name);
        read(meshFile(5, 3), 0, 0);
        auto lines = stderrLines([&] { loadMesh(name, 1, 1); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(contains(lines[0], name)) << lines[0];
        EXPECT_EQ(g_meshVertexCount, 0);
        EXPECT_EQ(g_meshFaceCount, 0);
        EXPECT_EQ(g_meshFaceData[0], 0);
        EXPECT_EQ(g_keyCount, 0);
        EXPECT_EQ(g_keyStoredCount, 0);
        EXPECT_EQ(g_meshTexCoordCount, 0);
    }
}

TEST(MeshReaderDamaged, FileShorterThanItsFacesKeepsTheWholeFaces) {
    Bytes b = meshFile(4, 0);
    b.data.resize(b.data.size() - 2);
    b.u16(2).face(0, 1, 2).face(1, 2, 3);
    b.data.resize(b.data.size() - 3);
    auto lines = stderrLines([&] { read(b, 0, 0, "DATA\\zag.3d"); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "DATA\\zag.3d: 2 faces announced, file ends after 1");
    EXPECT_EQ(g_meshVertexCount, 4);
    EXPECT_EQ(g_meshFaceCount, 1);
    EXPECT_EQ(faceWords(), (std::vector<int32_t>{3, 0, 2, 1, 0}));
}

TEST(MeshReaderDamaged, FileShorterThanItsVerticesKeepsTheWholeVertices) {
    Bytes b;
    b.u16(3).point(1, 2, 3).point(4, 5, 6).f32(7);
    auto lines = stderrLines([&] { read(b, 1, 1); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "3 vertices announced, file ends after 2")) << lines[0];
    EXPECT_EQ(g_meshVertexCount, 2);
    EXPECT_EQ(g_meshVertices[1].y, 5.0f);
    EXPECT_EQ(g_meshFaceData[0], 0);
    EXPECT_EQ(g_keyStoredCount, 0);
    EXPECT_EQ(g_meshTexCoordCount, 0);
}

TEST(MeshReaderDamaged, CountsBeyondTheTablesAreClippedAndTheRestSkipped) {
    // 15,001 vertices, then 3,750 faces, then 7,501 texture pairs: each
    // table fills to its capacity, and the sections after still line up.
    Bytes b;
    b.u16(15001);
    for (int i = 0; i < 15001; i++) b.point((float)i, 0, 0);
    b.u16(3750);
    for (int f = 0; f < 3750; f++) b.face((uint16_t)f, (uint16_t)(f + 1), (uint16_t)(f + 2));
    b.u16(7501);
    for (int i = 0; i < 7501; i++) b.f32((float)i).f32(-1.0f);
    auto lines = stderrLines([&] { read(b, 0, 1); });
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(contains(lines[0], "15001 vertices")) << lines[0];
    EXPECT_TRUE(contains(lines[1], "3750 faces")) << lines[1];
    EXPECT_TRUE(contains(lines[2], "7501 texture")) << lines[2];
    EXPECT_EQ(g_meshVertexCount, 15000);
    EXPECT_EQ(g_meshVertices[14999].x, 14999.0f);
    EXPECT_EQ(g_meshFaceCount, 3749);
    EXPECT_EQ(g_meshFaceData[4 * 3749], 0);
    EXPECT_EQ(g_meshFaceData[4 * 3748 + 1], 3748);
    EXPECT_EQ(g_meshTexCoordCount, 7500);
    EXPECT_EQ(g_meshTexCoords[2 * 7499], 7499.0f);
}

TEST(MeshReaderDamaged, FacesNamingMissingVerticesAreLeftOut) {
    Bytes b = meshFile(3, 0);
    b.data.resize(b.data.size() - 2);
    b.u16(3).face(0, 1, 2).face(0, 3, 1).face(2, 1, 0);
    auto lines = stderrLines([&] { read(b, 0, 0); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "vertex 3")) << lines[0];
    EXPECT_EQ(g_meshFaceCount, 2);
    EXPECT_EQ(faceWords(), (std::vector<int32_t>{3, 0, 2, 1, 3, 2, 0, 1, 0}));
}

TEST(MeshReaderDamaged, KeyTrackEndingBeforeTheBoundKeepsItsKeys) {
    Bytes b = meshFile(3, 1);
    b.keyHead(10).key(0, 1, 1, 1).key(1, 2, 2, 2).key(2, 3, 3, 3);
    auto lines = stderrLines([&] { read(b, 1, 1); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "key track ends after 3 keys")) << lines[0];
    EXPECT_EQ(g_keyCount, 10);
    EXPECT_EQ(g_keyStoredCount, 3);
    EXPECT_EQ(g_meshTexCoordCount, 0);
}

TEST(MeshReaderDamaged, MoreKeysThanTheTableHoldsAreSkippedNotStored) {
    Bytes b = meshFile(3, 1);
    b.keyHead(6000);
    for (int k = 0; k <= 6000; k++) b.key(k, (float)k, 0, 0);
    b.u16(1).f32(0.5f).f32(0.25f);
    auto lines = stderrLines([&] { read(b, 1, 1); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "6001 keys")) << lines[0];
    EXPECT_EQ(g_keyStoredCount, kMaxKeys);
    EXPECT_EQ(g_keyTimes[kMaxKeys - 1], kMaxKeys - 1);
    ASSERT_EQ(g_meshTexCoordCount, 1);
    EXPECT_EQ(g_meshTexCoords[1], 0.25f);
}

TEST(MeshReaderDamaged, MoreTexturePairsThanVerticesAreLeftOut) {
    Bytes b = meshFile(2, 0);
    b.u16(3).f32(1).f32(2).f32(3).f32(4).f32(5).f32(6);
    auto lines = stderrLines([&] { read(b, 0, 1); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(g_meshTexCoordCount, 2);
}

TEST(MeshReaderDamaged, EveryTruncationReportsAndStaysInsideTheTables) {
    Bytes b = meshFile(6, 4);
    b.keyHead(3).key(0, 1, 1, 1).key(1, 2, 2, 2).key(2, 3, 3, 3).key(3, 4, 4, 4);
    b.u16(6);
    for (int i = 0; i < 12; i++) b.f32(0.1f * i);
    for (size_t n = 0; n < b.data.size(); n++) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> part(b.data.begin(), b.data.begin() + n);
        auto lines = stderrLines(
            [&] { readMeshBytes("DATA\\cut.3d", part.data(), (uint32_t)part.size(), 1, 1); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(contains(lines[0], "DATA\\cut.3d: ")) << lines[0];
        EXPECT_LE(g_meshVertexCount, 6);
        EXPECT_LE(g_meshFaceCount, 4);
        EXPECT_LE(g_keyStoredCount, 4);
        EXPECT_LE(g_meshTexCoordCount, 6);
        EXPECT_EQ(g_meshFaceData[4 * g_meshFaceCount], 0);
    }
    auto lines = stderrLines([&] { read(b, 1, 1); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(g_meshTexCoordCount, 6);
}
