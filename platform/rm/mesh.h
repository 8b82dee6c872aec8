// Inside the retained-mode layer: what a mesh is drawn with (materials and
// textures, decal keying and the mip chains) and the mesh builder itself.
// Texture::read and Mesh::AddFaces are in mesh.cpp.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/rm/base.h"
#include "platform/rm/raster.h"
#include "platform/rm/rm.h"
#include "platform/rm/xform.h"

namespace rm {

struct Material final : Obj<IDirect3DRMMaterial> {
    float power = 5.0f;
};

// A decal texel is key when each of its channels lies within this many
// levels of the key colour's: JPEG never returns a flat area next to an edge
// exactly (at quality 100 a black pixel comes back up to 3 above 0), and
// those texels would otherwise show as dark specks around the shapes.
constexpr int kKeyTolerance = 6;

inline bool nearKey(uint32_t rgb, uint32_t keyRgb) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs((int)((rgb >> shift) & 255) - (int)((keyRgb >> shift) & 255)) > kKeyTolerance) return false;
    return true;
}

struct Texture final : Obj<IDirect3DRMTexture> {
    D3DRMIMAGE* image = nullptr;
    bool decal = false;
    D3DCOLOR key = 0;
    MipChain plain, keyed;  // keyed: built when decal transparency is on

    // Reads the record's pixels into 0xAARRGGBB words, alpha 0 on texels near
    // the key colour. False (with a line on stderr) if the record cannot be read.
    bool read(std::vector<uint32_t>& out) const;
    void rebuildKeyed() {
        keyed = MipChain();
        if (!decal) return;
        std::vector<uint32_t> px;
        if (read(px)) buildMipChain(keyed, px.data(), image->width, image->height, true);
    }
    const MipChain* chain() const { return decal ? &keyed : &plain; }

    // Accepted and ignored: decals are drawn at the texture's own scale.
    HRESULT SetDecalScale(DWORD) override { return D3DRM_OK; }
    HRESULT SetDecalTransparency(BOOL on) override {
        Guard g(g_lock);
        bool next = on != 0;
        if (next != decal) {
            decal = next;
            rebuildKeyed();
        }
        return D3DRM_OK;
    }
    HRESULT SetDecalTransparentColor(D3DCOLOR colour) override {
        Guard g(g_lock);
        if ((colour & 0xFFFFFF) != (key & 0xFFFFFF)) {
            key = colour;
            rebuildKeyed();
        }
        key = colour;
        return D3DRM_OK;
    }
};

struct Mesh final : Obj<IDirect3DRMMeshBuilder> {
    std::vector<V3> pos;
    std::vector<float> uv;        // u, v per vertex
    std::vector<uint32_t> tris;   // three vertex indices per triangle
    int faces = 0;
    D3DCOLOR colour = 0xFFFFFFFF;
    Material* material = nullptr;
    Texture* texture = nullptr;
    bool perspective = false;
    bool boundsValid = false;
    V3 centre{0, 0, 0};
    float radius = 0;

    ~Mesh() override {
        if (material) material->Release();
        if (texture) texture->Release();
    }
    void bounds() {
        if (boundsValid) return;
        V3 lo{0, 0, 0}, hi{0, 0, 0};
        if (!pos.empty()) lo = hi = pos[0];
        for (const V3& p : pos) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        centre = (lo + hi) * 0.5f;
        radius = len(hi - lo) * 0.5f;
        boundsValid = true;
    }

    HRESULT AddFaces(DWORD vertexCount, const D3DVECTOR* vertices, DWORD normalCount, const D3DVECTOR*,
                     const DWORD* faceData, void**) override;
    HRESULT Scale(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) override {
        Guard g(g_lock);
        for (V3& p : pos) p = {p.x * sx, p.y * sy, p.z * sz};
        boundsValid = false;
        return D3DRM_OK;
    }
    HRESULT Translate(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) override {
        Guard g(g_lock);
        for (V3& p : pos) p = p + V3{tx, ty, tz};
        boundsValid = false;
        return D3DRM_OK;
    }
    HRESULT GetBox(D3DRMBOX* box) override {
        Guard g(g_lock);
        if (!box) return D3DRMERR_BADVALUE;
        if (pos.empty()) return D3DRM_OK;  // nothing to measure: the box is left as it is
        V3 lo = pos[0], hi = pos[0];
        for (const V3& p : pos) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        box->min = {lo.x, lo.y, lo.z};
        box->max = {hi.x, hi.y, hi.z};
        return D3DRM_OK;
    }
    HRESULT SetColor(D3DCOLOR argb) override {
        Guard g(g_lock);
        colour = argb;
        return D3DRM_OK;
    }
    HRESULT SetColorRGB(D3DVALUE r, D3DVALUE gr, D3DVALUE b) override {
        Guard g(g_lock);
        auto byte = [](float f) { return (uint32_t)std::lround(std::clamp(f, 0.0f, 1.0f) * 255.0f); };
        colour = 0xFF000000u | (byte(r) << 16) | (byte(gr) << 8) | byte(b);
        return D3DRM_OK;
    }
    HRESULT SetMaterial(IDirect3DRMMaterial* m) override {
        Guard g(g_lock);
        hold(material, static_cast<Material*>(m));
        return D3DRM_OK;
    }
    HRESULT SetTexture(IDirect3DRMTexture* t) override {
        Guard g(g_lock);
        hold(texture, static_cast<Texture*>(t));
        return D3DRM_OK;
    }
    HRESULT SetPerspective(BOOL on) override {
        Guard g(g_lock);
        perspective = on != 0;
        return D3DRM_OK;
    }
    HRESULT SetTextureCoordinates(DWORD vertex, D3DVALUE u, D3DVALUE v) override {
        Guard g(g_lock);
        if (vertex >= pos.size()) return D3DRMERR_BADVALUE;
        uv[vertex * 2] = u;
        uv[vertex * 2 + 1] = v;
        return D3DRM_OK;
    }
    int GetVertexCount() override {
        Guard g(g_lock);
        return (int)pos.size();
    }
    int GetFaceCount() override {
        Guard g(g_lock);
        return faces;
    }
    HRESULT GetVertex(DWORD index, D3DVECTOR* p) override {
        Guard g(g_lock);
        if (!p || index >= pos.size()) return D3DRMERR_BADVALUE;
        *p = {pos[index].x, pos[index].y, pos[index].z};
        return D3DRM_OK;
    }
    HRESULT GetTextureCoordinates(DWORD index, D3DVALUE* u, D3DVALUE* v) override {
        Guard g(g_lock);
        if (!u || !v || index >= pos.size()) return D3DRMERR_BADVALUE;
        *u = uv[index * 2];
        *v = uv[index * 2 + 1];
        return D3DRM_OK;
    }
    D3DCOLOR GetColor() override {
        Guard g(g_lock);
        return colour;
    }
};

}  // namespace rm
