// The reference scene of the render benchmarks: about 5,000 textured, lit
// triangles with translucent layers at 640 x 480 on the virtual backend (a
// ground, a turning torus inside a turning translucent shell, and translucent
// decal tiles fixed to the camera). bench_render and the timing program of the
// WebAssembly build (bench/web) draw it.
#pragma once
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/ddraw/ddraw.h"
#include "platform/rm/rm.h"

namespace refscene {

constexpr float kPi = 3.14159265f;

struct Texture {
    std::vector<uint8_t> block;
    D3DRMIMAGE record{};
    Texture(int size, int seed) : block((size_t)size * size * 3) {
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) {
                uint8_t* p = &block[((size_t)y * size + x) * 3];
                bool check = ((x / 32) ^ (y / 32)) & 1;
                p[0] = (uint8_t)(check ? 220 : 40 + (x + seed * 50) % 160);
                p[1] = (uint8_t)(check ? 200 : (y * 3 + seed * 30) % 200);
                p[2] = (uint8_t)(check ? 60 + seed * 40 : 120);
                int dx = x % 128 - 64, dy = y % 128 - 64;
                if (seed == 2 && dx * dx + dy * dy > 40 * 40) p[0] = p[1] = p[2] = 0;  // decal holes
            }
        record.width = record.height = size;
        record.aspectx = record.aspecty = 1;
        record.depth = 24;
        record.rgb = 1;
        record.bytes_per_line = size * 3;
        record.buffer1 = block.data();
        record.red_mask = 0xFF;
        record.green_mask = 0xFF00;
        record.blue_mask = 0xFF0000;
    }
};

// A grid of (cols + 1) x (rows + 1) vertices made into quads by `place`.
template <class F>
IDirect3DRMMeshBuilder* grid(IDirect3DRM* d3drm, int cols, int rows, float uScale, float vScale, bool flip, F place) {
    std::vector<D3DVECTOR> v;
    std::vector<float> uv;
    for (int j = 0; j <= rows; j++)
        for (int i = 0; i <= cols; i++) {
            v.push_back(place((float)i / cols, (float)j / rows));
            uv.push_back(uScale * i / cols);
            uv.push_back(vScale * j / rows);
        }
    std::vector<DWORD> faces;
    for (int j = 0; j < rows; j++)
        for (int i = 0; i < cols; i++) {
            DWORD a = j * (cols + 1) + i, b = a + 1, c = a + cols + 1, d = c + 1;
            if (flip)
                faces.insert(faces.end(), {4, a, b, d, c});
            else
                faces.insert(faces.end(), {4, a, c, d, b});
        }
    faces.push_back(0);
    IDirect3DRMMeshBuilder* m = nullptr;
    d3drm->CreateMeshBuilder(&m);
    m->AddFaces((DWORD)v.size(), v.data(), 0, nullptr, faces.data(), nullptr);
    for (size_t i = 0; i < v.size(); i++) m->SetTextureCoordinates((DWORD)i, uv[i * 2], uv[i * 2 + 1]);
    m->SetPerspective(TRUE);
    return m;
}

struct ReferenceScene {
    IDirectDraw* dd = nullptr;
    IDirectDrawSurface *primary = nullptr, *back = nullptr;
    IDirect3DRM* d3drm = nullptr;
    IDirect3DRM2* rm2 = nullptr;
    IDirect3DRMDevice2* device = nullptr;
    IDirect3DRMFrame *root = nullptr, *camera = nullptr;
    IDirect3DRMViewport* viewport = nullptr;
    std::vector<IDirect3DRMMeshBuilder*> meshes;
    std::vector<IDirect3DRMFrame*> frames;
    Texture t1{256, 0}, t2{256, 1}, t3{512, 2};
    int triangles = 0;

    ReferenceScene() {
        DirectDrawCreate(nullptr, &dd, nullptr);
        dd->SetCooperativeLevel(nullptr, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
        dd->SetDisplayMode(640, 480, 32);
        DDSURFACEDESC d{};
        d.dwSize = 108;
        d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        d.dwBackBufferCount = 1;
        d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
        dd->CreateSurface(&d, &primary, nullptr);
        DDSCAPS caps{DDSCAPS_BACKBUFFER};
        primary->GetAttachedSurface(&caps, &back);
        Direct3DRMCreate(&d3drm);
        d3drm->QueryInterface(IID_IDirect3DRM2, (void**)&rm2);
        rm2->CreateDeviceFromSurface(&IID_IDirect3DHALDevice, dd, back, &device);
        device->SetRenderMode(D3DRMRENDERMODE_BLENDEDTRANSPARENCY | D3DRMRENDERMODE_SORTEDTRANSPARENCY);
        device->SetQuality(D3DRMRENDER_GOURAUD);
        device->SetDither(TRUE);
        device->SetTextureQuality(D3DRMTEXTURE_MIPLINEAR);
        d3drm->CreateFrame(nullptr, &root);
        root->SetSortMode(D3DRMSORT_BACKTOFRONT);
        d3drm->CreateFrame(root, &camera);
        camera->SetZbufferMode(D3DRMZBUFFER_ENABLE);
        camera->SetPosition(root, 0, 12, -45);
        camera->SetOrientation(root, 0, -0.25f, 1, 0, 1, 0);
        d3drm->CreateViewport(device, camera, 0, 0, 640, 480, &viewport);
        viewport->SetBack(5000.0f);

        IDirect3DRMLight* light = nullptr;
        d3drm->CreateLightRGB(D3DRMLIGHT_AMBIENT, 1, 1, 1, &light);
        root->AddLight(light);
        light->Release();
        IDirect3DRMTexture *tex1 = nullptr, *tex2 = nullptr, *tex3 = nullptr;
        d3drm->CreateTexture(&t1.record, &tex1);
        d3drm->CreateTexture(&t2.record, &tex2);
        d3drm->CreateTexture(&t3.record, &tex3);
        tex3->SetDecalTransparency(TRUE);
        tex3->SetDecalTransparentColor(0);

        // Ground: 24 x 24 quads, 1,152 triangles.
        auto* ground = grid(d3drm, 24, 24, 12, 12, true, [](float s, float t) {
            return D3DVECTOR{-120 + 240 * s, -12, -40 + 240 * (1 - t)};
        });
        ground->SetTexture(tex1);
        add(ground, root, 0, 0, 0);
        // Knot-like torus: 48 x 25 quads, 2,400 triangles, opaque, turning.
        auto* torus = grid(d3drm, 48, 25, 8, 3, false, [](float s, float t) {
            float a = s * 2 * kPi, b = t * 2 * kPi;
            float r = 10 + 3.5f * std::cos(b);
            return D3DVECTOR{r * std::cos(a), 3.5f * std::sin(b), r * std::sin(a)};
        });
        torus->SetTexture(tex2);
        add(torus, root, 0, 4, 10)->SetRotation(root, 1, 1, 0, 0.013f);
        // Translucent shell around it: 32 x 20 quads, 1,280 triangles at alpha 0x7F.
        auto* shell = grid(d3drm, 32, 20, 4, 2, false, [](float s, float t) {
            float a = s * 2 * kPi, b = t * kPi;
            return D3DVECTOR{18 * std::sin(b) * std::cos(a), 18 * std::cos(b), 18 * std::sin(b) * std::sin(a)};
        });
        shell->SetTexture(tex1);
        shell->SetColor(0x7FFFFFFF);
        add(shell, root, 0, 4, 10)->SetRotation(root, 0, 1, 0, -0.007f);
        // Camera-attached translucent decal tiles: 5 quads of 2 x 2 triangles.
        for (int i = 0; i < 5; i++) {
            auto* tile = grid(d3drm, 2, 2, 1, 1, true, [](float s, float t) {
                return D3DVECTOR{-3.5f + 7 * s, 3.5f - 7 * t, 0};
            });
            tile->SetTexture(tex3);
            tile->SetColor(0xB0FFFFFF);
            tile->Scale(0.6f, 0.6f, 1);
            add(tile, camera, -12.0f + 6 * i, -6.0f + 3 * (i % 2), 25);
        }
        tex1->Release();
        tex2->Release();
        tex3->Release();
    }
    ~ReferenceScene() {
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) (*it)->Release();
        for (auto it = meshes.rbegin(); it != meshes.rend(); ++it) (*it)->Release();
        for (IDirect3DRMObject* o : std::initializer_list<IDirect3DRMObject*>{viewport, camera, root, device, rm2, d3drm})
            o->Release();
        back->Release(), primary->Release(), dd->Release();
    }
    IDirect3DRMFrame* add(IDirect3DRMMeshBuilder* m, IDirect3DRMFrame* parent, float x, float y, float z) {
        IDirect3DRMFrame* f = nullptr;
        d3drm->CreateFrame(parent, &f);
        f->SetPosition(parent, x, y, z);
        f->AddVisual(m);
        triangles += 2 * m->GetFaceCount();
        meshes.push_back(m);
        frames.push_back(f);
        return f;
    }
    void pass() {
        root->Move(1.6f);
        DDBLTFX fx{100, 0};
        back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        viewport->Clear();
        viewport->Render(root);
        device->Update();
        primary->Flip(nullptr, DDFLIP_WAIT);
    }
    // The scene as it stands, drawn into the back buffer (not moved, not
    // flipped): its 640 x 480 pixels.
    const uint32_t* still() {
        root->Move(0);
        DDBLTFX fx{100, 0};
        back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        viewport->Clear();
        viewport->Render(root);
        return ddSurfacePixels(back, nullptr, nullptr, nullptr);
    }
};

}  // namespace refscene
