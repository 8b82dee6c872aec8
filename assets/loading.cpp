// The loading screen and the loader thread: every asset read in a fixed
// order, each mesh handed to its mesh builders and object builders, then a
// five-second wait before g_assetsLoaded is raised.
#include <vector>

#include "assets/assets.h"
#include "display/display.h"
#include "scene/scene.h"
#include "shell/state.h"

namespace {

// The geometry of all ten quads: one face of four vertices.
const D3DVECTOR kQuadVertices[4] = {{-3.5f, -3.5f, 0.0f}, {-3.5f, 3.5f, 0.0f}, {3.5f, 3.5f, 0.0f}, {3.5f, -3.5f, 0.0f}};
const DWORD kQuadFaces[6] = {4, 0, 1, 2, 3, 0};
// The picture's top row along the quad's upper edge.
const float kLoadingQuadUV[4][2] = {{0.0f, 1.0f}, {0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}};

void addQuadFaces(IDirect3DRMMeshBuilder* quad) { quad->AddFaces(4, kQuadVertices, 0, nullptr, kQuadFaces, nullptr); }

void addMeshFaces(IDirect3DRMMeshBuilder* mesh) {
    mesh->AddFaces(g_meshVertexCount, g_meshVertices, 0, nullptr, reinterpret_cast<const DWORD*>(g_meshFaceData),
                   nullptr);
}

void setMeshTexCoords(IDirect3DRMMeshBuilder* mesh) {
    for (DWORD i = 0; i < g_meshTexCoordCount; i++)
        mesh->SetTextureCoordinates(i, g_meshTexCoords[2 * i], g_meshTexCoords[2 * i + 1]);
}

void makeDecal(IDirect3DRMTexture* texture) {
    texture->SetDecalScale(1);
    texture->SetDecalTransparency(TRUE);
    texture->SetDecalTransparentColor(0);
}

void loadTexture(const char* fileName, D3DRMIMAGE& image, int selector, IDirect3DRMTexture** texture) {
    loadJpegTexture(fileName, image.buffer1, selector);
    g_d3drm->CreateTexture(&image, texture);
}

}  // namespace

void buildLoadingScreen() {
    g_scene = 0;
    addQuadFaces(quad1);
    quad1->Translate(-10.0f, -5.0f, 30.0f);
    addQuadFaces(quad2);
    quad2->Translate(0.0f, 0.0f, 10.0f);
    addQuadFaces(quad3);
    quad3->Translate(0.0f, 0.0f, 10.0f);
    loadTexture("DATA\\loading.jpg", imageLoading, 0, &texLoading);
    loadTexture("DATA\\arrow1.jpg", imageArrow1, 0, &texArrow1);
    loadTexture("DATA\\arrow2.jpg", imageArrow2, 0, &texArrow2);
    makeDecal(texLoading);
    makeDecal(texArrow1);
    makeDecal(texArrow2);
    quad1->SetTexture(texLoading);
    quad2->SetTexture(texArrow1);
    quad3->SetTexture(texArrow2);
    buildQuads();
    for (IDirect3DRMMeshBuilder* quad : {quad1, quad2, quad3})
        for (DWORD v = 0; v < 4; v++) quad->SetTextureCoordinates(v, kLoadingQuadUV[v][0], kLoadingQuadUV[v][1]);
    g_loadingFrame->AddVisual(quad1);
    g_arrow1Frame->AddVisual(quad2);
    g_arrow2Frame->AddVisual(quad3);
    g_sceneReady = 0;
}

void startLoading() {
    buildLoadingScreen();
    g_workerThread = CreateThread(nullptr, 0, loaderThread, nullptr, 0, nullptr);
}

void loadAllAssets() {
    g_assetsLoaded.store(0);
    for (IDirect3DRMMeshBuilder* quad : {quad4, quad5, quad6, quad7, quad8, quad9, quad10}) addQuadFaces(quad);

    loadMesh("DATA\\zag.3d", 0, 1);
    addMeshFaces(meshZag);
    buildZag();
    setMeshTexCoords(meshZag);

    loadMesh("DATA\\zlin.3d", 0, 0);
    addMeshFaces(meshZlin);

    loadMesh("DATA\\s_t.3d", 0, 1);
    addMeshFaces(meshSt);
    addMeshFaces(meshStShell);
    meshStShell->Scale(1.05f, 1.05f, 1.05f);
    buildSt();
    for (DWORD i = 0; i < g_meshTexCoordCount; i++) {
        meshSt->SetTextureCoordinates(i, g_meshTexCoords[2 * i], g_meshTexCoords[2 * i + 1]);
        meshStShell->SetTextureCoordinates(i, g_meshTexCoords[2 * i], g_meshTexCoords[2 * i + 1]);
    }

    loadMesh("DATA\\knot.3d", 1, 1);
    addMeshFaces(meshKnot);
    buildKnot();
    setMeshTexCoords(meshKnot);
    buildKnotAnim();

    loadMesh("DATA\\blin.3d", 1, 1);
    addMeshFaces(meshBlin);
    buildBlin();
    setMeshTexCoords(meshBlin);
    buildBlinAnim();

    loadMesh("DATA\\box.3d", 1, 1);
    addMeshFaces(meshBox);
    buildBox();
    setMeshTexCoords(meshBox);
    buildBoxAnim();

    loadMesh("DATA\\pyr.3d", 0, 0);
    addMeshFaces(meshPyr);
    buildPyr();

    loadMesh("DATA\\flower.3d", 0, 0);
    addMeshFaces(meshFlower);
    meshFlower->Translate(0.0f, 60.0f, 0.0f);
    buildFlower();

    loadTexture("DATA\\text2.jpg", imageText2, 0, &texText2);
    loadTexture("DATA\\text.jpg", imageText, 0, &texText);
    loadTexture("DATA\\back.jpg", imageBack, 0, &texBack);
    loadTexture("DATA\\grass.jpg", imageGrass, 0, &texGrass);
    loadTexture("DATA\\text3.jpg", imageText3, 0, &texText3);
    loadTexture("DATA\\suba.jpg", imageSuba, 0, &texSuba);
    loadTexture("DATA\\te.jpg", imageTe, 0, &texTe);
    loadTexture("DATA\\text1.jpg", imageText1, 0, &texText1);
    loadTexture("DATA\\text4.jpg", imageText4, 0, &texText4);
    loadTexture("DATA\\123.jpg", image123, 4, &tex123);
    loadTexture("DATA\\zug.jpg", imageZug, 4, &texZug);
    makeDecal(texTe);
    makeDecal(tex123);
    makeDecal(texZug);

    meshZag->SetTexture(texText2);
    meshZlin->SetTexture(texText);
    meshSt->SetTexture(texBack);
    meshStShell->SetTexture(texBack);
    meshKnot->SetTexture(texText3);
    meshBox->SetTexture(texSuba);
    meshBlin->SetTexture(texGrass);

    // The two full-screen pictures pass through one buffer, freed on return.
    std::vector<uint8_t> picture(640 * 480 * 3);
    loadJpegTexture("DATA\\scream.jpg", picture.data(), 1);
    convertScreenPicture(picture.data(), g_screamPicture);
    loadJpegTexture("DATA\\girls.jpg", picture.data(), 1);
    convertScreenPicture(picture.data(), g_girlsPicture);

    loadRawPicture("DATA\\wave.raw");
}

DWORD loaderThread(void*) {
    loadAllAssets();
    for (int i = 0; i < 50; i++) Sleep(100);
    g_assetsLoaded.store(1);
    ExitThread(0);
}
