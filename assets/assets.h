// Asset files: JPEG pictures into texture records and screen pictures, the
// wave map, the .3d mesh reader and the loading sequence.
#pragma once
#include <cstdint>

#include "platform/rm/rm.h"

// Texture image records and their pixel blocks (static, never moved).
extern D3DRMIMAGE imageLoading, imageArrow1, imageArrow2, imageText2, imageText, imageBack, imageGrass,
    imageText3, imageSuba, imageTe, imageText1, imageText4, image123, imageZug;
extern IDirect3DRMTexture *texLoading, *texArrow1, *texArrow2, *texText2, *texText, *texBack, *texGrass,
    *texText3, *texSuba, *texTe, *texText1, *texText4, *tex123, *texZug;

extern uint32_t g_screamPicture[640 * 480];
extern uint32_t g_girlsPicture[640 * 480];
extern uint8_t g_waveMap[640 * 480];

void loadJpegTexture(const char* fileName, void* destination, int sizeSelector);
// Decodes a JPEG file image to RGB, top-down; false (with a line on stderr
// naming fileName) when it cannot.
bool decodeJpeg(const void* source, void* destination, uint32_t byteCount);
void loadRawPicture(const char* fileName);

// Mesh tables filled by loadMesh.
constexpr int kMaxMeshVertices = 15000;
constexpr int kMaxFaceWords = 15000;
constexpr int kMaxKeys = 5000;
constexpr int kMaxTexCoordFloats = 15000;
extern D3DVECTOR g_meshVertices[kMaxMeshVertices];
extern uint16_t g_meshVertexCount;
extern int32_t g_meshFaceData[kMaxFaceWords];
extern uint16_t g_meshFaceCount;
extern int32_t g_keyCount;
extern int32_t g_keyTimes[kMaxKeys];
extern D3DVECTOR g_keyPositions[kMaxKeys];
extern float g_meshTexCoords[kMaxTexCoordFloats];
extern uint16_t g_meshTexCoordCount;

void loadMesh(const char* fileName, int keyTrack, int texCoords);

void startLoading();
DWORD loaderThread(void* parameter);
