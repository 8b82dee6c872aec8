// The object builders (material, colour, wrapped texture coordinates and
// light of each mesh) and the animation builders (key tracks into camera
// paths).
#include <cmath>

#include "assets/assets.h"
#include "display/display.h"
#include "scene/scene.h"

IDirect3DRMMaterial* g_material;
IDirect3DRMWrap* g_wrap;
IDirect3DRMLight* g_light;
IDirect3DRMFrame* g_lightFrame;
IDirect3DRMAnimation *g_knotAnim, *g_boxAnim, *g_blinAnim;

namespace {

// Scratch shared by all builders.
D3DRMBOX s_box;
float s_maxY, s_minY, s_height;

enum class Colour { White, Translucent, RGBWhite, Pyramid };

void readBox(IDirect3DRMMeshBuilder* mesh) {
    mesh->GetBox(&s_box);
    s_maxY = s_box.max.y;
    s_minY = s_box.min.y;
    s_height = s_maxY - s_minY;
}

// Wrap origin and scale in v from the scratch box. A box without height (a
// flat or empty mesh) would make them infinite: such a box wraps as if it
// were one unit high.
void wrapV(float k, float* ov, float* sv) {
    float minY = std::isfinite(s_minY) ? s_minY : 0.0f;
    float height = s_height;
    if (!std::isfinite(height) || height == 0.0f) height = 1.0f;
    *ov = minY / height;
    *sv = k / height;
}

void createWrap(D3DRMWRAPTYPE type, float su, float k) {
    float ov, sv;
    wrapV(k, &ov, &sv);
    g_d3drm->CreateWrap(type, nullptr, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, ov, su, sv,
                        &g_wrap);
}

void setColour(IDirect3DRMMeshBuilder* mesh, Colour colour) {
    switch (colour) {
        case Colour::White: mesh->SetColor(0xFFFFFFFFu); break;
        case Colour::Translucent: mesh->SetColor(0x7FFFFFFFu); break;
        case Colour::RGBWhite: mesh->SetColorRGB(1.0f, 1.0f, 1.0f); break;
        case Colour::Pyramid: mesh->SetColor(0x4EFFFFFDu); break;
    }
}

// One white ambient light on a new frame under the scene, which keeps both.
void addLight(float x, float y, float z, bool orient) {
    g_d3drm->CreateLightRGB(D3DRMLIGHT_AMBIENT, 1.0f, 1.0f, 1.0f, &g_light);
    g_d3drm->CreateFrame(g_sceneFrame, &g_lightFrame);
    g_lightFrame->SetPosition(g_sceneFrame, x, y, z);
    if (orient) g_lightFrame->SetOrientation(g_sceneFrame, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    g_lightFrame->AddLight(g_light);
    g_lightFrame->Release();
    g_light->Release();
}

void buildObject(IDirect3DRMMeshBuilder* mesh, bool material, Colour colour, D3DRMWRAPTYPE wrap, float k,
                 bool light) {
    if (material) {
        g_d3drm->CreateMaterial(5.0f, &g_material);
        mesh->SetMaterial(g_material);
    }
    setColour(mesh, colour);
    readBox(mesh);
    createWrap(wrap, -1.0f, k);
    g_wrap->Apply(mesh);
    if (light) addLight(10.0f, 0.0f, -10.0f, true);
}

void buildAnimation(IDirect3DRMAnimation** animation) {
    g_d3drm->CreateAnimation(animation);
    (*animation)->SetFrame(g_cameraFrame);
    (*animation)->SetOptions(D3DRMANIMATION_CLOSED | D3DRMANIMATION_SPLINEPOSITION | D3DRMANIMATION_POSITION);
    // Only keys the file gave: the bound may name more than were stored.
    int32_t count = g_keyCount < g_keyStoredCount ? g_keyCount : g_keyStoredCount;
    for (int32_t i = 0; i < count; i++)
        (*animation)->AddPositionKey((float)g_keyTimes[i], g_keyPositions[i].x, g_keyPositions[i].y,
                                     g_keyPositions[i].z);
}

}  // namespace

void buildZag() { buildObject(meshZag, true, Colour::White, D3DRMWRAP_FLAT, -1.0f, true); }
void buildZlin() { buildObject(meshZlin, true, Colour::White, D3DRMWRAP_SPHERE, -40.0f, true); }
void buildKnot() { buildObject(meshKnot, true, Colour::White, D3DRMWRAP_FLAT, -40.0f, true); }
void buildBox() { buildObject(meshBox, true, Colour::RGBWhite, D3DRMWRAP_FLAT, -40.0f, true); }
void buildPyr() { buildObject(meshPyr, true, Colour::Pyramid, D3DRMWRAP_SPHERE, -40.0f, false); }
void buildBlin() { buildObject(meshBlin, true, Colour::RGBWhite, D3DRMWRAP_FLAT, -40.0f, true); }
void buildFlower() { buildObject(meshFlower, true, Colour::Translucent, D3DRMWRAP_SPHERE, -40.0f, false); }

void buildSt() {
    setColour(meshSt, Colour::Translucent);
    setColour(meshStShell, Colour::Translucent);
    readBox(meshSt);
    createWrap(D3DRMWRAP_FLAT, -1.0f, -1.0f);
    g_wrap->Apply(meshSt);
    g_wrap->Apply(meshStShell);
}

void buildQuads() {
    IDirect3DRMMeshBuilder* quads[10] = {quad1, quad2, quad3, quad4, quad5, quad6, quad7, quad8, quad9, quad10};
    for (IDirect3DRMMeshBuilder* quad : quads) readBox(quad);
    // su 1.0 and sv 0.0: the scale in v does not depend on the box here.
    float ov, sv;
    wrapV(0.0f, &ov, &sv);
    g_d3drm->CreateWrap(D3DRMWRAP_FLAT, nullptr, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, ov,
                        1.0f, 0.0f, &g_wrap);
    for (IDirect3DRMMeshBuilder* quad : quads) g_wrap->Apply(quad);
    addLight(0.0f, 0.0f, -20.0f, false);
}

void buildKnotAnim() { buildAnimation(&g_knotAnim); }
void buildBoxAnim() { buildAnimation(&g_boxAnim); }
void buildBlinAnim() { buildAnimation(&g_blinAnim); }
