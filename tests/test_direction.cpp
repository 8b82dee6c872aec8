// The score: cue order and actions, scene starts, camera paths, fades, the
// scan effect and the jitter numbers, checked call by call on recording
// stand-ins for the scene objects.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "assets/assets.h"
#include "direction/direction.h"
#include "display/display.h"
#include "platform/virtual/virtual.h"
#include "recording_rm.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/state.h"

using fake::g_log;

namespace {

class Direction : public ::testing::Test {
protected:
    void SetUp() override {
        fake::installScene();
        fake::g_logging = false;
        const std::pair<IDirect3DRMAnimation**, const char*> anims[] = {
            {&g_knotAnim, "knotAnim"}, {&g_boxAnim, "boxAnim"}, {&g_blinAnim, "blinAnim"}};
        for (auto [global, name] : anims) {
            fake::g_rm->CreateAnimation(global);
            fake::g_rm->animations.back()->name = name;
        }
        const std::pair<IDirect3DRMTexture**, const char*> textures[] = {
            {&tex123, "tex123"},     {&texZug, "texZug"},     {&texTe, "texTe"},
            {&texText1, "texText1"}, {&texText2, "texText2"}, {&texText4, "texText4"}};
        for (auto [global, name] : textures) {
            fake::g_rm->CreateTexture(nullptr, global);
            fake::g_rm->textures.back()->name = name;
        }
        fake::g_logging = true;
        g_cue = 0, g_timelineDone = 0, g_scene = 1, g_sceneReady = 0, g_show2D = 0, g_show3D = 1;
        g_shake = g_spin = g_extraSpin = g_finale = g_scanA = g_scanB = g_fadeStep = 0;
        g_musicPos = 0;
        g_scanLevel = 0, g_scanDir = 1;
    }

    void at(uint32_t position) {
        g_musicPos = position;
        updateTimeline();
    }
};

}  // namespace

TEST_F(Direction, ACueFiresAtItsExactPositionWithItsActionsInOrder) {
    at(46075);
    EXPECT_EQ(g_cue, 0);
    EXPECT_TRUE(g_log.empty());
    at(46076);
    EXPECT_EQ(g_cue, 1);
    EXPECT_EQ(g_shake, 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"zagFrame.AddVisual(meshZag)", "tilesFrame1.AddVisual(quad5)",
                                               "tilesFrame1.AddVisual(quad6)"}));
    g_log.clear();
    at(46076);  // nothing fires twice
    EXPECT_TRUE(g_log.empty());
}

TEST_F(Direction, AJumpAheadCatchesUpEveryCueInOneCall) {
    at(5000000);
    EXPECT_EQ(g_cue, 9);
    EXPECT_EQ(g_scene, 2);  // cue 7 started scene 2
    EXPECT_EQ(g_sceneReady, 1);
    EXPECT_EQ(g_show3D, 1);
    EXPECT_EQ(g_show2D, 0);
    EXPECT_EQ(g_spin, 1);
    auto has = [&](const std::string& call) { return std::find(g_log.begin(), g_log.end(), call); };
    // Order: cue 4's shell, the hide of the tiles at cue 7, the knot, the zug beat.
    auto shell = has("stShellFrame.AddVisual(meshStShell)");
    auto hideTiles = has("tilesFrame1.SetPosition(scene,0,0,-30000)");
    auto knot = has("knotFrame.AddVisual(meshKnot)");
    auto zug = has("zugFrame.AddVisual(quad4)");
    ASSERT_NE(shell, g_log.end());
    ASSERT_NE(hideTiles, g_log.end());
    ASSERT_NE(knot, g_log.end());
    ASSERT_NE(zug, g_log.end());
    EXPECT_LT(shell, hideTiles);
    EXPECT_LT(hideTiles, knot);
    EXPECT_LT(knot, zug);
    // The two zug beats: towards the camera at cue 8, back at cue 9.
    EXPECT_EQ(std::count(zug, g_log.end(), "quad4.Translate(0,0,-5)"), 1);
    EXPECT_EQ(g_log.back(), "quad4.Translate(0,0,5)");
}

TEST_F(Direction, TheLastCueEndsTheTimelineAndLeavesTheCueAt26) {
    g_cue = 26;
    g_scene = 4;
    g_sceneReady = 1;
    at(20799999);
    EXPECT_EQ(g_timelineDone, 0);
    at(20800000);
    EXPECT_EQ(g_timelineDone, 1);
    EXPECT_EQ(g_cue, 26);
    EXPECT_EQ(g_sceneReady, 0);
    EXPECT_EQ(g_finale, 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"teFrame.AddVisual(quad10)"}));
    g_log.clear();
    g_cue = 0;  // whatever the state, a finished timeline does nothing
    at(0xFFFFFFFFu);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(Direction, AFallingPositionFiresNothingAndTheErrorValuePassesEverything) {
    at(2000000);
    EXPECT_EQ(g_cue, 5);
    g_log.clear();
    at(100);  // the stream restarted
    EXPECT_EQ(g_cue, 5);
    EXPECT_TRUE(g_log.empty());
    at(0xFFFFFFFFu);
    EXPECT_EQ(g_cue, 26);
    EXPECT_EQ(g_timelineDone, 1);
}

TEST_F(Direction, TheFirstInterludeEndsWithAClearPictureAndAFreshScan) {
    at(1922412);
    EXPECT_EQ(g_show3D, 0);
    EXPECT_EQ(g_show2D, 1);
    EXPECT_EQ(g_scanA, 1);
    g_scanLevel = 77, g_scanDir = -1;
    std::fill(std::begin(g_screenPicture), std::end(g_screenPicture), 0x00123456u);
    at(2873392);
    EXPECT_EQ(g_scanA, 0);
    EXPECT_EQ(g_scanLevel, 0);
    EXPECT_EQ(g_scanDir, 1);
    EXPECT_EQ(g_show3D, 1);
    EXPECT_EQ(g_show2D, 0);
    EXPECT_TRUE(std::all_of(std::begin(g_screenPicture), std::end(g_screenPicture), [](uint32_t p) { return p == 0; }));
}

TEST_F(Direction, SceneStartsResetThePathAndRetextureTheStMeshes) {
    g_animTime = 12.5f;
    startScene3();
    EXPECT_EQ(g_scene, 3);
    EXPECT_EQ(g_sceneReady, 1);
    EXPECT_EQ(g_animTime, 0.0f);
    EXPECT_EQ(g_log, (std::vector<std::string>{"camera.SetPosition(scene,0,0,30000)",
                                                 "knotFrame.SetPosition(scene,0,0,-30000)",
                                                 "meshSt.SetTexture(texText4)", "meshStShell.SetTexture(texText4)"}));
}

TEST_F(Direction, TilesMapOntoTheSheetWithTheirSinglePrecisionEdges) {
    startScene4();
    // quad10 shows the whole te picture, 10 units in front of the camera.
    auto first = std::find(g_log.begin(), g_log.end(), "quad10.SetTexture(texTe)");
    ASSERT_NE(first, g_log.end());
    EXPECT_EQ(*(first + 1), "quad10.Translate(0,0,10)");
    EXPECT_EQ(*(first + 2), "quad10.SetTextureCoordinates(0,0,1)");
    g_log.clear();
    prepareTileQuads();
    std::vector<std::string> quad4Calls;
    for (auto& c : g_log)
        if (c.rfind("quad4.SetTextureCoordinates", 0) == 0) quad4Calls.push_back(c);
    // Tile 4: row 1, column 0.
    EXPECT_EQ(quad4Calls, (std::vector<std::string>{"quad4.SetTextureCoordinates(0,0,0.666666)",
                                                    "quad4.SetTextureCoordinates(1,0,0.333333)",
                                                    "quad4.SetTextureCoordinates(2,0.333333,0.333333)",
                                                    "quad4.SetTextureCoordinates(3,0.333333,0.666666)"}));
    EXPECT_EQ(fake::mesh(quad1)->colour, 0xFFFFFFFFu);  // quad1 opaque again
}

TEST_F(Direction, TheCameraPathRestartsOnlyWhenTimeReachesTheKeyBound) {
    g_keyCount = 5;
    g_frameDelta = 4.0f;
    g_animTime = 4.99f;
    updateScene3();
    EXPECT_EQ(g_log, (std::vector<std::string>{"boxAnim.SetTime(4.99)", "boxAnim.SetFrame(camera)",
                                                 "camera.LookAt(boxFrame,scene,0)"}));
    EXPECT_FLOAT_EQ(g_animStep, 0.1f);
    EXPECT_FLOAT_EQ(g_animTime, 5.09f);  // may pass the bound once
    updateScene3();                      // plays 5.09, then starts over
    EXPECT_EQ(g_animTime, 0.0f);
    g_animTime = 5.0f;  // the test is strict: 5 is not below 5
    updateScene4();
    EXPECT_EQ(g_animTime, 0.0f);
    g_keyCount = 0;  // no keys: the path stays at time 0
    updateScene2();
    updateScene2();
    EXPECT_EQ(g_animTime, 0.0f);
}

TEST_F(Direction, RandomRangeGivesOnlyTheUpperValues) {
    std::set<int> wide, narrow;
    for (int i = 0; i < 2000; i++) {
        wide.insert((int)randomRange(1, 5));
        narrow.insert((int)randomRange(1, 3));
    }
    EXPECT_EQ(wide, (std::set<int>{5, 6, 7, 8}));
    EXPECT_EQ(narrow, (std::set<int>{3, 4}));
}

TEST_F(Direction, ATileFadeSleepsFadesAndRecedesByTheFrameTime) {
    g_frameDelta = 2.0f;
    g_fadeAlpha2 = 0.9999f;
    g_fadeSpeed2 = 0.0f;
    int64_t before = vtNow();
    fadeStep2();
    EXPECT_EQ(vtNow() - before, 25 * 10000);  // 50 / 2 ms
    EXPECT_FLOAT_EQ(g_fadeAlpha2, 0.9999f - 0.04f);
    EXPECT_FLOAT_EQ(g_fadeSpeed2, 0.2f);
    EXPECT_EQ(g_log, (std::vector<std::string>{"quad2.SetColor(f4ffffff)", "quad2.Translate(0,0,0)"}));
    g_log.clear();
    g_fadeAlpha2 = 0.04f;  // reaches 0: the colour stays, the tile still moves
    fadeStep2();
    EXPECT_EQ(g_log, (std::vector<std::string>{"quad2.Translate(0,0,0.2)"}));
    g_frameDelta = 0.0f;  // a zero delta brings no pause and no undefined conversion
    before = vtNow();
    fadeStep2();
    EXPECT_EQ(vtNow(), before);
}

TEST(Pause, TruncatesAndGuardsTheQuotient) {
    EXPECT_EQ(pauseMilliseconds(40.0, 1.6667f), 23u);
    EXPECT_EQ(pauseMilliseconds(50.0, 60.0f), 0u);
    EXPECT_EQ(pauseMilliseconds(40.0, 0.0f), 0u);
    EXPECT_EQ(pauseMilliseconds(40.0, -3.0f), 0u);
    EXPECT_EQ(pauseMilliseconds(10.0, 1e-30f), (DWORD)(uint64_t)9000000000000000000ull);
}

TEST(Scan, RevealsWhereTheMapIsBelowTheLevelAndNeverTouchesTheLastRowAndColumn) {
    static uint32_t source[640 * 480];
    for (int i = 0; i < 640 * 480; i++) {
        source[i] = 0x00010203u + (uint32_t)i;
        g_waveMap[i] = (uint8_t)((i * 31) % 256);
    }
    std::fill(std::begin(g_screenPicture), std::end(g_screenPicture), 0u);
    g_scanLevel = 0, g_scanDir = 1;
    scanEffect(source);  // level 1: only map value 0 shows
    EXPECT_EQ(g_scanLevel, 1);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            int i = y * 640 + x;
            uint32_t want = (x < 639 && y < 479 && g_waveMap[i] == 0) ? source[i] : 0u;
            ASSERT_EQ(g_screenPicture[i], want) << x << "," << y;
        }
    g_scanLevel = 255;
    scanEffect(source);  // 256: everything processed shows, direction turns
    EXPECT_EQ(g_scanLevel, 256);
    EXPECT_EQ(g_scanDir, -1);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            int i = y * 640 + x;
            ASSERT_EQ(g_screenPicture[i], (x < 639 && y < 479) ? source[i] : 0u) << x << "," << y;
        }
    scanEffect(source);
    EXPECT_EQ(g_scanLevel, 255);
    g_scanLevel = 0, g_scanDir = -1;
    scanEffect(source);  // -1: all black, direction turns again
    EXPECT_EQ(g_scanLevel, -1);
    EXPECT_EQ(g_scanDir, 1);
    EXPECT_TRUE(std::all_of(std::begin(g_screenPicture), std::end(g_screenPicture), [](uint32_t p) { return p == 0; }));
}
