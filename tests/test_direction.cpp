// The score: cue thresholds and actions, scene starts, camera paths, fades,
// the scan effect and the jitter numbers, on recording stand-ins for the
// scene objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"
#include "platform/virtual/virtual.h"
#include "recording_rm.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

using fake::g_log;
using Log = std::vector<std::string>;

namespace {

class Direction : public ::testing::Test {
protected:
    void SetUp() override {
        fake::installScene();
        for (auto* a : {&g_knotAnim, &g_boxAnim, &g_blinAnim}) fake::g_rm->CreateAnimation(a);
        for (auto* t : {&tex123, &texZug, &texTe, &texText1, &texText2, &texText4}) fake::g_rm->CreateTexture(nullptr, t);
        g_cue = 0, g_timelineDone = 0, g_scene = 1, g_sceneReady = 0, g_show2D = 0, g_show3D = 1;
        g_shake = g_spin = g_extraSpin = g_finale = g_scanA = g_scanB = g_fadeStep = 0;
        g_scanLevel = 0, g_scanDir = 1, g_musicPos = 0;
    }
    void at(uint32_t position) {
        g_musicPos = position;
        updateTimeline();
    }
    static bool hidden(IDirect3DRMFrame* f) { return fake::frame(f)->position.z == -30000.0f; }
    static IDirect3DRMTexture* texture(IDirect3DRMMeshBuilder* m) { return fake::mesh(m)->texture; }
};

}  // namespace

// A cue fires once, at its exact position, with its actions; the last one
// ends the timeline for good.
TEST_F(Direction, CuesFireOnceAtTheirExactPositions) {
    at(46075);
    EXPECT_EQ(std::tuple(g_cue, g_log.size()), std::tuple(0, 0u));
    at(46076);
    EXPECT_EQ(std::tuple(g_cue, g_shake), std::tuple(1, 1));
    EXPECT_EQ(g_log, (Log{"zagFrame.AddVisual(meshZag)", "tilesFrame1.AddVisual(quad5)", "tilesFrame1.AddVisual(quad6)"}));
    g_log.clear();
    at(46076);
    EXPECT_TRUE(g_log.empty());
    g_cue = 26, g_scene = 4, g_sceneReady = 1;
    at(20800000);
    EXPECT_EQ(std::tuple(g_timelineDone, g_cue, g_sceneReady, g_finale), std::tuple(1, 26, 0, 1));
    EXPECT_EQ(g_log, Log{"teFrame.AddVisual(quad10)"});
    g_log.clear();
    g_cue = 0;  // whatever the state, a finished timeline does nothing
    at(0xFFFFFFFFu);
    EXPECT_TRUE(g_log.empty());
}

// A jump catches up every cue passed, in order; a falling position (the
// stream restarted) fires nothing; the error value passes every cue.
TEST_F(Direction, JumpsCatchUpInOrderAndFallingPositionsFireNothing) {
    at(5000000);
    EXPECT_EQ(std::tuple(g_cue, g_scene, g_sceneReady, g_show3D, g_show2D, g_spin), std::tuple(9, 2, 1, 1, 0, 1));
    auto index = [](const std::string& call) { return std::find(g_log.begin(), g_log.end(), call) - g_log.begin(); };
    // Cue 4's shell, the tiles hidden at cue 7, then its knot and zug.
    EXPECT_LT(index("stShellFrame.AddVisual(meshStShell)"), index("tilesFrame1.SetPosition(scene,0,0,-30000)"));
    EXPECT_LT(index("tilesFrame1.SetPosition(scene,0,0,-30000)"), index("knotFrame.AddVisual(meshKnot)"));
    EXPECT_LT(index("knotFrame.AddVisual(meshKnot)"), index("zugFrame.AddVisual(quad4)"));
    EXPECT_LT(index("zugFrame.AddVisual(quad4)"), (long)g_log.size());
    // The zug moves towards the camera at cue 8 and back at cue 9.
    EXPECT_EQ(Log(g_log.end() - 2, g_log.end()), (Log{"quad4.Translate(0,0,-5)", "quad4.Translate(0,0,5)"}));
    g_log.clear();
    at(100);
    EXPECT_EQ(std::tuple(g_cue, g_log.size()), std::tuple(9, 0u));
    at(0xFFFFFFFFu);
    EXPECT_EQ(std::tuple(g_cue, g_timelineDone, g_finale), std::tuple(26, 1, 1));
}

TEST_F(Direction, TheFirstInterludeEndsWithAClearPictureAndAFreshScan) {
    at(1922412);
    EXPECT_EQ(std::tuple(g_show3D, g_show2D, g_scanA), std::tuple(0, 1, 1));
    g_scanLevel = 77, g_scanDir = -1;
    std::fill(std::begin(g_screenPicture), std::end(g_screenPicture), 0x00123456u);
    at(2873392);
    EXPECT_EQ(std::tuple(g_scanA, g_scanLevel, g_scanDir, g_show3D, g_show2D), std::tuple(0, 0, 1, 1, 0));
    EXPECT_TRUE(std::all_of(std::begin(g_screenPicture), std::end(g_screenPicture), [](uint32_t p) { return p == 0; }));
}

// Each scene start hides the previous scene's frames, retextures the st
// meshes, puts the camera path back to its start and the camera far away.
TEST_F(Direction, SceneStartsHideTheOldFramesAndRetextureTheStMeshes) {
    const struct { void (*start)(); std::vector<IDirect3DRMFrame*> hides; IDirect3DRMTexture* st; } scenes[] = {
        {startScene2, {g_zagFrame, g_zlinFrame}, texText2},
        {startScene3, {g_knotFrame}, texText4},
        {startScene4, {g_boxFrame, g_spareFrame}, texText1}};
    int number = 2;
    for (const auto& s : scenes) {
        g_animTime = 12.5f;
        s.start();
        EXPECT_EQ(std::tuple(g_scene, g_sceneReady, g_animTime), std::tuple(number++, 1, 0.0f));
        for (auto* f : s.hides) EXPECT_TRUE(hidden(f)) << fake::frame(f)->name;
        EXPECT_EQ(std::tuple(texture(meshSt), texture(meshStShell)), std::tuple(s.st, s.st));
        EXPECT_EQ(fake::frame(g_cameraFrame)->position.z, 30000.0f);
    }
    EXPECT_FALSE(hidden(g_stFrame));
    // Whole pictures 10 units in front of the camera.
    EXPECT_EQ(std::tuple(texture(quad4), texture(quad10)), std::tuple(texZug, texTe));
    const int moved = fake::find("quad10.Translate(0,0,10)");
    EXPECT_TRUE(moved >= 0 && moved < fake::find("quad10.SetTextureCoordinates(3,1,1)"));
}

TEST_F(Direction, TilesMapOntoTheSheetWithTheirSinglePrecisionEdges) {
    prepareTileQuads();
    std::vector<std::string> quad4Calls;
    for (auto& c : g_log)
        if (c.rfind("quad4.SetTextureCoordinates", 0) == 0) quad4Calls.push_back(c);
    // Tile 4: row 1, column 0.
    EXPECT_EQ(quad4Calls, (Log{"quad4.SetTextureCoordinates(0,0,0.666666)", "quad4.SetTextureCoordinates(1,0,0.333333)",
                               "quad4.SetTextureCoordinates(2,0.333333,0.333333)",
                               "quad4.SetTextureCoordinates(3,0.333333,0.666666)"}));
    EXPECT_EQ(fake::mesh(quad1)->colour, 0xFFFFFFFFu);  // opaque again
}

TEST_F(Direction, TheCameraPathRestartsOnlyWhenTimeReachesTheKeyBound) {
    g_keyCount = 5, g_frameDelta = 4.0f, g_animTime = 4.99f;
    updateScene3();
    EXPECT_GE(fake::find("camera.LookAt(boxFrame,scene,0)"), 0);
    EXPECT_FLOAT_EQ(g_animTime, 5.09f);  // a step of delta / 40; may pass the bound once
    updateScene3();
    EXPECT_EQ(g_animTime, 0.0f);
    g_animTime = 5.0f;  // 5 is not below 5
    updateScene4();
    EXPECT_EQ(g_animTime, 0.0f);
    g_keyCount = 0;  // no keys: the path stays at time 0
    updateScene2();
    updateScene2();
    EXPECT_EQ(g_animTime, 0.0f);
}

TEST_F(Direction, ATileFadeSleepsFadesAndRecedesByTheFrameTime) {
    g_frameDelta = 2.0f, g_fadeAlpha2 = 0.9999f, g_fadeSpeed2 = 0.0f;
    int64_t before = vtNow();
    fadeStep2();
    EXPECT_EQ(vtNow() - before, 25 * 10000);  // 50 / 2 ms
    EXPECT_FLOAT_EQ(g_fadeAlpha2, 0.9999f - 0.04f);
    EXPECT_FLOAT_EQ(g_fadeSpeed2, 0.2f);
    EXPECT_EQ(g_log, (Log{"quad2.SetColor(f4ffffff)", "quad2.Translate(0,0,0)"}));
    g_log.clear();
    g_fadeAlpha2 = 0.04f;  // reaches 0: the colour stays, the tile still moves
    fadeStep2();
    EXPECT_EQ(g_log, Log{"quad2.Translate(0,0,0.2)"});
}

// The generator is the C runtime's whatever the C library: each thread starts
// the same sequence from 1 (so every build jitters alike), srand restarts it.
TEST(Numbers, RandIsTheRuntimesSequenceOnEveryThread) {
    const std::vector<int> first = {41, 18467, 6334, 26500, 19169};
    auto five = [] {
        std::vector<int> v;
        for (int i = 0; i < 5; i++) v.push_back(rand());
        return v;
    };
    std::vector<int> a, b;
    std::thread([&] { a = five(); }).join();
    std::thread([&] {
        rand();
        srand(1);
        b = five();
    }).join();
    EXPECT_EQ(a, first);
    EXPECT_EQ(b, first);
}

// The jitter offsets take only the upper values of their range; a pause is
// the truncated quotient, none for a delta of 0 or less, bounded above.
TEST(Numbers, RandomRangeAndPause) {
    std::set<int> wide, narrow;
    for (int i = 0; i < 2000; i++) wide.insert((int)randomRange(1, 5)), narrow.insert((int)randomRange(1, 3));
    EXPECT_EQ(wide, (std::set<int>{5, 6, 7, 8}));
    EXPECT_EQ(narrow, (std::set<int>{3, 4}));
    EXPECT_EQ(std::tuple(pauseMilliseconds(40.0, 1.6667f), pauseMilliseconds(50.0, 60.0f)), std::tuple(23u, 0u));
    EXPECT_EQ(std::tuple(pauseMilliseconds(40.0, 0.0f), pauseMilliseconds(40.0, -3.0f)), std::tuple(0u, 0u));
    EXPECT_EQ(pauseMilliseconds(10.0, 1e-30f), (DWORD)(uint64_t)9000000000000000000ull);
}

// The picture shows where the map is below the level; the level turns at
// 256 and -1; the last row and column are never touched.
TEST(Scan, RevealsWhereTheMapIsBelowTheLevelAndTurnsAtTheEnds) {
    static uint32_t source[640 * 480];
    for (int i = 0; i < 640 * 480; i++) source[i] = 0x00010203u + (uint32_t)i, g_waveMap[i] = (uint8_t)((i * 31) % 256);
    std::fill(std::begin(g_screenPicture), std::end(g_screenPicture), 0u);
    g_scanDir = 1;
    // The level set before a step, then the level and direction after it.
    for (auto [level, after, dir] : {std::tuple{0, 1, 1}, {130, 131, 1}, {255, 256, -1}, {256, 255, -1}, {0, -1, 1}}) {
        g_scanLevel = level;
        scanEffect(source);
        ASSERT_EQ(std::tuple(g_scanLevel, g_scanDir), std::tuple(after, dir)) << level;
        for (int i = 0; i < 640 * 480; i++) {
            bool inside = i % 640 < 639 && i / 640 < 479;
            ASSERT_EQ(g_screenPicture[i], inside && g_waveMap[i] < after ? source[i] : 0u) << level << " at " << i;
        }
    }
}
