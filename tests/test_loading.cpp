// The loading screen and the loader thread over a generated DATA folder, on
// a recording stand-in of the retained-mode layer and the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "asset_files.h"
#include "assets/assets.h"
#include "platform/virtual/virtual.h"
#include "recording_rm.h"
#include "scene/scene.h"
#include "shell/state.h"
#include "stderr_lines.h"

using namespace assetfiles;
using fake::mesh;

namespace {

class Loading : public testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        fake::installScene();
        std::memset(g_waveMap, 0, sizeof g_waveMap);
        writeShowAssets(dir);
    }
    static const std::vector<D3DVECTOR>& vertices(IDirect3DRMMeshBuilder* m) { return mesh(m)->vertices; }
    static fake::Texture* texture(IDirect3DRMMeshBuilder* m) { return static_cast<fake::Texture*>(mesh(m)->texture); }
    // Within 3 of each channel of picture p's colour, as 0x00RRGGBB.
    static bool near(uint32_t rgb, int p) {
        Rgb c = pictureColour(p);
        return std::abs((int)(rgb >> 16 & 255) - c.r) <= 3 && std::abs((int)(rgb >> 8 & 255) - c.g) <= 3 &&
               std::abs((int)(rgb & 255) - c.b) <= 3 && rgb >> 24 == 0;
    }
    // Every pixel of a texture block is the colour of picture p.
    static void expectPicture(const D3DRMIMAGE& image, int p) {
        auto* px = static_cast<const uint8_t*>(image.buffer1);
        for (size_t i = 0; i < (size_t)image.width * image.height; i += 997)
            ASSERT_TRUE(near(px[3 * i] << 16 | px[3 * i + 1] << 8 | px[3 * i + 2], p)) << kPictureNames[p] << i;
    }
};

// The loader over complete data, after the loading screen.
class Loader : public Loading {
protected:
    void SetUp() override {
        Loading::SetUp();
        buildLoadingScreen();
        auto lines = stderrLines([] { loadAllAssets(); });
        EXPECT_TRUE(lines.empty()) << lines.at(0);
    }
};

}  // namespace

// Three quads in front of the camera, each with its picture as a decal (black
// keyed out), the picture's top row along the upper edge, on its own frame.
TEST_F(Loading, ScreenPlacesThreeDecalQuadsOnTheirFrames) {
    g_scene = 3, g_sceneReady = 1;
    buildLoadingScreen();
    EXPECT_EQ(std::tuple(g_scene, g_sceneReady), std::tuple(0, 0));
    const struct { IDirect3DRMMeshBuilder* quad; IDirect3DRMFrame* frame; D3DRMIMAGE* image; float left, top, z; }
        quads[] = {{quad1, g_loadingFrame, &imageLoading, -13.5f, -1.5f, 30},
                   {quad2, g_arrow1Frame, &imageArrow1, -3.5f, 3.5f, 10},
                   {quad3, g_arrow2Frame, &imageArrow2, -3.5f, 3.5f, 10}};
    for (int i = 0; i < 3; i++) {
        const auto& q = quads[i];
        SCOPED_TRACE(mesh(q.quad)->name);
        ASSERT_EQ(vertices(q.quad).size(), 4u);
        const D3DVECTOR& v = vertices(q.quad)[1];
        EXPECT_EQ(std::tuple(v.x, v.y, v.z), std::tuple(q.left, q.top, q.z));
        const fake::Texture* t = texture(q.quad);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(std::tuple(t->image, t->decalScale, t->transparency, t->transparentColour),
                  std::tuple(q.image, 1u, TRUE, 0u));
        expectPicture(*q.image, i);
        EXPECT_EQ(mesh(q.quad)->uv, (std::vector<std::pair<float, float>>{{0, 1}, {0, 0}, {1, 0}, {1, 1}}));
        EXPECT_EQ(fake::frame(q.frame)->visuals, std::vector<IDirect3DRMMeshBuilder*>{q.quad});
    }
}

// Each mesh gets its own file (file f's vertices are offset by f along x);
// the st shell is the st mesh scaled about the origin; the flower is moved
// up before its builder takes its box; coordinates read from a file replace
// the wrap's, and zlin is wrapped only when scene 1 starts.
TEST_F(Loader, GivesEachMeshItsFilesGeometryAndCoordinates) {
    for (auto* q : {quad4, quad5, quad6, quad7, quad8, quad9, quad10})
        EXPECT_EQ(std::tuple(vertices(q).size(), mesh(q)->texture), std::tuple(4u, nullptr)) << mesh(q)->name;
    const struct { IDirect3DRMMeshBuilder* mesh; int file; bool fileCoordinates, wrapped; } meshes[] = {
        {meshZag, 0, true, true},     {meshZlin, 1, false, false}, {meshSt, 2, true, true},
        {meshStShell, 2, true, true}, {meshKnot, 3, true, true},   {meshBlin, 4, true, true},
        {meshBox, 5, true, true},     {meshPyr, 6, false, true},   {meshFlower, 7, false, true}};
    for (const auto& m : meshes) {
        SCOPED_TRACE(mesh(m.mesh)->name);
        ASSERT_EQ(vertices(m.mesh).size(), 16u);
        const float scale = m.mesh == meshStShell ? 1.05f : 1.0f, up = m.mesh == meshFlower ? 60.0f : 0.0f;
        EXPECT_NEAR(vertices(m.mesh)[5].x, (1.0f + m.file) * scale, 1e-4f);  // column 1, row 1
        EXPECT_NEAR(vertices(m.mesh)[5].y, 1.0f * scale + up, 1e-4f);
        EXPECT_EQ(mesh(m.mesh)->uv[5].first, m.fileCoordinates ? 0.25f : m.wrapped ? fake::Wrap::kMark : 0.0f);
    }
    EXPECT_LT(fake::find("meshFlower.Translate(0,60,0)"), fake::find("meshFlower.GetBox"));
    EXPECT_EQ(std::tuple(mesh(meshSt)->colour, mesh(meshStShell)->colour), std::tuple(0x7FFFFFFFu, 0x7FFFFFFFu));
}

TEST_F(Loader, ReadsEachCameraPathFromItsOwnFile) {
    EXPECT_EQ(g_keyCount, 3);  // the bound left is box.3d's
    const auto &knot = fake::animation(g_knotAnim)->keys, &blin = fake::animation(g_blinAnim)->keys,
               &box = fake::animation(g_boxAnim)->keys;
    ASSERT_EQ(std::tuple(knot.size(), blin.size(), box.size()), std::tuple(7u, 5u, 3u));
    EXPECT_EQ(std::tuple(knot[6].x, blin[4].z, box[2].time), std::tuple(306.0f, 412.0f, 2.0f));
}

// Textures hold their pictures and sit on their meshes; only te, 123 and zug
// key out black; the screen pictures are 0x00RRGGBB words.
TEST_F(Loader, PutsEachTextureWithItsPictureOnItsMeshes) {
    const std::pair<IDirect3DRMMeshBuilder*, D3DRMIMAGE*> textured[] = {
        {meshZag, &imageText2}, {meshZlin, &imageText}, {meshSt, &imageBack}, {meshStShell, &imageBack},
        {meshKnot, &imageText3}, {meshBox, &imageSuba}, {meshBlin, &imageGrass}};
    for (auto [m, image] : textured) {
        ASSERT_NE(texture(m), nullptr) << mesh(m)->name;
        EXPECT_EQ(texture(m)->image, image) << mesh(m)->name;
    }
    EXPECT_EQ(std::tuple(texture(meshPyr), texture(meshFlower)), std::tuple(nullptr, nullptr));
    const std::pair<IDirect3DRMTexture*, D3DRMIMAGE*> textures[11] = {
        {texText2, &imageText2}, {texText, &imageText},   {texBack, &imageBack},   {texGrass, &imageGrass},
        {texText3, &imageText3}, {texSuba, &imageSuba},   {texTe, &imageTe},       {texText1, &imageText1},
        {texText4, &imageText4}, {tex123, &image123},     {texZug, &imageZug}};
    for (int i = 0; i < 11; i++) {
        auto* t = static_cast<fake::Texture*>(textures[i].first);
        EXPECT_EQ(std::tuple(t->image, t->transparency), std::tuple(textures[i].second, i == 6 || i >= 9)) << i;
        expectPicture(*textures[i].second, 3 + i);
    }
    for (auto [picture, p] : {std::pair(g_screamPicture, 14), std::pair(g_girlsPicture, 15)})
        EXPECT_EQ(std::count_if(picture, picture + 640 * 480, [p = p](uint32_t w) { return near(w, p); }), 640 * 480) << p;
}

// (What a reader leaves for a missing file is the readers' own tests'.)
TEST_F(Loading, MissingFilesEachGiveOneLineAndLoadingGoesOn) {
    buildLoadingScreen();
    std::filesystem::remove_all(dir.data);
    std::filesystem::create_directory(dir.data);
    auto lines = stderrLines([] { loadAllAssets(); });
    std::vector<std::string> files;
    for (const char* m : kMeshNames) files.push_back(std::string("DATA/") + m + ":");
    for (int p = 3; p < 16; p++) files.push_back(std::string("DATA/") + kPictureNames[p] + ":");
    files.push_back("DATA/wave.raw:");
    ASSERT_EQ(lines.size(), files.size());
    for (size_t i = 0; i < files.size(); i++) EXPECT_EQ(lines[i].rfind(files[i], 0), 0u) << lines[i];
}

// The loader runs on its own thread when this one waits (all at once on the
// virtual clock); g_assetsLoaded is 0 until five seconds have passed, then 1
// and never 0 again.
TEST_F(Loading, AssetsLoadedRisesOnceFiveSecondsAfterTheLastAsset) {
    g_assetsLoaded.store(1);
    g_workerThread = nullptr;
    startLoading();
    EXPECT_EQ(std::tuple(g_workerThread != nullptr, g_scene), std::tuple(true, 0));
    Sleep(1);
    EXPECT_EQ(std::tuple(g_assetsLoaded.load(), g_waveMap[1], g_keyCount), std::tuple(0, 1, 3));
    int firstSet = 0;
    for (int ms = 1; ms < 5200; ms += 10, Sleep(10)) {
        if (g_assetsLoaded.load() == 1 && !firstSet) firstSet = ms;
        ASSERT_EQ(g_assetsLoaded.load(), firstSet ? 1 : 0) << ms;
    }
    EXPECT_GE(firstSet, 5000);
}
