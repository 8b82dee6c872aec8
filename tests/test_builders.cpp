// The object builders' surfaces, wraps and lights and the animation builders'
// keys, checked on a recording stand-in of the retained-mode layer.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "assets/assets.h"
#include "recording_rm.h"
#include "scene/scene.h"

using fake::g_rm;
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
    }
    static std::vector<std::string> appliedTo(const fake::Wrap* w) {
        std::vector<std::string> names;
        for (auto& [m, vertexCount] : w->applied) names.push_back(m->name);
        return names;
    }
};

}  // namespace

// Each builder's own colour, wrap kind and v scale (k over the box's height,
// from its lowest y); the lit ones add one ambient light on a frame turned
// towards (0, 1, 1) under the scene, which keeps the frame and the light.
TEST_F(Builders, EachMeshGetsItsColourWrapAndLight) {
    const struct { void (*build)(); IDirect3DRMMeshBuilder** mesh; D3DCOLOR colour; D3DRMWRAPTYPE wrap; float k; bool light; }
        families[] = {
        {buildZag, &meshZag, 0xFFFFFFFF, D3DRMWRAP_FLAT, -1.0f, true},
        {buildZlin, &meshZlin, 0xFFFFFFFF, D3DRMWRAP_SPHERE, -40.0f, true},
        {buildKnot, &meshKnot, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
        {buildBox, &meshBox, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
        {buildPyr, &meshPyr, 0x4EFFFFFD, D3DRMWRAP_SPHERE, -40.0f, false},
        {buildBlin, &meshBlin, 0xFFFFFFFF, D3DRMWRAP_FLAT, -40.0f, true},
        {buildFlower, &meshFlower, 0x7FFFFFFF, D3DRMWRAP_SPHERE, -40.0f, false},
    };
    for (const auto& f : families) {
        fake::installScene();
        fake::Mesh* m = mesh(*f.mesh);
        SCOPED_TRACE(m->name);
        addTriangle(m, -10.0f, 30.0f);  // height 40
        f.build();
        ASSERT_EQ(std::tuple(g_rm->materials.size(), g_rm->wraps.size()), std::tuple(1u, 1u));
        EXPECT_EQ(std::tuple(m->colour, m->material, g_rm->materials[0]->power),
                  std::tuple(f.colour, g_rm->materials[0], 5.0f));
        const fake::Wrap* w = g_rm->wraps[0];
        EXPECT_EQ(w->type, f.wrap);
        // Origin 0, z axis (0, 1, 0), y axis (0, 0, 1), ou 0, ov, su -1, sv.
        EXPECT_EQ(std::vector<float>(w->params, w->params + 13),
                  (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, -10.0f / 40, -1, f.k / 40}));
        EXPECT_EQ(w->applied, (std::vector<std::pair<fake::Mesh*, size_t>>{{m, 3}}));
        // Light frames are the only frames a builder makes.
        ASSERT_EQ(g_rm->frames.size(), f.light ? 18u : 17u);
        if (!f.light) continue;
        const fake::Frame* lf = g_rm->frames.back();
        EXPECT_EQ(lf->parent, g_sceneFrame);
        EXPECT_EQ(std::tuple(lf->position.x, lf->position.y, lf->position.z), std::tuple(10.0f, 0.0f, -10.0f));
        EXPECT_EQ(std::tuple(lf->dir.x, lf->dir.y, lf->dir.z, lf->up.y), std::tuple(0.0f, 1.0f, 1.0f, 1.0f));
        ASSERT_EQ(lf->lights, std::vector<IDirect3DRMLight*>{g_rm->lights.at(0)});
        EXPECT_EQ(g_rm->lights[0]->type, D3DRMLIGHT_AMBIENT);
        // Released once each, the light only after the frame holds it.
        EXPECT_EQ(std::tuple(lf->refs, g_rm->lights[0]->refs), std::tuple(0, 0));
        EXPECT_LT(fake::find("frame17.AddLight(light0)"), fake::find("frame17.Release"));
    }
}

// Shared wraps take the box they read: st's from the inner mesh (first), the
// quads' from quad10 (last), which has no vertices and must stay finite.
TEST_F(Builders, SharedWrapsTakeTheRightBox) {
    addTriangle(meshSt, 0.0f, 2.0f);
    addTriangle(meshStShell, 100.0f, 500.0f);
    buildSt();
    ASSERT_EQ(g_rm->wraps.size(), 1u);
    EXPECT_EQ(appliedTo(g_rm->wraps[0]), (std::vector<std::string>{"meshSt", "meshStShell"}));
    EXPECT_EQ(std::tuple(g_rm->wraps[0]->params[10], g_rm->wraps[0]->params[12]), std::tuple(0.0f, -0.5f));
    EXPECT_EQ(std::tuple(mesh(meshSt)->colour, mesh(meshStShell)->colour), std::tuple(0x7FFFFFFFu, 0x7FFFFFFFu));
    EXPECT_TRUE(g_rm->lights.empty());

    for (auto* q : {quad1, quad2, quad3}) addTriangle(q, -3.5f, 3.5f);
    buildQuads();
    ASSERT_EQ(g_rm->wraps.size(), 2u);
    const fake::Wrap* w = g_rm->wraps[1];
    EXPECT_EQ(appliedTo(w), (std::vector<std::string>{"quad1", "quad2", "quad3", "quad4", "quad5", "quad6", "quad7", "quad8",
                                                      "quad9", "quad10"}));
    EXPECT_TRUE(std::isfinite(w->params[10]));
    EXPECT_EQ(std::tuple(w->params[11], w->params[12]), std::tuple(1.0f, 0.0f));
    // Its light stays unturned, at (0, 0, -20).
    const fake::Frame* lf = g_rm->frames.back();
    EXPECT_EQ(std::tuple(lf->position.z, lf->dir.y, lf->dir.z), std::tuple(-20.0f, 0.0f, 1.0f));
}

TEST_F(Builders, FlatBoxGetsAFiniteWrapAndABuilderBeforeTheFacesWrapsNothing) {
    addTriangle(meshKnot, 4.0f, 4.0f);
    buildKnot();
    const fake::Wrap* w = g_rm->wraps.at(0);
    for (float p : w->params) EXPECT_TRUE(std::isfinite(p));
    EXPECT_EQ(std::tuple(w->params[10], w->params[12]), std::tuple(4.0f, -40.0f));  // as if one unit high

    buildBlin();
    addTriangle(meshBlin, 0.0f, 1.0f);
    EXPECT_EQ(g_rm->wraps.at(1)->applied.at(0).second, 0u);
    EXPECT_NE(mesh(meshBlin)->uv.at(0).first, fake::Wrap::kMark);
}

// Keys 1 to L of a closed spline on the camera: none for L <= 0, and no more
// than the file gave.
TEST_F(Builders, AnimationIsAClosedSplineOnTheCameraWithTheFirstBoundKeys) {
    g_keyCount = 2, g_keyStoredCount = 3;
    for (int i = 0; i < 3; i++) g_keyTimes[i] = 10 * i, g_keyPositions[i] = {(float)i, 2.0f * i, 3.0f * i};
    buildKnotAnim();
    const fake::Animation* knot = fake::animation(g_knotAnim);
    EXPECT_EQ(std::tuple(knot->frame, knot->options), std::tuple(g_cameraFrame, D3DRMANIMATION_CLOSED |
                                                                      D3DRMANIMATION_SPLINEPOSITION | D3DRMANIMATION_POSITION));
    ASSERT_EQ(knot->keys.size(), 2u);
    auto k = knot->keys[1];
    EXPECT_EQ(std::tuple(k.time, k.x, k.y, k.z), std::tuple(10.0f, 1.0f, 2.0f, 3.0f));
    for (int32_t bound : {0, -1, INT32_MIN}) {
        g_keyCount = bound;
        buildBoxAnim();
        EXPECT_TRUE(fake::animation(g_boxAnim)->keys.empty()) << bound;
    }
    g_keyCount = 1000;
    buildBlinAnim();
    EXPECT_EQ(fake::animation(g_blinAnim)->keys.size(), 3u);
}
