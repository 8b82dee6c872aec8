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
    // The wrap's parameters: origin, z axis, y axis, ou, ov, su, sv.
    static std::vector<float> params(const fake::Wrap* w) { return {w->params, w->params + 13}; }
    static std::vector<std::string> appliedTo(const fake::Wrap* w) {
        std::vector<std::string> names;
        for (auto& [m, vertexCount] : w->applied) names.push_back(m->name);
        return names;
    }
    // The only light frame made since installScene.
    static fake::Frame* lightFrame() {
        EXPECT_EQ(fake::g_rm->frames.size(), 18u);
        return fake::g_rm->frames.back();
    }
};

struct Family {
    const char* name;
    void (*build)();
    IDirect3DRMMeshBuilder** mesh;
    D3DCOLOR colour;
    D3DRMWRAPTYPE wrap;
    float k;
    bool light;
};

const Family kFamily[] = {
    {"zag", buildZag, &meshZag, 0xFFFFFFFF, D3DRMWRAP_FLAT, -1.0f, true},
    {"zlin", buildZlin, &meshZlin, 0xFFFFFFFF, D3DRMWRAP_SPHERE, -40.0f, true},
    {"knot", buildKnot, &meshKnot, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"box", buildBox, &meshBox, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"pyr", buildPyr, &meshPyr, 0x4EFFFFFD, D3DRMWRAP_SPHERE, -40.0f, false},
    {"blin", buildBlin, &meshBlin, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
    {"flower", buildFlower, &meshFlower, 0x7FFFFFFF, D3DRMWRAP_SPHERE, -40.0f, false},
};

}  // namespace

TEST_F(Builders, ZagWrapsFromItsBoxAndLightsTheSceneFromATurnedFrameItLetsGo) {
    addTriangle(meshZag, 2.0f, 6.0f);
    buildZag();
    // Flat wrap: origin 0, z axis (0, 1, 0), y axis (0, 0, 1), ou 0, ov = minY / height, su -1, sv = -1 / height.
    fake::Wrap* wrap = fake::g_rm->wraps.at(0);
    EXPECT_EQ(params(wrap), (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0.5f, -1.0f, -0.25f}));
    EXPECT_EQ(wrap->reference, nullptr);
    EXPECT_EQ(appliedTo(wrap), std::vector<std::string>{"meshZag"});
    EXPECT_EQ(mesh(meshZag)->material, fake::g_rm->materials.at(0));
    EXPECT_EQ(fake::g_rm->materials.at(0)->power, 5.0f);
    // The scene keeps the light frame and the light; the globals name the last ones made.
    fake::Frame* f = lightFrame();
    EXPECT_EQ(f->parent, g_sceneFrame);
    EXPECT_EQ(std::tuple(f->position.x, f->position.y, f->position.z), std::tuple(10.0f, 0.0f, -10.0f));
    EXPECT_EQ(std::tuple(f->dir.x, f->dir.y, f->dir.z, f->up.x, f->up.y, f->up.z),
              std::tuple(0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f));
    EXPECT_EQ(f->lights, std::vector<IDirect3DRMLight*>{g_light});
    EXPECT_EQ(fake::g_rm->lights.at(0)->type, D3DRMLIGHT_AMBIENT);
    EXPECT_EQ(std::tuple(f->refs, fake::g_rm->lights.at(0)->refs), std::tuple(0, 0));  // released once each
    EXPECT_LT(fake::find("frame17.AddLight(light0)"), fake::find("frame17.Release"));
    EXPECT_EQ(g_lightFrame, f);
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

TEST_F(Builders, StMakesBothShellsTranslucentAndWrapsBothWithTheFirstBox) {
    addTriangle(meshSt, 0.0f, 2.0f);
    addTriangle(meshStShell, 100.0f, 500.0f);
    buildSt();
    EXPECT_EQ(mesh(meshSt)->colour, 0x7FFFFFFFu);
    EXPECT_EQ(mesh(meshStShell)->colour, 0x7FFFFFFFu);
    ASSERT_EQ(fake::g_rm->wraps.size(), 1u);
    fake::Wrap* w = fake::g_rm->wraps[0];
    EXPECT_EQ(appliedTo(w), (std::vector<std::string>{"meshSt", "meshStShell"}));
    EXPECT_FLOAT_EQ(w->params[10], 0.0f);  // meshSt's box, not the shell's
    EXPECT_FLOAT_EQ(w->params[12], -0.5f);
    EXPECT_EQ(mesh(meshSt)->material, nullptr);
    EXPECT_TRUE(fake::g_rm->lights.empty());
}

TEST_F(Builders, QuadsShareOneWrapFromTheLastBoxAndGetOnlyAnUnturnedLight) {
    D3DVECTOR v[4] = {{-3.5f, -3.5f, 0}, {-3.5f, 3.5f, 0}, {3.5f, 3.5f, 0}, {3.5f, -3.5f, 0}};
    DWORD faces[] = {4, 0, 1, 2, 3, 0};
    for (auto* q : {quad1, quad2, quad3}) q->AddFaces(4, v, 0, nullptr, faces, nullptr);
    buildQuads();
    ASSERT_EQ(fake::g_rm->wraps.size(), 1u);
    fake::Wrap* w = fake::g_rm->wraps[0];
    std::vector<std::string> quads;
    for (int i = 1; i <= 10; i++) quads.push_back("quad" + std::to_string(i));
    EXPECT_EQ(appliedTo(w), quads);
    // The scratch box last holds quad10's, which has no vertices and no height:
    // the wrap stays finite.
    EXPECT_EQ(w->params[11], 1.0f);
    EXPECT_EQ(w->params[12], 0.0f);
    EXPECT_TRUE(std::isfinite(w->params[10]));
    fake::Frame* f = lightFrame();
    EXPECT_EQ(std::tuple(f->position.x, f->position.y, f->position.z), std::tuple(0.0f, 0.0f, -20.0f));
    EXPECT_EQ(std::tuple(f->dir.x, f->dir.y, f->dir.z), std::tuple(0.0f, 0.0f, 1.0f));  // never turned
    EXPECT_EQ(f->lights, std::vector<IDirect3DRMLight*>{g_light});
    EXPECT_EQ(f->refs, 0);
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
    auto* knot = static_cast<fake::Animation*>(g_knotAnim);
    EXPECT_EQ(knot->frame, g_cameraFrame);
    EXPECT_EQ(knot->options, (DWORD)(D3DRMANIMATION_CLOSED | D3DRMANIMATION_SPLINEPOSITION | D3DRMANIMATION_POSITION));
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
