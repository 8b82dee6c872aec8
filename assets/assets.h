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

// Largest picture file, and largest decoded picture, the readers accept.
constexpr uint32_t kPictureBufferBytes = 10000000;

// Reads a JPEG file and copies the first N bytes of its RGB pixels to
// destination, N by sizeSelector (0: 256 x 256, 1: 640 x 480, 2: 320 x 320,
// 3: 64 x 64, 4 and 5: 512 x 512, at 3 bytes a pixel; any other: nothing).
// A picture that cannot be read, cannot be decoded or has another size
// leaves N black bytes and one line on stderr naming the file.
void loadJpegTexture(const char* fileName, void* destination, int sizeSelector);
// The same on a file image already in memory.
void loadJpegBytes(const char* fileName, const uint8_t* bytes, uint32_t byteCount, void* destination,
                   int sizeSelector);
// Decodes a JPEG file image to RGB, 3 bytes a pixel, rows top-down and
// unpadded, and tells the picture's size. False, with one line on stderr
// naming fileName and nothing written, when the data is no decodable picture
// or its pixels would need more than capacity bytes. Damaged but decodable
// data gives a line too and true.
bool decodeJpeg(const void* source, void* destination, uint32_t byteCount, uint32_t capacity, int* width,
                int* height, const char* fileName);
// 640 x 480 RGB pixels (3 bytes each) into a screen picture: bytes blue,
// green, red of each pixel word; the fourth byte is left as it is.
void convertScreenPicture(const uint8_t* rgb, uint32_t* destination);
// Reads up to 640 x 480 bytes from the start of the file into g_waveMap; what
// the file does not hold stays as it was.
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
// Key records actually stored by the last key track read (the bound
// g_keyCount may name more keys than a damaged file holds).
extern int32_t g_keyStoredCount;
extern int32_t g_keyTimes[kMaxKeys];
extern D3DVECTOR g_keyPositions[kMaxKeys];
extern float g_meshTexCoords[kMaxTexCoordFloats];
extern uint16_t g_meshTexCoordCount;

void loadMesh(const char* fileName, int keyTrack, int texCoords);
// The same on a file image already in memory.
void readMeshBytes(const char* fileName, const uint8_t* bytes, uint32_t byteCount, int keyTrack, int texCoords);

void startLoading();
DWORD loaderThread(void* parameter);
// The parts of the two above: the loading screen without starting the loader
// thread, and every loading step of the loader thread before its wait.
void buildLoadingScreen();
void loadAllAssets();
