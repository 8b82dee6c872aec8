// Reading a texture's image record into texels, and a mesh builder's faces
// split into triangles (fans over each face's first vertex).
#include "platform/rm/mesh.h"

#include <cstdio>
#include <cstring>

namespace rm {

bool Texture::read(std::vector<uint32_t>& out) const {
    const D3DRMIMAGE* im = image;
    if (!im || !im->buffer1 || im->width <= 0 || im->height <= 0 || im->width > 8192 || im->height > 8192 ||
        (im->depth != 24 && im->depth != 32) || im->bytes_per_line < im->width * (im->depth / 8)) {
        report("CreateTexture: the image record is not a readable 24- or 32-bit picture");
        return false;
    }
    auto shiftOf = [](uint32_t mask) {
        int s = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            s++;
        }
        return s;
    };
    uint32_t rm = im->red_mask ? im->red_mask : 0xFF, gm = im->green_mask ? im->green_mask : 0xFF00,
             bm = im->blue_mask ? im->blue_mask : 0xFF0000;
    int rs = shiftOf(rm), gs = shiftOf(gm), bs = shiftOf(bm);
    int bpp = im->depth / 8;
    out.resize((size_t)im->width * im->height);
    const uint8_t* base = (const uint8_t*)im->buffer1;
    const uint32_t keyRgb = key & 0xFFFFFF;
    for (int y = 0; y < im->height; y++) {
        const uint8_t* row = base + (size_t)y * im->bytes_per_line;
        for (int x = 0; x < im->width; x++) {
            uint32_t word = 0;
            memcpy(&word, row + (size_t)x * bpp, bpp);
            uint32_t r = (word & rm) >> rs, g = (word & gm) >> gs, b = (word & bm) >> bs;
            uint32_t rgb = ((r & 255) << 16) | ((g & 255) << 8) | (b & 255);
            out[(size_t)y * im->width + x] = rgb | (nearKey(rgb, keyRgb) ? 0u : 0xFF000000u);
        }
    }
    return true;
}

HRESULT Mesh::AddFaces(DWORD vertexCount, const D3DVECTOR* vertices, DWORD normalCount, const D3DVECTOR*,
                       const DWORD* faceData, void**) {
    Guard g(g_lock);
    if ((vertexCount && !vertices) || !faceData || vertexCount > 10000000) {
        report("AddFaces: missing vertices or face data");
        return D3DRMERR_BADVALUE;
    }
    const uint32_t first = (uint32_t)pos.size();
    const int step = normalCount ? 2 : 1;  // with normals, indices come in (vertex, normal) pairs
    std::vector<uint32_t> added;
    int newFaces = 0;
    for (size_t i = 0;;) {
        DWORD count = faceData[i++];
        if (count == 0) break;
        if (count < 3 || count > 64) {
            char text[160];
            snprintf(text, sizeof text, "AddFaces: face %d has %u vertices", newFaces, (unsigned)count);
            report(text);
            return D3DRMERR_BADVALUE;
        }
        uint32_t idx[64];
        for (DWORD k = 0; k < count; k++, i += step) {
            idx[k] = faceData[i];
            if (idx[k] >= vertexCount) {
                char text[160];
                snprintf(text, sizeof text, "AddFaces: face %d uses vertex %u of %u", newFaces, (unsigned)idx[k],
                         (unsigned)vertexCount);
                report(text);
                return D3DRMERR_BADVALUE;
            }
        }
        for (DWORD k = 1; k + 1 < count; k++) {  // a fan over the face's first vertex
            added.push_back(first + idx[0]);
            added.push_back(first + idx[k]);
            added.push_back(first + idx[k + 1]);
        }
        newFaces++;
    }
    for (DWORD k = 0; k < vertexCount; k++) pos.push_back(toV3(vertices[k]));
    uv.resize(pos.size() * 2, 0.0f);
    tris.insert(tris.end(), added.begin(), added.end());
    faces += newFaces;
    boundsValid = false;
    return D3DRM_OK;
}

}  // namespace rm
