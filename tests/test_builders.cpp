// The object builders' surfaces and lights and the animation builders' keys,
// checked on a recording stand-in of the retained-mode layer.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "assets/assets.h"
#include "recording_rm.h"
#include "scene/scene.h"

using fake::g_log;
using fake::mesh;

namespace {

class Builders : public testing::Test {
protected:
    void SetUp() override { fake::installScene(); }
    // Gives a mesh one triangle spanning y from y0 to y1.
    static void addTriangle(IDirect3DRMMeshBuilder* m, float y0, float y1) {
        D3DVECTOR v[3] = {{0, y0, 0}, {1, y1, 0}, {2, y0, 1}};
        DWORD faces[] = {3, 0, 1, 2, 0};
        m->AddFaces(3, v, 0, nullptr, faces, nullptr);
        g_log.clear();
    }
    static std::vector<std::string> logFrom(size_t start) { return {g_log.begin() + start, g_log.end()}; }
};

struct Family {
    const char* name;
    void (*build)();
    IDirect3DRMMeshBuilder** mesh;
    const char* colourCall;
    D3DCOLOR colour;
    D3DRMWRAPTYPE wrap;
    float k;
    bool light;
};

const Family kFamily[] = {
    {"zag", buildZag, &meshZag, "SetColor(ffffffff)", 0xFFFFFFFF, D3DRMWRAP_FLAT, -1.0f, true},
    {"zlin", buildZlin, &meshZlin, "SetColor(ffffffff)", 0xFFFFFFFF, D3DRMWRAP_SPHERE, -40.0f, true},
    {"knot", buildKnot, &meshKnot, "SetColor(ffffffff)", 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"box", buildBox, &meshBox, "SetColorRGB(1,1,1)", 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"pyr", buildPyr, &meshPyr, "SetColor(4efffffd)", 0x4EFFFFFD, D3DRMWRAP_SPHERE, -40.0f, false},
    {"blin", buildBlin, &meshBlin, "SetColorRGB(1,1,1)", 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"flower", buildFlower, &meshFlower, "SetColor(7fffffff)", 0x7FFFFFFF, D3DRMWRAP_SPHERE, -40.0f, false},
};

}  // namespace

TEST_F(Builders, ZagMakesMaterialColourWrapAndLightInThisOrder) {
    addTriangle(meshZag, 2.0f, 6.0f);
    buildZag();
    std::vector<std::string> expected = {
        "CreateMaterial(5)=material0",
        "meshZag.SetMaterial(material0)",
        "meshZag.SetColor(ffffffff)",
        "meshZag.GetBox",
        "CreateWrap(0)=wrap0",
        "wrap0.Apply(meshZag)",
        "CreateLightRGB(0,1,1,1)=light0",
        "CreateFrame(scene)=frame17",
        "frame17.SetPosition(scene,10,0,-10)",
        "frame17.SetOrientation(scene,0,1,1,0,1,0)",
        "frame17.AddLight(light0)",
        "frame17.Release",
        "light0.Release",
    };
    EXPECT_EQ(g_log, expected);
    // Flat wrap: origin 0, z axis (0, 1, 0), y axis (0, 0, 1), ou 0, ov = minY / height, su -1, sv = -1 / height.
    fake::Wrap* wrap = fake::g_rm->wraps.at(0);
    std::vector<float> params(wrap->params, wrap->params + 13);
    EXPECT_EQ(params, (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0.5f, -1.0f, -0.25f}));
    EXPECT_EQ(wrap->reference, nullptr);
    EXPECT_EQ(fake::g_rm->materials.at(0)->power, 5.0f);
    // The scene keeps the light frame and the light; the globals name the last ones made.
    fake::Frame* lightFrame = fake::frame(g_lightFrame);
    EXPECT_EQ(lightFrame->parent, g_sceneFrame);
    EXPECT_EQ(lightFrame->lights, std::vector<IDirect3DRMLight*>{g_light});
    EXPECT_EQ(fake::g_rm->lights.at(0)->type, D3DRMLIGHT_AMBIENT);
    EXPECT_EQ(g_material, fake::g_rm->materials.at(0));
    EXPECT_EQ(g_wrap, wrap);
}

TEST_F(Builders, FamilyMembersDifferOnlyInTheirColumns) {
    for (const Family& f : kFamily) {
        SCOPED_TRACE(f.name);
        fake::installScene();
        IDirect3DRMMeshBuilder* m = *f.mesh;
        addTriangle(m, -10.0f, 30.0f);  // height 40
        f.build();
        const std::string name = mesh(m)->name;
        EXPECT_GE(fake::find(name + "." + f.colourCall), 0);
        EXPECT_EQ(mesh(m)->colour, f.colour);
        ASSERT_NE(mesh(m)->material, nullptr);
        EXPECT_EQ(fake::g_rm->materials.at(0)->power, 5.0f);
        ASSERT_EQ(fake::g_rm->wraps.size(), 1u);
        fake::Wrap* w = fake::g_rm->wraps[0];
        EXPECT_EQ(w->type, f.wrap);
        EXPECT_FLOAT_EQ(w->params[10], -10.0f / 40.0f);  // ov
        EXPECT_FLOAT_EQ(w->params[11], -1.0f);           // su
        EXPECT_FLOAT_EQ(w->params[12], f.k / 40.0f);     // sv
        ASSERT_EQ(w->applied.size(), 1u);
        EXPECT_EQ(w->applied[0].first, m);
        EXPECT_EQ(w->applied[0].second, 3u);  // the vertices present when it ran
        EXPECT_EQ(fake::g_rm->lights.size(), f.light ? 1u : 0u);
        // Light frames are the only frames a builder makes.
        EXPECT_EQ(fake::g_rm->frames.size(), f.light ? 18u : 17u);
    }
}

TEST_F(Builders, StColoursBothShellsTranslucentAndWrapsBothWithTheFirstBox) {
    addTriangle(meshSt, 0.0f, 2.0f);
    addTriangle(meshStShell, 100.0f, 500.0f);
    buildSt();
    std::vector<std::string> expected = {
        "meshSt.SetColor(7fffffff)", "meshStShell.SetColor(7fffffff)", "meshSt.GetBox",
        "CreateWrap(0)=wrap0",       "wrap0.Apply(meshSt)",            "wrap0.Apply(meshStShell)",
    };
    EXPECT_EQ(g_log, expected);
    fake::Wrap* w = fake::g_rm->wraps.at(0);
    EXPECT_FLOAT_EQ(w->params[10], 0.0f);
    EXPECT_FLOAT_EQ(w->params[12], -0.5f);
    EXPECT_EQ(mesh(meshSt)->material, nullptr);
}

TEST_F(Builders, QuadsTakeTheLastBoxAndGetOnlyAnUnturnedLight) {
    D3DVECTOR v[4] = {{-3.5f, -3.5f, 0}, {-3.5f, 3.5f, 0}, {3.5f, 3.5f, 0}, {3.5f, -3.5f, 0}};
    DWORD faces[] = {4, 0, 1, 2, 3, 0};
    for (auto* q : {quad1, quad2, quad3}) q->AddFaces(4, v, 0, nullptr, faces, nullptr);
    g_log.clear();
    buildQuads();
    std::vector<std::string> expected, applies;
    for (int i = 1; i <= 10; i++) {
        expected.push_back("quad" + std::to_string(i) + ".GetBox");
        applies.push_back("wrap0.Apply(quad" + std::to_string(i) + ")");
    }
    expected.push_back("CreateWrap(0)=wrap0");
    expected.insert(expected.end(), applies.begin(), applies.end());
    for (const char* line : {"CreateLightRGB(0,1,1,1)=light0", "CreateFrame(scene)=frame17",
                             "frame17.SetPosition(scene,0,0,-20)", "frame17.AddLight(light0)", "frame17.Release",
                             "light0.Release"})
        expected.push_back(line);
    EXPECT_EQ(g_log, expected);
    // The scratch box last holds quad10's, which has no vertices and no height:
    // the wrap stays finite.
    fake::Wrap* w = fake::g_rm->wraps.at(0);
    EXPECT_EQ(w->params[11], 1.0f);
    EXPECT_EQ(w->params[12], 0.0f);
    EXPECT_TRUE(std::isfinite(w->params[10]));
}

TEST_F(Builders, FlatBoxGetsAFiniteWrapAndABuilderBeforeTheFacesWrapsNothing) {
    addTriangle(meshKnot, 4.0f, 4.0f);
    buildKnot();
    fake::Wrap* w = fake::g_rm->wraps.at(0);
    for (float p : w->params) EXPECT_TRUE(std::isfinite(p));
    EXPECT_EQ(w->params[10], 4.0f);  // minY over a height of 1
    EXPECT_EQ(w->params[12], -40.0f);

    buildBlin();
    addTriangle(meshBlin, 0.0f, 1.0f);
    EXPECT_EQ(fake::g_rm->wraps.at(1)->applied.at(0).second, 0u);
    EXPECT_NE(mesh(meshBlin)->uv.at(0).first, fake::Wrap::kMark);
}

// Keys 1 to L of a closed spline on the camera: none for L <= 0, and no more
// than the file gave.
TEST_F(Builders, AnimationIsAClosedSplineOnTheCameraWithTheFirstBoundKeys) {
    g_keyCount = 2;
    g_keyStoredCount = 3;
    for (int i = 0; i < 3; i++) {
        g_keyTimes[i] = 10 * i;
        g_keyPositions[i] = {(float)i, 2.0f * i, 3.0f * i};
    }
    buildKnotAnim();
    EXPECT_EQ(g_log, (std::vector<std::string>{"CreateAnimation=animation0", "animation0.SetFrame(camera)",
                                               "animation0.SetOptions(42)"}));
    auto keys = [](IDirect3DRMAnimation* a) { return static_cast<fake::Animation*>(a)->keys; };
    ASSERT_EQ(keys(g_knotAnim).size(), 2u);
    auto k = keys(g_knotAnim)[1];
    EXPECT_EQ(std::tuple(k.time, k.x, k.y, k.z), std::tuple(10.0f, 1.0f, 2.0f, 3.0f));
    for (int32_t bound : {0, -1, INT32_MIN}) {
        g_keyCount = bound;
        buildBoxAnim();
        EXPECT_TRUE(keys(g_boxAnim).empty()) << bound;
    }
    g_keyCount = 1000;
    buildBlinAnim();
    EXPECT_EQ(keys(g_blinAnim).size(), 3u);
}
