// The loading screen and the loader thread over a generated DATA folder, on
// a recording stand-in of the retained-mode layer and the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "asset_files.h"
#include "assets/assets.h"
#include "recording_rm.h"
#include "platform/virtual/virtual.h"
#include "scene/scene.h"
#include "shell/state.h"
#include "stderr_lines.h"

using namespace assetfiles;
using fake::g_log;
using fake::mesh;

namespace {

class Loading : public testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        fake::installScene();
        std::memset(g_waveMap, 0, sizeof g_waveMap);
    }

    static std::vector<D3DVECTOR> vertices(IDirect3DRMMeshBuilder* m) { return mesh(m)->vertices; }
    static int at(const std::string& line) {
        int i = fake::find(line);
        EXPECT_GE(i, 0) << line;
        return i;
    }
    // Every pixel of a texture block is the colour of picture p.
    static void expectPicture(const D3DRMIMAGE& image, int p) {
        auto* px = static_cast<const uint8_t*>(image.buffer1);
        Rgb c = pictureColour(p);
        size_t n = (size_t)image.width * image.height;
        for (size_t i = 0; i < n; i += 997)
            ASSERT_TRUE(px[3 * i] == c.r && px[3 * i + 1] == c.g && px[3 * i + 2] == c.b) << kPictureNames[p] << i;
    }
    static fake::Texture* texture(IDirect3DRMMeshBuilder* m) { return static_cast<fake::Texture*>(mesh(m)->texture); }
};

}  // namespace

TEST_F(Loading, ScreenPlacesThreeTexturedQuadsAndTheirLight) {
    writeShowAssets(dir);
    g_scene = 3;
    g_sceneReady = 1;
    buildLoadingScreen();
    EXPECT_EQ(g_scene, 0);
    EXPECT_EQ(g_sceneReady, 0);

    // quad1 moved by (-10, -5, 30), quad2 and quad3 by (0, 0, 10).
    ASSERT_EQ(vertices(quad1).size(), 4u);
    D3DRMBOX box;
    quad1->GetBox(&box);
    EXPECT_EQ(std::tuple(box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z),
              std::tuple(-13.5f, -8.5f, 30.0f, -6.5f, -1.5f, 30.0f));
    for (auto* q : {quad2, quad3}) {
        ASSERT_EQ(vertices(q).size(), 4u);
        EXPECT_EQ(std::tuple(vertices(q)[1].x, vertices(q)[1].y, vertices(q)[1].z), std::tuple(-3.5f, 3.5f, 10.0f));
        EXPECT_EQ(mesh(q)->faces, (std::vector<std::vector<DWORD>>{{0, 1, 2, 3}}));
    }

    // Textures from their records, black texels transparent, on their quads.
    IDirect3DRMMeshBuilder* quads[3] = {quad1, quad2, quad3};
    D3DRMIMAGE* images[3] = {&imageLoading, &imageArrow1, &imageArrow2};
    for (int i = 0; i < 3; i++) {
        fake::Texture* t = texture(quads[i]);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(std::tuple(t->image, t->decalScale, t->transparency, t->transparentColour),
                  std::tuple(images[i], 1u, TRUE, 0u));
        expectPicture(*images[i], i);
        // Top row of the picture along the upper edge, replacing the wrap's.
        const float uv[4][2] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
        for (DWORD v = 0; v < 4; v++) EXPECT_EQ(mesh(quads[i])->uv[v], std::pair(uv[v][0], uv[v][1])) << v;
    }
    EXPECT_EQ(fake::frame(g_loadingFrame)->visuals, std::vector<IDirect3DRMMeshBuilder*>{quad1});
    EXPECT_EQ(fake::frame(g_arrow1Frame)->visuals, std::vector<IDirect3DRMMeshBuilder*>{quad2});
    EXPECT_EQ(fake::frame(g_arrow2Frame)->visuals, std::vector<IDirect3DRMMeshBuilder*>{quad3});
    // Order: faces, textures, decals, the quads' wrap, then the visuals.
    EXPECT_LT(at("quad3.Translate(0,0,10)"), at("CreateTexture=texture0"));
    EXPECT_LT(at("texture2.SetDecalTransparentColor(0)"), at("quad1.SetTexture(texture0)"));
    EXPECT_LT(at("quad3.SetTexture(texture2)"), at("quad1.GetBox"));
    EXPECT_LT(at("wrap0.Apply(quad10)"), at("loadingFrame.AddVisual(quad1)"));
    EXPECT_EQ(fake::g_rm->lights.size(), 1u);
}

namespace {

// The loader over complete data, after the loading screen; the log holds the
// loader's calls only.
class Loader : public Loading {
protected:
    void SetUp() override {
        Loading::SetUp();
        writeShowAssets(dir);
        buildLoadingScreen();
        g_log.clear();
        auto lines = stderrLines([] { loadAllAssets(); });
        EXPECT_TRUE(lines.empty()) << lines.at(0);
    }
    static std::vector<std::pair<float, float>> uv(IDirect3DRMMeshBuilder* m) { return mesh(m)->uv; }
    static std::vector<fake::Animation::Key> keys(IDirect3DRMAnimation* a) {
        return static_cast<fake::Animation*>(a)->keys;
    }
};

}  // namespace

TEST_F(Loader, GivesTheSpareQuadsTheQuadGeometryBeforeAnyMeshAndNothingElse) {
    for (auto* q : {quad4, quad5, quad6, quad7, quad8, quad9, quad10}) {
        EXPECT_EQ(vertices(q).size(), 4u);
        EXPECT_EQ(mesh(q)->texture, nullptr);
        EXPECT_LT(at(mesh(q)->name + ".AddFaces(4)"), at("meshZag.AddFaces(16)"));
    }
}

TEST_F(Loader, MakesTheStShellTheStMeshScaledAboutTheOriginWithItsCoordinates) {
    auto st = vertices(meshSt), shell = vertices(meshStShell);
    ASSERT_EQ(st.size(), 16u);
    ASSERT_EQ(shell.size(), st.size());
    for (size_t i = 0; i < st.size(); i++) {
        EXPECT_TRUE(std::abs(shell[i].x - st[i].x * 1.05f) < 1e-4f && std::abs(shell[i].y - st[i].y * 1.05f) < 1e-4f &&
                    std::abs(shell[i].z - st[i].z * 1.05f) < 1e-4f) << i;
    }
    EXPECT_EQ(uv(meshSt), uv(meshStShell));
    EXPECT_EQ(st[5].x, 1.0f + 2);  // file 2, column 1
    EXPECT_EQ(mesh(meshSt)->colour, 0x7FFFFFFFu);
    EXPECT_EQ(mesh(meshStShell)->colour, 0x7FFFFFFFu);
}

TEST_F(Loader, MovesTheFlowerUpBeforeItsBuilderTakesTheBox) {
    Bytes flower = meshAssetFile(7, 16, false, 0, false);
    readMeshBytes("flower", flower.data.data(), (uint32_t)flower.data.size(), 0, 0);
    auto fl = vertices(meshFlower);
    ASSERT_EQ(fl.size(), g_meshVertexCount);
    for (size_t i = 0; i < fl.size(); i++) {
        const D3DVECTOR& v = g_meshVertices[i];
        EXPECT_EQ(std::tuple(fl[i].x, fl[i].y, fl[i].z), std::tuple(v.x, v.y + 60.0f, v.z)) << i;
    }
    EXPECT_LT(at("meshFlower.Translate(0,60,0)"), at("meshFlower.GetBox"));
}

TEST_F(Loader, LetsTheFilesCoordinatesReplaceTheWrapsWhereTheyAreRead) {
    for (auto* m : {meshZag, meshSt, meshStShell, meshKnot, meshBlin, meshBox})
        for (auto [u, v] : uv(m)) ASSERT_NE(u, fake::Wrap::kMark) << mesh(m)->name;
    EXPECT_EQ(uv(meshKnot)[5], std::make_pair(0.25f, 0.25f));  // vertex 5 of a 4 x 4 grid
    for (auto* m : {meshPyr, meshFlower})
        for (auto [u, v] : uv(m)) ASSERT_EQ(u, fake::Wrap::kMark) << mesh(m)->name;
    // zlin is wrapped when scene 1 starts, not by the loader.
    ASSERT_EQ(vertices(meshZlin).size(), 16u);
    EXPECT_EQ(uv(meshZlin)[0].first, 0.0f);
}

TEST_F(Loader, ReadsEachCameraPathFromItsOwnFileAfterItsMesh) {
    EXPECT_EQ(g_keyCount, 3);  // the bound left is box.3d's
    ASSERT_EQ(keys(g_knotAnim).size(), 7u);
    ASSERT_EQ(keys(g_blinAnim).size(), 5u);
    ASSERT_EQ(keys(g_boxAnim).size(), 3u);
    EXPECT_EQ(std::tuple(keys(g_knotAnim)[6].x, keys(g_blinAnim)[4].z, keys(g_boxAnim)[2].time),
              std::tuple(306.0f, 412.0f, 2.0f));
    EXPECT_LT(at("meshKnot.GetBox"), at("CreateAnimation=animation0"));
}

TEST_F(Loader, PutsEachTextureWithItsPictureOnItsMeshesAndKeysOutBlackOnlyOnDecals) {
    const std::pair<IDirect3DRMMeshBuilder*, D3DRMIMAGE*> textured[] = {
        {meshZag, &imageText2}, {meshZlin, &imageText},    {meshSt, &imageBack}, {meshStShell, &imageBack},
        {meshKnot, &imageText3}, {meshBox, &imageSuba},    {meshBlin, &imageGrass}};
    for (auto [m, image] : textured) {
        ASSERT_NE(texture(m), nullptr) << mesh(m)->name;
        EXPECT_EQ(texture(m)->image, image) << mesh(m)->name;
    }
    EXPECT_EQ(mesh(meshPyr)->texture, nullptr);
    EXPECT_EQ(mesh(meshFlower)->texture, nullptr);
    const D3DRMIMAGE* records[11] = {&imageText2, &imageText,  &imageBack,  &imageGrass, &imageText3, &imageSuba,
                                     &imageTe,    &imageText1, &imageText4, &image123,   &imageZug};
    IDirect3DRMTexture* textures[11] = {texText2, texText,  texBack,  texGrass, texText3, texSuba,
                                        texTe,    texText1, texText4, tex123,   texZug};
    for (int i = 0; i < 11; i++) {
        expectPicture(*records[i], 3 + i);
        auto* t = static_cast<fake::Texture*>(textures[i]);
        EXPECT_EQ(t->image, records[i]);
        bool decal = i >= 6 && i != 7 && i != 8;  // te, 123, zug
        EXPECT_EQ(t->transparency, decal ? TRUE : FALSE) << i;
    }
}

TEST_F(Loader, FillsTheScreenPicturesAsRgbWordsAndTheWaveMap) {
    for (auto [picture, p] : {std::make_pair(g_screamPicture, 14), std::make_pair(g_girlsPicture, 15)}) {
        Rgb c = pictureColour(p);
        uint32_t expected = (uint32_t)c.r << 16 | (uint32_t)c.g << 8 | c.b;  // 0x00RRGGBB
        EXPECT_EQ(std::count(picture, picture + 640 * 480, expected), 640 * 480) << p;
    }
    EXPECT_EQ(g_waveMap[0], 0);
    EXPECT_EQ(g_waveMap[300000], 300000 % 251);
}

TEST_F(Loader, LeavesEachLightFrameToTheSceneHavingReleasedItAndItsLight) {
    // Five light frames so far (quads, zag, knot, blin, box), the sixth from zlin.
    buildZlin();
    int lit = 0;
    for (fake::Frame* f : fake::g_rm->frames) {
        if (f->lights.empty()) continue;
        lit++;
        EXPECT_EQ(f->parent, g_sceneFrame);
        EXPECT_EQ(f->refs, 0);
        EXPECT_EQ(static_cast<fake::Light*>(f->lights[0])->refs, 0);
    }
    EXPECT_EQ(lit, 6);
}

TEST_F(Loading, MissingFilesEachGiveOneLineAndLoadingGoesOn) {
    writeShowAssets(dir);
    buildLoadingScreen();
    std::filesystem::remove_all(dir.data);
    std::filesystem::create_directory(dir.data);
    std::memset(imageZug.buffer1, 0x55, 786432);
    auto lines = stderrLines([] { loadAllAssets(); });
    std::vector<std::string> files;
    for (const char* m : kMeshNames) files.push_back(std::string("DATA/") + m + ":");
    for (int p = 3; p < 16; p++) files.push_back(std::string("DATA/") + kPictureNames[p] + ":");
    files.push_back("DATA/wave.raw:");
    ASSERT_EQ(lines.size(), files.size());
    for (size_t i = 0; i < files.size(); i++) EXPECT_EQ(lines[i].rfind(files[i], 0), 0u) << lines[i];
    for (auto* m : {meshZag, meshZlin, meshSt, meshStShell, meshKnot, meshBox, meshPyr, meshBlin, meshFlower})
        EXPECT_EQ(vertices(m).size(), 0u);
    EXPECT_EQ(g_keyCount, 0);
    EXPECT_TRUE(static_cast<fake::Animation*>(g_boxAnim)->keys.empty());
    auto* zug = static_cast<const uint8_t*>(imageZug.buffer1);
    EXPECT_EQ(std::count(zug, zug + 786432, 0), 786432);
    EXPECT_EQ(std::count(g_screamPicture, g_screamPicture + 640 * 480, 0u), 640 * 480);
}

TEST_F(Loading, AssetsLoadedRisesOnceFiveSecondsAfterTheLastAsset) {
    writeShowAssets(dir);
    g_assetsLoaded.store(1);
    g_workerThread = nullptr;
    startLoading();
    EXPECT_NE(g_workerThread, nullptr);
    EXPECT_EQ(g_scene, 0);
    // The loader has not run yet (it runs when this thread waits) ...
    Sleep(1);
    // ... and then loads everything at once on the virtual clock.
    EXPECT_EQ(g_assetsLoaded.load(), 0);
    EXPECT_EQ(g_waveMap[1], 1);
    EXPECT_EQ(g_keyCount, 3);
    // 0 until five seconds have passed, then 1 and never 0 again.
    int firstSet = 0;
    for (int ms = 1; ms < 5200; ms += 10, Sleep(10)) {
        if (g_assetsLoaded.load() == 1 && !firstSet) firstSet = ms;
        ASSERT_EQ(g_assetsLoaded.load(), firstSet ? 1 : 0) << ms;
    }
    EXPECT_GE(firstSet, 5000);
}
