// The scene graph built once at start: the root and camera frames, the
// viewport on the device, fifteen frames that later carry the show's meshes
// and picture quads, and the nineteen mesh builders, all still empty.
#include "display/display.h"
#include "scene/scene.h"

IDirect3DRMFrame *g_sceneFrame, *g_cameraFrame, *g_loadingFrame, *g_arrow1Frame, *g_arrow2Frame, *g_zagFrame,
    *g_zlinFrame, *g_stFrame, *g_stShellFrame, *g_knotFrame, *g_boxFrame, *g_spareFrame, *g_blinFrame,
    *g_tilesFrame2, *g_zugFrame, *g_tilesFrame1, *g_teFrame;
IDirect3DRMMeshBuilder *quad1, *quad2, *quad3, *meshZag, *meshZlin, *meshSt, *meshStShell, *meshKnot, *meshBox,
    *meshPyr, *meshBlin, *meshFlower, *quad4, *quad5, *quad6, *quad7, *quad8, *quad9, *quad10;
IDirect3DRMViewport* g_viewport;

void buildSceneGraph() {
    g_d3drm->CreateFrame(nullptr, &g_sceneFrame);

    IDirect3DRMMeshBuilder** meshes[] = {&quad1,   &quad2,    &quad3,     &meshZag,  &meshZlin, &meshSt, &meshStShell,
                                         &meshKnot, &meshBox, &meshPyr,   &meshBlin, &meshFlower, &quad4, &quad5,
                                         &quad6,   &quad7,    &quad8,     &quad9,    &quad10};
    for (auto* mesh : meshes) g_d3drm->CreateMeshBuilder(mesh);
    for (auto* mesh : meshes) (*mesh)->SetPerspective(TRUE);

    g_d3drm->CreateFrame(g_sceneFrame, &g_cameraFrame);
    g_cameraFrame->SetZbufferMode(D3DRMZBUFFER_ENABLE);

    g_d3drm->CreateViewport(g_device, g_cameraFrame, 0, 0, 640, 480, &g_viewport);
    g_viewport->SetBack(5000.0f);
    g_viewport->SetProjection(D3DRMPROJECT_PERSPECTIVE);

    g_sceneFrame->SetSortMode(D3DRMSORT_BACKTOFRONT);

    struct {
        IDirect3DRMFrame** frame;
        IDirect3DRMFrame* parent;
    } frames[] = {
        {&g_loadingFrame, g_cameraFrame}, {&g_arrow1Frame, g_cameraFrame}, {&g_arrow2Frame, g_cameraFrame},
        {&g_zagFrame, g_sceneFrame},      {&g_zlinFrame, g_sceneFrame},    {&g_stFrame, g_sceneFrame},
        {&g_stShellFrame, g_sceneFrame},  {&g_knotFrame, g_sceneFrame},    {&g_boxFrame, g_sceneFrame},
        {&g_spareFrame, g_sceneFrame},    {&g_blinFrame, g_sceneFrame},    {&g_tilesFrame2, g_cameraFrame},
        {&g_zugFrame, g_cameraFrame},     {&g_tilesFrame1, g_cameraFrame}, {&g_teFrame, g_cameraFrame},
    };
    for (auto& f : frames) g_d3drm->CreateFrame(f.parent, f.frame);
}
